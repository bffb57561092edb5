// A number typed into a slider parameter's text box, and the range a technician is told: the
// slider's range in the units its text shows. The typed text never becomes the display text:
// it only chooses the slider position, whose rule then writes the text.
#pragma once

#include "sheet.h"

#include <optional>
#include <string>
#include <string_view>

namespace pp {

// The position the typed value stands for: the value times the parameter's scale (10^decimals,
// the time base for times), rounded to nearest with ties to even. Nothing when the text is not
// a number or the position lies outside the slider's range. "OFF" is position 0 of a delay.
std::optional<int> typedPosition(const Sheet& sheet, Sys id, std::string_view text);
std::optional<int> typedPosition(const Sheet& sheet, Part id, std::string_view text);

// "Leak Limit: 0 to 99.9", and with the unit the text is shown in: "Leak Limit: 0 to 99.9 CCM".
std::string rangeText(const Sheet& sheet, Sys id, bool withUnit = false);
std::string rangeText(const Sheet& sheet, Part id, bool withUnit = false);

} // namespace pp
