// The Windows serial adapter: ClearCommError's flags as line errors, the names CreateFile takes
// and the registry's ports; then the adapter and the session against simulated instruments on
// COM ports that support/wine_ports.sh links to pseudo-terminals (CTest starts them; the cases
// skip without PP_WINE_PORTS).
#include "link/frames.h"
#include "link/status_texts.h"
#include "qt/session_driver.h"
#include "qt/win_serial_port.h"
#include "support/fakes.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QtTest>

#include <memory>
#include <vector>

using namespace pp;
using pp::test::FakeWindow;

Q_DECLARE_METATYPE(pp::Outcome)
Q_DECLARE_METATYPE(pp::LineError)

namespace {

bool portsLinked() {
    return qEnvironmentVariableIntValue("PP_WINE_PORTS") == 1;
}

#define REQUIRE_PORTS()                                                                            \
    if (!portsLinked())                                                                            \
    QSKIP("no simulated instruments on COM ports (run through CTest, which links them)")

std::unique_ptr<qt::SerialAdapter> adapterOn(const QString& port) {
    auto adapter = qt::makeSerialAdapter();
    adapter->setDeviceOverride(port);
    return adapter;
}

// A session on a COM port, its exchanges run to their end.
struct Rig {
    Sheet sheet;
    FakeWindow window;
    qt::SessionDriver driver{sheet, window};
    QSignalSpy ended{&driver, &qt::SessionDriver::exchangeEnded};

    explicit Rig(const QString& port) { driver.setDeviceOverride(port); }
    std::optional<Outcome> run(void (Session::*starter)()) {
        ended.clear();
        (driver.session().*starter)();
        if (ended.isEmpty() && !ended.wait(5000))
            return std::nullopt;
        return ended.takeFirst().at(0).value<Outcome>();
    }
};

} // namespace

class TestWinSerial : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        qRegisterMetaType<pp::Outcome>();
        qRegisterMetaType<pp::LineError>();
    }

    void lineErrorsFromCommErrors_data();
    void lineErrorsFromCommErrors();
    void deviceNames_data();
    void deviceNames();
    void registryPortsInNumberOrder();

    void transfersOnATwoDigitPort();
    void inputWaitingAtOpenIsDropped();
    void lostDeviceIsSaidOnce();
    void quietLineIsNoLostDevice();
    void silentInstrumentIsGivenUpInTime();
    void deviceWithoutLineSettings();
    void missingPortSaysWhy();
};

void TestWinSerial::lineErrorsFromCommErrors_data() {
    QTest::addColumn<quint32>("flags");
    QTest::addColumn<std::vector<LineError>>("errors");
    using E = std::vector<LineError>;
    QTest::newRow("break") << quint32(CE_BREAK) << E{LineError::Break};
    QTest::newRow("framing") << quint32(CE_FRAME) << E{LineError::Frame};
    QTest::newRow("parity") << quint32(CE_RXPARITY) << E{LineError::RxParity};
    // The UART lost a byte: not the same as the driver's buffer running full.
    QTest::newRow("hardware overrun") << quint32(CE_OVERRUN) << E{LineError::Overrun};
    QTest::newRow("input buffer full") << quint32(CE_RXOVER) << E{LineError::RxOver};
    QTest::newRow("output buffer full") << quint32(CE_TXFULL) << E{LineError::TxFull};
    // Each once; the lost input last, so its status is the one that stays.
    QTest::newRow("several") << quint32(CE_RXOVER | CE_FRAME | CE_BREAK)
                             << E{LineError::Break, LineError::Frame, LineError::RxOver};
    QTest::newRow("every one") << quint32(CE_BREAK | CE_FRAME | CE_RXPARITY | CE_OVERRUN |
                                          CE_RXOVER | CE_TXFULL)
                               << E{LineError::Break,  LineError::Frame,   LineError::RxParity,
                                    LineError::TxFull, LineError::Overrun, LineError::RxOver};
    QTest::newRow("no error of the line")
        << quint32(CE_MODE | CE_IOE | CE_DNS | CE_OOP | CE_PTO) << E{};
    QTest::newRow("nothing") << quint32(0) << E{};
}

void TestWinSerial::lineErrorsFromCommErrors() {
    QFETCH(quint32, flags);
    QFETCH(std::vector<LineError>, errors);
    QCOMPARE(qt::lineErrorsOf(flags), errors);
}

void TestWinSerial::deviceNames_data() {
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("name");
    QTest::newRow("COM3") << "COM3"
                          << R"(\\.\COM3)";
    // A plain "COM10" and above would name a file in the current folder.
    QTest::newRow("two digits") << "COM12"
                                << R"(\\.\COM12)";
    QTest::newRow("lower case") << "com12"
                                << R"(\\.\COM12)";
    QTest::newRow("already a device name") << R"(\\.\COM12)"
                                           << R"(\\.\COM12)";
    QTest::newRow("blanks around") << " COM4 "
                                   << R"(\\.\COM4)";
    QTest::newRow("another device") << R"(\\.\CNCA0)"
                                    << R"(\\.\CNCA0)";
    QTest::newRow("not a port name") << "COMX"
                                     << "COMX";
}

void TestWinSerial::deviceNames() {
    QFETCH(QString, port);
    QFETCH(QString, name);
    QCOMPARE(QString::fromStdWString(qt::win32DeviceName(port)), name);
}

// Wine registers its COM1; a USB adapter's port is added for the test, as a driver adds it.
void TestWinSerial::registryPortsInNumberOrder() {
    HKEY key = nullptr;
    QCOMPARE(RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, nullptr,
                             REG_OPTION_VOLATILE, KEY_SET_VALUE, nullptr, &key, nullptr),
             LONG(ERROR_SUCCESS));
    const wchar_t port[] = L"COM10";
    const wchar_t second[] = L"COM2";
    RegSetValueExW(key, L"\\Device\\VCP0", 0, REG_SZ, reinterpret_cast<const BYTE*>(port),
                   sizeof port);
    RegSetValueExW(key, L"\\Device\\ProlificSerial0", 0, REG_SZ,
                   reinterpret_cast<const BYTE*>(second), sizeof second);
    const QList<qt::SerialPortEntry> ports = qt::systemSerialPorts();
    RegDeleteValueW(key, L"\\Device\\VCP0");
    RegDeleteValueW(key, L"\\Device\\ProlificSerial0");
    RegCloseKey(key);

    QStringList names, locations, devices;
    for (const qt::SerialPortEntry& p : ports) {
        names << p.portName;
        locations << p.systemLocation;
        devices << p.description;
    }
    QVERIFY2(names.indexOf("COM2") >= 0 && names.indexOf("COM10") > names.indexOf("COM2"),
             qPrintable(names.join(' ')));
    QCOMPARE(locations.at(names.indexOf("COM10")), QString(R"(\\.\COM10)"));
    QCOMPARE(devices.at(names.indexOf("COM10")), QString(R"(\Device\VCP0)"));
    if (names.contains("COM1"))
        QCOMPARE(names.indexOf("COM1"), 0);
}

// Writes reach the instrument at once and what it answers comes back: an upload is decoded,
// every field of a download is acknowledged up to the closing frame.
void TestWinSerial::transfersOnATwoDigitPort() {
    REQUIRE_PORTS();
    Rig rig(QStringLiteral("COM12"));
    QCOMPARE(rig.run(&Session::cmdSDUpload_Click), std::optional(Outcome::SystemRecord));
    QCOMPARE(rig.window.status(), std::string(text::Success));
    QCOMPARE(rig.sheet.text(Sys::Serial), std::string("1234"));
    QVERIFY(!rig.driver.session().busy());

    QCOMPARE(rig.run(&Session::cmdSDDnLoad_Click), std::optional(Outcome::SystemDownloadEnd));
    QCOMPARE(rig.window.status(), std::string(text::SystemDownloadDone));

    // "\\.\COM12", as --port takes it, is the same port.
    rig.driver.setDeviceOverride(QStringLiteral(R"(\\.\COM12)"));
    rig.sheet.setPartSelection("05");
    QCOMPARE(rig.run(&Session::cmdPartUpload_Click), std::optional(Outcome::PartRecord));
    QVERIFY(rig.driver.session().succeeded(Outcome::PartRecord));
}

// The rest of an answer that came after the port was closed must not be taken for the next
// exchange's.
void TestWinSerial::inputWaitingAtOpenIsDropped() {
    REQUIRE_PORTS();
    auto port = adapterOn(QStringLiteral("COM6"));
    QSignalSpy received(port.get(), &qt::SerialAdapter::received);
    QVERIFY(port->open());
    QVERIFY(port->write(systemUploadFrame()));
    QVERIFY(received.wait(2000)); // the first piece of the system record
    port->close();
    QTest::qWait(500); // the other pieces arrive in the closed port
    received.clear();

    QVERIFY(port->open());
    QVERIFY(port->write(partUploadFrame("05")));
    QByteArray answer;
    while (!answer.contains(ETX) && received.wait(1000)) {
        for (const QList<QVariant>& r : received)
            answer += r.at(0).toByteArray();
        received.clear();
    }
    QVERIFY2(answer.startsWith(QByteArray(1, STX) + "305"), answer.left(20).constData());
    port->close();
}

void TestWinSerial::lostDeviceIsSaidOnce() {
    REQUIRE_PORTS();
    auto port = adapterOn(QStringLiteral("COM7"));
    QSignalSpy lost(port.get(), &qt::SerialAdapter::lost);
    QVERIFY(port->open());
    QVERIFY(port->write(systemUploadFrame()));
    QVERIFY(lost.wait(3000));
    QTest::qWait(500); // nothing more comes of it
    QCOMPARE(lost.count(), 1);
    QVERIFY2(lost.at(0).at(0).toString().startsWith("COM7: "),
             qPrintable(lost.at(0).at(0).toString()));
    QVERIFY(port->isOpen()); // until the session closes it
    port->close();
}

// Reads that wait longer than their time-out (Wine reports those as failed) are no lost device.
void TestWinSerial::quietLineIsNoLostDevice() {
    REQUIRE_PORTS();
    auto port = adapterOn(QStringLiteral("COM5"));
    QSignalSpy lost(port.get(), &qt::SerialAdapter::lost);
    QSignalSpy received(port.get(), &qt::SerialAdapter::received);
    QVERIFY(port->open());
    QTest::qWait(int(qt::WinSerialPort::ReadWaitMs) * 3 + 50);
    QVERIFY(port->write(systemUploadFrame()));
    QVERIFY(received.wait(2000));
    QCOMPARE(lost.count(), 0);
    port->close();
}

// An instrument that never answers is given up one time-out after the request, as on Linux:
// neither the adapter's reads nor its close stretch the wait.
void TestWinSerial::silentInstrumentIsGivenUpInTime() {
    REQUIRE_PORTS();
    Rig rig(QStringLiteral("COM11"));
    QElapsedTimer took;
    took.start();
    QCOMPARE(rig.run(&Session::cmdSDUpload_Click), std::optional(Outcome::NoResponse));
    const qint64 ms = took.elapsed();
    QCOMPARE(rig.window.status(), std::string(text::NoResponse));
    QVERIFY2(ms >= NoResponseMs && ms < NoResponseMs + 500, qPrintable(QString::number(ms)));
}

void TestWinSerial::deviceWithoutLineSettings() {
    REQUIRE_PORTS();
    auto port = adapterOn(QStringLiteral("COM8"));
    QSignalSpy errors(port.get(), &qt::SerialAdapter::lineError);
    QVERIFY(!port->open());
    QVERIFY(!port->isOpen());
    QCOMPARE(errors.count(), 1);
    QCOMPARE(errors.at(0).at(0).value<LineError>(), LineError::DCB);

    // The session's status names it; the message is the open failure's.
    Rig rig(QStringLiteral("COM8"));
    QCOMPARE(rig.run(&Session::cmdSDUpload_Click), std::optional(Outcome::OpenFailed));
    QCOMPARE(rig.window.status(), std::string("Error - retrieving DCB"));
    QCOMPARE(rig.window.messageTexts(), std::vector<std::string>{std::string(text::CantOpenPort)});
}

void TestWinSerial::missingPortSaysWhy() {
    REQUIRE_PORTS();
    auto port = adapterOn(QStringLiteral("COM9"));
    QVERIFY(!port->open());
    QVERIFY2(port->lastError().starts_with("COM9: "), port->lastError().c_str());
    QVERIFY(port->lastError().size() > 6);
    QVERIFY(!port->write("x"));
}

QTEST_GUILESS_MAIN(TestWinSerial)
#include "test_win_serial.moc"
