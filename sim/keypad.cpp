#include "keypad.h"

#include "link/records.h"
#include "sheet/number_text.h"
#include "sheet/typed_value.h"

#include <algorithm>
#include <cctype>
#include <optional>

namespace pp::sim {

bool sameWord(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

namespace {

constexpr size_t SystemDownloadItems = 26; // indices 0..25

template <typename Row, size_t N>
const Row* findStem(const std::array<Row, N>& rows, std::string_view stem) {
    for (const Row& r : rows)
        if (sameWord(r.stem, stem))
            return &r;
    return nullptr;
}

// The option state a text names, in any case; -1 for none.
template <size_t N>
int stateIndex(const std::array<std::string_view, N>& states, std::string_view value) {
    for (size_t i = 0; i < N; ++i)
        if (!states[i].empty() && sameWord(states[i], value))
            return static_cast<int>(i);
    return -1;
}

template <size_t N> std::string stateList(const std::array<std::string_view, N>& states) {
    std::string list;
    for (std::string_view s : states)
        if (!s.empty())
            list += (list.empty() ? "" : " or ") + std::string(s);
    return list;
}

std::optional<Sheet> systemSheet(std::string_view systemRecord) {
    Sheet sheet;
    if (DecodeSystemRecord(sheet, systemRecord))
        return std::nullopt;
    return sheet;
}

std::optional<Sheet> partSheet(std::string_view systemRecord, std::string_view partRecord) {
    auto sheet = systemSheet(systemRecord);
    if (!sheet || partRecord.size() < 3)
        return std::nullopt;
    sheet->setPartSelection(std::string(partRecord.substr(1, 2)));
    if (DecodePartRecord(*sheet, partRecord))
        return std::nullopt;
    return sheet;
}

// Every download item's wire text, by index.
template <typename WireText>
std::vector<std::string> wireTexts(const Sheet& sheet, int last, WireText text) {
    std::vector<std::string> texts;
    for (int i = 0; i <= last; ++i)
        texts.push_back(text(sheet, i));
    return texts;
}

// The items for `own` (a parameter's own indices), and for whatever else the editing rules
// moved with it, as the editor would send them: a time base that raises the block time's
// minimum, a leak limit that takes the gross limit along.
std::vector<Item> changed(const std::vector<std::string>& before,
                          const std::vector<std::string>& after, int ownFirst, int ownLast) {
    std::vector<Item> items;
    for (size_t i = 0; i < after.size(); ++i) {
        const int index = static_cast<int>(i);
        if ((index >= ownFirst && index <= ownLast) || after[i] != before[i])
            items.push_back({index, after[i]});
    }
    return items;
}

std::vector<std::string> recordFields(std::string_view record) {
    std::vector<std::string> fields;
    for (size_t start = 0;;) {
        const size_t comma = record.find(',', start);
        fields.emplace_back(record.substr(start, comma - start));
        if (comma == std::string_view::npos)
            return fields;
        start = comma + 1;
    }
}

std::string fieldAt(const std::vector<std::string>& fields, int n) {
    return n >= 0 && static_cast<size_t>(n) < fields.size() ? fields[static_cast<size_t>(n)]
                                                            : std::string();
}

// A plain decimal text ("-13.21") with its point moved by one place either way, digit for
// digit (through a binary number, 8.51 would come back as 85.10001). Other texts unchanged.
std::string shiftPoint(std::string_view text, int places) {
    std::string sign;
    if (!text.empty() && text.front() == '-') {
        sign = "-";
        text.remove_prefix(1);
    }
    const size_t point = text.find('.');
    std::string digits(text.substr(0, point));
    if (point != std::string_view::npos)
        digits += text.substr(point + 1);
    if (digits.empty() ||
        !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return sign + std::string(text);
    long at = static_cast<long>(point == std::string_view::npos ? text.size() : point) + places;
    while (at <= 0) {
        digits.insert(0, 1, '0');
        ++at;
    }
    while (static_cast<size_t>(at) > digits.size())
        digits += '0';
    const std::string whole = digits.substr(0, static_cast<size_t>(at));
    const std::string fraction = digits.substr(static_cast<size_t>(at));
    return sign + whole + (fraction.empty() ? "" : "." + fraction);
}

// A time count in the units its text shows: tenths as "0.5", seconds as they are, and a
// delay of nothing as "OFF". Every count keeps its own text (the editor shows a delay under
// a second as "OFF", which would lose it).
std::string timeText(const std::string& count, bool seconds, bool delay) {
    const auto value = parseNumber(count);
    if (!value)
        return count;
    if (delay && *value == 0)
        return "OFF";
    if (seconds)
        return count;
    const auto n = toInt16(count);
    return n && *n == *value ? formatScaled(*n, 1) : shiftPoint(count, -1);
}

// The wire text of a time as timeText shows it (other values travel as they are shown).
std::string heldWire(std::string_view text, bool seconds, bool delay) {
    if (delay && text == "OFF")
        return "0";
    return seconds ? std::string(text) : shiftPoint(text, 1);
}

const std::string Unreadable = "the instrument's own record cannot be read";

std::string notOnV70(std::string_view stem) {
    return std::string(stem) + ": not a parameter of a V7.0 instrument";
}

} // namespace

Items systemItems(std::string_view systemRecord, std::string_view stem, std::string_view value,
                  Generation g, bool restoring) {
    const SysRow* r = findStem(systemCatalogue(), stem);
    if (!r)
        return "no system parameter \"" + std::string(stem) + "\"";
    if (r->kind == SysKind::OptionInfo)
        return std::string(r->stem) + " is read from the option code (system OptionCode)";
    if (r->v73Only && g == Generation::V70)
        return notOnV70(r->stem);
    // A number taken back as held goes past the editor's rules (and needs no sheet: a state
    // is some thousand of them); the instrument refuses what is no number.
    if (restoring && !r->slider.empty())
        return std::vector<Item>{{r->downloadIndex, r->kind == SysKind::Delay
                                                        ? heldWire(value, false, true)
                                                        : std::string(value)}};
    auto sheet = systemSheet(systemRecord);
    if (!sheet)
        return Unreadable;
    const int last = static_cast<int>(SystemDownloadItems) - 1;
    const auto before = wireTexts(*sheet, last, SystemParamWireText);
    int ownLast = r->downloadIndex;
    switch (r->kind) {
    case SysKind::TwoState: {
        const int which = stateIndex(r->states, value);
        if (which < 0)
            return std::string(r->caption) + ": " + stateList(r->states);
        sheet->selectOption(r->id, which);
        sheet->setText(r->id, std::string(r->states[static_cast<size_t>(which)]));
        break;
    }
    case SysKind::Clock:
        sheet->setText(r->id, std::string(value));
        ownLast = r->downloadIndex + ClockDownloadItems - 1;
        if (SystemParamWireText(*sheet, r->downloadIndex).empty())
            return std::string(r->caption) + ": a time such as Jun 03,2024 09:30";
        break;
    default: {
        if (const auto pos = typedPosition(*sheet, r->id, value)) {
            sheet->setSlider(r->id, *pos);
        } else {
            return rangeText(*sheet, r->id, true);
        }
        break;
    }
    }
    const auto after = wireTexts(*sheet, last, SystemParamWireText);
    return changed(restoring ? after : before, after, r->downloadIndex, ownLast);
}

Items partItems(std::string_view systemRecord, std::string_view partRecord, std::string_view stem,
                std::string_view value, Generation g, bool restoring) {
    const PartRow* r = findStem(partCatalogue(), stem);
    if (!r)
        return "no part parameter \"" + std::string(stem) + "\"";
    if (r->v73Only && g == Generation::V70)
        return notOnV70(r->stem);
    if (restoring && !r->slider.empty()) {
        const bool time = r->kind == PartKind::Duration || r->kind == PartKind::Delay;
        // The time base's flag: "0" is 1 SEC, anything else 0.1 SEC, as an upload reads it.
        const size_t flags = partRecord.find(',') + 1;
        const bool seconds = flags + 1 < partRecord.size() && partRecord[flags + 1] == '0';
        return std::vector<Item>{
            {r->downloadIndex,
             time ? heldWire(value, seconds, r->kind == PartKind::Delay) : std::string(value)}};
    }
    auto sheet = partSheet(systemRecord, partRecord);
    if (!sheet)
        return Unreadable;
    // The keypad stores what it is given within the parameter's range; the editor's
    // compensation limits are the editor's.
    sheet->holdCompensation();
    const int last = static_cast<int>(PartCount) - 1;
    const auto before = wireTexts(*sheet, last, PartParamWireText);
    switch (r->kind) {
    case PartKind::Option: {
        const int which = stateIndex(r->states, value);
        if (which < 0)
            return std::string(r->caption) + ": " + stateList(r->states);
        sheet->selectOption(r->id, which);
        sheet->setText(r->id, std::string(r->states[static_cast<size_t>(which)]));
        break;
    }
    case PartKind::Code:
        sheet->setText(r->id, std::string(value));
        if (value.empty() || sheet->text(r->id) != value) // the rule drops what is no code
            return std::string(r->caption) + ": 0 to 999999";
        break;
    default: {
        if (const auto pos = typedPosition(*sheet, r->id, value)) {
            sheet->setSlider(r->id, *pos);
        } else {
            return rangeText(*sheet, r->id, true);
        }
        break;
    }
    }
    const auto after = wireTexts(*sheet, last, PartParamWireText);
    return changed(restoring ? after : before, after, r->downloadIndex, r->downloadIndex);
}

std::vector<std::string> systemValues(std::string_view systemRecord, Generation g) {
    std::vector<std::string> lines;
    const auto fields = recordFields(systemRecord);
    // The options and the clock as an upload shows them; the numbers as the record holds
    // them, which the editor's rules never change on the way.
    const Sheet sheet = systemSheet(systemRecord).value_or(Sheet());
    for (const SysRow& r : systemCatalogue()) {
        if ((r.kind == SysKind::OptionInfo && r.id != Sys::OptionCode) ||
            (r.v73Only && g == Generation::V70))
            continue;
        std::string text;
        switch (r.kind) {
        case SysKind::TwoState:
        case SysKind::Decimals:
        case SysKind::Clock:
            text = sheet.text(r.id);
            break;
        case SysKind::Delay:
            text = timeText(fieldAt(fields, r.uploadField), false, true);
            break;
        default:
            text = fieldAt(fields, r.uploadField);
            break;
        }
        lines.push_back(std::string(r.stem) + " " + text);
    }
    return lines;
}

std::vector<std::string> partValues(std::string_view systemRecord, std::string_view partRecord,
                                    Generation g) {
    std::vector<std::string> lines;
    const auto fields = recordFields(partRecord);
    const Sheet sheet = partSheet(systemRecord, partRecord).value_or(Sheet());
    for (const PartRow& r : partCatalogue()) {
        if (r.v73Only && g == Generation::V70)
            continue;
        std::string text;
        switch (r.kind) {
        case PartKind::Option:
            text = sheet.text(r.id);
            break;
        case PartKind::Duration:
        case PartKind::Delay:
            text = timeText(fieldAt(fields, r.uploadField), sheet.timeBaseSeconds(),
                            r.kind == PartKind::Delay);
            break;
        default:
            text = fieldAt(fields, r.uploadField);
            break;
        }
        lines.push_back(std::string(r.stem) + " " + text);
    }
    return lines;
}

std::string systemStems() {
    std::string stems;
    for (const SysRow& r : systemCatalogue())
        if (r.kind != SysKind::OptionInfo || r.id == Sys::OptionCode)
            stems += (stems.empty() ? "" : " ") + std::string(r.stem);
    return stems;
}

std::string partStems() {
    std::string stems;
    for (const PartRow& r : partCatalogue())
        stems += (stems.empty() ? "" : " ") + std::string(r.stem);
    return stems;
}

} // namespace pp::sim
