// Reading back what the report printer wrote: PDF text and fonts through poppler's tools.
#pragma once

#include "report/report.h"
#include "sheet/sheet.h"

#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QStringList>

#include <ctime>

namespace pp::testing {

inline bool havePdfTools() {
    return !QStandardPaths::findExecutable("pdftotext").isEmpty() &&
           !QStandardPaths::findExecutable("pdffonts").isEmpty() &&
           !QStandardPaths::findExecutable("pdfinfo").isEmpty();
}

// Standard output of a tool; empty when it failed.
inline QString runTool(const QString& program, const QStringList& args) {
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(30000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        return {};
    return QString::fromUtf8(p.readAllStandardOutput());
}

inline QString pdfText(const QString& pdf) {
    return runTool("pdftotext", {"-layout", pdf, "-"});
}

inline int pdfPages(const QString& pdf) {
    const QString info = runTool("pdfinfo", {pdf});
    for (const QString& line : info.split('\n'))
        if (line.startsWith("Pages:"))
            return line.mid(6).trimmed().toInt();
    return 0;
}

// The words of a line, blanks collapsed: pdftotext rebuilds the columns but not every blank.
inline QString words(const QString& line) {
    return line.simplified();
}

// The report's printed lines that carry text, in order, blanks collapsed.
inline QStringList printedWords(const pp::Report& report) {
    QStringList out;
    for (const pp::ReportLine& line : pp::reportLines(report)) {
        const QString w = words(QString::fromStdString(line.text));
        if (!w.isEmpty())
            out << w;
    }
    return out;
}

// The lines of a PDF's text that carry text, blanks collapsed, page feeds dropped.
inline QStringList pdfWords(const QString& text) {
    QStringList out;
    for (const QString& line : text.split('\n')) {
        const QString w = words(QString(line).remove('\f'));
        if (!w.isEmpty())
            out << w;
    }
    return out;
}

inline std::tm printedAt() {
    std::tm t{};
    t.tm_year = 2026 - 1900;
    t.tm_mon = 11;
    t.tm_mday = 7;
    t.tm_hour = 14;
    t.tm_min = 5;
    return t;
}

// A V7.3 sheet with a text in every box the report prints.
inline pp::Sheet reportSheet(const std::string& part = "05") {
    pp::Sheet sheet;
    sheet.SetFirmwareGeneration(pp::Generation::V73);
    for (const auto& r : pp::systemCatalogue())
        if (r.id != pp::Sys::PresNumDecimals && r.id != pp::Sys::FlowNumDecimals)
            sheet.setText(r.id, std::string(r.stem.substr(0, 6)));
    sheet.setText(pp::Sys::PresNumDecimals, "1");
    sheet.setText(pp::Sys::FlowNumDecimals, "2");
    // Numbers in every part box: the editing rules keep valid numbers as they are.
    int n = 1;
    for (const auto& r : pp::partCatalogue())
        if (r.id != pp::Part::GrossLimit)
            sheet.setText(r.id, std::to_string(n++));
    sheet.setText(pp::Part::GrossLimit, "999");
    sheet.setPartSelection(part);
    return sheet;
}

} // namespace pp::testing
