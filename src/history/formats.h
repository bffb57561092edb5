// Entries as text for people and programs: the command line's listing, JSON Lines, CSV.
#pragma once

#include "history/entry.h"

#include <string>

namespace pp::history {

// The result with, for a download that stopped part-way, where it stopped.
std::string resultText(const Entry& e);

// "ID TIME ACTION SCOPE PART SERIAL RESULT"; "-" for no part number or serial number.
std::string listLine(const Entry& e);

// One JSON object, no line end. Bytes that are not UTF-8 are kept as the characters of the
// same codes, so the output is always valid JSON.
std::string jsonLine(const Entry& e);

// An entry read from a plant server: the listing line with the PC that forwarded it before the
// result ("ID TIME ACTION SCOPE PART SERIAL SOURCE_HOST RESULT"), and the JSON object with the
// key "source_host" added.
std::string plantListLine(const Entry& e, const std::string& sourceHost);
std::string plantJsonLine(const Entry& e, const std::string& sourceHost);

// The CSV export: a header, then one row per entry, every field quoted; CR LF line ends.
std::string csvHeader();
std::string csvRow(const Entry& e);

} // namespace pp::history
