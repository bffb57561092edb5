// What a run cost, read from the byte timelines the simulated instrument keeps.
//
// The instrument paces its own bytes at 9600 baud and logs each one when a receiver would have
// it. The editor's bytes cross the pseudo-terminal at once, so their wire time is added to the
// elapsed time: the protocol is half duplex (a frame, then its answer), so on a real line
// nothing overlaps them.
#pragma once

#include "sim/instrument.h"

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

namespace pp::bench {

using Clock = std::chrono::steady_clock;

double ms(Clock::duration d);
inline const double ByteMs = ms(pp::sim::ByteTime9600);

// Bytes of one direction in a row.
struct Burst {
    bool fromEditor = false;
    Clock::time_point first, last;
    size_t bytes = 0;
};

std::vector<Burst> bursts(const std::vector<pp::sim::ByteEvent>& received,
                          const std::vector<pp::sim::ByteEvent>& sent);

// Events of a timeline within [from, to].
std::vector<pp::sim::ByteEvent> slice(const std::vector<pp::sim::ByteEvent>& events,
                                      Clock::time_point from, Clock::time_point to);

struct Figures {
    bool ok = true;
    std::string note;         // why not ok
    size_t editorBytes = 0;   // to the instrument
    size_t answerBytes = 0;   // from the instrument
    double ptyMs = 0;         // start to end, as measured on the pseudo-terminal
    double wireMs = 0;        // every byte at 9600 baud
    double instrumentMs = 0;  // the instrument's own time beyond its answers' wire time
    double startMs = 0;       // start (the click) to the first byte of the first frame
    double finishMs = 0;      // last byte of the last answer to the end of the run
    std::vector<double> turn; // last byte of an answer to the first byte of the next frame

    // Elapsed time on a real line: the pty's, plus the wire time of the editor's bytes.
    double lineMs() const { return ptyMs + static_cast<double>(editorBytes) * ByteMs; }
    // What the program adds: everything that is neither the wire nor the instrument.
    double programMs() const { return lineMs() - wireMs - instrumentMs; }
    double overheadPercent() const { return 100.0 * programMs() / (wireMs + instrumentMs); }
};

Figures analyse(const std::vector<pp::sim::ByteEvent>& received,
                const std::vector<pp::sim::ByteEvent>& sent, Clock::time_point start,
                Clock::time_point end);

double median(std::vector<double> values);
double worst(const std::vector<double>& values);

} // namespace pp::bench
