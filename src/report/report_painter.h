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
// Any fixed-pitch lines the same way (the audit's report), on upright pages.
bool PrintLines(const std::vector<ReportLine>& lines, QPagedPaintDevice& printer);

} // namespace pp
