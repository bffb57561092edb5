#include "report/audit_report.h"
#include "report/report.h"

#include <QtTest>

#include <utility>

using namespace pp;

namespace {

// Expectations written from the report's layout tables, one entry per printed line.
// clang-format off
const QStringList expectedV73{
    "",
    "",
    "      QX7400  SN: 1234         DATE CODE: 0526         Dec 07,2026 14:05",
    "",
    "",
    "                                        SYSTEM OPTIONS",
    "",
    "",
    "        MODEL: STD                TEMP COMPENSATION: ON        REFERENCE FAILURE: OFF",
    "        SYSTEM ZERO: ON           CROSS COOLER TEST: OFF       BLOCKED COOLER TEST: ON",
    "",
    "",
    "                                        SYSTEM PARAMETERS",
    "",
    "",
    "        SYS ZERO: 10              TIME: Mar 07,2005 14:05      EPS: OFF",
    "        DRAIN VLV: N OPEN         OPEN DRAIN: NO               DV DELAY: 1.5",
    "        CAL PROTECT: OFF          LCD DELAY: OFF               ABORT OP: ON",
    "",
    "        GPR DELAY: 99.9           RS232 FORMAT: 2              FAST CYCLE: ON ",
    "        HF FILL VLV: CLOSED       PRES UNITS: PSI              PRES DEC: 1",
    "        FLOW UNITS: CCM           FLOW DEC: 2                  #LEAK RDGS: 5",
    "        ERR DISPLAY: OFF          RTC PROMPT: ON               INIT FLOW CHK: OFF",
    "",
    "",
    "                                        PART PARAMETERS",
    "",
    "",
    "                      PN 05    ",
    "        FLOW ZERO:    2048     ",
    "        FLOW FACTOR:  10       ",
    "        PR DECAY LIM: 12       ",
    "        CAL OFFSET    -25      ",
    "        CUST CODE:    123456   ",
    "",
    "        TIME BASE:    0.1 SEC  ",
    "        COMP TIME:    2.5      ",
    "        COMP POS:     0.12     ",
    "        COMP NEG:     0.03     ",
    "        TEMP FACT:    1.5      ",
    "",
    "        TEMP COMP:    ON       ",
    "        FILL TIME:    3        ",
    "        FF PRES:      4.5      ",
    "        STAB TIME:    5        ",
    "        READ TIME:    6.5      ",
    "",
    "        FC DELAY:     OFF      ",
    "        LEAK LIMIT:   0.5      ",
    "        GROSS LIMIT:  1.25     ",
    "        CAL LEAK:     0.5      ",
    "        ZERO SEL:     OFFSET   ",
    "",
    "        MAX SLOPE:    0.01     ",
    "        MIN FLOW:     0.02     ",
    "        PRES HI LIM:  50       ",
    "        PRES LO LIM:  10.5     ",
    "        BLOCK TIME:   0.8      ",
    "",
    "        BLOCK PRES:   20       ",
    "        CC TIME:      0        ",
    "        CC PRES:      0        ",
    "        INIT FL TIME: 1        ",
    "        INIT FL LIM:  0.25     ",
    "",
};
// clang-format on
// clang-format off
const QStringList expectedV70TwoColumns{
    "",
    "",
    "      QX7400  SN: 1234         DATE CODE: 0526         Dec 07,2026 14:05",
    "",
    "",
    "                                        SYSTEM OPTIONS",
    "",
    "",
    "        MODEL: STD                TEMP COMPENSATION: ON        REFERENCE FAILURE: OFF",
    "        SYSTEM ZERO: ON           CROSS COOLER TEST: OFF       BLOCKED COOLER TEST: ON",
    "",
    "",
    "                                        SYSTEM PARAMETERS",
    "",
    "",
    "        SYS ZERO: 10              TIME: Mar 07,2005 14:05      EPS: OFF",
    "        DRAIN VLV: N OPEN         OPEN DRAIN: NO               DV DELAY: 1.5",
    "        CAL PROTECT: OFF          LCD DELAY: OFF               ABORT OP: ON",
    "",
    "        GPR DELAY: 99.9           RS232 FORMAT: 2              FAST CYCLE: ON ",
    "        HF FILL VLV: CLOSED       PRES UNITS: PSI              PRES DEC: 1",
    "        FLOW UNITS: CCM           FLOW DEC: 2                  #LEAK RDGS: 5",
    "        ERR DISPLAY: OFF          RTC PROMPT: ON",
    "",
    "",
    "                                        PART PARAMETERS",
    "",
    "",
    "                      PN 05    PN 12    ",
    "        FLOW ZERO:    2048     100      ",
    "        FLOW FACTOR:  10       10       ",
    "        PR DECAY LIM: 12       12       ",
    "        CAL OFFSET    -25      -25      ",
    "        CUST CODE:    123456            ",
    "",
    "        TIME BASE:    0.1 SEC  1 SEC    ",
    "        COMP TIME:    2.5      25       ",
    "        COMP POS:     0.12     0.12     ",
    "        COMP NEG:     0.03     0.03     ",
    "        TEMP FACT:    1.5      1.5      ",
    "",
    "        TEMP COMP:    ON       ON       ",
    "        FILL TIME:    3        3        ",
    "        FF PRES:      4.5      4.5      ",
    "        STAB TIME:    5        5        ",
    "        READ TIME:    6.5      6.5      ",
    "",
    "        FC DELAY:     OFF      OFF      ",
    "        LEAK LIMIT:   0.5      0.5      ",
    "        GROSS LIMIT:  1.25     1.25     ",
    "        CAL LEAK:     0.5      0.5      ",
    "        ZERO SEL:     OFFSET   CAL      ",
    "",
    "        MAX SLOPE:    0.01     0.01     ",
    "        MIN FLOW:     0.02     0.02     ",
    "        PRES HI LIM:  50                ",
    "        PRES LO LIM:  10.5     10.5     ",
    "        BLOCK TIME:   0.8      1        ",
    "",
    "        BLOCK PRES:   20       20       ",
    "        CC TIME:      0        0        ",
    "        CC PRES:      0        0        ",
};
// clang-format on

std::tm printedAt() {
    std::tm t{};
    t.tm_year = 2026 - 1900;
    t.tm_mon = 11;
    t.tm_mday = 7;
    t.tm_hour = 14;
    t.tm_min = 5;
    return t;
}

std::string joined(const QStringList& lines) {
    std::string text;
    for (const QString& line : lines)
        text += line.toStdString() + "\r\n";
    return text;
}

void fillSystem(Sheet& sheet) {
    const std::pair<Sys, const char*> texts[] = {
        {Sys::Serial, "1234"},       {Sys::DateCode, "0526"},
        {Sys::Model, "STD"},         {Sys::OptTempComp, "ON"},
        {Sys::RefFailure, "OFF"},    {Sys::OptSysZero, "ON"},
        {Sys::CCooler, "OFF"},       {Sys::Block, "ON"},
        {Sys::SysZero, "10"},        {Sys::Time, "Mar 07,2005 14:05"},
        {Sys::EPS, "OFF"},           {Sys::DrnVlv, "N OPEN"},
        {Sys::OpenDrn, "NO"},        {Sys::DrnVlvDelay, "1.5"},
        {Sys::CalProtect, "OFF"},    {Sys::LCDDelay, "OFF"},
        {Sys::AbortOP, "ON"},        {Sys::GPRDelay, "99.9"},
        {Sys::RS232, "2"},           {Sys::FCDelayStat, "ON"},
        {Sys::HFFillVlv, "CLOSED"},  {Sys::PresEngUnits, "PSI"},
        {Sys::PresNumDecimals, "1"}, {Sys::FlowEngUnits, "CCM"},
        {Sys::FlowNumDecimals, "2"}, {Sys::NumLeakRdgs, "5"},
        {Sys::ErrFlash, "OFF"},      {Sys::RTCPrompt, "ON"},
        {Sys::InitFlowChk, "OFF"},
    };
    for (const auto& [id, text] : texts)
        sheet.setText(id, text);
}

// The leak limit goes in before the gross limit, which must not be below it.
void fillPart(Sheet& sheet) {
    const std::pair<Part, const char*> texts[] = {
        {Part::FlowZero, "2048"},  {Part::FlowFactor, "10"},   {Part::PresDecay, "12"},
        {Part::CalOffset, "-25"},  {Part::CustCode, "123456"}, {Part::TimeBase, "0.1 SEC"},
        {Part::CompTime, "2.5"},   {Part::CompPos, "0.12"},    {Part::CompNeg, "0.03"},
        {Part::TempFactor, "1.5"}, {Part::TempComp, "ON"},     {Part::FillTime, "3"},
        {Part::FFPres, "4.5"},     {Part::StabTime, "5"},      {Part::ReadTime, "6.5"},
        {Part::FCDelay, "OFF"},    {Part::LeakLimit, "0.5"},   {Part::GrossLimit, "1.25"},
        {Part::CalLeak, "0.5"},    {Part::ZeroSel, "OFFSET"},  {Part::SlopeLimit, "0.01"},
        {Part::NegLimit, "0.02"},  {Part::PresHiLim, "50"},    {Part::PresLowLim, "10.5"},
        {Part::BlkTime, "0.8"},    {Part::BlkPres, "20"},      {Part::CCTime, "0"},
        {Part::CCPres, "0"},       {Part::InitTime, "1"},      {Part::InitLimit, "0.25"},
    };
    for (const auto& [id, text] : texts)
        sheet.setText(id, text);
    sheet.setPartSelection("05");
}

Sheet filledSheet(Generation g) {
    Sheet sheet;
    if (g != Generation::None) // a new sheet has no generation; setting one always picks one
        sheet.SetFirmwareGeneration(g);
    fillSystem(sheet);
    fillPart(sheet);
    return sheet;
}

// The second column differs where an editing rule cannot interfere.
Sheet secondColumn(const Sheet& first) {
    Sheet sheet = first;
    sheet.setText(Part::FlowZero, "100");
    sheet.setText(Part::CustCode, "");
    sheet.setText(Part::TimeBase, "1 SEC");
    sheet.setText(Part::CompTime, "25");
    sheet.setText(Part::ZeroSel, "CAL");
    sheet.setText(Part::PresHiLim, "");
    sheet.setText(Part::BlkTime, "1");
    sheet.setPartSelection("12");
    return sheet;
}

QString line(const Report& report, int index) {
    return QString::fromStdString(reportLines(report).at(index).text);
}

} // namespace

class TestReport : public QObject {
    Q_OBJECT
private slots:
    void wholeReportV73() {
        const Report report = composeReport(filledSheet(Generation::V73), printedAt());
        QCOMPARE(reportText(report), joined(expectedV73));
    }

    void wholeReportV70WithTwoColumns() {
        const Sheet first = filledSheet(Generation::V70);
        const Report report = composeReport({first, secondColumn(first)}, printedAt());
        QCOMPARE(reportText(report), joined(expectedV70TwoColumns));
    }

    // The steps one by one, as the print dialog runs them: a second run starts afresh.
    void stepsRebuildEveryRun() {
        const Sheet sheet = filledSheet(Generation::V73);
        Report report;
        for (int run = 0; run < 2; ++run) {
            SetUpSysParams(report, sheet, printedAt());
            SetUpPartTitles(report, sheet);
            SetUpPartValues(report, sheet);
            QCOMPARE(reportText(report), joined(expectedV73));
        }
        SetUpPartValues(report, secondColumn(sheet));
        QCOMPARE(report.partHeading, std::string(22, ' ') + "PN 05    PN 12    ");
        QCOMPARE(report.partRows[4], std::string(8, ' ') + "CUST CODE:    123456            ");
    }

    void padRight_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("width");
        QTest::addColumn<QString>("padded");
        QTest::newRow("empty") << "" << 9 << "         ";
        QTest::newRow("short") << "OFF" << 6 << "OFF   ";
        QTest::newRow("exact") << "123456789" << 9 << "123456789";
        QTest::newRow("longer is kept whole") << "1234567890AB" << 9 << "1234567890AB";
        QTest::newRow("zero width") << "ON" << 0 << "ON";
    }
    void padRight() {
        QFETCH(QString, text);
        QFETCH(int, width);
        QFETCH(QString, padded);
        QCOMPARE(QString::fromStdString(PadRight(text.toStdString(), size_t(width))), padded);
    }

    void emptyTextsPrintAsBlanks() {
        Sheet sheet;
        sheet.SetFirmwareGeneration(Generation::V70);
        const Report report = composeReport(sheet, printedAt());
        QCOMPARE(report.header, "\r\n\r\n      QX7400  SN:          DATE CODE:          "
                                "Dec 07,2026 14:05\r\n\r\n");
        QCOMPARE(report.optionsLines[0], std::string(8, ' ') + "MODEL: " + std::string(19, ' ') +
                                             "TEMP COMPENSATION: " + std::string(10, ' ') +
                                             "REFERENCE FAILURE: ");
        QCOMPARE(report.parametersLines[3],
                 std::string(8, ' ') + "GPR DELAY: " + std::string(15, ' ') +
                     "RS232 FORMAT: " + std::string(15, ' ') + "FAST CYCLE:    ");
        QCOMPARE(report.parametersLines[6], std::string(8, ' ') + "ERR DISPLAY: " +
                                                std::string(13, ' ') + "RTC PROMPT: \r\n\r\n");
        QCOMPARE(report.partRows[0], std::string(8, ' ') + "FLOW ZERO:    " + std::string(9, ' '));
    }

    void longValuesPushTheLine() {
        Sheet sheet = filledSheet(Generation::V73);
        sheet.setText(Sys::Time, "a clock text far wider than its column");
        sheet.setText(Part::PresHiLim, "12345678901");
        sheet.setPartSelection("1234567");
        Report report = composeReport(sheet, printedAt());
        SetUpPartValues(report, sheet);
        QCOMPARE(report.parametersLines[0],
                 "        SYS ZERO: 10              TIME: a clock text far wider than its "
                 "columnEPS: OFF");
        QCOMPARE(report.partHeading, std::string(22, ' ') + "PN 1234567PN 1234567");
        QCOMPARE(report.partRows[22], "        PRES HI LIM:  1234567890112345678901");
    }

    void generationDecidesLine7AndRows_data() {
        QTest::addColumn<int>("generation");
        QTest::addColumn<bool>("initFlowColumn");
        QTest::addColumn<int>("rows");
        QTest::newRow("V7.0") << int(Generation::V70) << false << 28;
        QTest::newRow("V7.3") << int(Generation::V73) << true << 30;
        QTest::newRow("none yet") << int(Generation::None) << true << 28;
    }
    void generationDecidesLine7AndRows() {
        QFETCH(int, generation);
        QFETCH(bool, initFlowColumn);
        QFETCH(int, rows);
        const Sheet sheet = filledSheet(Generation(generation));
        const Report report = composeReport(sheet, printedAt());
        const std::string line7 = report.parametersLines[6];
        QCOMPARE(line7.find("INIT FLOW CHK: OFF") != std::string::npos, initFlowColumn);
        QVERIFY(line7.ends_with("\r\n\r\n"));
        QCOMPARE(int(report.partRows.size()), rows);
        QCOMPARE(report.partRows.back().substr(8, 14),
                 rows == 30 ? "INIT FL LIM:  " : "CC PRES:      ");

        // After every fifth row one blank line, nothing after the last row otherwise.
        const auto lines = reportLines(report);
        QCOMPARE(lines.back().text.empty(), rows == 30);
        int blanksAfterHeading = 0;
        for (size_t i = lines.size() - rows - rows / 5; i < lines.size(); ++i)
            blanksAfterHeading += lines[i].text.empty();
        QCOMPARE(blanksAfterHeading, rows / 5);
    }

    void partNumberHeading_data() {
        QTest::addColumn<QString>("part");
        QTest::addColumn<QString>("heading");
        QTest::newRow("two digits") << "05"
                                    << "PN 05    ";
        QTest::newRow("none selected") << ""
                                       << "PN       ";
        QTest::newRow("six characters") << "123456"
                                        << "PN 123456";
    }
    void partNumberHeading() {
        QFETCH(QString, part);
        QFETCH(QString, heading);
        Sheet sheet = filledSheet(Generation::V73);
        sheet.setPartSelection(part.toStdString());
        const Report report = composeReport(sheet, printedAt());
        QCOMPARE(QString::fromStdString(report.partHeading), QString(22, ' ') + heading);
    }

    // Fonts as the printer receives them: the header large and bold, titles and the part
    // heading bold, values plain.
    void fontsOfTheLines() {
        const Report report = composeReport(filledSheet(Generation::V73), printedAt());
        const auto lines = reportLines(report);
        QCOMPARE(int(lines.size()), int(expectedV73.size()));
        for (size_t i = 0; i < lines.size(); ++i) {
            const QString text = line(report, int(i));
            const bool header = i < 5;
            QCOMPARE(lines[i].pointSize, header ? 12 : 10);
            const bool bold = header || text.contains("SYSTEM OPTIONS") ||
                              text.contains("SYSTEM PARAMETERS") ||
                              text.contains("PART PARAMETERS") || text.contains("PN 05");
            if (!text.isEmpty())
                QVERIFY2(lines[i].bold == bold, qPrintable(text));
        }
        // The blank lines that close a title are printed in the title's font.
        QVERIFY(lines[6].bold && lines[7].bold);
        QVERIFY(!lines.back().bold);
    }

    // Print All Parts: the columns in order, as many to a page as a line holds, every page the
    // whole report with the first sheet's header and system block.
    void allPartsOnPagesOfWholeReports() {
        const Sheet first = filledSheet(Generation::V73);
        std::vector<Sheet> columns;
        for (int n = 1; n <= 16; ++n) {
            Sheet column = n % 2 ? first : secondColumn(first);
            column.setPartSelection(
                QStringLiteral("%1").arg(n, 2, 10, QLatin1Char('0')).toStdString());
            if (n > 1)
                column.setText(Sys::Serial, "9999"); // never printed: the block is the first's
            columns.push_back(column);
        }
        const std::vector<Report> pages = composeReportPages(columns, printedAt(), 7);
        QCOMPARE(pages.size(), size_t(3));
        const std::string block = reportText(composeReport(first, printedAt()));
        const std::string blockEnd = "PART PARAMETERS\r\n\r\n\r\n";
        QString headings;
        size_t next = 0;
        for (const Report& page : pages) {
            const std::string text = reportText(page);
            QCOMPARE(text.substr(0, text.find(blockEnd)), block.substr(0, block.find(blockEnd)));
            QCOMPARE(page.partRows.size(), size_t(30));
            headings += QString::fromStdString(page.partHeading).simplified() + " | ";
            // Each column's values under its heading, 9 characters a column.
            for (size_t c = 0; next < columns.size() && c < 7; ++c, ++next)
                for (size_t r = 0; r < page.partRows.size(); ++r)
                    QCOMPARE(page.partRows[r].substr(22 + 9 * c, 9),
                             PadRight(columns[next].text(reportRowOrder()[r]), 9));
        }
        QCOMPARE(next, columns.size());
        QCOMPARE(headings, "PN 01 PN 02 PN 03 PN 04 PN 05 PN 06 PN 07 | "
                           "PN 08 PN 09 PN 10 PN 11 PN 12 PN 13 PN 14 | PN 15 PN 16 | ");

        // One column is the single report; no column, no page; a page holds at least one.
        QCOMPARE(composeReportPages({first}, printedAt(), 7).size(), size_t(1));
        QCOMPARE(reportText(composeReportPages({first}, printedAt(), 7).front()), block);
        QVERIFY(composeReportPages({}, printedAt(), 7).empty());
        QCOMPARE(composeReportPages(columns, printedAt(), 0).size(), columns.size());

        QCOMPARE(pageFooter(2, 3), std::string(40, ' ') + "Page 2 of 3");
    }

    void partColumnsFittingALine_data() {
        QTest::addColumn<int>("characters");
        QTest::addColumn<int>("columns");
        QTest::newRow("eight exactly") << 22 + 8 * 9 << 8;
        QTest::newRow("one short of eight") << 22 + 8 * 9 - 1 << 7;
        QTest::newRow("not even one") << 10 << 1;
        QTest::newRow("nothing") << 0 << 1;
    }
    void partColumnsFittingALine() {
        QFETCH(int, characters);
        QFETCH(int, columns);
        QCOMPARE(int(partColumnsFitting(size_t(characters))), columns);
    }

    // Wrapped by characters, not bytes: at a blank when one leaves the line half full, else
    // within the word, nothing lost but the blank broken at; line breaks kept.
    void auditTextsWrapped() {
        QCOMPARE(wrapText("Leak Limit 7.5 -> 9", 12),
                 (std::vector<std::string>{"Leak Limit", "7.5 -> 9"}));
        QCOMPARE(wrapText("ab cdefghijkl", 6), (std::vector<std::string>{"ab cde", "fghijk", "l"}));
        QCOMPARE(wrapText("\u00e9\u00e9\u00e9\u00e9\u00e9", 2),
                 (std::vector<std::string>{"\u00e9\u00e9", "\u00e9\u00e9", "\u00e9"}));
        QCOMPARE(wrapText("one\ntwo", 10), (std::vector<std::string>{"one", "two"}));
    }

    // Every page as tall as the grid, the running header on top and its number at the foot; an
    // entry taller than a page goes on under a "continued" line, none wider than the grid.
    void auditPagesOnTheGrid() {
        AuditReportDocument d;
        d.instruments = "every instrument";
        d.period = "2026-12-01 to 2026-12-31";
        d.where = "this PC";
        d.chain = "intact, 1 entries";
        AuditReportEntry e;
        e.id = 7;
        e.what = "download part 05";
        e.reason = std::string(3000, 'x');
        d.entries.push_back(e);
        const auto pages = auditReportPages(d, 60, 30);
        const size_t n = pages.size(); // the first page, the entry on three, the end kept whole
        QCOMPARE(n, size_t(5));
        size_t reason = 0;
        for (size_t p = 0; p < pages.size(); ++p) {
            QCOMPARE(pages[p].size(), size_t(30));
            QCOMPARE(pages[p].front().text,
                     std::string("ParamPorter audit report: every instrument, 2026-12-01 to"));
            QCOMPARE(pages[p].back().text, std::string(49, ' ') + "Page " + std::to_string(p + 1) +
                                               " of " + std::to_string(n));
            for (const ReportLine& line : pages[p]) {
                QVERIFY(line.text.size() <= 60);
                reason += size_t(std::count(line.text.begin(), line.text.end(), 'x'));
            }
        }
        QCOMPARE(reason, size_t(3000));
        QCOMPARE(pages[2][4].text, std::string("Entry 7 (continued)")); // under the header
        const auto end = std::find_if(pages[n - 1].begin(), pages[n - 1].end(), [](const auto& l) {
            return l.text == "Chain check: intact, 1 entries";
        });
        QVERIFY(end != pages[n - 1].end());
        QCOMPARE((end + 2)->text, std::string(AuditReportEnd));
    }
};

QTEST_APPLESS_MAIN(TestReport)
#include "test_report.moc"
