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

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include "sim/instrument.h"
#include "sim/state_file.h"
#endif

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
    parser.setApplicationDescription(QStringLiteral("QX7400 parameter upload and download"));
    parser.addHelpOption();
    const QCommandLineOption versionOption(QStringLiteral("version"),
                                           QStringLiteral("Print the version and exit."));
    const QCommandLineOption simulateOption(
        QStringLiteral("simulate"),
        QStringLiteral("Talk to a simulated QX7400 on COMM 1 instead of an instrument."));
    const QCommandLineOption portOption(
        QStringLiteral("port"), QStringLiteral("COMM number (1 to 5) or serial device to use."),
        QStringLiteral("port"));
    const QCommandLineOption serialOption(
        QStringLiteral("serial"),
        QStringLiteral("With --simulate: the simulated QX7400's serial number (0 to 10000)."),
        QStringLiteral("N"));
    const QCommandLineOption stateOption(
        QStringLiteral("state"),
        QStringLiteral("With --simulate: the file the simulated QX7400 starts from and keeps "
                       "its values in (as qx7400-sim --state)."),
        QStringLiteral("FILE"));
    parser.addOption(versionOption);
    parser.addOption(simulateOption);
    parser.addOption(serialOption);
    parser.addOption(stateOption);
    parser.addOption(portOption);
    parser.addPositionalArgument(QStringLiteral("file"),
                                 QStringLiteral("Parameter file to open (*.QX)."),
                                 QStringLiteral("[FILE.QX]"));
    parser.process(app);
    if (parser.positionalArguments().size() > 1) {
        std::fprintf(stderr, "paramporter: one parameter file at a time\n");
        return 2;
    }
    if (!parser.isSet(simulateOption) &&
        (parser.isSet(serialOption) || parser.isSet(stateOption))) {
        std::fprintf(stderr, "paramporter: --serial and --state go with --simulate\n");
        return 2;
    }

#ifdef Q_OS_WIN
    // The simulated instrument lives on a pseudo-terminal, which Windows does not have. Said on
    // standard error where there is one (a redirection, a script), else in a box: a program
    // with a window has none when started from Explorer or a shortcut.
    if (parser.isSet(simulateOption)) {
        const QString why = QStringLiteral(
            "--simulate is available on Linux only: the simulated QX7400 needs a "
            "pseudo-terminal, which Windows does not have. Connect an instrument to a COM port, "
            "or run the simulator on a Linux PC.");
        const HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
        if (err && err != INVALID_HANDLE_VALUE && GetFileType(err) != FILE_TYPE_UNKNOWN)
            std::fprintf(stderr, "paramporter: %s\n", qPrintable(why));
        else
            QMessageBox::critical(nullptr, QStringLiteral("ParamPorter"), why);
        return 2;
    }
    const bool instrument = false;
#else
    std::unique_ptr<pp::sim::StateFile> state; // outlives the instrument, which calls it
    std::unique_ptr<pp::sim::Instrument> instrument;
    if (parser.isSet(simulateOption)) {
        instrument = std::make_unique<pp::sim::Instrument>();
        // As qx7400-sim takes them: the file's values, then the serial number given.
        if (parser.isSet(stateOption)) {
            state = std::make_unique<pp::sim::StateFile>(*instrument,
                                                         parser.value(stateOption).toStdString());
            if (auto why = state->load()) {
                std::fprintf(stderr, "paramporter: %s\n", why->c_str());
                return 2;
            }
        }
        if (parser.isSet(serialOption)) {
            const std::string line = "system Serial " + parser.value(serialOption).toStdString();
            if (auto why = instrument->keypad(line)) {
                std::fprintf(stderr, "paramporter: --serial: %s\n", why->c_str());
                return 2;
            }
        }
        if (state) {
            if (auto why = state->save()) {
                std::fprintf(stderr, "paramporter: %s\n", why->c_str());
                return 2;
            }
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
    }
#endif

    // The port chosen in the port dialog is kept between runs. A port given for this run
    // (--simulate, --port) is a one-off: the stored choice is neither used nor replaced.
    pp::ui::AppSettingsHooks settings;
    if (!instrument && !parser.isSet(portOption)) {
        const pp::SettingsFolders folders = pp::qt::settingsFolders();
        settings.load = [folders] { return int(pp::LoadAppSettings(folders)); };
        settings.save = [folders](int port, pp::Window& window) {
            pp::SaveAppSettings(static_cast<int16_t>(port), folders, window);
        };
    }

    pp::ui::MainWindow window(settings);
    // Compare and Back Up, and every transfer recorded and forwarded (owned by the window).
    pp::ui::attachFeatures(window, pp::history::defaultHistoryPath(), pp::qt::historyServerUri());
    if (instrument)
        window.session().setCommPortNumber(1);
    if (parser.isSet(portOption)) {
        const QString port = parser.value(portOption);
        bool number = false;
        const int n = port.toInt(&number);
        if (number && n >= 1 && n <= 5) {
            window.session().setCommPortNumber(n);
        } else if (!number && !port.isEmpty()) {
            window.driver().setDeviceOverride(port);
        } else {
            std::fprintf(stderr, "paramporter: --port takes 1 to 5 or a device path\n");
            return 2;
        }
    }
    window.show();
    // As File > Open reads it: on a copy, the conversion question and errors in the window.
    if (!parser.positionalArguments().isEmpty())
        window.openPath(parser.positionalArguments().front());
    const int status = app.exec();
#ifndef Q_OS_WIN
    if (state) {
        instrument->stop();
        if (auto why = state->save())
            std::fprintf(stderr, "paramporter: %s\n", why->c_str());
    }
#endif
    return status;
}
