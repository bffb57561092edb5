#include "baseline.h"

#include <algorithm>

namespace pp {

namespace {

template <size_t N> bool allEmpty(const std::array<std::string, N>& texts) {
    return std::all_of(texts.begin(), texts.end(), [](const std::string& t) { return t.empty(); });
}

} // namespace

bool SystemTexts::empty() const {
    return allEmpty(texts);
}

bool PartTexts::empty() const {
    return allEmpty(texts);
}

SheetContent SheetContent::of(const Sheet& sheet) {
    SheetContent c;
    for (const SysRow& r : systemCatalogue())
        c.system.texts[static_cast<size_t>(r.id)] = sheet.text(r.id);
    c.system.generation = sheet.generation();
    for (const PartRow& r : partCatalogue())
        c.part.texts[static_cast<size_t>(r.id)] = sheet.text(r.id);
    c.part.partNumber = sheet.partSelection();
    return c;
}

bool matches(const Sheet& sheet, const SystemTexts& texts) {
    if (sheet.generation() != texts.generation)
        return false;
    for (const SysRow& r : systemCatalogue())
        if (sheet.text(r.id) != texts.texts[static_cast<size_t>(r.id)])
            return false;
    return true;
}

bool matches(const Sheet& sheet, const PartTexts& texts) {
    for (const PartRow& r : partCatalogue())
        if (sheet.text(r.id) != texts.texts[static_cast<size_t>(r.id)])
            return false;
    return true;
}

void UploadMemory::record(const std::string& serial, const SystemTexts& texts) {
    system_[serial] = texts;
}

void UploadMemory::record(const std::string& serial, const PartTexts& texts) {
    part_[{serial, texts.partNumber}] = texts;
}

const SystemTexts* UploadMemory::system(const std::string& serial) const {
    const auto it = system_.find(serial);
    return it == system_.end() ? nullptr : &it->second;
}

const PartTexts* UploadMemory::part(const std::string& serial,
                                    const std::string& partNumber) const {
    const auto it = part_.find({serial, partNumber});
    return it == part_.end() ? nullptr : &it->second;
}

bool Marks::any() const {
    auto set = [](const auto& m) { return m.has_value(); };
    return std::any_of(system.begin(), system.end(), set) ||
           std::any_of(part.begin(), part.end(), set) ||
           std::any_of(approvedSystem.begin(), approvedSystem.end(), set) ||
           std::any_of(approvedPart.begin(), approvedPart.end(), set);
}

namespace {
template <typename Catalogue> bool noTexts(const Sheet& sheet, const Catalogue& catalogue) {
    return std::all_of(catalogue.begin(), catalogue.end(),
                       [&sheet](const auto& r) { return sheet.text(r.id).empty(); });
}
} // namespace

bool systemEmpty(const Sheet& sheet) {
    return noTexts(sheet, systemCatalogue());
}

bool partEmpty(const Sheet& sheet) {
    return noTexts(sheet, partCatalogue());
}

bool partValuesMissing(const Sheet& sheet) {
    for (const PartRow& r : partCatalogue())
        if (r.downloadIndex <= sheet.lastPartIndex() && sheet.text(r.id).empty())
            return true;
    return false;
}

Marks changedFrom(const Sheet& sheet, const UploadMemory& memory, const std::string& serial,
                  const ApprovedTexts& approved) {
    // Runs at every mirror of the window: compares in place, copies nothing.
    Marks marks;
    if (const SystemTexts* ref = memory.system(serial); ref && !systemEmpty(sheet)) {
        for (const SysRow& r : systemCatalogue()) {
            const size_t i = static_cast<size_t>(r.id);
            if (sheet.text(r.id) != ref->texts[i])
                marks.system[i] = ref->texts[i];
        }
    }
    if (const PartTexts* ref = memory.part(serial, sheet.partSelection());
        ref && !partEmpty(sheet)) {
        for (const PartRow& r : partCatalogue()) {
            const size_t i = static_cast<size_t>(r.id);
            if (sheet.text(r.id) != ref->texts[i])
                marks.part[i] = ref->texts[i];
        }
    }
    if (approved.system && !systemEmpty(sheet)) {
        for (const SysRow& r : systemCatalogue()) {
            const size_t i = static_cast<size_t>(r.id);
            if (!r.instrumentOwn && r.kind != SysKind::OptionInfo &&
                sheet.text(r.id) != approved.system->texts[i])
                marks.approvedSystem[i] = approved.system->texts[i];
        }
    }
    // "5" typed and "05" approved are one part number.
    auto two = [](const std::string& pn) { return pn.size() == 1 ? "0" + pn : pn; };
    if (approved.part && !partEmpty(sheet) &&
        two(approved.part->partNumber) == two(sheet.partSelection())) {
        for (const PartRow& r : partCatalogue()) {
            const size_t i = static_cast<size_t>(r.id);
            if (!r.instrumentOwn && sheet.text(r.id) != approved.part->texts[i])
                marks.approvedPart[i] = approved.part->texts[i];
        }
    }
    return marks;
}

} // namespace pp
