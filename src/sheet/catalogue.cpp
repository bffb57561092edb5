#include "catalogue.h"

namespace pp {

// Placeholder tables; the catalogue rows are filled in by the sheet work.
const std::array<SysRow, SysCount>& systemCatalogue() {
    static const std::array<SysRow, SysCount> rows{};
    return rows;
}
const std::array<PartRow, PartCount>& partCatalogue() {
    static const std::array<PartRow, PartCount> rows{};
    return rows;
}
std::string_view generationWord(Generation) { return {}; }
std::string_view generationStatusText(Generation) { return {}; }

} // namespace pp
