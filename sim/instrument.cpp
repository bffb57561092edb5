#include "instrument.h"

#include "keypad.h"
#include "link/frames.h"
#include "sheet/number_text.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>
#include <utility>
#include <variant>

#ifndef _WIN32
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>
#endif

namespace pp::sim {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

std::optional<long long> secondsSince2004(int year, int month, int day, int hour, int minute) {
    if (year < 2004 || year > 9999 || month < 1 || month > 12 || hour < 0 || hour > 23 ||
        minute < 0 || minute > 59)
        return std::nullopt;
    // The instrument's calendar: every year divisible by 4 is a leap year.
    auto leap = [](int y) { return y % 4 == 0; };
    static constexpr std::array<int, 12> monthDays{31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    int thisMonth = monthDays[static_cast<size_t>(month - 1)] + (month == 2 && leap(year));
    if (day < 1 || day > thisMonth)
        return std::nullopt;
    long long days = 0;
    for (int y = 2004; y < year; ++y)
        days += leap(y) ? 366 : 365;
    for (int m = 1; m < month; ++m)
        days += monthDays[static_cast<size_t>(m - 1)] + (m == 2 && leap(year));
    days += day - 1;
    return days * 86400 + hour * 3600LL + minute * 60LL;
}

namespace {

constexpr size_t FrameLimit = 1024; // longer garbage without an ETX is dropped

std::string twoDigits(int n) {
    return ZeroPad(std::to_string(n), 2);
}

bool allDigits(std::string_view s) {
    return !s.empty() &&
           std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// A value as the editor pads it: optional "-", digits, at most one ".".
std::optional<double> wireNumber(std::string_view s) {
    std::string_view body = s;
    if (!body.empty() && body.front() == '-')
        body.remove_prefix(1);
    size_t digits = 0, points = 0;
    for (char c : body) {
        if (c >= '0' && c <= '9')
            ++digits;
        else if (c == '.')
            ++points;
        else
            return std::nullopt;
    }
    if (digits == 0 || points > 1)
        return std::nullopt;
    auto v = parseNumber(s);
    if (v && *v == 0.0)
        v = 0.0; // no "-0"
    return v;
}

std::optional<int> wireInteger(std::string_view s) {
    auto v = wireNumber(s);
    if (!v || *v != static_cast<double>(static_cast<long long>(*v)) || *v < -1e9 || *v > 1e9)
        return std::nullopt;
    return static_cast<int>(*v);
}

// What one system download index writes: a flag position, a decimal-count digit, a record
// field, or a clock piece.
enum class SysTarget { Flag, Digit, Field, ClockPiece };
struct SysSlot {
    SysTarget target;
    int where; // flag position, record field, or clock piece 0..4
};
constexpr std::array<SysSlot, 26> SystemSlots{{
    {SysTarget::Flag, 3},       // 0 EPS
    {SysTarget::Flag, 4},       // 1 DrnVlv
    {SysTarget::Flag, 5},       // 2 OpenDrn
    {SysTarget::Flag, 6},       // 3 CalProtect
    {SysTarget::Flag, 7},       // 4 AbortOP
    {SysTarget::Field, 4},      // 5 RS232
    {SysTarget::Flag, 8},       // 6 HFFillVlv
    {SysTarget::Field, 1},      // 7 DrnVlvDelay
    {SysTarget::Field, 2},      // 8 LCDDelay
    {SysTarget::Field, 3},      // 9 GPRDelay
    {SysTarget::Flag, 12},      // 10 FCDelayStat
    {SysTarget::Field, 5},      // 11 SysZero
    {SysTarget::Flag, 11},      // 12 PresEngUnits
    {SysTarget::Digit, 9},      // 13 PresNumDecimals
    {SysTarget::Digit, 10},     // 14 FlowNumDecimals
    {SysTarget::Field, 7},      // 15 Serial
    {SysTarget::Field, 8},      // 16 NumLeakRdgs
    {SysTarget::Flag, 13},      // 17 FlowEngUnits
    {SysTarget::Flag, 14},      // 18 ErrFlash
    {SysTarget::ClockPiece, 0}, // 19 year
    {SysTarget::ClockPiece, 1}, // 20 month
    {SysTarget::ClockPiece, 2}, // 21 day
    {SysTarget::ClockPiece, 3}, // 22 hour
    {SysTarget::ClockPiece, 4}, // 23 minute
    {SysTarget::Flag, 15},      // 24 RTCPrompt
    {SysTarget::Flag, 16},      // 25 InitFlowChk
}};

struct PartState {
    std::string flags;                 // TempComp, TimeBase, ZeroSel
    std::array<std::string, 29> field; // 2..28 used
};

// One write on the line, after a pause.
struct Write {
    milliseconds gapBefore{0};
    std::string bytes;
};

} // namespace

struct Instrument::Impl {
    mutable std::mutex m;
    mutable std::condition_variable changed; // logs grew, or stopping
    std::condition_variable stopCv;

    // State.
    Generation gen = Generation::V73;
    std::array<char, 17> sysFlag{};       // by position, 2..16 used
    std::array<std::string, 10> sysField; // 1..9 used
    std::array<PartState, PartNumbers> parts;
    std::array<bool, PartNumbers> configured{};
    int mode = 0;
    bool testRunning = false;
    std::array<std::optional<int>, 5> clockPieces; // of the download in progress

    // Logs.
    std::vector<std::string> frames;
    std::string rxBytes, txBytes;
    std::vector<ByteEvent> rxTimeline, txTimeline;
    std::function<void(const std::string&, const std::string&)> observer;
    std::function<void()> downloadObserver;
    bool downloadEnded = false; // by the frame being handled

    // Faults.
    bool silent = false;
    std::optional<int> nakAt;
    bool corruptNext = false;
    std::string noise;
    size_t pieceBytes = 0;
    milliseconds pieceGap{0};
    milliseconds closingGap{0};
    bool refuseAll = false;
    bool wrongPart = false;
    bool pace = false;
    std::optional<size_t> stopAfter;
    std::optional<size_t> hangUpAfter;
    bool hungUp = false;

    // Terminal and thread.
    int master = -1;
    int slave = -1;
    std::array<int, 2> wake{-1, -1};
    std::string path;
    std::string error;
    bool stopping = false;
    bool hangUpNow = false;
    bool running = false;
    std::thread thread;
    std::string rx; // thread only: bytes not yet framed

    bool isV70() const { return gen == Generation::V70; }
    int lastSys() const { return isV70() ? 24 : 25; }
    int lastPart() const { return isV70() ? 27 : 29; }

    void setDefaults();
    void copyStateFrom(const Impl& other);
    // `full`: in the V7.3 layout whatever the generation, for reading every value held.
    std::string systemRecordLocked(bool corrupt, bool full = false) const;
    std::string partRecordLocked(int part, bool corrupt, bool wrongNumber, bool full = false) const;
    std::string partsLine() const;
    std::optional<std::string> keypadLocked(std::string_view line, std::string* now,
                                            bool restoring = false);
    std::vector<Write> answerLocked(const std::string& content);
    std::vector<Write> downloadLocked(const std::string& content);
    std::optional<std::string> applySystem(int index, std::string_view value);
    std::optional<std::string> applyPart(int part, int index, std::string_view value);

    bool openTerminal();
    void closeTerminal();
    void loop();
    void handleFrame(const std::string& content);
    void send(std::vector<Write> writes);
    bool writeRaw(std::string_view bytes);
    bool pauseUntil(Clock::time_point until);
    void wakeThread();
};

// ---------------------------------------------------------------------------- state

void Instrument::Impl::setDefaults() {
    // Positions 3..16: EPS OFF, drain valve N OPEN, open drain NO, calibration protect ON,
    // abort outputs OFF, fill valve OPEN, one pressure and one flow decimal, PSI, fast cycle
    // OFF, CCM, error flash ON, clock prompt OFF, initial flow check OFF.
    const std::string_view flags = "000010011000100";
    for (size_t i = 0; i < flags.size(); ++i)
        sysFlag[i + 2] = flags[i];
    sysField[1] = "15";     // drain valve delay 1.5 s
    sysField[2] = "300";    // LCD blank after 30 s
    sysField[3] = "0";      // GP relay delay OFF
    sysField[4] = "2";      // RS232 format 2
    sysField[5] = "2048";   // system zero
    sysField[6] = "S0412B"; // STD, date code 0412, options 0x0B
    sysField[7] = "1234";   // serial number
    sysField[8] = "10";     // leak readings
    sysField[9] = std::to_string(*secondsSince2004(2024, 6, 3, 9, 30));

    // Realistic for one flow and one pressure decimal, time base 0.1 s: every value lies
    // within the editor's slider ranges and the compensation limits of its own record.
    for (int i = 0; i < PartNumbers; ++i) {
        const int n = i + 1;
        PartState& p = parts[static_cast<size_t>(i)];
        p.flags = n % 2 ? "110" : "100"; // odd parts in 0.1 s, even parts in 1 s
        const bool tenths = p.flags[1] == '1';
        auto time = [&](int tenthsCount) {
            return std::to_string(tenths ? tenthsCount : std::max(1, tenthsCount / 10));
        };
        p.field[2] = time(30);                   // comp
        p.field[3] = time(100);                  // fill
        p.field[4] = time(200);                  // stab
        p.field[5] = time(150);                  // read
        p.field[6] = time(50);                   // block test
        p.field[7] = time(80);                   // cross cooler
        p.field[8] = "2048";                     // flow zero
        p.field[9] = "5.5";                      // comp pos
        p.field[10] = "4.5";                     // comp neg
        p.field[11] = formatNumber(5 + 0.5 * n); // leak limit differs per part
        p.field[12] = "10";                      // calibrated leak
        p.field[13] = "2.5";                     // max slope
        p.field[14] = "1";                       // minimum flow
        p.field[15] = "1.5";                     // temperature factor
        p.field[16] = "60";                      // fast fill pressure
        p.field[17] = "30";                      // block test pressure
        p.field[18] = "40";                      // cross cooler pressure
        p.field[19] = "80.5";                    // pressure high limit
        p.field[20] = "50";                      // pressure low limit
        p.field[21] = "10.5";                    // flow factor
        p.field[22] = "0";                       // fast cycle delay OFF
        p.field[23] = formatNumber(25 + n);      // gross limit, above the leak limit
        p.field[24] = "10";                      // pressure decay limit
        p.field[25] = std::to_string(1000 + n);  // customer code
        p.field[26] = "0";                       // zero offset
        p.field[27] = "3.5";                     // initial flow limit
        p.field[28] = time(40);                  // initial flow time
    }
    configured.fill(false);
    configured[0] = configured[1] = configured[4] = true; // parts 1, 2 and 5
}

void Instrument::Impl::copyStateFrom(const Impl& other) {
    gen = other.gen;
    sysFlag = other.sysFlag;
    sysField = other.sysField;
    parts = other.parts;
    configured = other.configured;
}

std::string Instrument::Impl::systemRecordLocked(bool corrupt, bool full) const {
    std::string rec = "2";
    for (int pos = 2; pos <= (isV70() && !full ? 15 : 16); ++pos)
        rec += sysFlag[static_cast<size_t>(pos)];
    for (int f = 1; f <= 9; ++f)
        rec += "," + sysField[static_cast<size_t>(f)];
    rec += ",";
    return rec + std::to_string(FrameChecksum(rec) + (corrupt ? 1 : 0));
}

std::string Instrument::Impl::partRecordLocked(int part, bool corrupt, bool wrongNumber,
                                               bool full) const {
    const PartState& p = parts[static_cast<size_t>(part - 1)];
    int named = wrongNumber ? part % PartNumbers + 1 : part;
    std::string rec = "3" + twoDigits(named) + "," + p.flags;
    for (int f = 2; f <= (isV70() && !full ? 26 : 28); ++f)
        rec += "," + p.field[static_cast<size_t>(f)];
    rec += ",";
    return rec + std::to_string(FrameChecksum(rec) + (corrupt ? 1 : 0));
}

std::vector<Write> Instrument::Impl::answerLocked(const std::string& content) {
    auto answerFrame = [](std::string_view c) { return std::vector<Write>{{{}, frame(c)}}; };
    const auto refusal = answerFrame(RefusalContent);
    if (refuseAll || content.empty())
        return refusal;
    const std::string_view args = std::string_view(content).substr(1);
    switch (content[0]) {
    case '2':
        if (!args.empty())
            return refusal;
        return answerFrame(systemRecordLocked(std::exchange(corruptNext, false)));
    case '3': {
        if (args.size() != 2 || !allDigits(args))
            return refusal;
        int part = std::stoi(std::string(args));
        if (part < 1 || part > PartNumbers)
            return refusal;
        return answerFrame(partRecordLocked(part, std::exchange(corruptNext, false), wrongPart));
    }
    case '4':
    case '5':
        return downloadLocked(content);
    case '8':
        if (!args.empty())
            return refusal;
        return answerFrame(std::string("8") + char('0' + mode) + (testRunning ? '1' : '0'));
    case '9':
        if (args.size() != 1 || args[0] < '0' || args[0] > '3')
            return refusal;
        if (!testRunning) // a running test keeps its mode; the report's flag says why
            mode = args[0] - '0';
        return answerFrame(std::string("8") + char('0' + mode) + (testRunning ? '1' : '0'));
    case 'A': {
        if (!args.empty())
            return refusal;
        std::string list = "A";
        for (bool c : configured)
            list += c ? '1' : '0';
        return answerFrame(list);
    }
    default:
        return refusal;
    }
}

std::vector<Write> Instrument::Impl::downloadLocked(const std::string& content) {
    const std::vector<Write> nak{{{}, std::string(1, NAK)}};
    const bool part = content[0] == '5';
    // Fixed widths, as the instrument reads them: value 6, [part 2], index 2, checksum 4.
    const size_t expected = part ? 15 : 13;
    if (content.size() != expected)
        return nak;
    const std::string_view c = content;
    const std::string_view sum = c.substr(expected - 4);
    if (!allDigits(sum) || std::stoi(std::string(sum)) != FrameChecksum(c.substr(0, expected - 4)))
        return nak;
    const std::string_view value = c.substr(1, 6);
    const std::string_view indexText = c.substr(expected - 6, 2);
    if (!allDigits(indexText))
        return nak;
    const int index = std::stoi(std::string(indexText));
    int partNumber = 0;
    if (part) {
        std::string_view pn = c.substr(7, 2);
        if (!allDigits(pn))
            return nak;
        partNumber = std::stoi(std::string(pn));
        if (partNumber < 1 || partNumber > PartNumbers)
            return nak;
    }
    const int last = part ? lastPart() : lastSys();
    if (index > last || (nakAt && *nakAt == index))
        return nak;
    auto refused = part ? applyPart(partNumber, index, value) : applySystem(index, value);
    if (refused)
        return nak;
    // A part the instrument has been given parameters for is configured from then on.
    if (part)
        configured[static_cast<size_t>(partNumber - 1)] = true;
    if (index < last)
        return {{{}, std::string(1, ACK)}};
    downloadEnded = true;
    // The last field: acknowledge it, then report the end of the download.
    if (closingGap.count() == 0)
        return {{{}, std::string(1, ACK) + frame(part ? "5" : "4")}};
    return {{{}, std::string(1, ACK)}, {closingGap, frame(part ? "5" : "4")}};
}

// Returns a reason when the value cannot be used (the field is then NAKed).
std::optional<std::string> Instrument::Impl::applySystem(int index, std::string_view value) {
    if (index == 0)
        clockPieces.fill(std::nullopt);
    const SysSlot slot = SystemSlots[static_cast<size_t>(index)];
    switch (slot.target) {
    case SysTarget::Flag: {
        auto v = wireInteger(value);
        if (!v || (*v != 0 && *v != 1))
            return "not a two-state code";
        sysFlag[static_cast<size_t>(slot.where)] = char('0' + *v);
        return std::nullopt;
    }
    case SysTarget::Digit: {
        auto v = wireInteger(value);
        if (!v || *v < 0 || *v > 2)
            return "not a decimal count";
        sysFlag[static_cast<size_t>(slot.where)] = char('0' + *v);
        return std::nullopt;
    }
    case SysTarget::Field: {
        auto v = wireNumber(value);
        if (!v)
            return "not a number";
        sysField[static_cast<size_t>(slot.where)] = formatNumber(*v);
        return std::nullopt;
    }
    case SysTarget::ClockPiece: {
        auto v = wireInteger(value);
        if (!v || *v < 0)
            return "not a clock piece";
        clockPieces[static_cast<size_t>(slot.where)] = *v;
        if (slot.where < 4)
            return std::nullopt;
        // The minute completes the clock. All pieces zero is an empty clock: keep ours.
        std::array<int, 5> p{};
        for (size_t i = 0; i < p.size(); ++i)
            p[i] = clockPieces[i].value_or(0);
        clockPieces.fill(std::nullopt);
        if (std::all_of(p.begin(), p.end(), [](int x) { return x == 0; }))
            return std::nullopt;
        auto seconds = secondsSince2004(p[0], p[1], p[2], p[3], p[4]);
        if (!seconds)
            return "not a date";
        sysField[9] = std::to_string(*seconds);
        return std::nullopt;
    }
    }
    return std::nullopt;
}

std::optional<std::string> Instrument::Impl::applyPart(int partNumber, int index,
                                                       std::string_view value) {
    PartState& p = parts[static_cast<size_t>(partNumber - 1)];
    if (index <= 2) {
        auto v = wireInteger(value);
        const int highest = index == 2 ? 2 : 1; // ZeroSel has three states
        if (!v || *v < 0 || *v > highest)
            return "not an option code";
        p.flags.resize(3, '0');
        p.flags[static_cast<size_t>(index)] = char('0' + *v);
    } else {
        auto v = wireNumber(value);
        if (!v)
            return "not a number";
        p.field[static_cast<size_t>(index - 1)] = formatNumber(*v);
    }
    return std::nullopt;
}

// ---------------------------------------------------------------------------- keypad

namespace {

// Blank-separated words of a line; the value is the rest of it ("0.1 SEC").
class Words {
public:
    explicit Words(std::string_view line) : s_(line) {}
    std::string_view next() {
        skip();
        size_t end = 0;
        while (end < s_.size() && !blank(s_[end]))
            ++end;
        std::string_view word = s_.substr(0, end);
        s_.remove_prefix(end);
        return word;
    }
    std::string_view rest() {
        skip();
        while (!s_.empty() && blank(s_.back()))
            s_.remove_suffix(1);
        return s_;
    }

private:
    static bool blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
    void skip() {
        while (!s_.empty() && blank(s_.front()))
            s_.remove_prefix(1);
    }
    std::string_view s_;
};

std::optional<int> partNumber(std::string_view word) {
    if (!allDigits(word) || word.size() > 2)
        return std::nullopt;
    const int n = std::stoi(std::string(word));
    return n >= 1 && n <= PartNumbers ? std::optional<int>(n) : std::nullopt;
}

// The line of `lines` ("STEM VALUE") for a stem as typed.
std::string lineOf(const std::vector<std::string>& lines, std::string_view stem) {
    for (const std::string& l : lines)
        if (sameWord(std::string_view(l).substr(0, l.find(' ')), stem))
            return l;
    return std::string(stem);
}

} // namespace

std::string Instrument::Impl::partsLine() const {
    std::string line = "parts";
    for (int i = 0; i < PartNumbers; ++i)
        if (configured[static_cast<size_t>(i)])
            line += " " + std::to_string(i + 1);
    return line;
}

std::optional<std::string> Instrument::Impl::keypadLocked(std::string_view line, std::string* now,
                                                          bool restoring) {
    std::string held;
    Words words(line);
    const std::string_view what = words.next();
    if (sameWord(what, "generation")) {
        const std::string_view g = words.rest();
        if (g == "V7.0" || g == "V7.3")
            gen = g == "V7.0" ? Generation::V70 : Generation::V73;
        else
            return "generation: V7.0 or V7.3";
        held = "generation " + std::string(generationWord(gen));
    } else if (sameWord(what, "parts")) {
        std::array<bool, PartNumbers> list{};
        for (std::string_view w = words.next(); !w.empty(); w = words.next()) {
            auto n = partNumber(w);
            if (!n)
                return "parts: part numbers 1 to 32";
            list[static_cast<size_t>(*n - 1)] = true;
        }
        configured = list;
        held = partsLine();
    } else if (sameWord(what, "system")) {
        const std::string_view stem = words.next();
        const std::string_view value = words.rest();
        if (stem.empty())
            return "system: a parameter and its value";
        if (sameWord(stem, row(Sys::OptionCode).stem)) {
            // Kept verbatim, as the instrument's maker wrote it; one record field.
            const bool fits = !value.empty() && value.size() <= 16 &&
                              std::all_of(value.begin(), value.end(),
                                          [](char c) { return c > ' ' && c < 127 && c != ','; });
            if (!fits)
                return "OptionCode: up to 16 letters and digits, such as S0412B";
            sysField[6] = std::string(value);
        } else {
            auto items = systemItems(systemRecordLocked(false, true), stem, value, gen, restoring);
            if (auto* why = std::get_if<std::string>(&items))
                return *why;
            // The clock's pieces of a download under way are not the keypad's.
            const auto pieces = std::exchange(clockPieces, {});
            const auto keptFlags = sysFlag;
            const auto keptFields = sysField;
            std::optional<std::string> refused;
            for (const Item& item : std::get<std::vector<Item>>(items))
                if (!refused)
                    refused = applySystem(item.index, item.value);
            clockPieces = pieces;
            if (refused) {
                sysFlag = keptFlags;
                sysField = keptFields;
                return std::string(stem) + ": " + *refused;
            }
        }
        if (now) // a state's thousand lines need none
            held = "system " + lineOf(systemValues(systemRecordLocked(false, true), gen), stem);
    } else if (sameWord(what, "part")) {
        const std::string_view number = words.next();
        const auto n = partNumber(number);
        if (!n)
            return "part number \"" + std::string(number) + "\": 1 to 32";
        const std::string_view stem = words.next();
        const std::string_view value = words.rest();
        if (stem.empty())
            return "part " + std::to_string(*n) + ": a parameter and its value";
        const std::string sys = systemRecordLocked(false, true);
        auto items =
            partItems(sys, partRecordLocked(*n, false, false, true), stem, value, gen, restoring);
        if (auto* why = std::get_if<std::string>(&items))
            return *why;
        const PartState kept = parts[static_cast<size_t>(*n - 1)];
        for (const Item& item : std::get<std::vector<Item>>(items))
            if (auto why = applyPart(*n, item.index, item.value)) {
                parts[static_cast<size_t>(*n - 1)] = kept;
                return std::string(stem) + ": " + *why;
            }
        if (now)
            held = "part " + std::to_string(*n) + " " +
                   lineOf(partValues(sys, partRecordLocked(*n, false, false, true), gen), stem);
    } else {
        return "\"" + std::string(what) +
               "\": not system STEM VALUE, part N STEM VALUE, generation or parts";
    }
    if (now)
        *now = std::move(held);
    return std::nullopt;
}

std::optional<std::string> Instrument::keypad(std::string_view line, std::string* now) {
    std::lock_guard lock(d_->m);
    return d_->keypadLocked(line, now);
}

std::string Instrument::stateText() const {
    std::lock_guard lock(d_->m);
    const Impl& d = *d_;
    std::string text =
        "generation " + std::string(generationWord(d.gen)) + "\n" + d.partsLine() + "\n";
    const std::string sys = d.systemRecordLocked(false, true);
    for (const std::string& l : systemValues(sys, d.gen))
        text += "system " + l + "\n";
    for (int n = 1; n <= PartNumbers; ++n)
        for (const std::string& l :
             partValues(sys, d.partRecordLocked(n, false, false, true), d.gen))
            text += "part " + std::to_string(n) + " " + l + "\n";
    return text;
}

std::optional<std::string> Instrument::loadState(std::string_view text) {
    // Applied to a copy of the state, taken over only when every line was.
    Impl scratch;
    std::lock_guard lock(d_->m);
    scratch.copyStateFrom(*d_);
    int number = 0;
    while (!text.empty()) {
        ++number;
        const size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        const std::string_view first = Words(line).next();
        if (first.empty() || first.front() == '#')
            continue;
        if (auto why = scratch.keypadLocked(line, nullptr, true))
            return "line " + std::to_string(number) + ": " + *why;
    }
    d_->copyStateFrom(scratch);
    return std::nullopt;
}

void Instrument::setDownloadObserver(std::function<void()> observer) {
    std::lock_guard lock(d_->m);
    d_->downloadObserver = std::move(observer);
}

// ---------------------------------------------------------------------------- terminal

#ifdef _WIN32

// Windows has no pseudo-terminals: there the instrument keeps its records for tests, and
// start() says why it cannot answer on a line.
bool Instrument::Impl::openTerminal() {
    error = "the simulated QX7400 needs a pseudo-terminal, which Windows does not have";
    return false;
}
void Instrument::Impl::closeTerminal() {}
void Instrument::Impl::wakeThread() {}
bool Instrument::Impl::writeRaw(std::string_view) {
    return false;
}
void Instrument::Impl::loop() {}

#else

bool Instrument::Impl::openTerminal() {
    auto fail = [this](const char* what) {
        error = std::string(what) + ": " + std::strerror(errno);
        closeTerminal();
        return false;
    };
    master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0)
        return fail("posix_openpt");
    if (grantpt(master) != 0)
        return fail("grantpt");
    if (unlockpt(master) != 0)
        return fail("unlockpt");
    char name[128];
    if (ptsname_r(master, name, sizeof name) != 0)
        return fail("ptsname");
    // Our own slave descriptor stays open for the instrument's life: without it the master
    // sees POLLHUP/EIO whenever the editor closes its port between exchanges.
    slave = ::open(name, O_RDWR | O_NOCTTY);
    if (slave < 0)
        return fail("open slave");
    termios tio{};
    if (tcgetattr(slave, &tio) != 0)
        return fail("tcgetattr");
    cfmakeraw(&tio); // no echo, no CR/LF translation
    cfsetispeed(&tio, B9600);
    cfsetospeed(&tio, B9600);
    if (tcsetattr(slave, TCSANOW, &tio) != 0)
        return fail("tcsetattr");
    if (fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK) != 0)
        return fail("fcntl");
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0)
        return fail("pipe");
    wake = {pipeFds[0], pipeFds[1]};
    path = name;
    error.clear();
    return true;
}

void Instrument::Impl::closeTerminal() {
    for (int* fd : {&master, &slave, &wake[0], &wake[1]}) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
}

void Instrument::Impl::wakeThread() {
    if (wake[1] >= 0) {
        char c = 1;
        [[maybe_unused]] auto n = ::write(wake[1], &c, 1);
    }
}

#endif

bool Instrument::Impl::pauseUntil(Clock::time_point until) {
    std::unique_lock lock(m);
    return !stopCv.wait_until(lock, until, [this] { return stopping || hangUpNow; });
}

#ifndef _WIN32

bool Instrument::Impl::writeRaw(std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t n = 0;
        int err = 0;
        {
            // Written and logged under the lock (the write never blocks): whoever has read
            // the bytes finds them in the log.
            std::lock_guard lock(m);
            const auto now = Clock::now();
            n = ::write(master, bytes.data(), bytes.size());
            err = errno;
            if (n > 0) {
                txBytes.append(bytes.data(), static_cast<size_t>(n));
                for (ssize_t i = 0; i < n; ++i)
                    txTimeline.push_back({now, static_cast<unsigned char>(bytes[size_t(i)])});
            }
        }
        if (n > 0) {
            bytes.remove_prefix(static_cast<size_t>(n));
            continue;
        }
        if (n < 0 && err == EINTR)
            continue;
        if (n < 0 && err == EAGAIN) {
            // The editor is not reading; wait for room, but stay stoppable.
            pollfd fds[2] = {{master, POLLOUT, 0}, {wake[0], POLLIN, 0}};
            if (::poll(fds, 2, -1) < 0 && errno != EINTR)
                return false;
            std::lock_guard lock(m);
            if (stopping || hangUpNow)
                return false;
            continue;
        }
        return false;
    }
    return true;
}
#endif

void Instrument::Impl::send(std::vector<Write> writes) {
    std::string noiseNow;
    size_t piece = 0;
    milliseconds gap{};
    bool paced = false;
    std::optional<size_t> budget;
    {
        std::lock_guard lock(m);
        noiseNow = noise;
        piece = pieceBytes;
        gap = pieceGap;
        paced = pace;
        budget = stopAfter;
    }
    for (Write& w : writes) {
        // Noise goes in front of every frame (not in front of a bare ACK/NAK).
        const size_t stx = w.bytes.find(STX);
        if (stx != std::string::npos)
            w.bytes.insert(stx, noiseNow);
    }
    for (const Write& w : writes) {
        if (w.gapBefore.count() > 0 && !pauseUntil(Clock::now() + w.gapBefore))
            return;
        std::string_view bytes = w.bytes;
        if (budget) {
            bytes = bytes.substr(0, std::min(bytes.size(), *budget));
            *budget -= bytes.size();
        }
        size_t done = 0;
        auto t0 = Clock::now();
        auto lastPaced = t0 - ByteTime9600;
        size_t sentPaced = 0;
        while (done < bytes.size()) {
            size_t len = piece ? std::min(piece, bytes.size() - done) : bytes.size() - done;
            if (done > 0 && piece && gap.count() > 0 && !pauseUntil(Clock::now() + gap))
                return;
            if (paced)
                len = 1;
            {
                // The hang-up fault counts bytes across answers.
                std::unique_lock lock(m);
                if (hangUpAfter) {
                    if (*hangUpAfter == 0) {
                        hangUpNow = true;
                        return;
                    }
                    len = std::min(len, *hangUpAfter);
                    *hangUpAfter -= len;
                }
            }
            if (paced) {
                // A receiver has a byte once its stop bit is through: each goes to the
                // terminal one byte time after the previous one, the first one byte time
                // after the start, so the timeline holds arrival times and the editor never
                // sees the last byte before it could have.
                // A late byte (the machine was busy) never lets the next one follow it
                // sooner than a byte time, as no UART would.
                ++sentPaced;
                const auto due = std::max(t0 + ByteTime9600 * static_cast<long>(sentPaced),
                                          lastPaced + ByteTime9600);
                if (!pauseUntil(due))
                    return;
                // The thread's own wake-up delay is not the line's: only a byte that is
                // really late moves the schedule.
                const auto now = Clock::now();
                lastPaced = now - due > ByteTime9600 / 2 ? now : due;
            }
            if (!writeRaw(bytes.substr(done, len)))
                return;
            done += len;
        }
    }
}

void Instrument::Impl::handleFrame(const std::string& content) {
    std::vector<Write> writes;
    std::function<void(const std::string&, const std::string&)> obs;
    std::function<void()> downloaded;
    {
        std::lock_guard lock(m);
        frames.push_back(content);
        changed.notify_all();
        if (!silent)
            writes = answerLocked(content);
        obs = observer;
        if (std::exchange(downloadEnded, false))
            downloaded = downloadObserver;
    }
    std::string answer;
    for (const Write& w : writes)
        answer += w.bytes;
    send(std::move(writes));
    if (obs)
        obs(content, answer);
    if (downloaded)
        downloaded();
}

#ifndef _WIN32
void Instrument::Impl::loop() {
    char buf[512];
    for (;;) {
        {
            std::lock_guard lock(m);
            if (stopping)
                break;
            if (hangUpNow) {
                // Like a pulled adapter: both ends go, the editor's descriptor sees a hang-up.
                closeTerminal();
                hungUp = true;
                hangUpNow = false;
                running = false;
                break;
            }
        }
        pollfd fds[2] = {{master, POLLIN, 0}, {wake[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (fds[1].revents & POLLIN)
            while (::read(wake[0], buf, sizeof buf) > 0) {
            }
        if (fds[0].revents & POLLIN) {
            ssize_t n = ::read(master, buf, sizeof buf);
            if (n < 0 && (errno == EAGAIN || errno == EINTR))
                continue;
            if (n <= 0)
                break;
            const auto now = Clock::now();
            {
                std::lock_guard lock(m);
                rxBytes.append(buf, static_cast<size_t>(n));
                for (ssize_t i = 0; i < n; ++i)
                    rxTimeline.push_back({now, static_cast<unsigned char>(buf[i])});
                changed.notify_all();
            }
            rx.append(buf, static_cast<size_t>(n));
            // Frames are STX..ETX; anything outside them is line noise.
            for (;;) {
                size_t s = rx.find(STX);
                if (s == std::string::npos) {
                    rx.clear();
                    break;
                }
                rx.erase(0, s);
                size_t e = rx.find(ETX, 1);
                size_t again = rx.find(STX, 1);
                if (again < e) { // a frame started over: the first one is lost
                    rx.erase(0, again);
                    continue;
                }
                if (e == std::string::npos) {
                    if (rx.size() > FrameLimit)
                        rx.clear();
                    break;
                }
                std::string content = rx.substr(1, e - 1);
                rx.erase(0, e + 1);
                handleFrame(content);
                std::lock_guard lock(m);
                if (stopping || hangUpNow)
                    break;
            }
        } else if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) {
            break; // cannot happen while our slave descriptor is open
        }
    }
    std::lock_guard lock(m);
    running = false;
    changed.notify_all();
}
#endif

// ---------------------------------------------------------------------------- Instrument

Instrument::Instrument(Generation generation) : d_(std::make_unique<Impl>()) {
    d_->gen = generation == Generation::V70 ? Generation::V70 : Generation::V73;
    d_->setDefaults();
}

Instrument::~Instrument() {
    stop();
}

bool Instrument::start() {
    std::unique_lock lock(d_->m);
    if (d_->running)
        return true;
    if (d_->thread.joinable()) { // ended by a hang-up
        lock.unlock();
        d_->thread.join();
        lock.lock();
    }
    d_->closeTerminal();
    if (!d_->openTerminal())
        return false;
    d_->stopping = false;
    d_->hangUpNow = false;
    d_->hungUp = false;
    d_->running = true;
    d_->rx.clear();
    d_->thread = std::thread([this] { d_->loop(); });
    return true;
}

void Instrument::stop() {
    {
        std::lock_guard lock(d_->m);
        d_->stopping = true;
        d_->stopCv.notify_all();
        d_->wakeThread();
    }
    if (d_->thread.joinable())
        d_->thread.join();
    std::lock_guard lock(d_->m);
    d_->closeTerminal();
    d_->running = false;
}

bool Instrument::running() const {
    std::lock_guard lock(d_->m);
    return d_->running;
}

std::string Instrument::devicePath() const {
    std::lock_guard lock(d_->m);
    return d_->path;
}

std::string Instrument::lastError() const {
    std::lock_guard lock(d_->m);
    return d_->error;
}

void Instrument::setGeneration(Generation generation) {
    std::lock_guard lock(d_->m);
    d_->gen = generation == Generation::V70 ? Generation::V70 : Generation::V73;
}

Generation Instrument::generation() const {
    std::lock_guard lock(d_->m);
    return d_->gen;
}

int Instrument::lastSystemIndex() const {
    std::lock_guard lock(d_->m);
    return d_->lastSys();
}

int Instrument::lastPartIndex() const {
    std::lock_guard lock(d_->m);
    return d_->lastPart();
}

std::string Instrument::systemField(int field) const {
    std::lock_guard lock(d_->m);
    if (field == 0) {
        std::string flags = "2";
        for (int pos = 2; pos <= (d_->isV70() ? 15 : 16); ++pos)
            flags += d_->sysFlag[static_cast<size_t>(pos)];
        return flags;
    }
    if (field < 1 || field > 9)
        return {};
    return d_->sysField[static_cast<size_t>(field)];
}

bool Instrument::setSystemField(int field, std::string_view text) {
    std::lock_guard lock(d_->m);
    if (field == 0) {
        for (size_t i = 1; i < text.size() && i + 1 <= 16; ++i)
            d_->sysFlag[i + 1] = text[i];
        return true;
    }
    if (field < 1 || field > 9)
        return false;
    d_->sysField[static_cast<size_t>(field)] = std::string(text);
    return true;
}

char Instrument::systemFlag(int position) const {
    std::lock_guard lock(d_->m);
    return position >= 2 && position <= 16 ? d_->sysFlag[static_cast<size_t>(position)] : '\0';
}

bool Instrument::setSystemFlag(int position, char value) {
    std::lock_guard lock(d_->m);
    if (position < 2 || position > 16)
        return false;
    d_->sysFlag[static_cast<size_t>(position)] = value;
    return true;
}

long long Instrument::clockSeconds() const {
    std::lock_guard lock(d_->m);
    auto v = wireNumber(d_->sysField[9]);
    return v ? static_cast<long long>(*v) : 0;
}

void Instrument::setClockSeconds(long long seconds) {
    std::lock_guard lock(d_->m);
    d_->sysField[9] = std::to_string(seconds);
}

std::string Instrument::partField(int part, int field) const {
    std::lock_guard lock(d_->m);
    if (part < 1 || part > PartNumbers)
        return {};
    if (field == 0)
        return "3" + twoDigits(part);
    if (field == 1)
        return d_->parts[static_cast<size_t>(part - 1)].flags;
    if (field < 2 || field > 28)
        return {};
    return d_->parts[static_cast<size_t>(part - 1)].field[static_cast<size_t>(field)];
}

bool Instrument::setPartField(int part, int field, std::string_view text) {
    std::lock_guard lock(d_->m);
    if (part < 1 || part > PartNumbers || field < 1 || field > 28)
        return false;
    PartState& p = d_->parts[static_cast<size_t>(part - 1)];
    if (field == 1)
        p.flags = std::string(text);
    else
        p.field[static_cast<size_t>(field)] = std::string(text);
    return true;
}

std::string Instrument::systemRecord() const {
    std::lock_guard lock(d_->m);
    return d_->systemRecordLocked(false);
}

std::string Instrument::partRecord(int part) const {
    std::lock_guard lock(d_->m);
    if (part < 1 || part > PartNumbers)
        return {};
    return d_->partRecordLocked(part, false, false);
}

std::vector<int> Instrument::configuredParts() const {
    std::lock_guard lock(d_->m);
    std::vector<int> list;
    for (int i = 0; i < PartNumbers; ++i)
        if (d_->configured[static_cast<size_t>(i)])
            list.push_back(i + 1);
    return list;
}

void Instrument::setConfiguredParts(const std::vector<int>& parts) {
    std::lock_guard lock(d_->m);
    d_->configured.fill(false);
    for (int p : parts)
        if (p >= 1 && p <= PartNumbers)
            d_->configured[static_cast<size_t>(p - 1)] = true;
}

int Instrument::mode() const {
    std::lock_guard lock(d_->m);
    return d_->mode;
}

void Instrument::setMode(int mode) {
    std::lock_guard lock(d_->m);
    if (mode >= 0 && mode <= 3)
        d_->mode = mode;
}

bool Instrument::testRunning() const {
    std::lock_guard lock(d_->m);
    return d_->testRunning;
}

void Instrument::setTestRunning(bool running) {
    std::lock_guard lock(d_->m);
    d_->testRunning = running;
}

std::vector<std::string> Instrument::framesReceived() const {
    std::lock_guard lock(d_->m);
    return d_->frames;
}

std::vector<std::string> Instrument::downloadFrames() const {
    std::lock_guard lock(d_->m);
    std::vector<std::string> list;
    for (const auto& f : d_->frames)
        if (!f.empty() && (f[0] == '4' || f[0] == '5'))
            list.push_back(f);
    return list;
}

std::string Instrument::bytesReceived() const {
    std::lock_guard lock(d_->m);
    return d_->rxBytes;
}

std::string Instrument::bytesSent() const {
    std::lock_guard lock(d_->m);
    return d_->txBytes;
}

std::vector<ByteEvent> Instrument::receivedTimeline() const {
    std::lock_guard lock(d_->m);
    return d_->rxTimeline;
}

std::vector<ByteEvent> Instrument::sentTimeline() const {
    std::lock_guard lock(d_->m);
    return d_->txTimeline;
}

void Instrument::clearLogs() {
    std::lock_guard lock(d_->m);
    d_->frames.clear();
    d_->rxBytes.clear();
    d_->txBytes.clear();
    d_->rxTimeline.clear();
    d_->txTimeline.clear();
}

bool Instrument::waitForFrames(size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(d_->m);
    return d_->changed.wait_for(lock, timeout, [&] { return d_->frames.size() >= count; });
}

void Instrument::setFrameObserver(
    std::function<void(const std::string&, const std::string&)> observer) {
    std::lock_guard lock(d_->m);
    d_->observer = std::move(observer);
}

void Instrument::setSilent(bool silent) {
    std::lock_guard lock(d_->m);
    d_->silent = silent;
}

void Instrument::setNakAtField(std::optional<int> index) {
    std::lock_guard lock(d_->m);
    d_->nakAt = index;
}

void Instrument::corruptNextChecksum() {
    std::lock_guard lock(d_->m);
    d_->corruptNext = true;
}

void Instrument::setNoise(std::string noise) {
    // Noise never holds the bytes that mean something on this line.
    std::erase_if(noise, [](char c) { return c == STX || c == ETX || c == ACK || c == NAK; });
    std::lock_guard lock(d_->m);
    d_->noise = std::move(noise);
}

void Instrument::setSplit(size_t pieceBytes, std::chrono::milliseconds gap) {
    std::lock_guard lock(d_->m);
    d_->pieceBytes = pieceBytes;
    d_->pieceGap = gap;
}

void Instrument::setClosingFrameGap(std::chrono::milliseconds gap) {
    std::lock_guard lock(d_->m);
    d_->closingGap = gap;
}

void Instrument::setRefuseAll(bool refuse) {
    std::lock_guard lock(d_->m);
    d_->refuseAll = refuse;
}

void Instrument::setWrongPartNumber(bool wrong) {
    std::lock_guard lock(d_->m);
    d_->wrongPart = wrong;
}

void Instrument::setPacing(bool pace) {
    std::lock_guard lock(d_->m);
    d_->pace = pace;
}

void Instrument::setStopAfterBytes(std::optional<size_t> bytes) {
    std::lock_guard lock(d_->m);
    d_->stopAfter = bytes;
}

void Instrument::setHangUpAfterBytes(std::optional<size_t> bytes) {
    std::lock_guard lock(d_->m);
    d_->hangUpAfter = bytes;
}

void Instrument::hangUp() {
    std::lock_guard lock(d_->m);
    if (!d_->running)
        return;
    d_->hangUpNow = true;
    d_->stopCv.notify_all();
    d_->wakeThread();
}

bool Instrument::hungUp() const {
    std::lock_guard lock(d_->m);
    return d_->hungUp;
}

} // namespace pp::sim
