// A simulated QX7400 on a pseudo-terminal: the instrument's side of the protocol for either
// firmware generation, with fault injection for tests and demonstrations. Standard library
// and POSIX only.
//
// All public members are thread-safe. The instrument answers on its own thread; the editor
// (or a test) talks to it through devicePath() like any serial device.
#pragma once

#include "sheet/catalogue.h"

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pp::sim {

inline constexpr int PartNumbers = 32;
inline constexpr int SystemFieldCount = 11; // flags, 9 values, checksum
// Time of one byte at 9600 baud, 8N1 (10 bits on the line).
inline constexpr std::chrono::nanoseconds ByteTime9600{1'041'667};

// Content of the frame the instrument answers with when it refuses a command.
inline constexpr std::string_view RefusalContent = "?";

// One byte on the line and when it passed (steady clock), for benchmarks.
struct ByteEvent {
    std::chrono::steady_clock::time_point at;
    unsigned char byte;
};

// Seconds since 2004-01-01 00:00:00 of a calendar time (every fourth year a leap year);
// nullopt for an impossible date.
std::optional<long long> secondsSince2004(int year, int month, int day, int hour, int minute);

class Instrument {
public:
    explicit Instrument(pp::Generation generation = pp::Generation::V73);
    ~Instrument(); // stops
    Instrument(const Instrument&) = delete;
    Instrument& operator=(const Instrument&) = delete;

    // Opens a new pseudo-terminal and starts answering on it; false on failure (see
    // lastError()). Starting a running instrument does nothing and returns true. After
    // stop() or a hang-up, start() opens a fresh terminal with a new path; the state is kept.
    bool start();
    void stop();
    bool running() const;
    std::string devicePath() const; // slave side, e.g. /dev/pts/7; empty before start()
    std::string lastError() const;

    // ------------------------------------------------------------------ state
    void setGeneration(pp::Generation generation); // None counts as V73
    pp::Generation generation() const;
    int lastSystemIndex() const; // 24 or 25
    int lastPartIndex() const;   // 27 or 29

    // System record fields as the instrument sends them: 0 is the flag string ("2",
    // position 2, then 13 or 14 state characters), 1..9 the values (see the record layout).
    // Setting field 0 takes the characters from position 2 on; missing positions keep their
    // value. Values are stored verbatim, so a test may plant "0010" or garbage. False for a
    // field outside 0..9.
    std::string systemField(int field) const;
    bool setSystemField(int field, std::string_view text);
    // One flag character by its position in the flag string (2..16).
    char systemFlag(int position) const;
    bool setSystemFlag(int position, char value);
    long long clockSeconds() const;
    void setClockSeconds(long long seconds);

    // Part record fields of part 1..32: 0 is "3" + the two-digit part number, 1 the three
    // flag characters, 2..28 the values (27 and 28 exist in V7.3 records only). False for a
    // part or field out of range; field 0 cannot be set.
    std::string partField(int part, int field) const;
    bool setPartField(int part, int field, std::string_view text);

    // Whole records as they would go out now, checksum included, without faults applied.
    std::string systemRecord() const;
    std::string partRecord(int part) const;

    std::vector<int> configuredParts() const; // ascending
    void setConfiguredParts(const std::vector<int>& parts);
    int mode() const; // 0 SETUP, 1 CALIBRATE, 2 RUN, 3 DATA
    void setMode(int mode);
    bool testRunning() const; // while set, mode changes are refused (the report says why)
    void setTestRunning(bool running);

    // ------------------------------------------------------------------ at the instrument
    // A change made at the instrument's own keypad, in the catalogue's terms:
    //   system STEM VALUE   system Serial 5678, system EPS ON, system Time Jun 03,2024 09:30
    //   part N STEM VALUE   part 5 LeakLimit 9, part 1 TimeBase 1 SEC (N 1 to 32)
    //   generation V7.0     or V7.3
    //   parts 1 2 5         the configured part numbers
    // The value is read as the editor reads a typed one (its range, the decimal counts, the
    // part's time base) and stored as a download stores it, so the next upload returns it.
    // Nothing when applied, with `now` set to the line as the instrument now holds it; else
    // why not, and nothing changed.
    std::optional<std::string> keypad(std::string_view line, std::string* now = nullptr);
    // Every value as such lines, generation and part list first: what a state file holds.
    std::string stateText() const;
    // Lines as stateText writes them (blank lines and "#" comments skipped), applied all or
    // nothing: "line 12: ..." for the first one refused. A number outside the editor's range
    // is taken back as the instrument held it (see systemItems).
    std::optional<std::string> loadState(std::string_view text);
    // Called on the instrument's thread once the last field of a download has been taken.
    void setDownloadObserver(std::function<void()> observer);

    // ------------------------------------------------------------------ what was received
    std::vector<std::string> framesReceived() const; // contents, STX/ETX removed, in order
    std::vector<std::string> downloadFrames() const; // those beginning with "4" or "5"
    std::string bytesReceived() const;
    std::string bytesSent() const;
    std::vector<ByteEvent> receivedTimeline() const;
    std::vector<ByteEvent> sentTimeline() const;
    void clearLogs();
    // Blocks until at least `count` frames have been received in total, or the timeout.
    bool waitForFrames(size_t count, std::chrono::milliseconds timeout) const;

    // Called on the instrument's thread after each frame was handled: (content, answer).
    void setFrameObserver(std::function<void(const std::string&, const std::string&)> observer);

    // ------------------------------------------------------------------ faults
    // Each setting holds until changed, except where "next" says otherwise.
    void setSilent(bool silent);                  // receive and log, never answer or apply
    void setNakAtField(std::optional<int> index); // NAK the download field with this index
    void corruptNextChecksum();                   // next "2"/"3" record: checksum off by one
    void setNoise(std::string noise);             // sent before every answer frame (no STX/ETX)
    void setSplit(size_t pieceBytes, std::chrono::milliseconds gap); // 0 bytes: whole
    void setClosingFrameGap(std::chrono::milliseconds gap); // 0: ACK and closing frame together
    void setRefuseAll(bool refuse);                         // every command answered with a refusal
    void setWrongPartNumber(bool wrong);                 // part records name the next part number
    void setPacing(bool pace);                           // 9600 baud, one byte at a time
    void setStopAfterBytes(std::optional<size_t> bytes); // each answer cut after n bytes
    // Closes the terminal (master and slave, like a pulled USB adapter) once `bytes` more
    // bytes have been sent; 0 hangs up when the next answer would begin. The old path is dead
    // from then on, until the system hands its number to some other new terminal.
    void setHangUpAfterBytes(std::optional<size_t> bytes);
    void hangUp(); // now
    bool hungUp() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d_;
};

} // namespace pp::sim
