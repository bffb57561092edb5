// The history store on the real file system: what is written comes back in order after a
// reopen, the chain names the first entry that was tampered with, and a file the store must
// not write (newer, damaged, someone else's, in a place it cannot write) is refused and left
// byte for byte as it was. An entry of a system transfer opens as the system upload left it.
#include "files/param_file.h"
#include "history/entry_sheet.h"
#include "history/store.h"
#include "link/records.h"
#include "sim/instrument.h"
#include "support/fakes.h"
#include "support/history_support.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

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
    explicit ReadOnlyMount(const QString& folder) : folder_(folder.toStdString()) {
        mounted_ = ::mount("tmpfs", folder_.c_str(), "tmpfs", MS_RDONLY, "size=64k") == 0;
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
    void systemEntryOpensAsTheUploadLeftIt();

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
    QVERIFY2(store.open(db(), Store::Mode::Existing), store.error().c_str());
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
    QCOMPARE(store.installationId().size(), size_t(36));
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

void TestHistory::verifyNamesTheFirstTamperedEntry_data() {
    QTest::addColumn<QString>("sql");
    QTest::addColumn<qint64>("broken"); // 0: intact
    QTest::newRow("untouched") << "" << qint64(0);
    QTest::newRow("result edited")
        << "UPDATE entry SET result = 'SUCCESS' WHERE id = 4" << qint64(4);
    QTest::newRow("serial edited") << "UPDATE entry SET serial = '9999' WHERE id = 2" << qint64(2);
    QTest::newRow("shared file edited")
        << "UPDATE content SET text = CAST('part 9' AS BLOB) WHERE CAST(text AS TEXT) = 'part 5'"
        << qint64(2);
    QTest::newRow("entry removed") << "DELETE FROM entry WHERE id = 2" << qint64(3);
    QTest::newRow("part and hash edited")
        << "UPDATE entry SET part = '06', hash = 'x' WHERE id = 3" << qint64(3);
}

void TestHistory::verifyNamesTheFirstTamperedEntry() {
    QFETCH(QString, sql);
    QFETCH(qint64, broken);
    {
        Store store;
        QVERIFY(store.open(db()));
        fill(store);
    }
    if (!sql.isEmpty())
        QVERIFY(test::tamper(db(), sql.toStdString()));
    Store store;
    QVERIFY(store.open(db(), Store::Mode::Existing));
    const auto checked = store.verify();
    QVERIFY2(checked, store.error().c_str());
    QCOMPARE(checked->firstBroken, broken);
    if (!broken)
        QCOMPARE(checked->entries, int64_t(4));
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

    // A hand-edited text that no longer reads changes nothing and says so.
    e.file->replace(e.file->find("\"1234\""), 6, "\"x\"\r\n");
    const Sheet before = opened;
    QVERIFY(!openEntry(opened, e, window));
    QVERIFY(opened == before);
    QCOMPARE(window.messageTexts(), std::vector<std::string>{"Error reading file"});
    QCOMPARE(window.status(), std::string("File Error"));
}

QTEST_APPLESS_MAIN(TestHistory)
#include "test_history.moc"
