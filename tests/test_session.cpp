// The session driven by hand through recording fakes: what each request writes, how the
// response machine reads what comes back, and how every exchange ends.
#include "link/frames.h"
#include "link/records.h"
#include "link/session.h"
#include "support/fakes.h"

#include <QtTest>

#include <algorithm>

using namespace pp;
using pp::test::FakeSerialPort;
using pp::test::FakeTimer;
using pp::test::FakeWindow;

Q_DECLARE_METATYPE(std::string)
Q_DECLARE_METATYPE(pp::Outcome)
Q_DECLARE_METATYPE(pp::LineError)
Q_DECLARE_METATYPE(pp::Generation)

namespace {

struct Listener : ModeListener {
    std::vector<std::string> modes;
    std::vector<std::string> lists;
    void ProcessModeData(const std::string& buffer) override { modes.push_back(buffer); }
    void ProcessPartsList(const std::string& buf) override { lists.push_back(buf); }
};

// One session with its fakes; records every exchange end and every field sent.
struct Rig {
    Sheet sheet;
    FakeSerialPort port;
    FakeTimer timer;
    FakeWindow window;
    Listener listener;
    Session session{sheet, port, timer, window};
    std::vector<Outcome> outcomes;
    std::vector<std::pair<int, int>> fields;

    Rig() {
        session.setModeListener(&listener);
        session.onExchangeEnded = [this](Outcome o) { outcomes.push_back(o); };
        session.onFieldSent = [this](int i, int last) { fields.emplace_back(i, last); };
    }
    void feed(std::string_view bytes) { session.received(bytes); }
    bool expire() { return timer.expire(session); }
    std::string lastWrite() const { return port.writes.empty() ? "" : port.writes.back(); }
};

std::string bytes(const char* text) {
    return text;
}
std::string framed(std::string_view content) {
    return frame(content);
}
const std::string Ack(1, ACK);
const std::string Nak(1, NAK);

// Splits a download field frame into its parts and checks its checksum.
struct Field {
    char command = 0;
    std::string value;
    std::string part;
    int index = -1;
    bool checksumOk = false;
};
Field parseField(const std::string& f) {
    Field r;
    if (f.size() < 15 || f.front() != STX || f.back() != ETX)
        return r;
    const std::string content = f.substr(1, f.size() - 2);
    const std::string body = content.substr(0, content.size() - 4);
    r.checksumOk = ZeroPad(std::to_string(FrameChecksum(body)), 4) == content.substr(body.size());
    r.command = body[0];
    r.index = std::stoi(body.substr(body.size() - 2));
    std::string rest = body.substr(1, body.size() - 3);
    if (r.command == '5') {
        r.part = rest.substr(rest.size() - 2);
        rest.resize(rest.size() - 2);
    }
    r.value = rest;
    return r;
}

} // namespace

class TestSession : public QObject {
    Q_OBJECT

private slots:
    // ---- request starters
    void startersWriteTheirFrame_data();
    void startersWriteTheirFrame();
    void uploadsClearTheSheetDownloadsOnlyThePartSheet();
    void localRefusals_data();
    void localRefusals();
    void everyExchangeOpensTheChosenPort();

    // ---- response machine
    void lineErrors_data();
    void lineErrors();
    void dispatch_data();
    void dispatch();
    void splitAnswerIsDispatchedOnceAtItsEtx();
    void noiseAndTrailingFramesAreIgnored();
    void etxBeforeStxDiscardsEverything();
    void leftoverTextFramesWithTheFirstStx();
    void overlongGarbageIsDiscarded();

    // ---- downloads
    void fullDownload_data();
    void fullDownload();
    void ackAndClosingFrameInOneRead();
    void ackKeepsWhatFollows();
    void closingFrameBeforeTheLastFieldIsNoSuccess();
    void downloadKeepsAnotherInstrumentsOwnValues();
    void downloadSendsTheSheetAsItBegan_data();
    void downloadSendsTheSheetAsItBegan();
    void sendDownloadFieldWithoutDownloadDoesNothing();
    void strayAckOutsideADownloadSendsNothing();
    void nakEndsTheDownload_data();
    void nakEndsTheDownload();
    void nakDropsWhatCameWithIt();
    void laterWriteFailureEndsTheDownload();

    // ---- nothing or not enough comes back
    void timeouts_data();
    void timeouts();
    void portLostIsReportedOnce();

    // ---- open failures
    void uploadOpenFailure();
    void downloadOpenFailureIsFollowedByTheTimeout_data();
    void downloadOpenFailureIsFollowedByTheTimeout();
    void secondRequestLeavesTheRunningExchangeAlone();
    void modeRequestOpenFailureLeavesThePort();
};

// ---------------------------------------------------------------- request starters

void TestSession::startersWriteTheirFrame_data() {
    QTest::addColumn<int>("starter");
    QTest::addColumn<std::string>("expected");
    QTest::addColumn<bool>("emptiesRxBuffer");
    QTest::newRow("system upload") << 0
                                   << bytes("\x02"
                                            "2\x03")
                                   << true;
    QTest::newRow("part upload") << 1
                                 << bytes("\x02"
                                          "307\x03")
                                 << true;
    QTest::newRow("part list") << 2
                               << bytes("\x02"
                                        "A\x03")
                               << false;
    QTest::newRow("read mode") << 3
                               << bytes("\x02"
                                        "8\x03")
                               << false;
    QTest::newRow("set mode RUN") << 4
                                  << bytes("\x02"
                                           "92\x03")
                                  << false;
    QTest::newRow("set mode none") << 5
                                   << bytes("\x02"
                                            "9?\x03")
                                   << false;
}

void TestSession::startersWriteTheirFrame() {
    QFETCH(int, starter);
    QFETCH(std::string, expected);
    QFETCH(bool, emptiesRxBuffer);

    Rig r;
    r.sheet.setPartSelection("7");
    r.session.setCommPortNumber(4);
    // Leftover of an earlier, unfinished answer.
    r.port.forceOpen();
    r.feed("\x02xy");
    r.port.close();
    r.timer.stop();
    r.window.setStatus("old");

    switch (starter) {
    case 0:
        r.session.cmdSDUpload_Click();
        break;
    case 1:
        r.session.cmdPartUpload_Click();
        break;
    case 2:
        QVERIFY(r.session.requestPartList());
        break;
    case 3:
        QVERIFY(r.session.requestMode());
        break;
    case 4:
        QVERIFY(r.session.requestModeChange('2'));
        break;
    case 5:
        QVERIFY(r.session.requestModeChange('?'));
        break;
    }
    QCOMPARE(r.port.writes, std::vector<std::string>{expected});
    QCOMPARE(r.port.openedNumbers, std::vector<int>{4});
    QVERIFY(r.port.isOpen());
    QVERIFY(r.timer.isRunning());
    QCOMPARE(r.timer.starts.back(), NoResponseMs);
    QCOMPARE(r.window.status(), std::string());
    QCOMPARE(r.session.rxBuffer().empty(), emptiesRxBuffer);
    QVERIFY(r.outcomes.empty());
    QVERIFY(r.window.messages.empty());
}

void TestSession::uploadsClearTheSheetDownloadsOnlyThePartSheet() {
    for (int starter = 0; starter < 3; ++starter) {
        Rig r;
        r.sheet.SetFirmwareGeneration(Generation::V70);
        r.sheet.setPartSelection("03");
        r.sheet.setText(Sys::Serial, "4711");
        r.sheet.setText(Part::CustCode, "123");
        if (starter == 0)
            r.session.cmdSDUpload_Click();
        else if (starter == 1)
            r.session.cmdPartUpload_Click();
        else
            r.session.cmdSDDnLoad_Click();
        QCOMPARE(r.sheet.text(Sys::Serial).empty(), starter == 0);
        QVERIFY(r.sheet.text(Part::CustCode).empty());
    }
}

void TestSession::localRefusals_data() {
    QTest::addColumn<bool>("download");
    QTest::addColumn<QString>("selection");
    QTest::addColumn<QString>("custCode");
    QTest::addColumn<QString>("message");
    QTest::newRow("upload, empty selector") << false << ""
                                            << "1"
                                            << "Please select a part number";
    QTest::newRow("upload, part 0") << false << "0"
                                    << "1"
                                    << "Please select a part number";
    QTest::newRow("upload, part 00") << false << "00"
                                     << "1"
                                     << "Please select a part number";
    QTest::newRow("download, empty selector") << true << ""
                                              << "1"
                                              << "Please select a part number";
    // Only 1..32 exist on the instrument; a file can carry any text into the selector.
    QTest::newRow("upload, part 33") << false << "33"
                                     << "1"
                                     << "Please select a part number";
    QTest::newRow("download, part 99") << true << "99"
                                       << "1"
                                       << "Please select a part number";
    QTest::newRow("download, not a number") << true << "abc"
                                            << "1"
                                            << "Please select a part number";
    QTest::newRow("download, no customer code") << true << "05"
                                                << ""
                                                << "Please enter a customer code";
}

void TestSession::localRefusals() {
    QFETCH(bool, download);
    QFETCH(QString, selection);
    QFETCH(QString, custCode);
    QFETCH(QString, message);

    Rig r;
    r.sheet.setPartSelection(selection.toStdString());
    r.sheet.setText(Part::CustCode, custCode.toStdString());
    r.sheet.commands.partUpload = true;
    if (download)
        r.session.cmdPartDnload_Click();
    else
        r.session.cmdPartUpload_Click();
    QCOMPARE(r.window.messageTexts(), std::vector<std::string>{message.toStdString()});
    QCOMPARE(r.window.messages[0].caption, std::string(AppTitle));
    QCOMPARE(r.port.openCalls, 0);
    QVERIFY(!r.timer.isRunning());
    QVERIFY(r.sheet.commands.partUpload);
    QCOMPARE(r.outcomes, std::vector<Outcome>{Outcome::LocalRefusal});
    if (!download) // the part sheet stays emptied
        QVERIFY(r.sheet.text(Part::CustCode).empty());
}

void TestSession::everyExchangeOpensTheChosenPort() {
    Rig r;
    r.sheet.SetFirmwareGeneration(Generation::V70);
    r.sheet.setPartSelection("01");
    r.session.setCommPortNumber(5);
    r.session.cmdSDDnLoad_Click();
    r.feed(Nak);
    r.sheet.setText(Part::CustCode, "9"); // the system download emptied it
    r.session.setCommPortNumber(3);
    r.session.cmdPartDnload_Click();
    r.feed(Nak);
    r.session.cmdSDUpload_Click();
    QCOMPARE(r.port.openedNumbers, (std::vector<int>{5, 3, 3}));
}

// ---------------------------------------------------------------- response machine

void TestSession::lineErrors_data() {
    QTest::addColumn<LineError>("error");
    QTest::addColumn<QString>("status");
    QTest::newRow("break") << LineError::Break << "Error - break received";
    QTest::newRow("framing") << LineError::Frame << "Error - framing error";
    QTest::newRow("overrun") << LineError::Overrun << "Error - data lost";
    QTest::newRow("rx overflow") << LineError::RxOver << "Error - RX buffer overflow";
    QTest::newRow("parity") << LineError::RxParity << "Error - Parity error";
    QTest::newRow("tx full") << LineError::TxFull << "Error - TX buffer full";
    QTest::newRow("dcb") << LineError::DCB << "Error - retrieving DCB";
    QTest::newRow("unknown code") << static_cast<LineError>(1007) << "before";
}

void TestSession::lineErrors() {
    QFETCH(LineError, error);
    QFETCH(QString, status);

    Rig r;
    QVERIFY(r.session.requestMode());
    r.feed("\x02"
           "8");
    r.window.setStatus("before");
    r.session.lineError(error);
    QCOMPARE(r.window.status(), status.toStdString());
    // Only the receive overflow throws away what was collected; the exchange goes on.
    const bool overflow = error == LineError::RxOver;
    QCOMPARE(r.session.rxBuffer(), overflow ? std::string()
                                            : bytes("\x02"
                                                    "8"));
    QVERIFY(r.port.isOpen());
    QVERIFY(r.outcomes.empty());
    r.feed("1\x03");
    QCOMPARE(r.listener.modes.size(), overflow ? size_t(0) : size_t(1));
}

void TestSession::dispatch_data() {
    QTest::addColumn<std::string>("content");
    QTest::addColumn<Outcome>("outcome");
    QTest::addColumn<QString>("status"); // "decoder" when the record decoder decides
    QTest::newRow("system record") << bytes("2,1,2,3") << Outcome::SystemRecord << "decoder";
    QTest::newRow("part record") << bytes("3,07,1") << Outcome::PartRecord << "decoder";
    QTest::newRow("system download end")
        << bytes("4") << Outcome::SystemDownloadEnd << "System Download successfully completed";
    QTest::newRow("part download end")
        << bytes("5") << Outcome::PartDownloadEnd << "Part Download successfully completed";
    QTest::newRow("mode report") << bytes("821") << Outcome::ModeReport << "";
    QTest::newRow("part list") << bytes("A1100") << Outcome::PartList << "";
    QTest::newRow("empty frame") << bytes("") << Outcome::Refused << "Check QX7400 operating mode!";
    QTest::newRow("lower-case a") << bytes("a110") << Outcome::Refused
                                  << "Check QX7400 operating mode!";
    QTest::newRow("set-mode echo")
        << bytes("92") << Outcome::Refused << "Check QX7400 operating mode!";
    QTest::newRow("NUL") << std::string(1, '\0') << Outcome::Refused
                         << "Check QX7400 operating mode!";
}

void TestSession::dispatch() {
    QFETCH(std::string, content);
    QFETCH(Outcome, outcome);
    QFETCH(QString, status);

    Rig r;
    r.sheet.setPartSelection("07");
    r.session.cmdPartUpload_Click();
    r.sheet.commands.sdUpload = false;
    r.sheet.commands.partUpload = false;
    Sheet before = r.sheet;
    r.feed(framed(content));

    QCOMPARE(r.outcomes, std::vector<Outcome>{outcome});
    QVERIFY(!r.port.isOpen());
    QVERIFY(!r.timer.isRunning());
    QVERIFY(r.session.rxBuffer().empty());

    const bool refused = outcome == Outcome::Refused;
    QCOMPARE(r.sheet.commands.sdUpload, refused);
    QCOMPARE(r.sheet.commands.partUpload, refused);

    if (status == "decoder") {
        // "SUCCESS" first, then whatever the decoder says about this record.
        const auto failure = content[0] == '2' ? DecodeSystemRecord(before, content)
                                               : DecodePartRecord(before, content);
        QCOMPARE(r.window.statuses[1], std::string("SUCCESS"));
        QCOMPARE(r.window.status(), failure.value_or("SUCCESS"));
    } else {
        QCOMPARE(r.window.status(), status.toStdString());
    }
    QCOMPARE(r.listener.modes, outcome == Outcome::ModeReport ? std::vector<std::string>{content}
                                                              : std::vector<std::string>{});
    QCOMPARE(r.listener.lists, outcome == Outcome::PartList ? std::vector<std::string>{content}
                                                            : std::vector<std::string>{});
}

void TestSession::splitAnswerIsDispatchedOnceAtItsEtx() {
    Rig r;
    QVERIFY(r.session.requestPartList());
    const std::string answer = framed("A" + std::string(32, '1'));
    size_t starts = r.timer.starts.size();
    for (size_t i = 0; i + 1 < answer.size(); i += 5) {
        r.feed(answer.substr(i, std::min<size_t>(5, answer.size() - 1 - i)));
        QVERIFY(r.listener.lists.empty());
        QVERIFY(r.port.isOpen());
        // Each piece restarts the wait, so a sender that stops halfway still times out.
        QVERIFY(r.timer.isRunning());
        QCOMPARE(r.timer.starts.size(), ++starts);
    }
    r.feed(answer.substr(answer.size() - 1));
    QCOMPARE(r.listener.lists, std::vector<std::string>{answer.substr(1, answer.size() - 2)});
    QCOMPARE(r.outcomes, std::vector<Outcome>{Outcome::PartList});
    QVERIFY(!r.port.isOpen());
}

void TestSession::noiseAndTrailingFramesAreIgnored() {
    Rig r;
    QVERIFY(r.session.requestMode());
    r.feed("\xff\x01garbage" + framed("801") + framed("A1") + "tail");
    QCOMPARE(r.listener.modes, std::vector<std::string>{"801"});
    QVERIFY(r.listener.lists.empty());
    QVERIFY(r.session.rxBuffer().empty());
    QCOMPARE(r.outcomes, std::vector<Outcome>{Outcome::ModeReport});
}

void TestSession::etxBeforeStxDiscardsEverything() {
    Rig r;
    QVERIFY(r.session.requestMode());
    r.feed("\x03");
    QVERIFY(r.port.isOpen()); // waits for an STX
    QCOMPARE(r.session.rxBuffer(), bytes("\x03"));
    r.feed(framed("800"));
    QVERIFY(r.listener.modes.empty());
    QVERIFY(r.session.rxBuffer().empty());
    QVERIFY(!r.port.isOpen());
    QVERIFY(!r.timer.isRunning());
    QCOMPARE(r.window.status(), std::string()); // no message
    QCOMPARE(r.outcomes, std::vector<Outcome>{Outcome::Misframed});
}

void TestSession::leftoverTextFramesWithTheFirstStx() {
    Rig r;
    // An incomplete answer ends in the time-out; its text stays behind.
    QVERIFY(r.session.requestMode());
    r.feed("\x02"
           "8");
    QVERIFY(r.expire());
    QCOMPARE(r.session.rxBuffer(), bytes("\x02"
                                         "8"));
    // A mode request keeps it; the next answer is framed from the old STX.
    QVERIFY(r.session.requestMode());
    r.feed(framed("802"));
    QCOMPARE(r.listener.modes, std::vector<std::string>{"8\x02"
                                                        "802"});
}

void TestSession::overlongGarbageIsDiscarded() {
    Rig r;
    QVERIFY(r.session.requestMode());
    r.feed(std::string(RxBufferLimit, 'x'));
    QCOMPARE(r.session.rxBuffer().size(), RxBufferLimit); // at the limit: kept
    QVERIFY(r.outcomes.empty());
    r.feed("\x02"
           "8");
    // Past it: gone, frame start included, and the exchange ends as an error does.
    QVERIFY(r.session.rxBuffer().empty());
    QCOMPARE(r.window.status(), std::string("Error - RX buffer overflow"));
    QCOMPARE(r.outcomes, std::vector<Outcome>{Outcome::Overflow});
    QVERIFY(!r.port.isOpen());
    QVERIFY(!r.timer.isRunning());
    QVERIFY(!r.session.transferRunning());

    // A complete frame in the read that crosses the limit is still taken.
    QVERIFY(r.session.requestMode());
    r.feed(std::string(RxBufferLimit - 2, 'y') + framed("803"));
    QCOMPARE(r.listener.modes, std::vector<std::string>{"803"});
}

// ---------------------------------------------------------------- downloads

void TestSession::fullDownload_data() {
    QTest::addColumn<bool>("part");
    QTest::addColumn<Generation>("generation");
    QTest::addColumn<int>("last");
    QTest::newRow("system V7.0") << false << Generation::V70 << 24;
    QTest::newRow("system V7.3") << false << Generation::V73 << 25;
    QTest::newRow("part V7.0") << true << Generation::V70 << 27;
    QTest::newRow("part V7.3") << true << Generation::V73 << 29;
}

void TestSession::fullDownload() {
    QFETCH(bool, part);
    QFETCH(Generation, generation);
    QFETCH(int, last);

    Rig r;
    r.sheet.SetFirmwareGeneration(generation);
    r.sheet.setPartSelection("7");
    r.sheet.setText(Part::CustCode, "123456");
    r.sheet.commands.sdUpload = true;
    r.sheet.commands.partUpload = true;
    if (part)
        r.session.cmdPartDnload_Click();
    else
        r.session.cmdSDDnLoad_Click();
    QVERIFY(!(part ? r.sheet.commands.partUpload : r.sheet.commands.sdUpload));
    QCOMPARE(r.session.downloadCmd(), std::string(part ? "5" : "4"));

    for (int i = 0; i <= last; ++i) {
        QCOMPARE(r.port.writes.size(), size_t(i + 1));
        const std::string& f = r.port.writes[size_t(i)];
        const Field field = parseField(f);
        QVERIFY2(field.checksumOk, f.c_str());
        QCOMPARE(field.command, part ? '5' : '4');
        QCOMPARE(field.index, i);
        QCOMPARE(field.part, std::string(part ? "07" : ""));
        QVERIFY(field.value.size() >= 6);
        const std::string wire =
            part ? PartParamWireText(r.sheet, i) : SystemParamWireText(r.sheet, i);
        QCOMPARE(f, downloadFieldFrame(part ? '5' : '4', wire, "7", i));
        QCOMPARE(r.fields.back(), std::make_pair(i, last));
        QVERIFY(r.timer.isRunning());
        r.feed(Ack);
    }
    // The ACK of the last field writes nothing more and gives the button back.
    QCOMPARE(r.port.writes.size(), size_t(last + 1));
    QCOMPARE(r.session.downloadIndex(), last + 1);
    QVERIFY(part ? r.sheet.commands.partUpload : r.sheet.commands.sdUpload);
    QVERIFY(r.port.isOpen());
    QVERIFY(r.timer.isRunning()); // the closing frame is awaited
    QVERIFY(r.outcomes.empty());

    r.feed(framed(part ? "5" : "4"));
    QCOMPARE(r.window.status(), std::string(part ? "Part Download successfully completed"
                                                 : "System Download successfully completed"));
    QCOMPARE(r.outcomes,
             std::vector<Outcome>{part ? Outcome::PartDownloadEnd : Outcome::SystemDownloadEnd});
    QVERIFY(!r.port.isOpen());
    QVERIFY(!r.timer.isRunning());
    QCOMPARE(r.session.downloadIndex(), last + 1);
    QCOMPARE(r.session.downloadCmd(), std::string(part ? "5" : "4"));
}

// An instrument of the earlier generation closes after its last field while the sheet has two
// more: whatever answers those, the download did not do what was asked.
void TestSession::closingFrameBeforeTheLastFieldIsNoSuccess() {
    Rig r;
    r.sheet.SetFirmwareGeneration(Generation::V73);
    r.sheet.setPartSelection("7");
    r.sheet.setText(Part::CustCode, "123456");
    r.session.cmdPartDnload_Click();
    for (int i = 0; i < 27; ++i)
        r.feed(Ack);
    r.feed(Ack + framed("5")); // field 28 goes out as the instrument closes
    QCOMPARE(r.outcomes, std::vector<Outcome>{Outcome::EndedEarly});
    QVERIFY(!r.session.succeeded(r.outcomes.back()));
    QCOMPARE(r.window.status(),
             std::string("Error - QX7400 ended the download before its last field"));
    QVERIFY(r.sheet.commands.partUpload); // the button comes back
    QVERIFY(!r.port.isOpen());
}

// The other instrument's serial number, clock and calibration go out in place of the sheet's,
// and the sheet itself stays as it is.
void TestSession::downloadKeepsAnotherInstrumentsOwnValues() {
    Rig r;
    r.sheet.SetFirmwareGeneration(Generation::V73);
    r.sheet.setText(Sys::Serial, "1234");
    r.sheet.setText(Sys::SysZero, "100");
    r.sheet.setText(Sys::NumLeakRdgs, "10");
    r.sheet.setText(Part::FlowFactor, "1");
    r.sheet.setText(Part::LeakLimit, "2");
    Sheet other;
    other.setText(Sys::Serial, "5678");
    other.setText(Sys::SysZero, "222");
    other.setText(Sys::NumLeakRdgs, "20");
    other.setText(Part::FlowFactor, "7.5");
    other.setText(Part::LeakLimit, "9");
    const Sheet before = r.sheet;
    r.session.setOwnValues(other);

    r.session.cmdSDDnLoad_Click();
    QCOMPARE(r.session.sent().text(Sys::Serial), std::string("5678"));
    QCOMPARE(r.session.sent().text(Sys::SysZero), std::string("222"));
    QCOMPARE(r.session.sent().text(Sys::NumLeakRdgs), std::string("10"));
    const int serialField = row(Sys::Serial).downloadIndex;
    while (r.port.writes.size() <= size_t(serialField))
        r.feed(Ack);
    QCOMPARE(r.port.writes[size_t(serialField)],
             downloadFieldFrame('4', SystemParamWireText(r.session.sent(), serialField), "",
                                serialField));
    QVERIFY(r.port.writes[size_t(serialField)].find("5678") != std::string::npos);
    r.feed(Nak);

    r.sheet = before;
    r.sheet.setPartSelection("7");
    r.sheet.setText(Part::CustCode, "123456");
    r.session.cmdPartDnload_Click();
    QCOMPARE(r.session.sent().text(Part::FlowFactor), std::string("7.5"));
    QCOMPARE(r.session.sent().text(Part::LeakLimit), std::string("2"));
    QCOMPARE(r.sheet.text(Part::FlowFactor), std::string("1"));
}

void TestSession::ackAndClosingFrameInOneRead() {
    Rig r;
    r.sheet.SetFirmwareGeneration(Generation::V70);
    r.session.cmdSDDnLoad_Click();
    for (int i = 0; i < 24; ++i)
        r.feed(Ack);
    QCOMPARE(r.session.downloadIndex(), 25);
    r.feed(Ack + framed("4"));
    QCOMPARE(r.window.status(), std::string("System Download successfully completed"));
    QCOMPARE(r.outcomes, std::vector<Outcome>{Outcome::SystemDownloadEnd});
    QVERIFY(r.sheet.commands.sdUpload);
    QVERIFY(!r.port.isOpen());
}

void TestSession::ackKeepsWhatFollows() {
    Rig r;
    r.sheet.SetFirmwareGeneration(Generation::V70);
    r.session.cmdSDDnLoad_Click();
    r.feed("noise" + Ack +
           "\x02"
           "4");
    QCOMPARE(r.port.writes.size(), size_t(2));
    QCOMPARE(r.session.rxBuffer(), bytes("\x02"
                                         "4"));
    // An ACK wins over the unfinished frame; two in one read send two fields.
    r.feed(Ack + Ack);
    QCOMPARE(r.port.writes.size(), size_t(4));
    QVERIFY(r.session.rxBuffer().empty());
    QCOMPARE(parseField(r.port.writes[3]).index, 3);
}

void TestSession::downloadSendsTheSheetAsItBegan_data() {
    QTest::addColumn<bool>("part");
    QTest::newRow("system") << false;
    QTest::newRow("part") << true;
}

void TestSession::downloadSendsTheSheetAsItBegan() {
    QFETCH(bool, part);
    Rig r;
    r.sheet.SetFirmwareGeneration(Generation::V73);
    r.sheet.setPartSelection("3");
    r.sheet.setText(Part::CustCode, "1");
    r.sheet.setText(Sys::Serial, "1234");
    part ? r.session.cmdPartDnload_Click() : r.session.cmdSDDnLoad_Click();
    // Edited while the download runs: the instrument still gets one sheet, not a mix.
    const Sheet began = r.sheet;
    r.sheet.setPartSelection("12");
    for (const PartRow& row : partCatalogue())
        r.sheet.setText(row.id, "7");
    for (const SysRow& row : systemCatalogue())
        r.sheet.setText(row.id, "7");
    const size_t fields = part ? 30 : 26;
    while (r.port.writes.size() < fields)
        r.feed(Ack);
    for (int i = 0; i < int(fields); ++i)
        QCOMPARE(r.port.writes[size_t(i)],
                 part ? downloadFieldFrame('5', PartParamWireText(began, i), "03", i)
                      : downloadFieldFrame('4', SystemParamWireText(began, i), "", i));
}

void TestSession::sendDownloadFieldWithoutDownloadDoesNothing() {
    Rig r;
    r.sheet.SetFirmwareGeneration(Generation::V70);
    r.port.forceOpen();
    r.sheet.commands.sdUpload = false;
    r.session.SendDownloadField();
    QVERIFY(r.port.writes.empty());
    QCOMPARE(r.session.downloadIndex(), 0);
    QVERIFY(!r.sheet.commands.sdUpload);
    QVERIFY(r.fields.empty());
}

void TestSession::strayAckOutsideADownloadSendsNothing() {
    Rig r;
    r.sheet.SetFirmwareGeneration(Generation::V70);
    // A download broken off by a NAK leaves DownloadIndex in the middle of the sequence.
    r.session.cmdSDDnLoad_Click();
    r.feed(Ack + Ack + Ack);
    r.feed(std::string(1, NAK));
    QCOMPARE(r.session.downloadIndex(), 4);
    // An ACK byte in the noise of a later request must not send field 4.
    QVERIFY(r.session.requestMode());
    const size_t written = r.port.writes.size();
    r.feed("x" + Ack);
    QCOMPARE(r.port.writes.size(), written);
    QCOMPARE(r.session.downloadIndex(), 4);
    QVERIFY(r.port.isOpen()); // still waiting for the mode report
    // After a finished download, an ACK changes nothing either.
    Rig done;
    done.sheet.SetFirmwareGeneration(Generation::V70);
    done.session.cmdSDDnLoad_Click();
    for (int i = 0; i <= 24; ++i)
        done.feed(Ack);
    done.feed(framed("4"));
    const size_t sent = done.port.writes.size();
    QVERIFY(done.session.requestMode());
    done.feed(Ack);
    QCOMPARE(done.port.writes.size(), sent + 1); // the mode request only
    QCOMPARE(done.session.downloadIndex(), 25);
}

void TestSession::nakEndsTheDownload_data() {
    QTest::addColumn<bool>("part");
    QTest::addColumn<int>("acks");
    QTest::newRow("system, first field") << false << 0;
    QTest::newRow("system, field 7") << false << 7;
    QTest::newRow("part, field 3") << true << 3;
}

void TestSession::nakEndsTheDownload() {
    QFETCH(bool, part);
    QFETCH(int, acks);

    Rig r;
    r.sheet.SetFirmwareGeneration(Generation::V73);
    r.sheet.setPartSelection("02");
    r.sheet.setText(Part::CustCode, "1");
    r.sheet.commands.sdUpload = true;
    r.sheet.commands.partUpload = true;
    part ? r.session.cmdPartDnload_Click() : r.session.cmdSDDnLoad_Click();
    for (int i = 0; i < acks; ++i)
        r.feed(Ack);
    r.feed(Nak);
    QCOMPARE(r.window.status(), std::string("Error - NAK received from leak unit"));
    QCOMPARE(r.port.writes.size(), size_t(acks + 1)); // nothing re-sent
    QVERIFY(!r.port.isOpen());
    QVERIFY(!r.timer.isRunning());
    QVERIFY(r.sheet.commands.sdUpload);
    QVERIFY(r.sheet.commands.partUpload);
    QCOMPARE(r.outcomes, std::vector<Outcome>{Outcome::Nak});
    // The next request opens at once.
    r.session.cmdSDUpload_Click();
    QVERIFY(r.window.messages.empty());
    QVERIFY(r.port.isOpen());
}

void TestSession::nakDropsWhatCameWithIt() {
    Rig r;
    r.sheet.SetFirmwareGeneration(Generation::V73);
    r.session.cmdSDDnLoad_Click();
    r.feed(Nak + framed("4"));
    QVERIFY(r.session.rxBuffer().empty());
    // The next request gets its own answer, not the frame that came with the NAK.
    QVERIFY(r.session.requestMode());
    r.feed(framed("820"));
    QCOMPARE(r.outcomes, (std::vector<Outcome>{Outcome::Nak, Outcome::ModeReport}));
    QCOMPARE(r.listener.modes, std::vector<std::string>{"820"});
}

void TestSession::laterWriteFailureEndsTheDownload() {
    Rig r;
    r.sheet.SetFirmwareGeneration(Generation::V70);
    r.session.cmdSDDnLoad_Click();
    r.feed(Ack);
    r.port.failWrites = true;
    r.feed(Ack);
    QCOMPARE(r.window.status(), std::string("Error - Could not write to comm port"));
    QVERIFY(!r.port.isOpen());
    QVERIFY(!r.timer.isRunning());
    QVERIFY(r.sheet.commands.sdUpload);
    QCOMPARE(r.outcomes, std::vector<Outcome>{Outcome::WriteFailed});
    QCOMPARE(r.session.downloadIndex(), 2); // field 2 was not sent
    QVERIFY(r.window.messages.empty());
}

// ---------------------------------------------------------------- time-outs and lost ports

void TestSession::timeouts_data() {
    QTest::addColumn<int>("scenario");
    QTest::newRow("upload, no answer") << 0;
    QTest::newRow("mode request, no answer") << 1;
    QTest::newRow("upload, answer stops mid-frame") << 2;
    QTest::newRow("download, silent after field 5") << 3;
    QTest::newRow("download, no closing frame") << 4;
    QTest::newRow("part download, silent after field 0") << 5;
}

void TestSession::timeouts() {
    QFETCH(int, scenario);

    Rig r;
    r.sheet.SetFirmwareGeneration(Generation::V70);
    r.sheet.setPartSelection("09");
    r.sheet.setText(Part::CustCode, "1");
    r.sheet.commands.sdUpload = false;
    r.sheet.commands.partUpload = false;
    switch (scenario) {
    case 0:
        r.session.cmdSDUpload_Click();
        break;
    case 1:
        QVERIFY(r.session.requestMode());
        break;
    case 2:
        r.session.cmdSDUpload_Click();
        r.feed("\x02"
               "2,1,2");
        break;
    case 3:
        r.session.cmdSDDnLoad_Click();
        for (int i = 0; i < 5; ++i)
            r.feed(Ack);
        break;
    case 4:
        r.session.cmdSDDnLoad_Click();
        for (int i = 0; i <= 24; ++i)
            r.feed(Ack);
        break;
    case 5:
        r.session.cmdPartDnload_Click();
        break;
    }
    QVERIFY(r.outcomes.empty());
    QVERIFY(r.expire());
    QCOMPARE(r.window.status(), std::string("Error - No response from QX7400"));
    QVERIFY(!r.port.isOpen());
    QVERIFY(!r.timer.isRunning());
    // Both, even the one nothing had disabled.
    QVERIFY(r.sheet.commands.sdUpload);
    QVERIFY(r.sheet.commands.partUpload);
    QCOMPARE(r.outcomes, std::vector<Outcome>{Outcome::NoResponse});
    if (scenario == 2) // left as it was
        QCOMPARE(r.session.rxBuffer(), bytes("\x02"
                                             "2,1,2"));
}

void TestSession::portLostIsReportedOnce() {
    Rig r;
    r.sheet.SetFirmwareGeneration(Generation::V70);
    r.session.cmdSDDnLoad_Click();
    r.feed(Ack);
    r.sheet.commands.partUpload = false;
    for (int i = 0; i < 3; ++i)
        r.session.portLost("Resource temporarily unavailable");
    QCOMPARE(r.window.statuses.back(), std::string("Error - Comm port connection lost"));
    QCOMPARE(int(std::count(r.window.statuses.begin(), r.window.statuses.end(),
                            std::string("Error - Comm port connection lost"))),
             1);
    QVERIFY(!r.port.isOpen());
    QCOMPARE(r.port.closeCalls, 1);
    QVERIFY(!r.timer.isRunning());
    QVERIFY(r.sheet.commands.sdUpload);
    QVERIFY(r.sheet.commands.partUpload);
    QCOMPARE(r.outcomes, std::vector<Outcome>{Outcome::PortLost});
    QVERIFY(r.window.messages.empty());
}

// ---------------------------------------------------------------- open failures

void TestSession::uploadOpenFailure() {
    for (bool part : {false, true}) {
        Rig r;
        r.sheet.setPartSelection("01");
        r.port.failOpen = true;
        r.port.openError = "/dev/ttyS0: Permission denied";
        part ? r.session.cmdPartUpload_Click() : r.session.cmdSDUpload_Click();
        QCOMPARE(r.window.messageTexts(),
                 std::vector<std::string>{"Can't open comm port! Please Try Again"});
        QCOMPARE(r.window.messages[0].buttons, Buttons::Ok);
        QCOMPARE(r.window.status(), std::string("/dev/ttyS0: Permission denied"));
        QVERIFY(r.port.writes.empty());
        QVERIFY(!r.timer.isRunning()); // nothing further happens
        QCOMPARE(r.outcomes, std::vector<Outcome>{Outcome::OpenFailed});
    }
}

void TestSession::downloadOpenFailureIsFollowedByTheTimeout_data() {
    QTest::addColumn<bool>("part");
    QTest::addColumn<bool>("writeFails"); // the port opens but field 0 cannot be written
    QTest::newRow("system, open fails") << false << false;
    QTest::newRow("part, open fails") << true << false;
    QTest::newRow("system, first write fails") << false << true;
}

void TestSession::downloadOpenFailureIsFollowedByTheTimeout() {
    QFETCH(bool, part);
    QFETCH(bool, writeFails);

    Rig r;
    r.sheet.SetFirmwareGeneration(Generation::V70);
    r.sheet.setPartSelection("01");
    r.sheet.setText(Part::CustCode, "1");
    r.sheet.commands.sdUpload = true;
    r.sheet.commands.partUpload = true;
    if (writeFails)
        r.port.failWriteAt = 0;
    else
        r.port.failOpen = true;
    part ? r.session.cmdPartDnload_Click() : r.session.cmdSDDnLoad_Click();
    QCOMPARE(r.window.messageTexts(),
             std::vector<std::string>{"Can't open comm port! Please Try Again"});
    QVERIFY(!r.port.isOpen());
    QCOMPARE(r.outcomes, std::vector<Outcome>{Outcome::OpenFailed});
    QVERIFY(r.timer.isRunning());
    // Nothing runs: the time-out still to come refuses nothing.
    QVERIFY(!r.session.transferRunning());
    QVERIFY(!r.session.busy());
    if (part)
        QVERIFY(!r.sheet.commands.partUpload); // disabled before the open was tried
    QVERIFY(r.expire());
    QCOMPARE(r.window.status(), std::string("Error - No response from QX7400"));
    QVERIFY(r.sheet.commands.sdUpload);
    QVERIFY(r.sheet.commands.partUpload);
    QCOMPARE(r.outcomes.size(), size_t(1)); // the failure was the end of that exchange
}

void TestSession::secondRequestLeavesTheRunningExchangeAlone() {
    Rig r;
    r.sheet.SetFirmwareGeneration(Generation::V70);
    r.sheet.setPartSelection("02");
    r.sheet.setText(Part::CustCode, "1");
    r.sheet.commands.sdUpload = true;
    r.session.cmdPartDnload_Click();
    r.feed(Ack);
    const std::string wait = "Please wait until the transfer with QX7400 has ended.";
    // Every starter: the part tab's part-list request, the mode window's buttons and the four
    // transfer buttons.
    QVERIFY(!r.session.requestPartList());
    QVERIFY(!r.session.requestMode());
    QVERIFY(!r.session.requestModeChange('2'));
    r.session.cmdSDUpload_Click();
    r.session.cmdPartUpload_Click();
    r.session.cmdSDDnLoad_Click();
    r.session.cmdPartDnload_Click();
    QCOMPARE(r.window.messageTexts(), std::vector<std::string>(7, wait));
    QCOMPARE(r.port.writes.size(), size_t(2));
    QVERIFY(r.port.isOpen());
    QVERIFY(r.outcomes.empty());
    QCOMPARE(r.session.downloadIndex(), 2);
    QCOMPARE(r.sheet.text(Part::CustCode), std::string("1"));
    // The download goes on to its end.
    while (r.port.writes.size() < 28)
        r.feed(Ack);
    r.feed(Ack + framed("5"));
    QCOMPARE(r.outcomes, std::vector<Outcome>{Outcome::PartDownloadEnd});
    QCOMPARE(r.window.status(), std::string("Part Download successfully completed"));
    QCOMPARE(parseField(r.port.writes.back()).index, 27);
}

void TestSession::modeRequestOpenFailureLeavesThePort() {
    Rig r;
    r.session.cmdSDUpload_Click();
    r.feed("\x02"
           "2,");
    r.sheet.commands.sdUpload = false;
    QVERIFY(!r.session.requestPartList());
    QCOMPARE(r.window.messageTexts(),
             std::vector<std::string>{"Please wait until the transfer with QX7400 has ended."});
    QVERIFY(r.port.isOpen()); // the upload goes on
    QCOMPARE(r.session.rxBuffer(), bytes("\x02"
                                         "2,"));
    QVERIFY(!r.sheet.commands.sdUpload);
    QVERIFY(r.outcomes.empty());

    Rig closed;
    closed.port.failOpen = true;
    QVERIFY(!closed.session.requestMode());
    QVERIFY(!closed.port.isOpen());
    QVERIFY(!closed.timer.isRunning());
    QCOMPARE(closed.window.status(), std::string("no such port"));

    Rig unwritable;
    unwritable.port.failWrites = true;
    QVERIFY(!unwritable.session.requestMode());
    QVERIFY(!unwritable.port.isOpen()); // it opened it, so it closes it again
    QVERIFY(!unwritable.timer.isRunning());
}

QTEST_APPLESS_MAIN(TestSession)
#include "test_session.moc"
