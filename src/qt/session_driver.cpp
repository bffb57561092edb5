#include "qt/session_driver.h"

namespace pp::qt {

SessionDriver::SessionDriver(pp::Sheet& sheet, pp::Window& window, QObject* parent)
    : QObject(parent), port_(makeSerialAdapter(this)), session_(sheet, *port_, timer_, window) {
    session_.onExchangeEnded = [this](pp::Outcome outcome) { emit exchangeEnded(outcome); };
    session_.onFieldSent = [this](int index, int last) { emit fieldSent(index, last); };
    timer_.onStart = [this] { emit waiting(); };
    session_.setBoundTimer(&bound_);
    connect(&bound_.timer(), &QTimer::timeout, this, [this] {
        session_.boundExpired();
        emit changed();
    });
    connect(port_.get(), &SerialAdapter::received, this, [this](const QByteArray& bytes) {
        session_.received(std::string_view(bytes.constData(), static_cast<size_t>(bytes.size())));
        emit changed();
    });
    connect(port_.get(), &SerialAdapter::lineError, this, [this](pp::LineError error) {
        session_.lineError(error);
        emit changed();
    });
    connect(port_.get(), &SerialAdapter::lost, this, [this](const QString& reason) {
        session_.portLost(reason.toStdString());
        emit changed();
    });
    connect(port_.get(), &SerialAdapter::writeFailed, this, [this] {
        session_.writeFailed();
        emit changed();
    });
    connect(&timer_.timer(), &QTimer::timeout, this, [this] {
        session_.Timer1_Timer();
        emit changed();
    });
}

void SessionDriver::setDeviceOverride(const QString& path) {
    port_->setDeviceOverride(path);
}

} // namespace pp::qt
