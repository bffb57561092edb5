// paramporter-cli [--port PORT] [--history FILE] [--history-server URI] COMMAND [ARGS]: the
// window's uploads, downloads, mode and part-number requests from a shell, for scripts and
// backups.
#include "app/cli.h"
#include "app/cli_commands.h"
#include "history/store.h"
#include "qt/clock.h"
#include "qt/program_settings.h"
#include "qt/server_location.h"
#include "version.h"

#include <QCoreApplication>
#include <QGuiApplication>

#include <ctime>
#include <iostream>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

#ifdef _WIN32
#include "files/native.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <shellapi.h>
#endif

namespace {

// The arguments as UTF-8, as every path is kept inside. Windows hands main() its arguments in
// the system's code page, which cannot hold every file name: they are taken in wide characters.
std::vector<std::string> arguments(int argc, char** argv) {
#ifdef _WIN32
    (void)argv;
    int n = 0;
    std::vector<std::string> args;
    if (wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &n)) {
        for (int i = 1; i < n; ++i)
            args.push_back(pp::utf8FromWide(wide[i]));
        LocalFree(wide);
        return args;
    }
#endif
    return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
}

} // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
    // Reports and parameter files carry their own CR LF; in text mode Windows would make each
    // one CR CR LF. Both outputs get what the program writes, byte for byte, as on Linux.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
#endif
    const std::vector<std::string> args = arguments(argc, argv);
    const pp::cli::ParseResult parsed = pp::cli::parseArguments(args);
    if (!parsed.options) {
        std::cerr << "paramporter-cli: " << parsed.error << "\n"
                  << "Try 'paramporter-cli --help'.\n";
        return pp::cli::ExitUsage;
    }

    // Rendering a PDF needs fonts, hence a GUI application; it draws on no screen, so without
    // a chosen platform it runs offscreen. Everything else stays free of a display. (Not on
    // Windows: there the native platform needs no display either, and only it has the system's
    // fonts, Courier New among them; offscreen has none, and the PDF would come out blank.)
    std::unique_ptr<QCoreApplication> app;
    if (pp::cli::wantsPdf(*parsed.options)) {
#ifndef _WIN32
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
#endif
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

    pp::cli::Context context{std::cout, std::cerr, false, {}, {}, &pp::realFileSystem(),
                             {},        {},        {}};
    context.progress = ::isatty(STDERR_FILENO) == 1;
    context.settings = pp::qt::settingsFolders();
    context.historyPath = pp::history::defaultHistoryPath();
    context.historyServer = pp::qt::historyServerUri().toStdString();
    context.today = pp::qt::now(); // the report prints the time too
    return pp::cli::run(*parsed.options, context);
}
