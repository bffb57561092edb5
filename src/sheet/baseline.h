// What the technician could lose or has changed: a sheet's display texts compared with what a
// file or an instrument holds. The editor keeps these beside the sheet; no editing rule reads
// them.
#pragma once

#include "sheet.h"

#include <array>
#include <map>
#include <optional>
#include <string>
#include <utility>

namespace pp {

// The system parameters as a file or the instrument keeps them.
struct SystemTexts {
    std::array<std::string, SysCount> texts;
    Generation generation = Generation::None;
    bool empty() const;
    bool operator==(const SystemTexts&) const = default;
};

// One part number's parameters.
struct PartTexts {
    std::array<std::string, PartCount> texts;
    std::string partNumber;
    bool empty() const; // no part values loaded (the part number alone does not count)
    bool operator==(const PartTexts&) const = default;
};

struct SheetContent {
    SystemTexts system;
    PartTexts part;
    static SheetContent of(const Sheet& sheet);
    bool operator==(const SheetContent&) const = default;
};

// Whether the sheet holds exactly these texts (compared in place). The part number is where
// the part values go, not a value: it does not count.
bool matches(const Sheet& sheet, const SystemTexts& texts);
bool matches(const Sheet& sheet, const PartTexts& texts);
// Whether a scope of the sheet holds no values at all (cleared, or nothing loaded).
bool systemEmpty(const Sheet& sheet);
bool partEmpty(const Sheet& sheet);
// A part value the part download would send is empty (a customer code typed onto a sheet whose
// part was never read): every such field would reach the instrument as zero.
bool partValuesMissing(const Sheet& sheet);

// The texts each instrument (by its serial number) held when last read or written in this
// run: its system parameters and those of each part number.
class UploadMemory {
public:
    void record(const std::string& serial, const SystemTexts& texts);
    void record(const std::string& serial, const PartTexts& texts); // under its part number
    const SystemTexts* system(const std::string& serial) const;
    const PartTexts* part(const std::string& serial, const std::string& partNumber) const;

private:
    std::map<std::string, SystemTexts> system_;
    std::map<std::pair<std::string, std::string>, PartTexts> part_;
};

// For each parameter whose text differs from the instrument's, the instrument's text; and for
// each setting whose text differs from the approved set, the approved text.
struct Marks {
    std::array<std::optional<std::string>, SysCount> system;
    std::array<std::optional<std::string>, PartCount> part;
    std::array<std::optional<std::string>, SysCount> approvedSystem;
    std::array<std::optional<std::string>, PartCount> approvedPart;
    bool any() const;
    bool operator==(const Marks&) const = default;
};

// The approved sets of the sheet's instrument, for its system parameters and its part number.
struct ApprovedTexts {
    std::optional<SystemTexts> system;
    std::optional<PartTexts> part;
};

// The sheet against what `memory` holds for the instrument `serial` and the sheet's part
// number, and against `approved` (its settings only: the values that belong to the instrument
// itself differ from any approved set). A scope that is empty on the sheet (cleared, nothing
// loaded) has no marks.
Marks changedFrom(const Sheet& sheet, const UploadMemory& memory, const std::string& serial,
                  const ApprovedTexts& approved = {});

} // namespace pp
