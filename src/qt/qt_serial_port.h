// The session's serial port and timer over QSerialPort and QTimer.
#pragma once

#include "link/ports.h"

#include <QSerialPort>
#include <QString>
#include <QTimer>

#include <functional>

namespace pp::qt {

// COMM N -> device: "COMn" on Windows; elsewhere $PARAMPORTER_COMM<N> if set, else
// /dev/ttyS<N-1>.
QString devicePathForPort(int n);

class QtSerialPort : public pp::SerialPort {
public:
    QtSerialPort();

    void setPortNumber(int number) override { number_ = number; }
    int portNumber() const override { return number_; }
    bool open() override;
    void close() override;
    bool isOpen() const override { return port_.isOpen(); }
    bool write(std::string_view bytes) override;
    std::string lastError() const override { return lastError_; }

    // A typed device path used by every open instead of the COMM number; empty to go back.
    void setDeviceOverride(const QString& path) { override_ = path; }
    const QString& deviceOverride() const { return override_; }
    // The device the next open uses.
    QString devicePath() const;

    QSerialPort& device() { return port_; }

private:
    QSerialPort port_;
    int number_ = 1;
    QString override_;
    std::string lastError_;
};

class QtOneShotTimer : public pp::OneShotTimer {
public:
    QtOneShotTimer();

    void start(int ms) override {
        timer_.start(ms);
        if (onStart)
            onStart();
    }
    void stop() override { timer_.stop(); }
    bool isRunning() const override { return timer_.isActive(); }

    QTimer& timer() { return timer_; }

    // Every exchange starts the timer, so this marks the session waiting for the instrument.
    std::function<void()> onStart;

private:
    QTimer timer_;
};

} // namespace pp::qt
