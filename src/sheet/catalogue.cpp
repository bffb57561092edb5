#include "catalogue.h"

namespace pp {

namespace {

constexpr SliderRange noSlider{};
constexpr std::array<std::string_view, 2> none2{};
constexpr std::array<std::string_view, 3> none3{};

// Two-state system parameter: an option pair carried by the upload flag string (field 0).
constexpr SysRow twoState(Sys id, std::string_view stem, std::string_view caption,
                          std::string_view textBox, std::array<std::string_view, 2> buttons,
                          std::array<std::string_view, 2> states, int flagPos, int download,
                          std::string_view label, bool v73Only = false,
                          std::string_view frame = {}) {
    return SysRow{id, stem,     caption, textBox, SysKind::TwoState,
                  {}, noSlider, buttons, states,  flagPos,
                  0,  download, label,   v73Only, frame};
}

// System parameter shown by a slider.
constexpr SysRow sliderRow(Sys id, std::string_view stem, std::string_view caption,
                           std::string_view textBox, SysKind kind, std::string_view slider,
                           SliderRange range, int flagPos, int uploadField, int download,
                           std::string_view label) {
    return SysRow{id,    stem,    caption,     textBox,  kind,  slider, range, none2,
                  none2, flagPos, uploadField, download, label, false,  {}};
}

// Read-only row of the option block; its text comes from decoding the option code.
constexpr SysRow optionInfo(Sys id, std::string_view stem, std::string_view label,
                            std::string_view textBox, int uploadField,
                            std::string_view reportLabel) {
    return SysRow{id,    stem, label,       textBox, SysKind::OptionInfo, {},    noSlider, none2,
                  none2, 0,    uploadField, -1,      reportLabel,         false, {}};
}

// A row whose value belongs to the instrument it was read from.
template <typename Row> constexpr Row own(Row row) {
    row.instrumentOwn = true;
    return row;
}

constexpr std::array<SysRow, SysCount> systemRows{{
    own(sliderRow(Sys::Serial, "Serial", "Serial Number", "txtSerial", SysKind::Whole, "scrSerial",
                  {0, 10000, 1, 100, 0}, 0, 7, 15, "QX7400  SN: ")),
    twoState(Sys::EPS, "EPS", "External Program Select", "txtEPS", {"optEPSOff", "optEPSOn"},
             {"OFF", "ON"}, 3, 0, "EPS: "),
    twoState(Sys::DrnVlv, "DrnVlv", "Drain Valve", "txtDrnVlv", {"optDVNOpen", "optDVNClosed"},
             {"N OPEN", "N CLOSED"}, 4, 1, "DRAIN VLV: "),
    twoState(Sys::OpenDrn, "OpenDrn", "Open Drain", "txtOpenDrn", {"optODNo", "optODYes"},
             {"NO", "YES"}, 5, 2, "OPEN DRAIN: "),
    sliderRow(Sys::DrnVlvDelay, "DrnVlvDelay", "Drain Valve Delay", "txtDrvVlvDelay",
              SysKind::Delay, "scrDrnVlvDelay", {0, 999, 1, 10, 0}, 0, 1, 7, "DV DELAY: "),
    twoState(Sys::CalProtect, "CalProtect", "Calibration Protect", "txtCalProtect",
             {"optCPOff", "optCPOn"}, {"OFF", "ON"}, 6, 3, "CAL PROTECT: "),
    twoState(Sys::AbortOP, "AbortOP", "Abort Outputs", "txtAbortOP", {"optAOOff", "optAOOn"},
             {"OFF", "ON"}, 7, 4, "ABORT OP: "),
    sliderRow(Sys::GPRDelay, "GPRDelay", "GP Relay Delay", "txtGPRDelay", SysKind::Delay,
              "scrGPRDelay", {0, 999, 1, 10, 0}, 0, 3, 9, "GPR DELAY: "),
    sliderRow(Sys::LCDDelay, "LCDDelay", "LCD Blank Delay", "txtLCDDelay", SysKind::Delay,
              "scrLCDDelay", {0, 999, 1, 10, 0}, 0, 2, 8, "LCD DELAY: "),
    sliderRow(Sys::RS232, "RS232", "RS232 Output Format", "txtRS232", SysKind::Tens, "scrRS232",
              {10, 40, 10, 10, 10}, 0, 4, 5, "RS232 FORMAT: "),
    twoState(Sys::FCDelayStat, "FCDelayStat", "Fast Cycle", "txtFCDelayStat",
             {"optFCOff", "optFCOn"}, {"OFF", "ON"}, 12, 10, "FAST CYCLE: "),
    twoState(Sys::HFFillVlv, "HFFillVlv", "High Flow Fill Valve", "txtHFFillVlv",
             {"optFVOpen", "optFVClosed"}, {"OPEN", "CLOSED"}, 8, 6, "HF FILL VLV: "),
    twoState(Sys::PresEngUnits, "PresEngUnits", "Pressure - Engineering Units", "txtPresEngUnits",
             {"optPresPSI", "optPresKPA"}, {"PSI", "kPa"}, 11, 12, "PRES UNITS: "),
    twoState(Sys::FlowEngUnits, "FlowEngUnits", "Flow - Engineering Units", "txtFlowEngUnits",
             {"optFlowCCM", "optFlowLPM"}, {"CCM", "LPM"}, 13, 17, "FLOW UNITS: "),
    // The decimal counts travel as single digits inside the flag string.
    sliderRow(Sys::FlowNumDecimals, "FlowNumDecimals", "Flow - Number of Decimals",
              "txtFlowNumDecimals", SysKind::Decimals, "scrFlowNumDecimals", {0, 20, 10, 10, 0}, 10,
              0, 14, "FLOW DEC: "),
    sliderRow(Sys::PresNumDecimals, "PresNumDecimals", "Pressure - Number of Decimals",
              "txtPresNumDecimals", SysKind::Decimals, "scrPresNumDecimals", {0, 20, 10, 10, 0}, 9,
              0, 13, "PRES DEC: "),
    // The transducer's zero, found by calibrating.
    own(sliderRow(Sys::SysZero, "SysZero", "System Zero", "txtSysZero", SysKind::Whole,
                  "scrSysZero", {1, 4095, 1, 10, 10}, 0, 5, 11, "SYS ZERO: ")),
    sliderRow(Sys::NumLeakRdgs, "NumLeakRdgs", "Number of Leak Readings", "txtNumLeakRdgs",
              SysKind::Whole, "scrNumLeakRdgs", {5, 60, 1, 10, 5}, 0, 8, 16, "#LEAK RDGS: "),
    twoState(Sys::ErrFlash, "ErrFlash", "Error Display Flash", "txtErrFlash",
             {"optErrFlashOff", "optErrFlashOn"}, {"OFF", "ON"}, 14, 18, "ERR DISPLAY: "),
    twoState(Sys::RTCPrompt, "RTCPrompt", "Real Time Clock Prompt", "txtRTCPrompt",
             {"optRTCPromptOFF", "optRTCPromptON"}, {"OFF", "ON"}, 15, 24, "RTC PROMPT: "),
    optionInfo(Sys::OptionCode, "OptionCode", "Option Code", "txtOptionCode", 6, {}),
    optionInfo(Sys::OptSysZero, "OptSysZero", "System Zero", "txtOptSysZero", -1, "SYSTEM ZERO: "),
    optionInfo(Sys::OptTempComp, "OptTempComp", "Temp Compensation", "txtOptTempComp", -1,
               "TEMP COMPENSATION: "),
    optionInfo(Sys::Model, "Model", "Model", "txtModel", -1, "MODEL: "),
    optionInfo(Sys::DateCode, "DateCode", "Date", "txtDateCode", -1, "DATE CODE: "),
    optionInfo(Sys::CCooler, "CCooler", "Cross Cooler Test", "txtCCooler", -1,
               "CROSS COOLER TEST: "),
    optionInfo(Sys::Block, "Block", "Block Test", "txtBlock", -1, "BLOCKED COOLER TEST: "),
    optionInfo(Sys::RefFailure, "RefFailure", "Reference Failure", "txtRefFailure", -1,
               "REFERENCE FAILURE: "),
    // Downloaded as five items (year, month, day, hour, minute) at 19..23.
    SysRow{Sys::Time,
           "Time",
           "Time",
           "txtTime",
           SysKind::Clock,
           {},
           noSlider,
           none2,
           none2,
           0,
           9,
           19,
           "TIME: ",
           false,
           {},
           true},
    twoState(Sys::InitFlowChk, "InitFlowChk", "Initial Flow Check", "txtInitFlowChk",
             {"optIFCOff", "optIFCOn"}, {"OFF", "ON"}, 16, 25, "INIT FLOW CHK: ", true,
             "frmInitFlowCheck"),
}};

// Part slider rows: every part slider steps 1 / 10; the upload field is one less than the
// download index because the three options share field 1.
constexpr PartRow partSlider(Part id, std::string_view stem, std::string_view caption,
                             std::string_view textBox, std::string_view slider, PartKind kind,
                             int16_t min, int16_t max, int16_t start, std::string_view label,
                             bool v73Only = false, std::string_view frame = {}) {
    const int index = static_cast<int>(id);
    return PartRow{id,    stem,  caption,   textBox, slider, kind,  {min, max, 1, 10, start},
                   none3, none3, index - 1, 0,       index,  label, v73Only,
                   frame};
}

constexpr PartRow partOption(Part id, std::string_view stem, std::string_view caption,
                             std::string_view textBox, std::array<std::string_view, 3> buttons,
                             std::array<std::string_view, 3> states, int flagPos,
                             std::string_view label) {
    return PartRow{id,       stem,    caption, textBox, {},      PartKind::Option,
                   noSlider, buttons, states,  1,       flagPos, static_cast<int>(id),
                   label,    false,   {}};
}

constexpr std::array<PartRow, PartCount> partRows{{
    partOption(Part::TempComp, "TempComp", "Temperature Compensation", "txtTempComp",
               {"optTCOn", "optTCOff", {}}, {"ON", "OFF", {}}, 1, "TEMP COMP:    "),
    partOption(Part::TimeBase, "TimeBase", "Time Base", "txtTimeBase",
               {"optTBFast", "optTBSlow", {}}, {"0.1 SEC", "1 SEC", {}}, 2, "TIME BASE:    "),
    partOption(Part::ZeroSel, "ZeroSel", "Zero Selection", "txtZeroSel",
               {"optZSCal", "optZSStab", "optZSOffset"}, {"CAL", "STAB", "OFFSET"}, 3,
               "ZERO SEL:     "),
    partSlider(Part::CompTime, "CompTime", "Comp Time", "txtCompTime", "scrCompTime",
               PartKind::Duration, 0, 999, 0, "COMP TIME:    "),
    partSlider(Part::FillTime, "FillTime", "Fill Time", "txtFillTime", "scrFillTime",
               PartKind::Duration, 0, 999, 0, "FILL TIME:    "),
    partSlider(Part::StabTime, "StabTime", "Stab Time", "txtStabTime", "scrStabTime",
               PartKind::Duration, 5, 999, 50, "STAB TIME:    "),
    partSlider(Part::ReadTime, "ReadTime", "Read Time", "txtReadTime", "scrReadTime",
               PartKind::Duration, 5, 999, 50, "READ TIME:    "),
    // The minimum follows the time base: 8 for "0.1 SEC", 1 for "1 SEC".
    partSlider(Part::BlkTime, "BlkTime", "Block Test Time", "txtBlkTime", "scrBlkTime",
               PartKind::Duration, 0, 999, 0, "BLOCK TIME:   "),
    partSlider(Part::CCTime, "CCTime", "Cross Cooler Test Time", "txtCCTime", "scrCCTime",
               PartKind::Duration, 0, 999, 0, "CC TIME:      "),
    // Flow zero, flow factor and zero offset are what calibrating the part writes.
    own(partSlider(Part::FlowZero, "FlowZero", "Flow Zero", "txtFlowZero", "scrFlowZero",
                   PartKind::Count, 1, 4095, 1, "FLOW ZERO:    ")),
    partSlider(Part::CompPos, "CompPos", "Comp Pos", "txtCompPos", "scrCompPos", PartKind::Flow, 0,
               999, 0, "COMP POS:     "),
    partSlider(Part::CompNeg, "CompNeg", "Comp Neg", "txtCompNeg", "scrCompNeg", PartKind::Flow, 0,
               999, 0, "COMP NEG:     "),
    partSlider(Part::LeakLimit, "LeakLimit", "Leak Limit", "txtLeakLimit", "scrLeakLimit",
               PartKind::Flow, 0, 999, 0, "LEAK LIMIT:   "),
    partSlider(Part::CalLeak, "CalLeak", "Calibrated Leak", "txtCalLeak", "scrCalLeak",
               PartKind::Flow, 0, 999, 50, "CAL LEAK:     "),
    partSlider(Part::SlopeLimit, "SlopeLimit", "Max Slope Limit", "txtSlopeLimit", "scrSlopeLimit",
               PartKind::Flow, 1, 999, 1, "MAX SLOPE:    "),
    partSlider(Part::NegLimit, "NegLimit", "Minimum Flow Limit", "txtNeglimit", "scrNegLimit",
               PartKind::Flow, 1, 999, 1, "MIN FLOW:     "),
    partSlider(Part::TempFactor, "TempFactor", "Temperature Factor", "txtTempFactor",
               "scrTempFactor", PartKind::Tenths, 0, 200, 0, "TEMP FACT:    "),
    partSlider(Part::FFPres, "FFPres", "Fast Fill Pressure", "txtFFPres", "scrFFPres",
               PartKind::Pressure, 0, 999, 0, "FF PRES:      "),
    partSlider(Part::BlkPres, "BlkPres", "Block Test Pressure", "txtBlkPres", "scrBlkPres",
               PartKind::Pressure, 0, 999, 0, "BLOCK PRES:   "),
    partSlider(Part::CCPres, "CCPres", "Cross CoolerTest Pressure", "txtCCPres", "scrCCPres",
               PartKind::Pressure, 0, 999, 0, "CC PRES:      "),
    partSlider(Part::PresHiLim, "PresHiLim", "Pressure High Limit", "txtPresHiLim", "scrPresHiLim",
               PartKind::Pressure, 0, 999, 0, "PRES HI LIM:  "),
    partSlider(Part::PresLowLim, "PresLowLim", "Pressure Low Limit", "txtPresLowLim",
               "scrPresLowLim", PartKind::Pressure, 0, 999, 0, "PRES LO LIM:  "),
    own(partSlider(Part::FlowFactor, "FlowFactor", "Flow Factor", "txtFlowFactor", "scrFlowFactor",
                   PartKind::Tenths, 1, 9999, 1, "FLOW FACTOR:  ")),
    partSlider(Part::FCDelay, "FCDelay", "Fast Cycle Delay", "txtFCDelay", "scrFCDelay",
               PartKind::Delay, 0, 999, 0, "FC DELAY:     "),
    partSlider(Part::GrossLimit, "GrossLimit", "Gross Limit", "txtGrossLimit", "scrGrossLimit",
               PartKind::Flow, 0, 999, 0, "GROSS LIMIT:  "),
    partSlider(Part::PresDecay, "PresDecay", "Pressure Decay Limit", "txtPresDecay", "scrPresDecay",
               PartKind::Count, 2, 100, 2, "PR DECAY LIM: "),
    PartRow{Part::CustCode,
            "CustCode",
            "Customer Code",
            "txtCustCode",
            {},
            PartKind::Code,
            noSlider,
            none3,
            none3,
            25,
            0,
            26,
            "CUST CODE:    ",
            false,
            {}},
    own(partSlider(Part::CalOffset, "CalOffset", "Zero Offset", "txtCalOffset", "scrCalOffset",
                   PartKind::Count, -500, 500, 1, "CAL OFFSET    ")),
    partSlider(Part::InitLimit, "InitLimit", "Initial Flow Check Limit", "txtInitLimit",
               "scrInitLimit", PartKind::Flow, 0, 999, 0, "INIT FL LIM:  ", true,
               "frmInitFlowLimit"),
    partSlider(Part::InitTime, "InitTime", "Initial Flow Check Time", "txtInitTime", "scrInitTime",
               PartKind::Duration, 0, 999, 0, "INIT FL TIME: ", true, "frmInitFlowTime"),
}};

} // namespace

const std::array<SysRow, SysCount>& systemCatalogue() {
    return systemRows;
}

const std::array<PartRow, PartCount>& partCatalogue() {
    return partRows;
}

std::string_view generationWord(Generation g) {
    switch (g) {
    case Generation::V70:
        return "V7.0";
    case Generation::V73:
        return "V7.3";
    case Generation::None:
        break;
    }
    return {};
}

std::string_view generationStatusText(Generation g) {
    switch (g) {
    case Generation::V70:
        return "QX7400 V7.2 or earlier";
    case Generation::V73:
        return "QX7400 V7.3 or later";
    case Generation::None:
        break;
    }
    return {};
}

} // namespace pp
