// paramporter-cli against the simulated QX7400 over a real pty: the commands in-process (with
// their exit statuses and texts), the argument parser, and the real binary as a subprocess.
#include "app/cli.h"
#include "app/cli_commands.h"
#include "files/param_file.h"
#include "history/recording.h"
#include "history/store.h"
#include "link/frames.h"
#include "link/records.h"
#include "qt/exchange.h"
#include "qt/history_tap.h"
#include "qt/program_settings.h"
#include "qt/session_driver.h"
#include "report/report.h"
#include "sheet/compare.h"
#include "sim/instrument.h"
#include "support/fakes.h"
#include "support/history_support.h"
#include "support/instrument_files.h"
#include "version.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <numeric>
#include <sstream>

using namespace pp;
using namespace pp::cli;

Q_DECLARE_METATYPE(pp::Generation)
Q_DECLARE_METATYPE(pp::Outcome)

namespace {

struct Result {
    int code = -1;
    std::string out;
    std::string err;
};

std::tm december7th2026() {
    std::tm t{};
    t.tm_year = 2026 - 1900;
    t.tm_mon = 11;
    t.tm_mday = 7;
    return t;
}

Result runCli(const std::vector<std::string>& args, const SettingsFolders& settings = {}) {
    const ParseResult parsed = parseArguments(args);
    if (!parsed.options)
        return {ExitUsage, {}, parsed.error};
    std::ostringstream out;
    std::ostringstream err;
    Context context{out, err, false, settings, december7th2026(), &realFileSystem(), {}, {}, {}};
    const int code = run(*parsed.options, context);
    return {code, out.str(), err.str()};
}

// The parser on the arguments of a data row.
ParseResult parseArgs(const QStringList& args) {
    std::vector<std::string> list;
    for (const QString& a : args)
        list.push_back(a.toStdString());
    return parseArguments(list);
}

std::string readFile(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll().toStdString();
}

void writeFile(const QString& path, std::string_view bytes) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes.data(), static_cast<qint64>(bytes.size()));
}

// What the window sends for a file: open it and download the system parameters; open it
// again (the system download empties the part sheet) and download the part parameters.
std::vector<std::string> windowDownloadFrames(const QString& file, Generation generation,
                                              Answer convert) {
    sim::Instrument peer(generation);
    if (!peer.start())
        return {"peer did not start"};
    Sheet sheet;
    test::FakeWindow window;
    window.yesNoDefault = convert;
    qt::SessionDriver driver(sheet, window);
    driver.setDeviceOverride(QString::fromStdString(peer.devicePath()));
    QSignalSpy ended(&driver, &qt::SessionDriver::exchangeEnded);

    if (!ReadParamFile(sheet, file.toStdString(), window))
        return {"file refused"};
    driver.session().cmdSDDnLoad_Click();
    if (!ended.wait(10000) ||
        ended.takeFirst().at(0).value<Outcome>() != Outcome::SystemDownloadEnd)
        return {"system download failed"};
    if (!ReadParamFile(sheet, file.toStdString(), window))
        return {"file refused"};
    driver.session().cmdPartDnload_Click();
    if (!ended.wait(10000) || ended.takeFirst().at(0).value<Outcome>() != Outcome::PartDownloadEnd)
        return {"part download failed"};
    return peer.downloadFrames();
}

} // namespace

class TestCli : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();

    void parsing_data();
    void parsing();

    void readWritesTheWritersBytes_data();
    void readWritesTheWritersBytes();
    void writeSendsWhatTheWindowSends_data();
    void writeSendsWhatTheWindowSends();
    void writeToAnotherInstrument();
    void olderLayoutNeedsAnAnswer_data();
    void olderLayoutNeedsAnAnswer();

    void faults_data();
    void faults();
    void badFilesSendNothing_data();
    void badFilesSendNothing();
    void unwritableOutput();

    void modeReadAndChange();
    void partList();
    void backupSavesEveryPart();
    void backupLeavesNothingOnFailure();
    void instrumentTextsAFileCannotHold();
    void defaultPortFromTheSettingsFile();

    void binaryEndToEnd();

    void diffAndVerifyArguments_data();
    void diffAndVerifyArguments();
    void diffOfTwoFiles();
    void verifyAgainstTheInstrument();

    void reportArguments_data();
    void reportArguments();
    void reportIsWhatThePrinterGets_data();
    void reportIsWhatThePrinterGets();
    void reportOfTheOlderLayout_data();
    void reportOfTheOlderLayout();
    void reportAsPdf();
    void reportFailuresWriteNothing();

    void historyArguments_data();
    void historyArguments();
    void historyRecordsEveryTransfer();
    void historyExportDiffVerify();
    void historyNeverStopsATransfer();
    void changedAtTheInstrumentAndAudited();
    void comparedWithWhatWasLastWritten();
    void auditOfWhatWasWrittenRevokedOrCalibrated();
    void auditChangesNoHistory();
    void auditReportAcrossAClockSetBack();
    void auditReportOfAChainNotChecked();
    void auditReportAsADocument();
    void roundOverTwoPortsOneSilent();
    void roundSaysWhatItCouldNotCheck();
    void roundFindsAnotherInstrumentOnAPort();
    void reasonRequiredByThePlant();
    void historyConcurrentBackups();
    void historyRecordsIntoTheFileAtItsPath();

    void cleanupTestCase();

private:
    QByteArray savedHistory_;
    QTemporaryDir dir_;
    QString path(const QString& name) const { return dir_.filePath(name); }
};

void TestCli::initTestCase() {
    qRegisterMetaType<pp::Outcome>();
    QVERIFY(dir_.isValid());
    // The binary records its transfers: here, never in the account's own history.
    savedHistory_ = qgetenv("PARAMPORTER_HISTORY");
    qputenv("PARAMPORTER_HISTORY", path("binary-history.sqlite").toUtf8());
}

void TestCli::cleanupTestCase() {
    if (savedHistory_.isNull())
        qunsetenv("PARAMPORTER_HISTORY");
    else
        qputenv("PARAMPORTER_HISTORY", savedHistory_);
}

// ------------------------------------------------------------------ arguments

// What the parser refuses, each with a line that says why; what it takes is proven by the
// commands below, which run through it.
void TestCli::parsing_data() {
    QTest::addColumn<QStringList>("args");
    QTest::newRow("nothing") << QStringList{};
    QTest::newRow("read part 0") << QStringList{"read", "0", "-o", "f"};
    QTest::newRow("read part 33") << QStringList{"read", "33", "-o", "f"};
    QTest::newRow("read part x") << QStringList{"read", "x", "-o", "f"};
    QTest::newRow("read part 007") << QStringList{"read", "007", "-o", "f"};
    QTest::newRow("read part -1") << QStringList{"read", "-1", "-o", "f"};
    QTest::newRow("read without part") << QStringList{"read", "-o", "f"};
    QTest::newRow("read without -o") << QStringList{"read", "7"};
    QTest::newRow("read -o without value") << QStringList{"read", "7", "-o"};
    QTest::newRow("read, two parts") << QStringList{"read", "7", "8", "-o", "f"};
    QTest::newRow("write convert maybe") << QStringList{"write", "a.QX", "--convert", "maybe"};
    QTest::newRow("write without file") << QStringList{"write"};
    QTest::newRow("convert given twice")
        << QStringList{"write", "a", "--convert", "yes", "--convert", "no"};
    QTest::newRow("mode bogus") << QStringList{"mode", "TEST"};
    QTest::newRow("parts with -o") << QStringList{"parts", "-o", "f"};
    QTest::newRow("backup without dir") << QStringList{"backup"};
    QTest::newRow("unknown command") << QStringList{"erase"};
    QTest::newRow("unknown option") << QStringList{"parts", "--fast"};
    QTest::newRow("port 7") << QStringList{"--port", "7", "parts"};
    QTest::newRow("port 0") << QStringList{"--port", "0", "parts"};
    QTest::newRow("port empty") << QStringList{"--port=", "parts"};
    QTest::newRow("write part-only and system-only")
        << QStringList{"write", "a.QX", "--part-only", "--system-only"};
    QTest::newRow("part-only with read") << QStringList{"read", "7", "-o", "f", "--part-only"};
}

void TestCli::parsing() {
    QFETCH(QStringList, args);
    const ParseResult r = parseArgs(args);
    QVERIFY(!r.options);
    QVERIFY(!r.error.empty());
}

// ------------------------------------------------------------------ read and write

void TestCli::readWritesTheWritersBytes_data() {
    QTest::addColumn<Generation>("generation");
    QTest::addColumn<bool>("choppy"); // noise and answers in pieces
    QTest::newRow("V7.3") << Generation::V73 << false;
    QTest::newRow("V7.0") << Generation::V70 << false;
    QTest::newRow("V7.3 in pieces with noise") << Generation::V73 << true;
}

void TestCli::readWritesTheWritersBytes() {
    QFETCH(Generation, generation);
    QFETCH(bool, choppy);
    sim::Instrument sim(generation);
    QVERIFY(sim.start());
    QVERIFY(sim.setPartField(7, 11, "7.5")); // leak limit: not the default of part 7
    QVERIFY(sim.setSystemField(7, "4711"));  // serial number
    if (choppy) {
        sim.setNoise("xx");
        sim.setSplit(9, std::chrono::milliseconds(3));
    }

    const QString out = path("read.QX");
    QFile::remove(out);
    const Result r = runCli({"--port", sim.devicePath(), "read", "7", "-o", out.toStdString()});
    QCOMPARE(r.code, ExitOk);
    QCOMPARE(r.out, std::string());
    QCOMPARE(r.err, std::string());
    QCOMPARE(readFile(out), pp::test::instrumentFile(sim, 7));
    QCOMPARE(sim.framesReceived(), (std::vector<std::string>{"2", "307"}));
}

void TestCli::writeSendsWhatTheWindowSends_data() {
    QTest::addColumn<Generation>("generation");
    QTest::newRow("V7.3") << Generation::V73;
    QTest::newRow("V7.0") << Generation::V70;
}

void TestCli::writeSendsWhatTheWindowSends() {
    QFETCH(Generation, generation);
    const QString file = path("source.QX");
    {
        sim::Instrument source(generation);
        QVERIFY(source.start());
        QVERIFY(source.setPartField(9, 11, "9.5"));
        QVERIFY(source.setPartField(9, 25, "4242"));
        const Result r =
            runCli({"--port", source.devicePath(), "read", "9", "-o", file.toStdString()});
        QCOMPARE(r.code, ExitOk);
    }
    const std::string original = readFile(file);

    // A fresh instrument whose part 9 differs until the file arrives.
    sim::Instrument target(generation);
    QVERIFY(target.start());
    // A V7.0 file has no initial flow check line: send it as it is.
    const Result w =
        runCli({"--port", target.devicePath(), "write", file.toStdString(), "--convert", "no"});
    QCOMPARE(w.err, std::string());
    QCOMPARE(w.code, ExitOk);
    QCOMPARE(w.out, std::string());

    const std::vector<std::string> sent = target.downloadFrames();
    const size_t systemFields = generation == Generation::V73 ? 26 : 25;
    const size_t partFields = generation == Generation::V73 ? 30 : 28;
    QCOMPARE(sent.size(), systemFields + partFields);
    QCOMPARE(sent.front().substr(0, 1), std::string("4"));
    // "5", the value in six characters, then the part number.
    QCOMPARE(sent.back().substr(0, 1) + sent.back().substr(7, 2), std::string("509"));
    QCOMPARE(sent, windowDownloadFrames(file, generation, Answer::No));
    // --system-only: the system download alone.
    target.clearLogs();
    QCOMPARE(runCli({"--port", target.devicePath(), "write", file.toStdString(), "--convert", "no",
                     "--system-only"})
                 .code,
             ExitOk);
    QCOMPARE(target.downloadFrames(),
             std::vector<std::string>(sent.begin(), sent.begin() + systemFields));

    // What the instrument now holds comes back as the very same file.
    target.clearLogs();
    const QString again = path("again.QX");
    const Result r =
        runCli({"--port", target.devicePath(), "read", "9", "-o", again.toStdString()});
    QCOMPARE(r.code, ExitOk);
    QCOMPARE(readFile(again), original);
}

void TestCli::olderLayoutNeedsAnAnswer_data() {
    QTest::addColumn<QString>("convert"); // "" for none
    QTest::addColumn<bool>("older");      // the instrument written is of the earlier generation
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("frames");
    QTest::newRow("no answer, newer") << "" << false << ExitUsage << 0;
    QTest::newRow("no answer, older") << "" << true << ExitOk << 25 + 28;
    QTest::newRow("yes, newer") << "yes" << false << ExitOk << 26 + 30;
    QTest::newRow("yes, older") << "yes" << true << ExitUsage << 0;
    QTest::newRow("no, older") << "no" << true << ExitOk << 25 + 28;
}

void TestCli::olderLayoutNeedsAnAnswer() {
    QFETCH(QString, convert);
    QFETCH(bool, older);
    QFETCH(int, code);
    QFETCH(int, frames);
    const QString file = path("old.QX");
    {
        sim::Instrument old(Generation::V70);
        QVERIFY(old.start());
        QCOMPARE(runCli({"--port", old.devicePath(), "read", "5", "-o", file.toStdString()}).code,
                 ExitOk);
    }
    QCOMPARE(QString::fromStdString(readFile(file)).count("\r\n"), 2);

    // Converted data goes to a newer instrument, unconverted data to an older one; the
    // instrument read first says which it is.
    const Generation generation = older ? Generation::V70 : Generation::V73;
    sim::Instrument target(generation);
    QVERIFY(target.start());
    std::vector<std::string> args{"--port", target.devicePath(), "write", file.toStdString()};
    if (!convert.isEmpty()) {
        args.push_back("--convert");
        args.push_back(convert.toStdString());
    }
    const Result r = runCli(args);
    QCOMPARE(r.code, code);
    QCOMPARE(target.downloadFrames().size(), size_t(frames));
    if (code != ExitOk) {
        QVERIFY2(r.err.find(older ? "--convert no" : "--convert yes") != std::string::npos,
                 r.err.c_str());
        QCOMPARE(target.framesReceived(), std::vector<std::string>{"2"});
    } else {
        QCOMPARE(target.downloadFrames(),
                 windowDownloadFrames(file, generation, older ? Answer::No : Answer::Yes));
    }
}

// ------------------------------------------------------------------ failures

void TestCli::faults_data() {
    QTest::addColumn<QString>("command"); // read, write, parts, read-badport
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("status"); // first line on stderr

    QTest::newRow("read, silence") << "read"
                                   << "silent"
                                   << "Error - No response from QX7400";
    QTest::newRow("read, checksum") << "read"
                                    << "checksum"
                                    << "Check sum error";
    QTest::newRow("read, refusal") << "read"
                                   << "refuse"
                                   << "Check QX7400 operating mode!";
    QTest::newRow("read, wrong part") << "read"
                                      << "wrongpart"
                                      << "ERROR - Invalid part number";
    QTest::newRow("read, no such port") << "read"
                                        << "badport"
                                        << "Can't open comm port! Please Try Again";
    QTest::newRow("write, NAK") << "write"
                                << "nak"
                                << "Error - NAK received from leak unit";
    QTest::newRow("write, silence") << "write"
                                    << "silent"
                                    << "Error - No response from QX7400";
    QTest::newRow("write, refusal") << "write"
                                    << "refuse"
                                    << "Check QX7400 operating mode!";
    QTest::newRow("parts, refusal") << "parts"
                                    << "refuse"
                                    << "Check QX7400 operating mode!";
    QTest::newRow("mode, silence") << "mode"
                                   << "silent"
                                   << "Error - No response from QX7400";
}

void TestCli::faults() {
    QFETCH(QString, command);
    QFETCH(QString, fault);
    QFETCH(QString, status);

    const QString file = path("fault-source.QX");
    if (command == "write" && !QFile::exists(file)) {
        sim::Instrument source;
        QVERIFY(source.start());
        QCOMPARE(
            runCli({"--port", source.devicePath(), "read", "3", "-o", file.toStdString()}).code,
            ExitOk);
    }

    sim::Instrument sim;
    QVERIFY(sim.start());
    std::string port = sim.devicePath();
    if (fault == "silent")
        sim.setSilent(true);
    else if (fault == "checksum")
        sim.corruptNextChecksum();
    else if (fault == "refuse")
        sim.setRefuseAll(true);
    else if (fault == "wrongpart")
        sim.setWrongPartNumber(true);
    else if (fault == "nak")
        sim.setNakAtField(3);
    else if (fault == "badport")
        port = path("no-such-device").toStdString();

    const QString out = path("fault.QX");
    QFile::remove(out);
    std::vector<std::string> args{"--port", port, command.toStdString()};
    if (command == "read") {
        args.insert(args.end(), {"3", "-o", out.toStdString()});
    } else if (command == "write") {
        args.push_back(file.toStdString());
    }
    const Result r = runCli(args);
    QCOMPARE(r.code, ExitLink);
    QCOMPARE(QString::fromStdString(r.err).section('\n', 0, 0), status);
    QCOMPARE(r.out, std::string());
    QVERIFY(!QFile::exists(out));
    if (fault == "nak") {
        // The download stopped at the refused field: no part parameters went out.
        const auto sent = sim.downloadFrames();
        QCOMPARE(sent.size(), size_t(4));
        QCOMPARE(sent.back().substr(0, 1), std::string("4"));
    }
}

void TestCli::badFilesSendNothing_data() {
    QTest::addColumn<QByteArray>("content"); // empty: no file at all
    QTest::addColumn<QString>("message");

    QTest::newRow("missing") << QByteArray() << "Error reading file";
    QTest::newRow("garbage") << QByteArray("hello, world\r\n") << "Error reading file";
    QTest::newRow("no customer code") << QByteArray("CUST") << "Please enter a customer code";
    QTest::newRow("part number 33") << QByteArray("PART") << "is not 1..32";
}

void TestCli::badFilesSendNothing() {
    QFETCH(QByteArray, content);
    QFETCH(QString, message);
    const QString good = path("good.QX");
    if (!QFile::exists(good)) {
        sim::Instrument source;
        QVERIFY(source.start());
        QCOMPARE(
            runCli({"--port", source.devicePath(), "read", "3", "-o", good.toStdString()}).code,
            ExitOk);
    }
    const QString file = path("bad.QX");
    QFile::remove(file);
    std::string text = readFile(good);
    if (content == "CUST") {
        // Field 28 of the part line, the customer code, emptied.
        const size_t line2 = text.find("\r\n") + 2;
        size_t at = line2;
        for (int i = 0; i < 27; ++i)
            at = text.find("\",\"", at) + 3;
        text.replace(at, text.find('"', at) - at, "");
        writeFile(file, text);
    } else if (content == "PART") {
        const size_t line2 = text.find("\r\n") + 2;
        text.replace(line2, 4, "\"33\"");
        writeFile(file, text);
    } else if (!content.isEmpty()) {
        writeFile(file, content.toStdString());
    }

    sim::Instrument sim;
    QVERIFY(sim.start());
    const Result r = runCli({"--port", sim.devicePath(), "write", file.toStdString()});
    QCOMPARE(r.code, ExitUsage);
    QVERIFY2(QString::fromStdString(r.err).contains(message), r.err.c_str());
    QVERIFY(sim.framesReceived().empty());
}

void TestCli::unwritableOutput() {
    sim::Instrument sim;
    QVERIFY(sim.start());
    const std::string out = path("missing-folder/x.QX").toStdString();
    const Result r = runCli({"--port", sim.devicePath(), "read", "1", "-o", out});
    QCOMPARE(r.code, ExitUsage);
    QVERIFY(r.err.starts_with("Error writing file\n"));
}

// ------------------------------------------------------------------ mode, parts, backup

void TestCli::modeReadAndChange() {
    sim::Instrument sim;
    QVERIFY(sim.start());
    const std::string port = sim.devicePath();
    sim.setMode(2);

    Result r = runCli({"--port", port, "mode"});
    QCOMPARE(r.code, ExitOk);
    QCOMPARE(r.out, std::string("RUN\n"));

    r = runCli({"--port", port, "mode", "CALIBRATE"});
    QCOMPARE(r.code, ExitOk);
    QCOMPARE(r.out, std::string("CALIBRATE\n"));
    QCOMPARE(sim.mode(), 1);
    QCOMPARE(sim.framesReceived().back(), std::string("91"));

    // A running test keeps its mode: the change fails and says why.
    sim.setTestRunning(true);
    r = runCli({"--port", port, "mode", "DATA"});
    QCOMPARE(r.code, ExitLink);
    QCOMPARE(r.out, std::string("CALIBRATE\n"));
    QCOMPARE(r.err, std::string("Test is in progress! Mode cannot be changed\n"));
    QCOMPARE(sim.mode(), 1);
}

void TestCli::partList() {
    sim::Instrument sim;
    QVERIFY(sim.start());
    sim.setConfiguredParts({1, 2, 32});
    Result r = runCli({"--port", sim.devicePath(), "parts"});
    QCOMPARE(r.code, ExitOk);
    QCOMPARE(r.out, std::string("01 02 32\n"));

    sim.setConfiguredParts({});
    r = runCli({"--port", sim.devicePath(), "parts"});
    QCOMPARE(r.code, ExitOk);
    QCOMPARE(r.out, std::string("\n"));
}

void TestCli::backupSavesEveryPart() {
    sim::Instrument sim;
    QVERIFY(sim.start());
    sim.setConfiguredParts({3, 12});
    QVERIFY(sim.setPartField(12, 11, "12.5"));
    const QString folder = path("backup");
    const Result r = runCli({"--port", sim.devicePath(), "backup", "--dir", folder.toStdString()});
    QCOMPARE(r.code, ExitOk);

    const QString a = folder + "/QX7400_03_1234_07Dec26.QX";
    const QString b = folder + "/QX7400_12_1234_07Dec26.QX";
    QCOMPARE(r.out, (a + "\n" + b + "\n").toStdString());
    QCOMPARE(QDir(folder).entryList(QDir::Files).size(), 2);
    QCOMPARE(readFile(a), pp::test::instrumentFile(sim, 3));
    QCOMPARE(readFile(b), pp::test::instrumentFile(sim, 12));
    QCOMPARE(sim.framesReceived(), (std::vector<std::string>{"2", "A", "303", "312"}));
}

void TestCli::backupLeavesNothingOnFailure() {
    sim::Instrument sim;
    QVERIFY(sim.start());
    sim.setConfiguredParts({3, 12});
    sim.setWrongPartNumber(true);
    const QString folder = path("failed-backup");
    const Result r = runCli({"--port", sim.devicePath(), "backup", "--dir", folder.toStdString()});
    QCOMPARE(r.code, ExitLink);
    QCOMPARE(r.err, std::string("ERROR - Invalid part number\n"));
    QCOMPARE(r.out, std::string());
    QVERIFY(!QDir(folder).exists());
}

// A serial number with a double quote would come back from the file as another value and
// shift every field after it; one with a path would name a file outside the folder.
void TestCli::instrumentTextsAFileCannotHold() {
    sim::Instrument sim;
    QVERIFY(sim.start());
    sim.setConfiguredParts({3});
    QVERIFY(sim.setSystemField(7, "12\"34"));
    const QString file = path("part03.QX");
    Result r = runCli({"--port", sim.devicePath(), "read", "3", "-o", file.toStdString()});
    QCOMPARE(r.code, ExitUsage);
    QCOMPARE(r.err, "Error writing file\nFile Error: Serial Number holds a double quote or a line "
                    "break\nparamporter-cli: " +
                        file.toStdString() + "\n");
    QVERIFY(!QFile::exists(file));

    QVERIFY(sim.setSystemField(7, "../../evil"));
    const QString folder = path("backup-evil");
    r = runCli({"--port", sim.devicePath(), "backup", "--dir", folder.toStdString()});
    QCOMPARE(r.code, ExitOk);
    QCOMPARE(QDir(folder).entryList(QDir::Files), QStringList{"QX7400_03_evil_07Dec26.QX"});
}

void TestCli::defaultPortFromTheSettingsFile() {
    sim::Instrument sim;
    QVERIFY(sim.start());
    const QString app = path("app");
    QVERIFY(QDir().mkpath(app));
    writeFile(app + "/RIGPREFS.DAT", "\"3\"\r\n");
    qputenv("PARAMPORTER_COMM3", QByteArray::fromStdString(sim.devicePath()));
    const Result r = runCli({"parts"}, SettingsFolders{app.toStdString(), {}});
    qunsetenv("PARAMPORTER_COMM3");
    QCOMPARE(r.err, std::string());
    QCOMPARE(r.code, ExitOk);
    QCOMPARE(r.out, std::string("01 02 05\n"));
}

// ------------------------------------------------------------------ the real binary

void TestCli::binaryEndToEnd() {
    auto exec = [](const QStringList& args) {
        QProcess p;
        p.start(QStringLiteral(PP_CLI_BINARY), args);
        if (!p.waitForFinished(20000))
            return Result{};
        return Result{p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
                      p.readAllStandardOutput().toStdString(),
                      p.readAllStandardError().toStdString()};
    };

    Result r = exec({"--version"});
    QCOMPARE(r.code, ExitOk);
    QCOMPARE(r.out, std::string(PP_VERSION) + "\n");

    r = exec({"read", "40", "-o", "x.QX"});
    QCOMPARE(r.code, ExitUsage);
    QCOMPARE(r.out, std::string());
    QVERIFY(!r.err.empty());

    sim::Instrument sim;
    QVERIFY(sim.start());
    const QString port = QString::fromStdString(sim.devicePath());
    const QString out = path("binary.QX");
    r = exec({"--port", port, "read", "2", "-o", out});
    QCOMPARE(r.code, ExitOk);
    QCOMPARE(r.out, std::string());
    QCOMPARE(r.err, std::string()); // not a terminal: no progress
    QCOMPARE(readFile(out), pp::test::instrumentFile(sim, 2));

    r = exec({"--port", port, "parts"});
    QCOMPARE(r.code, ExitOk);
    QCOMPARE(r.out, std::string("01 02 05\n"));

    r = exec({"--port", port, "write", out});
    QCOMPARE(r.code, ExitOk);
    QCOMPARE(r.out + r.err, std::string());

    sim.setSilent(true);
    const QString lost = path("binary-silent.QX");
    r = exec({"--port", port, "read", "2", "-o", lost});
    QCOMPARE(r.code, ExitLink);
    QCOMPARE(r.out, std::string());
    QCOMPARE(r.err, std::string("Error - No response from QX7400\n"));
    QVERIFY(!QFile::exists(lost));

    r = exec({"--port", port, "write", path("nothing-here.QX")});
    QCOMPARE(r.code, ExitUsage);
    QVERIFY(r.err.starts_with("Error reading file\n"));
}

// ------------------------------------------------------------------ diff and verify

void TestCli::diffAndVerifyArguments_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("expected"); // "command file file2", or "error"
    QTest::newRow("diff") << QStringList{"diff", "a.QX", "b.QX"} << "diff a.QX b.QX";
    QTest::newRow("diff one file") << QStringList{"diff", "a.QX"} << "error";
    QTest::newRow("diff three files") << QStringList{"diff", "a", "b", "c"} << "error";
    QTest::newRow("diff with a port") << QStringList{"--port", "1", "diff", "a", "b"} << "error";
    QTest::newRow("verify") << QStringList{"verify", "a.QX"} << "verify a.QX ";
    QTest::newRow("verify on a port")
        << QStringList{"verify", "a.QX", "--port", "/dev/x"} << "verify a.QX ";
    QTest::newRow("verify without file") << QStringList{"verify"} << "error";
    QTest::newRow("verify two files") << QStringList{"verify", "a", "b"} << "error";
    QTest::newRow("verify with -o") << QStringList{"verify", "a", "-o", "b"} << "error";
}

void TestCli::diffAndVerifyArguments() {
    QFETCH(QStringList, args);
    QFETCH(QString, expected);
    const ParseResult r = parseArgs(args);
    if (expected == "error") {
        QVERIFY(!r.options);
        QVERIFY(!r.error.empty());
        return;
    }
    QVERIFY2(r.options, r.error.c_str());
    const std::string name = r.options->command == Command::Diff     ? "diff"
                             : r.options->command == Command::Verify ? "verify"
                                                                     : "other";
    QCOMPARE(QString::fromStdString(name + " " + r.options->file + " " + r.options->file2),
             expected);
}

void TestCli::diffOfTwoFiles() {
    sim::Instrument sim; // its records only: never started
    const QString a = path("diff-a.QX");
    writeFile(a, pp::test::instrumentFile(sim, 7));

    // A file against itself: nothing, exit 0.
    Result r = runCli({"diff", a.toStdString(), a.toStdString()});
    QCOMPARE(r.code, ExitOk);
    QCOMPARE(r.out, std::string());
    QCOMPARE(r.err, std::string());

    // Two values changed: one line each, in catalogue order, exit 3.
    QVERIFY(sim.setSystemField(7, "4711"));
    QVERIFY(sim.setPartField(7, 25, "654321")); // customer code
    const QString b = path("diff-b.QX");
    writeFile(b, pp::test::instrumentFile(sim, 7));
    r = runCli({"diff", a.toStdString(), b.toStdString()});
    QCOMPARE(r.err, std::string());
    QCOMPARE(r.code, ExitDiffer);
    Sheet first;
    test::FakeWindow window;
    QVERIFY(ReadParamFile(first, a.toStdString(), window));
    QCOMPARE(r.out, "Serial Number: 1234 -> 4711\nCustomer Code: " + first.text(Part::CustCode) +
                        " -> 654321\n");

    // A file that cannot be read fails as for write.
    r = runCli({"diff", a.toStdString(), path("missing.QX").toStdString()});
    QCOMPARE(r.code, ExitUsage);
    QCOMPARE(r.out, std::string());
    QVERIFY(r.err.find("Error reading file") != std::string::npos);

    // The real binary gives the same status.
    QProcess p;
    p.start(QStringLiteral(PP_CLI_BINARY), {QStringLiteral("diff"), a, b});
    QVERIFY(p.waitForFinished(20000));
    QCOMPARE(p.exitCode(), ExitDiffer);
    QCOMPARE(p.readAllStandardOutput().count('\n'), 2);

    // A history server it would never use does not stop it; output that goes nowhere does.
    QProcess full;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("PARAMPORTER_HISTORY_SERVER"), QStringLiteral("no such =uri"));
    full.setProcessEnvironment(env);
    full.setStandardOutputFile(QStringLiteral("/dev/full"));
    full.start(QStringLiteral(PP_CLI_BINARY), {QStringLiteral("diff"), a, b});
    QVERIFY(full.waitForFinished(20000));
    QCOMPARE(full.exitCode(), ExitUsage);
    QCOMPARE(full.readAllStandardError(),
             QByteArray("paramporter-cli: standard output cannot be written\n"));
}

void TestCli::verifyAgainstTheInstrument() {
    sim::Instrument sim;
    QVERIFY(sim.start());
    const QString file = path("verify.QX");
    QFile::remove(file);
    Result r = runCli({"--port", sim.devicePath(), "read", "7", "-o", file.toStdString()});
    QCOMPARE(r.code, ExitOk);

    // What was read is what the instrument holds.
    r = runCli({"--port", sim.devicePath(), "verify", file.toStdString()});
    QCOMPARE(r.err, std::string());
    QCOMPARE(r.out, std::string());
    QCOMPARE(r.code, ExitOk);
    QCOMPARE(sim.framesReceived().back(), std::string("307"));

    // The instrument changed since: file value -> instrument value.
    QVERIFY(sim.setSystemField(5, "2222")); // system zero
    QVERIFY(sim.setPartField(7, 25, "654321"));
    r = runCli({"--port", sim.devicePath(), "verify", file.toStdString()});
    QCOMPARE(r.code, ExitDiffer);
    QVERIFY2(r.out.starts_with("System Zero: "), r.out.c_str());
    QVERIFY2(r.out.ends_with(" -> 654321\n"), r.out.c_str());

    // Another instrument: its own serial number, clock and calibration are not the file's.
    QVERIFY(sim.setSystemField(7, "4711"));
    r = runCli({"--port", sim.devicePath(), "verify", file.toStdString()});
    QCOMPARE(r.code, ExitDiffer);
    QVERIFY2(r.out.starts_with("Customer Code: "), r.out.c_str());
    QVERIFY2(r.err.find("serial 4711") != std::string::npos, r.err.c_str());

    // A failed exchange: its message, exit 1, nothing on standard output.
    sim.setSilent(true);
    r = runCli({"--port", sim.devicePath(), "verify", file.toStdString()});
    QCOMPARE(r.code, ExitLink);
    QCOMPARE(r.out, std::string());
    QCOMPARE(r.err, std::string("Error - No response from QX7400\n"));
}

// ------------------------------------------------------------------ report

namespace {

Result execCli(const QStringList& args) {
    QProcess p;
    p.start(QStringLiteral(PP_CLI_BINARY), args);
    if (!p.waitForFinished(20000))
        return Result{};
    return Result{p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
                  p.readAllStandardOutput().toStdString(), p.readAllStandardError().toStdString()};
}

// The report as the window prints it for the file (conversion answered `convert`).
std::string windowReport(const QString& file, Answer convert, const std::tm& now) {
    Sheet sheet;
    test::FakeWindow window;
    window.yesNoDefault = convert;
    if (!ReadParamFile(sheet, file.toStdString(), window))
        return "file refused";
    return reportText(composeReport(sheet, now));
}

// Non-empty lines with runs of blanks made one and the time of printing masked: what a PDF's
// text layout keeps of the report.
QStringList visibleLines(const QString& text) {
    static const QRegularExpression blanks(QStringLiteral("\\s+"));
    static const QRegularExpression time(
        QStringLiteral("[A-Z][a-z]{2} \\d{2},\\d{4} \\d{2}:\\d{2}"));
    QStringList lines;
    for (QString line : text.split(QRegularExpression(QStringLiteral("[\r\n\f]+")))) {
        line = line.replace(blanks, QStringLiteral(" ")).trimmed().replace(time, "TIME");
        if (!line.isEmpty())
            lines << line;
    }
    return lines;
}

} // namespace

void TestCli::reportArguments_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("expected"); // "file|output|convert", or "error"
    QTest::newRow("stdout") << QStringList{"report", "a.QX"} << "a.QX||-";
    QTest::newRow("-o") << QStringList{"report", "a.QX", "-o", "r.txt"} << "a.QX|r.txt|-";
    QTest::newRow("-o first, convert yes")
        << QStringList{"-o", "r.pdf", "report", "--convert", "YES", "a.QX"} << "a.QX|r.pdf|yes";
    QTest::newRow("--output=, convert=no")
        << QStringList{"report", "--output=r", "--convert=no", "a"} << "a|r|no";
    QTest::newRow("no file") << QStringList{"report", "-o", "r.txt"} << "error";
    QTest::newRow("two files") << QStringList{"report", "a", "b"} << "error";
    QTest::newRow("empty -o") << QStringList{"report", "a", "-o", ""} << "error";
    QTest::newRow("convert maybe") << QStringList{"report", "a", "--convert", "maybe"} << "error";
    QTest::newRow("no instrument") << QStringList{"--port", "1", "report", "a"} << "error";
    QTest::newRow("no --dir") << QStringList{"report", "a", "--dir", "d"} << "error";
}

void TestCli::reportArguments() {
    QFETCH(QStringList, args);
    QFETCH(QString, expected);
    const ParseResult r = parseArgs(args);
    if (expected == "error") {
        QVERIFY(!r.options);
        QVERIFY(!r.error.empty());
        return;
    }
    QVERIFY2(r.options, r.error.c_str());
    QCOMPARE(r.options->command, Command::Report);
    const std::string convert = !r.options->convert ? "-" : *r.options->convert ? "yes" : "no";
    QCOMPARE(QString::fromStdString(r.options->file + "|" + r.options->output + "|" + convert),
             expected);
    QCOMPARE(wantsPdf(*r.options), r.options->output.ends_with(".pdf"));
}

void TestCli::reportIsWhatThePrinterGets_data() {
    QTest::addColumn<Generation>("generation");
    QTest::newRow("V7.3") << Generation::V73;
    QTest::newRow("V7.0") << Generation::V70;
}

void TestCli::reportIsWhatThePrinterGets() {
    QFETCH(Generation, generation);
    sim::Instrument sim(generation); // its records only: never started
    QVERIFY(sim.setPartField(7, 11, "7.5"));
    QVERIFY(sim.setSystemField(7, "4711"));
    const QString file = path("report-src.QX");
    writeFile(file, pp::test::instrumentFile(sim, 7));
    const std::string expected = windowReport(file, Answer::No, december7th2026());
    QVERIFY(expected.find("4711") != std::string::npos);

    Result r = runCli({"report", file.toStdString()});
    QCOMPARE(r.err, std::string());
    QCOMPARE(r.code, ExitOk);
    QCOMPARE(r.out, expected);

    // The same bytes into a file, replacing what was there.
    const QString out = path("report.txt");
    writeFile(out, "old");
    r = runCli({"report", file.toStdString(), "-o", out.toStdString()});
    QCOMPARE(r.code, ExitOk);
    QCOMPARE(r.out + r.err, std::string());
    QCOMPARE(readFile(out), expected);
}

void TestCli::reportOfTheOlderLayout_data() {
    QTest::addColumn<QString>("convert"); // "" for none
    QTest::addColumn<int>("rows");
    QTest::addColumn<bool>("initFlowCheck"); // third column of parameters line 7
    QTest::newRow("no answer") << "" << 28 << false;
    QTest::newRow("no") << "no" << 28 << false;
    QTest::newRow("yes") << "yes" << 30 << true;
}

void TestCli::reportOfTheOlderLayout() {
    QFETCH(QString, convert);
    QFETCH(int, rows);
    QFETCH(bool, initFlowCheck);
    sim::Instrument old(Generation::V70);
    const QString file = path("report-old.QX");
    writeFile(file, pp::test::instrumentFile(old, 5));
    QCOMPARE(QString::fromStdString(readFile(file)).count("\r\n"), 2);

    std::vector<std::string> args{"report", file.toStdString()};
    if (!convert.isEmpty())
        args.insert(args.end(), {"--convert", convert.toStdString()});
    const Result r = runCli(args);
    QCOMPARE(r.code, ExitOk);
    QCOMPARE(r.out,
             windowReport(file, convert == "yes" ? Answer::Yes : Answer::No, december7th2026()));

    const QStringList lines = QString::fromStdString(r.out).split(QStringLiteral("\r\n"));
    const qsizetype line7 = lines.indexOf(QRegularExpression(QStringLiteral(" +ERR DISPLAY: .*")));
    QVERIFY(line7 >= 0);
    QVERIFY(lines[line7].contains(QStringLiteral("RTC PROMPT: ")));
    QCOMPARE(lines[line7].contains(QStringLiteral("INIT FLOW CHK: ")), initFlowCheck);
    const qsizetype heading = lines.indexOf(QRegularExpression(QStringLiteral(" +PN 05 *")));
    QVERIFY(heading > line7);
    int partRows = 0;
    for (qsizetype i = heading + 1; i < lines.size(); ++i)
        partRows += lines[i].isEmpty() ? 0 : 1;
    QCOMPARE(partRows, rows);
}

void TestCli::reportAsPdf() {
    sim::Instrument sim; // its records only: never started
    QVERIFY(sim.setSystemField(7, "4711"));
    const QString file = path("report-pdf.QX");
    writeFile(file, pp::test::instrumentFile(sim, 2));
    QDir folder(path("pdf"));
    QVERIFY(folder.mkpath(QStringLiteral(".")));
    const QString pdf = folder.filePath(QStringLiteral("report.PDF"));
    writeFile(pdf, "old");

    // The real binary: the command line alone decides on a GUI application.
    const Result r = execCli({QStringLiteral("report"), file, QStringLiteral("-o"), pdf});
    QCOMPARE(QString::fromStdString(r.err), QString());
    QCOMPARE(r.code, ExitOk);
    QCOMPARE(r.out, std::string());
    QVERIFY(readFile(pdf).starts_with("%PDF-"));
    QCOMPARE(folder.entryList(QDir::Files | QDir::Hidden), QStringList{"report.PDF"});
    QCOMPARE(QFileInfo(pdf).permissions(), QFileInfo(file).permissions()); // not the temporary's

    QProcess text;
    text.start(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), pdf, QStringLiteral("-")});
    QVERIFY(text.waitForFinished(20000));
    QCOMPARE(text.exitCode(), 0);
    const QStringList got = visibleLines(QString::fromUtf8(text.readAllStandardOutput()));
    const QStringList want =
        visibleLines(QString::fromStdString(windowReport(file, Answer::No, december7th2026())));
    QCOMPARE(got, want);

    // Without a GUI application (as in this test) no PDF is attempted, and none is left.
    const QString inProcess = folder.filePath(QStringLiteral("in-process.pdf"));
    const Result failed = runCli({"report", file.toStdString(), "-o", inProcess.toStdString()});
    QCOMPARE(failed.code, ExitUsage);
    QVERIFY(failed.err.starts_with("Error writing file\n"));
    QCOMPARE(folder.entryList(QDir::Files | QDir::Hidden), QStringList{"report.PDF"});
}

void TestCli::reportFailuresWriteNothing() {
    const QString bad = path("report-bad.QX");
    writeFile(bad, "\"not\",\"a\"\r\n");
    const QString good = path("report-good.QX");
    writeFile(good, pp::test::instrumentFile(sim::Instrument(), 1));

    for (const QString& source : {bad, path("report-missing.QX")}) {
        for (const QString& name : {QStringLiteral("r-new.txt"), QStringLiteral("r-new.pdf")}) {
            const QString out = path(name);
            const Result r = execCli({QStringLiteral("report"), source, QStringLiteral("-o"), out});
            QCOMPARE(r.code, ExitUsage);
            QCOMPARE(r.out, std::string());
            QVERIFY2(r.err.starts_with("Error reading file\n"), r.err.c_str());
            QVERIFY(!QFile::exists(out));
        }
        // An older report stays as it was.
        const QString kept = path("r-kept.txt");
        writeFile(kept, "kept");
        QCOMPARE(runCli({"report", source.toStdString(), "-o", kept.toStdString()}).code,
                 ExitUsage);
        QCOMPARE(readFile(kept), std::string("kept"));
    }

    // A folder that is not there: nothing written, text or PDF.
    for (const char* name : {"no-such-folder/r.txt", "no-such-folder/r.pdf"}) {
        const QString out = path(QString::fromLatin1(name));
        const Result r = execCli({QStringLiteral("report"), good, QStringLiteral("-o"), out});
        QCOMPARE(r.code, ExitUsage);
        QCOMPARE(r.out, std::string());
        QVERIFY2(r.err.starts_with("Error writing file\n"), r.err.c_str());
        QVERIFY(!QDir(path("no-such-folder")).exists());
    }
}

// ------------------------------------------------------------------ history

namespace {

// The listing as JSON objects, newest first.
std::vector<QJsonObject> historyJson(const std::string& db) {
    const Result r = runCli({"--history", db, "history", "--json"});
    std::vector<QJsonObject> entries;
    for (const QByteArray& line : QByteArray::fromStdString(r.out).split('\n'))
        if (!line.isEmpty())
            entries.push_back(QJsonDocument::fromJson(line).object());
    return entries;
}

QString summary(const QJsonObject& o) {
    QStringList fields;
    for (const char* key : {"id", "action", "scope", "part", "result", "stopped_at_field"})
        fields << (o.value(key).isNull() ? QStringLiteral("null")
                                         : o.value(key).toVariant().toString());
    return fields.join(' ');
}

} // namespace

void TestCli::historyArguments_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("expected"); // "error" or the options that matter
    auto row = [](const char* name, QStringList args, const char* expected) {
        QTest::newRow(name) << args << QString(expected);
    };
    row("listing", {"history"}, "list");
    row("filters",
        {"history", "--serial", "1234", "--part", "5", "--action", "DOWNLOAD", "--limit", "20",
         "--json"},
        "list 1234 05 download 20 json");
    row("verify", {"--history", "h.db", "history", "--verify"}, "verify h.db");
    row("export", {"history", "--export", "7", "-o", "f.QX"}, "export 7 f.QX");
    row("diff", {"history", "--diff", "3", "5"}, "diff 3 5");
    row("any command keeps a history", {"--history", "h.db", "read", "7", "-o", "f"}, "other h.db");
    row("export without -o", {"history", "--export", "7"}, "error");
    row("verify with a filter", {"history", "--verify", "--json"}, "error");
    row("two modes", {"history", "--verify", "--export", "1", "-o", "f"}, "error");
    row("diff with one ID", {"history", "--diff", "3"}, "error");
    row("action erase", {"history", "--action", "erase"}, "error");
    row("no instrument", {"--port", "1", "history"}, "error");
    row("plant listing",
        {"history", "--server", "postgresql://db/p", "--host", "line-1", "--serial", "1234"},
        "list 1234 postgresql://db/p line-1");
    row("push", {"--history-server", "postgresql://db/p", "history", "--push"}, "push");
    row("status", {"history", "--status"}, "status");
    row("any command forwards", {"--history-server", "postgresql://db/p", "read", "7", "-o", "f"},
        "other postgresql://db/p");
    row("host without a server", {"history", "--host", "line-1"}, "error");
    row("push to --server", {"history", "--push", "--server", "postgresql://db/p"}, "error");
    row("an age of no days", {"audit", "--stale-days", "0"}, "error");
}

void TestCli::historyArguments() {
    QFETCH(QStringList, args);
    QFETCH(QString, expected);
    const ParseResult r = parseArgs(args);
    if (expected == "error") {
        QVERIFY(!r.options);
        QVERIFY(!r.error.empty());
        return;
    }
    QVERIFY2(r.options, r.error.c_str());
    const Options& o = *r.options;
    QString got;
    if (o.command != Command::History)
        got = QString("other %1 %2")
                  .arg(QString::fromStdString(o.history), QString::fromStdString(o.historyServer))
                  .simplified();
    else if (o.push)
        got = QStringLiteral("push");
    else if (o.forwardStatus)
        got = QStringLiteral("status");
    else if (o.verifyHistory)
        got = QString("verify %1").arg(QString::fromStdString(o.history));
    else if (o.exportId)
        got = QString("export %1 %2").arg(o.exportId).arg(QString::fromStdString(o.file));
    else if (o.diffFirst)
        got = QString("diff %1 %2").arg(o.diffFirst).arg(o.diffSecond);
    else
        got = QStringList{"list",
                          QString::fromStdString(o.serial),
                          QString::fromStdString(o.part),
                          QString::fromStdString(o.action),
                          o.limit ? QString::number(o.limit) : "",
                          o.json ? "json" : "",
                          QString::fromStdString(o.server),
                          QString::fromStdString(o.host)}
                  .join(' ')
                  .simplified();
    QCOMPARE(got, expected);
}

void TestCli::historyRecordsEveryTransfer() {
    const std::string db = path("history/every.sqlite").toStdString(); // the folder is made
    sim::Instrument sim;
    QVERIFY(sim.start());
    const std::string port = sim.devicePath();
    const std::string file = path("history-read.QX").toStdString();
    QCOMPARE(runCli({"--history", db, "--port", port, "read", "7", "-o", file}).code, ExitOk);
    QCOMPARE(runCli({"--history", db, "--port", port, "write", file}).code, ExitOk);
    sim.setNakAtField(3);
    QCOMPARE(runCli({"--history", db, "--port", port, "write", file}).code, ExitLink);
    sim.setNakAtField(std::nullopt);
    sim.setSilent(true);
    const std::string lost = path("history-lost.QX").toStdString();
    QCOMPARE(runCli({"--history", db, "--port", port, "read", "7", "-o", lost}).code, ExitLink);

    const std::vector<QJsonObject> entries = historyJson(db);
    QStringList got;
    for (const QJsonObject& e : entries)
        got << summary(e);
    QCOMPARE(got, (QStringList{
                      "6 upload system null Error - No response from QX7400 null",
                      "5 download system null Error - NAK received from leak unit 3",
                      "4 download part 07 SUCCESS null",
                      "3 download system null SUCCESS null",
                      "2 upload part 07 SUCCESS null",
                      "1 upload system null SUCCESS null",
                  }));
    // The values received and the values sent, as the file the read wrote.
    const QString written = QString::fromStdString(readFile(QString::fromStdString(file)));
    QCOMPARE(entries[2].value("file").toString(), written);
    QCOMPARE(entries[4].value("file").toString(), written);
    QVERIFY(entries[0].value("file").isNull());
    QVERIFY(entries[1].value("file").toString().startsWith(written.section("\r\n", 0, 0)));
    const QRegularExpression utc(
        QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}Z$"));
    for (const QJsonObject& e : entries)
        QVERIFY(utc.match(e.value("time").toString()).hasMatch());
    QCOMPARE(entries[1].value("serial").toString(), QString("1234"));
    QCOMPARE(entries[1].value("generation").toString(), QString("V7.3"));

    // One line each: ID TIME ACTION SCOPE PART SERIAL RESULT.
    const Result line =
        runCli({"--history", db, "history", "--action", "upload", "--part", "7", "--limit", "1"});
    QCOMPARE(line.code, ExitOk);
    QCOMPARE(QString::fromStdString(line.out).section(' ', 2),
             QString("upload part 07 1234 SUCCESS\n"));
}

void TestCli::historyExportDiffVerify() {
    const std::string db = path("history-commands.sqlite").toStdString();
    sim::Instrument sim;
    QVERIFY(sim.start());
    const std::string a = path("history-a.QX").toStdString();
    const std::string b = path("history-b.QX").toStdString();
    QCOMPARE(runCli({"--history", db, "--port", sim.devicePath(), "read", "7", "-o", a}).code,
             ExitOk);
    QVERIFY(sim.setPartField(7, 11, "7.5"));
    QCOMPARE(runCli({"--history", db, "--port", sim.devicePath(), "read", "7", "-o", b}).code,
             ExitOk);

    // Entries compare as their files do.
    const Result files = runCli({"diff", a, b});
    const Result entries = runCli({"--history", db, "history", "--diff", "2", "4"});
    QCOMPARE(files.code, ExitDiffer);
    QCOMPARE(entries.code, ExitDiffer);
    QCOMPARE(entries.out, files.out);
    const Result systems = runCli({"--history", db, "history", "--diff", "1", "3"});
    QCOMPARE(systems.code, ExitOk);
    QCOMPARE(systems.out + systems.err, std::string());

    const QString exported = path("history-export.QX");
    QCOMPARE(
        runCli({"--history", db, "history", "--export", "2", "-o", exported.toStdString()}).code,
        ExitOk);
    QCOMPARE(readFile(exported), readFile(QString::fromStdString(a)));
    // An exported system entry puts the system values back, and only those.
    const std::string system = path("history-system.QX").toStdString();
    QCOMPARE(runCli({"--history", db, "history", "--export", "1", "-o", system}).code, ExitOk);
    const std::string zero = sim.systemField(5); // system zero
    QVERIFY(sim.setSystemField(5, "2048"));
    QCOMPARE(runCli({"--history", db, "--port", sim.devicePath(), "write", system}).code, ExitOk);
    QCOMPARE(sim.systemField(5), zero);
    QCOMPARE(summary(historyJson(db).front()).section(' ', 0, 4),
             QString("5 download system null SUCCESS"));
    // An unknown ID, or a file that cannot be written: exit 2, nothing written.
    const std::string unknown = path("unknown.QX").toStdString();
    const std::string unwritable = path("no-folder/x.QX").toStdString();
    for (const Result& r :
         {runCli({"--history", db, "history", "--export", "9", "-o", unknown}),
          runCli({"--history", db, "history", "--diff", "2", "9"}),
          runCli({"--history", db, "history", "--export", "2", "-o", unwritable})}) {
        QCOMPARE(r.code, ExitUsage);
        QCOMPARE(r.out, std::string());
        QVERIFY(!r.err.empty());
    }
    QVERIFY(!QFile::exists(QString::fromStdString(unknown)));
    QVERIFY(!QDir(path("no-folder")).exists());
    QVERIFY(runCli({"--history", db, "history", "--export", "2", "-o", unwritable})
                .err.starts_with("Error writing file\n"));

    // An entry whose file was removed by hand reads as a damaged file: nothing exported.
    const std::string copy = path("history-commands-copy.sqlite").toStdString();
    QFile::remove(QString::fromStdString(copy));
    QVERIFY(QFile::copy(QString::fromStdString(db), QString::fromStdString(copy)));
    QVERIFY(test::tamper(copy, "DELETE FROM content"));
    const std::string lost = path("history-lost-file.QX").toStdString();
    const Result removed = runCli({"--history", copy, "history", "--export", "2", "-o", lost});
    QCOMPARE(removed.code, ExitUsage);
    QVERIFY(removed.err.starts_with("Error reading file\n"));
    QVERIFY(!QFile::exists(QString::fromStdString(lost)));

    Result v = runCli({"--history", db, "history", "--verify"});
    QCOMPARE(v.out, std::string("history intact: 5 entries\n"));
    QCOMPARE(v.code, ExitOk);
    QVERIFY(test::tamper(db, "UPDATE entry SET user = 'someone else' WHERE id = 3"));
    v = runCli({"--history", db, "history", "--verify"});
    QCOMPARE(v.code, ExitBroken);
    QVERIFY2(v.out.starts_with("history broken at entry 3"), v.out.c_str());
}

// A part copied from A (1234) to B (5678): B keeps its own system parameters, serial number
// included, unless told otherwise; the history names B.
void TestCli::writeToAnotherInstrument() {
    sim::Instrument a;
    sim::Instrument b;
    QVERIFY(a.start() && b.start());
    QVERIFY(b.setSystemField(7, "5678"));
    QVERIFY(b.setPartField(5, 21, "7.7")); // B's own flow factor
    QVERIFY(a.setPartField(5, 11, "9.5"));
    const std::string file = path("copy-part05.QX").toStdString();
    QCOMPARE(runCli({"--port", a.devicePath(), "read", "5", "-o", file}).code, ExitOk);
    const std::string db = path("copy-history.sqlite").toStdString();

    const Result refused = runCli({"--history", db, "--port", b.devicePath(), "write", file});
    QCOMPARE(refused.code, ExitUsage);
    QCOMPARE(refused.err, std::string("paramporter-cli: the instrument is serial 5678, the file "
                                      "is from serial 1234; use --part-only to copy its part, or "
                                      "--any-instrument\n"));
    QVERIFY(b.downloadFrames().empty());

    const Result part =
        runCli({"--history", db, "--port", b.devicePath(), "write", file, "--part-only"});
    QCOMPARE(part.code, ExitOk);
    QCOMPARE(b.systemField(7), std::string("5678"));
    QCOMPARE(b.partField(5, 11), std::string("9.5"));
    QCOMPARE(b.partField(5, 21), std::string("7.7")); // its calibration stays its own
    // What was copied is there; what is B's own is not counted against the file.
    const Result verified = runCli({"--port", b.devicePath(), "verify", file});
    QCOMPARE(verified.out, std::string());
    QCOMPARE(verified.code, ExitOk);
    for (const std::string& frame : b.downloadFrames())
        QCOMPARE(frame.substr(0, 1), std::string("5"));
    QCOMPARE(summary(historyJson(db).front()).section(' ', 1, 4),
             QString("download part 05 SUCCESS"));
    QCOMPARE(historyJson(db).front().value("serial").toString(), QString("5678"));
    QCOMPARE(historyJson(db).size(), size_t(1)); // the read of who is there is no entry

    // Writing everything needs the instrument read first all the same.
    b.clearLogs();
    b.corruptNextChecksum();
    const Result unread = runCli({"--port", b.devicePath(), "write", file, "--any-instrument"});
    QCOMPARE(unread.code, ExitLink);
    QCOMPARE(unread.err, std::string("Check sum error\n"));
    QCOMPARE(b.framesReceived(), std::vector<std::string>{"2"});

    QCOMPARE(runCli({"--port", b.devicePath(), "write", file, "--any-instrument"}).code, ExitOk);
    QCOMPARE(b.systemField(7), std::string("1234"));
}

// A change made at the instrument's keypad between two uploads (here: in the simulator's own
// state) is found, first against the last upload, then against an approval; the audit says so
// in its exit status and listing.
void TestCli::changedAtTheInstrumentAndAudited() {
    sim::Instrument sim;
    QVERIFY(sim.start());
    const std::string db = path("drift.sqlite").toStdString();
    const std::string port = sim.devicePath();
    const std::string file = path("drift.QX").toStdString();
    QVERIFY(sim.setPartField(5, 11, "7.5")); // leak limit
    QCOMPARE(runCli({"--history", db, "--port", port, "read", "5", "-o", file}).code, ExitOk);
    QCOMPARE(runCli({"--history", db, "audit"}).code, ExitOk); // nothing approved, nothing off

    QVERIFY(sim.setPartField(5, 11, "9"));
    Result r = runCli({"--history", db, "--port", port, "read", "5", "-o", file});
    QCOMPARE(r.code, ExitOk);
    QVERIFY2(r.err.find("Part 05 differs from what was last uploaded: Leak Limit 7.5 -> 9\n") !=
                 std::string::npos,
             r.err.c_str());
    const QJsonObject drifted = historyJson(db).front();
    QCOMPARE(drifted.value("findings").toArray().size(), 1);

    // Approved as it was (the first part upload), then found against that.
    QCOMPARE(runCli({"--history", db, "history", "--approve", "2", "--meaning", "approved",
                     "--reason", "first article"})
                 .code,
             ExitOk);
    // A part never approved, listed after it, leaves the audit failing all the same.
    const std::string other = path("drift-06.QX").toStdString();
    QCOMPARE(runCli({"--history", db, "--port", port, "read", "6", "-o", other}).code, ExitOk);
    r = runCli({"--history", db, "audit"});
    QCOMPARE(r.code, ExitDiffer);
    QVERIFY2(r.out.find("1234 part 05 differs: Leak Limit 7.5 -> 9; last contact ") !=
                 std::string::npos,
             r.out.c_str());
    QVERIFY(r.out.find("1234 system never approved") != std::string::npos);
    r = runCli({"--history", db, "--port", port, "read", "5", "-o", file});
    QVERIFY2(r.err.find("Part 05 differs from its approved values: Leak Limit 7.5 -> 9\n") !=
                 std::string::npos,
             r.err.c_str());
    // Put right at the instrument: the audit complies, unless the last contact is too old.
    QVERIFY(sim.setPartField(5, 11, "7.5"));
    QCOMPARE(runCli({"--history", db, "--port", port, "read", "5", "-o", file}).code, ExitOk);
    // Stale once the last contact is more than 30 days back, counted in days.
    const auto daysAgo = [](int days) {
        return "UPDATE entry SET time = '" +
               QDateTime::currentDateTimeUtc()
                   .date()
                   .addDays(-days)
                   .toString(Qt::ISODate)
                   .toStdString() +
               "T00:00:00.000Z'";
    };
    QVERIFY(test::tamper(db, daysAgo(30)));
    QCOMPARE(runCli({"--history", db, "audit", "--stale-days", "30"}).code, ExitOk);
    QVERIFY(test::tamper(db, daysAgo(31)));
    r = runCli({"--history", db, "audit", "--stale-days", "30", "--serial", "1234"});
    QCOMPARE(r.code, ExitDiffer);
    QVERIFY(r.out.find("; stale (older than 30 days)") != std::string::npos);

    // A report up to the day of every entry holds them all.
    const QString all = path("drift-all.csv");
    const QString upTo = path("drift-to.csv");
    runCli({"--history", db, "audit", "--report", all.toStdString()});
    const std::string day =
        QDateTime::currentDateTimeUtc().date().addDays(-31).toString(Qt::ISODate).toStdString();
    runCli({"--history", db, "audit", "--report", upTo.toStdString(), "--to", day});
    QVERIFY(readFile(all).find(R"("upload","part","05","1234")") != std::string::npos);
    QCOMPARE(readFile(upTo), readFile(all));

    // A host name as a terminal shows it, never as commands to it.
    QVERIFY(test::tamper(db, "UPDATE entry SET host = 'line-1' || char(27) || '[2J'"));
    r = runCli({"--history", db, "audit"});
    QVERIFY2(r.out.find(" on line-1\\x1b[2J\n") != std::string::npos, r.out.c_str());
}

// What was written last is what the instrument should hold since.
void TestCli::comparedWithWhatWasLastWritten() {
    sim::Instrument sim;
    QVERIFY(sim.start());
    const std::string db = path("written.sqlite").toStdString();
    const std::string port = sim.devicePath();
    const std::string file = path("written.QX").toStdString();
    QVERIFY(sim.setPartField(5, 11, "7.5"));
    QCOMPARE(runCli({"--history", db, "--port", port, "read", "5", "-o", file}).code, ExitOk);
    QVERIFY(sim.setPartField(5, 11, "9"));
    QCOMPARE(runCli({"--history", db, "--port", port, "write", file}).code, ExitOk);
    QVERIFY(sim.setPartField(5, 11, "8"));
    const Result r = runCli({"--history", db, "--port", port, "read", "5", "-o", file});
    QCOMPARE(r.err,
             std::string("Part 05 differs from what was last downloaded: Leak Limit 7.5 -> 8\n"));
}

// The audit holds a scope to its newest transfer, a revoked approval to nothing, and the same
// instrument to its calibration.
void TestCli::auditOfWhatWasWrittenRevokedOrCalibrated() {
    sim::Instrument sim;
    QVERIFY(sim.start());
    const std::string db = path("held.sqlite").toStdString();
    const std::string port = sim.devicePath();
    const std::string approvedFile = path("held-approved.QX").toStdString();
    const std::string changedFile = path("held-changed.QX").toStdString();
    auto read = [&](const std::string& file) {
        return runCli({"--history", db, "--port", port, "read", "5", "-o", file});
    };
    auto lastId = [&] { return std::to_string(historyJson(db).front().value("id").toInteger()); };
    auto approveLast = [&] {
        return runCli({"--history", db, "history", "--approve", lastId(), "--meaning", "approved",
                       "--reason", "first article"})
            .code;
    };
    QVERIFY(sim.setPartField(5, 11, "9"));
    QCOMPARE(read(changedFile).code, ExitOk);
    QVERIFY(sim.setPartField(5, 11, "7.5"));
    QCOMPARE(read(approvedFile).code, ExitOk);
    QCOMPARE(approveLast(), ExitOk);

    // Written after the last upload: the instrument holds what was written.
    QCOMPARE(runCli({"--history", db, "--port", port, "write", changedFile}).code, ExitOk);
    Result r = runCli({"--history", db, "audit"});
    QCOMPARE(r.code, ExitDiffer);
    QVERIFY2(r.out.find("1234 part 05 differs: Leak Limit 7.5 -> 9;") != std::string::npos,
             r.out.c_str());
    // That download approved: approved, not read back since.
    QCOMPARE(approveLast(), ExitOk);
    r = runCli({"--history", db, "audit", "--json"});
    QCOMPARE(r.code, ExitOk);
    QVERIFY2(r.out.find(R"("matches":true,"written":true)") != std::string::npos, r.out.c_str());

    // Revoked, the scope deviates until approved again.
    QCOMPARE(runCli({"--history", db, "history", "--revoke", "--serial", "1234", "--scope", "part",
                     "--part", "5", "--reason", "withdrawn"})
                 .code,
             ExitOk);
    r = runCli({"--history", db, "audit"});
    QCOMPARE(r.code, ExitDiffer);
    QVERIFY2(r.out.find("1234 part 05 approval revoked;") != std::string::npos, r.out.c_str());

    // A Flow Factor changed at the same instrument is a finding, and a deviation.
    QCOMPARE(read(approvedFile).code, ExitOk);
    QCOMPARE(approveLast(), ExitOk);
    QVERIFY(sim.setPartField(5, 21, "1.0"));
    r = read(approvedFile);
    QVERIFY2(r.err.find("Part 05: calibration changed: Flow Factor ") != std::string::npos,
             r.err.c_str());
    r = runCli({"--history", db, "audit"});
    QCOMPARE(r.code, ExitDiffer);
    QVERIFY2(r.out.find("1234 part 05 matches; calibration changed: Flow Factor ") !=
                 std::string::npos,
             r.out.c_str());

    // Nothing recorded of a serial is nothing to audit, not compliance.
    r = runCli({"--history", db, "audit", "--serial", "9999"});
    QCOMPARE(r.code, ExitUsage);
}

// A PC whose clock went back hides nothing: the period runs in the order entries were recorded,
// from the first dated on or after --from to the last dated on or before --to.
void TestCli::auditReportAcrossAClockSetBack() {
    const std::string db = path("clock.sqlite").toStdString();
    QVERIFY(test::record(db, 2, "2026-12-08T10:00:00.000Z"));
    QVERIFY(test::record(db, 2, "2026-11-01T10:00:00.000Z")); // set back
    QVERIFY(test::record(db, 1, "2026-12-09T10:00:00.000Z"));
    {
        history::Store store;
        QVERIFY(store.open(db));
        QVERIFY(store.approve(1, "approved", "first article"));
    }
    const QString csv = path("clock.csv");
    Result r =
        runCli({"--history", db, "audit", "--report", csv.toStdString(), "--from", "2026-12-01"});
    QCOMPARE(r.code, ExitOk);
    QStringList lines = QString::fromStdString(readFile(csv)).split("\r\n", Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 8); // the header, six entries, the chain check
    QCOMPARE(lines[0], QString("\"ID\",\"Time\",\"Account\",\"Host\",\"Action\",\"Scope\",\"Part\","
                               "\"Serial\",\"Reason\",\"Result\",\"Meaning\",\"Subject\","
                               "\"Changes\",\"Findings\",\"Signed By\",\"Signer Login\","
                               "\"Signed At\""));
    for (int id = 1; id <= 6; ++id)
        QVERIFY2(lines[id].startsWith(QString("\"%1\",").arg(id)), qPrintable(lines[id]));
    QVERIFY2(lines[6].contains(
                 R"("approve","part","05","1234","first article","SUCCESS","approved","1")") &&
                 lines[6].endsWith(R"("unsigned, local","","")"),
             qPrintable(lines[6]));
    QCOMPARE(lines[7], QString("\"Chain check\",\"intact, 6 entries\""));
    // Up to the 8th: the entries dated then and those recorded between them.
    r = runCli({"--history", db, "audit", "--report", csv.toStdString(), "--to", "2026-12-08"});
    lines = QString::fromStdString(readFile(csv)).split("\r\n", Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 6);
    QVERIFY2(lines[4].startsWith("\"4\","), qPrintable(lines[4]));
}

// A chain that could not be checked is said to be, in the report and on standard error: exit 2.
void TestCli::auditReportOfAChainNotChecked() {
    const std::string db = path("never-written.sqlite").toStdString();
    const QString csv = path("unchecked.csv");
    const Result r = runCli({"--history", db, "audit", "--report", csv.toStdString()});
    QCOMPARE(r.code, ExitUsage);
    const std::string why = "not checked: there is no history at " + db;
    QVERIFY2(readFile(csv).ends_with("\"Chain check\",\"" + why + "\"\r\n"), readFile(csv).c_str());
    QCOMPARE(r.err, "paramporter-cli: chain check: " + why + "\n");
}

// The PDF is a document to hand over: its first page, every entry with its ID and whole texts,
// the approval with what it approves and no result, numbered pages and an end.
void TestCli::auditReportAsADocument() {
    const std::string db = path("document.sqlite").toStdString();
    std::string reason = "why:";
    for (int i = 0; reason.size() < 120000; ++i)
        reason += std::to_string(i) + ",";
    reason += "end-of-reason";
    {
        history::Store store;
        QVERIFY(store.open(db));
        history::Entry e = test::sampleEntry(1);
        e.action = history::Action::Download;
        e.reason = reason;
        QVERIFY(store.append(e));
        QVERIFY(store.approve(1, "reviewed", "checked"));
    }
    const QString pdf = path("document.pdf");
    const Result r = execCli({"--history", QString::fromStdString(db), "audit", "--report", pdf});
    QCOMPARE(QString::fromStdString(r.err), QString());
    QCOMPARE(r.code, ExitOk);
    QProcess text;
    text.start(QStringLiteral("pdftotext"), {pdf, QStringLiteral("-")});
    QVERIFY(text.waitForFinished(20000));
    const QString all = QString::fromUtf8(text.readAllStandardOutput());
    QStringList pages = all.split('\f');
    pages.removeLast(); // after the last page's end
    QVERIFY(pages.size() > 20);
    const QString first = pages[0].simplified();
    QVERIFY2(first.contains("Made: 2026-") && first.contains("Source: this PC's history, ") &&
                 first.contains("1234 part 05 differs 2026-12-08T14:03:07.412Z"),
             qPrintable(first));
    QString body;
    for (int p = 0; p < pages.size(); ++p) {
        QStringList lines = pages[p].split('\n', Qt::SkipEmptyParts);
        QVERIFY2(lines.first() == "ParamPorter audit report: every instrument, the first entry to "
                                  "the last entry, this PC",
                 qPrintable(lines.first()));
        QVERIFY(lines[1].startsWith("-----")); // the rule above the page's text
        QCOMPARE(lines.last().trimmed(), QString("Page %1 of %2").arg(p + 1).arg(pages.size()));
        body +=
            lines.mid(1, lines.size() - 2).join('\n').remove(QRegularExpression("^-{40,}")) + '\n';
    }
    const QString flat = body.simplified();
    QVERIFY(flat.contains("Entry 1 2026-12-08T14:03:07.412Z download part 05 serial 1234 SUCCESS "
                          "by tech on bench-pc"));
    QVERIFY2(flat.contains(QRegularExpression("Entry 2 \\S+ approve part 05 serial 1234 by \\S+ on "
                                              "\\S+ signed by: unsigned, local: no person signed "
                                              "it at a plant server meaning: reviewed approves "
                                              "entry 1: download part 05 of serial 1234 at ")),
             qPrintable(flat.right(400)));
    QVERIFY(body.contains("\nEntry 1 (continued)\n"));
    // The reason whole, wrapped: only line breaks, their indents and the pages' "continued"
    // lines come between its characters.
    QString joined = body;
    joined.remove("\nEntry 1 (continued)\n").remove(QRegularExpression("\\s+"));
    QVERIFY(joined.contains(QString::fromStdString(reason)));
    QVERIFY2(flat.endsWith("Chain check: intact, 2 entries End of report"),
             qPrintable(flat.right(200)));
}

// The audit only looks: a history of an earlier version stays as it was.
void TestCli::auditChangesNoHistory() {
    const QString old = path("audit-v1.sqlite");
    QVERIFY(QFile::copy(QStringLiteral(PP_TEST_DATA "/history-v1.sqlite"), old));
    QFile::setPermissions(old, QFile::ReadOwner | QFile::WriteOwner);
    const std::string before = readFile(old);
    QCOMPARE(runCli({"--history", old.toStdString(), "audit"}).code, ExitOk);
    QCOMPARE(readFile(old), before);
}

// A round reads every port; a port without an instrument fails alone, and the hooks run once,
// each with the summary on standard input.
void TestCli::roundOverTwoPortsOneSilent() {
    sim::Instrument answering;
    sim::Instrument silent;
    QVERIFY(answering.start() && silent.start());
    answering.setConfiguredParts({2, 5});
    silent.setSilent(true);
    const std::string db = path("round.sqlite").toStdString();
    const QString deviation = path("round-deviation.json");
    const QString failure = path("round-failure.json");
    const Result r = runCli({"--history", db, "round", "--ports",
                             answering.devicePath() + "," + silent.devicePath(), "--on-deviation",
                             "cat >> '" + deviation.toStdString() + "'", "--on-failure",
                             "cat >> '" + failure.toStdString() + "'"});
    QCOMPARE(r.code, ExitLink);
    QVERIFY2(r.out.find(answering.devicePath() + ": serial 1234, 3 read, 0 deviate\n") == 0,
             r.out.c_str());
    QVERIFY(r.out.find(silent.devicePath() + ": failed: Error - No response from QX7400") !=
            std::string::npos);
    QVERIFY(!QFile::exists(deviation));
    const QList<QByteArray> summaries = QByteArray::fromStdString(readFile(failure)).split('\n');
    QCOMPARE(summaries.size(), 2); // one line, then the end
    const QJsonObject summary = QJsonDocument::fromJson(summaries.front()).object();
    QCOMPARE(summary.value("failures").toInt(), 1);
    const QJsonArray ports = summary.value("ports").toArray();
    QCOMPARE(ports.size(), 2);
    QCOMPARE(ports[0].toObject().value("result").toString(), QString("read"));
    QCOMPARE(ports[0].toObject().value("scopes").toArray().size(), 3);
    QCOMPARE(ports[1].toObject().value("result").toString(), QString("failed"));
    QCOMPARE(historyJson(db).size(), size_t(4)); // system, 02, 05 and the silent port's try

    // Changed since the last round, approved never: a deviation.
    QVERIFY(answering.setPartField(5, 11, "9"));
    const std::string onDeviation = "cat >> '" + deviation.toStdString() + "'";
    const std::string onFailure = "cat >> '" + failure.toStdString() + "'";
    const std::vector<std::string> again{
        "--history",      db,          "round",        "--ports", answering.devicePath(),
        "--on-deviation", onDeviation, "--on-failure", onFailure};
    Result changed = runCli(again);
    QCOMPARE(changed.code, ExitDiffer);
    QVERIFY2(
        changed.out.starts_with(answering.devicePath() + ": serial 1234, 3 read, 1 deviates\n"),
        changed.out.c_str());
    QCOMPARE(QByteArray::fromStdString(readFile(deviation)).count('\n'), 1);

    // The port lost at part 02 on an instrument that answered: a failure, 05 not read.
    answering.setFrameObserver([&](const std::string& frame, const std::string&) {
        if (frame == "A")
            answering.setHangUpAfterBytes(0);
    });
    const Result lost = runCli(again);
    QCOMPARE(lost.code, ExitLink);
    QVERIFY2(lost.out == answering.devicePath() +
                             ": serial 1234, 1 read, 0 deviate\n"
                             "  part 02 failed: Error - Comm port connection lost\n"
                             "  part 05 failed: not read: the port failed\n",
             lost.out.c_str());
    QCOMPARE(QByteArray::fromStdString(readFile(failure)).count('\n'), 2);
}

// A check the round could not make is a failure it names: a history another program keeps
// locked (the uploads compared in memory all the same, the deviation told), a plant that does
// not answer, a deadline that left a port unread.
void TestCli::roundSaysWhatItCouldNotCheck() {
    sim::Instrument sim;
    QVERIFY(sim.start());
    sim.setConfiguredParts({5});
    const std::string db = path("round-locked.sqlite").toStdString();
    const std::string file = path("round-locked.QX").toStdString();
    QCOMPARE(runCli({"--history", db, "--port", sim.devicePath(), "read", "5", "-o", file}).code,
             ExitOk);
    QCOMPARE(runCli({"--history", db, "history", "--approve", "2", "--meaning", "approved",
                     "--reason", "first article"})
                 .code,
             ExitOk);
    QVERIFY(sim.setPartField(5, 11, "9"));
    const QString deviation = path("locked-deviation.json");
    const QString failure = path("locked-failure.json");
    const std::vector<std::string> round{"--history",
                                         db,
                                         "round",
                                         "--ports",
                                         sim.devicePath(),
                                         "--on-deviation",
                                         "cat > '" + deviation.toStdString() + "'",
                                         "--on-failure",
                                         "cat > '" + failure.toStdString() + "'"};
    {
        sqlite3* lock = nullptr;
        QCOMPARE(sqlite3_open(db.c_str(), &lock), SQLITE_OK);
        QCOMPARE(sqlite3_exec(lock, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
        const Result r = runCli(round);
        sqlite3_close(lock);
        QCOMPARE(r.code, ExitLink);
        QVERIFY2(r.out.find("1 deviates\n  Part 05 differs from its approved values: Leak Limit") !=
                     std::string::npos,
                 r.out.c_str());
        QVERIFY2(r.out.find("round failed: History not recorded: ") != std::string::npos,
                 r.out.c_str());
        QVERIFY(QFile::exists(deviation) && QFile::exists(failure));
        const QJsonObject summary =
            QJsonDocument::fromJson(QByteArray::fromStdString(readFile(failure))).object();
        QCOMPARE(summary.value("problems").toArray().size(), 1);
        QCOMPARE(summary.value("deviations").toInt(), 1);
    }

    // A plant that does not answer: nothing forwarded, its approvals unread.
    std::vector<std::string> plant = round;
    plant.insert(plant.begin(), {"--history-server", "postgresql://127.0.0.1:1/none"});
    Result r = runCli(plant);
    QCOMPARE(r.code, ExitLink);
    QVERIFY2(r.out.find("round failed: History not forwarded yet: ") != std::string::npos,
             r.out.c_str());
    QVERIFY(r.out.find("round failed: the plant's approvals cannot be read: ") !=
            std::string::npos);

    // A deadline that passed while the first port stayed silent: the next is not begun.
    sim::Instrument silent;
    QVERIFY(silent.start());
    silent.setSilent(true);
    r = runCli({"--history", db, "round", "--deadline", "1", "--ports",
                silent.devicePath() + "," + sim.devicePath()});
    QCOMPARE(r.code, ExitLink);
    QVERIFY2(
        r.out.ends_with(sim.devicePath() + ": failed: not read: the round's deadline passed\n"),
        r.out.c_str());
    QVERIFY(sim.framesReceived().size() < 10); // only the earlier rounds' frames
}

// The instrument on a port is another one than last time, or another instrument reports a
// serial number already seen: findings of the round, whatever the approvals say.
void TestCli::roundFindsAnotherInstrumentOnAPort() {
    sim::Instrument sim;
    QVERIFY(sim.start());
    sim.setConfiguredParts({});
    const std::string db = path("round-serial.sqlite").toStdString();
    const std::vector<std::string> round{"--history", db, "round", "--ports", sim.devicePath()};
    QCOMPARE(runCli(round).code, ExitOk);
    QVERIFY(sim.setSystemField(7, "1235"));
    Result r = runCli(round);
    QCOMPARE(r.code, ExitDiffer);
    QVERIFY2(r.out.find("  " + sim.devicePath() + " was serial 1234, now 1235\n") !=
                 std::string::npos,
             r.out.c_str());
    // Leading zeros make no other instrument.
    QVERIFY(sim.setSystemField(7, "01235"));
    QCOMPARE(runCli(round).code, ExitOk);
    // The same serial number from an instrument of the other generation.
    sim.setGeneration(Generation::V70);
    r = runCli(round);
    QCOMPARE(r.code, ExitDiffer);
    QVERIFY2(r.out.find("another instrument reports serial 1235: generation V7.3 -> V7.0") !=
                 std::string::npos,
             r.out.c_str());
}

// Where the plant wants a reason for every download, write refuses without one and sends
// nothing; the reason given goes into the entry.
void TestCli::reasonRequiredByThePlant() {
    QTemporaryDir config;
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, config.path());
    {
        QSettings settings = qt::programSettings();
        settings.setValue("plant/reason_required", "true");
    }
    sim::Instrument sim;
    QVERIFY(sim.start());
    const std::string db = path("reason.sqlite").toStdString();
    const std::string file = path("reason.QX").toStdString();
    QCOMPARE(runCli({"--port", sim.devicePath(), "read", "5", "-o", file}).code, ExitOk);
    sim.clearLogs();
    const Result refused =
        runCli({"--history", db, "--port", sim.devicePath(), "write", file, "--part-only"});
    QCOMPARE(refused.code, ExitUsage);
    QCOMPARE(refused.err, std::string("paramporter-cli: the plant requires a reason for every "
                                      "download: give --reason TEXT\n"));
    QVERIFY(sim.framesReceived().empty());
    QCOMPARE(runCli({"--history", db, "--port", sim.devicePath(), "write", file, "--reason",
                     "new fixture"})
                 .code,
             ExitOk);
    const std::vector<QJsonObject> downloads = historyJson(db); // the part's, the system's
    QCOMPARE(downloads.size(), size_t(2));
    for (const QJsonObject& e : downloads)
        QCOMPARE(e.value("reason").toString(), QString("new fixture"));
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, QString());
}

void TestCli::historyNeverStopsATransfer() {
    sim::Instrument sim;
    QVERIFY(sim.start());
    const QString damaged = path("damaged.sqlite");
    writeFile(damaged, std::string(4096, 'x'));
    const QString good = path("good-history.sqlite");
    auto exec = [&](const QStringList& args) {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("PARAMPORTER_HISTORY", damaged);
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(PP_CLI_BINARY), args);
        p.waitForFinished(20000);
        return Result{p.exitCode(), p.readAllStandardOutput().toStdString(),
                      p.readAllStandardError().toStdString()};
    };
    const QString port = QString::fromStdString(sim.devicePath());
    const QString out = path("history-fault.QX");

    // The variable names a damaged file (left alone: the store's test): the read works and says
    // so once.
    Result r = exec({"--port", port, "read", "4", "-o", out});
    QCOMPARE(r.code, ExitOk);
    QCOMPARE(readFile(out), pp::test::instrumentFile(sim, 4));
    QCOMPARE(QString::fromStdString(r.err),
             "History not recorded: " + damaged + ": file is not a database\n");

    // --history wins over the variable.
    r = exec({"--history", good, "--port", port, "read", "4", "-o", out});
    QCOMPARE(r.code, ExitOk);
    QCOMPARE(r.err, std::string());
    QCOMPARE(historyJson(good.toStdString()).size(), size_t(2));
}

// Two backups from two instruments at once, and the window's own writes meanwhile.
void TestCli::historyConcurrentBackups() {
    const QString db = path("shared.sqlite");
    std::vector<std::unique_ptr<sim::Instrument>> instruments;
    std::vector<std::unique_ptr<QProcess>> backups;
    for (int i = 0; i < 2; ++i) {
        auto& sim = instruments.emplace_back(std::make_unique<sim::Instrument>());
        QVERIFY(sim->start());
        std::vector<int> all(32);
        std::iota(all.begin(), all.end(), 1);
        sim->setConfiguredParts(all);
        auto& p = backups.emplace_back(std::make_unique<QProcess>());
        p->start(QStringLiteral(PP_CLI_BINARY),
                 {"--history", db, "--port", QString::fromStdString(sim->devicePath()), "backup",
                  "--dir", path(QString("backup-%1").arg(i))});
    }
    // The window meanwhile: uploads from a third instrument, recorded on its own connection.
    sim::Instrument own;
    QVERIFY(own.start());
    Sheet sheet;
    test::FakeWindow window;
    qt::SessionDriver driver(sheet, window);
    driver.setDeviceOverride(QString::fromStdString(own.devicePath()));
    qt::HistoryTap tap(driver, db.toStdString());
    std::string lost;
    tap.setReporter([&](const std::string& note) { lost = note; });
    int windowEntries = 0;
    QObject::connect(&tap, &qt::HistoryTap::recorded, [&] { ++windowEntries; });
    while (backups[0]->state() != QProcess::NotRunning ||
           backups[1]->state() != QProcess::NotRunning)
        qt::runExchange(driver, [&] { driver.session().cmdSDUpload_Click(); });
    QCOMPARE(lost, std::string());
    for (auto& p : backups) {
        QCOMPARE(p->exitCode(), ExitOk);
        QCOMPARE(p->readAllStandardError(), QByteArray());
    }
    QVERIFY(windowEntries > 0);
    QCOMPARE(historyJson(db.toStdString()).size(), size_t(2 * 33 + windowEntries));
    const Result v = runCli({"--history", db.toStdString(), "history", "--verify"});
    QCOMPARE(v.code, ExitOk);
}

// The window keeps its history open: a file removed meanwhile (while the History window reads
// it too) gets no entry, the one made at its path gets every later one.
void TestCli::historyRecordsIntoTheFileAtItsPath() {
    sim::Instrument sim;
    QVERIFY(sim.start());
    Sheet sheet;
    test::FakeWindow window;
    qt::SessionDriver driver(sheet, window);
    driver.setDeviceOverride(QString::fromStdString(sim.devicePath()));
    const std::string db = path("kept-open.sqlite").toStdString();
    qt::HistoryTap tap(driver, db);
    std::string lost;
    tap.setReporter([&](const std::string& note) { lost = note; });
    auto upload = [&] { qt::runExchange(driver, [&] { driver.session().cmdSDUpload_Click(); }); };
    upload();
    pp::history::Store reader;
    QVERIFY(reader.open(db, pp::history::Store::Mode::ReadOnly));
    QVERIFY(QFile::remove(QString::fromStdString(db)));
    upload();
    upload();
    QCOMPARE(lost, std::string());
    QCOMPARE(historyJson(db).size(), size_t(2));
    QCOMPARE(runCli({"--history", db, "history", "--verify"}).out,
             std::string("history intact: 2 entries\n"));
}

QTEST_GUILESS_MAIN(TestCli)
#include "test_cli.moc"
