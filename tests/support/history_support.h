// Changes a history file behind the program's back, as a hand with a database tool would.
#pragma once

#include <sqlite3.h>

#include <string>

namespace pp::test {

// Runs `sql` on the database at `path`; false when it failed, or when a statement meant to
// change rows (anything but PRAGMA and CREATE) changed none.
inline bool tamper(const std::string& path, const std::string& sql) {
    sqlite3* db = nullptr;
    bool ok = sqlite3_open(path.c_str(), &db) == SQLITE_OK &&
              sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
    if (ok && !sql.starts_with("PRAGMA") && !sql.starts_with("CREATE"))
        ok = sqlite3_total_changes(db) > 0;
    sqlite3_close(db);
    return ok;
}

} // namespace pp::test
