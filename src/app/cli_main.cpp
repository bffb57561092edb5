// paramporter-cli [--port PORT] COMMAND [ARGS]: the window's uploads, downloads, mode and
// part-number requests from a shell, for scripts and backups.
#include "app/cli.h"
#include "app/cli_commands.h"
#include "version.h"

#include <QCoreApplication>
#include <QStandardPaths>

#include <ctime>
#include <iostream>
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

    QCoreApplication app(argc, argv);
    // The same name as the window, so both find the same configuration folder.
    QCoreApplication::setApplicationName(QStringLiteral("ParamPorter"));
    QCoreApplication::setApplicationVersion(QStringLiteral(PP_VERSION));

    pp::cli::Context context{std::cout, std::cerr, false, {}, {}, &pp::realFileSystem()};
    context.progress = ::isatty(STDERR_FILENO) == 1;
    context.settings.application = QCoreApplication::applicationDirPath().toStdString();
    context.settings.config =
        QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation).toStdString();
    const std::time_t now = std::time(nullptr);
    if (const std::tm* local = std::localtime(&now))
        context.today = *local;
    return pp::cli::run(*parsed.options, context);
}
