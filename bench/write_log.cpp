#include "write_log.h"

#include <atomic>
#include <chrono>
#include <mutex>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr unsigned char Stx = 0x02;

std::atomic<bool> recording{false};
std::thread::id recorder;
std::mutex logLock;
std::vector<pp::sim::ByteEvent> events;

} // namespace

namespace pp::bench {

void startRecordingWrites() {
    recording.store(false);
    std::lock_guard lock(logLock);
    events.clear();
    events.reserve(1 << 14);
    recorder = std::this_thread::get_id();
    recording.store(true, std::memory_order_release);
}

void stopRecordingWrites() {
    recording.store(false);
}

std::vector<pp::sim::ByteEvent> recordedWrites() {
    std::lock_guard lock(logLock);
    return events;
}

} // namespace pp::bench

// Every write() of the process lands here; the system call is made directly.
extern "C" ssize_t write(int fd, const void* buf, size_t count) {
    const auto at = std::chrono::steady_clock::now();
    const auto n = static_cast<ssize_t>(::syscall(SYS_write, fd, buf, count));
    if (n > 0 && fd > 2 && recording.load(std::memory_order_acquire) &&
        static_cast<const unsigned char*>(buf)[0] == Stx &&
        std::this_thread::get_id() == recorder) {
        std::lock_guard lock(logLock);
        for (ssize_t i = 0; i < n; ++i)
            events.push_back({at, static_cast<const unsigned char*>(buf)[i]});
    }
    return n;
}
