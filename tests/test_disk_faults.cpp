// The disk failing under Open, Save, Save As and the settings file, on the real file system
// where the test can arrange it: a read-only mount and a full device (tmpfs; skipped where
// this process may not mount), a write cut short by the file size limit, a missing folder, a
// folder where the file should be, a file that vanishes between the dialog and the read; and
// writes failing half-way or at the rename through test doubles.
//
// Every failure shows the program's message, sets "File Error", and damages nothing: the old
// file stays byte for byte, no temporary is left, the sheet and its file path stay as they
// were. Once the fault is lifted the same command succeeds.
#include "files/file_commands.h"
#include "files/param_file.h"
#include "files/settings.h"
#include "link/records.h"
#include "sim/instrument.h"
#include "support/fakes.h"
#include "support/file_support.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <functional>
#include <memory>

using namespace pp;
using namespace pp::test;

namespace {

constexpr std::string_view ErrorWriting = "Error writing file";
constexpr std::string_view ErrorReading = "Error reading file";
constexpr std::string_view FileError = "File Error";
const std::string OldContent = "\"old\",\"file\"\r\n";

// A sheet as two uploads from the instrument leave it.
Sheet uploadedSheet(Generation g) {
    sim::Instrument instrument(g);
    Sheet sheet;
    DecodeSystemRecord(sheet, instrument.systemRecord());
    sheet.setPartSelection("05");
    DecodePartRecord(sheet, instrument.partRecord(5));
    return sheet;
}

std::tm today() {
    std::tm t{};
    t.tm_year = 2026 - 1900;
    t.tm_mon = 11;
    t.tm_mday = 7;
    return t;
}

// A small tmpfs over a folder, unmounted again at the end.
class ScratchMount {
public:
    ScratchMount(const QString& folder, const char* size) : folder_(folder.toStdString()) {
        options_ = std::string("size=") + size;
        mounted_ = ::mount("tmpfs", folder_.c_str(), "tmpfs", 0, options_.c_str()) == 0;
        if (!mounted_)
            error_ = std::strerror(errno);
    }
    ~ScratchMount() {
        if (mounted_)
            ::umount2(folder_.c_str(), MNT_DETACH);
    }
    bool mounted() const { return mounted_; }
    QString whyNot() const {
        return QString::fromStdString("cannot mount a tmpfs here: " + error_);
    }
    bool setReadOnly(bool readOnly) {
        const unsigned long flags = MS_REMOUNT | (readOnly ? MS_RDONLY : 0);
        return ::mount(nullptr, folder_.c_str(), nullptr, flags, options_.c_str()) == 0;
    }

private:
    std::string folder_;
    std::string options_;
    bool mounted_ = false;
    std::string error_;
};

// Fills the device that holds `folder` until it refuses; the filler file is the one to delete.
bool fillDevice(const QString& filler) {
    QFile f(filler);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    const QByteArray block(1024, 'x');
    while (f.write(block) == block.size() && f.flush()) {
    }
    return true;
}

// Files above `limit` bytes cannot be written by this process, as on a full disk; a write
// crossing the limit stops part-way. Restored at the end.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t limit) {
        ::getrlimit(RLIMIT_FSIZE, &old_);
        oldHandler_ = std::signal(SIGXFSZ, SIG_IGN); // EFBIG instead of a dead process
        rlimit r = old_;
        r.rlim_cur = limit;
        ok_ = ::setrlimit(RLIMIT_FSIZE, &r) == 0;
    }
    ~FileSizeLimit() { lift(); }
    bool ok() const { return ok_; }
    void lift() {
        if (!ok_)
            return;
        ::setrlimit(RLIMIT_FSIZE, &old_);
        std::signal(SIGXFSZ, oldHandler_);
        ok_ = false;
    }

private:
    rlimit old_{};
    void (*oldHandler_)(int) = SIG_DFL;
    bool ok_ = false;
};

// Fails the rename that puts a written file in place.
struct FailingRenameFileSystem : ForwardingFileSystem {
    bool replace(const std::string&, const std::string&) override { return false; }
};

// Whichever file the dialog returns is gone by the time it is read.
struct VanishingWindow : FakeWindow {
    std::optional<std::string> chooseOpenFile() override {
        auto path = FakeWindow::chooseOpenFile();
        if (path)
            QFile::remove(QString::fromStdString(*path));
        return path;
    }
};

QStringList listing(const QString& folder) {
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
}

// One way for the disk to fail under a save: where the file goes, the file system to use,
// and how to lift the fault again.
struct SaveFault {
    QString path;        // the file the save writes
    QString folder;      // where nothing may be left behind
    bool oldFile = true; // an earlier version is there to keep whole
    FileSystem* fs = &realFileSystem();
    std::function<bool()> lift; // false when the fault cannot be lifted
    std::unique_ptr<ScratchMount> mount;
    std::unique_ptr<FileSizeLimit> limit;
    std::unique_ptr<FileSystem> owned;
    QString skip; // why this fault cannot be made here
};

} // namespace

class TestDiskFaults : public QObject {
    Q_OBJECT

    // Sets up the fault named `place` inside `dir`.
    void makeSaveFault(const QString& place, const QTemporaryDir& dir, SaveFault& f) {
        f.folder = dir.path();
        f.path = dir.filePath("part05.QX");
        f.lift = [] { return true; };
        if (place == "read-only mount" || place == "full device") {
            const QString mnt = dir.filePath("mnt");
            QVERIFY(QDir(dir.path()).mkdir("mnt"));
            f.mount = std::make_unique<ScratchMount>(mnt, "64k");
            if (!f.mount->mounted()) {
                f.skip = f.mount->whyNot();
                return;
            }
            f.folder = mnt;
            f.path = mnt + "/part05.QX";
            putFile(f.path, OldContent);
            if (place == "read-only mount") {
                QVERIFY(f.mount->setReadOnly(true));
                ScratchMount* m = f.mount.get();
                f.lift = [m] { return m->setReadOnly(false); };
            } else {
                const QString filler = mnt + "/filler";
                QVERIFY(fillDevice(filler));
                f.lift = [filler] { return QFile::remove(filler); };
            }
            return;
        }
        if (place == "file size limit") {
            putFile(f.path, OldContent);
            f.limit = std::make_unique<FileSizeLimit>(100);
            QVERIFY(f.limit->ok());
            FileSizeLimit* l = f.limit.get();
            f.lift = [l] {
                l->lift();
                return true;
            };
            return;
        }
        if (place == "missing folder") {
            f.oldFile = false;
            f.folder = dir.path();
            f.path = dir.filePath("gone/part05.QX");
            const QString folder = dir.filePath("gone");
            f.lift = [folder] { return QDir().mkdir(folder); };
            return;
        }
        if (place == "a folder in its place") {
            f.oldFile = false;
            QVERIFY(QDir(dir.path()).mkdir("part05.QX"));
            putFile(dir.filePath("part05.QX/inside"), "keep");
            const QString path = f.path;
            f.lift = [path] { return QDir(path).removeRecursively(); };
            return;
        }
        putFile(f.path, OldContent);
        if (place == "half-way write")
            f.owned = std::make_unique<HalfWritingFileSystem>();
        else if (place == "failed rename")
            f.owned = std::make_unique<FailingRenameFileSystem>();
        f.fs = f.owned.get();
        f.lift = [&f] {
            f.fs = &realFileSystem();
            return true;
        };
    }

private slots:
    // ------------------------------------------------------------------ saving

    void saveFails_data() {
        QTest::addColumn<QString>("place");
        QTest::addColumn<bool>("saveAs");
        for (const char* place :
             {"read-only mount", "full device", "file size limit", "missing folder",
              "a folder in its place", "half-way write", "failed rename"})
            for (bool saveAs : {false, true})
                QTest::addRow("%s, %s", place, saveAs ? "Save As" : "Save") << place << saveAs;
    }
    void saveFails() {
        QFETCH(QString, place);
        QFETCH(bool, saveAs);
        QTemporaryDir dir;
        SaveFault fault;
        makeSaveFault(place, dir, fault);
        if (QTest::currentTestFailed())
            return;
        if (!fault.skip.isEmpty())
            QSKIP(qPrintable(fault.skip));

        Sheet sheet = uploadedSheet(Generation::V73);
        if (saveAs) {
            sheet.filePath = dir.filePath("earlier.QX").toStdString();
            sheet.commands.save = false;
        } else {
            sheet.filePath = fault.path.toStdString();
            sheet.commands.save = true;
        }
        const Sheet before = sheet;
        const QStringList filesBefore = listing(fault.folder);
        const std::string oldBytes = fileBytes(fault.path);

        FakeWindow window;
        window.saveFiles.push_back(fault.path.toStdString());
        const bool saved = saveAs ? SaveAsCommand(sheet, window, today(), *fault.fs)
                                  : SaveCommand(sheet, window, *fault.fs);
        QVERIFY(!saved);
        QCOMPARE(window.messageTexts(), std::vector<std::string>{std::string(ErrorWriting)});
        QCOMPARE(window.status(), std::string(FileError));
        QVERIFY(sheet == before); // path and Save as they were
        QCOMPARE(listing(fault.folder), filesBefore);
        if (fault.oldFile)
            QCOMPARE(fileBytes(fault.path), oldBytes);

        // The fault lifted, the same command writes the whole file, and it reads back.
        QVERIFY(fault.lift());
        window.saveFiles.push_back(fault.path.toStdString());
        QVERIFY(saveAs ? SaveAsCommand(sheet, window, today(), *fault.fs)
                       : SaveCommand(sheet, window, *fault.fs));
        QCOMPARE(fileBytes(fault.path), ParamFileText(sheet));
        QCOMPARE(sheet.filePath, fault.path.toStdString());
        QVERIFY(sheet.commands.save);
        Sheet reread;
        QVERIFY(ReadParamFile(reread, fault.path.toStdString(), window));
        QCOMPARE(ParamFileText(reread), ParamFileText(sheet));
    }

    // A saved file stays the file its owner made: its permission bits and owner, the other
    // names it has, the link that points at it; and where no temporary file can go beside it,
    // it is written in place.
    void saveKeepsTheFilesIdentity() {
        QTemporaryDir dir;
        const Sheet sheet = uploadedSheet(Generation::V73);
        const std::string expected = ParamFileText(sheet);
        const QString path = dir.filePath("part05.QX");
        const std::string p = path.toStdString();
        putFile(path, OldContent);
        QVERIFY(::chmod(p.c_str(), 0640) == 0);
        const bool root = ::geteuid() == 0;
        if (root)
            QVERIFY(::chown(p.c_str(), 1234, 1234) == 0);
        const QString other = dir.filePath("other-name.QX");
        QVERIFY(::link(p.c_str(), other.toStdString().c_str()) == 0);
        const QString viaLink = dir.filePath("link.QX");
        QVERIFY(QFile::link(path, viaLink));

        FakeWindow window;
        QVERIFY(WriteParamFile(sheet, viaLink.toStdString(), window));
        struct stat st {};
        QVERIFY(::stat(p.c_str(), &st) == 0);
        QCOMPARE(st.st_mode & 07777, mode_t(0640));
        QCOMPARE(st.st_nlink, nlink_t(2));
        if (root)
            QCOMPARE(st.st_uid, uid_t(1234));
        QCOMPARE(fileBytes(other), expected);
        QVERIFY(QFileInfo(viaLink).isSymLink());

        // One name only, and a folder that takes no new file.
        QVERIFY(QFile::remove(other));
        struct NoTemporary : ForwardingFileSystem {
            std::optional<std::string> createTemporary(const std::string&) override { return {}; }
        } noTemporary;
        const ino_t inode = st.st_ino;
        Sheet changed = sheet;
        changed.setText(Sys::Serial, "4321");
        QVERIFY(WriteParamFile(changed, p, window, noTemporary));
        QVERIFY(::stat(p.c_str(), &st) == 0);
        QCOMPARE(st.st_ino, inode);
        QCOMPARE(fileBytes(path), ParamFileText(changed));
        QCOMPARE(listing(dir.path()), (QStringList{"link.QX", "part05.QX"}));
        QVERIFY(window.messages.empty());
    }

    // A write killed half-way leaves a temporary: hidden, and cleared by a later write into
    // the folder once it is old. A younger one may be another program's write in progress.
    void killedWriteLeavesNothingInSight() {
        QTemporaryDir dir;
        const std::string near = dir.filePath("part05.QX").toStdString();
        const auto temporary = realFileSystem().createTemporary(near);
        QVERIFY(temporary);
        QCOMPARE(QFileInfo(QString::fromStdString(*temporary)).absolutePath(), dir.path());
        QVERIFY(QFileInfo(QString::fromStdString(*temporary)).fileName().startsWith(".part05.QX"));
        QVERIFY(QFile::rename(QString::fromStdString(*temporary),
                              dir.filePath(".part04.QX.~ppabc123")));
        const struct timespec hourAgo[2] = {{::time(nullptr) - 3600, 0},
                                            {::time(nullptr) - 3600, 0}};
        QVERIFY(::utimensat(AT_FDCWD, dir.filePath(".part04.QX.~ppabc123").toLocal8Bit(), hourAgo,
                            0) == 0);
        putFile(dir.filePath(".part03.QX.~ppzzzzzz"), ""); // a write under way
        putFile(dir.filePath("notes.QX.~pp.txt"), "mine");
        QVERIFY(::utimensat(AT_FDCWD, dir.filePath("notes.QX.~pp.txt").toLocal8Bit(), hourAgo, 0) ==
                0);

        FakeWindow window;
        QVERIFY(WriteParamFile(uploadedSheet(Generation::V73), near, window));
        QCOMPARE(listing(dir.path()),
                 (QStringList{".part03.QX.~ppzzzzzz", "notes.QX.~pp.txt", "part05.QX"}));
    }

    // ------------------------------------------------------------------ opening

    void openFails_data() {
        QTest::addColumn<QString>("place");
        QTest::newRow("missing folder") << "missing folder";
        QTest::newRow("missing file") << "missing file";
        QTest::newRow("a folder in its place") << "folder";
        QTest::newRow("vanishes between dialog and read") << "vanishes";
        QTest::newRow("empty file") << "empty";
        QTest::newRow("cut short by a full disk") << "cut short";
        QTest::newRow("an endless device in its place") << "device";
        QTest::newRow("a named pipe in its place") << "fifo";
        QTest::newRow("far too large") << "huge";
    }
    void openFails() {
        QFETCH(QString, place);
        QTemporaryDir dir;
        const QString path =
            place == "missing folder" ? dir.filePath("gone/part05.QX") : dir.filePath("part05.QX");
        const Sheet good = uploadedSheet(Generation::V73);
        if (place == "folder")
            QVERIFY(QDir(dir.path()).mkdir("part05.QX"));
        if (place == "vanishes")
            putFile(path, ParamFileText(good));
        if (place == "empty")
            putFile(path, "");
        // Nothing a parameter file could be: each must be refused at once, not read forever
        // (a device), waited on (a pipe without a writer) or loaded whole (gigabytes).
        if (place == "device")
            QVERIFY(QFile::link("/dev/zero", path));
        if (place == "fifo")
            QCOMPARE(::mkfifo(path.toLocal8Bit().constData(), 0600), 0);
        if (place == "huge") {
            std::string text = ParamFileText(good);
            text.resize(8 << 20, ' ');
            putFile(path, text);
        }
        if (place == "cut short") { // a save that stopped in the part line
            const std::string text = ParamFileText(good);
            putFile(path, text.substr(0, text.find("\r\n") + 40));
        }

        Sheet sheet = uploadedSheet(Generation::V70);
        sheet.filePath = dir.filePath("earlier.QX").toStdString();
        const Sheet before = sheet;
        VanishingWindow vanishing;
        FakeWindow plain;
        FakeWindow& window = place == "vanishes" ? vanishing : plain;
        window.openFiles.push_back(path.toStdString());
        QVERIFY(!OpenCommand(sheet, window));
        QCOMPARE(window.messageTexts(), std::vector<std::string>{std::string(ErrorReading)});
        QCOMPARE(window.status(), std::string(FileError));
        QVERIFY(sheet == before);
    }

    // A file on a read-only device opens as any other.
    void openFromReadOnlyMount() {
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir("mnt"));
        ScratchMount mount(dir.filePath("mnt"), "64k");
        if (!mount.mounted())
            QSKIP(qPrintable(mount.whyNot()));
        const Sheet good = uploadedSheet(Generation::V73);
        const QString path = dir.filePath("mnt/part05.QX");
        putFile(path, ParamFileText(good));
        QVERIFY(mount.setReadOnly(true));
        Sheet sheet;
        FakeWindow window;
        window.openFiles.push_back(path.toStdString());
        QVERIFY(OpenCommand(sheet, window));
        QVERIFY(window.messages.empty());
        QCOMPARE(ParamFileText(sheet), ParamFileText(good));
        QCOMPARE(sheet.filePath, path.toStdString());
    }

    // ------------------------------------------------------------------ settings

    // A settings file that is no file (a pipe nobody writes to) must not hold up the start.
    void settingsThatIsNoFile() {
        QTemporaryDir app;
        const SettingsFolders folders{app.path().toStdString(), {}};
        QCOMPARE(::mkfifo(app.filePath("RIGPREFS.DAT").toLocal8Bit().constData(), 0600), 0);
        QCOMPARE(int(LoadAppSettings(folders)), 1);
    }

    void settingsOnAFailingDisk_data() {
        QTest::addColumn<QString>("place");
        QTest::addColumn<bool>("existing"); // the application folder already has the file
        QTest::addColumn<bool>("saved");
        QTest::addColumn<bool>("toConfig"); // the number went to the configuration folder
        QTest::newRow("read-only, file there") << "read-only" << true << true << true;
        QTest::newRow("read-only, no file") << "read-only" << false << true << true;
        QTest::newRow("full, file there") << "full" << true << true << true;
        QTest::newRow("full, no file") << "full" << false << true << true;
    }
    void settingsOnAFailingDisk() {
        QFETCH(QString, place);
        QFETCH(bool, existing);
        QFETCH(bool, saved);
        QFETCH(bool, toConfig);
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir("app"));
        ScratchMount mount(dir.filePath("app"), "64k");
        if (!mount.mounted())
            QSKIP(qPrintable(mount.whyNot()));
        const SettingsFolders folders{dir.filePath("app").toStdString(),
                                      dir.filePath("config/ParamPorter").toStdString()};
        const QString appFile = dir.filePath("app/RIGPREFS.DAT");
        if (existing)
            putFile(appFile, "\"2\"\r\n");
        if (place == "read-only")
            QVERIFY(mount.setReadOnly(true));
        else
            QVERIFY(fillDevice(dir.filePath("app/filler")));
        const QStringList appBefore = listing(dir.filePath("app"));

        FakeWindow window;
        QCOMPARE(SaveAppSettings(4, folders, window), saved);
        QCOMPARE(listing(dir.filePath("app")), appBefore);
        if (existing)
            QCOMPARE(fileBytes(appFile), std::string("\"2\"\r\n"));
        QCOMPARE(QFile::exists(dir.filePath("config/ParamPorter/RIGPREFS.DAT")), toConfig);
        if (saved) {
            QVERIFY(window.messages.empty());
            QCOMPARE(int(LoadAppSettings(folders)), 4);
        } else {
            QCOMPARE(window.messageTexts(),
                     std::vector<std::string>{std::string(ErrorWritingAppFile)});
            QCOMPARE(window.status(), std::string(FileError));
            QCOMPARE(int(LoadAppSettings(folders)), 2);
        }
    }
};

QTEST_APPLESS_MAIN(TestDiskFaults)
#include "test_disk_faults.moc"
