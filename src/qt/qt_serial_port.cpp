#include "qt/qt_serial_port.h"

#include <QtGlobal>

namespace pp::qt {

QString devicePathForPort(int n) {
#ifdef Q_OS_WIN
    return QStringLiteral("COM%1").arg(n);
#else
    const QString fromEnv =
        qEnvironmentVariable(qPrintable(QStringLiteral("PARAMPORTER_COMM%1").arg(n)));
    if (!fromEnv.isEmpty())
        return fromEnv;
    return QStringLiteral("/dev/ttyS%1").arg(n - 1);
#endif
}

QtSerialPort::QtSerialPort() {
    port_.setBaudRate(QSerialPort::Baud9600);
    port_.setDataBits(QSerialPort::Data8);
    port_.setParity(QSerialPort::NoParity);
    port_.setStopBits(QSerialPort::OneStop);
    port_.setFlowControl(QSerialPort::NoFlowControl);
}

QString QtSerialPort::devicePath() const {
    return override_.isEmpty() ? devicePathForPort(number_) : override_;
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

QtOneShotTimer::QtOneShotTimer() {
    timer_.setSingleShot(true);
    timer_.setTimerType(Qt::PreciseTimer);
}

} // namespace pp::qt
