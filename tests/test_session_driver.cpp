// The Qt adapters over a real pseudo-terminal whose other end the test plays by hand:
// bytes both ways, the time-out on the event loop, a port that goes away, open failures.
#include "link/frames.h"
#include "qt/session_driver.h"
#include "support/fakes.h"
#include "support/pty.h"

#include <QSignalSpy>
#include <QtTest>

#include <algorithm>
#include <chrono>
#include <cstdlib>

using namespace pp;
using pp::test::FakeWindow;

Q_DECLARE_METATYPE(pp::Outcome)

namespace {

// The instrument's end of a pty, played by the test.
class PtyPeer : public pp::test::PtyPair {
public:
    QString path() const { return QString::fromStdString(PtyPair::path()); }

    // Reads until `bytes` bytes came, running the event loop so the editor's side can write;
    // gives up after two seconds.
    std::string receive(size_t bytes) {
        return pp::test::readUntil(
                   master(), [bytes](const std::string& got) { return got.size() >= bytes; },
                   std::chrono::seconds(2),
                   [] { QCoreApplication::processEvents(QEventLoop::AllEvents, 10); })
            .bytes;
    }
};

struct Listener : ModeListener {
    std::vector<std::string> modes;
    void ProcessModeData(const std::string& buffer) override { modes.push_back(buffer); }
    void ProcessPartsList(const std::string&) override {}
};

} // namespace

class TestSessionDriver : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { qRegisterMetaType<pp::Outcome>(); }
    void devicePaths();
    void modeRequestRoundTrip();
    void downloadFieldsGoOutOnePerAck();
    void silenceEndsInTheTimeout();
    void lostPortIsReportedOnce();
    void openFailureShowsTheReason();
};

void TestSessionDriver::devicePaths() {
    qunsetenv("PARAMPORTER_COMM3");
    QCOMPARE(qt::devicePathForPort(1), QString("/dev/ttyS0"));
    QCOMPARE(qt::devicePathForPort(3), QString("/dev/ttyS2"));
    qputenv("PARAMPORTER_COMM3", "/dev/ttyUSB0");
    QCOMPARE(qt::devicePathForPort(3), QString("/dev/ttyUSB0"));
    QCOMPARE(qt::devicePathForPort(2), QString("/dev/ttyS1"));
    qunsetenv("PARAMPORTER_COMM3");

    Sheet sheet;
    FakeWindow window;
    qt::SessionDriver driver(sheet, window);
    driver.session().setCommPortNumber(2);
    driver.setDeviceOverride("/dev/pts/99");
    QCOMPARE(driver.devicePath(), QString("/dev/pts/99"));
    driver.setDeviceOverride({});
    driver.session().requestMode(); // assigns COMM 2 (and fails: no such device here)
    QCOMPARE(driver.devicePath(), QString("/dev/ttyS1"));
}

void TestSessionDriver::modeRequestRoundTrip() {
    PtyPeer peer;
    QVERIFY(peer.ok());
    Sheet sheet;
    FakeWindow window;
    Listener listener;
    qt::SessionDriver driver(sheet, window);
    driver.session().setModeListener(&listener);
    driver.setDeviceOverride(peer.path());
    QSignalSpy ended(&driver, &qt::SessionDriver::exchangeEnded);
    QSignalSpy changed(&driver, &qt::SessionDriver::changed);

    QVERIFY(driver.session().requestMode());
    QCOMPARE(peer.receive(3), readModeFrame());
    // The answer in two pieces, as a slow line delivers it.
    peer.send("\x02"
              "8");
    QTRY_VERIFY(changed.count() >= 1);
    QVERIFY(ended.isEmpty());
    peer.send("21\x03");
    QVERIFY(ended.wait(2000));
    QCOMPARE(ended.count(), 1);
    QCOMPARE(ended[0][0].value<pp::Outcome>(), Outcome::ModeReport);
    QCOMPARE(listener.modes, std::vector<std::string>{"821"});
    QVERIFY(!driver.session().busy());
}

void TestSessionDriver::downloadFieldsGoOutOnePerAck() {
    PtyPeer peer;
    QVERIFY(peer.ok());
    Sheet sheet;
    sheet.SetFirmwareGeneration(Generation::V70);
    FakeWindow window;
    qt::SessionDriver driver(sheet, window);
    driver.setDeviceOverride(peer.path());
    QSignalSpy ended(&driver, &qt::SessionDriver::exchangeEnded);
    QSignalSpy sent(&driver, &qt::SessionDriver::fieldSent);

    driver.session().cmdSDDnLoad_Click();
    for (int i = 0; i <= sheet.lastSysIndex(); ++i) {
        const std::string f = peer.receive(15);
        QCOMPARE(f.size(), size_t(15));
        QCOMPARE(f.substr(8, 2), ZeroPad(std::to_string(i), 2));
        peer.send(std::string(1, ACK));
    }
    QTRY_COMPARE(driver.session().downloadIndex(), sheet.lastSysIndex() + 1);
    QCOMPARE(sent.count(), sheet.lastSysIndex() + 1);
    QCOMPARE(sent.last()[0].toInt(), sheet.lastSysIndex());
    QCOMPARE(sent.last()[1].toInt(), sheet.lastSysIndex());
    peer.send(frame("4"));
    QVERIFY(ended.wait(2000));
    QCOMPARE(ended[0][0].value<pp::Outcome>(), Outcome::SystemDownloadEnd);
    QCOMPARE(window.status(), std::string("System Download successfully completed"));
}

void TestSessionDriver::silenceEndsInTheTimeout() {
    PtyPeer peer;
    QVERIFY(peer.ok());
    Sheet sheet;
    FakeWindow window;
    qt::SessionDriver driver(sheet, window);
    driver.setDeviceOverride(peer.path());
    QSignalSpy ended(&driver, &qt::SessionDriver::exchangeEnded);

    driver.session().cmdSDUpload_Click();
    QCOMPARE(peer.receive(3), systemUploadFrame());
    QVERIFY(ended.wait(3000));
    QCOMPARE(ended[0][0].value<pp::Outcome>(), Outcome::NoResponse);
    QCOMPARE(window.status(), std::string("Error - No response from QX7400"));
    QVERIFY(!driver.session().busy());
}

void TestSessionDriver::lostPortIsReportedOnce() {
    auto peer = std::make_unique<PtyPeer>();
    QVERIFY(peer->ok());
    Sheet sheet;
    FakeWindow window;
    qt::SessionDriver driver(sheet, window);
    driver.setDeviceOverride(peer->path());
    QSignalSpy ended(&driver, &qt::SessionDriver::exchangeEnded);

    driver.session().cmdSDUpload_Click();
    QCOMPARE(peer->receive(3), systemUploadFrame());
    peer->send("\x02"
               "2,");
    peer->hangUp();
    QVERIFY(ended.wait(3000));
    QCOMPARE(ended[0][0].value<pp::Outcome>(), Outcome::PortLost);
    QCOMPARE(window.status(), std::string("Error - Comm port connection lost"));
    // Port closed and timer stopped: whatever else the port still reports changes nothing.
    QVERIFY(!driver.session().busy());
    QCoreApplication::processEvents();
    QCOMPARE(ended.count(), 1);
    QCOMPARE(int(std::count(window.statuses.begin(), window.statuses.end(),
                            std::string("Error - Comm port connection lost"))),
             1);
}

void TestSessionDriver::openFailureShowsTheReason() {
    Sheet sheet;
    FakeWindow window;
    qt::SessionDriver driver(sheet, window);
    driver.setDeviceOverride("/nonexistent/tty");
    QSignalSpy ended(&driver, &qt::SessionDriver::exchangeEnded);

    driver.session().cmdSDUpload_Click();
    QCOMPARE(window.messageTexts(),
             std::vector<std::string>{"Can't open comm port! Please Try Again"});
    QVERIFY(QString::fromStdString(window.status()).startsWith("/nonexistent/tty: "));
    QCOMPARE(ended.count(), 1);
    QCOMPARE(ended[0][0].value<pp::Outcome>(), Outcome::OpenFailed);
    QVERIFY(!driver.session().busy());
}

QTEST_GUILESS_MAIN(TestSessionDriver)
#include "test_session_driver.moc"
