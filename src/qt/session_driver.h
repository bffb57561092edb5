// Runs the session on the Qt event loop: the serial port's notifications and the
// no-response timer are fed to it, and its callbacks come out as signals.
#pragma once

#include "link/session.h"
#include "qt/qt_timer.h"
#include "qt/serial_adapter.h"

#include <QObject>
#include <QString>

#include <memory>

namespace pp::qt {

class SessionDriver : public QObject {
    Q_OBJECT
public:
    SessionDriver(pp::Sheet& sheet, pp::Window& window, QObject* parent = nullptr);

    pp::Session& session() { return session_; }
    // Every open uses this device instead of the COMM number (e.g. --port /dev/ttyUSB0);
    // an empty path goes back to the COMM number.
    void setDeviceOverride(const QString& path);
    QString deviceOverride() const { return port_->deviceOverride(); }
    // The device the next open uses.
    QString devicePath() const { return port_->devicePath(); }
    // Exchanges that are a means to another (reading who is on the line before a transfer) are
    // not transfers of their own: the history leaves them out while this is false.
    void setRecorded(bool recorded) { recorded_ = recorded; }
    bool recorded() const { return recorded_; }
    // Shut-down: the port closes whatever exchange was running.
    void closePort() {
        timer_.stop();
        bound_.stop();
        port_->close();
    }

signals:
    void changed(); // after every event the session handled
    void exchangeEnded(pp::Outcome outcome);
    void fieldSent(int index, int last);
    // The session began waiting for the instrument (an exchange started, a download field
    // went out); it waits until session().busy() turns false.
    void waiting();

private:
    std::unique_ptr<SerialAdapter> port_;
    QtOneShotTimer timer_;
    QtOneShotTimer bound_; // the whole exchange's
    pp::Session session_;
    bool recorded_ = true;
};

} // namespace pp::qt
