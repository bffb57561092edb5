#include "keypad.h"

#include "link/records.h"
#include "sheet/number_text.h"
#include "sheet/typed_value.h"

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
        if (const auto pos = typedPosition(*sheet, r->id, value))
            sheet->setSlider(r->id, *pos);
        else if (restoring) // the instrument refuses it if it is no number
            sheet->setText(r->id, std::string(value));
        else
            return rangeText(*sheet, r->id, true);
        break;
    }
    }
    return changed(before, wireTexts(*sheet, last, SystemParamWireText), r->downloadIndex, ownLast);
}

Items partItems(std::string_view systemRecord, std::string_view partRecord, std::string_view stem,
                std::string_view value, Generation g, bool restoring) {
    const PartRow* r = findStem(partCatalogue(), stem);
    if (!r)
        return "no part parameter \"" + std::string(stem) + "\"";
    if (r->v73Only && g == Generation::V70)
        return notOnV70(r->stem);
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
        if (const auto pos = typedPosition(*sheet, r->id, value))
            sheet->setSlider(r->id, *pos);
        else if (restoring) // the instrument refuses it if it is no number
            sheet->setText(r->id, std::string(value));
        else
            return rangeText(*sheet, r->id, true);
        break;
    }
    }
    return changed(before, wireTexts(*sheet, last, PartParamWireText), r->downloadIndex,
                   r->downloadIndex);
}

std::vector<std::string> systemValues(std::string_view systemRecord, Generation g) {
    std::vector<std::string> lines;
    const Sheet sheet = systemSheet(systemRecord).value_or(Sheet());
    for (const SysRow& r : systemCatalogue()) {
        if ((r.kind == SysKind::OptionInfo && r.id != Sys::OptionCode) ||
            (r.v73Only && g == Generation::V70))
            continue;
        lines.push_back(std::string(r.stem) + " " + sheet.text(r.id));
    }
    return lines;
}

std::vector<std::string> partValues(std::string_view systemRecord, std::string_view partRecord,
                                    Generation g) {
    std::vector<std::string> lines;
    const Sheet sheet = partSheet(systemRecord, partRecord).value_or(Sheet());
    for (const PartRow& r : partCatalogue()) {
        if (r.v73Only && g == Generation::V70)
            continue;
        lines.push_back(std::string(r.stem) + " " + sheet.text(r.id));
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
