// What differs between two sheets: the display texts a parameter file or a download carries,
// one row per parameter, named by the caption a technician reads on the tab.
#pragma once

#include "sheet/sheet.h"

#include <string>
#include <string_view>
#include <vector>

namespace pp {

enum class CompareGroup { System, Part };

struct Difference {
    CompareGroup group;
    std::string caption;
    std::string a; // text in the first sheet
    std::string b; // text in the second sheet
    // Which parameter: its catalogue index in the group, -1 for the part number. Follows from
    // the caption, so it does not take part in comparing rows.
    int index = -1;
    bool operator==(const Difference& o) const {
        return group == o.group && caption == o.caption && a == o.a && b == o.b;
    }
};

// The part number has no frame of its own; this names it in a comparison.
inline constexpr std::string_view PartNumberCaption = "Part Number";

// System rows first, then the part number and the part rows, each in catalogue order. The
// option block counts by its option code alone (the rest is decoded from it). The initial
// flow check rows count only when either sheet is of the V7.3 generation.
std::vector<Difference> compareSheets(const Sheet& a, const Sheet& b);

// What an instrument's settings of one group differ in from `expected`: compareSheets without
// the values that belong to the instrument itself (the catalogue's instrumentOwn rows: serial
// number, clock, what calibrating writes) and without the part number. What an approved set
// or another instrument is compared by.
std::vector<Difference> compareSettings(const Sheet& expected, const Sheet& actual,
                                        CompareGroup group);

// What calibrating changed between two sets of one instrument: the instrumentOwn rows of the
// group that calibration writes (System Zero; of a part Flow Zero, Flow Factor, Zero Offset),
// not its serial number or its clock.
std::vector<Difference> compareCalibration(const Sheet& expected, const Sheet& actual,
                                           CompareGroup group);

// An instrument's serial number as the number it is: blanks around it and leading zeros do not
// make another instrument ("04321" and " 4321" are 4321). Text that is no number stays as it is.
std::string serialKey(std::string_view serial);
bool sameSerial(std::string_view a, std::string_view b);

// "Leak Limit 7.5 -> 9": a value's caption, what it was and what it is.
std::string changeText(std::string_view caption, std::string_view before, std::string_view after);

// "caption: a -> b"
std::string differenceLine(const Difference& d);

} // namespace pp
