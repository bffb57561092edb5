// The operating mode and part-number answers: "8", the mode digit and the test-running flag;
// "A" and one character per part number 1..32, '1' where it is configured.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pp {

struct OperatingMode {
    char digit;            // as the frames carry it
    std::string_view name; // as the mode window and the command line show it
};
// By digit: SETUP, CALIBRATE, RUN, DATA.
const std::array<OperatingMode, 4>& operatingModes();
// "RUN" for '2'; empty for a digit no mode has.
std::string_view modeName(char digit);
// SETUP, CALIBRATE, RUN or DATA in any case -> its digit.
std::optional<char> modeDigit(std::string_view name);

struct ModeReport {
    char digit = '\0'; // '\0' when the answer is too short to hold one
    bool testRunning = false;
};
ModeReport readModeReport(std::string_view answer);

// Part number n (1..32) is configured: '1' at position n + 1 of the answer (counted from 1).
bool partConfigured(std::string_view answer, int n);
// "01".."32" of every configured part number, ascending.
std::vector<std::string> configuredPartNumbers(std::string_view answer);

} // namespace pp
