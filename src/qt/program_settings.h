// The program's own settings file (~/.config/ParamPorter/paramporter.ini, on Windows
// %APPDATA%\ParamPorter\paramporter.ini), beside (not inside) RIGPREFS.DAT, which keeps only the
// port number: the recent files, the history server.
#pragma once

#include "files/settings.h"

#include <QCoreApplication>
#include <QSettings>
#include <QStandardPaths>

namespace pp::qt {

inline QSettings programSettings() {
    return QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("ParamPorter"),
                     QStringLiteral("paramporter"));
}

// Where RIGPREFS.DAT may live: the program's folder, and for when that cannot be written the
// user's own folder, ~/.config/ParamPorter or %APPDATA%\ParamPorter (roaming, as the user's
// settings are on Windows). Needs the application's name set.
inline pp::SettingsFolders settingsFolders() {
#ifdef Q_OS_WIN
    const auto own = QStandardPaths::AppDataLocation;
#else
    const auto own = QStandardPaths::AppConfigLocation;
#endif
    return {QCoreApplication::applicationDirPath().toStdString(),
            QStandardPaths::writableLocation(own).toStdString()};
}

} // namespace pp::qt
