// The program's own settings file (~/.config/ParamPorter/paramporter.ini), beside (not inside)
// RIGPREFS.DAT, which keeps only the port number: the recent files, the history server.
#pragma once

#include <QSettings>

namespace pp::qt {

inline QSettings programSettings() {
    return QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("ParamPorter"),
                     QStringLiteral("paramporter"));
}

} // namespace pp::qt
