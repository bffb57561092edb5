// Number texts as the sheet, the wire and the files use them: "." as the decimal point,
// no blanks, no thousands separators, no trailing zeros.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace pp {

// Reads a decimal number ("12", " -3.5 ", "1e3", "+.5"). Surrounding blanks are allowed;
// anything else that is not part of the number makes it fail.
std::optional<double> parseNumber(std::string_view text);

// The text as a 16-bit integer: rounded to nearest, ties to even (2.5 -> 2, 3.5 -> 4);
// fails on a non-number and outside -32768..32767.
std::optional<int16_t> toInt16(std::string_view text);

// The text read as a 32-bit float; fails on a non-number and on a value a float cannot hold.
std::optional<float> toFloat(std::string_view text);

// value * 10^power formed in double precision from the float's exact value, then rounded
// like toInt16 (0.35f * 10 gives 3). Fails outside the 16-bit range.
std::optional<int16_t> scaleToInt16(float value, int power);

// toFloat, then scaleToInt16.
std::optional<int16_t> textScaledToInt16(std::string_view text, int power);

// Shortest decimal form of a double (25 / 10.0 -> "2.5", 20 / 10.0 -> "2", 5 / 100.0 -> "0.05").
std::string formatNumber(double value);

// Shortest decimal form of a single-precision value, at most 7 significant digits.
std::string formatSingle(float value);

// Integer as decimal text.
std::string formatInt(long long value);

// p / 10^power written in shortest form.
std::string formatScaled(int position, int power);

} // namespace pp
