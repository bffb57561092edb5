// The one table of every parameter: names, captions, controls, ranges, wire positions,
// report labels and generation. Building the tabs, clearing, decoding, encoding, files and
// the report all walk these rows.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace pp {

enum class Generation : uint8_t { None, V70, V73 };

std::string_view generationWord(Generation g);       // "", "V7.0", "V7.3"
std::string_view generationStatusText(Generation g); // "", "QX7400 V7.2 or earlier", ...

struct SliderRange {
    int16_t min = 0;
    int16_t max = 0;
    int16_t small = 1;
    int16_t large = 10;
    int16_t start = 0;
};

// ---------------------------------------------------------------- system parameters

// In the order in which ClearSystemSheet empties their texts.
enum class Sys : uint8_t {
    Serial,
    EPS,
    DrnVlv,
    OpenDrn,
    DrnVlvDelay,
    CalProtect,
    AbortOP,
    GPRDelay,
    LCDDelay,
    RS232,
    FCDelayStat,
    HFFillVlv,
    PresEngUnits,
    FlowEngUnits,
    FlowNumDecimals,
    PresNumDecimals,
    SysZero,
    NumLeakRdgs,
    ErrFlash,
    RTCPrompt,
    OptionCode,
    OptSysZero,
    OptTempComp,
    Model,
    DateCode,
    CCooler,
    Block,
    RefFailure,
    Time,
    InitFlowChk,
    Count
};
inline constexpr size_t SysCount = static_cast<size_t>(Sys::Count);

enum class SysKind : uint8_t {
    TwoState,  // option pair; first state encodes as 00000
    Delay,     // "OFF" at 0, else p / 10 (tenths on the wire)
    Whole,     // p
    Tens,      // p \ 10 (RS232)
    Decimals,  // p \ 10, drives the decimal counts and locks the part tab
    Clock,     // txtTime and the "Set Time" button
    OptionInfo // read-only option block
};

struct SysRow {
    Sys id;
    std::string_view stem;    // "DrnVlvDelay"
    std::string_view caption; // frame caption, or the label in the option block
    std::string_view textBox; // "txtDrvVlvDelay"
    SysKind kind;
    std::string_view slider;                 // "scrDrnVlvDelay"; empty without slider
    SliderRange range;                       // meaningful with a slider
    std::array<std::string_view, 2> options; // option button names, first / second
    std::array<std::string_view, 2> states;  // their display texts, first / second
    int flagPos;       // position in the upload flag string (1-based); 0 when none
    int uploadField;   // field of the uploaded system record; -1 when none
    int downloadIndex; // index in the download sequence; -1 when none (clock: 19)
    std::string_view reportLabel;
    bool v73Only;
    std::string_view frame; // frame control name, e.g. "frmInitFlowCheck"; may be empty
    // The value is this one instrument's own (its serial number, its clock, what its
    // calibration writes), not a setting: comparisons with an approved set and between
    // instruments leave it out.
    bool instrumentOwn = false;
};

const std::array<SysRow, SysCount>& systemCatalogue();
inline const SysRow& row(Sys id) {
    return systemCatalogue()[static_cast<size_t>(id)];
}

// The clock's button, and how many download items its text becomes (year .. minute).
inline constexpr std::string_view SetTimeButton = "cmdTime";
inline constexpr std::string_view SetTimeCaption = "Set Time";
inline constexpr int ClockDownloadItems = 5;
inline constexpr std::string_view OptionsFrameCaption = "Options";

// ---------------------------------------------------------------- part parameters

// In download-index order, which is also the order of ClearPartSheet.
enum class Part : uint8_t {
    TempComp,
    TimeBase,
    ZeroSel,
    CompTime,
    FillTime,
    StabTime,
    ReadTime,
    BlkTime,
    CCTime,
    FlowZero,
    CompPos,
    CompNeg,
    LeakLimit,
    CalLeak,
    SlopeLimit,
    NegLimit,
    TempFactor,
    FFPres,
    BlkPres,
    CCPres,
    PresHiLim,
    PresLowLim,
    FlowFactor,
    FCDelay,
    GrossLimit,
    PresDecay,
    CustCode,
    CalOffset,
    InitLimit,
    InitTime,
    Count
};
inline constexpr size_t PartCount = static_cast<size_t>(Part::Count);

enum class PartKind : uint8_t { Option, Duration, Delay, Flow, Pressure, Tenths, Count, Code };

struct PartRow {
    Part id;
    std::string_view stem;    // "NegLimit"
    std::string_view caption; // frame caption
    std::string_view textBox; // "txtNeglimit"
    std::string_view slider;  // "scrNegLimit"; empty for options and the customer code
    PartKind kind;
    SliderRange range;
    std::array<std::string_view, 3> options; // option button names (unused ones empty)
    std::array<std::string_view, 3> states;  // their captions / display texts
    int uploadField;                         // field of the uploaded part record (flags: 1)
    int flagPos;                             // position in the part flag string for options; else 0
    int downloadIndex;
    std::string_view reportLabel; // 14 characters
    bool v73Only;
    std::string_view frame;     // "frmInitFlowLimit" etc.; may be empty
    bool instrumentOwn = false; // as SysRow::instrumentOwn
};

const std::array<PartRow, PartCount>& partCatalogue();
inline const PartRow& row(Part id) {
    return partCatalogue()[static_cast<size_t>(id)];
}

// Shown in the customer code's frame next to the typed text.
inline constexpr std::string_view CustCodeRangeText = "Range: 0 to 999999";

} // namespace pp
