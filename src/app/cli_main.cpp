// paramporter-cli [--port PORT] [--history FILE] [--history-server URI] COMMAND [ARGS]: the
// window's uploads, downloads, mode and part-number requests from a shell, for scripts and
// backups.
#include "app/cli.h"
#include "app/cli_commands.h"
#include "history/store.h"
#include "qt/clock.h"
#include "qt/plant_settings.h"
#include "version.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QStandardPaths>

#include <cstdlib>
#include <ctime>
#include <iostream>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    const pp::cli::ParseResult parsed = pp::cli::parseArguments(args);
    if (!parsed.options) {
        std::cerr << "paramporter-cli: " << parsed.error << "\n"
                  << "Try 'paramporter-cli --help'.\n";
        return pp::cli::ExitUsage;
    }

    // Rendering a PDF needs fonts, hence a GUI application; it draws on no screen, so without
    // a chosen platform it runs offscreen. Everything else stays free of a display.
    std::unique_ptr<QCoreApplication> app;
    if (pp::cli::wantsPdf(*parsed.options)) {
        const char* platform = std::getenv("QT_QPA_PLATFORM");
        if (platform == nullptr || *platform == '\0')
            ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        // Without a desktop session the platform complains about a runtime folder it never
        // uses here; a script's standard error should not see that.
        const QtMessageHandler previous = qInstallMessageHandler(
            [](QtMsgType, const QMessageLogContext&, const QString& message) {
                if (!message.startsWith(QLatin1String("QStandardPaths: XDG_RUNTIME_DIR")))
                    std::cerr << message.toStdString() << '\n';
            });
        app = std::make_unique<QGuiApplication>(argc, argv);
        qInstallMessageHandler(previous);
    } else {
        app = std::make_unique<QCoreApplication>(argc, argv);
    }
    // The same name as the window, so both find the same configuration folder.
    QCoreApplication::setApplicationName(QStringLiteral("ParamPorter"));
    QCoreApplication::setApplicationVersion(QStringLiteral(PP_VERSION));

    pp::cli::Context context{std::cout, std::cerr, false, {}, {}, &pp::realFileSystem(), {}, {}};
    context.progress = ::isatty(STDERR_FILENO) == 1;
    context.settings.application = QCoreApplication::applicationDirPath().toStdString();
    context.settings.config =
        QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation).toStdString();
    context.historyPath = pp::history::defaultHistoryPath();
    context.historyServer = pp::qt::historyServerUri().toStdString();
    context.today = pp::qt::now(); // the report prints the time too
    return pp::cli::run(*parsed.options, context);
}
