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

// Who is on the line, and what it holds of its own: the system record (and, before a part is
// copied onto it, that part's record) read into a scratch sheet with nothing shown (no status
// text, no message box) and nothing recorded: the read is part of the transfer that follows,
// which the history records, naming the instrument. A read that failed ends that transfer
// before anything is written; `failure` and `messages` are what it would have said.
struct InstrumentRead {
    UploadResult result;
    std::string status;                // status panel 1 as it would have been left
    std::vector<std::string> messages; // the message boxes it would have shown
    pp::Sheet sheet;                   // the instrument's system record, when read
    bool ok() const { return result.ok; }
    // Says on `window` what the read would have said there.
    void showOn(pp::Window& window) const;
    std::optional<pp::InstrumentIdentity> identity() const;
};

InstrumentRead
readInstrument(SessionDriver& driver, pp::Sheet& home,
               QEventLoop::ProcessEventsFlags flags = QEventLoop::ExcludeUserInputEvents);

// The record of `partNumber` of the instrument `read` came from, into `read.sheet`, as quietly.
InstrumentRead
readInstrumentPart(SessionDriver& driver, pp::Sheet& home, pp::Sheet system,
                   const std::string& partNumber,
                   QEventLoop::ProcessEventsFlags flags = QEventLoop::ExcludeUserInputEvents);

} // namespace pp::qt
