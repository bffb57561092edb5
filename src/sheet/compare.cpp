#include "compare.h"

namespace pp {

namespace {

// Texts a file stores: the option block only through its option code, which alone has an
// upload field of its own.
bool stored(const SysRow& r) {
    return r.kind != SysKind::OptionInfo || r.uploadField >= 0;
}

void addIfDifferent(std::vector<Difference>& out, CompareGroup group, std::string_view caption,
                    const std::string& a, const std::string& b, int index) {
    if (a != b)
        out.push_back({group, std::string(caption), a, b, index});
}

// "5" typed into the selector and "05" from a file or an entry are one part number: the frame
// carries both as 05.
std::string partNumberKey(const std::string& text) {
    if (text.size() == 1 && text[0] >= '0' && text[0] <= '9')
        return "0" + text;
    return text;
}

} // namespace

std::vector<Difference> compareSheets(const Sheet& a, const Sheet& b) {
    const bool v73 = a.generation() == Generation::V73 || b.generation() == Generation::V73;
    std::vector<Difference> out;
    for (const SysRow& r : systemCatalogue()) {
        if (!stored(r) || (r.v73Only && !v73))
            continue;
        addIfDifferent(out, CompareGroup::System, r.caption, a.text(r.id), b.text(r.id),
                       static_cast<int>(r.id));
    }
    if (partNumberKey(a.partSelection()) != partNumberKey(b.partSelection()))
        out.push_back({CompareGroup::Part, std::string(PartNumberCaption), a.partSelection(),
                       b.partSelection(), -1});
    for (const PartRow& r : partCatalogue()) {
        if (r.v73Only && !v73)
            continue;
        addIfDifferent(out, CompareGroup::Part, r.caption, a.text(r.id), b.text(r.id),
                       static_cast<int>(r.id));
    }
    return out;
}

namespace {

bool instrumentOwn(const Difference& d) {
    return d.group == CompareGroup::System ? row(static_cast<Sys>(d.index)).instrumentOwn
                                           : row(static_cast<Part>(d.index)).instrumentOwn;
}

// The instrument's identity and time, not what it measures with.
bool identityOrClock(const Difference& d) {
    if (d.group != CompareGroup::System)
        return false;
    const SysRow& r = row(static_cast<Sys>(d.index));
    return r.id == Sys::Serial || r.kind == SysKind::Clock;
}

} // namespace

std::vector<Difference> compareSettings(const Sheet& expected, const Sheet& actual,
                                        CompareGroup group) {
    std::vector<Difference> out = compareSheets(expected, actual);
    std::erase_if(out, [group](const Difference& d) {
        return d.group != group || d.index < 0 || instrumentOwn(d);
    });
    return out;
}

std::vector<Difference> compareCalibration(const Sheet& expected, const Sheet& actual,
                                           CompareGroup group) {
    std::vector<Difference> out = compareSheets(expected, actual);
    std::erase_if(out, [group](const Difference& d) {
        return d.group != group || d.index < 0 || !instrumentOwn(d) || identityOrClock(d);
    });
    return out;
}

std::string changeText(std::string_view caption, std::string_view before, std::string_view after) {
    std::string out(caption);
    out += ' ';
    out += before;
    out += " -> ";
    out += after;
    return out;
}

std::string differenceLine(const Difference& d) {
    return d.caption + ": " + d.a + " -> " + d.b;
}

std::string serialKey(std::string_view serial) {
    const size_t first = serial.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return {};
    const size_t last = serial.find_last_not_of(" \t");
    std::string_view trimmed = serial.substr(first, last - first + 1);
    if (trimmed.find_first_not_of("0123456789") != std::string_view::npos)
        return std::string(trimmed);
    const size_t digit = trimmed.find_first_not_of('0');
    return digit == std::string_view::npos ? std::string("0") : std::string(trimmed.substr(digit));
}

bool sameSerial(std::string_view a, std::string_view b) {
    return serialKey(a) == serialKey(b);
}

} // namespace pp
