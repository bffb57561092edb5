// Shared by the fuzz targets: an input cut into small commands, a file system in memory with
// faults, a sheet brought into an arbitrary state, and the checks every target runs.
#pragma once

#include "files/file_system.h"
#include "link/frames.h"
#include "link/records.h"
#include "sheet/sheet.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>

namespace pp::fuzz {

// A broken invariant: say which, then crash so libFuzzer keeps the input.
[[noreturn]] inline void fail(const char* what, std::string_view detail = {}) {
    std::fprintf(stderr, "invariant broken: %s %.*s\n", what, static_cast<int>(detail.size()),
                 detail.data());
    std::abort();
}

#define PP_CHECK(cond, ...)                                                                        \
    do {                                                                                           \
        if (!(cond))                                                                               \
            ::pp::fuzz::fail(#cond __VA_OPT__(, ) __VA_ARGS__);                                    \
    } while (0)

// Reads an input front to back; running out gives zeros and empty texts, never a failure.
class Input {
public:
    explicit Input(std::string_view data) : data_(data) {}
    bool empty() const { return pos_ >= data_.size(); }
    uint8_t byte() { return empty() ? 0 : static_cast<uint8_t>(data_[pos_++]); }
    // The command byte read first in the current step (for tracing).
    char last() const { return first_ < data_.size() ? data_[first_] : '?'; }
    void mark() { first_ = pos_; }
    int16_t int16() {
        const int hi = byte();
        return static_cast<int16_t>((hi << 8) | byte());
    }
    // A text of the length given by the next byte.
    std::string_view counted() { return take(byte()); }
    // Everything up to the next line end (not included), or to the end.
    std::string_view line() {
        const size_t end = data_.find('\n', pos_);
        const size_t n = (end == std::string_view::npos ? data_.size() : end) - pos_;
        std::string_view s = take(n);
        if (!empty())
            ++pos_;
        return s;
    }
    std::string_view rest() { return take(data_.size() - pos_); }

private:
    std::string_view take(size_t n) {
        if (n > data_.size() - pos_)
            n = data_.size() - pos_;
        std::string_view s = data_.substr(pos_, n);
        pos_ += n;
        return s;
    }

    std::string_view data_;
    size_t pos_ = 0;
    size_t first_ = 0;
};

// Every slider stands within its own range.
inline void checkSliders(const Sheet& sheet) {
    for (const SysRow& r : systemCatalogue()) {
        const Slider& s = sheet.slider(r.id);
        if (s.pos < s.min || s.pos > s.max || s.min > s.max)
            fail("system slider out of range:", r.stem);
    }
    for (const PartRow& r : partCatalogue()) {
        const Slider& s = sheet.slider(r.id);
        if (s.pos < s.min || s.pos > s.max || s.min > s.max)
            fail("part slider out of range:", r.stem);
    }
}

// The sheet-wide values agree with the generation.
inline void checkGeneration(const Sheet& sheet) {
    switch (sheet.generation()) {
    case Generation::V70:
        PP_CHECK(sheet.lastSysIndex() == 24 && sheet.lastPartIndex() == 27);
        break;
    case Generation::V73:
        PP_CHECK(sheet.lastSysIndex() == 25 && sheet.lastPartIndex() == 29);
        break;
    case Generation::None:
        break;
    }
}

// The encoders take whatever the sheet holds.
inline void encodeAll(const Sheet& sheet) {
    for (int i = -1; i <= 31; ++i) {
        const std::string s = SystemParamWireText(sheet, i);
        const std::string p = PartParamWireText(sheet, i);
        (void)downloadFieldFrame('4', s, {}, i < 0 ? 0 : i);
        (void)downloadFieldFrame('5', p, sheet.partSelection(), i < 0 ? 0 : i);
    }
}

// A record with its checksum put right, so the fuzzer reaches the fields behind it.
inline std::string withChecksum(std::string_view body) {
    return std::string(body) + std::to_string(FrameChecksum(body));
}

// One step that moves a sheet somewhere, read from a line of the input:
//   S<body> / P<body>  a system / part record, checksum appended
//   s<rec>  / p<rec>   a record as it stands
//   n<text>            the part selection
//   v<id><hi><lo> / V  a system / part slider position
//   o<id><which> / O   an option button
//   t<id><text> / T    a display text
//   g<byte>            the firmware generation
//   c / C              ClearSystemSheet / ClearPartSheet
// Returns the decoder's verdict for record lines; nothing for the rest.
struct StepResult {
    bool decoded = false;               // a record line
    std::optional<std::string> failure; // its failure text
};

inline Sys sysId(uint8_t b) {
    return static_cast<Sys>(b % SysCount);
}
inline Part partId(uint8_t b) {
    return static_cast<Part>(b % PartCount);
}

inline StepResult applyStep(Sheet& sheet, std::string_view line) {
    StepResult r;
    if (line.empty())
        return r;
    const char op = line[0];
    Input in(line.substr(1));
    switch (op) {
    case 'S':
        r.decoded = true;
        r.failure = DecodeSystemRecord(sheet, withChecksum(in.rest()));
        break;
    case 's':
        r.decoded = true;
        r.failure = DecodeSystemRecord(sheet, in.rest());
        break;
    case 'P':
        r.decoded = true;
        r.failure = DecodePartRecord(sheet, withChecksum(in.rest()));
        break;
    case 'p':
        r.decoded = true;
        r.failure = DecodePartRecord(sheet, in.rest());
        break;
    case 'n':
        sheet.setPartSelection(std::string(in.rest()));
        break;
    case 'v': {
        const Sys id = sysId(in.byte());
        sheet.setSlider(id, in.int16());
        break;
    }
    case 'V': {
        const Part id = partId(in.byte());
        sheet.setSlider(id, in.int16());
        break;
    }
    case 'o': {
        const Sys id = sysId(in.byte());
        sheet.selectOption(id, in.byte() % 3);
        break;
    }
    case 'O': {
        const Part id = partId(in.byte());
        sheet.selectOption(id, in.byte() % 4);
        break;
    }
    case 't': {
        const Sys id = sysId(in.byte());
        sheet.setText(id, std::string(in.rest()));
        break;
    }
    case 'T': {
        const Part id = partId(in.byte());
        sheet.setText(id, std::string(in.rest()));
        break;
    }
    case 'g':
        sheet.SetFirmwareGeneration(in.byte() % 2 ? Generation::V73 : Generation::V70);
        break;
    case 'c':
        sheet.ClearSystemSheet();
        break;
    case 'C':
        sheet.ClearPartSheet();
        break;
    default:
        break;
    }
    return r;
}

// Files in memory. Faults: the write with a given number stops half-way and fails, renames
// fail, folders cannot be made.
class MemoryFileSystem : public FileSystem {
public:
    std::map<std::string, std::string> files;
    std::set<std::string> folders;
    int failWriteAt = -1; // 0-based number of the writeAll that fails half-way
    bool failReplace = false;
    bool failMakeFolder = false;
    int writes = 0;
    std::map<std::string, long long> written; // when each file was last written (a counter)
    long long clock = 0;

    bool writeAll(const std::string& path, std::string_view bytes) override {
        if (folders.count(path) || !folders.count(parent(path)))
            return false;
        written[path] = ++clock;
        if (writes++ == failWriteAt) {
            files[path] = std::string(bytes.substr(0, bytes.size() / 2));
            return false;
        }
        files[path] = std::string(bytes);
        return true;
    }
    bool replace(const std::string& from, const std::string& to) override {
        auto it = files.find(from);
        if (failReplace || it == files.end() || folders.count(to))
            return false;
        std::string bytes = std::move(it->second);
        files.erase(it);
        files[to] = std::move(bytes);
        written[to] = written[from];
        return true;
    }
    bool remove(const std::string& path) override { return files.erase(path) > 0; }
    std::optional<std::string> readAll(const std::string& path) override {
        auto it = files.find(path);
        if (it == files.end())
            return std::nullopt;
        return it->second;
    }
    bool exists(const std::string& path) override {
        return files.count(path) || folders.count(path);
    }
    std::optional<FileIdentity> identity(const std::string& path) override {
        if (!files.count(path))
            return std::nullopt;
        FileIdentity id;
        id.mode = 0644;
        id.modifiedNs = written[path];
        return id;
    }
    bool makeFolder(const std::string& path) override {
        if (failMakeFolder)
            return folders.count(path) > 0;
        folders.insert(path);
        return true;
    }

    static std::string parent(const std::string& path) {
        const size_t slash = path.rfind('/');
        return slash == std::string::npos ? std::string() : path.substr(0, slash);
    }
};

} // namespace pp::fuzz
