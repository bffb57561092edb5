#include "qt/server_location.h"

#include "qt/program_settings.h"

namespace pp::qt {

namespace {

const QString Key = QStringLiteral("historyServer");

} // namespace

QString storedHistoryServer() {
    return programSettings().value(Key).toString().trimmed();
}

void storeHistoryServer(const QString& uri) {
    QSettings s = programSettings();
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

} // namespace pp::qt
