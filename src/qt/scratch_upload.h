// Uploads into a sheet that is not the one on screen: the session writes into the scratch
// sheet for the length of the exchange and goes back to its own sheet afterwards, whatever
// happened, so the sheet on screen never changes.
#pragma once

#include "link/session.h"
#include "sheet/sheet.h"

#include <QEventLoop>

#include <optional>
#include <string>
#include <vector>

namespace pp::qt {

class SessionDriver;

struct UploadResult {
    bool ok = false;
    pp::Outcome outcome = pp::Outcome::NoResponse;
    std::string failure; // what status panel 1 said (or the message), when not ok
};

class ScratchUpload {
public:
    // `home` is the sheet the session writes into otherwise.
    ScratchUpload(SessionDriver& driver, pp::Window& window, pp::Sheet& home,
                  QEventLoop::ProcessEventsFlags flags = QEventLoop::AllEvents)
        : driver_(driver), window_(window), home_(home), flags_(flags) {}

    // The system record into `scratch` (which loses its part values, as on screen).
    UploadResult system(pp::Sheet& scratch);
    // The record of `partNumber` ("01".."32") into `scratch`, which then selects it.
    UploadResult part(pp::Sheet& scratch, const std::string& partNumber);
    // The part-number list: '1' at position n + 1 for a configured part number n. The
    // answer bypasses the window's own listener, which would change the sheet on screen.
    UploadResult partList(pp::Sheet& scratch, std::string& list);

private:
    UploadResult run(pp::Sheet& scratch, void (pp::Session::*starter)());

    SessionDriver& driver_;
    pp::Window& window_;
    pp::Sheet& home_;
    QEventLoop::ProcessEventsFlags flags_;
};

// Who is on the line: the system record read into a scratch sheet with nothing shown (no status
// text, no message box), before a transfer that does not bring the system record itself. None
// when it could not be read; the transfer that follows then says what is wrong, as always.
// The read is part of that transfer: the history records the transfer, naming the instrument.
std::optional<pp::InstrumentIdentity>
readInstrument(SessionDriver& driver, pp::Sheet& home,
               QEventLoop::ProcessEventsFlags flags = QEventLoop::ExcludeUserInputEvents);

} // namespace pp::qt
