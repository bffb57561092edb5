#include "mode.h"

#include "frames.h"

namespace pp {

const std::array<OperatingMode, 4>& operatingModes() {
    static constexpr std::array<OperatingMode, 4> modes{{
        {'0', "SETUP"},
        {'1', "CALIBRATE"},
        {'2', "RUN"},
        {'3', "DATA"},
    }};
    return modes;
}

std::string_view modeName(char digit) {
    for (const OperatingMode& m : operatingModes())
        if (m.digit == digit)
            return m.name;
    return {};
}

std::optional<char> modeDigit(std::string_view name) {
    for (const OperatingMode& m : operatingModes()) {
        if (name.size() != m.name.size())
            continue;
        bool same = true;
        for (size_t i = 0; i < name.size() && same; ++i) {
            const char c = name[i] >= 'a' && name[i] <= 'z' ? char(name[i] - 'a' + 'A') : name[i];
            same = c == m.name[i];
        }
        if (same)
            return m.digit;
    }
    return std::nullopt;
}

ModeReport readModeReport(std::string_view answer) {
    ModeReport r;
    if (answer.size() >= 2)
        r.digit = answer[1];
    r.testRunning = answer.size() >= 3 && answer[2] == '1';
    return r;
}

bool partConfigured(std::string_view answer, int n) {
    const auto at = static_cast<size_t>(n); // "A" first: part number n at index n
    return n >= 1 && n <= 32 && at < answer.size() && answer[at] == '1';
}

std::vector<std::string> configuredPartNumbers(std::string_view answer) {
    std::vector<std::string> configured;
    for (int n = 1; n <= 32; ++n)
        if (partConfigured(answer, n))
            configured.push_back(ZeroPad(std::to_string(n), 2));
    return configured;
}

} // namespace pp
