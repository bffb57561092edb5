#include "plant_settings.h"

#include <QSettings>

namespace pp::ui {

namespace {

const QString Key = QStringLiteral("historyServer");

// The program's own settings file, beside (not inside) RIGPREFS.DAT.
QSettings settings() {
    return QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("ParamPorter"),
                     QStringLiteral("paramporter"));
}

} // namespace

QString storedHistoryServer() {
    return settings().value(Key).toString().trimmed();
}

void storeHistoryServer(const QString& uri) {
    QSettings s = settings();
    if (uri.trimmed().isEmpty())
        s.remove(Key);
    else
        s.setValue(Key, uri.trimmed());
    s.sync();
}

QString historyServerUri() {
    const QString chosen = qEnvironmentVariable(HistoryServerVariable).trimmed();
    return chosen.isEmpty() ? storedHistoryServer() : chosen;
}

} // namespace pp::ui
