// Windows' conventions as the program keeps them: names with letters outside ASCII reach the
// disk as they are, CR LF is never doubled, temporaries are hidden and what replaces a file is
// not, the history lives in %LOCALAPPDATA%, RIGPREFS.DAT falls back to %APPDATA%, the account
// and host come from Windows, --simulate says it is Linux's; writers in several processes at
// once lose no entry of one history silently. Runs under Wine (or Windows).
#include "files/native.h"
#include "files/param_file.h"
#include "history/recording.h"
#include "history/store.h"
#include "qt/history_tap.h"
#include "qt/program_settings.h"
#include "qt/session_driver.h"
#include "report/report.h"
#include "sheet/sheet.h"
#include "support/fakes.h"
#include "support/file_support.h"
#include "support/history_support.h"
#include "support/instrument_files.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <windows.h>

#include <cstdio>

using namespace pp;

namespace {

const QString Umlauts = QStringLiteral("Pr\u00fcfung \u00e9t\u00e9 \u00fc");

std::string utf8(const QString& s) {
    return s.toStdString();
}

QByteArray fileBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

bool hidden(const std::string& path) {
    const DWORD a = GetFileAttributesW(wideFromUtf8(path).c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_HIDDEN);
}

// Wine shows every file whose name starts with a dot as hidden unless its ShowDotFiles is set
// (packaging/windows/wine-prefix.sh sets it): only then does the attribute itself show.
bool dotFilesShowTheirAttribute() {
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    if (!ntdll || !GetProcAddress(ntdll, "wine_get_version"))
        return true; // Windows
    wchar_t value[8] = {};
    DWORD size = sizeof value;
    return RegGetValueW(HKEY_CURRENT_USER, L"Software\\Wine", L"ShowDotFiles", RRF_RT_REG_SZ,
                        nullptr, value, &size) == ERROR_SUCCESS &&
           (value[0] == L'Y' || value[0] == L'y');
}

void setVariable(const wchar_t* name, const QString& value) {
    SetEnvironmentVariableW(name, value.isNull() ? nullptr : qUtf16Printable(value));
}

// Records whether the temporary was hidden while its content was written.
struct WatchingFileSystem : pp::test::ForwardingFileSystem {
    std::vector<std::pair<std::string, bool>> writes; // path, hidden then
    bool writeAll(const std::string& path, std::string_view bytes) override {
        writes.emplace_back(path, hidden(path));
        return real.writeAll(path, bytes);
    }
};

struct Run {
    int code = -1;
    QByteArray out, err;
};

Run runProgram(const QString& program, const QStringList& args) {
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(60000))
        return {};
    return {p.exitCode(), p.readAllStandardOutput(), p.readAllStandardError()};
}

// One writer of the concurrent writers' test, as a process of its own (this program run as
// `--history-writer FILE GO COUNT`): once the file GO exists, COUNT entries recorded into the
// history FILE through the program's own tap, "recorded N" on standard output and what the tap
// said on standard error.
int historyWriter(const QString& file, const QString& go, int count) {
    std::printf("ready\n");
    std::fflush(stdout);
    QElapsedTimer waited;
    waited.start();
    while (!QFile::exists(go) && waited.elapsed() < 60000)
        QThread::usleep(200);
    Sheet sheet;
    test::FakeWindow window;
    qt::SessionDriver driver(sheet, window);
    qt::HistoryTap tap(driver, file.toStdString());
    tap.setReporter([](const std::string& note) {
        std::fprintf(stderr, "%s\n", note.c_str());
        std::fflush(stderr);
    });
    int recorded = 0;
    for (int i = 0; i < count; ++i) {
        history::Entry e = test::sampleEntry(i);
        recorded += tap.record(e) ? 1 : 0;
    }
    std::printf("recorded %d\n", recorded);
    return 0;
}

} // namespace

class TestWindows : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QVERIFY(dir_.isValid());
        sim_ = std::make_unique<sim::Instrument>();
        QVERIFY(sim_->setSystemField(7, "4711"));
    }

    void namesOutsideAsciiReachTheDisk();
    void lineEndsAreNotDoubled();
    void temporariesAreHiddenAndTheirResultIsNot();
    void historyInLocalAppData();
    void historyInAFolderNamedOutsideAscii();
    void concurrentWritersLoseNothingSilently();
    void accountAndHostFromWindows();
    void settingsFallBackToAppData();
    void simulateIsLinuxOnly();

private:
    QTemporaryDir dir_;
    std::unique_ptr<sim::Instrument> sim_;
};

void TestWindows::namesOutsideAsciiReachTheDisk() {
    const QString folder = dir_.filePath(QStringLiteral("Ordner \u00e4"));
    QVERIFY(QDir().mkpath(folder));
    const QString file = folder + '/' + Umlauts + QStringLiteral(".QX");
    const auto sheet = test::instrumentSheet(*sim_, 5);
    QVERIFY(sheet);
    test::FakeWindow window;
    QVERIFY(WriteParamFile(*sheet, utf8(file), window));
    // Saved again: through a temporary beside it, renamed over it.
    QVERIFY(WriteParamFile(*sheet, utf8(file), window));
    QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{Umlauts + ".QX"});
    QCOMPARE(fileBytes(file), QByteArray::fromStdString(ParamFileText(*sheet)));

    Sheet read;
    QVERIFY(ReadParamFile(read, utf8(file), window));
    QCOMPARE(ParamFileText(read), ParamFileText(*sheet));
    QVERIFY(window.messages.empty());
}

// A parameter file and a report carry their own CR LF: in a file and on standard output alike
// each line ends in one CR LF.
void TestWindows::lineEndsAreNotDoubled() {
    const QString file = dir_.filePath(Umlauts + QStringLiteral(" 2.QX"));
    const std::string text = test::instrumentFile(*sim_, 2);
    QVERIFY(text.find("\r\n") != std::string::npos);
    test::FakeWindow window;
    Sheet sheet;
    QVERIFY(applyParamFileText(sheet, text, window));
    QVERIFY(WriteParamFile(sheet, utf8(file), window));
    const QByteArray written = fileBytes(file);
    QVERIFY(!written.contains("\r\r\n"));
    QCOMPARE(written, QByteArray::fromStdString(text));

    // The real command line, given the file's name in wide characters.
    const Run r = runProgram(QStringLiteral(PP_CLI_BINARY), {QStringLiteral("report"), file});
    QCOMPARE(r.err, QByteArray());
    QCOMPARE(r.code, 0);
    std::tm today{};
    const std::time_t now = std::time(nullptr);
    localtime_s(&today, &now);
    const QByteArray expected = QByteArray::fromStdString(reportText(composeReport(sheet, today)));
    QVERIFY(expected.contains("\r\n"));
    QVERIFY(!r.out.contains("\r\r\n"));
    QCOMPARE(r.out, expected);
}

void TestWindows::temporariesAreHiddenAndTheirResultIsNot() {
    const std::string file = utf8(dir_.filePath(QStringLiteral("hidden-check.QX")));
    WatchingFileSystem fs;
    QVERIFY(fs.writeAll(file, "old\r\n"));
    fs.writes.clear();
    QVERIFY(replaceFileContent(fs, file, "new\r\n"));
    QCOMPARE(fs.writes.size(), size_t(1));
    QVERIFY(fs.writes[0].first != file); // through a temporary
    if (dotFilesShowTheirAttribute())
        QVERIFY2(fs.writes[0].second, "the temporary was not hidden");
    QVERIFY(!hidden(file));
    QCOMPARE(fileBytes(QString::fromStdString(file)), QByteArray("new\r\n"));
    QCOMPARE(QDir(dir_.path()).entryList({"*hidden-check*"}, QDir::Files | QDir::Hidden),
             QStringList{"hidden-check.QX"});

    // A file the user hid stays hidden.
    QVERIFY(SetFileAttributesW(wideFromUtf8(file).c_str(), FILE_ATTRIBUTE_HIDDEN));
    QVERIFY(replaceFileContent(fs, file, "newer\r\n"));
    QVERIFY(hidden(file));
    QCOMPARE(fileBytes(QString::fromStdString(file)), QByteArray("newer\r\n"));
    if (!dotFilesShowTheirAttribute())
        QSKIP("this Wine prefix shows every dot-file hidden (see wine-prefix.sh)");
}

void TestWindows::historyInLocalAppData() {
    const QString local = qEnvironmentVariable("LOCALAPPDATA");
    QVERIFY(!local.isEmpty());
    setVariable(L"PARAMPORTER_HISTORY", {});
    QCOMPARE(QDir::fromNativeSeparators(QString::fromStdString(history::defaultHistoryPath())),
             QDir::fromNativeSeparators(local) + "/ParamPorter/history.sqlite");
    // A chosen file, named outside ASCII and the system's code page.
    const QString chosen = dir_.filePath(QStringLiteral("\u03a9 ") + Umlauts + ".sqlite");
    setVariable(L"PARAMPORTER_HISTORY", chosen);
    QCOMPARE(QString::fromStdString(history::defaultHistoryPath()), chosen);
    setVariable(L"PARAMPORTER_HISTORY", {});
}

// SQLite takes UTF-8 names; the folder is made and the read-only reader's URI built from them.
void TestWindows::historyInAFolderNamedOutsideAscii() {
    const QString folder = dir_.filePath(QStringLiteral("Historie \u00e9 \u00fc"));
    const std::string path = utf8(folder + "/history.sqlite");
    QVERIFY(test::record(path, 3));
    QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{"history.sqlite"});

    history::Store reader;
    QVERIFY2(reader.open(path, history::Store::Mode::ReadOnly), reader.error().c_str());
    const auto entries = reader.list({}, 0);
    QVERIFY(entries);
    QCOMPARE(entries->size(), size_t(3));
    const auto newest = reader.entry(entries->front().id);
    QVERIFY(newest && newest->file);
    QCOMPARE(*newest->file, std::string("part 5, take 2"));
    const auto verified = reader.verify();
    QVERIFY(verified);
    QCOMPARE(verified->firstBroken, int64_t(0));
}

// Writers in several processes at once into one history, each round into a new file that they
// all make at the same moment: every entry is recorded, or the writer that lost it said
// "History not recorded"; with the file's locking sound, none is lost at all.
void TestWindows::concurrentWritersLoseNothingSilently() {
    constexpr int Rounds = 8, Writers = 4, Entries = 5;
    int total = 0;
    QString said;
    for (int round = 0; round < Rounds; ++round) {
        const QString file = dir_.filePath(QString("concurrent-%1.sqlite").arg(round));
        const QString go = dir_.filePath(QString("go-%1").arg(round));
        std::vector<std::unique_ptr<QProcess>> writers;
        for (int w = 0; w < Writers; ++w) {
            auto& p = writers.emplace_back(std::make_unique<QProcess>());
            p->start(QCoreApplication::applicationFilePath(),
                     {"--history-writer", file, go, QString::number(Entries)});
        }
        for (auto& p : writers)
            QVERIFY2(p->waitForReadyRead(60000), "a writer did not start");
        QFile(go).open(QIODevice::WriteOnly);
        int recorded = 0;
        for (auto& p : writers) {
            QVERIFY(p->waitForFinished(60000));
            QCOMPARE(p->exitCode(), 0);
            const QByteArray out = p->readAllStandardOutput();
            const QByteArray err = p->readAllStandardError();
            const qsizetype at = out.indexOf("recorded ");
            QVERIFY2(at >= 0, out.constData());
            const int n = out.mid(at + 9).trimmed().toInt();
            if (n < Entries)
                QVERIFY2(err.startsWith("History not recorded: "), err.constData());
            if (!err.isEmpty())
                said += QString::fromUtf8(err);
            recorded += n;
        }
        history::Store reader;
        QVERIFY2(reader.open(utf8(file), history::Store::Mode::ReadOnly), reader.error().c_str());
        QCOMPARE(reader.list({}, 0)->size(), size_t(recorded));
        QCOMPARE(reader.verify()->firstBroken, int64_t(0));
        total += recorded;
    }
    QVERIFY2(said.isEmpty(), qPrintable(said));
    QCOMPARE(total, Rounds * Writers * Entries);
}

// Whatever %USERNAME% and %COMPUTERNAME% were set to, the history names the account Windows
// logged on and the machine.
void TestWindows::accountAndHostFromWindows() {
    const QString account = QString::fromStdString(history::accountName());
    const QString host = QString::fromStdString(history::hostName());
    QVERIFY(!account.isEmpty());
    QVERIFY(!host.isEmpty());
    setVariable(L"USERNAME", QStringLiteral("someone-else"));
    setVariable(L"COMPUTERNAME", QStringLiteral("ELSEWHERE"));
    QCOMPARE(QString::fromStdString(history::accountName()), account);
    QCOMPARE(QString::fromStdString(history::hostName()), host);
    QVERIFY(account != "someone-else" && host != "ELSEWHERE");
    QCOMPARE(host.toLower(), QSysInfo::machineHostName().toLower());
}

void TestWindows::settingsFallBackToAppData() {
    const QString appData = qEnvironmentVariable("APPDATA");
    QVERIFY(!appData.isEmpty());
    const SettingsFolders folders = qt::settingsFolders();
    QCOMPARE(QDir::fromNativeSeparators(QString::fromStdString(folders.application)),
             QCoreApplication::applicationDirPath());
    QCOMPARE(QDir::fromNativeSeparators(QString::fromStdString(folders.config)).toLower(),
             (QDir::fromNativeSeparators(appData) + "/ParamPorter").toLower());
}

void TestWindows::simulateIsLinuxOnly() {
    const Run r = runProgram(QStringLiteral(PP_APP_BINARY), {QStringLiteral("--simulate")});
    QCOMPARE(r.code, 2);
    QVERIFY2(r.err.contains("--simulate is available on Linux only"), r.err.constData());
}

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (const QStringList args = app.arguments();
        args.size() == 5 && args[1] == QLatin1String("--history-writer"))
        return historyWriter(args[2], args[3], args[4].toInt());
    QCoreApplication::setApplicationName(QStringLiteral("ParamPorter"));
    TestWindows test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_windows.moc"
