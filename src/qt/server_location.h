// Where the plant's history server is: PARAMPORTER_HISTORY_SERVER for a run, else what SetUp >
// History Server... keeps with the program's other settings (QSettings; RIGPREFS.DAT keeps
// only the port number). Never a password: libpq reads ~/.pgpass, PGPASSWORD or a service file.
#pragma once

#include <QString>

namespace pp::qt {

inline constexpr char HistoryServerVariable[] = "PARAMPORTER_HISTORY_SERVER";

QString storedHistoryServer();
void storeHistoryServer(const QString& uri); // empty: no server
// The variable when it is set, else the stored URI; empty: no server.
QString historyServerUri();

} // namespace pp::qt
