#include "report_painter.h"

#include <QFontDatabase>
#include <QFontMetricsF>
#include <QPageLayout>
#include <QPagedPaintDevice>
#include <QPainter>

#include <algorithm>

namespace pp {

QString reportFontFamily() {
    static const QString family = [] {
        const QString preferred = QStringLiteral("Courier New");
        return QFontDatabase::families().contains(preferred, Qt::CaseInsensitive)
                   ? preferred
                   : QStringLiteral("Liberation Mono");
    }();
    return family;
}

namespace {

QFont reportFont(int pointSize, bool bold) {
    QFont font(reportFontFamily());
    font.setStyleHint(QFont::TypeWriter);
    font.setFixedPitch(true);
    font.setPointSize(pointSize);
    font.setBold(bold);
    // The columns are made of blanks: nothing may stretch or kern them.
    font.setKerning(false);
    return font;
}

// Lines placed on the pages, before anything is painted: the page numbers need the count.
struct Placed {
    const ReportLine* line;
    qreal y;
};

// Each report starts a page of its own; a line that would not fit goes on the next page.
// Numbered pages keep their last line free for the number.
bool paintPages(const std::vector<std::vector<ReportLine>>& reports, bool numbered,
                QPagedPaintDevice& printer) {
    // The report is laid out for upright pages.
    printer.setPageOrientation(QPageLayout::Portrait);

    QPainter painter;
    if (!painter.begin(&printer))
        return false;

    // The painter starts at the top left of the printable area, in device pixels.
    const QFont footerFont = reportFont(10, false);
    const QFontMetricsF footerMetrics(footerFont, &printer);
    const qreal printable = printer.height();
    const qreal pageHeight = numbered ? printable - footerMetrics.lineSpacing() : printable;
    std::vector<std::vector<Placed>> pages;
    for (const std::vector<ReportLine>& lines : reports) {
        pages.emplace_back();
        qreal y = 0;
        for (const ReportLine& line : lines) {
            const QFontMetricsF metrics(reportFont(line.pointSize, line.bold), &printer);
            if (y > 0 && y + metrics.height() > pageHeight) {
                pages.emplace_back();
                y = 0;
            }
            pages.back().push_back({&line, y});
            y += metrics.lineSpacing();
        }
    }

    for (size_t p = 0; p < pages.size(); ++p) {
        if (p > 0 && !printer.newPage()) {
            painter.end();
            return false;
        }
        for (const Placed& placed : pages[p]) {
            if (placed.line->text.empty())
                continue;
            painter.setFont(reportFont(placed.line->pointSize, placed.line->bold));
            const QFontMetricsF metrics(painter.font(), &printer);
            painter.drawText(QPointF(0, placed.y + metrics.ascent()),
                             QString::fromStdString(placed.line->text));
        }
        if (numbered) {
            painter.setFont(footerFont);
            painter.drawText(QPointF(0, printable - footerMetrics.descent()),
                             QString::fromStdString(pageFooter(p + 1, pages.size())));
        }
    }
    return painter.end();
}

} // namespace

size_t partColumnsPerPage(QPagedPaintDevice& printer) {
    printer.setPageOrientation(QPageLayout::Portrait);
    qreal pitch = 0;
    for (bool bold : {false, true})
        pitch = std::max(
            pitch,
            QFontMetricsF(reportFont(10, bold), &printer).horizontalAdvance(QLatin1Char(' ')));
    if (pitch <= 0)
        return 1;
    return partColumnsFitting(static_cast<size_t>(std::max<qreal>(printer.width() / pitch, 0)));
}

bool PrintReport(const Report& report, QPagedPaintDevice& printer) {
    return PrintLines(reportLines(report), printer);
}

bool PrintReportPages(const std::vector<Sheet>& columns, const std::tm& now,
                      QPagedPaintDevice& printer) {
    if (columns.empty())
        return false;
    const std::vector<Report> pages = composeReportPages(columns, now, partColumnsPerPage(printer));
    std::vector<std::vector<ReportLine>> lines;
    for (const Report& page : pages)
        lines.push_back(reportLines(page));
    return paintPages(lines, pages.size() > 1, printer);
}

bool PrintLines(const std::vector<ReportLine>& lines, QPagedPaintDevice& printer) {
    return paintPages({lines}, false, printer);
}

LineGrid lineGrid(QPagedPaintDevice& printer) {
    printer.setPageOrientation(QPageLayout::Portrait);
    qreal pitch = 0;
    for (bool bold : {false, true})
        pitch = std::max(
            pitch,
            QFontMetricsF(reportFont(10, bold), &printer).horizontalAdvance(QLatin1Char(' ')));
    const qreal spacing = QFontMetricsF(reportFont(10, false), &printer).lineSpacing();
    LineGrid grid;
    if (pitch > 0 && spacing > 0) {
        grid.columns = static_cast<size_t>(std::max<qreal>(printer.width() / pitch, 0));
        grid.rows = static_cast<size_t>(std::max<qreal>(printer.height() / spacing, 0));
    }
    return grid;
}

bool PrintPages(const std::vector<std::vector<ReportLine>>& pages, QPagedPaintDevice& printer) {
    printer.setPageOrientation(QPageLayout::Portrait);
    QPainter painter;
    if (!painter.begin(&printer))
        return false;
    const QFont regular = reportFont(10, false), bold = reportFont(10, true);
    const QFontMetricsF metrics(regular, &printer);
    const qreal spacing = metrics.lineSpacing(), ascent = metrics.ascent();
    bool isBold = false;
    painter.setFont(regular);
    for (size_t p = 0; p < pages.size(); ++p) {
        if (p > 0 && !printer.newPage()) {
            painter.end();
            return false;
        }
        for (size_t row = 0; row < pages[p].size(); ++row) {
            const ReportLine& line = pages[p][row];
            if (line.text.empty())
                continue;
            if (line.bold != isBold) {
                isBold = line.bold;
                painter.setFont(isBold ? bold : regular);
            }
            painter.drawText(QPointF(0, static_cast<qreal>(row) * spacing + ascent),
                             QString::fromStdString(line.text));
        }
    }
    return painter.end();
}

} // namespace pp
