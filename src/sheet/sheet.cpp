#include "sheet.h"

namespace pp {

// Placeholder; the editing rules are filled in by the sheet work.
Sheet::Sheet() {
    sysOption_.fill(-1);
    partOption_.fill(-1);
}
void Sheet::setText(Sys id, std::string text) { sysText_[idx(id)] = std::move(text); }
bool Sheet::setSlider(Sys, int) { return false; }
void Sheet::selectOption(Sys id, int which) { sysOption_[idx(id)] = which; }
void Sheet::pressSetTime(const std::tm&) {}
void Sheet::ClearSystemSheet() {}
void Sheet::setText(Part id, std::string text) { partText_[idx(id)] = std::move(text); }
bool Sheet::setSlider(Part, int) { return false; }
void Sheet::setSliderMin(Part, int) {}
void Sheet::selectOption(Part id, int which) { partOption_[idx(id)] = which; }
void Sheet::ClearPartSheet() {}
void Sheet::holdCompensation() {}
void Sheet::releaseCompensation() {}
void Sheet::SetFirmwareGeneration(Generation g) { generation_ = g; }
void Sheet::AddPartNumber(const std::string&) {}
void Sheet::RemovePartNumber(const std::string&) {}
std::string clockText(int, int, int, int, int) { return {}; }

} // namespace pp
