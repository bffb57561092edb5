// The history store on the real file system: what is written comes back in order after a
// reopen, the chain names the first entry that was tampered with, every older file is read as
// it is and migrated when written, readers change nothing, a history another program is making
// is waited for, a copied history or a removed tail
// never gives an ID twice, and a file the store must not write (newer, damaged, someone
// else's, in a place it cannot write) is refused and left byte for byte as it was. An entry of
// a system transfer opens as the system upload left it, and so does that sheet recorded again.
// The approval in force and every instrument's scopes; the approvals the plant's rules refuse.
// Entries as text for terminals, spreadsheets and programs.
#include "files/param_file.h"
#include "history/entry_sheet.h"
#include "history/formats.h"
#include "history/recording.h"
#include "history/store.h"
#include "link/records.h"
#include "sim/instrument.h"
#include "support/fakes.h"
#include "support/history_support.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <sqlite3.h>

#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

using namespace pp;
using namespace pp::history;

namespace {

Entry make(Action action, Scope scope, std::string part, std::string result,
           std::optional<std::string> file, std::string serial = "1234") {
    Entry e;
    e.time = "2026-12-08T14:03:07.412Z";
    e.user = "tech";
    e.host = "bench-pc";
    e.port = "/dev/ttyUSB0";
    e.action = action;
    e.scope = scope;
    e.part = std::move(part);
    e.serial = std::move(serial);
    e.generation = "V7.3";
    e.result = std::move(result);
    e.file = std::move(file);
    return e;
}

QByteArray bytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// A read-only tmpfs over `folder`, unmounted at the end; not mounted where this process may
// not mount.
class ReadOnlyMount {
public:
    explicit ReadOnlyMount(const QString& folder, unsigned long flags = MS_RDONLY,
                           const char* size = "size=64k")
        : folder_(folder.toStdString()) {
        mounted_ = ::mount("tmpfs", folder_.c_str(), "tmpfs", flags, size) == 0;
    }
    ~ReadOnlyMount() {
        if (mounted_)
            ::umount2(folder_.c_str(), MNT_DETACH);
    }
    bool mounted() const { return mounted_; }

private:
    std::string folder_;
    bool mounted_ = false;
};

} // namespace

class TestHistory : public QObject {
    Q_OBJECT

private slots:
    void init() {
        dir_ = std::make_unique<QTemporaryDir>();
        QVERIFY(dir_->isValid());
    }

    void writtenReopenedSameEntriesInOrder();
    void filtersAndLookups();
    void verifyNamesTheFirstTamperedEntry_data();
    void verifyNamesTheFirstTamperedEntry();
    void refusedFilesAreLeftAlone_data();
    void refusedFilesAreLeftAlone();
    void unwritablePlaces_data();
    void unwritablePlaces();
    void olderFilesReadAsTheyAreAndMigrated();
    void readersChangeNothing();
    void newFileMadeByAnotherWriterMeanwhile();
    void copiesAndRemovalsNeverGiveAnIdTwice();
    void previousVersionFileKeepsVerifying();
    void approvalInForceAndScopes();
    void approvalsThePlantRefuses();
    void systemEntryOpensAsTheUploadLeftIt();
    void textsForTerminalsSpreadsheetsAndPrograms();

private:
    QString path(const QString& name = QStringLiteral("history.sqlite")) const {
        return dir_->filePath(name);
    }
    std::string db() const { return path().toStdString(); }
    // Four entries: system upload, part upload, a failed part upload, a download stopped early.
    std::vector<Entry> fill(Store& store) {
        std::vector<Entry> written{
            make(Action::Upload, Scope::System, "", "SUCCESS", "system"),
            make(Action::Upload, Scope::Part, "05", "SUCCESS", "part 5"),
            make(Action::Upload, Scope::Part, "05", "Check sum error", std::nullopt),
            make(Action::Download, Scope::Part, "05", "Error - NAK received from leak unit",
                 "part 5"),
        };
        written[3].stoppedAtField = 3;
        written[1].findings = {{"last", "Leak Limit", "1.5", "1.6"}};
        written[3].reason = "new batch";
        for (Entry& e : written)
            if (!store.append(e))
                qWarning("append: %s", store.error().c_str());
        return written;
    }

    std::unique_ptr<QTemporaryDir> dir_;
};

void TestHistory::writtenReopenedSameEntriesInOrder() {
    std::vector<Entry> written;
    {
        Store store;
        QVERIFY2(store.open(db()), store.error().c_str());
        written = fill(store);
    }
    Store store;
    QVERIFY2(store.open(db(), Store::Mode::ReadOnly), store.error().c_str());
    const auto listed = store.list({}, 0);
    QVERIFY(listed);
    QCOMPARE(listed->size(), written.size());
    for (size_t i = 0; i < written.size(); ++i) {
        // Newest first; the listing leaves the file texts out, the entry itself has them.
        Entry expected = written[written.size() - 1 - i];
        QCOMPARE(static_cast<size_t>(expected.id), written.size() - i);
        const auto full = store.entry(expected.id);
        QVERIFY(full);
        QVERIFY(*full == expected);
        expected.file.reset();
        QVERIFY((*listed)[i] == expected);
    }
    QVERIFY(!store.entry(99));
    QVERIFY(store.error().empty());
    // Each entry names the one before it.
    QVERIFY(written[0].previousHash.empty());
    QCOMPARE(written[3].previousHash, written[2].hash);
}

void TestHistory::filtersAndLookups() {
    Store store;
    QVERIFY(store.open(db()));
    const std::vector<Entry> written = fill(store);
    Entry other = make(Action::Upload, Scope::Part, "05", "SUCCESS", "other", "777");
    QVERIFY(store.append(other));

    auto ids = [&](const Filter& f, int64_t limit = 0, int64_t before = 0) {
        std::vector<int64_t> out;
        const auto page = store.list(f, limit, before);
        for (size_t i = 0; page && i < page->size(); ++i)
            out.push_back((*page)[i].id);
        return out;
    };
    using Ids = std::vector<int64_t>;
    QCOMPARE(ids({}), (Ids{5, 4, 3, 2, 1}));
    auto filter = [](std::string serial, std::string part, std::optional<Action> action,
                     std::string text) {
        Filter f;
        f.serial = std::move(serial);
        f.part = std::move(part);
        f.action = action;
        f.text = std::move(text);
        return f;
    };
    QCOMPARE(ids(filter("777", "", {}, "")), Ids{5});
    QCOMPARE(ids(filter("", "05", Action::Download, "")), Ids{4});
    QCOMPARE(ids(filter("", "", {}, "nak")), Ids{4});
    QCOMPARE(ids({}, 2, 4), (Ids{3, 2})); // the page after entry 4

    // The previous entry with parameters of the same instrument, scope and part number.
    QCOMPARE(store.previous(written[3])->id, int64_t(2));
    QVERIFY(!store.previous(written[0]));
    QCOMPARE(store.lastUpload("1234", Scope::Part, "05")->id, int64_t(2));
    QCOMPARE(store.lastUpload("1234", Scope::System, "")->file,
             std::optional<std::string>("system"));
    QVERIFY(!store.lastUpload("1234", Scope::Part, "06"));
}

// One row per column the history stores (the forwarded mark is the queue's, not the record's).
void TestHistory::verifyNamesTheFirstTamperedEntry_data() {
    QTest::addColumn<QString>("sql");
    QTest::addColumn<qint64>("broken"); // 0: intact
    auto row = [](const char* name, const char* sql, qint64 broken) {
        QTest::newRow(name) << QString::fromLatin1(sql) << broken;
    };
    row("untouched", "", 0);
    row("id", "UPDATE entry SET id = 9 WHERE id = 5", 9);
    row("time", "UPDATE entry SET time = '2026-12-08T14:03:07.413Z' WHERE id = 1", 1);
    row("user", "UPDATE entry SET user = 'someone' WHERE id = 2", 2);
    row("host", "UPDATE entry SET host = 'elsewhere' WHERE id = 3", 3);
    row("port", "UPDATE entry SET port = '/dev/ttyS0' WHERE id = 4", 4);
    row("action", "UPDATE entry SET action = 'upload' WHERE id = 4", 4);
    row("scope", "UPDATE entry SET scope = 'part' WHERE id = 1", 1);
    row("part", "UPDATE entry SET part = '06' WHERE id = 2", 2);
    row("serial", "UPDATE entry SET serial = '9999' WHERE id = 2", 2);
    row("generation", "UPDATE entry SET generation = 'V7.0' WHERE id = 3", 3);
    row("result", "UPDATE entry SET result = 'SUCCESS' WHERE id = 4", 4);
    row("stopped_at_field", "UPDATE entry SET stopped_at_field = NULL WHERE id = 4", 4);
    row("file_hash", "UPDATE entry SET file_hash = NULL WHERE id = 2", 2);
    row("previous_hash of the first", "UPDATE entry SET previous_hash = hash WHERE id = 1", 1);
    row("previous_hash of the first, hashes computed again", "REHASH x", 1);
    row("hash", "UPDATE entry SET hash = 'x' WHERE id = 3", 3);
    row("format", "UPDATE entry SET format = 1 WHERE id = 2", 2);
    row("source", "UPDATE entry SET source = 'another' WHERE id = 2", 2);
    row("reason", "UPDATE entry SET reason = 'another batch' WHERE id = 4", 4);
    row("meaning", "UPDATE entry SET meaning = 'reviewed' WHERE id = 5", 5);
    row("subject", "UPDATE entry SET subject = 1 WHERE id = 5", 5);
    row("subject_hash",
        "UPDATE entry SET subject_hash = (SELECT hash FROM entry WHERE id = 1) WHERE id = 5", 5);
    row("signature put on an unsigned approval",
        "UPDATE entry SET signature = CAST('number 1:7\nlogin 3:bob\nname 3:Bob\nsigned 1:x\n' AS "
        "BLOB) WHERE id = 5",
        5);
    row("a finding",
        "UPDATE entry SET findings = CAST(replace(CAST(findings AS TEXT), '1.6', '1.7') AS BLOB) "
        "WHERE id = 2",
        2);
    row("findings with more after them",
        "UPDATE entry SET findings = findings || CAST('x' AS BLOB) WHERE id = 2", 2);
    row("a file shared by two",
        "UPDATE content SET text = CAST('part 9' AS BLOB) WHERE "
        "CAST(text AS TEXT) = 'part 5'",
        2);
    row("the first removed", "DELETE FROM entry WHERE id = 1", 2);
    row("one removed", "DELETE FROM entry WHERE id = 2", 3);
    row("the newest removed", "DELETE FROM entry WHERE id = 5", 5);
}

void TestHistory::verifyNamesTheFirstTamperedEntry() {
    QFETCH(QString, sql);
    QFETCH(qint64, broken);
    {
        Store store;
        QVERIFY(store.open(db()));
        fill(store);
        QVERIFY2(store.approve(2, "approved", "first article"), store.error().c_str());
    }
    if (sql.startsWith(QStringLiteral("REHASH ")))
        QVERIFY(test::rehash(db(), sql.mid(7).toStdString()));
    else if (!sql.isEmpty())
        QVERIFY(test::tamper(db(), sql.toStdString()));
    Store store;
    QVERIFY(store.open(db(), Store::Mode::ReadOnly));
    const auto checked = store.verify();
    QVERIFY2(checked, store.error().c_str());
    QCOMPARE(checked->firstBroken, broken);
    if (!broken)
        QCOMPARE(checked->entries, int64_t(5));
}

void TestHistory::refusedFilesAreLeftAlone_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("reason"); // the error contains it
    QTest::newRow("newer version") << "newer"
                                   << "history was written by a newer version";
    QTest::newRow("random bytes") << "random"
                                  << "file is not a database";
    QTest::newRow("truncated") << "truncated"
                               << "malformed";
    QTest::newRow("another program's database") << "foreign"
                                                << "not a ParamPorter history";
}

void TestHistory::refusedFilesAreLeftAlone() {
    QFETCH(QString, kind);
    QFETCH(QString, reason);
    const QString file = path();
    {
        Store store;
        QVERIFY(store.open(file.toStdString()));
        for (int i = 0; i < 40; ++i) {
            Entry e = make(Action::Upload, Scope::Part, "05", "SUCCESS",
                           std::string(900, char('a' + i % 26)) + std::to_string(i));
            QVERIFY(store.append(e));
        }
    }
    if (kind == "newer") {
        QVERIFY(test::tamper(file.toStdString(), "PRAGMA user_version = 99"));
    } else if (kind == "random") {
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QByteArray noise(8192, '\0');
        for (int i = 0; i < noise.size(); ++i)
            noise[i] = char((i * 7919 + 13) % 251);
        f.write(noise);
    } else if (kind == "truncated") {
        QVERIFY(::truncate(file.toUtf8().constData(), QFileInfo(file).size() / 3) == 0);
    } else if (kind == "foreign") {
        QFile::remove(file);
        QVERIFY(test::tamper(file.toStdString(), "CREATE TABLE recipes(name TEXT)"));
    }
    const QByteArray before = bytes(file);

    Store store;
    Entry e = make(Action::Upload, Scope::System, "", "SUCCESS", "new");
    const bool written = store.open(file.toStdString()) && store.append(e);
    QVERIFY(!written);
    QVERIFY2(QString::fromStdString(store.error()).contains(reason), store.error().c_str());
    if (kind == "newer")
        QCOMPARE(store.error(), std::string(NewerVersion));
    store.close();
    QCOMPARE(bytes(file), before);
    QCOMPARE(QDir(dir_->path()).entryList(QDir::Files), QStringList{"history.sqlite"});
}

void TestHistory::unwritablePlaces_data() {
    QTest::addColumn<QString>("place");
    QTest::newRow("read-only folder") << "read-only";
    QTest::newRow("a file where the folder should be") << "file";
}

void TestHistory::unwritablePlaces() {
    QFETCH(QString, place);
    QString file;
    std::unique_ptr<ReadOnlyMount> mount;
    if (place == "read-only") {
        const QString folder = path(QStringLiteral("locked"));
        QVERIFY(QDir().mkpath(folder));
        mount = std::make_unique<ReadOnlyMount>(folder);
        if (!mount->mounted()) {
            if (::geteuid() == 0)
                QSKIP("cannot mount a read-only folder here, and permissions do not stop root");
            QVERIFY(::chmod(folder.toUtf8().constData(), 0555) == 0);
        }
        file = folder + QStringLiteral("/history.sqlite");
    } else {
        QFile blocker(path(QStringLiteral("data")));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        file = path(QStringLiteral("data/paramporter/history.sqlite"));
    }
    Store store;
    QVERIFY(!store.open(file.toStdString()));
    QVERIFY(!store.error().empty());
    QVERIFY(!QFile::exists(file));
}

namespace {

int userVersion(const std::string& path) {
    sqlite3* db = nullptr;
    int version = -1;
    sqlite3_stmt* s = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK &&
        sqlite3_prepare_v2(db, "PRAGMA user_version", -1, &s, nullptr) == SQLITE_OK &&
        sqlite3_step(s) == SQLITE_ROW)
        version = sqlite3_column_int(s, 0);
    sqlite3_finalize(s);
    sqlite3_close(db);
    return version;
}

} // namespace

// A file of the first version, kept as that version wrote it: read as it is, and written only
// after every step of the migration.
void TestHistory::olderFilesReadAsTheyAreAndMigrated() {
    const std::string fresh = db();
    QVERIFY(Store().open(fresh));
    QCOMPARE(userVersion(fresh), SchemaVersion);
    // Each step's index is there, the queue's too (a test that the query plan can use it).
    QVERIFY(test::tamper(fresh, "CREATE TABLE t(x); DROP TABLE t; SELECT 1 FROM entry INDEXED BY "
                                "entry_unforwarded WHERE forwarded = 0; SELECT 1 FROM entry "
                                "INDEXED BY entry_instrument WHERE serial = '1'"));

    const QString old = path(QStringLiteral("v1.sqlite"));
    QVERIFY(QFile::copy(QStringLiteral(PP_TEST_DATA "/history-v1.sqlite"), old));
    QFile::setPermissions(old, QFile::ReadOwner | QFile::WriteOwner);
    const QByteArray before = bytes(old);
    Store reader;
    QVERIFY2(reader.open(old.toStdString(), Store::Mode::ReadOnly), reader.error().c_str());
    QCOMPARE(reader.list({}, 0)->size(), size_t(4));
    QCOMPARE(reader.verify()->firstBroken, int64_t(0));
    reader.close();
    QCOMPARE(bytes(old), before);

    Store writer;
    QVERIFY2(writer.open(old.toStdString()), writer.error().c_str());
    QCOMPARE(userVersion(old.toStdString()), SchemaVersion);
    QVERIFY(test::tamper(old.toStdString(), "CREATE TABLE t(x); DROP TABLE t; SELECT 1 FROM "
                                            "entry INDEXED BY entry_unforwarded WHERE "
                                            "forwarded = 0"));
    const Entry fourth = *writer.entry(4);
    Entry next = test::sampleEntry(5);
    QVERIFY(writer.append(next));
    QCOMPARE(next.id, int64_t(5));
    QCOMPARE(next.previousHash, fourth.hash);
    QCOMPARE(next.source, fourth.source); // the same installation, on the same machine
    const auto checked = writer.verify();
    QCOMPARE(checked->firstBroken, int64_t(0));
    QCOMPARE(checked->entries, int64_t(5));
}

// Reading needs no space and no right to write, and leaves nothing that stops a later writer.
void TestHistory::readersChangeNothing() {
    // A full disk.
    const QString folder = path(QStringLiteral("full"));
    QVERIFY(QDir().mkpath(folder));
    ReadOnlyMount full(folder, 0, "size=1m");
    if (full.mounted()) {
        const std::string file = (folder + QStringLiteral("/history.sqlite")).toStdString();
        QVERIFY(test::record(file, 3));
        QFile filler(folder + QStringLiteral("/filler"));
        QVERIFY(filler.open(QIODevice::WriteOnly));
        while (filler.write(QByteArray(4096, 'x')) > 0 && filler.flush()) {
        }
        Store reader;
        QVERIFY2(reader.open(file, Store::Mode::ReadOnly), reader.error().c_str());
        QCOMPARE(reader.list({}, 0)->size(), size_t(3));
        QCOMPARE(reader.verify()->entries, int64_t(3));
    }

    // A file that is read-only to this account, then writable again: as an account that is not
    // root, for which permissions count.
    QVERIFY(::chmod(dir_->path().toUtf8().constData(), 0777) == 0);
    const std::string file = db();
    const pid_t child = ::fork();
    if (child == 0) {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
            ::_exit(2);
        bool ok = test::record(file, 2) && ::chmod(file.c_str(), 0444) == 0;
        {
            Store reader;
            ok = ok && reader.open(file, Store::Mode::ReadOnly) && reader.list({}, 0)->size() == 2;
        }
        ok = ok && ::access((file + "-shm").c_str(), F_OK) != 0;
        // What a reader of an earlier version left: SQLite's files, read-only as the file was.
        sqlite3* old = nullptr;
        ok = ok &&
             sqlite3_open_v2((file + "").c_str(), &old, SQLITE_OPEN_READONLY, nullptr) ==
                 SQLITE_OK &&
             sqlite3_exec(old, "SELECT * FROM entry", nullptr, nullptr, nullptr) == SQLITE_OK;
        sqlite3_close(old);
        ok = ok && ::chmod(file.c_str(), 0644) == 0 && test::record(file, 1);
        ::_exit(ok ? 0 : 1);
    }
    int status = -1;
    QVERIFY(child > 0 && ::waitpid(child, &status, 0) == child);
    QCOMPARE(WEXITSTATUS(status), 0);
}

// A copy of the history on another machine (PCs set up from one disk image) is an installation
// of its own from its first new entry on, and IDs removed from the end are not given again.
// Another program makes the same new history meanwhile: while it holds the file's write lock,
// the store waits for it instead of giving up (switching a new file to WAL is a write SQLite
// tries without waiting), and then takes the file as it was left.
void TestHistory::newFileMadeByAnotherWriterMeanwhile() {
    sqlite3* maker = nullptr;
    QCOMPARE(sqlite3_open(db().c_str(), &maker), SQLITE_OK);
    QCOMPARE(sqlite3_exec(maker, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
    std::thread done([maker] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        sqlite3_exec(maker, "COMMIT", nullptr, nullptr, nullptr);
    });
    Store store;
    const bool opened = store.open(db());
    done.join();
    sqlite3_close(maker);
    QVERIFY2(opened, store.error().c_str());
    Entry e = make(Action::Upload, Scope::Part, "05", "SUCCESS", "part 5");
    QVERIFY2(store.append(e), store.error().c_str());
    QCOMPARE(store.verify()->firstBroken, int64_t(0));
}

void TestHistory::copiesAndRemovalsNeverGiveAnIdTwice() {
    std::vector<Entry> written;
    {
        Store store;
        QVERIFY(store.open(db()));
        written = fill(store);
    }
    const std::string copy = path(QStringLiteral("copy.sqlite")).toStdString();
    QVERIFY(QFile::copy(path(), QString::fromStdString(copy)));
    QVERIFY(test::tamper(copy, "UPDATE meta SET value = 'the image' WHERE key = 'machine'"));
    {
        Store reading; // a signature is made for the next entry's installation: not here
        QVERIFY(reading.open(copy, Store::Mode::ReadOnly));
        QVERIFY(!reading.nextSource());
    }
    Store copied;
    QVERIFY(copied.open(copy));
    const auto next = copied.nextSource(); // taken now, before a signature names it
    QVERIFY(next && *next != written[3].source);
    Entry e = test::sampleEntry(5);
    QVERIFY(copied.append(e));
    QCOMPARE(e.source, *next);
    QCOMPARE(e.previousHash, written[3].hash);
    QCOMPARE(copied.installationId(), e.source);
    QCOMPARE(copied.verify()->firstBroken, int64_t(0));

    Store store;
    QVERIFY(store.open(db()));
    QVERIFY(test::tamper(db(), "DELETE FROM entry WHERE id = 4"));
    e = test::sampleEntry(6);
    QVERIFY(store.append(e));
    QCOMPARE(e.id, int64_t(5));
    QCOMPARE(e.source, written[3].source);
}

// A history of the previous version, its entries of the second format: read as it is, then
// migrated with its chain intact, an approval of its own entry added in the new format; an old
// entry given a reason afterwards no longer verifies, though its format hashes none.
void TestHistory::previousVersionFileKeepsVerifying() {
    const QString old = path(QStringLiteral("v3.sqlite"));
    QVERIFY(QFile::copy(QStringLiteral(PP_TEST_DATA "/history-v3.sqlite"), old));
    QFile::setPermissions(old, QFile::ReadOwner | QFile::WriteOwner);
    const std::string file = old.toStdString();
    {
        Store reader;
        QVERIFY2(reader.open(file, Store::Mode::ReadOnly), reader.error().c_str());
        QCOMPARE(reader.verify()->entries, int64_t(5));
        QVERIFY(!reader.approval("1234", Scope::Part, "05"));
        QVERIFY(reader.error().empty());
        QCOMPARE(reader.scopes({})->size(), size_t(2));
    }
    Store writer;
    QVERIFY2(writer.open(file), writer.error().c_str());
    QCOMPARE(userVersion(file), SchemaVersion);
    const auto approval = writer.approve(5, "approved", "first article");
    QVERIFY2(approval, writer.error().c_str());
    const auto checked = writer.verify();
    QCOMPARE(checked->firstBroken, int64_t(0));
    QCOMPARE(checked->entries, int64_t(6));
    QCOMPARE(writer.entry(5)->format, 2);
    QCOMPARE(writer.entry(6)->format, CurrentFormat);
    QCOMPARE(writer.approval("1234", Scope::Part, "05")->file, writer.entry(5)->file);

    QVERIFY(test::tamper(file, "UPDATE entry SET reason = 'why not' WHERE id = 2"));
    QCOMPARE(writer.verify()->firstBroken, int64_t(2));
}

// Approvals of one instrument and scope in turn: the latest is in force, a revocation ends it,
// a later approval starts again; other scopes and instruments keep their own. The scopes list
// what each holds now.
void TestHistory::approvalInForceAndScopes() {
    Store store;
    QVERIFY(store.open(db()));
    std::vector<Entry> written{
        make(Action::Upload, Scope::System, "", "SUCCESS", "system"),
        make(Action::Upload, Scope::Part, "05", "SUCCESS", "part 5"),
        make(Action::Download, Scope::Part, "05", "SUCCESS", "part 5, new"),
        make(Action::Upload, Scope::Part, "06", "Error - No response from QX7400", std::nullopt,
             "777"),
    };
    for (size_t i = 0; i < written.size(); ++i) {
        written[i].time = "2026-12-0" + std::to_string(i + 1) + "T08:00:00.000Z";
        written[i].host = "line-" + std::to_string(i + 1);
        QVERIFY(store.append(written[i]));
    }
    auto inForce = [&](Scope scope, const std::string& part) -> std::optional<int64_t> {
        const auto a = store.approval("1234", scope, part);
        return a ? a->subject : std::nullopt;
    };
    using Id = std::optional<int64_t>;
    QVERIFY(store.approve(2, "approved", "first article"));
    QCOMPARE(inForce(Scope::Part, "05"), Id(2));
    const auto second = store.approve(3, "reviewed", "new batch");
    QVERIFY(second);
    QCOMPARE(store.approval("1234", Scope::Part, "05")->file, written[2].file);
    QCOMPARE(store.previous(*second)->subject, Id(2)); // an approval follows the approvals
    QVERIFY(store.revoke("1234", Scope::Part, "05", "wrong batch"));
    QCOMPARE(inForce(Scope::Part, "05"), Id());
    QVERIFY(store.error().empty());
    QVERIFY(!store.revoke("1234", Scope::Part, "05", "again"));
    QCOMPARE(store.error(), std::string("no approval is in force for part 05 of 1234"));
    QVERIFY(store.approve(1, "approved", "system set"));
    QCOMPARE(inForce(Scope::Part, "05"), Id());
    QVERIFY(store.approve(2, "approved", "back to the first"));
    QCOMPARE(inForce(Scope::Part, "05"), Id(2));
    QCOMPARE(inForce(Scope::System, ""), Id(1));

    // What the instrument was last known to hold is a transfer's, never an approval's.
    QCOMPARE(store.lastKnown("1234", Scope::Part, "05")->id, int64_t(3));
    Entry later = make(Action::Upload, Scope::Part, "05", "SUCCESS", "part 5, again");
    later.findings = {{"approved", "Leak Limit", "1.5", "1.6"}};
    QVERIFY(store.append(later));

    const auto states = store.scopes({});
    QVERIFY2(states, store.error().c_str());
    QCOMPARE(states->size(), size_t(3));
    const ScopeState& system = (*states)[0];
    const ScopeState& part = (*states)[1];
    const ScopeState& other = (*states)[2];
    QCOMPARE(system.scope, Scope::System);
    QCOMPARE(system.latestValues->id, int64_t(1));
    QCOMPARE(system.approval->subject, Id(1));
    QCOMPARE(part.part, std::string("05"));
    QCOMPARE(part.latestValues->id, later.id);
    QCOMPARE(part.latestValues->findings, later.findings);
    QCOMPARE(part.approval->file, written[1].file);
    QCOMPARE(part.lastContact, later.time);
    QCOMPARE(other.serial, std::string("777"));
    QCOMPARE(other.lastHost, std::string("line-4"));
    QVERIFY(!other.latestValues && !other.approval);
    QCOMPARE(store.scopes("777")->size(), size_t(1));
}

// The plant's settings as the keys give them, and the approvals they and the rules refuse: each
// says why, and the history keeps no approval that the plant server would refuse.
void TestHistory::approvalsThePlantRefuses() {
    const PlantPolicy policy = policyFrom({{"approver_not_author", " TRUE "},
                                           {"reason_required", "no"},
                                           {"download_reasons", "New batch\r\n\n  Repair \n"},
                                           {"colour", "blue"}});
    QCOMPARE(policy, (PlantPolicy{true, false, {"New batch", "Repair"}}));

    Store store;
    QVERIFY(store.open(db()));
    fill(store);
    Entry byMe = make(Action::Download, Scope::Part, "05", "SUCCESS", "part 5");
    byMe.user = accountName();
    QVERIFY(store.append(byMe));
    QVERIFY(store.approve(2, "approved", "first article"));
    struct Case {
        int64_t id;
        const char* meaning;
        const char* reason;
        bool strict;
        std::string refusal; // empty: approved
    } cases[] = {
        {3, "approved", "x", false,
         "History entry 3 did not succeed; only a successful transfer can be approved."},
        {6, "approved", "x", false,
         "History entry 6 is an approval; only an upload or a download can be approved."},
        {2, "accepted", "x", false, "An approval means \"approved\" or \"reviewed\"."},
        {2, "approved", " \n", false, "An approval needs a reason."},
        {5, "approved", "x", true, sameAuthorRefusal(accountName())},
        {5, "approved", "x", false, ""},
        {1, "approved", "x", true, ""}, // an upload: what the instrument held, made by no one
    };
    for (const Case& c : cases) {
        const std::string subject = std::to_string(c.id) + " " + c.meaning;
        const bool made =
            store.approve(c.id, c.meaning, c.reason, {c.strict, false, {}}).has_value();
        QVERIFY2(made == c.refusal.empty(), subject.c_str());
        QCOMPARE(made ? std::string() : store.error(), c.refusal);
    }
    QCOMPARE(sameAuthorRefusal("tech"),
             std::string("This download was made by tech; the plant requires another account to "
                         "approve it."));

    Entry incomplete = *store.approval("1234", Scope::Part, "05");
    incomplete.subjectHash.clear();
    QVERIFY(!store.append(incomplete));
    QCOMPARE(store.error(),
             std::string("not a history entry: it does not name the entry it approves"));
}

void TestHistory::systemEntryOpensAsTheUploadLeftIt() {
    // What a system upload leaves on a sheet that held a part, and its entry's file text.
    sim::Instrument instrument;
    Sheet uploaded;
    uploaded.setPartSelection("05");
    QVERIFY(!DecodePartRecord(uploaded, instrument.partRecord(5)));
    Sheet sheet = uploaded;
    sheet.ClearSystemSheet();
    sheet.ClearPartSheet();
    QVERIFY(!DecodeSystemRecord(sheet, instrument.systemRecord()));
    Sheet kept = sheet;
    kept.setPartSelection({});
    Entry e = make(Action::Upload, Scope::System, "", "SUCCESS", ParamFileText(kept));

    test::FakeWindow window;
    Sheet opened = uploaded;
    opened.filePath = "somewhere.QX";
    QVERIFY(openEntry(opened, e, window));
    QVERIFY(window.messages.empty());
    QCOMPARE(ParamFileText(opened), ParamFileText(sheet));
    QCOMPARE(opened.partSelection(), std::string("05"));
    QVERIFY(opened.commands.partUpload && opened.commands.sdDownload);
    QVERIFY(opened.filePath.empty());

    // That sheet, recorded again by a part transfer, opens again: without part values its
    // part line stays empty.
    Entry again = e;
    again.scope = Scope::Part;
    again.file = recordedFile(opened, Scope::Part);
    Sheet reopened = uploaded;
    QVERIFY(openEntry(reopened, again, window));
    QCOMPARE(ParamFileText(reopened), ParamFileText(sheet));

    // A hand-edited text that no longer reads changes nothing and says so.
    e.file->replace(e.file->find("\"1234\""), 6, "\"x\"\r\n");
    const Sheet before = opened;
    QVERIFY(!openEntry(opened, e, window));
    QVERIFY(opened == before);
    QCOMPARE(window.messageTexts(), std::vector<std::string>{"Error reading file"});
    QCOMPARE(window.status(), std::string("File Error"));
}

// Instrument texts never reach a terminal raw, never start a spreadsheet formula, and a byte
// that is not UTF-8 never passes for a character in JSON.
void TestHistory::textsForTerminalsSpreadsheetsAndPrograms() {
    Entry e = make(Action::Upload, Scope::Part, "05", "SUCCESS\r\x1b]0;owned\x07", "part 5",
                   "12\n34 \x1b[2J\xc2\x9b"
                   "1m\\x");
    QCOMPARE(listLine(e).substr(listLine(e).find(" upload ")),
             std::string(" upload part 05 12\\n34 \\x1b[2J\\u009b1m\\\\x "
                         "SUCCESS\\r\\x1b]0;owned\\x07"));

    e.serial = "\xff";
    e.user = "\xc3\xbf";
    const std::string json = jsonLine(e);
    QVERIFY2(json.find("\"serial\":\"\\udcff\"") != std::string::npos, json.c_str());
    QVERIFY2(json.find("\"user\":\"\xc3\xbf\"") != std::string::npos, json.c_str());

    Entry a = e;
    a.action = Action::Approve;
    a.serial = "1234";
    a.meaning = "approved";
    a.reason = "first\narticle";
    a.findings = {{"approved", "Leak \xff", "1.5", "1.6"}, {"last", "Fill Time", "", "2.5"}};
    QCOMPARE(
        listLine(a).substr(listLine(a).find(" approve ")),
        std::string(" approve part 05 1234 approved, unsigned, local; reason: first\\narticle"));
    QVERIFY2(jsonLine(a).find("\"findings\":[{\"basis\":\"approved\",\"caption\":\"Leak "
                              "\\udcff\",\"before\":\"1.5\",\"after\":\"1.6\"},{") !=
                 std::string::npos,
             jsonLine(a).c_str());
    a.reason = "=cmd()";
    QVERIFY2(
        csvRow(a).ends_with(",\"'=cmd()\",\"approved\",\"\",\"approved: Leak \xff 1.5 -> "
                            "1.6; last: Fill Time  -> 2.5\",\"unsigned, local\",\"\",\"\"\r\n"),
        csvRow(a).c_str());
    // A signature reads back from its one text: no number with a leading zero passes for it.
    const pp::history::Signature first{0, "bob", "Bob", "2026-12-10T09:14:02.113Z"};
    QCOMPARE(pp::history::signatureFrom(pp::history::signatureText(first)), std::optional(first));
    std::string padded = pp::history::signatureText({7, "bob", "Bob", "t"});
    QVERIFY(pp::history::signatureFrom(padded));
    padded.replace(0, std::string("number 1:7").size(), "number 2:07");
    QVERIFY(!pp::history::signatureFrom(padded));
    // A signature's texts are the server's, and shown as safely.
    a.signature = pp::history::Signature{7, "=bob", "Bob\x1b[2J", "2026-12-10T09:14:02.113Z"};
    QVERIFY2(
        listLine(a).find(" approved, signed by Bob\\x1b[2J (=bob) at 2026-12-10T09:14:02.113Z; "
                         "reason: =cmd()") != std::string::npos,
        listLine(a).c_str());
    QVERIFY2(csvRow(a).ends_with(",\"Bob\x1b[2J\",\"'=bob\",\"2026-12-10T09:14:02.113Z\"\r\n"),
             csvRow(a).c_str());

    e.serial = "=HYPERLINK(\"http://x\")";
    e.user = "-2+3";
    e.host = "@SUM(A1)";
    e.port = "+1";
    const std::string csv = csvRow(e);
    for (const char* cell :
         {"\"'=HYPERLINK(\"\"http://x\"\")\"", "\"'-2+3\"", "\"'@SUM(A1)\"", "\"'+1\""})
        QVERIFY2(csv.find(cell) != std::string::npos, csv.c_str());
}

QTEST_APPLESS_MAIN(TestHistory)
#include "test_history.moc"
