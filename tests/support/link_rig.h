// The simulated instrument on a pseudo-terminal and the editor's sheet, window and session
// pointed at it through the real QSerialPort; through a line tap when the test damages the
// line itself.
#pragma once

#include "fakes.h"
#include "line_tap.h"
#include "link/session.h"
#include "qt/session_driver.h"
#include "sim/instrument.h"

#include <QSignalSpy>
#include <QString>

#include <functional>
#include <memory>
#include <string>

namespace pp::test {

struct LinkRig {
    explicit LinkRig(Generation g, bool withTap = false)
        : generation(g), instrument(g), driver(sheet, window) {
        ready = instrument.start();
        if (ready && withTap) {
            tap = std::make_unique<LineTap>(instrument.devicePath());
            ready = tap->ok();
        }
        driver.setDeviceOverride(
            QString::fromStdString(tap ? tap->devicePath() : instrument.devicePath()));
        driver.session().setModeListener(&listener);
        ended = std::make_unique<QSignalSpy>(&driver, &qt::SessionDriver::exchangeEnded);
    }

    // Starts an exchange without waiting for it.
    void start(const std::function<void()>& starter) {
        ended->clear();
        starter();
    }
    bool finished() const { return !ended->isEmpty(); }
    Outcome outcome() const {
        return ended->isEmpty() ? NoEnd : ended->first().first().value<Outcome>();
    }
    // Runs one exchange to its end on the event loop; NoEnd when none ended in time.
    Outcome run(const std::function<void()>& starter, int timeoutMs = 5000) {
        start(starter);
        if (ended->isEmpty() && !ended->wait(timeoutMs))
            return NoEnd;
        return outcome();
    }

    Session& session() { return driver.session(); }
    Outcome uploadSystem() {
        return run([this] { session().cmdSDUpload_Click(); });
    }
    Outcome uploadPart(const std::string& pn) {
        sheet.setPartSelection(pn);
        return run([this] { session().cmdPartUpload_Click(); });
    }
    Outcome downloadSystem() {
        return run([this] { session().cmdSDDnLoad_Click(); });
    }
    Outcome downloadPart() {
        return run([this] { session().cmdPartDnload_Click(); });
    }
    bool portOpen() { return session().busy(); }
    bool idle() { return !session().busy() && !session().exchangeOpen(); }
    bool uploadsEnabled() const { return sheet.commands.sdUpload && sheet.commands.partUpload; }

    Generation generation;
    sim::Instrument instrument;
    std::unique_ptr<LineTap> tap;
    Sheet sheet;
    FakeWindow window;
    RecordingListener listener;
    qt::SessionDriver driver;
    std::unique_ptr<QSignalSpy> ended;
    bool ready = false;
};

} // namespace pp::test
