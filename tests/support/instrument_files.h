// What the simulated instrument holds, as the window's reader and writer see it: its system
// record and the record of one part number decoded on a fresh sheet, without any session.
#pragma once

#include "files/param_file.h"
#include "link/frames.h"
#include "link/records.h"
#include "sheet/sheet.h"
#include "sim/instrument.h"

#include <optional>
#include <string>

namespace pp::test {

inline std::optional<Sheet> instrumentSheet(const sim::Instrument& sim, int part) {
    Sheet sheet;
    if (DecodeSystemRecord(sheet, sim.systemRecord()))
        return std::nullopt;
    sheet.setPartSelection(ZeroPad(std::to_string(part), 2));
    if (DecodePartRecord(sheet, sim.partRecord(part)))
        return std::nullopt;
    return sheet;
}

// The parameter file of that sheet, or a note why there is none.
inline std::string instrumentFile(const sim::Instrument& sim, int part) {
    const auto sheet = instrumentSheet(sim, part);
    return sheet ? ParamFileText(*sheet) : std::string("record refused");
}

} // namespace pp::test
