// Where a simulated instrument keeps its values between runs: its state as the keypad's lines
// (Instrument::stateText), a text a person can read and edit. Read at the start and written
// back after downloads and keypad changes, so a second run starts where the first ended.
#pragma once

#include "instrument.h"

#include <mutex>
#include <optional>
#include <string>

namespace pp::sim {

class StateFile {
public:
    StateFile(Instrument& instrument, std::string path);

    // Puts the file's values into the instrument. A missing file is no failure: the
    // instrument keeps its values and save() creates the file. Else why the file cannot be
    // used (unreadable, or a line the instrument refuses), and the file is left as it is.
    std::optional<std::string> load();
    // Writes the instrument's values when they differ from what the file holds, through a
    // temporary file renamed over it, and never a text that would not read back the same.
    // Nothing on success, else why not. Any thread.
    std::optional<std::string> save();

    const std::string& path() const { return path_; }

private:
    Instrument& instrument_;
    std::string path_;
    std::mutex m_;
    std::optional<std::string> held_; // the values the file holds, once known
};

} // namespace pp::sim
