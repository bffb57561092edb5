// paramporter [--simulate [--serial N] [--state FILE]] [--port N|DEVICE] [--version] [FILE.QX]
#include "files/settings.h"
#include "history/store.h"
#include "qt/program_settings.h"
#include "qt/server_location.h"
#include "qt/session_driver.h"
#include "ui/features.h"
#include "ui/main/main_window.h"
#include "version.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QMessageBox>
#include <QStyleFactory>

#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include "sim/instrument.h"
#include "sim/state_file.h"
#endif

namespace {

struct Options {
    QCommandLineOption simulate{QStringLiteral("simulate"),
                                QStringLiteral("Talk to a simulated QX7400 on COMM 1 instead of "
                                               "an instrument.")};
    QCommandLineOption port{QStringLiteral("port"),
                            QStringLiteral("COMM number (1 to 5) or serial device to use."),
                            QStringLiteral("port")};
    QCommandLineOption serial{
        QStringLiteral("serial"),
        QStringLiteral("With --simulate: the simulated QX7400's serial number (0 to 10000)."),
        QStringLiteral("N")};
    QCommandLineOption state{
        QStringLiteral("state"),
        QStringLiteral("With --simulate: the file the simulated QX7400 starts from and keeps "
                       "its values in (as qx7400-sim --state)."),
        QStringLiteral("FILE")};
};

// The arguments read; a status to exit with when they will not do.
std::optional<int> readArguments(QCommandLineParser& parser, const Options& o, QApplication& app) {
    parser.setApplicationDescription(QStringLiteral("QX7400 parameter upload and download"));
    parser.addHelpOption();
    parser.addOption(QCommandLineOption(QStringLiteral("version"),
                                        QStringLiteral("Print the version and exit.")));
    parser.addOption(o.simulate);
    parser.addOption(o.serial);
    parser.addOption(o.state);
    parser.addOption(o.port);
    parser.addPositionalArgument(QStringLiteral("file"),
                                 QStringLiteral("Parameter file to open (*.QX)."),
                                 QStringLiteral("[FILE.QX]"));
    parser.process(app);
    if (parser.positionalArguments().size() > 1) {
        std::fprintf(stderr, "paramporter: one parameter file at a time\n");
        return 2;
    }
    if (!parser.isSet(o.simulate) && (parser.isSet(o.serial) || parser.isSet(o.state))) {
        std::fprintf(stderr, "paramporter: --serial and --state go with --simulate\n");
        return 2;
    }
    return std::nullopt;
}

#ifdef Q_OS_WIN
// The simulated instrument lives on a pseudo-terminal, which Windows does not have. Said on
// standard error where there is one (a redirection, a script), else in a box: a program with a
// window has none when started from Explorer or a shortcut.
int simulateIsLinuxOnly() {
    const QString why = QStringLiteral(
        "--simulate is available on Linux only: the simulated QX7400 needs a pseudo-terminal, "
        "which Windows does not have. Connect an instrument to a COM port, or run the simulator "
        "on a Linux PC.");
    const HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
    if (err && err != INVALID_HANDLE_VALUE && GetFileType(err) != FILE_TYPE_UNKNOWN)
        std::fprintf(stderr, "paramporter: %s\n", qPrintable(why));
    else
        QMessageBox::critical(nullptr, QStringLiteral("ParamPorter"), why);
    return 2;
}
#else
// The simulated instrument of --simulate, with the state it keeps (--state).
struct Simulation {
    std::unique_ptr<pp::sim::StateFile> state; // outlives the instrument, which calls it
    std::unique_ptr<pp::sim::Instrument> instrument;

    // A status to exit with when it cannot start.
    std::optional<int> start(const QCommandLineParser& parser, const Options& o) {
        instrument = std::make_unique<pp::sim::Instrument>();
        // As qx7400-sim takes them: the file's values, then the serial number given.
        if (parser.isSet(o.state)) {
            state = std::make_unique<pp::sim::StateFile>(*instrument,
                                                         parser.value(o.state).toStdString());
            if (auto why = state->load())
                return fail(*why);
        }
        if (parser.isSet(o.serial)) {
            const std::string line = "system Serial " + parser.value(o.serial).toStdString();
            if (auto why = instrument->keypad(line))
                return fail("--serial: " + *why);
        }
        if (state) {
            if (auto why = state->save())
                return fail(*why);
            instrument->setDownloadObserver([s = state.get()] {
                if (auto why = s->save())
                    std::fprintf(stderr, "paramporter: %s\n", why->c_str());
            });
        }
        if (!instrument->start()) {
            std::fprintf(stderr, "paramporter: cannot start the simulated QX7400: %s\n",
                         instrument->lastError().c_str());
            return 1;
        }
        // For this run COMM 1 is the simulated instrument.
        qputenv("PARAMPORTER_COMM1", QByteArray::fromStdString(instrument->devicePath()));
        return std::nullopt;
    }

    void stop() {
        if (!state)
            return;
        instrument->stop();
        if (auto why = state->save())
            std::fprintf(stderr, "paramporter: %s\n", why->c_str());
    }

    static int fail(const std::string& why) {
        std::fprintf(stderr, "paramporter: %s\n", why.c_str());
        return 2;
    }
};
#endif

// --port: a COMM number or a device for this run; false when it is neither.
bool usePort(pp::ui::MainWindow& window, const QString& port) {
    bool number = false;
    const int n = port.toInt(&number);
    if (number && n >= 1 && n <= 5)
        window.session().setCommPortNumber(n);
    else if (!number && !port.isEmpty())
        window.driver().setDeviceOverride(port);
    else
        return false;
    return true;
}

} // namespace

int main(int argc, char** argv) {
    // Answered before any window system is needed.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::puts(PP_VERSION);
            return 0;
        }
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("ParamPorter"));
    QApplication::setApplicationVersion(QStringLiteral(PP_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("paramporter"));
    // One look everywhere: the layout is made for it.
    if (QStyle* fusion = QStyleFactory::create(QStringLiteral("Fusion")))
        QApplication::setStyle(fusion);

    QCommandLineParser parser;
    const Options o;
    if (const auto refused = readArguments(parser, o, app))
        return *refused;
    const bool simulated = parser.isSet(o.simulate);
#ifdef Q_OS_WIN
    if (simulated)
        return simulateIsLinuxOnly();
#else
    Simulation simulation;
    if (simulated)
        if (const auto failed = simulation.start(parser, o))
            return *failed;
#endif

    // The port chosen in the port dialog is kept between runs. A port given for this run
    // (--simulate, --port) is a one-off: the stored choice is neither used nor replaced.
    pp::ui::AppSettingsHooks settings;
    if (!simulated && !parser.isSet(o.port)) {
        const pp::SettingsFolders folders = pp::qt::settingsFolders();
        settings.load = [folders] { return int(pp::LoadAppSettings(folders)); };
        settings.save = [folders](int port, pp::Window& window) {
            pp::SaveAppSettings(static_cast<int16_t>(port), folders, window);
        };
    }

    pp::ui::MainWindow window(settings);
    // Compare and Back Up, and every transfer recorded and forwarded (owned by the window).
    pp::ui::attachFeatures(window, pp::history::defaultHistoryPath(), pp::qt::historyServerUri());
    if (simulated)
        window.session().setCommPortNumber(1);
    if (parser.isSet(o.port) && !usePort(window, parser.value(o.port))) {
        std::fprintf(stderr, "paramporter: --port takes 1 to 5 or a device path\n");
        return 2;
    }
    window.show();
    // As File > Open reads it: on a copy, the conversion question and errors in the window.
    if (!parser.positionalArguments().isEmpty())
        window.openPath(parser.positionalArguments().front());
    const int status = app.exec();
#ifndef Q_OS_WIN
    simulation.stop();
#endif
    return status;
}
