// Reading a whole instrument: its system record, its part-number list (or a list given), then
// every part, each into a sheet of its own, the sheet on screen never changing. Print All Parts,
// Back Up All Parts, the command line's backup and the rounds read instruments this way.
#pragma once

#include "qt/part_sweep.h"
#include "qt/scratch_upload.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace pp::qt {

class SessionDriver;

// What comes next, for a progress display: the caller words it.
struct ReadStep {
    enum class Kind { System, PartList, Part } kind = Kind::System;
    std::string partNumber; // a part: its number
    size_t done = 0;        // a part: parts read or tried before it
    size_t parts = 0;       // a part: parts in all
};

struct WholeReadOptions {
    // The part numbers to read; none: those the instrument lists as configured.
    std::optional<std::vector<std::string>> parts;
    SweepStop stop = SweepStop::LinkGone;
    // Before each step; false cancels the read before it (the running upload is never cut short).
    std::function<bool(const ReadStep&)> progress;
    // After each part that read, with its sheet.
    std::function<void(const std::string&, const pp::Sheet&)> read;
    QEventLoop::ProcessEventsFlags flags = QEventLoop::AllEvents;
};

struct WholeRead {
    UploadResult system;                 // the system record's upload
    std::optional<UploadResult> list;    // the part-number list's, when it was asked for
    pp::Sheet instrument;                // the system record, when it read
    std::vector<std::string> configured; // the part numbers read or meant to be
    SweepResult parts;
    bool cancelled = false;
    // The system record and the list (when asked for) read: the parts were tried.
    bool reached() const { return system.ok && (!list || list->ok); }
    bool complete() const { return reached() && parts.complete() && !cancelled; }
};

WholeRead readWholeInstrument(SessionDriver& driver, pp::Sheet& home,
                              const WholeReadOptions& options = {});

} // namespace pp::qt
