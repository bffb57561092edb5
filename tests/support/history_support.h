// Changes a history file behind the program's back, as a hand with a database tool would, and
// entries made for tests without an instrument.
#pragma once

#include "history/store.h"

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

// Every hash of the chain computed again from what the rows hold now, the first entry naming
// `first` before it: what a forger who knows the canonical text does after editing an entry.
inline bool rehash(const std::string& path, const std::string& first = {}) {
    pp::history::Store store;
    if (!store.open(path, pp::history::Store::Mode::ReadOnly))
        return false;
    auto entries = store.list({}, 0);
    store.close();
    if (!entries)
        return false;
    std::string previous = first, sql = "BEGIN;";
    for (auto e = entries->rbegin(); e != entries->rend(); ++e) {
        e->previousHash = previous;
        e->hash = pp::history::sha256Hex(pp::history::canonicalText(*e));
        sql += "UPDATE entry SET previous_hash = " +
               (previous.empty() ? std::string("NULL") : "'" + previous + "'") + ", hash = '" +
               e->hash + "' WHERE id = " + std::to_string(e->id) + ";";
        previous = e->hash;
    }
    return tamper(path, sql + "COMMIT;");
}

// An entry as a transfer would leave it, to be appended; `n` tells entries apart.
inline pp::history::Entry sampleEntry(int n, std::string time = "2026-12-08T14:03:07.412Z") {
    pp::history::Entry e;
    e.time = std::move(time);
    e.user = "tech";
    e.host = "bench-pc";
    e.port = "/dev/ttyUSB0";
    e.action = pp::history::Action::Upload;
    e.scope = pp::history::Scope::Part;
    e.part = "05";
    e.serial = "1234";
    e.generation = "V7.3";
    e.result = "SUCCESS";
    e.file = "part 5, take " + std::to_string(n);
    return e;
}

// `count` entries appended to the history at `path` (made when missing).
inline bool record(const std::string& path, int count,
                   const std::string& time = "2026-12-08T14:03:07.412Z") {
    pp::history::Store store;
    if (!store.open(path))
        return false;
    for (int i = 0; i < count; ++i) {
        pp::history::Entry e = sampleEntry(i, time);
        if (!store.append(e))
            return false;
    }
    return true;
}

} // namespace pp::test
