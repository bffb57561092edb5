#include "qt/session_driver.h"

namespace pp::qt {

SessionDriver::SessionDriver(pp::Sheet& sheet, pp::Window& window, QObject* parent)
    : QObject(parent), session_(sheet, port_, timer_, window) {
    session_.onExchangeEnded = [this](pp::Outcome outcome) { emit exchangeEnded(outcome); };
    session_.onFieldSent = [this](int index, int last) { emit fieldSent(index, last); };
    timer_.onStart = [this] { emit waiting(); };
    connect(&port_.device(), &QSerialPort::readyRead, this, &SessionDriver::onReadyRead);
    connect(&port_.device(), &QSerialPort::errorOccurred, this, &SessionDriver::onError);
    connect(&timer_.timer(), &QTimer::timeout, this, &SessionDriver::onTimeout);
}

void SessionDriver::setDeviceOverride(const QString& path) {
    port_.setDeviceOverride(path);
}

void SessionDriver::onReadyRead() {
    const QByteArray bytes = port_.device().readAll();
    if (bytes.isEmpty())
        return;
    session_.received(std::string_view(bytes.constData(), static_cast<size_t>(bytes.size())));
    emit changed();
}

void SessionDriver::onError(QSerialPort::SerialPortError error) {
    // A pulled adapter raises ResourceError, often several times; the session closes the
    // port at the first, so the rest find it closed and are dropped. Open failures are
    // reported by the starter that opened, DTR/RTS refusals on a pty are harmless.
    switch (error) {
    case QSerialPort::ResourceError:
    case QSerialPort::ReadError:
        if (!port_.isOpen())
            return;
        session_.portLost(port_.device().errorString().toStdString());
        break;
    case QSerialPort::WriteError:
        // Raised inside our own write() too, while the session is still sending: let that
        // call return its failure first and deal with what is left afterwards.
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (!port_.isOpen())
                    return;
                session_.writeFailed();
                emit changed();
            },
            Qt::QueuedConnection);
        return;
    default:
        return;
    }
    emit changed();
}

void SessionDriver::onTimeout() {
    session_.Timer1_Timer();
    emit changed();
}

} // namespace pp::qt
