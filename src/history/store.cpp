#include "store.h"

#include "files/native.h"
#include "history/recording.h"

#include <openssl/rand.h>
#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#else
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace pp::history {

namespace {

// "PPHi": tells a history file from any other SQLite database.
constexpr int ApplicationId = 0x50504869;

// Schema steps: step n takes the file from version n to n + 1, in a transaction of its own.
constexpr const char* Migrations[] = {
    // 1: entries, their parameter files stored once per distinct text, and the installation.
    R"sql(
    CREATE TABLE meta(
        key TEXT PRIMARY KEY NOT NULL,
        value TEXT NOT NULL);
    CREATE TABLE content(
        hash TEXT PRIMARY KEY NOT NULL,
        text BLOB NOT NULL);
    CREATE TABLE entry(
        id INTEGER PRIMARY KEY,
        time TEXT NOT NULL,
        user TEXT NOT NULL,
        host TEXT NOT NULL,
        port TEXT NOT NULL,
        action TEXT NOT NULL CHECK (action IN ('upload', 'download')),
        scope TEXT NOT NULL CHECK (scope IN ('system', 'part')),
        part TEXT,
        serial TEXT,
        generation TEXT,
        result TEXT NOT NULL,
        stopped_at_field INTEGER,
        file_hash TEXT,
        previous_hash TEXT,
        hash TEXT NOT NULL,
        -- set once a plant server holds the entry
        forwarded INTEGER NOT NULL DEFAULT 0);
    CREATE INDEX entry_instrument ON entry(serial, scope, part);
    )sql",
    // 2: the queue of entries a plant server does not hold yet, read without a scan.
    R"sql(
    CREATE INDEX entry_unforwarded ON entry(id) WHERE forwarded = 0;
    )sql",
    // 3: each entry's hash format and the installation that recorded it (a copied history
    // takes an ID of its own), and the last ID given, so that none is given twice.
    R"sql(
    ALTER TABLE entry ADD COLUMN format INTEGER NOT NULL DEFAULT 1;
    ALTER TABLE entry ADD COLUMN source TEXT;
    UPDATE entry SET source = (SELECT value FROM meta WHERE key = 'installation_id');
    INSERT OR REPLACE INTO meta(key, value)
        SELECT 'last_id', CAST(ifnull(max(id), 0) AS TEXT) FROM entry;
    )sql",
    // 4: approvals and revocations, the reason, meaning, subject and findings of an entry. The
    // table is made again: SQLite cannot widen the check of its action. The instrument's index
    // takes the action and the ID, for the approval in force and the latest of each kind.
    R"sql(
    CREATE TABLE entry_4(
        id INTEGER PRIMARY KEY,
        time TEXT NOT NULL,
        user TEXT NOT NULL,
        host TEXT NOT NULL,
        port TEXT NOT NULL,
        action TEXT NOT NULL CHECK (action IN ('upload', 'download', 'approve', 'revoke')),
        scope TEXT NOT NULL CHECK (scope IN ('system', 'part')),
        part TEXT,
        serial TEXT,
        generation TEXT,
        result TEXT NOT NULL,
        stopped_at_field INTEGER,
        file_hash TEXT,
        previous_hash TEXT,
        hash TEXT NOT NULL,
        forwarded INTEGER NOT NULL DEFAULT 0,
        format INTEGER NOT NULL DEFAULT 1,
        source TEXT,
        reason TEXT,
        meaning TEXT,
        subject INTEGER,
        subject_hash TEXT,
        findings BLOB);
    INSERT INTO entry_4(id, time, user, host, port, action, scope, part, serial, generation,
                        result, stopped_at_field, file_hash, previous_hash, hash, forwarded,
                        format, source)
        SELECT id, time, user, host, port, action, scope, part, serial, generation, result,
               stopped_at_field, file_hash, previous_hash, hash, forwarded, format, source
        FROM entry;
    DROP TABLE entry;
    ALTER TABLE entry_4 RENAME TO entry;
    CREATE INDEX entry_instrument ON entry(serial, scope, part, action, id);
    CREATE INDEX entry_unforwarded ON entry(id) WHERE forwarded = 0;
    )sql",
    // 5: a copy of the plant server's approvals and revocations (its IDs, hashes and files;
    // rows are only ever added) and of its settings, for the checks made while the server
    // cannot be reached.
    R"sql(
    CREATE TABLE plant_approval(
        plant TEXT NOT NULL,
        id INTEGER NOT NULL,
        time TEXT NOT NULL,
        user TEXT NOT NULL,
        host TEXT NOT NULL,
        action TEXT NOT NULL CHECK (action IN ('approve', 'revoke')),
        scope TEXT NOT NULL CHECK (scope IN ('system', 'part')),
        part TEXT,
        serial TEXT NOT NULL,
        generation TEXT,
        result TEXT NOT NULL,
        file_hash TEXT,
        previous_hash TEXT,
        hash TEXT NOT NULL,
        format INTEGER NOT NULL,
        source TEXT,
        reason TEXT,
        meaning TEXT,
        subject INTEGER,
        subject_hash TEXT,
        PRIMARY KEY (plant, id));
    CREATE INDEX plant_approval_instrument ON plant_approval(plant, serial, scope, part, id);
    CREATE TRIGGER plant_approval_kept_1 BEFORE UPDATE ON plant_approval
        BEGIN SELECT RAISE(ABORT, 'the copy of the plant''s approvals is only added to'); END;
    CREATE TRIGGER plant_approval_kept_2 BEFORE DELETE ON plant_approval
        BEGIN SELECT RAISE(ABORT, 'the copy of the plant''s approvals is only added to'); END;
    CREATE TABLE plant_setting(
        key TEXT PRIMARY KEY NOT NULL,
        value TEXT NOT NULL);
    )sql",
    // 6: the signature the plant server recorded for an approval or revocation.
    R"sql(
    ALTER TABLE entry ADD COLUMN signature BLOB;
    ALTER TABLE plant_approval ADD COLUMN signature BLOB;
    )sql",
};
static_assert(std::size(Migrations) == SchemaVersion);

constexpr const char* EntryColumns =
    "entry.id, entry.time, entry.user, entry.host, entry.port, entry.action, entry.scope, "
    "entry.part, entry.serial, entry.generation, entry.result, entry.stopped_at_field, "
    "entry.file_hash, entry.previous_hash, entry.hash, ";
// Format and installation: columns since version 3; before, every entry had the first format
// and the one installation.
constexpr const char* EntryColumnsSince3 = "entry.format, entry.source";
constexpr const char* SourceBefore3 = "(SELECT value FROM meta WHERE key = 'installation_id')";
// Reason, meaning, subject, its hash and the findings: columns since version 4.
constexpr const char* EntryColumnsSince4 =
    ", entry.reason, entry.meaning, entry.subject, entry.subject_hash, entry.findings";
constexpr const char* NoneBefore4 = ", NULL, NULL, NULL, NULL, NULL";
// The signature: a column since version 6.
constexpr const char* EntryColumnsSince6 = ", entry.signature";
constexpr const char* NoneBefore6 = ", NULL";
constexpr int FileTextColumn = 23;
// The entries with their file texts (FileTextColumn).
constexpr const char* WithFileText =
    ", content.text FROM entry LEFT JOIN content ON content.hash = entry.file_hash";

using KeptStatements = std::map<std::string, sqlite3_stmt*>;

class Statement {
public:
    Statement(sqlite3* db, const std::string& sql) { prepare(db, sql); }
    // The one `kept` holds for this query, taken out while in use (a second use at the same
    // time prepares its own); prepared when there is none, and kept afterwards.
    Statement(sqlite3* db, KeptStatements& kept, const std::string& sql) : kept_(&kept), sql_(sql) {
        if (const auto it = kept.find(sql); it != kept.end()) {
            stmt_ = it->second;
            kept.erase(it);
        } else {
            prepare(db, sql);
        }
    }
    ~Statement() {
        if (kept_ && stmt_) {
            sqlite3_reset(stmt_); // ends its read, as finalising would
            sqlite3_clear_bindings(stmt_);
            if (kept_->emplace(sql_, stmt_).second)
                return;
        }
        sqlite3_finalize(stmt_);
    }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    bool ok() const { return stmt_ != nullptr; }
    void text(int i, std::string_view s) {
        sqlite3_bind_text(stmt_, i, s.data(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
    }
    void textOrNull(int i, const std::string& s) {
        if (s.empty())
            sqlite3_bind_null(stmt_, i);
        else
            text(i, s);
    }
    void blob(int i, std::string_view s) {
        sqlite3_bind_blob(stmt_, i, s.data(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
    }
    void integer(int i, int64_t v) { sqlite3_bind_int64(stmt_, i, v); }
    // Ready to run again, with new values.
    void reset() {
        sqlite3_reset(stmt_);
        sqlite3_clear_bindings(stmt_);
    }
    void null(int i) { sqlite3_bind_null(stmt_, i); }

    int step() { return sqlite3_step(stmt_); }

    bool isNull(int c) const { return sqlite3_column_type(stmt_, c) == SQLITE_NULL; }
    int64_t integerAt(int c) const { return sqlite3_column_int64(stmt_, c); }
    std::string textAt(int c) const {
        const void* bytes = sqlite3_column_blob(stmt_, c);
        const int size = sqlite3_column_bytes(stmt_, c);
        return bytes ? std::string(static_cast<const char*>(bytes), static_cast<size_t>(size))
                     : std::string();
    }

private:
    void prepare(sqlite3* db, const std::string& sql) {
        if (sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()), &stmt_, nullptr) !=
            SQLITE_OK) {
            sqlite3_finalize(stmt_);
            stmt_ = nullptr;
        }
    }

    sqlite3_stmt* stmt_ = nullptr;
    KeptStatements* kept_ = nullptr;
    std::string sql_;
};

// A parameter file's text kept once under its hash; a text already there stays as it is.
bool keepContent(sqlite3* db, KeptStatements& kept, const std::string& hash,
                 std::string_view text) {
    Statement content(db, kept, "INSERT OR IGNORE INTO content(hash, text) VALUES(?1, ?2)");
    if (!content.ok())
        return false;
    content.text(1, hash);
    content.blob(2, text);
    return content.step() == SQLITE_DONE;
}

Entry readEntry(const Statement& s, bool withFile) {
    Entry e;
    e.id = s.integerAt(0);
    e.time = s.textAt(1);
    e.user = s.textAt(2);
    e.host = s.textAt(3);
    e.port = s.textAt(4);
    e.action = actionFromWord(s.textAt(5)).value_or(Action::Upload);
    e.scope = scopeFromWord(s.textAt(6)).value_or(Scope::System);
    e.part = s.textAt(7);
    e.serial = s.textAt(8);
    e.generation = s.textAt(9);
    e.result = s.textAt(10);
    if (!s.isNull(11))
        e.stoppedAtField = static_cast<int>(s.integerAt(11));
    e.fileHash = s.textAt(12);
    e.previousHash = s.textAt(13);
    e.hash = s.textAt(14);
    e.format = static_cast<int>(s.integerAt(15));
    e.source = s.textAt(16);
    e.reason = s.textAt(17);
    e.meaning = s.textAt(18);
    if (!s.isNull(19))
        e.subject = s.integerAt(19);
    e.subjectHash = s.textAt(20);
    if (!s.isNull(21))
        e.findings = findingsFrom(s.textAt(21));
    // A stored signature that no longer reads is kept as a number 0 one, which never hashes
    // as the entry did.
    if (!s.isNull(22))
        e.signature = signatureFrom(s.textAt(22)).value_or(Signature{0, s.textAt(22), {}, {}});
    // An entry that names a file the database no longer holds (removed by hand) gets an empty
    // text: it reads as a damaged file, not as an upload that failed.
    if (withFile && (!s.isNull(FileTextColumn) || !e.fileHash.empty()))
        e.file = s.textAt(FileTextColumn);
    return e;
}

std::string randomInstallationId() {
    unsigned char b[16];
    if (RAND_bytes(b, sizeof b) != 1)
        return {};
    b[6] = static_cast<unsigned char>((b[6] & 0x0f) | 0x40); // version 4
    b[8] = static_cast<unsigned char>((b[8] & 0x3f) | 0x80); // variant 1
    char text[37];
    std::snprintf(text, sizeof text,
                  "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x", b[0],
                  b[1], b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13],
                  b[14], b[15]);
    return text;
}

std::string localHostName() {
#ifdef _WIN32
    return hostName();
#else
    char name[256] = {};
    return ::gethostname(name, sizeof name - 1) == 0 ? std::string(name) : std::string();
#endif
}

// What tells this machine from a copy of its disk: the host name, and the machine ID (Linux's
// machine-id, Windows' MachineGuid; both are made anew for a machine set up from an image).
// Hashed: the machine ID is not to be shown.
const std::string& machineIdentity() {
    static const std::string identity = [] {
        std::string id;
#ifdef _WIN32
        // Windows' own machine ID, which Sysprep makes anew for a machine set up from an image.
        wchar_t guid[64] = {};
        DWORD size = sizeof guid;
        if (RegGetValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Cryptography", L"MachineGuid",
                         RRF_RT_REG_SZ | RRF_SUBKEY_WOW6464KEY, nullptr, guid,
                         &size) == ERROR_SUCCESS)
            id = utf8FromWide(guid);
#else
        for (const char* file : {"/etc/machine-id", "/var/lib/dbus/machine-id"}) {
            if (FILE* f = std::fopen(file, "r")) {
                char line[128] = {};
                if (std::fgets(line, sizeof line, f))
                    id = line;
                std::fclose(f);
            }
            if (!id.empty())
                break;
        }
        while (!id.empty() && (id.back() == '\n' || id.back() == ' '))
            id.pop_back();
#endif
        return sha256Hex("paramporter machine\n" + localHostName() + "\n" + id);
    }();
    return identity;
}

// The file SQLite keeps beside `path` with `suffix`, as a path.
std::string beside(const std::string& path, const char* suffix) {
    return path + suffix;
}

bool writable(const std::string& path) {
#ifdef _WIN32
    (void)path;
    return true;
#else
    return ::access(path.c_str(), W_OK) == 0;
#endif
}

// The write-ahead log holds nothing a reader of the database file alone would miss.
bool walEmpty(const std::string& path) {
    std::error_code ec;
    const auto size = std::filesystem::file_size(pathFromUtf8(beside(path, "-wal")), ec);
    return ec || size == 0;
}

// A file: URI for SQLite, every byte but the plain ones escaped.
std::string fileUri(const std::string& path, const char* query) {
    std::error_code ec;
    std::string absolute = utf8FromPath(std::filesystem::absolute(pathFromUtf8(path), ec));
#ifdef _WIN32
    for (char& c : absolute)
        if (c == '\\')
            c = '/';
#endif
    if (ec)
        absolute = path;
    std::string uri = "file:";
#ifdef _WIN32
    uri += "///";
#endif
    static constexpr char Hex[] = "0123456789ABCDEF";
    for (unsigned char c : absolute) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
            c == '/' || c == '.' || c == '-' || c == '_' || c == '~' || c == ':') {
            uri += static_cast<char>(c);
        } else {
            uri += '%';
            uri += Hex[c >> 4];
            uri += Hex[c & 0xf];
        }
    }
    return uri + query;
}

// A program that once read the history while the file was read-only leaves SQLite's shared
// memory file read-only behind it, and every later write would fail: a writer gives it back
// the database file's permissions.
void makeSidecarsWritable(const std::string& path) {
#ifndef _WIN32
    struct stat db {};
    if (::stat(path.c_str(), &db) != 0 || !writable(path))
        return;
    for (const char* suffix : {"-shm", "-wal"}) {
        const std::string file = beside(path, suffix);
        if (::access(file.c_str(), F_OK) == 0 && !writable(file))
            ::chmod(file.c_str(), db.st_mode & 0777);
    }
#else
    (void)path;
#endif
}

} // namespace

Store::~Store() {
    close();
}

void Store::close() {
    for (const auto& [sql, statement] : kept_)
        sqlite3_finalize(statement);
    kept_.clear();
    if (db_)
        sqlite3_close_v2(db_);
    db_ = nullptr;
}

bool Store::fail(const std::string& what) {
    error_ = what;
    return false;
}

bool Store::failSql(const std::string& context) {
    std::string message = db_ ? sqlite3_errmsg(db_) : "out of memory";
    return fail(context.empty() ? message : context + ": " + message);
}

bool Store::exec(const char* sql) {
    if (sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK)
        return true;
    return failSql();
}

bool Store::open(const std::string& path, Mode mode) {
    close();
    error_.clear();
    missing_ = false;
    version_ = 0;
    device_ = inode_ = 0;
    path_ = path;
    namespace fs = std::filesystem;
    std::error_code ec;
    if (path.empty())
        return fail("no history file given");
    const fs::path file = pathFromUtf8(path);
    if (mode != Mode::Create && !fs::exists(file, ec)) {
        missing_ = true;
        return fail("no history in " + path);
    }
    if (mode == Mode::Create && file.has_parent_path() &&
        !fs::is_directory(file.parent_path(), ec)) {
        fs::create_directories(file.parent_path(), ec);
        if (std::error_code again; !fs::is_directory(file.parent_path(), again))
            return fail("cannot create the folder " + utf8FromPath(file.parent_path()) +
                        (ec ? ": " + ec.message() : std::string()));
    }
    if (fs::is_directory(file, ec))
        return fail(path + " is a folder");
    if (mode == Mode::ReadOnly)
        return openReadOnly();
    // SQLite's files of a history removed while a program had it open: its log would be
    // played into the new file.
    if (!fs::exists(file, ec))
        for (const char* suffix : {"-wal", "-shm"})
            fs::remove(pathFromUtf8(beside(path, suffix)), ec);

    makeSidecarsWritable(path);
    if (std::string shm = beside(path, "-shm"); fs::exists(pathFromUtf8(shm), ec) && !writable(shm))
        return fail(shm + " is read-only: SQLite's shared memory of the history");
    const int flags = SQLITE_OPEN_READWRITE | (mode == Mode::Create ? SQLITE_OPEN_CREATE : 0);
    if (sqlite3_open_v2(path.c_str(), &db_, flags, nullptr) != SQLITE_OK) {
        failSql("cannot open " + path);
        close();
        return false;
    }
    sqlite3_extended_result_codes(db_, 1);
    sqlite3_busy_handler(db_, &Store::waitForLock, this);

    bool empty = false;
    if (!checkHeader(empty)) {
        close();
        return false;
    }
    // Readers never wait for the writer nor the writer for them; a commit needs no sync.
    if (!switchToWal() || !exec("PRAGMA synchronous=NORMAL") || !migrate()) {
        error_ = path + ": " + error_;
        close();
        return false;
    }
    version_ = SchemaVersion;
    columns_ =
        std::string(EntryColumns) + EntryColumnsSince3 + EntryColumnsSince4 + EntryColumnsSince6;
    rememberFile();
    return true;
}

// Nothing is written, not even SQLite's files beside the database: a file that is read-only to
// this account, or a full disk, is read from the database file alone, as long as no write is
// waiting in the log. Older versions are read as they are.
bool Store::openReadOnly() {
    bool immutable = !writable(path_) &&
                     !std::filesystem::exists(pathFromUtf8(beside(path_, "-shm"))) &&
                     walEmpty(path_);
    bool empty = false;
    for (;;) {
        const std::string uri = fileUri(path_, immutable ? "?mode=ro&immutable=1" : "?mode=ro");
        if (sqlite3_open_v2(uri.c_str(), &db_, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, nullptr) ==
            SQLITE_OK) {
            sqlite3_extended_result_codes(db_, 1);
            sqlite3_busy_handler(db_, &Store::waitForLock, this);
            if (checkHeader(empty))
                break;
        } else {
            failSql("cannot open " + path_);
        }
        // The shared memory could not be made (a full disk): the file alone, if it is all.
        const int code = db_ ? sqlite3_extended_errcode(db_) : SQLITE_NOMEM;
        close();
        if (immutable || !walEmpty(path_) ||
            !((code & 0xff) == SQLITE_IOERR || (code & 0xff) == SQLITE_CANTOPEN ||
              (code & 0xff) == SQLITE_FULL))
            return false;
        immutable = true;
        error_.clear();
    }
    if (empty) {
        close();
        missing_ = true;
        return fail("no history in " + path_);
    }
    Statement v(db_, "PRAGMA user_version");
    version_ = v.ok() && v.step() == SQLITE_ROW ? static_cast<int>(v.integerAt(0)) : 0;
    columns_ =
        std::string(EntryColumns) +
        (version_ >= 3 ? std::string(EntryColumnsSince3) : std::string("1, ") + SourceBefore3) +
        (version_ >= 4 ? EntryColumnsSince4 : NoneBefore4) +
        (version_ >= 6 ? EntryColumnsSince6 : NoneBefore6);
    rememberFile();
    return true;
}

void Store::rememberFile() {
#ifndef _WIN32
    struct stat st {};
    if (::stat(path_.c_str(), &st) == 0) {
        device_ = st.st_dev;
        inode_ = st.st_ino;
    }
#endif
}

bool Store::replacedOnDisk() const {
#ifdef _WIN32
    return false; // an open file can be neither removed nor moved
#else
    if (!db_)
        return false;
    struct stat st {};
    return ::stat(path_.c_str(), &st) != 0 || st.st_dev != device_ || st.st_ino != inode_;
#endif
}

// Reads the header before anything is written (switching to WAL writes it): a file of another
// program or a newer version must stay exactly as it is.
bool Store::checkHeader(bool& empty) {
    auto number = [this](const char* sql, int64_t& out) {
        Statement s(db_, sql);
        if (!s.ok() || s.step() != SQLITE_ROW)
            return failSql(path_);
        out = s.integerAt(0);
        return true;
    };
    int64_t applicationId = 0, version = 0, objects = 0;
    if (!number("PRAGMA application_id", applicationId) ||
        !number("PRAGMA user_version", version) ||
        !number("SELECT count(*) FROM sqlite_schema", objects))
        return false;
    empty = applicationId == 0 && version == 0 && objects == 0;
    if (empty)
        return true;
    if (applicationId != ApplicationId)
        return fail(path_ + " is not a ParamPorter history");
    if (version > SchemaVersion)
        return fail(std::string(NewerVersion));
    return true;
}

// A file still in the rollback journal's mode (new, or being made by another program right
// now) is switched by a write to its header, which SQLite tries without its busy handler: it
// already holds the read lock, and waiting with it could deadlock. Another writer making the
// same new file holds the write lock for a few milliseconds, so the switch is tried again
// until it is done; a file locked for longer is reported.
bool Store::switchToWal() {
    const auto since = std::chrono::steady_clock::now();
    for (;;) {
        if (sqlite3_exec(db_, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr) == SQLITE_OK)
            return true;
        if ((sqlite3_extended_errcode(db_) & 0xff) != SQLITE_BUSY ||
            std::chrono::steady_clock::now() - since >= std::chrono::milliseconds(WalSwitchWaitMs))
            return failSql();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

bool Store::migrate() {
    {
        // Up to date: no write lock is needed to find that out.
        Statement s(db_, "PRAGMA user_version");
        if (s.ok() && s.step() == SQLITE_ROW && s.integerAt(0) == SchemaVersion)
            return true;
    }
    for (;;) {
        // Another program may be migrating the same file: each step re-reads the version
        // inside its own write transaction.
        if (!exec("BEGIN IMMEDIATE"))
            return false;
        int64_t version = -1;
        {
            // Finished before the step runs: a statement still open locks the tables it read.
            Statement s(db_, "PRAGMA user_version");
            if (s.ok() && s.step() == SQLITE_ROW)
                version = s.integerAt(0);
        }
        if (version < 0) {
            failSql();
            exec("ROLLBACK");
            return false;
        }
        if (version >= SchemaVersion) {
            exec("ROLLBACK");
            return version == SchemaVersion || fail(std::string(NewerVersion));
        }
        bool ok = exec(Migrations[version]);
        if (ok && version == 0) {
            Statement id(db_, "INSERT INTO meta(key, value) VALUES('installation_id', ?1)");
            id.text(1, randomInstallationId());
            ok = (id.ok() && id.step() == SQLITE_DONE) || failSql();
        }
        if (ok && version == 2) {
            // The machine upgrading the file is taken for the one it belongs to.
            Statement id(db_, "INSERT OR REPLACE INTO meta(key, value) VALUES('machine', ?1)");
            id.text(1, machineIdentity());
            ok = (id.ok() && id.step() == SQLITE_DONE) || failSql();
        }
        const std::string stamp = "PRAGMA application_id=" + std::to_string(ApplicationId) +
                                  "; PRAGMA user_version=" + std::to_string(version + 1);
        ok = ok && exec(stamp.c_str()) && exec("COMMIT");
        if (!ok) {
            const std::string why = error_;
            sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
            return fail(why);
        }
    }
}

// Waits for another writer's transaction (a millisecond or so each) by trying again every half
// millisecond: SQLite's own handler sleeps up to 100 ms between tries, and a writer that comes
// back at once can keep the lock from it for good. A file locked for longer than the timeout is
// reported and the entry given up, never the transfer.
int Store::waitForLock(void* store, int tries) {
    auto* self = static_cast<Store*>(store);
    const auto now = std::chrono::steady_clock::now();
    if (tries == 0)
        self->waitingSince_ = now;
    if (now - self->waitingSince_ >= std::chrono::milliseconds(self->busyTimeoutMs_))
        return 0;
    std::this_thread::sleep_for(std::chrono::microseconds(500));
    return 1;
}

namespace {

bool hexHash(const std::string& text) {
    return text.size() == 64 && text.find_first_not_of("0123456789abcdef") == std::string::npos;
}

bool blank(const std::string& text) {
    return !hasReason(text);
}

// What makes `e` no entry of its kind; empty when it is one. The plant server refuses the same,
// and an entry it refuses holds up every later one of this PC.
std::string problem(const Entry& e) {
    const bool approval = e.action == Action::Approve, revocation = e.action == Action::Revoke;
    if (!approval && !revocation)
        return e.meaning.empty() && !e.subject && e.subjectHash.empty()
                   ? std::string()
                   : "only an approval has a meaning and a subject";
    if (e.serial.empty())
        return "it names no instrument";
    if (blank(e.reason))
        return "it gives no reason";
    if (!e.findings.empty())
        return "only an upload has findings";
    if (e.result != Success)
        return "its result is not SUCCESS";
    if (revocation)
        return e.file || !e.meaning.empty() || e.subject || !e.subjectHash.empty()
                   ? "a revocation holds no parameters and no subject"
                   : std::string();
    if (!e.file)
        return "it holds no parameters";
    if (e.meaning != Approved && e.meaning != Reviewed)
        return "its meaning is neither approved nor reviewed";
    if (!e.subject || !hexHash(e.subjectHash))
        return "it does not name the entry it approves";
    return {};
}

} // namespace

// A copy of another machine's history (a disk image): this one becomes a new installation,
// whose chain goes on from the copy's last entry. In the caller's transaction.
bool Store::takeOwnSource(std::string& source) {
    source = randomInstallationId();
    for (const auto& [key, value] : {std::pair<const char*, std::string>{"installation_id", source},
                                     {"machine", machineIdentity()}}) {
        Statement s(db_, kept_, "INSERT OR REPLACE INTO meta(key, value) VALUES(?1, ?2)");
        s.text(1, key);
        s.text(2, value);
        if (source.empty() || !s.ok() || s.step() != SQLITE_DONE)
            return false;
    }
    return true;
}

std::optional<std::string> Store::nextSource() {
    error_.clear();
    if (!db_ || version_ != SchemaVersion) {
        fail(db_ ? "the history is open for reading only" : "the history is not open");
        return std::nullopt;
    }
    if (!exec("BEGIN IMMEDIATE"))
        return std::nullopt;
    std::string source;
    {
        Statement s(db_, kept_,
                    "SELECT (SELECT value FROM meta WHERE key = 'installation_id'), "
                    "(SELECT value FROM meta WHERE key = 'machine')");
        const bool read = s.ok() && s.step() == SQLITE_ROW;
        if (read)
            source = s.textAt(0);
        if (!read || (s.textAt(1) != machineIdentity() && !takeOwnSource(source))) {
            failSql();
            sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
            return std::nullopt;
        }
    }
    if (!exec("COMMIT"))
        return std::nullopt;
    return source;
}

bool Store::append(Entry& e) {
    error_.clear();
    if (!db_)
        return fail("the history is not open");
    if (version_ != SchemaVersion)
        return fail("the history is open for reading only");
    if (const std::string why = problem(e); !why.empty())
        return fail("not a history entry: " + why);
    if (!exec("BEGIN IMMEDIATE"))
        return false;
    auto rollback = [this, &e] {
        const std::string why = error_.empty() ? std::string(sqlite3_errmsg(db_)) : error_;
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        e.id = 0;
        return fail(why);
    };
    auto run = [this](const char* sql, std::initializer_list<std::string> values) {
        Statement s(db_, kept_, sql);
        int i = 0;
        for (const std::string& v : values)
            s.text(++i, v);
        return s.ok() && s.step() == SQLITE_DONE;
    };

    {
        // The next ID follows the last one ever given, not the last one left.
        Statement last(db_, kept_,
                       "SELECT (SELECT hash FROM entry ORDER BY id DESC LIMIT 1), "
                       "max(ifnull((SELECT max(id) FROM entry), 0), ifnull((SELECT "
                       "CAST(value AS INTEGER) FROM meta WHERE key = 'last_id'), 0)), "
                       "(SELECT value FROM meta WHERE key = 'installation_id'), "
                       "(SELECT value FROM meta WHERE key = 'machine')");
        if (!last.ok() || last.step() != SQLITE_ROW)
            return rollback();
        e.previousHash = last.textAt(0);
        e.id = last.integerAt(1) + 1;
        e.source = last.textAt(2);
        if (last.textAt(3) != machineIdentity() && !takeOwnSource(e.source))
            return rollback();
    }
    e.format = CurrentFormat;
    e.fileHash.clear();
    if (e.file) {
        e.fileHash = sha256Hex(*e.file);
        if (!keepContent(db_, kept_, e.fileHash, *e.file))
            return rollback();
    }
    e.hash = sha256Hex(canonicalText(e));

    Statement insert(db_, kept_,
                     "INSERT INTO entry(id, time, user, host, port, action, scope, part, "
                     "serial, generation, result, stopped_at_field, file_hash, "
                     "previous_hash, hash, format, source, reason, meaning, subject, "
                     "subject_hash, findings, signature) VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, "
                     "?8, ?9, ?10, ?11, ?12, ?13, ?14, ?15, ?16, ?17, ?18, ?19, ?20, ?21, ?22, "
                     "?23)");
    if (!insert.ok())
        return rollback();
    insert.integer(1, e.id);
    insert.text(2, e.time);
    insert.text(3, e.user);
    insert.text(4, e.host);
    insert.text(5, e.port);
    insert.text(6, actionWord(e.action));
    insert.text(7, scopeWord(e.scope));
    insert.textOrNull(8, e.part);
    insert.textOrNull(9, e.serial);
    insert.textOrNull(10, e.generation);
    insert.text(11, e.result);
    if (e.stoppedAtField)
        insert.integer(12, *e.stoppedAtField);
    else
        insert.null(12);
    insert.textOrNull(13, e.fileHash);
    insert.textOrNull(14, e.previousHash);
    insert.text(15, e.hash);
    insert.integer(16, e.format);
    insert.text(17, e.source);
    insert.textOrNull(18, e.reason);
    insert.textOrNull(19, e.meaning);
    if (e.subject)
        insert.integer(20, *e.subject);
    else
        insert.null(20);
    insert.textOrNull(21, e.subjectHash);
    if (const std::string findings = findingsText(e.findings); findings.empty())
        insert.null(22);
    else
        insert.blob(22, findings);
    if (e.signature)
        insert.blob(23, signatureText(*e.signature));
    else
        insert.null(23);
    if (insert.step() != SQLITE_DONE ||
        !run("INSERT OR REPLACE INTO meta(key, value) VALUES('last_id', ?1)",
             {std::to_string(e.id)}))
        return rollback();
    if (sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK)
        return rollback();
    return true;
}

bool Store::scan(const Filter& filter, int64_t limit, int64_t beforeId, bool withFiles,
                 const std::function<bool(const Entry&)>& each) {
    return scanInOrder(filter, limit, beforeId, withFiles, false, each);
}

bool Store::scanOldestFirst(const Filter& filter, bool withFiles,
                            const std::function<bool(const Entry&)>& each) {
    return scanInOrder(filter, 0, 0, withFiles, true, each);
}

bool Store::scanInOrder(const Filter& filter, int64_t limit, int64_t beforeId, bool withFiles,
                        bool oldestFirst, const std::function<bool(const Entry&)>& each) {
    error_.clear();
    if (!db_)
        return fail("the history is not open");
    std::string sql =
        std::string("SELECT ") + columns_ + (withFiles ? WithFileText : " FROM entry");
    std::vector<std::string> values;
    std::string where;
    auto condition = [&](const std::string& test, std::string value) {
        where += (where.empty() ? " WHERE " : " AND ") + test;
        values.push_back(std::move(value));
    };
    if (!filter.serial.empty())
        condition("entry.serial = ?", filter.serial);
    if (!filter.part.empty())
        condition("entry.part = ?", filter.part);
    if (filter.action)
        condition("entry.action = ?", std::string(actionWord(*filter.action)));
    if (!filter.text.empty())
        condition("instr(lower(entry.time || ' ' || entry.user || ' ' || entry.host || ' ' || "
                  "entry.port || ' ' || entry.action || ' ' || entry.scope || ' ' || "
                  "ifnull(entry.part, '') || ' ' || ifnull(entry.serial, '') || ' ' || "
                  "ifnull(entry.generation, '') || ' ' || entry.result" +
                      std::string(version_ >= 4 ? " || ' ' || ifnull(entry.reason, '') || ' ' "
                                                  "|| ifnull(entry.meaning, '')"
                                                : "") +
                      "), ?) > 0",
                  asciiLower(filter.text));
    sql += where;
    if (beforeId > 0)
        sql += (where.empty() ? " WHERE " : " AND ") + std::string("entry.id < ") +
               std::to_string(beforeId);
    sql += oldestFirst ? " ORDER BY entry.id" : " ORDER BY entry.id DESC";
    if (limit > 0)
        sql += " LIMIT " + std::to_string(limit);

    Statement s(db_, sql);
    if (!s.ok())
        return failSql();
    for (size_t i = 0; i < values.size(); ++i)
        s.text(static_cast<int>(i + 1), values[i]);
    for (;;) {
        const int rc = s.step();
        if (rc == SQLITE_DONE)
            return true;
        if (rc != SQLITE_ROW)
            return failSql();
        if (!each(readEntry(s, withFiles)))
            return true;
    }
}

std::optional<std::vector<Entry>> Store::list(const Filter& filter, int64_t limit,
                                              int64_t beforeId) {
    std::vector<Entry> entries;
    if (!scan(filter, limit, beforeId, false, [&](const Entry& e) {
            entries.push_back(e);
            return true;
        }))
        return std::nullopt;
    return entries;
}

std::optional<Entry> Store::entry(int64_t id) {
    error_.clear();
    if (!db_) {
        fail("the history is not open");
        return std::nullopt;
    }
    Statement s(db_, std::string("SELECT ") + columns_ + WithFileText + " WHERE entry.id = ?1");
    if (!s.ok()) {
        failSql();
        return std::nullopt;
    }
    s.integer(1, id);
    const int rc = s.step();
    if (rc == SQLITE_ROW)
        return readEntry(s, true);
    if (rc != SQLITE_DONE)
        failSql();
    return std::nullopt;
}

namespace {

// A kind of entry: any of its actions, and what else it must hold.
struct Kind {
    std::vector<const char*> actions;
    std::string condition; // of entry's columns; empty for none
};

const Kind Transfers{{"upload", "download"}, {}};
const Kind Known{{"upload", "download"},
                 "entry.result = 'SUCCESS' AND entry.file_hash IS NOT NULL"};
const Kind Uploaded{{"upload"}, Known.condition};
const Kind Approvals{{"approve", "revoke"}, {}};

// The ID of the latest entry of `kind` of the instrument and scope the SQL expressions name, 0
// when there is none. One probe of the instrument index per action: with the actions in one
// IN list SQLite would read every entry of the scope and sort them.
std::string newestId(const Kind& kind, const std::string& serial, const std::string& scope,
                     const std::string& part) {
    auto probe = [&](const char* action) {
        return "ifnull((SELECT entry.id FROM entry WHERE entry.serial = " + serial +
               " AND entry.scope = " + scope + " AND entry.part IS " + part +
               " AND entry.action = '" + action + "'" +
               (kind.condition.empty() ? std::string() : " AND " + kind.condition) +
               " ORDER BY entry.id DESC LIMIT 1), 0)";
    };
    std::string sql = probe(kind.actions.front());
    for (size_t i = 1; i < kind.actions.size(); ++i)
        sql = "max(" + sql + ", " + probe(kind.actions[i]) + ")";
    return sql;
}

// The latest entry of this instrument and scope of `kind` (bound: serial, scope, part, then
// `extra` as ?4 for the kind's condition), with its file when it has one; none with `failed`
// set when the history could not be read.
std::optional<Entry> latest(sqlite3* db, KeptStatements& kept, const std::string& columns,
                            const Kind& kind, const std::string& serial, Scope scope,
                            const std::string& part, std::optional<int64_t> extra, bool& failed) {
    failed = true;
    Statement s(db, kept,
                std::string("SELECT ") + columns + WithFileText +
                    " WHERE entry.id = " + newestId(kind, "?1", "?2", "?3"));
    if (!s.ok())
        return std::nullopt;
    s.text(1, serial);
    s.text(2, scopeWord(scope));
    s.textOrNull(3, scope == Scope::Part ? part : std::string());
    if (extra)
        s.integer(4, *extra);
    const int rc = s.step();
    failed = rc != SQLITE_ROW && rc != SQLITE_DONE;
    if (rc != SQLITE_ROW)
        return std::nullopt;
    return readEntry(s, true);
}

} // namespace

std::optional<Entry> Store::previous(const Entry& e) {
    error_.clear();
    if (!db_ || e.serial.empty())
        return std::nullopt;
    // A transfer follows the transfers before it, an approval the approvals: an approval's
    // values are those of a transfer, made at any time after it.
    const Kind kind{e.action == Action::Approve ? std::vector<const char*>{"approve"}
                                                : Transfers.actions,
                    "entry.id < ?4 AND entry.file_hash IS NOT NULL"};
    bool failed = false;
    auto found = latest(db_, kept_, columns_, kind, e.serial, e.scope, e.part, e.id, failed);
    if (failed)
        failSql();
    return found;
}

std::optional<Entry> Store::lastUpload(const std::string& serial, Scope scope,
                                       const std::string& part) {
    error_.clear();
    if (!db_ || serial.empty())
        return std::nullopt;
    bool failed = false;
    auto found = latest(db_, kept_, columns_, Uploaded, serial, scope, part, std::nullopt, failed);
    if (failed)
        failSql();
    return found;
}

std::optional<Entry> Store::lastKnown(const std::string& serial, Scope scope,
                                      const std::string& part) {
    error_.clear();
    if (!db_) {
        fail("the history is not open");
        return std::nullopt;
    }
    if (serial.empty())
        return std::nullopt;
    bool failed = false;
    auto found = latest(db_, kept_, columns_, Known, serial, scope, part, std::nullopt, failed);
    if (failed)
        failSql();
    return found;
}

std::optional<Entry> Store::lastAtPort(const std::string& port, int64_t beforeId) {
    error_.clear();
    if (!db_) {
        fail("the history is not open");
        return std::nullopt;
    }
    Statement s(db_, kept_,
                std::string("SELECT ") + columns_ +
                    " FROM entry WHERE entry.port = ?1 AND entry.serial IS NOT NULL AND "
                    "entry.serial != '' AND entry.action IN ('upload', 'download') AND "
                    "(?2 = 0 OR entry.id < ?2) ORDER BY entry.id DESC LIMIT 1");
    if (!s.ok()) {
        failSql();
        return std::nullopt;
    }
    s.text(1, port);
    s.integer(2, beforeId);
    const int rc = s.step();
    if (rc != SQLITE_ROW) {
        if (rc != SQLITE_DONE)
            failSql();
        return std::nullopt;
    }
    return readEntry(s, false);
}

std::optional<Entry> Store::approval(const std::string& serial, Scope scope,
                                     const std::string& part) {
    error_.clear();
    if (!db_) {
        fail("the history is not open");
        return std::nullopt;
    }
    if (plantApprovals_)
        return plantApproval(serial, scope, part);
    if (serial.empty() || version_ < 4)
        return std::nullopt;
    bool failed = false;
    auto found = latest(db_, kept_, columns_, Approvals, serial, scope, part, std::nullopt, failed);
    if (failed)
        failSql();
    if (found && found->action != Action::Approve)
        return std::nullopt; // revoked
    return found;
}

namespace {

// A JSON array of IDs, for json_each().
std::string idList(const std::vector<int64_t>& ids) {
    std::string out = "[";
    for (const int64_t id : ids)
        out += (out.size() > 1 ? "," : "") + std::to_string(id);
    return out + "]";
}

} // namespace

std::optional<std::vector<ScopeState>> Store::scopes(const std::string& serial) {
    error_.clear();
    if (!db_) {
        fail("the history is not open");
        return std::nullopt;
    }
    // One read transaction: an entry appended meanwhile is seen by both queries or neither.
    if (!exec("BEGIN"))
        return std::nullopt;
    struct End {
        sqlite3* db;
        ~End() { sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr); }
    } end{db_};

    // Every instrument and scope, and the IDs of its latest entries of each kind: a few probes
    // of the instrument index each.
    auto newest = [](const Kind& kind) { return newestId(kind, "k.serial", "k.scope", "k.part"); };
    Statement keys(db_, "SELECT k.serial, k.scope, k.part, " + newest(Transfers) + ", " +
                            newest(Known) + ", " +
                            (version_ >= 4 ? newest(Approvals) : std::string("NULL")) +
                            " FROM (SELECT DISTINCT serial, scope, part FROM entry WHERE serial "
                            "IS NOT NULL" +
                            (serial.empty() ? "" : " AND serial = ?1") + ") k");
    if (!keys.ok()) {
        failSql();
        return std::nullopt;
    }
    if (!serial.empty())
        keys.text(1, serial);
    struct Ids {
        int64_t latest = 0, upload = 0, marker = 0;
    };
    std::vector<ScopeState> states;
    std::vector<Ids> ids;
    std::vector<int64_t> plain, withFile;
    int rc;
    while ((rc = keys.step()) == SQLITE_ROW) {
        ScopeState st;
        st.serial = keys.textAt(0);
        st.scope = scopeFromWord(keys.textAt(1)).value_or(Scope::System);
        st.part = keys.textAt(2);
        const Ids i{keys.integerAt(3), keys.integerAt(4), keys.integerAt(5)};
        if (i.latest)
            plain.push_back(i.latest);
        for (const int64_t id : {i.upload, i.marker})
            if (id)
                withFile.push_back(id);
        states.push_back(std::move(st));
        ids.push_back(i);
    }
    if (rc != SQLITE_DONE) {
        failSql();
        return std::nullopt;
    }

    // The entries those IDs name; the files of the uploads and approvals alone.
    std::map<int64_t, Entry> entries;
    for (const bool files : {false, true}) {
        Statement s(db_, std::string("SELECT ") + columns_ +
                             (files ? WithFileText : " FROM entry") +
                             " WHERE entry.id IN (SELECT value FROM json_each(?1))");
        if (!s.ok()) {
            failSql();
            return std::nullopt;
        }
        s.text(1, idList(files ? withFile : plain));
        while ((rc = s.step()) == SQLITE_ROW) {
            Entry e = readEntry(s, files);
            const int64_t id = e.id;
            entries[id] = std::move(e);
        }
        if (rc != SQLITE_DONE) {
            failSql();
            return std::nullopt;
        }
    }
    for (size_t i = 0; i < states.size(); ++i) {
        ScopeState& st = states[i];
        if (const auto it = entries.find(ids[i].latest); it != entries.end()) {
            st.generation = it->second.generation;
            st.lastContact = it->second.time;
            st.lastHost = it->second.host;
        }
        if (const auto it = entries.find(ids[i].upload); it != entries.end())
            st.latestValues = it->second;
        if (const auto it = entries.find(ids[i].marker); it != entries.end()) {
            if (it->second.action == Action::Approve)
                st.approval = it->second;
            else
                st.revoked = true;
        }
        if (st.generation.empty() && st.approval)
            st.generation = st.approval->generation;
    }
    if (plantApprovals_)
        for (ScopeState& st : states) {
            bool revoked = false;
            st.approval = plantApproval(st.serial, st.scope, st.part, &revoked);
            if (!error_.empty())
                return std::nullopt;
            st.revoked = revoked;
        }
    std::sort(states.begin(), states.end(), scopeBefore);
    return states;
}

namespace {

// The order the plant's approvals and revocations were signed in: the number the server gave
// the signature ("number 2:17\n..."), as the entry carries it.
constexpr const char* SignedOrder =
    "CAST(substr(a.signature, instr(a.signature, ':') + 1) AS INTEGER)";

// The copy's rows as entries (readEntry's columns), with their files.
constexpr const char* PlantCopyColumns =
    "SELECT a.id, a.time, a.user, a.host, '', a.action, a.scope, a.part, a.serial, "
    "a.generation, a.result, NULL, a.file_hash, a.previous_hash, a.hash, a.format, a.source, "
    "a.reason, a.meaning, a.subject, a.subject_hash, NULL, a.signature, content.text "
    "FROM plant_approval a "
    "LEFT JOIN content ON content.hash = a.file_hash";

} // namespace

std::optional<Entry> Store::plantApproval(const std::string& serial, Scope scope,
                                          const std::string& part, bool* revoked) {
    error_.clear();
    if (revoked)
        *revoked = false;
    if (!db_) {
        fail("the history is not open");
        return std::nullopt;
    }
    // Only what a person signed at the plant counts; what a server of before signatures held
    // is kept in the copy, counting for nothing.
    if (serial.empty() || version_ < 6)
        return std::nullopt;
    Statement s(db_, kept_,
                std::string(PlantCopyColumns) +
                    " WHERE a.plant = (SELECT value FROM meta WHERE key = 'plant_copy_of') AND "
                    "a.serial = ?1 AND a.scope = ?2 AND a.part IS ?3 AND a.signature IS NOT NULL "
                    "ORDER BY " +
                    SignedOrder + " DESC, a.id DESC LIMIT 1");
    if (!s.ok()) {
        failSql();
        return std::nullopt;
    }
    s.text(1, serial);
    s.text(2, scopeWord(scope));
    s.textOrNull(3, scope == Scope::Part ? part : std::string());
    const int rc = s.step();
    if (rc != SQLITE_ROW) {
        if (rc != SQLITE_DONE)
            failSql();
        return std::nullopt;
    }
    Entry e = readEntry(s, true);
    if (e.action == Action::Approve)
        return e;
    if (revoked)
        *revoked = true;
    return std::nullopt;
}

std::optional<Store::PlantCopy> Store::plantCopy() {
    error_.clear();
    if (!db_) {
        fail("the history is not open");
        return std::nullopt;
    }
    if (version_ < 5)
        return std::nullopt;
    PlantCopy copy;
    for (auto [key, into] :
         {std::pair{"plant_copy_of", &copy.plant}, std::pair{"plant_copied_at", &copy.copiedAt}}) {
        const auto v = value(key);
        if (!v)
            return std::nullopt;
        *into = *v;
    }
    if (copy.plant.empty())
        return std::nullopt;
    const auto seen = value("plant_copy_seen_to");
    if (!seen)
        return std::nullopt;
    copy.seenTo = std::atoll(seen->c_str());
    Statement s(db_, "SELECT key, value FROM plant_setting");
    if (!s.ok()) {
        failSql();
        return std::nullopt;
    }
    int rc;
    while ((rc = s.step()) == SQLITE_ROW)
        copy.settings[s.textAt(0)] = s.textAt(1);
    if (rc != SQLITE_DONE) {
        failSql();
        return std::nullopt;
    }
    return copy;
}

bool Store::keepPlantCopy(const PlantCopy& copy, const std::vector<Entry>& approvals) {
    error_.clear();
    if (!db_)
        return fail("the history is not open");
    if (version_ < 6)
        return fail("history is of an older version: open it for writing first");
    if (!exec("BEGIN IMMEDIATE"))
        return false;
    auto rollback = [this] {
        const std::string why = error_;
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        error_ = why;
        return false;
    };
    for (const Entry& e : approvals) {
        // A file is kept under its own hash alone: the content table serves every entry.
        if ((e.action != Action::Approve && e.action != Action::Revoke) ||
            (e.file && sha256Hex(*e.file) != e.fileHash))
            return fail("the plant's entry " + std::to_string(e.id) +
                        " is no approval with the file it names; nothing was copied"),
                   rollback();
        if (e.file && !keepContent(db_, kept_, e.fileHash, *e.file))
            return failSql(), rollback();
        Statement row(db_, kept_,
                      "INSERT OR IGNORE INTO plant_approval(plant, id, time, user, host, action, "
                      "scope, part, serial, generation, result, file_hash, previous_hash, hash, "
                      "format, source, reason, meaning, subject, subject_hash, signature) "
                      "VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14, ?15, "
                      "?16, ?17, ?18, ?19, ?20, ?21)");
        if (!row.ok())
            return failSql(), rollback();
        row.text(1, copy.plant);
        row.integer(2, e.id);
        row.text(3, e.time);
        row.text(4, e.user);
        row.text(5, e.host);
        row.text(6, actionWord(e.action));
        row.text(7, scopeWord(e.scope));
        row.textOrNull(8, e.scope == Scope::Part ? e.part : std::string());
        row.text(9, e.serial);
        row.text(10, e.generation);
        row.text(11, e.result);
        row.textOrNull(12, e.file ? e.fileHash : std::string());
        row.text(13, e.previousHash);
        row.text(14, e.hash);
        row.integer(15, e.format);
        row.text(16, e.source);
        row.text(17, e.reason);
        row.text(18, e.meaning);
        if (e.subject)
            row.integer(19, *e.subject);
        else
            row.null(19);
        row.text(20, e.subjectHash);
        if (e.signature)
            row.blob(21, signatureText(*e.signature));
        else
            row.null(21);
        if (row.step() != SQLITE_DONE)
            return failSql(), rollback();
    }
    if (!exec("DELETE FROM plant_setting"))
        return rollback();
    for (const auto& [key, text] : copy.settings) {
        Statement s(db_, "INSERT INTO plant_setting(key, value) VALUES(?1, ?2)");
        if (!s.ok())
            return failSql(), rollback();
        s.text(1, key);
        s.text(2, text);
        if (s.step() != SQLITE_DONE)
            return failSql(), rollback();
    }
    if (!setValue("plant_copy_of", copy.plant) || !setValue("plant_copied_at", copy.copiedAt) ||
        !setValue("plant_copy_seen_to", std::to_string(copy.seenTo)))
        return rollback();
    return exec("COMMIT") || rollback();
}

std::optional<Entry> Store::approve(int64_t subjectId, const std::string& meaning,
                                    const std::string& reason, const PlantPolicy& policy) {
    const std::optional<Entry> subject = entry(subjectId);
    if (!subject) {
        if (error_.empty())
            fail("no history entry " + std::to_string(subjectId));
        return std::nullopt;
    }
    std::string refusal;
    std::optional<Entry> a = approvalFrom(*subject, meaning, reason, refusal, policy);
    if (!a) {
        fail(refusal);
        return std::nullopt;
    }
    if (!append(*a))
        return std::nullopt;
    return a;
}

std::optional<Entry> Store::revoke(const std::string& serial, Scope scope, const std::string& part,
                                   const std::string& reason) {
    const std::optional<Entry> inForce = approval(serial, scope, part);
    if (!inForce) {
        if (error_.empty())
            fail(noApprovalText(serial, scope, part));
        return std::nullopt;
    }
    Entry r = revocationOf(serial, scope, part, reason);
    if (!append(r))
        return std::nullopt;
    return r;
}

namespace {

std::string removedText(int64_t first, int64_t last, const char* where) {
    if (first == last)
        return "entry " + std::to_string(first) + where + " was removed";
    return "entries " + std::to_string(first) + " to " + std::to_string(last) + where +
           " were removed";
}

} // namespace

std::optional<Verification> Store::verify() {
    error_.clear();
    if (!db_) {
        fail("the history is not open");
        return std::nullopt;
    }
    // One read transaction: entries appended meanwhile are not half seen.
    if (!exec("BEGIN"))
        return std::nullopt;
    struct End {
        sqlite3* db;
        ~End() { sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr); }
    } end{db_};

    {
        Statement check(db_, "PRAGMA quick_check(1)");
        if (!check.ok() || check.step() != SQLITE_ROW) {
            failSql(path_);
            return std::nullopt;
        }
        if (check.textAt(0) != "ok") {
            fail(path_ + " is damaged: " + check.textAt(0));
            return std::nullopt;
        }
    }

    // Each stored file once: its text must still give its hash.
    std::set<std::string> files, changedFiles;
    {
        Statement s(db_, "SELECT hash, text FROM content");
        if (!s.ok()) {
            failSql();
            return std::nullopt;
        }
        int rc;
        while ((rc = s.step()) == SQLITE_ROW) {
            const std::string hash = s.textAt(0);
            files.insert(hash);
            if (sha256Hex(s.textAt(1)) != hash)
                changedFiles.insert(hash);
        }
        if (rc != SQLITE_DONE) {
            failSql();
            return std::nullopt;
        }
    }

    Verification v;
    Statement s(db_, std::string("SELECT ") + columns_ + " FROM entry ORDER BY entry.id");
    if (!s.ok()) {
        failSql();
        return std::nullopt;
    }
    std::string previousHash;
    int64_t previousId = 0;
    int rc;
    while ((rc = s.step()) == SQLITE_ROW) {
        const Entry e = readEntry(s, false);
        ++v.entries;
        std::string why;
        if (e.previousHash != previousHash)
            why = previousId ? "it does not follow entry " + std::to_string(previousId)
                             : "it is not the first entry";
        else if (sha256Hex(canonicalText(e)) != e.hash)
            why = "its content does not match its hash";
        else if (!e.fileHash.empty() && !files.count(e.fileHash))
            why = "its parameter file is missing";
        else if (changedFiles.count(e.fileHash))
            why = "its parameter file was changed";
        else if (e.id != previousId + 1)
            // IDs are never given twice: a gap is entries removed, with the chain mended.
            why = removedText(previousId + 1, e.id - 1, " before it");
        if (!why.empty()) {
            v.firstBroken = e.id;
            v.why = why;
            return v;
        }
        previousHash = e.hash;
        previousId = e.id;
    }
    if (rc != SQLITE_DONE) {
        failSql();
        return std::nullopt;
    }
    if (version_ >= 3) {
        // The newest entries removed leave no gap, but the last ID given stays.
        Statement last(db_, "SELECT CAST(value AS INTEGER) FROM meta WHERE key = 'last_id'");
        if (last.ok() && last.step() == SQLITE_ROW && last.integerAt(0) > previousId) {
            v.firstBroken = previousId + 1;
            v.why = removedText(previousId + 1, last.integerAt(0), ", the newest,");
        }
    }
    return v;
}

std::optional<std::vector<ChainLink>> Store::chain() {
    error_.clear();
    if (!db_) {
        fail("the history is not open");
        return std::nullopt;
    }
    Statement s(db_, std::string("SELECT entry.id, ") +
                         (version_ >= 3 ? "entry.source" : SourceBefore3) +
                         ", entry.hash, entry.forwarded FROM entry ORDER BY entry.id");
    if (!s.ok()) {
        failSql();
        return std::nullopt;
    }
    std::vector<ChainLink> links;
    int rc;
    while ((rc = s.step()) == SQLITE_ROW)
        links.push_back({s.integerAt(0), s.textAt(1), s.textAt(2), s.integerAt(3) != 0});
    if (rc != SQLITE_DONE) {
        failSql();
        return std::nullopt;
    }
    return links;
}

std::string Store::installationId() {
    if (!db_)
        return {};
    Statement s(db_, "SELECT value FROM meta WHERE key = 'installation_id'");
    return s.ok() && s.step() == SQLITE_ROW ? s.textAt(0) : std::string();
}

std::optional<std::vector<Entry>> Store::unforwarded(int64_t limit) {
    error_.clear();
    if (!db_) {
        fail("the history is not open");
        return std::nullopt;
    }
    Statement s(db_, std::string("SELECT ") + columns_ + WithFileText +
                         " WHERE entry.forwarded = 0 ORDER BY entry.id LIMIT ?1");
    if (!s.ok()) {
        failSql();
        return std::nullopt;
    }
    s.integer(1, limit);
    std::vector<Entry> entries;
    int rc;
    while ((rc = s.step()) == SQLITE_ROW)
        entries.push_back(readEntry(s, true));
    if (rc != SQLITE_DONE) {
        failSql();
        return std::nullopt;
    }
    return entries;
}

std::optional<int64_t> Store::unforwardedCount() {
    error_.clear();
    if (!db_) {
        fail("the history is not open");
        return std::nullopt;
    }
    Statement s(db_, "SELECT count(*) FROM entry WHERE forwarded = 0");
    if (!s.ok() || s.step() != SQLITE_ROW) {
        failSql();
        return std::nullopt;
    }
    return s.integerAt(0);
}

bool Store::markForwarded(int64_t first, int64_t last, const std::string& plantId) {
    error_.clear();
    if (!db_)
        return fail("the history is not open");
    // Only while the history still forwards to that server: another process pointed at another
    // one in the meantime has queued everything for it again.
    Statement s(db_, "UPDATE entry SET forwarded = 1 WHERE forwarded = 0 AND id BETWEEN ?1 AND ?2 "
                     "AND (SELECT value FROM meta WHERE key = 'forwarded_to') = ?3");
    if (!s.ok())
        return failSql();
    s.integer(1, first);
    s.integer(2, last);
    s.text(3, plantId);
    return s.step() == SQLITE_DONE || failSql();
}

bool Store::forwardAllTo(const std::string& plantId) {
    error_.clear();
    if (!db_)
        return fail("the history is not open");
    if (!exec("BEGIN IMMEDIATE"))
        return false;
    bool ok = exec("UPDATE entry SET forwarded = 0 WHERE forwarded <> 0");
    if (ok) {
        Statement s(db_, "INSERT OR REPLACE INTO meta(key, value) VALUES('forwarded_to', ?1)");
        s.text(1, plantId);
        ok = (s.ok() && s.step() == SQLITE_DONE) || failSql();
    }
    if (ok && exec("COMMIT"))
        return true;
    const std::string why = error_;
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    return fail(why);
}

bool Store::goOnInChainOfItsOwn(int64_t fromId) {
    error_.clear();
    if (!db_)
        return fail("the history is not open");
    if (version_ != SchemaVersion)
        return fail("the history is open for reading only");
    if (!exec("BEGIN IMMEDIATE"))
        return false;
    auto rollback = [this](const std::string& why) {
        const std::string text = why.empty() ? std::string(sqlite3_errmsg(db_)) : why;
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        return fail(text);
    };
    std::vector<Entry> entries;
    std::string previous;
    {
        Statement s(db_, std::string("SELECT ") + columns_ + WithFileText +
                             " WHERE entry.id >= ?1 ORDER BY entry.id");
        Statement forwarded(db_, "SELECT count(*) FROM entry WHERE id >= ?1 AND forwarded <> 0");
        Statement before(db_, "SELECT hash FROM entry WHERE id < ?1 ORDER BY id DESC LIMIT 1");
        if (!s.ok() || !forwarded.ok() || !before.ok())
            return rollback({});
        forwarded.integer(1, fromId);
        if (forwarded.step() != SQLITE_ROW)
            return rollback({});
        if (forwarded.integerAt(0) != 0)
            return rollback("entries from " + std::to_string(fromId) + " on were forwarded");
        before.integer(1, fromId);
        const int rc = before.step();
        if (rc == SQLITE_ROW)
            previous = before.textAt(0);
        else if (rc != SQLITE_DONE)
            return rollback({});
        s.integer(1, fromId);
        int step;
        while ((step = s.step()) == SQLITE_ROW)
            entries.push_back(readEntry(s, false));
        if (step != SQLITE_DONE)
            return rollback({});
    }
    const std::string source = randomInstallationId();
    if (source.empty())
        return rollback("no new installation ID");
    std::map<std::string, std::string> rehashed; // old hash -> new
    Statement update(db_, "UPDATE entry SET source = ?1, previous_hash = ?2, hash = ?3, "
                          "subject_hash = ?4 WHERE id = ?5");
    if (!update.ok())
        return rollback({});
    for (Entry& e : entries) {
        if (e.format < 2)
            return rollback("entry " + std::to_string(e.id) + " names no installation");
        if (const auto it = rehashed.find(e.subjectHash); it != rehashed.end())
            e.subjectHash = it->second;
        e.source = source;
        e.previousHash = previous;
        const std::string old = e.hash;
        e.hash = sha256Hex(canonicalText(e));
        rehashed[old] = e.hash;
        previous = e.hash;
        update.reset();
        update.text(1, e.source);
        update.textOrNull(2, e.previousHash);
        update.text(3, e.hash);
        update.textOrNull(4, e.subjectHash);
        update.integer(5, e.id);
        if (update.step() != SQLITE_DONE)
            return rollback({});
    }
    Statement id(db_, "INSERT OR REPLACE INTO meta(key, value) VALUES('installation_id', ?1)");
    if (!id.ok())
        return rollback({});
    id.text(1, source);
    if (id.step() != SQLITE_DONE || !exec("COMMIT"))
        return rollback({});
    return true;
}

std::optional<std::string> Store::value(const std::string& key) {
    error_.clear();
    if (!db_) {
        fail("the history is not open");
        return std::nullopt;
    }
    Statement s(db_, "SELECT value FROM meta WHERE key = ?1");
    if (!s.ok()) {
        failSql();
        return std::nullopt;
    }
    s.text(1, key);
    const int rc = s.step();
    if (rc == SQLITE_ROW)
        return s.textAt(0);
    if (rc != SQLITE_DONE) {
        failSql();
        return std::nullopt;
    }
    return std::string();
}

bool Store::setValue(const std::string& key, const std::string& text) {
    error_.clear();
    if (!db_)
        return fail("the history is not open");
    Statement s(db_, text.empty() ? "DELETE FROM meta WHERE key = ?1"
                                  : "INSERT OR REPLACE INTO meta(key, value) VALUES(?1, ?2)");
    if (!s.ok())
        return failSql();
    s.text(1, key);
    if (!text.empty())
        s.text(2, text);
    return s.step() == SQLITE_DONE || failSql();
}

// ---------------------------------------------------------------- where the file lives

namespace {

std::string environment(const char* name) {
    return environmentText(name);
}

} // namespace

std::string defaultHistoryPath() {
    namespace fs = std::filesystem;
    if (std::string chosen = environment("PARAMPORTER_HISTORY"); !chosen.empty())
        return chosen;
    fs::path data;
#if defined(_WIN32)
    // Local, not roaming: a history belongs to this PC and its instruments.
    data = pathFromUtf8(environment("LOCALAPPDATA"));
    return utf8FromPath(data / "ParamPorter" / "history.sqlite");
#elif defined(__APPLE__)
    data = fs::path(environment("HOME")) / "Library" / "Application Support";
#else
    data = environment("XDG_DATA_HOME");
    if (data.empty() || !data.is_absolute()) {
        std::string home = environment("HOME");
        if (home.empty())
            if (const passwd* pw = ::getpwuid(::geteuid()))
                home = pw->pw_dir ? pw->pw_dir : "";
        data = fs::path(home) / ".local" / "share";
    }
#endif
    return (data / "paramporter" / "history.sqlite").string();
}

} // namespace pp::history
