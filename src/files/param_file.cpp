#include "param_file.h"

#include "link/frames.h"
#include "link/records.h"
#include "sheet/compare.h"
#include "sheet/number_text.h"

#include <algorithm>
#include <array>
#include <limits>

namespace pp {

// ---------------------------------------------------------------- fields

void FieldReader::skipBlanks() {
    while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\t'))
        ++pos_;
}

void FieldReader::skipLineEnd() {
    if (pos_ < text_.size() && text_[pos_] == '\r')
        ++pos_;
    if (pos_ < text_.size() && text_[pos_] == '\n')
        ++pos_;
}

static bool isLineEnd(char c) {
    return c == '\r' || c == '\n';
}

std::optional<std::string> FieldReader::next() {
    for (;;) {
        skipBlanks();
        if (pos_ >= text_.size())
            return std::nullopt;
        if (!afterComma_ && isLineEnd(text_[pos_])) {
            skipLineEnd(); // an empty line
            continue;
        }
        break;
    }

    std::string field;
    if (text_[pos_] == '"') {
        const size_t close = text_.find('"', pos_ + 1);
        if (close == std::string_view::npos) {
            field = text_.substr(pos_ + 1);
            pos_ = text_.size();
        } else {
            field = text_.substr(pos_ + 1, close - pos_ - 1);
            pos_ = close + 1;
        }
        // Anything between the closing quote and the delimiter is dropped.
        const size_t end = text_.find_first_of(",\r\n", pos_);
        pos_ = end == std::string_view::npos ? text_.size() : end;
    } else {
        size_t end = text_.find_first_of(",\r\n", pos_);
        if (end == std::string_view::npos)
            end = text_.size();
        size_t last = end;
        while (last > pos_ && (text_[last - 1] == ' ' || text_[last - 1] == '\t'))
            --last;
        field = text_.substr(pos_, last - pos_);
        pos_ = end;
    }

    afterComma_ = false;
    if (pos_ < text_.size()) {
        if (text_[pos_] == ',') {
            ++pos_;
            afterComma_ = true;
        } else {
            skipLineEnd();
        }
    }
    return field;
}

// ---------------------------------------------------------------- layout

namespace {

// Line 1, in file order.
constexpr std::array<Sys, 22> SystemLine{
    Sys::Serial,          Sys::EPS,          Sys::DrnVlv,          Sys::OpenDrn,
    Sys::DrnVlvDelay,     Sys::CalProtect,   Sys::LCDDelay,        Sys::AbortOP,
    Sys::GPRDelay,        Sys::SysZero,      Sys::RS232,           Sys::FCDelayStat,
    Sys::HFFillVlv,       Sys::PresEngUnits, Sys::PresNumDecimals, Sys::FlowEngUnits,
    Sys::FlowNumDecimals, Sys::NumLeakRdgs,  Sys::ErrFlash,        Sys::RTCPrompt,
    Sys::OptionCode,      Sys::Time};

// Line 2 after the part number, in file order.
constexpr std::array<Part, 28> PartLine{
    Part::TimeBase,   Part::CompTime,  Part::CompPos,    Part::CompNeg,    Part::TempFactor,
    Part::TempComp,   Part::FillTime,  Part::FFPres,     Part::StabTime,   Part::ReadTime,
    Part::FCDelay,    Part::LeakLimit, Part::GrossLimit, Part::CalLeak,    Part::ZeroSel,
    Part::SlopeLimit, Part::NegLimit,  Part::PresHiLim,  Part::PresLowLim, Part::BlkTime,
    Part::BlkPres,    Part::CCTime,    Part::CCPres,     Part::FlowZero,   Part::FlowFactor,
    Part::PresDecay,  Part::CustCode,  Part::CalOffset};

// Line 2 in the order it is applied: the time base before every time, the compensation
// inputs before the values they limit.
constexpr std::array<Part, 28> PartApplyOrder{
    Part::TimeBase,   Part::CompTime, Part::TempFactor, Part::FlowZero,  Part::FlowFactor,
    Part::CompPos,    Part::CompNeg,  Part::TempComp,   Part::FillTime,  Part::FFPres,
    Part::StabTime,   Part::ReadTime, Part::FCDelay,    Part::LeakLimit, Part::GrossLimit,
    Part::CalLeak,    Part::ZeroSel,  Part::SlopeLimit, Part::NegLimit,  Part::PresHiLim,
    Part::PresLowLim, Part::BlkTime,  Part::BlkPres,    Part::CCTime,    Part::CCPres,
    Part::PresDecay,  Part::CustCode, Part::CalOffset};

void appendField(std::string& out, std::string_view text, bool first) {
    if (!first)
        out += ',';
    out += '"';
    out += text;
    out += '"';
}

// ---------------------------------------------------------------- reading rules

std::optional<int> integer(std::string_view text) {
    auto v = toInt16(text);
    return v ? std::optional<int>(*v) : std::nullopt;
}

std::optional<int> scaled(std::string_view text, int power) {
    auto v = textScaledToInt16(text, power);
    return v ? std::optional<int>(*v) : std::nullopt;
}

std::optional<int> integerTimes10(std::string_view text) {
    auto v = integer(text);
    if (!v || *v * 10 > std::numeric_limits<int16_t>::max() ||
        *v * 10 < std::numeric_limits<int16_t>::min())
        return std::nullopt;
    return *v * 10;
}

std::optional<int> systemSliderValue(const SysRow& r, const std::string& text) {
    switch (r.kind) {
    case SysKind::Delay:
        return text == "OFF" ? std::optional<int>(0) : scaled(text, 1);
    case SysKind::Tens:
    case SysKind::Decimals:
        return integerTimes10(text);
    default:
        return integer(text);
    }
}

std::optional<int> partSliderValue(const Sheet& sheet, const PartRow& r, const std::string& text) {
    const bool seconds = sheet.timeBaseSeconds();
    switch (r.kind) {
    case PartKind::Duration:
        return seconds ? integer(text) : scaled(text, 1);
    case PartKind::Delay:
        if (text == "OFF")
            return seconds ? 0 : 9;
        return seconds ? integer(text) : scaled(text, 1);
    case PartKind::Flow:
        return scaled(text, sheet.flowDecimals());
    case PartKind::Pressure:
        return scaled(text, sheet.presDecimals());
    case PartKind::Tenths:
        return scaled(text, 1);
    default:
        return integer(text);
    }
}

// A state text chooses its button; any other text chooses the group's fallback button.
int partOptionFor(const PartRow& r, const std::string& text) {
    for (size_t i = 0; i < r.states.size(); ++i)
        if (!r.states[i].empty() && r.states[i] == text)
            return static_cast<int>(i);
    std::string_view fallback;
    switch (r.id) {
    case Part::TimeBase:
        fallback = "0.1 SEC";
        break;
    case Part::TempComp:
        fallback = "ON";
        break;
    default:
        fallback = "OFFSET";
        break;
    }
    for (size_t i = 0; i < r.states.size(); ++i)
        if (r.states[i] == fallback)
            return static_cast<int>(i);
    return 0;
}

// Sets the text, then the control that belongs to it; the control's rule may render the
// text again. False when the text gives no slider position in range.
bool applyField(Sheet& sheet, Sys id, const std::string& text) {
    sheet.setText(id, text);
    const SysRow& r = row(id);
    switch (r.kind) {
    case SysKind::TwoState:
        sheet.selectOption(id, text == r.states[0] ? 0 : 1);
        return true;
    case SysKind::Clock:
    case SysKind::OptionInfo:
        return true;
    default: {
        auto pos = systemSliderValue(r, text);
        return pos && sheet.setSlider(id, *pos);
    }
    }
}

bool applyField(Sheet& sheet, Part id, const std::string& text) {
    sheet.setText(id, text);
    const PartRow& r = row(id);
    switch (r.kind) {
    case PartKind::Option:
        sheet.selectOption(id, partOptionFor(r, text));
        return true;
    case PartKind::Code:
        return true;
    default: {
        auto pos = partSliderValue(sheet, r, text);
        return pos && sheet.setSlider(id, *pos);
    }
    }
}

// Holds the compensation rules off until the file's own flow zero, flow factor and
// temperature factor are in place, then applies the limits once.
class CompensationHold {
public:
    explicit CompensationHold(Sheet& sheet) : sheet_(sheet) { sheet_.holdCompensation(); }
    ~CompensationHold() { sheet_.releaseCompensation(); }
    CompensationHold(const CompensationHold&) = delete;
    CompensationHold& operator=(const CompensationHold&) = delete;

private:
    Sheet& sheet_;
};

bool applyPartLine(Sheet& sheet, FieldReader& in) {
    auto partNumber = in.next();
    if (!partNumber)
        return false;
    std::array<std::string, PartCount> texts;
    for (Part id : PartLine) {
        auto f = in.next();
        if (!f)
            return false;
        texts[static_cast<size_t>(id)] = std::move(*f);
    }

    const std::string pn = ZeroPad(*partNumber, 2);
    sheet.AddPartNumber(pn);
    sheet.setPartSelection(pn);

    CompensationHold hold(sheet);
    for (Part id : PartApplyOrder)
        if (!applyField(sheet, id, texts[static_cast<size_t>(id)]))
            return false;
    return true;
}

template <typename Id, size_t N> size_t orderOf(const std::array<Id, N>& order, Id id) {
    for (size_t i = 0; i < N; ++i)
        if (order[i] == id)
            return i;
    return N; // not on the line (initial flow check): after it
}

} // namespace

bool applyFieldTexts(Sheet& sheet, const FieldTexts& texts, FieldFailure* failed) {
    auto fail = [failed](bool system, int index) {
        if (failed)
            *failed = {system, index};
        return false;
    };
    auto system = texts.system;
    std::stable_sort(system.begin(), system.end(), [](const auto& a, const auto& b) {
        return orderOf(SystemLine, a.first) < orderOf(SystemLine, b.first);
    });
    bool optionCode = false;
    for (const auto& [id, text] : system) {
        if (!applyField(sheet, id, text))
            return fail(true, static_cast<int>(id));
        optionCode = optionCode || id == Sys::OptionCode;
    }
    if (optionCode)
        DecodeOptionCode(sheet, sheet.text(Sys::OptionCode));

    if (texts.partNumber) {
        const std::string pn = ZeroPad(*texts.partNumber, 2);
        sheet.AddPartNumber(pn);
        sheet.setPartSelection(pn);
    }
    if (texts.part.empty())
        return true;
    auto part = texts.part;
    std::stable_sort(part.begin(), part.end(), [](const auto& a, const auto& b) {
        return orderOf(PartApplyOrder, a.first) < orderOf(PartApplyOrder, b.first);
    });
    CompensationHold hold(sheet);
    for (const auto& [id, text] : part)
        if (!applyField(sheet, id, text))
            return fail(false, static_cast<int>(id));
    return true;
}

// ---------------------------------------------------------------- writing

std::string ParamFileText(const Sheet& sheet) {
    std::string out;
    bool first = true;
    for (Sys id : SystemLine) {
        appendField(out, sheet.text(id), first);
        first = false;
    }
    out += "\r\n";

    appendField(out, sheet.partSelection(), true);
    for (Part id : PartLine)
        appendField(out, sheet.text(id), false);
    out += "\r\n";

    if (sheet.generation() == Generation::V73) {
        appendField(out, sheet.text(Sys::InitFlowChk), true);
        appendField(out, sheet.text(Part::InitLimit), false);
        appendField(out, sheet.text(Part::InitTime), false);
        out += "\r\n";
    }
    return out;
}

namespace {

bool storable(std::string_view text) {
    return text.find_first_of("\"\r\n") == std::string_view::npos;
}

} // namespace

std::optional<std::string> unstorableField(const Sheet& sheet) {
    for (Sys id : SystemLine)
        if (!storable(sheet.text(id)))
            return std::string(row(id).caption);
    if (!storable(sheet.partSelection()))
        return std::string(PartNumberCaption);
    for (Part id : PartLine)
        if (!storable(sheet.text(id)))
            return std::string(row(id).caption);
    if (sheet.generation() == Generation::V73) {
        if (!storable(sheet.text(Sys::InitFlowChk)))
            return std::string(row(Sys::InitFlowChk).caption);
        for (Part id : {Part::InitLimit, Part::InitTime})
            if (!storable(sheet.text(id)))
                return std::string(row(id).caption);
    }
    return std::nullopt;
}

bool WriteParamFile(const Sheet& sheet, const std::string& path, Window& window, FileSystem& fs) {
    // A file that would not read back as it was written is never written: the old one stays.
    const std::optional<std::string> unstorable = unstorableField(sheet);
    if (!unstorable && !path.empty() && replaceFileContent(fs, path, ParamFileText(sheet)))
        return true;
    window.message(ErrorWritingFile);
    window.setStatus(unstorable ? std::string(FileErrorStatus) + ": " + *unstorable +
                                      " holds a double quote or a line break"
                                : std::string(FileErrorStatus));
    return false;
}

// ---------------------------------------------------------------- reading

namespace {

// The whole file, or (withPart false) the system parameters of a file whose part line is
// empty, as a system transfer leaves the sheet: that line is skipped and the part sheet stays
// empty.
bool applyFileText(Sheet& sheet, std::string_view content, Window& window, bool withPart) {
    sheet.ClearPartSheet();
    sheet.ClearSystemSheet();
    FieldReader in(content);

    for (Sys id : SystemLine) {
        auto f = in.next();
        if (!f || !applyField(sheet, id, *f))
            return false;
    }
    DecodeOptionCode(sheet, sheet.text(Sys::OptionCode));
    // The decimal counts are the integers of their texts, so flow and pressure values of the
    // part line are scaled by the file's counts: where a slider was already at the file's
    // position its rule did not run, and a text such as "1.6" sets no count by itself.
    for (Sys id : {Sys::FlowNumDecimals, Sys::PresNumDecimals})
        if (auto count = toInt16(sheet.text(id)))
            sheet.setDecimalCount(id, *count);

    if (withPart && !applyPartLine(sheet, in))
        return false;
    for (size_t i = 0; !withPart && i < 1 + PartLine.size(); ++i)
        if (!in.next())
            return false;

    Commands& c = sheet.commands;
    if (withPart)
        c.save = c.saveAs = c.print = true;
    else
        c.save = c.saveAs = false; // without part values a save would not read back
    c.sdDownload = c.partUpload = c.partDownload = true;
    c.partTab = true;

    sheet.SetFirmwareGeneration(Generation::V73);
    std::array<std::string, 3> initFlow;
    size_t taken = 0;
    for (; taken < initFlow.size(); ++taken) {
        auto f = in.next();
        if (!f)
            break;
        initFlow[taken] = std::move(*f);
    }
    if (taken < initFlow.size()) {
        // The file ends before the initial flow check line is complete: the earlier layout.
        const Answer answer = window.message(ConvertQuestion, Buttons::YesNo, ConvertCaption);
        sheet.SetFirmwareGeneration(answer == Answer::Yes ? Generation::V73 : Generation::V70);
        initFlow = {"OFF", "0", "0"};
    }
    if (!withPart)
        return applyField(sheet, Sys::InitFlowChk, initFlow[0]);
    return applyField(sheet, Sys::InitFlowChk, initFlow[0]) &&
           applyField(sheet, Part::InitLimit, initFlow[1]) &&
           applyField(sheet, Part::InitTime, initFlow[2]);
}

} // namespace

bool systemOnlyFile(std::string_view content) {
    FieldReader in(content);
    for (size_t i = 0; i < SystemLine.size(); ++i)
        if (!in.next())
            return false;
    for (size_t i = 0; i < 1 + PartLine.size(); ++i) {
        auto f = in.next();
        if (!f || !f->empty())
            return false;
    }
    return true;
}

bool applyParamFileText(Sheet& sheet, std::string_view content, Window& window) {
    return applyFileText(sheet, content, window, !systemOnlyFile(content));
}

bool applySystemFileText(Sheet& sheet, std::string_view content, Window& window) {
    return applyFileText(sheet, content, window, false);
}

bool ReadParamFile(Sheet& sheet, const std::string& path, Window& window, FileSystem& fs) {
    std::optional<std::string> content = path.empty() ? std::nullopt : fs.readAll(path);
    if (content) {
        Sheet work = sheet;
        if (applyParamFileText(work, *content, window)) {
            sheet = std::move(work);
            return true;
        }
    }
    window.message(ErrorReadingFile);
    window.setStatus(FileErrorStatus);
    return false;
}

} // namespace pp
