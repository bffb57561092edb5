// Puts the composed report on paper (or into a PDF): fixed-pitch lines, the fonts the report
// asks for, a new page whenever the next line would not fit.
#pragma once

#include "report/report.h"

#include <QString>

class QPrinter;

namespace pp::ui {

// "Courier New" where it is installed, else its metric twin "Liberation Mono".
QString reportFontFamily();

// Prints the report and ends the job. False when the printer cannot be opened or a page
// cannot be started (no such printer, a PDF file that cannot be written).
bool PrintReport(const pp::Report& report, QPrinter& printer);

} // namespace pp::ui
