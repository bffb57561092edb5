#include "records.h"

#include "link/frames.h"
#include "sheet/number_text.h"

#include <array>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <span>
#include <vector>

namespace pp {

namespace {

std::vector<std::string_view> splitFields(std::string_view record) {
    std::vector<std::string_view> fields;
    size_t start = 0;
    for (;;) {
        size_t comma = record.find(',', start);
        if (comma == std::string_view::npos) {
            fields.push_back(record.substr(start));
            return fields;
        }
        fields.push_back(record.substr(start, comma - start));
        start = comma + 1;
    }
}

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

// Character `pos` (1-based) of a flag string; a position past its end reads as no character,
// which is neither "0" nor "1".
char flagAt(std::string_view flags, int pos) {
    return pos >= 1 && static_cast<size_t>(pos) <= flags.size() ? flags[pos - 1] : '\0';
}

std::string_view field(const std::vector<std::string_view>& fields, int n) {
    return n >= 0 && static_cast<size_t>(n) < fields.size() ? fields[n] : std::string_view();
}

// ------------------------------------------------------------------ system record

constexpr size_t SystemFieldCount = 11;
constexpr int SystemChecksumField = 10;

const SysRow* sysRowAtFlag(int pos) {
    for (const SysRow& r : systemCatalogue())
        if (r.flagPos == pos)
            return &r;
    return nullptr;
}

const SysRow* sysRowAtField(int uploadField) {
    for (const SysRow& r : systemCatalogue())
        if (r.uploadField == uploadField && r.kind != SysKind::OptionInfo &&
            r.kind != SysKind::Clock)
            return &r;
    return nullptr;
}

void applyTwoState(Sheet& sheet, const SysRow& r, char flag) {
    int which = flag == '0' ? 0 : 1;
    sheet.selectOption(r.id, which);
    sheet.setText(r.id, std::string(r.states[which]));
}

// A decimal count travels as one flag digit; the slider stands at ten times it.
void applyDecimals(Sheet& sheet, const SysRow& r, std::string_view flags) {
    std::string digit = static_cast<size_t>(r.flagPos) <= flags.size()
                            ? std::string(1, flags[r.flagPos - 1])
                            : std::string();
    sheet.setText(r.id, digit);
    if (auto n = toInt16(digit))
        sheet.setSlider(r.id, *n * 10);
}

void applyCountedField(Sheet& sheet, const SysRow& r, std::string_view text) {
    auto n = toInt16(text);
    switch (r.kind) {
    case SysKind::Delay:
        // Tenths on the wire; the text is derived from the count, so without a count
        // neither slider nor text can be set.
        if (!n)
            return;
        sheet.setSlider(r.id, *n);
        sheet.setText(r.id,
                      *n == 0 ? std::string("OFF") : formatSingle(static_cast<float>(*n) / 10.0f));
        return;
    case SysKind::Tens:
        if (n)
            sheet.setSlider(r.id, *n * 10);
        sheet.setText(r.id, std::string(text));
        return;
    default:
        // Shown as received (leading zeros included) so a download sends the same digits.
        if (n)
            sheet.setSlider(r.id, *n);
        sheet.setText(r.id, std::string(text));
        return;
    }
}

// ------------------------------------------------------------------ part record

constexpr size_t PartFieldsV70 = 28;
constexpr size_t PartFieldsV73 = 30;

// The display texts of each part option in the order of their wire codes: a flag "0" and
// the download code 00000 mean the first, "1" and 00001 the second, anything else the last.
std::span<const std::string_view> partOptionCodes(Part id) {
    static constexpr std::array<std::string_view, 2> tempComp{"OFF", "ON"};
    static constexpr std::array<std::string_view, 2> timeBase{"1 SEC", "0.1 SEC"};
    static constexpr std::array<std::string_view, 3> zeroSel{"CAL", "STAB", "OFFSET"};
    switch (id) {
    case Part::TempComp:
        return tempComp;
    case Part::TimeBase:
        return timeBase;
    case Part::ZeroSel:
        return zeroSel;
    default:
        return {};
    }
}

void applyPartOption(Sheet& sheet, const PartRow& r, char flag) {
    auto codes = partOptionCodes(r.id);
    if (codes.empty())
        return;
    size_t code = flag == '0' ? 0 : flag == '1' ? 1 : codes.size() - 1;
    if (code >= codes.size())
        code = codes.size() - 1;
    std::string_view text = codes[code];
    for (size_t b = 0; b < r.states.size(); ++b)
        if (!r.states[b].empty() && r.states[b] == text)
            sheet.selectOption(r.id, static_cast<int>(b));
    sheet.setText(r.id, std::string(text));
}

bool partFieldPresent(const PartRow& r, Generation g) {
    return !r.v73Only || g == Generation::V73;
}

// Time values: the texts in the record's time base, the block-time minimum, the fast cycle
// delay, then the sliders.
void applyTimes(Sheet& sheet, const std::vector<std::string_view>& fields) {
    const bool seconds = sheet.timeBaseSeconds();
    const Generation g = sheet.generation();

    for (const PartRow& r : partCatalogue()) {
        if (r.kind != PartKind::Duration || !partFieldPresent(r, g))
            continue;
        std::string_view f = trimmed(field(fields, r.uploadField));
        if (seconds) {
            sheet.setText(r.id, std::string(f));
        } else if (auto n = toInt16(f)) {
            sheet.setText(r.id, formatScaled(*n, 1));
        }
    }

    sheet.setSliderMin(Part::BlkTime, seconds ? 1 : 8);

    for (const PartRow& r : partCatalogue()) {
        if (r.kind != PartKind::Delay)
            continue;
        std::string_view f = trimmed(field(fields, r.uploadField));
        if (seconds) {
            auto value = toFloat(f);
            if (!value)
                continue;
            if (*value >= 1.0f) {
                if (auto n = toInt16(f))
                    sheet.setSlider(r.id, *n);
                sheet.setText(r.id, std::string(f));
            } else {
                sheet.setSlider(r.id, 0);
                sheet.setText(r.id, "OFF");
            }
        } else {
            auto n = toInt16(f);
            if (!n)
                continue;
            if (*n < 10) { // less than one second
                sheet.setSlider(r.id, 0);
                sheet.setText(r.id, "OFF");
            } else {
                sheet.setSlider(r.id, *n);
                sheet.setText(r.id, formatScaled(*n, 1));
            }
        }
    }

    for (const PartRow& r : partCatalogue()) {
        if (r.kind != PartKind::Duration || !partFieldPresent(r, g))
            continue;
        if (auto n = toInt16(trimmed(field(fields, r.uploadField))))
            sheet.setSlider(r.id, *n);
    }
}

// One value parameter: the trimmed field as display text, then the slider from it.
void applyValue(Sheet& sheet, const PartRow& r, std::string_view f) {
    f = trimmed(f);
    sheet.setText(r.id, std::string(f));
    std::optional<int16_t> pos;
    switch (r.kind) {
    case PartKind::Count:
        pos = toInt16(f);
        break;
    case PartKind::Flow:
        pos = textScaledToInt16(f, sheet.flowDecimals());
        break;
    case PartKind::Pressure:
        pos = textScaledToInt16(f, sheet.presDecimals());
        break;
    case PartKind::Tenths:
        pos = textScaledToInt16(f, 1);
        break;
    default:
        return;
    }
    if (pos)
        sheet.setSlider(r.id, *pos);
}

bool isValueKind(PartKind k) {
    return k == PartKind::Count || k == PartKind::Flow || k == PartKind::Pressure ||
           k == PartKind::Tenths || k == PartKind::Code;
}

void applyValues(Sheet& sheet, const std::vector<std::string_view>& fields) {
    const Generation g = sheet.generation();
    for (const PartRow& r : partCatalogue()) {
        if (!isValueKind(r.kind) || !partFieldPresent(r, g) || r.id == Part::GrossLimit)
            continue;
        applyValue(sheet, r, field(fields, r.uploadField));
        // The instrument's own editor applies the gross limit right after the leak limit,
        // so the gross-limit rule sees the record's pair before anything else moves.
        if (r.id == Part::LeakLimit) {
            const PartRow& gross = row(Part::GrossLimit);
            applyValue(sheet, gross, field(fields, gross.uploadField));
        }
    }
}

// ------------------------------------------------------------------ clock

constexpr std::array<std::string_view, 12> MonthNames{"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                      "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

bool isLeapGregorian(int y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int daysInMonth(int year, int month) {
    static constexpr std::array<int, 12> days{31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && isLeapGregorian(year) ? 29 : days[month - 1];
}

struct ClockPieces {
    int year, month, day, hour, minute;
};

// Reads up to `maxDigits` digits (at least `minDigits`) at `i`.
bool readDigits(std::string_view s, size_t& i, size_t minDigits, size_t maxDigits, int& out) {
    size_t start = i;
    out = 0;
    while (i < s.size() && i - start < maxDigits && std::isdigit(static_cast<unsigned char>(s[i])))
        out = out * 10 + (s[i++] - '0');
    return i - start >= minDigits;
}

void skipBlanks(std::string_view s, size_t& i) {
    while (i < s.size() && s[i] == ' ')
        ++i;
}

// "MMM DD,YYYY HH:MM" as the clock display text is written; the month name in any case.
std::optional<ClockPieces> parseClockText(std::string_view text) {
    std::string_view s = trimmed(text);
    if (s.size() < 3)
        return std::nullopt;
    ClockPieces c{};
    c.month = 0;
    for (size_t m = 0; m < MonthNames.size(); ++m) {
        bool same = true;
        for (size_t k = 0; k < 3; ++k)
            same = same && std::tolower(static_cast<unsigned char>(s[k])) ==
                               std::tolower(static_cast<unsigned char>(MonthNames[m][k]));
        if (same)
            c.month = static_cast<int>(m) + 1;
    }
    if (c.month == 0)
        return std::nullopt;
    size_t i = 3;
    skipBlanks(s, i);
    if (!readDigits(s, i, 1, 2, c.day) || i >= s.size() || s[i] != ',')
        return std::nullopt;
    ++i;
    skipBlanks(s, i);
    if (!readDigits(s, i, 4, 4, c.year))
        return std::nullopt;
    size_t beforeBlanks = i;
    skipBlanks(s, i);
    if (i == beforeBlanks || !readDigits(s, i, 1, 2, c.hour) || i >= s.size() || s[i] != ':')
        return std::nullopt;
    ++i;
    if (!readDigits(s, i, 2, 2, c.minute) || i != s.size())
        return std::nullopt;
    if (c.year < 1 || c.day < 1 || c.day > daysInMonth(c.year, c.month) || c.hour > 23 ||
        c.minute > 59)
        return std::nullopt;
    return c;
}

std::string twoDigits(int v) {
    return ZeroPad(std::to_string(v), 2);
}

// ------------------------------------------------------------------ encoding helpers

std::string twoStateWire(const std::string& text, std::string_view firstState) {
    return text == firstState ? "00000" : "00001";
}

// A count of tenths from a display text in whole units; empty when it is no number.
std::string tenthsWire(const std::string& text) {
    auto value = toFloat(text);
    if (!value)
        return {};
    const float product = *value * 10.0f;
    return formatSingle(product);
}

} // namespace

// ------------------------------------------------------------------ public operations

std::optional<std::string> DecodeSystemRecord(Sheet& sheet, std::string_view record) {
    const auto fields = splitFields(record);
    // Only a record of exactly eleven fields has its checksum where it is looked for.
    if (fields.size() != SystemFieldCount || !recordChecksumValid(record, SystemChecksumField))
        return std::string("Check sum error");

    const std::string_view flags = fields[0];
    sheet.SetFirmwareGeneration(flags.size() == 15 ? Generation::V70 : Generation::V73);

    // Flag positions 3 onwards in order: two-state pairs and the two decimal digits.
    for (int pos = 3; pos <= 16; ++pos) {
        const SysRow* r = sysRowAtFlag(pos);
        if (!r || (r->v73Only && sheet.generation() != Generation::V73))
            continue;
        if (r->kind == SysKind::Decimals)
            applyDecimals(sheet, *r, flags);
        else if (r->kind == SysKind::TwoState)
            applyTwoState(sheet, *r, flagAt(flags, pos));
    }

    for (int f : {1, 2, 3, 4, 5, 8}) {
        if (const SysRow* r = sysRowAtField(f))
            applyCountedField(sheet, *r, fields[f]);
    }
    sheet.setText(Sys::OptionCode, std::string(fields[6]));
    DecodeOptionCode(sheet, fields[6]);
    if (const SysRow* r = sysRowAtField(7))
        applyCountedField(sheet, *r, fields[7]);
    sheet.setText(Sys::Time, ClockTextFromSeconds(fields[9]));

    sheet.commands.sdDownload = true;
    sheet.commands.partUpload = true;
    sheet.commands.partDownload = true;
    sheet.commands.partTab = true;
    return std::nullopt;
}

std::optional<std::string> DecodePartRecord(Sheet& sheet, std::string_view record) {
    const auto fields = splitFields(record);
    // Every check comes before the first change, so a refused record leaves the sheet and
    // the generation alone. Only 28 (V7.0) or 30 (V7.3) fields carry a checksum where it is
    // looked for.
    const size_t count = fields.size();
    if (count != PartFieldsV70 && count != PartFieldsV73)
        return std::string("Check sum error");
    const bool v73 = count == PartFieldsV73;
    if (!recordChecksumValid(record, static_cast<int>(count) - 1))
        return std::string("Check sum error");
    if (fields[0].empty() || fields[0].front() != '3')
        return std::string("ERROR - Invalid command");
    auto received = toInt16(fields[0].substr(1));
    auto selected = toInt16(sheet.partSelection());
    if (!received || !selected || *received != *selected)
        return std::string("ERROR - Invalid part number");

    sheet.SetFirmwareGeneration(v73 ? Generation::V73 : Generation::V70);
    // The compensation limits must come from this record's own flow zero and factors, which
    // arrive after the compensation values themselves.
    sheet.holdCompensation();

    const std::string_view partFlags = fields[1];
    for (const PartRow& r : partCatalogue())
        if (r.kind == PartKind::Option)
            applyPartOption(sheet, r, flagAt(partFlags, r.flagPos));

    applyTimes(sheet, fields);
    applyValues(sheet, fields);

    sheet.releaseCompensation();

    sheet.commands.saveAs = true;
    sheet.commands.print = true;
    return std::nullopt;
}

void DecodeOptionCode(Sheet& sheet, std::string_view code) {
    std::string model = "???";
    if (!code.empty()) {
        switch (code.front()) {
        case 'S':
            model = "STD";
            break;
        case 'Q':
            model = "QTK";
            break;
        case 'H':
            model = "HFL";
            break;
        default:
            break;
        }
    }
    sheet.setText(Sys::Model, model);
    sheet.setText(Sys::DateCode, std::string(code.size() > 1 ? code.substr(1, 4) : ""));

    // Hex digits from character 6 up to the first non-hex character; only the low bits count.
    uint16_t options = 0;
    if (code.size() >= 5) {
        for (size_t i = 5; i < code.size(); ++i) {
            const char c = code[i];
            int digit = -1;
            if (c >= '0' && c <= '9')
                digit = c - '0';
            else if (c >= 'A' && c <= 'F')
                digit = c - 'A' + 10;
            else if (c >= 'a' && c <= 'f')
                digit = c - 'a' + 10;
            if (digit < 0)
                break;
            options = static_cast<uint16_t>(options * 16 + digit);
        }
    }
    static constexpr std::array<Sys, 5> bits{Sys::OptTempComp, Sys::RefFailure, Sys::OptSysZero,
                                             Sys::CCooler, Sys::Block};
    for (Sys id : bits) {
        sheet.setText(id, options % 2 ? "ON" : "OFF");
        options /= 2;
    }
}

std::string ClockTextFromSeconds(std::string_view count) {
    auto value = parseNumber(count);
    if (!value)
        return {};
    const double rounded = std::nearbyint(*value);
    if (rounded < 0 || rounded > 2147483647.0)
        return {};
    const int32_t s = static_cast<int32_t>(rounded);

    constexpr int32_t FourYears = 126230400; // 1461 days, starting with a leap year
    const int32_t q = s / FourYears;
    int32_t r = s - q * FourYears;
    int year = 2004 + 4 * q;
    auto yearLength = [](int y) { return y % 4 == 0 ? 31622400 : 31536000; };
    while (r >= yearLength(year)) {
        r -= yearLength(year);
        ++year;
    }

    int32_t days = r / 86400;
    static constexpr std::array<int, 12> monthDays{31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    int month = 0;
    for (; month < 11; ++month) {
        const int length = month == 1 && year % 4 == 0 ? 29 : monthDays[month];
        if (days < length)
            break;
        days -= length;
    }
    const int32_t t = r % 86400;
    return clockText(year, month + 1, days + 1, t / 3600, (t % 3600) / 60);
}

std::string SystemParamWireText(const Sheet& sheet, int index) {
    // The clock goes out as five pieces cut from "YYYY/MM/DD HH:MM".
    if (index >= 19 && index <= 23) {
        auto c = parseClockText(sheet.text(Sys::Time));
        if (!c)
            return {};
        switch (index) {
        case 19:
            return ZeroPad(std::to_string(c->year), 4);
        case 20:
            return twoDigits(c->month);
        case 21:
            return twoDigits(c->day);
        case 22:
            return twoDigits(c->hour);
        default:
            return twoDigits(c->minute);
        }
    }
    for (const SysRow& r : systemCatalogue()) {
        if (r.downloadIndex != index || r.kind == SysKind::Clock)
            continue;
        const std::string& text = sheet.text(r.id);
        switch (r.kind) {
        case SysKind::TwoState:
            return twoStateWire(text, r.states[0]);
        case SysKind::Delay:
            return text == "OFF" ? std::string("00000") : tenthsWire(text);
        case SysKind::OptionInfo:
            return {};
        default:
            return text;
        }
    }
    return {};
}

std::string PartParamWireText(const Sheet& sheet, int index) {
    if (index < 0 || static_cast<size_t>(index) >= PartCount)
        return {};
    for (const PartRow& r : partCatalogue()) {
        if (r.downloadIndex != index)
            continue;
        const std::string& text = sheet.text(r.id);
        switch (r.kind) {
        case PartKind::Option: {
            auto codes = partOptionCodes(r.id);
            size_t code = codes.empty() ? 0 : codes.size() - 1;
            for (size_t k = 0; k < codes.size(); ++k)
                if (text == codes[k]) {
                    code = k;
                    break;
                }
            return ZeroPad(std::to_string(code), 5);
        }
        case PartKind::Delay:
            if (text == "OFF")
                return "00000";
            [[fallthrough]];
        case PartKind::Duration:
            return sheet.timeBaseSeconds() ? text : tenthsWire(text);
        default:
            return text;
        }
    }
    return {};
}

} // namespace pp
