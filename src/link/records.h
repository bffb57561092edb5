// Uploaded records into the sheet, and the sheet into download field texts.
#pragma once

#include "sheet/sheet.h"

#include <optional>
#include <string>
#include <string_view>

namespace pp {

// Each decoder takes the frame content (the response body, command character first) and
// returns the failure text for status panel 1 ("Check sum error", ...), or nothing when the
// record was applied. A record that fails a check changes nothing at all.
std::optional<std::string> DecodeSystemRecord(Sheet& sheet, std::string_view record);
std::optional<std::string> DecodePartRecord(Sheet& sheet, std::string_view record);

// The option block from the option code text (model, date code, five flags).
void DecodeOptionCode(Sheet& sheet, std::string_view code);

// Seconds since 2004-01-01 00:00:00 as "MMM DD,YYYY HH:MM"; empty for a text that is not a
// count or a negative count.
std::string ClockTextFromSeconds(std::string_view count);

// Wire text of one download field before padding; empty for an unknown index.
std::string SystemParamWireText(const Sheet& sheet, int index);
std::string PartParamWireText(const Sheet& sheet, int index);

} // namespace pp
