// The session's serial port as the Qt layer drives it: opened for each exchange at 9600,N,8,1,
// each frame handed to the driver at once, and what arrives, or goes wrong on the line, signalled
// on the event loop. QSerialPort does it on Linux (qt_serial_port.h), the Win32 communications
// API on Windows (win_serial_port.h); the session sees only pp::SerialPort.
#pragma once

#include "link/platform.h"
#include "link/session.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>

#include <memory>
#include <string>

namespace pp::qt {

// COMM N -> device: "COMN" on Windows (opened as \\.\COMN, so COM10 and above work); elsewhere
// $PARAMPORTER_COMM<N> if set, else /dev/ttyS<N-1>.
QString devicePathForPort(int n);

class SerialAdapter : public QObject, public pp::SerialPort {
    Q_OBJECT
public:
    using QObject::QObject;

    void setPortNumber(int number) override { number_ = number; }
    int portNumber() const override { return number_; }
    std::string lastError() const override { return lastError_; }

    // A typed device path used by every open instead of the COMM number; empty to go back.
    void setDeviceOverride(const QString& path) { override_ = path; }
    const QString& deviceOverride() const { return override_; }
    // The device the next open uses.
    QString devicePath() const {
        return override_.isEmpty() ? devicePathForPort(number_) : override_;
    }

signals:
    void received(const QByteArray& bytes);
    // The line's own errors (a break, a framing or parity error, an overrun, ...), where the
    // platform reports them.
    void lineError(pp::LineError error);
    // The device went away or cannot be read (a pulled USB adapter); said once per exchange.
    void lost(const QString& reason);
    // A write that had been taken failed afterwards.
    void writeFailed();

protected:
    int number_ = 1;
    QString override_;
    std::string lastError_;
};

// The platform's adapter.
std::unique_ptr<SerialAdapter> makeSerialAdapter(QObject* parent = nullptr);

// A serial port of this machine, for the port dialog.
struct SerialPortEntry {
    QString portName;       // "ttyUSB0", "COM3"
    QString systemLocation; // "/dev/ttyUSB0", "\\.\COM3"
    QString description;
    QString manufacturer;
};
QList<SerialPortEntry> systemSerialPorts();

} // namespace pp::qt
