// The parameter sheet: every parameter's display text with its slider or option group, the
// sheet-wide values, the part selector and the enabled state of the commands that depend on
// the sheet. It is a value: copy it, work on the copy, assign it back when the work succeeded.
//
// Every change runs its editing rule at once, before the call returns, exactly as the
// instrument's editor always has: slider -> text -> text rule -> other slider ...
// Widgets only mirror this model.
#pragma once

#include "catalogue.h"

#include <array>
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

namespace pp {

struct Slider {
    int16_t min = 0;
    int16_t max = 0;
    int16_t small = 1;
    int16_t large = 10;
    int16_t pos = 0;
    bool operator==(const Slider&) const = default;
};

// Enabled state of the window's commands that the sheet and the link change.
struct Commands {
    bool sdUpload = true;      // cmdSDUpload
    bool sdDownload = false;   // cmdSDDnLoad
    bool partUpload = false;   // cmdPartUpload
    bool partDownload = false; // cmdPartDnload
    bool save = false;         // mnuSave and toolbar "save"
    bool saveAs = false;       // mnuSaveAs
    bool print = false;        // mnuPrint and toolbar "print"
    bool partTab = false;      // tab 1 of SSTab1, "Part Parameters"
    bool operator==(const Commands&) const = default;
};

// The four single-precision limits of the compensation sliders.
struct CompLimits {
    float posMax = 0;
    float negMax = 0;
    float posLimit = 0;
    float negLimit = 0;
    bool operator==(const CompLimits&) const = default;
};

class Sheet {
public:
    Sheet(); // the start state: texts empty, sliders at their start, no option selected

    // ---- system parameters
    const std::string& text(Sys id) const { return sysText_[idx(id)]; }
    void setText(Sys id, std::string text); // runs the text's rule (decimal counts)
    const Slider& slider(Sys id) const { return sysSlider_[idx(id)]; }
    // Refused (false, nothing changes) outside min..max. The rule runs only on a change.
    bool setSlider(Sys id, int pos);
    int option(Sys id) const { return sysOption_[idx(id)]; } // -1 none, 0 first, 1 second
    // Selects one button of the pair; a button not yet selected runs its rule.
    void selectOption(Sys id, int which);
    void pressSetTime(const std::tm& localNow); // "Set Time"
    void ClearSystemSheet();

    // ---- part parameters
    const std::string& text(Part id) const { return partText_[idx(id)]; }
    void setText(Part id, std::string text); // runs the text's rule, if it has one
    const Slider& slider(Part id) const { return partSlider_[idx(id)]; }
    bool setSlider(Part id, int pos);
    void setSliderMin(Part id, int min); // keeps the position within range (moves it up)
    int option(Part id) const { return partOption_[idx(id)]; } // -1 none, else 0..2
    void selectOption(Part id, int which);
    void ClearPartSheet();

    // The values that belong to the instrument (the catalogue's instrumentOwn rows: serial
    // number, clock, system zero; flow zero, flow factor, zero offset) of one scope, taken from
    // `from` as they stand there: texts, sliders and options copied, no rule run, so that
    // nothing else of this sheet changes.
    void takeOwnSystemValues(const Sheet& from);
    void takeOwnPartValues(const Sheet& from);

    // "1 SEC" exactly; anything else counts as tenths.
    bool timeBaseSeconds() const { return text(Part::TimeBase) == "1 SEC"; }

    // The compensation rules hold CompPos/CompNeg within their limits only while limits
    // computed from the current FlowZero, FlowFactor and TempFactor exist. Decoders and the
    // file reader hold them off while a record is applied and release them at the end,
    // which recomputes the limits and applies them once.
    void holdCompensation();
    void releaseCompensation();

    // ---- sheet-wide values
    Generation generation() const { return generation_; }
    void SetFirmwareGeneration(Generation g); // V70, or V73 for anything else
    int lastSysIndex() const { return lastSysIndex_; }
    int lastPartIndex() const { return lastPartIndex_; }
    bool initFlowEnabled() const { return generation_ != Generation::V70; }
    // PresDecimals or FlowDecimals (0..2; anything else is ignored), as the decimal-count
    // texts' rule sets them; the file reader sets them from the texts' integers as well.
    void setDecimalCount(Sys id, int count);
    int presDecimals() const { return presDecimals_; }
    int flowDecimals() const { return flowDecimals_; }
    float flowMax() const { return flowMax_; }
    const CompLimits& compLimits() const { return comp_; }
    bool compLimitsCurrent() const { return compCurrent_; }

    // ---- part selector (cmbParts): the list and the chosen text
    const std::vector<std::string>& partNumbers() const { return partNumbers_; }
    const std::string& partSelection() const { return partSelection_; }
    void setPartSelection(std::string text) { partSelection_ = std::move(text); }
    void AddPartNumber(const std::string& pn); // keeps the list in numeric order
    void RemovePartNumber(const std::string& pn);

    // ---- commands and file path (status panel 3)
    Commands commands;
    std::string filePath;

    bool operator==(const Sheet&) const = default;

private:
    static size_t idx(Sys id) { return static_cast<size_t>(id); }
    static size_t idx(Part id) { return static_cast<size_t>(id); }

    void runSliderRule(Sys id);
    void runOptionRule(Sys id);
    void runTextRule(Sys id);
    void runSliderRule(Part id);
    void runOptionRule(Part id);
    void runTextRule(Part id);
    void compensationLimitRule();
    void compensationRule(Part comp);
    void grossLimitRule();
    void customerCodeRule();
    bool computeCompLimits(); // false, and not current, when the three texts give no limits
    int limitPosition(Part comp, float limit) const;

    std::array<std::string, SysCount> sysText_;
    std::array<Slider, SysCount> sysSlider_;
    std::array<int, SysCount> sysOption_;
    std::array<std::string, PartCount> partText_;
    std::array<Slider, PartCount> partSlider_;
    std::array<int, PartCount> partOption_;

    Generation generation_ = Generation::None;
    int lastSysIndex_ = 0;
    int lastPartIndex_ = 0;
    int presDecimals_ = 0;
    int flowDecimals_ = 0;
    float flowMax_ = 999.0f;
    CompLimits comp_;
    bool compCurrent_ = false; // comp_ was computed from the current three texts
    int compHold_ = 0;

    std::vector<std::string> partNumbers_;
    std::string partSelection_;
};

// "MMM DD,YYYY HH:MM" with English month abbreviations.
std::string clockText(int year, int month, int day, int hour, int minute);

} // namespace pp
