// Entries as text for people and programs: the command line's listing, JSON Lines, CSV.
#pragma once

#include "history/entry.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pp::history {

// The result with, for a download that stopped part-way, where it stopped.
std::string resultText(const Entry& e);

// "ID TIME ACTION SCOPE PART SERIAL RESULT"; "-" for no part number or serial number. An
// approval shows its meaning for the result ("approve part 05 1234 approved"), a revocation
// "revoked"; a reason follows as "; reason: TEXT", each finding of an upload as "; found
// approved: Leak Limit 7.5 -> 9". Control characters, bytes that are not UTF-8 and backslashes
// are shown escaped (\n, \x1b, \\).
std::string listLine(const Entry& e);

// "approved: Leak Limit 1.5 -> 1.6": the basis, the caption, then the expected text and the one
// uploaded.
std::string findingText(const Finding& f);
// "signed by Jane Doe (jdoe) at 2026-12-10T09:14:02.113Z", or "unsigned, local" for an approval
// or revocation made on one PC alone (it never counts for the plant); empty for a transfer.
std::string signatureLabel(const Entry& e);

// One JSON object, no line end, with "reason", "meaning", "subject", "subject_hash" (null when
// none) and "findings" (an array of objects with "basis", "caption", "before", "after"). A byte
// that is not UTF-8 becomes \udcNN (NN: the byte in hex), which no character has, so the output is
// always valid JSON and never ambiguous.
std::string jsonLine(const Entry& e);

// An entry read from a plant server: the listing line with the PC that forwarded it before the
// result ("ID TIME ACTION SCOPE PART SERIAL SOURCE_HOST RESULT"), and the JSON object with the
// keys "source_host", "received" (when the server took it) and "login" (which forwarded it)
// added. An entry the server refused (kept as a link of its PC's chain) ends its line with
// " refused by the server: WHY", and its object gains "refused".
std::string plantListLine(const Entry& e, const std::string& sourceHost,
                          const std::string& refused = {});
std::string plantJsonLine(const Entry& e, const std::string& sourceHost,
                          const std::string& received = {}, const std::string& login = {},
                          const std::string& refused = {});

// The CSV export: a header, then one row per entry, every field quoted, a cell that would
// start a formula (=, +, -, @) preceded by an apostrophe; CR LF line ends. The findings are one
// cell, each as findingText(), joined with "; ".
std::string csvHeader();
std::string csvRow(const Entry& e);

// One JSON object of machine output, built key by key: texts as jsonQuoted() writes them, a
// text that may be missing as null when empty.
class JsonObject {
public:
    JsonObject& text(std::string_view key, std::string_view value);
    JsonObject& textOrNull(std::string_view key, std::string_view value);
    JsonObject& number(std::string_view key, long long value);
    JsonObject& boolean(std::string_view key, bool value);
    JsonObject& boolOrNull(std::string_view key, std::optional<bool> value);
    // A value already written as JSON: an object, an array, null.
    JsonObject& json(std::string_view key, std::string_view value);
    std::string str() const { return out_ + '}'; }

private:
    void key(std::string_view key);
    std::string out_ = "{";
};

// "[a,b]" of values already written as JSON.
std::string jsonArray(const std::vector<std::string>& values);

// {"basis":...,"caption":...,"before":...,"after":...}
std::string findingJson(const Finding& f);

// The rules above, for other listings of the same texts: a text safe for a terminal, a quoted
// JSON string, one CSV row of quoted cells with its CR LF.
std::string terminalText(std::string_view text);
std::string jsonQuoted(std::string_view text);
std::string csvLine(const std::vector<std::string>& cells);

} // namespace pp::history
