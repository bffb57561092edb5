// Every fault the line can throw at an exchange, end to end: the real QSerialPort through
// SessionDriver against the simulated instrument on a pty, for both firmware generations.
//
// - NAK and a corrupted field frame at every download index of both sequences;
// - silence and a garbled answer at every download index (all indices of one sequence run
//   side by side, so the one-second time-outs overlap);
// - noise, split answers and refusals for every command, bad records for the uploads;
// - the terminal closed under the program during uploads and downloads.
//
// Each must end with its status text, the port closed, both upload buttons usable, the next
// exchange working, and the sheet changed only as far as the exchange was entitled to (a
// download: nothing but the part texts a system download empties; a failed upload: its
// cleared texts). The instrument must not have taken anything it did not acknowledge.
#include "link/frames.h"
#include "link/records.h"
#include "qt/session_driver.h"
#include "sim/instrument.h"
#include "support/link_rig.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QtTest>

#include <memory>
#include <sstream>

using namespace pp;
using namespace std::chrono_literals;
using pp::test::FakeWindow;
using pp::test::NoEnd;
using Listener = pp::test::RecordingListener;
using namespace pp::test::expected;
using pp::test::LineTap;

Q_DECLARE_METATYPE(pp::Outcome)
Q_DECLARE_METATYPE(pp::Generation)

namespace {

enum class Seq { System, Part };

const char* genName(Generation g) {
    return g == Generation::V70 ? "V7.0" : "V7.3";
}

int lastIndex(Generation g, Seq s) {
    if (s == Seq::System)
        return g == Generation::V70 ? 24 : 25;
    return g == Generation::V70 ? 27 : 29;
}

// The part each generation works on: an odd one in tenths, an even one in seconds.
int partOf(Generation g) {
    return g == Generation::V70 ? 5 : 2;
}

// Index of a download field frame as the instrument logged it; -1 for anything else.
int fieldIndex(const std::string& content) {
    const bool download =
        (content.size() == 13 && content[0] == '4') || (content.size() == 15 && content[0] == '5');
    if (!download)
        return -1;
    return std::atoi(content.substr(content.size() - 6, 2).c_str());
}

// Where two sheets part, for a failure message.
std::string sheetDifference(const Sheet& a, const Sheet& b) {
    std::ostringstream out;
    for (const SysRow& r : systemCatalogue()) {
        if (a.text(r.id) != b.text(r.id))
            out << r.stem << " text '" << a.text(r.id) << "' vs '" << b.text(r.id) << "'; ";
        if (!(a.slider(r.id) == b.slider(r.id)))
            out << r.stem << " slider " << a.slider(r.id).pos << " vs " << b.slider(r.id).pos
                << "; ";
        if (a.option(r.id) != b.option(r.id))
            out << r.stem << " option; ";
    }
    for (const PartRow& r : partCatalogue()) {
        if (a.text(r.id) != b.text(r.id))
            out << r.stem << " text '" << a.text(r.id) << "' vs '" << b.text(r.id) << "'; ";
        if (!(a.slider(r.id) == b.slider(r.id)))
            out << r.stem << " slider " << a.slider(r.id).pos << " vs " << b.slider(r.id).pos
                << "; ";
        if (a.option(r.id) != b.option(r.id))
            out << r.stem << " option; ";
    }
    if (!(a.commands == b.commands))
        out << "commands; ";
    if (a.generation() != b.generation())
        out << "generation; ";
    if (a.partNumbers() != b.partNumbers() || a.partSelection() != b.partSelection())
        out << "part numbers; ";
    const std::string s = out.str();
    return s.empty() ? "other sheet-wide values" : s;
}

#define COMPARE_SHEETS(actual, expected)                                                           \
    QVERIFY2((actual) == (expected), sheetDifference(actual, expected).c_str())

// The link rig, working on one part number per generation.
struct Rig : pp::test::LinkRig {
    Rig(Generation g, bool withTap) : LinkRig(g, withTap) {}

    std::function<void()> uploadSystemStarter() {
        return [this] { session().cmdSDUpload_Click(); };
    }
    std::function<void()> uploadPartStarter() {
        return [this] {
            sheet.setPartSelection(ZeroPad(std::to_string(part), 2));
            session().cmdPartUpload_Click();
        };
    }
    std::function<void()> downloadStarter(Seq s) {
        if (s == Seq::System)
            return [this] { session().cmdSDDnLoad_Click(); };
        return [this] { session().cmdPartDnload_Click(); };
    }
    Outcome download(Seq s) { return run(downloadStarter(s)); }

    // Both uploads, as a technician starts every session.
    bool prepare() {
        return ready && run(uploadSystemStarter()) == Outcome::SystemRecord &&
               run(uploadPartStarter()) == Outcome::PartRecord && window.status() == Success;
    }
    std::string record(Seq s) const {
        return s == Seq::System ? instrument.systemRecord() : instrument.partRecord(part);
    }
    // What a download may do to the sheet: a system download empties the part texts.
    Sheet afterDownload(Seq s) const {
        Sheet expected = sheet;
        if (s == Seq::System)
            expected.ClearPartSheet();
        return expected;
    }
    int part = partOf(generation);
};

// The outcome and status that end a download cleanly.
Outcome downloadEnd(Seq s) {
    return s == Seq::System ? Outcome::SystemDownloadEnd : Outcome::PartDownloadEnd;
}
std::string downloadDone(Seq s) {
    return std::string(s == Seq::System ? SystemDone : PartDone);
}

// The instrument goes silent once it has answered the download field before `k`.
void silenceAt(sim::Instrument& instrument, int k) {
    if (k == 0) {
        instrument.setSilent(true);
        return;
    }
    instrument.setFrameObserver([&instrument, k](const std::string& content, const std::string&) {
        if (fieldIndex(content) == k - 1)
            instrument.setSilent(true);
    });
}

enum Command {
    SystemUpload,
    PartUpload,
    SystemDownload,
    PartDownload,
    ModeRead,
    ModeChange,
    PartList,
    CommandCount
};
const char* const CommandNames[] = {"system upload", "part upload", "system download",
                                    "part download", "mode",        "mode change",
                                    "part list"};

} // namespace

class TestFaultMatrix : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { qRegisterMetaType<pp::Outcome>(); }

    // ------------------------------------------------------------------ one field refused

    void fieldRefused_data() {
        QTest::addColumn<Generation>("gen");
        QTest::addColumn<int>("seq");
        QTest::addColumn<int>("k");
        QTest::addColumn<bool>("corrupt"); // the line damages field k; else the instrument NAKs it
        for (bool corrupt : {false, true})
            for (Generation g : {Generation::V70, Generation::V73})
                for (Seq s : {Seq::System, Seq::Part})
                    for (int k = 0; k <= lastIndex(g, s); ++k)
                        QTest::addRow("%s %s field %02d %s", genName(g),
                                      s == Seq::System ? "system" : "part", k,
                                      corrupt ? "corrupted" : "NAK")
                            << g << int(s) << k << corrupt;
    }
    void fieldRefused() {
        QFETCH(Generation, gen);
        QFETCH(int, seq);
        QFETCH(int, k);
        QFETCH(bool, corrupt);
        const Seq s = Seq(seq);
        Rig rig(gen, corrupt);
        QVERIFY(rig.prepare());
        const std::string recordBefore = rig.record(s);
        const Sheet expected = rig.afterDownload(s);
        rig.instrument.clearLogs();
        if (corrupt)
            rig.tap->corruptField(k);
        else
            rig.instrument.setNakAtField(k);

        QCOMPARE(rig.download(s), Outcome::Nak);
        QCOMPARE(rig.window.status(), std::string(NakReceived));
        QVERIFY(rig.idle());
        QVERIFY(rig.uploadsEnabled());
        COMPARE_SHEETS(rig.sheet, expected);
        // Field k was the last one sent, and the instrument kept its own value for it.
        const auto frames = rig.instrument.downloadFrames();
        QCOMPARE(int(frames.size()), k + 1);
        QCOMPARE(rig.record(s), recordBefore);
        if (corrupt) { // what arrived no longer matches its checksum
            const std::string& f = frames.back();
            const std::string body = f.substr(0, f.size() - 4);
            QVERIFY(FrameChecksum(body) != std::atoi(f.substr(f.size() - 4).c_str()));
        }

        // The next download goes through.
        rig.tap ? rig.tap->corruptField(std::nullopt) : rig.instrument.setNakAtField(std::nullopt);
        QCOMPARE(rig.download(s), downloadEnd(s));
        QCOMPARE(rig.window.status(), downloadDone(s));
        QVERIFY(rig.idle());
        QCOMPARE(rig.record(s), recordBefore);
    }

    // ------------------------------------------------------------------ one answer lost

    // All indices of one sequence at once: each rig waits out its own one-second time-out.
    void answerLost_data() {
        QTest::addColumn<Generation>("gen");
        QTest::addColumn<int>("seq");
        QTest::addColumn<bool>("garbled"); // the answer arrives garbled; else none comes
        for (bool garbled : {false, true})
            for (Generation g : {Generation::V70, Generation::V73})
                for (Seq s : {Seq::System, Seq::Part})
                    QTest::addRow("%s %s every field %s", genName(g),
                                  s == Seq::System ? "system" : "part",
                                  garbled ? "garbled answer" : "silence")
                        << g << int(s) << garbled;
    }
    void answerLost() {
        QFETCH(Generation, gen);
        QFETCH(int, seq);
        QFETCH(bool, garbled);
        const Seq s = Seq(seq);
        const int last = lastIndex(gen, s);

        std::vector<std::unique_ptr<Rig>> rigs;
        std::vector<Sheet> expected;
        std::vector<std::string> records;
        for (int k = 0; k <= last; ++k) {
            auto rig = std::make_unique<Rig>(gen, garbled);
            QVERIFY2(rig->prepare(), qPrintable(QString("field %1").arg(k)));
            expected.push_back(rig->afterDownload(s));
            records.push_back(rig->record(s));
            rig->instrument.clearLogs();
            if (garbled)
                rig->tap->garbleAnswerTo(k);
            else
                silenceAt(rig->instrument, k);
            rigs.push_back(std::move(rig));
        }
        QElapsedTimer clock;
        clock.start();
        for (auto& rig : rigs)
            rig->start(rig->downloadStarter(s));
        QTRY_VERIFY_WITH_TIMEOUT(
            std::all_of(rigs.begin(), rigs.end(), [](const auto& r) { return r->finished(); }),
            10000);
        QVERIFY(clock.elapsed() >= NoResponseMs - 100);

        for (int k = 0; k <= last; ++k) {
            Rig& rig = *rigs[size_t(k)];
            const QByteArray where = QString("field %1").arg(k).toLatin1();
            QVERIFY2(rig.outcome() == Outcome::NoResponse, where);
            QVERIFY2(rig.window.status() == NoResponse, where);
            QVERIFY2(rig.idle(), where);
            QVERIFY2(rig.uploadsEnabled(), where);
            QVERIFY2(rig.sheet == expected[size_t(k)],
                     (where + ": " + sheetDifference(rig.sheet, expected[size_t(k)]).c_str())
                         .constData());
            QVERIFY2(int(rig.instrument.downloadFrames().size()) == k + 1, where);
            QVERIFY2(rig.record(s) == records[size_t(k)], where);
        }

        // Every one of them downloads again once the line is whole.
        for (auto& rig : rigs) {
            rig->instrument.setFrameObserver(nullptr);
            rig->instrument.setSilent(false);
            if (rig->tap)
                rig->tap->garbleAnswerTo(std::nullopt);
        }
        for (auto& rig : rigs)
            rig->start(rig->downloadStarter(s));
        QTRY_VERIFY_WITH_TIMEOUT(
            std::all_of(rigs.begin(), rigs.end(), [](const auto& r) { return r->finished(); }),
            10000);
        for (int k = 0; k <= last; ++k) {
            const QByteArray where = QString("field %1").arg(k).toLatin1();
            QVERIFY2(rigs[size_t(k)]->outcome() == downloadEnd(s), where);
            QVERIFY2(rigs[size_t(k)]->idle(), where);
        }
    }

    // ------------------------------------------------------------------ every command

    void commandFaults_data() {
        QTest::addColumn<Generation>("gen");
        QTest::addColumn<int>("command");
        QTest::addColumn<QString>("fault");
        for (Generation g : {Generation::V70, Generation::V73})
            for (int c = 0; c < CommandCount; ++c) {
                QStringList faults{"noise", "split", "noise and split", "refusal"};
                if (c == SystemUpload || c == PartUpload)
                    faults << "bad checksum";
                if (c == PartUpload)
                    faults << "wrong part number";
                for (const QString& f : faults)
                    QTest::addRow("%s %s %s", genName(g), CommandNames[c], qPrintable(f))
                        << g << c << f;
            }
    }
    void commandFaults() {
        QFETCH(Generation, gen);
        QFETCH(int, command);
        QFETCH(QString, fault);
        Rig rig(gen, false);
        QVERIFY(rig.prepare());
        rig.instrument.setConfiguredParts({1, 2, 5, 32});
        const std::string systemBefore = rig.instrument.systemRecord();
        const std::string partBefore = rig.instrument.partRecord(rig.part);
        const Sheet before = rig.sheet;

        if (fault.contains("noise"))
            rig.instrument.setNoise("\x7f\xff line noise ");
        if (fault.contains("split"))
            rig.instrument.setSplit(3, 1ms);
        const bool refused = fault == "refusal";
        rig.instrument.setRefuseAll(refused);
        if (fault == "bad checksum")
            rig.instrument.corruptNextChecksum();
        if (fault == "wrong part number")
            rig.instrument.setWrongPartNumber(true);

        // What the exchange may leave on the sheet, and how it must end.
        Sheet expected = before;
        Outcome outcome = Outcome::Refused;
        std::string status(CheckMode);
        std::function<void()> starter;
        switch (command) {
        case SystemUpload:
            starter = rig.uploadSystemStarter();
            expected.ClearSystemSheet();
            expected.ClearPartSheet();
            if (!refused) {
                outcome = Outcome::SystemRecord;
                status = fault == "bad checksum" ? ChecksumError : Success;
                if (status == Success)
                    QVERIFY(!DecodeSystemRecord(expected, rig.instrument.systemRecord()));
            }
            break;
        case PartUpload:
            starter = rig.uploadPartStarter();
            expected.ClearPartSheet();
            if (!refused) {
                outcome = Outcome::PartRecord;
                status = fault == "bad checksum"        ? ChecksumError
                         : fault == "wrong part number" ? WrongPart
                                                        : Success;
                if (status == Success)
                    QVERIFY(!DecodePartRecord(expected, rig.instrument.partRecord(rig.part)));
            }
            break;
        case SystemDownload:
        case PartDownload: {
            const Seq s = command == SystemDownload ? Seq::System : Seq::Part;
            starter = rig.downloadStarter(s);
            expected = rig.afterDownload(s);
            if (!refused) {
                outcome = downloadEnd(s);
                status = downloadDone(s);
            }
            break;
        }
        case ModeRead:
            starter = [&] { rig.session().requestMode(); };
            if (!refused) {
                outcome = Outcome::ModeReport;
                status.clear();
            }
            break;
        case ModeChange:
            starter = [&] { rig.session().requestModeChange('2'); };
            if (!refused) {
                outcome = Outcome::ModeReport;
                status.clear();
            }
            break;
        case PartList:
            starter = [&] { rig.session().requestPartList(); };
            if (!refused) {
                outcome = Outcome::PartList;
                status.clear();
            }
            break;
        }
        if (refused)
            expected.commands.sdUpload = expected.commands.partUpload = true;

        QCOMPARE(rig.run(starter), outcome);
        QCOMPARE(rig.window.status(), status);
        QVERIFY(rig.idle());
        QVERIFY(rig.uploadsEnabled());
        COMPARE_SHEETS(rig.sheet, expected);
        if (command == ModeRead && !refused)
            QCOMPARE(rig.listener.modes.back(), std::string("800"));
        if (command == ModeChange)
            QCOMPARE(rig.instrument.mode(), refused ? 0 : 2);
        if (command == PartList && !refused)
            QCOMPARE(rig.listener.lists.back(), "A11001" + std::string(26, '0') + "1");
        // Nothing was changed on the instrument by a refused or repeated exchange.
        QCOMPARE(rig.instrument.systemRecord(), systemBefore);
        QCOMPARE(rig.instrument.partRecord(rig.part), partBefore);

        // The line clears and the next exchange works.
        rig.instrument.setNoise({});
        rig.instrument.setSplit(0, 0ms);
        rig.instrument.setRefuseAll(false);
        rig.instrument.setWrongPartNumber(false);
        QCOMPARE(rig.run(rig.uploadSystemStarter()), Outcome::SystemRecord);
        QCOMPARE(rig.window.status(), std::string(Success));
    }

    // ------------------------------------------------------------------ adapter pulled

    void terminalClosed_data() {
        QTest::addColumn<Generation>("gen");
        QTest::addColumn<int>("command");
        // Bytes that reach the editor before the terminal closes; -1: all but the ETX.
        QTest::addColumn<int>("bytes");
        for (Generation g : {Generation::V70, Generation::V73}) {
            for (int c : {SystemUpload, PartUpload})
                for (int b : {0, 1, 20, -1})
                    QTest::addRow("%s %s after %d bytes", genName(g), CommandNames[c], b)
                        << g << c << b;
            for (int c : {SystemDownload, PartDownload}) {
                const int last = lastIndex(g, c == SystemDownload ? Seq::System : Seq::Part);
                for (int b : {0, 1, last / 2, last})
                    QTest::addRow("%s %s after %d acknowledgements", genName(g), CommandNames[c], b)
                        << g << c << b;
            }
        }
    }
    void terminalClosed() {
        QFETCH(Generation, gen);
        QFETCH(int, command);
        QFETCH(int, bytes);
        Rig rig(gen, false);
        QVERIFY(rig.prepare());
        const std::string systemBefore = rig.instrument.systemRecord();
        const std::string partBefore = rig.instrument.partRecord(rig.part);

        Sheet expected = rig.sheet;
        std::function<void()> starter;
        switch (command) {
        case SystemUpload:
            starter = rig.uploadSystemStarter();
            expected.ClearSystemSheet();
            expected.ClearPartSheet();
            if (bytes < 0)
                bytes = int(frame(systemBefore).size()) - 1;
            break;
        case PartUpload:
            starter = rig.uploadPartStarter();
            expected.ClearPartSheet();
            if (bytes < 0)
                bytes = int(frame(partBefore).size()) - 1;
            break;
        default: {
            const Seq s = command == SystemDownload ? Seq::System : Seq::Part;
            starter = rig.downloadStarter(s);
            expected = rig.afterDownload(s);
        }
        }
        rig.instrument.setHangUpAfterBytes(size_t(bytes));

        QCOMPARE(rig.run(starter), Outcome::PortLost);
        QCOMPARE(rig.window.status(), std::string(PortLost));
        QVERIFY(rig.idle());
        QVERIFY(rig.uploadsEnabled());
        COMPARE_SHEETS(rig.sheet, expected);
        QVERIFY(rig.instrument.hungUp());
        QCOMPARE(rig.instrument.systemRecord(), systemBefore);
        QCOMPARE(rig.instrument.partRecord(rig.part), partBefore);

        // The adapter is plugged in again (under a new device name): uploads work again.
        rig.instrument.setHangUpAfterBytes(std::nullopt);
        QVERIFY(rig.instrument.start());
        rig.driver.setDeviceOverride(QString::fromStdString(rig.instrument.devicePath()));
        QCOMPARE(rig.run(rig.uploadSystemStarter()), Outcome::SystemRecord);
        QCOMPARE(rig.run(rig.uploadPartStarter()), Outcome::PartRecord);
        QCOMPARE(rig.window.status(), std::string(Success));
    }
};

QTEST_MAIN(TestFaultMatrix)
#include "test_fault_matrix.moc"
