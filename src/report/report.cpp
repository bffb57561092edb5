#include "report.h"

#include <algorithm>

namespace pp {

namespace {

constexpr std::string_view CrLf = "\r\n";

// One value of a system line: the catalogue's report label, then the text padded to `width`;
// width 0 leaves the text as it is (the last value of most lines).
struct Cell {
    Sys id;
    size_t width;
};

struct SysLine {
    std::array<Cell, 3> cells;
    size_t count;
    std::string_view end;
};

constexpr std::array<SysLine, 2> OptionsLayout{{
    {{{{Sys::Model, 19}, {Sys::OptTempComp, 10}, {Sys::RefFailure, 0}}}, 3, ""},
    {{{{Sys::OptSysZero, 13}, {Sys::CCooler, 10}, {Sys::Block, 0}}}, 3, "\r\n\r\n"},
}};

// Line 7 depends on the generation; these are lines 1 to 6.
constexpr std::array<SysLine, 6> ParametersLayout{{
    {{{{Sys::SysZero, 16}, {Sys::Time, 23}, {Sys::EPS, 0}}}, 3, ""},
    {{{{Sys::DrnVlv, 15}, {Sys::OpenDrn, 17}, {Sys::DrnVlvDelay, 0}}}, 3, ""},
    {{{{Sys::CalProtect, 13}, {Sys::LCDDelay, 18}, {Sys::AbortOP, 0}}}, 3, "\r\n"},
    {{{{Sys::GPRDelay, 15}, {Sys::RS232, 15}, {Sys::FCDelayStat, 3}}}, 3, ""},
    {{{{Sys::HFFillVlv, 13}, {Sys::PresEngUnits, 17}, {Sys::PresNumDecimals, 0}}}, 3, ""},
    {{{{Sys::FlowEngUnits, 14}, {Sys::FlowNumDecimals, 19}, {Sys::NumLeakRdgs, 0}}}, 3, ""},
}};

constexpr SysLine Line7V70{{{{Sys::ErrFlash, 13}, {Sys::RTCPrompt, 0}, {}}}, 2, "\r\n\r\n"};
constexpr SysLine Line7Other{
    {{{Sys::ErrFlash, 13}, {Sys::RTCPrompt, 17}, {Sys::InitFlowChk, 0}}}, 3, "\r\n\r\n"};

constexpr size_t ValueWidth = 9;
constexpr size_t PartNumberWidth = 6;
const std::string Indent(8, ' ');
const std::string ColumnStart(22, ' '); // where heading and values begin

std::string composeLine(const SysLine& line, const Sheet& sheet) {
    std::string out = Indent;
    for (size_t i = 0; i < line.count; ++i) {
        const Cell& cell = line.cells[i];
        out += row(cell.id).reportLabel;
        const std::string& text = sheet.text(cell.id);
        out += cell.width ? PadRight(text, cell.width) : text;
    }
    out += line.end;
    return out;
}

std::string title(std::string_view name) {
    return std::string(40, ' ') + std::string(name) + "\r\n\r\n";
}

size_t usedRows(Generation g) {
    return g == Generation::V73 ? 30 : 28;
}

} // namespace

std::string PadRight(std::string_view text, size_t width) {
    std::string out(text);
    if (out.size() < width)
        out.append(width - out.size(), ' ');
    return out;
}

const std::array<Part, 30>& reportRowOrder() {
    static constexpr std::array<Part, 30> order{
        Part::FlowZero,   Part::FlowFactor, Part::PresDecay,  Part::CalOffset,  Part::CustCode,
        Part::TimeBase,   Part::CompTime,   Part::CompPos,    Part::CompNeg,    Part::TempFactor,
        Part::TempComp,   Part::FillTime,   Part::FFPres,     Part::StabTime,   Part::ReadTime,
        Part::FCDelay,    Part::LeakLimit,  Part::GrossLimit, Part::CalLeak,    Part::ZeroSel,
        Part::SlopeLimit, Part::NegLimit,   Part::PresHiLim,  Part::PresLowLim, Part::BlkTime,
        Part::BlkPres,    Part::CCTime,     Part::CCPres,     Part::InitTime,   Part::InitLimit,
    };
    return order;
}

void SetUpSysParams(Report& report, const Sheet& sheet, const std::tm& now) {
    const std::string gap(9, ' ');
    report.header =
        "\r\n\r\n" + std::string(6, ' ') + "QX7400  SN: " + sheet.text(Sys::Serial) + gap +
        "DATE CODE: " + sheet.text(Sys::DateCode) + gap +
        clockText(now.tm_year + 1900, now.tm_mon + 1, now.tm_mday, now.tm_hour, now.tm_min) +
        "\r\n\r\n";
    report.optionsTitle = title("SYSTEM OPTIONS");
    for (size_t i = 0; i < OptionsLayout.size(); ++i)
        report.optionsLines[i] = composeLine(OptionsLayout[i], sheet);
    report.parametersTitle = title("SYSTEM PARAMETERS");
    for (size_t i = 0; i < ParametersLayout.size(); ++i)
        report.parametersLines[i] = composeLine(ParametersLayout[i], sheet);
    report.parametersLines[6] =
        composeLine(sheet.generation() == Generation::V70 ? Line7V70 : Line7Other, sheet);
}

void SetUpPartTitles(Report& report, const Sheet& sheet) {
    report.partTitle = title("PART PARAMETERS");
    report.partHeading = ColumnStart;
    report.partRows.clear();
    const size_t rows = usedRows(sheet.generation());
    for (size_t i = 0; i < rows; ++i)
        report.partRows.push_back(Indent + std::string(row(reportRowOrder()[i]).reportLabel));
}

void SetUpPartValues(Report& report, const Sheet& sheet) {
    report.partHeading += "PN " + PadRight(sheet.partSelection(), PartNumberWidth);
    // The rows that SetUpPartTitles laid out, so every column has the same length.
    for (size_t i = 0; i < report.partRows.size() && i < reportRowOrder().size(); ++i)
        report.partRows[i] += PadRight(sheet.text(reportRowOrder()[i]), ValueWidth);
}

Report composeReport(const std::vector<Sheet>& columns, const std::tm& now) {
    Report report;
    if (columns.empty())
        return report;
    SetUpSysParams(report, columns.front(), now);
    SetUpPartTitles(report, columns.front());
    for (const Sheet& column : columns)
        SetUpPartValues(report, column);
    return report;
}

Report composeReport(const Sheet& sheet, const std::tm& now) {
    Report report;
    SetUpSysParams(report, sheet, now);
    SetUpPartTitles(report, sheet);
    SetUpPartValues(report, sheet);
    return report;
}

std::vector<Report> composeReportPages(const std::vector<Sheet>& columns, const std::tm& now,
                                       size_t perPage) {
    perPage = std::max<size_t>(perPage, 1);
    std::vector<Report> pages;
    for (size_t from = 0; from < columns.size(); from += perPage) {
        Report page;
        // Every page is the first sheet's instrument, so each starts with the same block.
        SetUpSysParams(page, columns.front(), now);
        SetUpPartTitles(page, columns.front());
        for (size_t i = from; i < std::min(from + perPage, columns.size()); ++i)
            SetUpPartValues(page, columns[i]);
        pages.push_back(std::move(page));
    }
    return pages;
}

size_t partColumnsFitting(size_t characters) {
    if (characters <= ColumnStart.size() + ValueWidth)
        return 1;
    return (characters - ColumnStart.size()) / ValueWidth;
}

std::string pageFooter(size_t page, size_t pages) {
    return std::string(40, ' ') + "Page " + std::to_string(page) + " of " + std::to_string(pages);
}

std::vector<ReportLine> reportLines(const Report& report) {
    std::vector<ReportLine> lines;
    auto add = [&lines](const std::string& buffer, int size, bool bold) {
        // Printing a buffer ends it with a line; its own CR LF pairs give the blank lines.
        const std::string text = buffer + std::string(CrLf);
        size_t from = 0;
        for (size_t at = text.find(CrLf); at != std::string::npos; at = text.find(CrLf, from)) {
            lines.push_back({text.substr(from, at - from), size, bold});
            from = at + CrLf.size();
        }
    };
    add(report.header, 12, true);
    add(report.optionsTitle, 10, true);
    for (const auto& line : report.optionsLines)
        add(line, 10, false);
    add(report.parametersTitle, 10, true);
    for (const auto& line : report.parametersLines)
        add(line, 10, false);
    add(report.partTitle, 10, true);
    add(report.partHeading, 10, true);
    for (size_t i = 0; i < report.partRows.size(); ++i) {
        add(report.partRows[i], 10, false);
        if ((i + 1) % 5 == 0)
            add({}, 10, false);
    }
    return lines;
}

std::string reportText(const Report& report) {
    std::string text;
    for (const ReportLine& line : reportLines(report))
        text += line.text + std::string(CrLf);
    return text;
}

} // namespace pp
