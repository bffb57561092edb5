// The session's no-response timer over QTimer.
#pragma once

#include "link/platform.h"

#include <QTimer>

#include <functional>

namespace pp::qt {

class QtOneShotTimer : public pp::OneShotTimer {
public:
    QtOneShotTimer() {
        timer_.setSingleShot(true);
        timer_.setTimerType(Qt::PreciseTimer);
    }

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
