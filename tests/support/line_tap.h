// A piece of cable between the editor and the simulated instrument that can damage what passes:
// the editor opens devicePath(), the tap relays to the instrument's terminal. It can corrupt
// one character of the download field with a given index on its way to the instrument, or
// garble everything the instrument answers to that field. POSIX only; one thread.
#pragma once

#include "link/frames.h"
#include "pty.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace pp::test {

class LineTap {
public:
    explicit LineTap(const std::string& instrumentPath) {
        instrument_ = ::open(instrumentPath.c_str(), O_RDWR | O_NOCTTY);
        if (!pty_.ok() || instrument_ < 0 || ::pipe(wake_) != 0)
            return;
        makeRaw(instrument_);
        thread_ = std::thread([this] { run(); });
    }
    ~LineTap() {
        stop_ = true;
        if (wake_[1] >= 0)
            (void)!::write(wake_[1], "x", 1);
        if (thread_.joinable())
            thread_.join();
        for (int fd : {instrument_, wake_[0], wake_[1]})
            if (fd >= 0)
                ::close(fd);
    }
    LineTap(const LineTap&) = delete;
    LineTap& operator=(const LineTap&) = delete;

    bool ok() const { return thread_.joinable(); }
    std::string devicePath() const { return pty_.path(); }

    // The download field with this index reaches the instrument with one value character
    // changed, so its checksum no longer matches.
    void corruptField(std::optional<int> index) {
        std::lock_guard lock(m_);
        corruptAt_ = index;
    }
    // Everything the instrument answers to the download field with this index arrives with
    // its top bit flipped: no ACK, NAK, STX or ETX survives.
    void garbleAnswerTo(std::optional<int> index) {
        std::lock_guard lock(m_);
        garbleAt_ = index;
    }

private:
    // A whole frame from the editor: damage it if asked, and note whose answer to garble.
    void editorFrame(std::string& f) {
        const std::string content = f.substr(1, f.size() - 2);
        const bool download = (content.size() == 13 && content[0] == '4') ||
                              (content.size() == 15 && content[0] == '5');
        std::lock_guard lock(m_);
        garbling_ = false;
        if (!download)
            return;
        const std::string indexText = content.substr(content.size() - 6, 2);
        if (!std::isdigit(static_cast<unsigned char>(indexText[0])) ||
            !std::isdigit(static_cast<unsigned char>(indexText[1])))
            return;
        const int index = std::atoi(indexText.c_str());
        garbling_ = garbleAt_ && *garbleAt_ == index;
        if (corruptAt_ && *corruptAt_ == index) {
            char& c = f[2]; // first value character
            c = c == '9'                                      ? '8'
                : std::isdigit(static_cast<unsigned char>(c)) ? char(c + 1)
                                                              : char(c ^ 1);
        }
    }

    void fromEditor(const char* data, size_t n) {
        std::string out;
        for (size_t i = 0; i < n; ++i) {
            const char c = data[i];
            if (!frame_.empty()) {
                frame_ += c;
                if (c == ETX) {
                    editorFrame(frame_);
                    out += frame_;
                    frame_.clear();
                }
            } else if (c == STX) {
                frame_ = c;
            } else {
                out += c;
            }
        }
        writeAll(instrument_, out);
    }

    void fromInstrument(char* data, size_t n) {
        {
            std::lock_guard lock(m_);
            if (garbling_)
                for (size_t i = 0; i < n; ++i)
                    data[i] = static_cast<char>(data[i] ^ 0x80);
        }
        writeAll(pty_.master(), std::string_view(data, n));
    }

    void run() {
        char buf[512];
        while (!stop_) {
            pollfd fds[3] = {
                {pty_.master(), POLLIN, 0}, {instrument_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
            if (::poll(fds, 3, -1) < 0)
                continue;
            if (fds[2].revents)
                break;
            if (fds[0].revents & POLLIN) {
                const ssize_t n = ::read(pty_.master(), buf, sizeof buf);
                if (n > 0)
                    fromEditor(buf, static_cast<size_t>(n));
            }
            if (fds[1].revents & POLLIN) {
                const ssize_t n = ::read(instrument_, buf, sizeof buf);
                if (n > 0)
                    fromInstrument(buf, static_cast<size_t>(n));
            }
            // The instrument's terminal is gone: nothing more to relay.
            if ((fds[1].revents & (POLLHUP | POLLERR | POLLNVAL)) && !(fds[1].revents & POLLIN))
                break;
        }
    }

    PtyPair pty_; // the editor's end
    int instrument_ = -1;
    int wake_[2] = {-1, -1};
    std::string frame_; // an editor frame still arriving
    std::atomic<bool> stop_{false};
    std::mutex m_;
    std::optional<int> corruptAt_;
    std::optional<int> garbleAt_;
    bool garbling_ = false;
    std::thread thread_;
};

} // namespace pp::test
