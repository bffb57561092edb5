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

// Print All Parts: more columns than a line of paper holds. The columns in order, at most
// `perPage` (at least one) to a page, every page a whole report: header, system block (the
// first sheet's) and the part table of its columns. No columns, no page.
std::vector<Report> composeReportPages(const std::vector<Sheet>& columns, const std::tm& now,
                                       size_t perPage);
// How many part columns fit on a line of `characters` fixed-pitch characters after the row
// labels; at least one, so a narrow page still shows every part.
size_t partColumnsFitting(size_t characters);
// The foot of each page of a report of several pages, in the titles' column: "Page 2 of 3".
std::string pageFooter(size_t page, size_t pages);

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
