#include "typed_value.h"

#include "number_text.h"

namespace pp {

namespace {

constexpr std::string_view Seconds = "SEC";

// How many decimals the text of a slider shows, and its unit.
struct Scale {
    int power = 0;
    std::string unit;
};

Scale scaleOf(const Sheet&, const SysRow& r) {
    switch (r.kind) {
    case SysKind::Delay:
    case SysKind::Tens:
    case SysKind::Decimals:
        return {1, {}};
    default:
        return {0, {}};
    }
}

Scale scaleOf(const Sheet& sheet, const PartRow& r) {
    const int time = sheet.timeBaseSeconds() ? 0 : 1;
    switch (r.kind) {
    case PartKind::Duration:
    case PartKind::Delay:
        return {time, std::string(Seconds)};
    case PartKind::Flow:
        return {sheet.flowDecimals(), sheet.text(Sys::FlowEngUnits)};
    case PartKind::Pressure:
        return {sheet.presDecimals(), sheet.text(Sys::PresEngUnits)};
    case PartKind::Tenths:
        return {1, {}};
    default:
        return {0, {}};
    }
}

bool isDelay(const SysRow& r) {
    return r.kind == SysKind::Delay;
}
bool isDelay(const PartRow& r) {
    return r.kind == PartKind::Delay;
}

template <typename Id>
std::optional<int> position(const Sheet& sheet, Id id, std::string_view text) {
    const auto& r = row(id);
    if (r.slider.empty())
        return std::nullopt;
    const Slider& s = sheet.slider(id);
    std::optional<int16_t> pos;
    if (isDelay(r) && text == "OFF")
        pos = s.min;
    else if (const int power = scaleOf(sheet, r).power; power == 0)
        pos = toInt16(text);
    else
        pos = textScaledToInt16(text, power);
    if (!pos || *pos < s.min || *pos > s.max)
        return std::nullopt;
    return *pos;
}

template <typename Id> std::string range(const Sheet& sheet, Id id, bool withUnit) {
    const auto& r = row(id);
    const Scale scale = scaleOf(sheet, r);
    const Slider& s = sheet.slider(id);
    std::string text = std::string(r.caption) + ": " + formatScaled(s.min, scale.power) + " to " +
                       formatScaled(s.max, scale.power);
    if (withUnit && !scale.unit.empty())
        text += " " + scale.unit;
    return text;
}

} // namespace

std::optional<int> typedPosition(const Sheet& sheet, Sys id, std::string_view text) {
    return position(sheet, id, text);
}

std::optional<int> typedPosition(const Sheet& sheet, Part id, std::string_view text) {
    return position(sheet, id, text);
}

std::string rangeText(const Sheet& sheet, Sys id, bool withUnit) {
    return range(sheet, id, withUnit);
}

std::string rangeText(const Sheet& sheet, Part id, bool withUnit) {
    return range(sheet, id, withUnit);
}

} // namespace pp
