// Puts the composed report on paper (or into a PDF): fixed-pitch lines, the fonts the report
// asks for, a new page whenever the next line would not fit.
#pragma once

#include "report/report.h"

#include <QString>

class QPagedPaintDevice;

namespace pp {

// "Courier New" where it is installed, else its metric twin "Liberation Mono".
QString reportFontFamily();

// Prints the report on a printer (QPrinter) or into a PDF (QPdfWriter) and ends the job. False
// when the device cannot be opened or a page cannot be started (no such printer, a PDF file
// that cannot be written).
bool PrintReport(const Report& report, QPagedPaintDevice& printer);
// Print All Parts: one part column per sheet on as many upright pages as the printer's width
// needs, each page a whole report (the system block from the first sheet), every page
// numbered at its foot when there is more than one. One sheet prints as PrintReport does.
// False as PrintReport, and for no sheets.
bool PrintReportPages(const std::vector<Sheet>& columns, const std::tm& now,
                      QPagedPaintDevice& printer);
// The part columns that fit across the printer's printable width in the part table's font.
size_t partColumnsPerPage(QPagedPaintDevice& printer);
// Any fixed-pitch lines the same way, on upright pages.
bool PrintLines(const std::vector<ReportLine>& lines, QPagedPaintDevice& printer);

// How many characters of the 10-point report font a line of an upright page holds, and how
// many such lines a page holds.
struct LineGrid {
    size_t columns = 0;
    size_t rows = 0;
};
LineGrid lineGrid(QPagedPaintDevice& printer);
// Pages already laid out on that grid (the auditor's report), one line to a row, each list a
// page. False as PrintReport.
bool PrintPages(const std::vector<std::vector<ReportLine>>& pages, QPagedPaintDevice& printer);

} // namespace pp
