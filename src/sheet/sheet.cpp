#include "sheet.h"

#include "number_text.h"

#include <cmath>
#include <cstdio>
#include <optional>

namespace pp {

namespace {

constexpr Slider sliderFrom(const SliderRange& s) {
    return Slider{s.min, s.max, s.small, s.large, s.start};
}

double powerOfTen(int power) {
    double f = 1.0;
    for (int i = 0; i < power; ++i)
        f *= 10.0;
    return f;
}

// A slider position as the value it displays, in single precision as the limits are kept.
float displayValue(int pos, int decimals) {
    return static_cast<float>(static_cast<double>(pos) / powerOfTen(decimals));
}

// 16-bit arithmetic as the instrument's editor does it; an overflow fails the computation.
std::optional<int16_t> checked16(long value) {
    if (value < -32768 || value > 32767)
        return std::nullopt;
    return static_cast<int16_t>(value);
}

bool isCustomerCode(const std::string& text) {
    if (text.size() > 6)
        return false;
    for (char c : text)
        if (c < '0' || c > '9')
            return false;
    return true;
}

// A slider refuses a position outside its range; only a real move runs its rule.
enum class Move { Refused, Same, Moved };
Move moveSlider(Slider& s, int pos) {
    if (pos < s.min || pos > s.max)
        return Move::Refused;
    if (pos == s.pos)
        return Move::Same;
    s.pos = static_cast<int16_t>(pos);
    return Move::Moved;
}

int optionCount(const PartRow& r) {
    int n = 0;
    for (auto b : r.options)
        if (!b.empty())
            ++n;
    return n;
}

} // namespace

Sheet::Sheet() {
    for (const auto& r : systemCatalogue())
        sysSlider_[idx(r.id)] = r.slider.empty() ? Slider{} : sliderFrom(r.range);
    for (const auto& r : partCatalogue())
        partSlider_[idx(r.id)] = r.slider.empty() ? Slider{} : sliderFrom(r.range);
    sysOption_.fill(-1);
    partOption_.fill(-1);
}

// ---------------------------------------------------------------- system sheet

void Sheet::setText(Sys id, std::string text) {
    if (sysText_[idx(id)] == text)
        return;
    sysText_[idx(id)] = std::move(text);
    runTextRule(id);
}

bool Sheet::setSlider(Sys id, int pos) {
    if (row(id).slider.empty())
        return false;
    const Move m = moveSlider(sysSlider_[idx(id)], pos);
    if (m == Move::Moved)
        runSliderRule(id);
    return m != Move::Refused;
}

void Sheet::selectOption(Sys id, int which) {
    if (row(id).kind != SysKind::TwoState || which < 0 || which > 1)
        return;
    if (sysOption_[idx(id)] == which)
        return;
    sysOption_[idx(id)] = which;
    runOptionRule(id);
}

void Sheet::runSliderRule(Sys id) {
    const int p = sysSlider_[idx(id)].pos;
    switch (row(id).kind) {
    case SysKind::Delay:
        setText(id, p == 0 ? std::string("OFF") : formatScaled(p, 1));
        break;
    case SysKind::Whole:
        setText(id, formatInt(p));
        break;
    case SysKind::Tens:
        setText(id, formatInt(p / 10));
        break;
    case SysKind::Decimals:
        setText(id, formatInt(p / 10));
        // A new decimal count invalidates the scaling of loaded part values.
        commands.partTab = false;
        break;
    case SysKind::TwoState:
    case SysKind::Clock:
    case SysKind::OptionInfo:
        break;
    }
}

void Sheet::runOptionRule(Sys id) {
    const int which = sysOption_[idx(id)];
    if (which >= 0)
        setText(id, std::string(row(id).states[static_cast<size_t>(which)]));
}

void Sheet::runTextRule(Sys id) {
    if (row(id).kind != SysKind::Decimals)
        return;
    const std::string& t = sysText_[idx(id)];
    int count = 0;
    if (!t.empty()) {
        // Only a whole count of 0..2 means anything; anything else leaves the count alone.
        auto v = parseNumber(t);
        if (!v || *v != std::floor(*v) || *v < 0 || *v > 2)
            return;
        count = static_cast<int>(*v);
    }
    setDecimalCount(id, count);
}

void Sheet::setDecimalCount(Sys id, int count) {
    if (count < 0 || count > 2)
        return;
    if (id == Sys::PresNumDecimals) {
        presDecimals_ = count;
    } else if (id == Sys::FlowNumDecimals) {
        flowDecimals_ = count;
        static constexpr float maxima[] = {999.0f, 99.9f, 9.99f};
        flowMax_ = maxima[count];
    }
}

void Sheet::pressSetTime(const std::tm& localNow) {
    setText(Sys::Time, clockText(localNow.tm_year + 1900, localNow.tm_mon + 1, localNow.tm_mday,
                                 localNow.tm_hour, localNow.tm_min));
}

void Sheet::ClearSystemSheet() {
    for (const auto& r : systemCatalogue())
        setText(r.id, std::string());
}

// ---------------------------------------------------------------- part sheet

void Sheet::setText(Part id, std::string text) {
    if (partText_[idx(id)] == text)
        return;
    partText_[idx(id)] = std::move(text);
    runTextRule(id);
}

bool Sheet::setSlider(Part id, int pos) {
    if (row(id).slider.empty())
        return false;
    const Move m = moveSlider(partSlider_[idx(id)], pos);
    if (m == Move::Moved)
        runSliderRule(id);
    return m != Move::Refused;
}

void Sheet::setSliderMin(Part id, int min) {
    if (row(id).slider.empty())
        return;
    Slider& s = partSlider_[idx(id)];
    if (min > s.max)
        min = s.max;
    if (min < -32768)
        min = -32768;
    s.min = static_cast<int16_t>(min);
    // Keep the position in range, with its text following it.
    if (s.pos < s.min) {
        s.pos = s.min;
        runSliderRule(id);
    }
}

void Sheet::selectOption(Part id, int which) {
    const PartRow& r = row(id);
    if (r.kind != PartKind::Option || which < 0 || which >= optionCount(r))
        return;
    if (partOption_[idx(id)] == which)
        return;
    partOption_[idx(id)] = which;
    runOptionRule(id);
}

void Sheet::runOptionRule(Part id) {
    const int which = partOption_[idx(id)];
    if (which < 0)
        return;
    const std::string_view state = row(id).states[static_cast<size_t>(which)];
    setText(id, std::string(state));
    if (id != Part::TimeBase)
        return;
    // The time counts keep their slider positions and change their unit.
    setSliderMin(Part::BlkTime, state == "1 SEC" ? 1 : 8);
    for (Part t : {Part::CompTime, Part::FillTime, Part::ReadTime, Part::StabTime, Part::BlkTime,
                   Part::CCTime, Part::FCDelay})
        runSliderRule(t);
    if (generation_ == Generation::V73)
        runSliderRule(Part::InitTime);
}

void Sheet::runSliderRule(Part id) {
    const int p = partSlider_[idx(id)].pos;
    const bool seconds = timeBaseSeconds();
    std::string text;
    switch (row(id).kind) {
    case PartKind::Duration:
        text = seconds ? formatInt(p) : formatScaled(p, 1);
        break;
    case PartKind::Delay:
        if (p < (seconds ? 1 : 10))
            text = "OFF";
        else
            text = seconds ? formatInt(p) : formatScaled(p, 1);
        break;
    case PartKind::Flow:
        text = formatScaled(p, flowDecimals_);
        break;
    case PartKind::Pressure:
        text = formatScaled(p, presDecimals_);
        break;
    case PartKind::Tenths:
        text = formatScaled(p, 1);
        break;
    case PartKind::Count:
        text = formatInt(p);
        break;
    case PartKind::Option:
    case PartKind::Code:
        return;
    }
    setText(id, std::move(text));
}

void Sheet::runTextRule(Part id) {
    switch (id) {
    case Part::CustCode:
        customerCodeRule();
        break;
    case Part::FlowZero:
    case Part::TempFactor:
    case Part::FlowFactor:
        compensationLimitRule();
        break;
    case Part::CompPos:
    case Part::CompNeg:
        compensationRule(id);
        break;
    case Part::LeakLimit:
    case Part::GrossLimit:
        grossLimitRule();
        break;
    default:
        break;
    }
}

void Sheet::customerCodeRule() {
    // One to six decimal digits; a sign, point, exponent or blank would not survive the
    // six-character download field, so such a text is dropped as a whole.
    if (!isCustomerCode(text(Part::CustCode)))
        setText(Part::CustCode, std::string());
}

void Sheet::grossLimitRule() {
    auto leak = toFloat(text(Part::LeakLimit));
    auto gross = toFloat(text(Part::GrossLimit));
    if (!leak || !gross || !(*leak > *gross))
        return;
    setText(Part::GrossLimit, text(Part::LeakLimit));
    if (auto pos = scaleToInt16(*leak, flowDecimals_))
        setSlider(Part::GrossLimit, *pos);
}

bool Sheet::computeCompLimits() {
    compCurrent_ = false;
    const std::string& zt = text(Part::FlowZero);
    const std::string& tt = text(Part::TempFactor);
    const std::string& ft = text(Part::FlowFactor);
    if (zt.empty() || tt.empty() || ft.empty())
        return false;
    auto z = toInt16(zt);
    auto f = parseNumber(ft);
    auto t = toFloat(tt);
    if (!z || !f || !t || *f == 0.0)
        return false;
    auto posSpan = checked16(4095L - *z);
    auto negSpan = checked16(static_cast<long>(*z) - 100L);
    if (!posSpan || !negSpan)
        return false;
    auto posTwice = checked16(*posSpan * 2L);
    auto negTwice = checked16(*negSpan * 2L);
    if (!posTwice || !negTwice)
        return false;
    CompLimits c;
    c.posMax = static_cast<float>(*posTwice / *f);
    c.negMax = static_cast<float>(*negTwice / *f);
    if (!std::isfinite(c.posMax) || !std::isfinite(c.negMax))
        return false;
    if (c.posMax > flowMax_)
        c.posMax = flowMax_;
    if (c.negMax > flowMax_)
        c.negMax = flowMax_;
    if (*t <= 0.0f) {
        c.posLimit = c.posMax;
        c.negLimit = c.negMax;
    } else {
        c.posLimit = c.posMax / *t;
        c.negLimit = c.negMax / *t;
    }
    comp_ = c;
    compCurrent_ = true;
    return true;
}

void Sheet::compensationLimitRule() {
    if (computeCompLimits()) {
        compensationRule(Part::CompPos);
        compensationRule(Part::CompNeg);
    }
}

int Sheet::limitPosition(Part comp, float limit) const {
    const Slider& s = slider(comp);
    if (!(limit >= 0.0f))
        return s.min; // a negative limit holds the compensation at its floor
    if (displayValue(s.max, flowDecimals_) <= limit)
        return s.max;
    // Start from the scaled limit and settle on the largest position not above it.
    long p = static_cast<long>(std::floor(static_cast<double>(limit) * powerOfTen(flowDecimals_)));
    if (p > s.max)
        p = s.max;
    if (p < s.min)
        p = s.min;
    while (p < s.max && displayValue(static_cast<int>(p + 1), flowDecimals_) <= limit)
        ++p;
    while (p > s.min && displayValue(static_cast<int>(p), flowDecimals_) > limit)
        --p;
    return static_cast<int>(p);
}

void Sheet::compensationRule(Part comp) {
    // Limits left over from other values must not cut the ones being applied.
    if (compHold_ > 0 || !compCurrent_)
        return;
    const float limit = comp == Part::CompPos ? comp_.posLimit : comp_.negLimit;
    if (displayValue(slider(comp).pos, flowDecimals_) > limit)
        setSlider(comp, limitPosition(comp, limit));
}

void Sheet::holdCompensation() {
    ++compHold_;
}

void Sheet::releaseCompensation() {
    if (compHold_ == 0)
        return;
    if (--compHold_ == 0)
        compensationLimitRule();
}

void Sheet::ClearPartSheet() {
    for (const auto& r : partCatalogue())
        setText(r.id, std::string());
}

void Sheet::takeOwnSystemValues(const Sheet& from) {
    for (const auto& r : systemCatalogue())
        if (r.instrumentOwn) {
            sysText_[idx(r.id)] = from.sysText_[idx(r.id)];
            sysSlider_[idx(r.id)] = from.sysSlider_[idx(r.id)];
            sysOption_[idx(r.id)] = from.sysOption_[idx(r.id)];
        }
}

void Sheet::takeOwnPartValues(const Sheet& from) {
    for (const auto& r : partCatalogue())
        if (r.instrumentOwn) {
            partText_[idx(r.id)] = from.partText_[idx(r.id)];
            partSlider_[idx(r.id)] = from.partSlider_[idx(r.id)];
            partOption_[idx(r.id)] = from.partOption_[idx(r.id)];
        }
    compCurrent_ = false; // the compensation limits came from the values replaced
}

// ---------------------------------------------------------------- sheet-wide values

void Sheet::SetFirmwareGeneration(Generation g) {
    if (g == Generation::V70) {
        generation_ = Generation::V70;
        lastSysIndex_ = 24;
        lastPartIndex_ = 27;
    } else {
        generation_ = Generation::V73;
        lastSysIndex_ = 25;
        lastPartIndex_ = 29;
    }
}

namespace {

std::string twoDigits(const std::string& pn) {
    return pn.size() < 2 ? std::string(2 - pn.size(), '0') + pn : pn;
}

// Numbers sort by value; anything else after them. (long long: a long has 32 bits on Windows.)
long long sortKey(const std::string& pn) {
    if (pn.empty() || pn.size() > 9)
        return 1LL << 40;
    long long v = 0;
    for (char c : pn) {
        if (c < '0' || c > '9')
            return 1LL << 40;
        v = v * 10 + (c - '0');
    }
    return v;
}

} // namespace

void Sheet::AddPartNumber(const std::string& pn) {
    // Entries are always two digits, so "7" and "07" are the same part number.
    std::string entry = twoDigits(pn);
    for (const auto& e : partNumbers_)
        if (e == entry)
            return;
    const long long key = sortKey(entry);
    auto at = partNumbers_.begin();
    while (at != partNumbers_.end() && sortKey(*at) <= key)
        ++at;
    partNumbers_.insert(at, std::move(entry));
}

void Sheet::RemovePartNumber(const std::string& pn) {
    for (auto it = partNumbers_.begin(); it != partNumbers_.end(); ++it) {
        if (*it == pn) {
            partNumbers_.erase(it);
            return;
        }
    }
}

std::string clockText(int year, int month, int day, int hour, int minute) {
    static constexpr const char* months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                             "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const char* name = month >= 1 && month <= 12 ? months[month - 1] : "???";
    char buf[64];
    std::snprintf(buf, sizeof buf, "%s %02d,%04d %02d:%02d", name, day, year, hour, minute);
    return buf;
}

} // namespace pp
