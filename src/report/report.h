// The printed parameter report as text: fixed-pitch lines composed from the sheet's display
// texts, nothing converted or validated. The printer (src/ui/report_printer.h) only renders
// the lines this produces, so every character of the report is decided here.
#pragma once

#include "sheet/sheet.h"

#include <array>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

namespace pp {

// The text followed by blanks up to width characters; a longer text is returned whole.
std::string PadRight(std::string_view text, size_t width);

// The report buffers. Buffers may hold CR LF pairs: they make the report's blank lines.
struct Report {
    std::string header;
    std::string optionsTitle;
    std::array<std::string, 2> optionsLines;
    std::string parametersTitle;
    std::array<std::string, 7> parametersLines;
    std::string partTitle;
    std::string partHeading;
    std::vector<std::string> partRows; // 28, or 30 with generation V7.3
};

// Header, system options and system parameters from the sheet's system texts. `now` is the
// time of printing (local time), passed in so a report can be reproduced.
void SetUpSysParams(Report& report, const Sheet& sheet, const std::tm& now);
// Part title, an empty part heading and every part row reduced to its label.
void SetUpPartTitles(Report& report, const Sheet& sheet);
// Appends one part column: the heading for the sheet's part selection and one value per row.
void SetUpPartValues(Report& report, const Sheet& sheet);

// The four steps for a report of one part column per sheet; the system block comes from the
// first sheet (every column is the same instrument). An empty list gives a report without
// part columns, which callers should not ask for.
Report composeReport(const std::vector<Sheet>& columns, const std::tm& now);
Report composeReport(const Sheet& sheet, const std::tm& now);

// The part parameters in the order of the report's rows (not the download order).
const std::array<Part, 30>& reportRowOrder();

// One line of output as the printer receives it.
struct ReportLine {
    std::string text;
    int pointSize; // 12 for the header, 10 for the rest
    bool bold;
    bool operator==(const ReportLine&) const = default;
};

// The buffers in printing order, each split at its CR LF pairs, with the blank line after
// every fifth part row.
std::vector<ReportLine> reportLines(const Report& report);

// The same as one text: every buffer followed by CR LF, a CR LF after every fifth part row.
std::string reportText(const Report& report);

} // namespace pp
