#include "qt/qt_serial_port.h"

#include <QSerialPortInfo>
#include <QtGlobal>

namespace pp::qt {

// Built where the Win32 adapter is not (CMake chooses).
std::unique_ptr<SerialAdapter> makeSerialAdapter(QObject* parent) {
    return std::make_unique<QtSerialPort>(parent);
}

QList<SerialPortEntry> systemSerialPorts() {
    QList<SerialPortEntry> ports;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts())
        ports.append(
            {info.portName(), info.systemLocation(), info.description(), info.manufacturer()});
    return ports;
}

QtSerialPort::QtSerialPort(QObject* parent) : SerialAdapter(parent) {
    connect(&port_, &QSerialPort::readyRead, this, [this] {
        const QByteArray bytes = port_.readAll();
        if (!bytes.isEmpty())
            emit received(bytes);
    });
    connect(&port_, &QSerialPort::errorOccurred, this, &QtSerialPort::onError);
    port_.setBaudRate(QSerialPort::Baud9600);
    port_.setDataBits(QSerialPort::Data8);
    port_.setParity(QSerialPort::NoParity);
    port_.setStopBits(QSerialPort::OneStop);
    port_.setFlowControl(QSerialPort::NoFlowControl);
}

bool QtSerialPort::open() {
    lastError_.clear();
    if (port_.isOpen()) {
        // Still open from an unfinished exchange: refused like any busy device.
        lastError_ =
            QStringLiteral("%1: device is already open").arg(port_.portName()).toStdString();
        return false;
    }
    // QSerialPort applies 9600,N,8,1 (set once in the constructor) when it opens.
    port_.setPortName(devicePath());
    if (!port_.open(QIODevice::ReadWrite)) {
        lastError_ = QStringLiteral("%1: %2").arg(devicePath(), port_.errorString()).toStdString();
        port_.clearError();
        return false;
    }
    // A closed serial port drops what arrives; a pseudo-terminal keeps it. Start each
    // exchange clean so a late answer to an earlier request is never taken for this one.
    port_.clear(QSerialPort::Input);
    return true;
}

void QtSerialPort::close() {
    if (port_.isOpen())
        port_.close();
}

bool QtSerialPort::write(std::string_view bytes) {
    if (!port_.isOpen())
        return false;
    const qint64 n = port_.write(bytes.data(), static_cast<qint64>(bytes.size()));
    // Hand the frame to the driver now rather than when the event loop next turns: the
    // instrument's answer cannot start before the frame has left.
    if (n == static_cast<qint64>(bytes.size()))
        port_.flush();
    if (n != static_cast<qint64>(bytes.size()) || port_.error() == QSerialPort::WriteError) {
        lastError_ = port_.errorString().toStdString();
        return false;
    }
    return true;
}

void QtSerialPort::onError(QSerialPort::SerialPortError error) {
    // A pulled adapter raises ResourceError, often several times; the session closes the
    // port at the first, so the rest find it closed and are dropped. Open failures are
    // reported by the starter that opened, DTR/RTS refusals on a pty are harmless. Qt 6 reports
    // none of the line's own errors.
    switch (error) {
    case QSerialPort::ResourceError:
    case QSerialPort::ReadError:
        if (port_.isOpen())
            emit lost(port_.errorString());
        break;
    case QSerialPort::WriteError:
        // Raised inside our own write() too, while the session is still sending: let that
        // call return its failure first and deal with what is left afterwards.
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (port_.isOpen())
                    emit writeFailed();
            },
            Qt::QueuedConnection);
        break;
    default:
        break;
    }
}

} // namespace pp::qt
