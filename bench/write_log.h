// When the editor hands each frame to the kernel. write() is interposed in the binary that
// links write_log.cpp (pp-bench, and paramporter through the preloaded pp-probe), so
// QSerialPort's writes pass through it. Only the recording thread's writes that begin with
// STX are kept: the editor's frames, not the simulated instrument's bytes nor Qt's wake-ups.
//
// The simulator's log times the editor's bytes when its own thread read them, which adds that
// thread's wake-up to the editor's turn-around; these times do not.
#pragma once

#include "sim/instrument.h"

#include <vector>

namespace pp::bench {

// Starts (or restarts) recording the calling thread's frame writes.
void startRecordingWrites();
void stopRecordingWrites();
// One event per byte written, at the time write() was called.
std::vector<pp::sim::ByteEvent> recordedWrites();

} // namespace pp::bench
