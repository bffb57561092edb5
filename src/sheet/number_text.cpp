#include "number_text.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace pp {

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view trimBlanks(std::string_view s) {
    while (!s.empty() && isBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

// Checks the shape [sign] digits [. digits] [e [sign] digits] with at least one mantissa digit.
bool hasNumberShape(std::string_view s) {
    size_t i = 0;
    if (i < s.size() && (s[i] == '+' || s[i] == '-'))
        ++i;
    size_t digits = 0;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
        ++i;
        ++digits;
    }
    if (i < s.size() && s[i] == '.') {
        ++i;
        while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
            ++i;
            ++digits;
        }
    }
    if (digits == 0)
        return false;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        if (i < s.size() && (s[i] == '+' || s[i] == '-'))
            ++i;
        size_t expDigits = 0;
        while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
            ++i;
            ++expDigits;
        }
        if (expDigits == 0)
            return false;
    }
    return i == s.size();
}

template <typename T> std::optional<T> parseAs(std::string_view text) {
    std::string_view s = trimBlanks(text);
    if (!hasNumberShape(s))
        return std::nullopt;
    bool negative = false;
    if (s.front() == '+' || s.front() == '-') {
        negative = s.front() == '-';
        s.remove_prefix(1);
    }
    T value{};
    auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
    if (ec != std::errc() || ptr != s.data() + s.size() || !std::isfinite(value))
        return std::nullopt;
    return negative ? -value : value;
}

std::optional<int16_t> roundToInt16(double value) {
    if (!std::isfinite(value))
        return std::nullopt;
    double r = std::nearbyint(value); // default rounding mode: nearest, ties to even
    if (r < -32768.0 || r > 32767.0)
        return std::nullopt;
    return static_cast<int16_t>(r);
}

double powerOfTen(int power) {
    double f = 1.0;
    for (int i = 0; i < power; ++i)
        f *= 10.0;
    for (int i = 0; i > power; --i)
        f /= 10.0;
    return f;
}

} // namespace

std::optional<double> parseNumber(std::string_view text) {
    return parseAs<double>(text);
}

std::optional<int16_t> toInt16(std::string_view text) {
    auto v = parseAs<double>(text);
    if (!v)
        return std::nullopt;
    return roundToInt16(*v);
}

std::optional<float> toFloat(std::string_view text) {
    return parseAs<float>(text);
}

std::optional<int16_t> scaleToInt16(float value, int power) {
    return roundToInt16(static_cast<double>(value) * powerOfTen(power));
}

std::optional<int16_t> textScaledToInt16(std::string_view text, int power) {
    auto f = toFloat(text);
    if (!f)
        return std::nullopt;
    return scaleToInt16(*f, power);
}

std::string formatNumber(double value) {
    if (value == 0.0 || !std::isfinite(value))
        return value == 0.0 ? "0" : std::string();
    char buf[400];
    auto [ptr, ec] = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed);
    if (ec != std::errc())
        return std::string();
    return std::string(buf, ptr);
}

std::string formatSingle(float value) {
    if (value == 0.0f || !std::isfinite(value))
        return value == 0.0f ? "0" : std::string();
    // Seven significant digits, then written out without an exponent.
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.6e", static_cast<double>(value));
    std::string s(buf);
    bool negative = s.front() == '-';
    if (negative)
        s.erase(0, 1);
    size_t e = s.find('e');
    int exponent = std::atoi(s.c_str() + e + 1);
    std::string digits = s.substr(0, 1) + s.substr(2, e - 2); // 7 digits, point removed
    while (digits.size() > 1 && digits.back() == '0')
        digits.pop_back();
    std::string out;
    if (exponent < 0) {
        out = "0." + std::string(static_cast<size_t>(-exponent - 1), '0') + digits;
    } else if (static_cast<size_t>(exponent) + 1 >= digits.size()) {
        out = digits + std::string(static_cast<size_t>(exponent) + 1 - digits.size(), '0');
    } else {
        out = digits.substr(0, static_cast<size_t>(exponent) + 1) + "." +
              digits.substr(static_cast<size_t>(exponent) + 1);
    }
    return negative ? "-" + out : out;
}

std::string formatInt(long long value) {
    return std::to_string(value);
}

std::string formatScaled(int position, int power) {
    if (power <= 0)
        return formatInt(position);
    return formatNumber(static_cast<double>(position) / powerOfTen(power));
}

} // namespace pp
