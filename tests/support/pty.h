// Pseudo-terminal pieces for tests that play one end of the line by hand. POSIX only.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>
#include <string_view>

namespace pp::test {

// A terminal starts in cooked mode (echo, CR -> LF); a serial line is raw.
inline void makeRaw(int fd) {
    termios t{};
    if (::tcgetattr(fd, &t) == 0) {
        ::cfmakeraw(&t);
        ::tcsetattr(fd, TCSANOW, &t);
    }
}

inline bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n <= 0)
            return false;
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

struct ReadResult {
    std::string bytes;
    int reads = 0;       // reads that returned data
    bool hangUp = false; // the other end went away
};

// Reads `fd` until `done` holds for what has arrived, the other end hangs up, or the timeout.
// `between` runs between polls (a test's event loop, so the editor's side can act).
inline ReadResult readUntil(int fd, const std::function<bool(const std::string&)>& done,
                            std::chrono::milliseconds timeout,
                            const std::function<void()>& between = {}) {
    using Clock = std::chrono::steady_clock;
    ReadResult r;
    const auto deadline = Clock::now() + timeout;
    while (!done(r.bytes)) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            break;
        if (between)
            between();
        pollfd p{fd, POLLIN, 0};
        const int waitMs = between ? 10 : static_cast<int>(left.count());
        if (::poll(&p, 1, waitMs) <= 0)
            continue;
        if (p.revents & POLLHUP)
            r.hangUp = true;
        char buf[512];
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n > 0) {
            r.bytes.append(buf, static_cast<size_t>(n));
            ++r.reads;
        } else if (n == 0 || errno == EIO) {
            r.hangUp = true;
            break;
        }
    }
    return r;
}

// A new pseudo-terminal whose master end the test holds. Its own slave descriptor stays open,
// so the master sees no hang-up between the editor's opens; hangUp() closes the master, which
// is what a pulled adapter looks like to the editor.
class PtyPair {
public:
    PtyPair() {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0)
            return;
        path_ = ::ptsname(master_);
        slave_ = ::open(path_.c_str(), O_RDWR | O_NOCTTY);
        if (slave_ >= 0)
            makeRaw(slave_);
    }
    ~PtyPair() {
        hangUp();
        if (slave_ >= 0)
            ::close(slave_);
    }
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    bool ok() const { return master_ >= 0 && slave_ >= 0; }
    const std::string& path() const { return path_; } // the editor opens this
    int master() const { return master_; }
    bool send(std::string_view bytes) { return writeAll(master_, bytes); }
    void hangUp() {
        if (master_ >= 0)
            ::close(master_);
        master_ = -1;
    }

private:
    int master_ = -1;
    int slave_ = -1;
    std::string path_;
};

} // namespace pp::test
