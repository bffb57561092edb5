// The editor's session with the real QSerialPort against the simulated instrument on a
// pseudo-terminal: uploads, downloads by hand-shake, and every fault the line can throw.
#include "link/frames.h"
#include "qt/session_driver.h"
#include "sheet/number_text.h"
#include "sim/instrument.h"
#include "support/link_rig.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QtTest>

#include <memory>

using namespace pp;
using namespace std::chrono_literals;
using pp::test::FakeWindow;
using pp::test::NoEnd;
using Listener = pp::test::RecordingListener;
using namespace pp::test::expected;

Q_DECLARE_METATYPE(pp::Outcome)
Q_DECLARE_METATYPE(pp::Generation)

namespace {

using Rig = pp::test::LinkRig;

// Every download frame the instrument logged carries a valid checksum, and the indices run
// 0..last in order.
bool fieldsInOrder(const std::vector<std::string>& frames, char command, int last) {
    if (frames.size() != static_cast<size_t>(last + 1))
        return false;
    for (int i = 0; i <= last; ++i) {
        const std::string& f = frames[static_cast<size_t>(i)];
        const size_t n = f.size();
        if (n < 7 || f[0] != command)
            return false;
        if (std::stoi(f.substr(n - 6, 2)) != i)
            return false;
        if (std::stoi(f.substr(n - 4)) != FrameChecksum(std::string_view(f).substr(0, n - 4)))
            return false;
    }
    return true;
}

} // namespace

class TestE2eLink : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { qRegisterMetaType<pp::Outcome>(); }

    void generations_data() {
        QTest::addColumn<Generation>("gen");
        QTest::newRow("V7.0") << Generation::V70;
        QTest::newRow("V7.3") << Generation::V73;
    }

    // ------------------------------------------------------------------ uploads

    void systemUpload_data() { generations_data(); }
    void systemUpload() {
        QFETCH(Generation, gen);
        Rig rig(gen);
        QVERIFY(rig.ready);
        QCOMPARE(rig.uploadSystem(), Outcome::SystemRecord);
        QCOMPARE(rig.window.status(), std::string(Success));
        QCOMPARE(rig.instrument.framesReceived(), std::vector<std::string>{"2"});
        QVERIFY(!rig.portOpen());
        QCOMPARE(rig.sheet.generation(), gen);
        QCOMPARE(rig.sheet.text(Sys::SysZero), rig.instrument.systemField(5));
        QCOMPARE(rig.sheet.text(Sys::Serial), rig.instrument.systemField(7));
        QCOMPARE(rig.sheet.text(Sys::DrnVlvDelay), std::string("1.5"));
        QCOMPARE(rig.sheet.text(Sys::Time), std::string("Jun 03,2024 09:30"));
        QCOMPARE(rig.sheet.flowDecimals(), 1);
        QVERIFY(rig.sheet.commands.partUpload);
        QVERIFY(rig.sheet.commands.sdDownload);
    }

    void partUpload_data() {
        QTest::addColumn<Generation>("gen");
        QTest::addColumn<QString>("part");
        QTest::newRow("V7.0 part 5, 0.1 s") << Generation::V70 << "05";
        QTest::newRow("V7.3 part 2, 1 s") << Generation::V73 << "02";
    }
    void partUpload() {
        QFETCH(Generation, gen);
        QFETCH(QString, part);
        Rig rig(gen);
        QCOMPARE(rig.uploadSystem(), Outcome::SystemRecord);
        QCOMPARE(rig.uploadPart(part.toStdString()), Outcome::PartRecord);
        QCOMPARE(rig.window.status(), std::string(Success));
        QVERIFY(!rig.portOpen());
        const int n = part.toInt();
        QCOMPARE(rig.sheet.text(Part::LeakLimit), rig.instrument.partField(n, 11));
        QCOMPARE(rig.sheet.text(Part::CustCode), rig.instrument.partField(n, 25));
        QCOMPARE(rig.sheet.text(Part::CompPos), std::string("5.5"));
        QCOMPARE(rig.sheet.text(Part::TimeBase), std::string(n % 2 ? "0.1 SEC" : "1 SEC"));
        QCOMPARE(rig.sheet.text(Part::CompTime), std::string("3"));
        QCOMPARE(rig.sheet.text(Part::InitLimit), std::string(gen == Generation::V73 ? "3.5" : ""));
    }

    void wrongPartNumberIsRejected() {
        Rig rig(Generation::V73);
        QCOMPARE(rig.uploadSystem(), Outcome::SystemRecord);
        rig.instrument.setWrongPartNumber(true);
        QCOMPARE(rig.uploadPart("05"), Outcome::PartRecord);
        QCOMPARE(rig.window.status(), std::string("ERROR - Invalid part number"));
        QCOMPARE(rig.sheet.text(Part::LeakLimit), std::string());
    }

    void corruptChecksumIsRejected() {
        Rig rig(Generation::V73);
        rig.instrument.corruptNextChecksum();
        QCOMPARE(rig.uploadSystem(), Outcome::SystemRecord);
        QCOMPARE(rig.window.status(), std::string("Check sum error"));
        QCOMPARE(rig.sheet.generation(), Generation::None);
        QVERIFY(!rig.portOpen());
    }

    // ------------------------------------------------------------------ downloads

    void systemDownload_data() { generations_data(); }
    void systemDownload() {
        QFETCH(Generation, gen);
        Rig rig(gen);
        QCOMPARE(rig.uploadSystem(), Outcome::SystemRecord);
        const std::string before = rig.instrument.systemRecord();
        rig.instrument.clearLogs();
        QVERIFY(rig.sheet.setSlider(Sys::SysZero, 1500)); // one value the user changed

        QSignalSpy fields(&rig.driver, &qt::SessionDriver::fieldSent);
        QCOMPARE(rig.downloadSystem(), Outcome::SystemDownloadEnd);
        QCOMPARE(rig.window.status(), std::string(SystemDone));
        QVERIFY(!rig.portOpen());
        const int last = gen == Generation::V70 ? 24 : 25;
        QCOMPARE(fields.size(), last + 1);
        QVERIFY(fieldsInOrder(rig.instrument.downloadFrames(), '4', last));
        QVERIFY(rig.sheet.commands.sdUpload);

        // Everything else went back as it came.
        QCOMPARE(rig.instrument.systemField(5), std::string("1500"));
        QVERIFY(rig.instrument.setSystemField(5, "2048"));
        QCOMPARE(rig.instrument.systemRecord(), before);
    }

    void partDownload_data() {
        QTest::addColumn<Generation>("gen");
        QTest::addColumn<QString>("part");
        QTest::newRow("V7.0 part 5, 0.1 s") << Generation::V70 << "05";
        QTest::newRow("V7.3 part 5, 0.1 s") << Generation::V73 << "05";
        QTest::newRow("V7.3 part 2, 1 s") << Generation::V73 << "02";
    }
    void partDownload() {
        QFETCH(Generation, gen);
        QFETCH(QString, part);
        const int n = part.toInt();
        Rig rig(gen);
        QCOMPARE(rig.uploadSystem(), Outcome::SystemRecord);
        QCOMPARE(rig.uploadPart(part.toStdString()), Outcome::PartRecord);
        const std::string before = rig.instrument.partRecord(n);
        rig.instrument.clearLogs();
        QVERIFY(rig.sheet.setSlider(Part::LeakLimit, 150));
        rig.sheet.setText(Part::CustCode, "654321");

        QCOMPARE(rig.downloadPart(), Outcome::PartDownloadEnd);
        QCOMPARE(rig.window.status(), std::string(PartDone));
        QVERIFY(!rig.portOpen());
        const int last = gen == Generation::V70 ? 27 : 29;
        const auto frames = rig.instrument.downloadFrames();
        QVERIFY(fieldsInOrder(frames, '5', last));
        for (const auto& f : frames)
            QCOMPARE(f.substr(7, 2), part.toStdString());

        QCOMPARE(rig.instrument.partField(n, 11), std::string("15"));
        QCOMPARE(rig.instrument.partField(n, 25), std::string("654321"));
        rig.instrument.setPartField(n, 11, formatNumber(5 + 0.5 * n));
        rig.instrument.setPartField(n, 25, std::to_string(1000 + n));
        QCOMPARE(rig.instrument.partRecord(n), before);
    }

    // ------------------------------------------------------------------ mode and list

    void modeAndPartList() {
        Rig rig(Generation::V73);
        rig.instrument.setConfiguredParts({1, 2, 32});
        QCOMPARE(rig.run([&] { rig.driver.session().requestPartList(); }), Outcome::PartList);
        QCOMPARE(rig.listener.lists, std::vector<std::string>{"A11" + std::string(29, '0') + "1"});
        QCOMPARE(rig.run([&] { rig.driver.session().requestModeChange('2'); }),
                 Outcome::ModeReport);
        QCOMPARE(rig.instrument.mode(), 2);
        rig.instrument.setTestRunning(true);
        QCOMPARE(rig.run([&] { rig.driver.session().requestMode(); }), Outcome::ModeReport);
        QCOMPARE(rig.listener.modes, (std::vector<std::string>{"820", "821"}));
        QCOMPARE(rig.run([&] { rig.driver.session().requestModeChange('?'); }), Outcome::Refused);
        QCOMPARE(rig.window.status(), std::string(CheckMode));
        QVERIFY(!rig.portOpen());
    }

    // ------------------------------------------------------------------ faults

    void silence() {
        Rig rig(Generation::V73);
        rig.instrument.setSilent(true);
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(rig.uploadSystem(), Outcome::NoResponse);
        QVERIFY(clock.elapsed() >= 900);
        QVERIFY(clock.elapsed() < 3000);
        QCOMPARE(rig.window.status(), std::string(NoResponse));
        QVERIFY(!rig.portOpen());
        QVERIFY(rig.sheet.commands.sdUpload);
        QVERIFY(rig.sheet.commands.partUpload);
        QCOMPARE(rig.instrument.framesReceived(), std::vector<std::string>{"2"});
    }

    // The instrument's closing frame comes after the download has timed out: it waits in
    // the closed device and must not be taken for the answer to the next request.
    void lateAnswerIsNotTakenForTheNext() {
        Rig rig(Generation::V73);
        QCOMPARE(rig.uploadSystem(), Outcome::SystemRecord);
        rig.instrument.setClosingFrameGap(1300ms);
        QCOMPARE(rig.downloadSystem(), Outcome::NoResponse);
        const size_t sent = rig.instrument.bytesSent().size();
        QTRY_VERIFY(rig.instrument.bytesSent().size() > sent); // the late "4" is on the line
        QCOMPARE(rig.run([&] { rig.session().requestMode(); }), Outcome::ModeReport);
        QCOMPARE(rig.window.status(), std::string());
    }

    void nakAtField_data() {
        QTest::addColumn<int>("k");
        QTest::newRow("first field") << 0;
        QTest::newRow("field 7") << 7;
        QTest::newRow("last field") << 25;
    }
    void nakAtField() {
        QFETCH(int, k);
        Rig rig(Generation::V73);
        QCOMPARE(rig.uploadSystem(), Outcome::SystemRecord);
        rig.instrument.clearLogs();
        rig.instrument.setNakAtField(k);
        QCOMPARE(rig.downloadSystem(), Outcome::Nak);
        QCOMPARE(rig.window.status(), std::string(NakReceived));
        QVERIFY(!rig.portOpen());
        QCOMPARE(int(rig.instrument.downloadFrames().size()), k + 1);
        // The next exchange works.
        rig.instrument.setNakAtField(std::nullopt);
        QCOMPARE(rig.uploadSystem(), Outcome::SystemRecord);
    }

    void refusal() {
        Rig rig(Generation::V73);
        QCOMPARE(rig.uploadSystem(), Outcome::SystemRecord);
        rig.instrument.setRefuseAll(true);
        QCOMPARE(rig.downloadSystem(), Outcome::Refused);
        QCOMPARE(rig.window.status(), std::string(CheckMode));
        QVERIFY(!rig.portOpen());
        QVERIFY(rig.sheet.commands.sdUpload);
        QCOMPARE(rig.uploadSystem(), Outcome::Refused);
        QCOMPARE(rig.window.status(), std::string(CheckMode));
    }

    // Answers that arrive in odd shapes still make whole exchanges.
    void awkwardLine_data() {
        QTest::addColumn<QString>("fault");
        QTest::newRow("noise") << "noise";
        QTest::newRow("split") << "split";
        QTest::newRow("noise and split") << "both";
        QTest::newRow("closing frame apart") << "apart";
        QTest::newRow("9600 baud") << "pace";
    }
    void awkwardLine() {
        QFETCH(QString, fault);
        Rig rig(Generation::V73);
        if (fault == "noise" || fault == "both")
            rig.instrument.setNoise("\x7f\xff line noise ");
        if (fault == "split" || fault == "both")
            rig.instrument.setSplit(7, 5ms);
        if (fault == "apart")
            rig.instrument.setClosingFrameGap(30ms);
        if (fault == "pace")
            rig.instrument.setPacing(true);
        QCOMPARE(rig.uploadSystem(), Outcome::SystemRecord);
        QCOMPARE(rig.window.status(), std::string(Success));
        QCOMPARE(rig.uploadPart("05"), Outcome::PartRecord);
        QCOMPARE(rig.window.status(), std::string(Success));
        QCOMPARE(rig.sheet.text(Part::LeakLimit), std::string("7.5"));
        QCOMPARE(rig.downloadPart(), Outcome::PartDownloadEnd);
        QCOMPARE(rig.window.status(), std::string(PartDone));
        QVERIFY(!rig.portOpen());
    }

    void hangUpMidUpload() {
        Rig rig(Generation::V73);
        rig.instrument.setHangUpAfterBytes(20);
        QCOMPARE(rig.uploadSystem(), Outcome::PortLost);
        QCOMPARE(rig.window.status(), std::string(PortLost));
        QVERIFY(!rig.portOpen());
        QVERIFY(rig.instrument.hungUp());
        QVERIFY(rig.sheet.commands.sdUpload);
    }

    void hangUpMidDownload() {
        Rig rig(Generation::V73);
        QCOMPARE(rig.uploadSystem(), Outcome::SystemRecord);
        rig.instrument.setHangUpAfterBytes(5); // five acknowledgements, then gone
        QCOMPARE(rig.downloadSystem(), Outcome::PortLost);
        QCOMPARE(rig.window.status(), std::string(PortLost));
        QVERIFY(!rig.portOpen());
        QVERIFY(rig.sheet.commands.sdUpload);
    }

    void answerCutShort() {
        Rig rig(Generation::V73);
        rig.instrument.setStopAfterBytes(15);
        // The first bytes stopped the timer; nothing times out while collecting, so the
        // exchange stays open until the next request starter.
        QSignalSpy ended(&rig.driver, &qt::SessionDriver::exchangeEnded);
        rig.driver.session().cmdSDUpload_Click();
        QTRY_COMPARE(rig.instrument.bytesSent().size(), size_t(15));
        QTRY_COMPARE(rig.driver.session().rxBuffer().size(), size_t(15));
        QVERIFY(ended.isEmpty());
        QVERIFY(rig.portOpen());
    }
};

QTEST_MAIN(TestE2eLink)
#include "test_e2e_link.moc"
