// Reading a list of part numbers from one instrument, one upload after the other, each into a
// copy of a sheet that holds that instrument's system record: Print All Parts, Back Up All
// Parts, the command line's backup and the rounds all read parts this way. The sheet on screen
// never changes.
#pragma once

#include "qt/scratch_upload.h"

#include "link/session.h"
#include "sheet/sheet.h"

#include <QEventLoop>

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace pp::qt {

class SessionDriver;

// When a failed part ends the sweep.
enum class SweepStop {
    LinkGone,    // only when the port failed or went away: every later part would fail alike
    FirstFailure // at the first part that did not read
};

struct SweepOptions {
    SweepStop stop = SweepStop::LinkGone;
    // Before each part's upload: (parts done, parts in all, the part number next). False
    // cancels the sweep before that part; the running upload is never cut short.
    std::function<bool(size_t, size_t, const std::string&)> progress;
    // After each part that read, with its sheet (files are written as the parts come in).
    std::function<void(const std::string&, const pp::Sheet&)> read;
    QEventLoop::ProcessEventsFlags flags = QEventLoop::AllEvents;
};

struct SweepResult {
    std::vector<pp::Sheet> sheets;                            // the parts read, in order
    std::vector<std::pair<std::string, UploadResult>> failed; // part number, how it failed
    std::vector<std::string> notRead; // left out after a cancel or the stop rule
    bool cancelled = false;
    bool complete() const { return failed.empty() && notRead.empty() && !cancelled; }
};

// `instrument` holds the system record read from the instrument on the line just before; its
// serial number is what the parts' history entries name.
SweepResult sweepParts(SessionDriver& driver, pp::Sheet& home, const pp::Sheet& instrument,
                       const std::vector<std::string>& partNumbers,
                       const SweepOptions& options = {});

// A port that failed or went away fails every part after it the same way.
bool linkGone(pp::Outcome outcome);

} // namespace pp::qt
