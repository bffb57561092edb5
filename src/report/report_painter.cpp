#include "report_painter.h"

#include <QFontDatabase>
#include <QFontMetricsF>
#include <QGlyphRun>
#include <QPageLayout>
#include <QPagedPaintDevice>
#include <QPainter>
#include <QRawFont>

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

namespace {

// The lines of one font on a page, each character placed at its column: the pitch is fixed, so
// nothing needs shaping, and a page is two calls to the paint engine instead of one a line.
struct GlyphLines {
    QRawFont font;
    QList<quint32> glyphs;
    QList<QPointF> positions;

    // False when the font lacks a character of `text` (the caller draws it with fallbacks).
    bool add(const QString& text, qreal x0, qreal baseline, qreal pitch) {
        const QList<quint32> indexes = font.glyphIndexesForString(text);
        if (indexes.size() != text.size())
            return false;
        for (qsizetype i = 0; i < text.size(); ++i)
            if (indexes[i] == 0 || text[i].isSurrogate())
                return false;
        for (qsizetype i = 0; i < text.size(); ++i) {
            if (text[i] == QLatin1Char(' '))
                continue;
            glyphs.push_back(indexes[i]);
            positions.push_back(QPointF(x0 + static_cast<qreal>(i) * pitch, baseline));
        }
        return true;
    }
    void paint(QPainter& painter) {
        if (glyphs.isEmpty())
            return;
        QGlyphRun run;
        run.setRawFont(font);
        run.setGlyphIndexes(glyphs);
        run.setPositions(positions);
        painter.drawGlyphRun(QPointF(0, 0), run);
        glyphs.clear();
        positions.clear();
    }
};

} // namespace

bool PrintPages(const std::vector<std::vector<ReportLine>>& pages, QPagedPaintDevice& printer) {
    printer.setPageOrientation(QPageLayout::Portrait);
    QPainter painter;
    if (!painter.begin(&printer))
        return false;
    const QFont regular = reportFont(10, false), bold = reportFont(10, true);
    const QFontMetricsF metrics(regular, &printer), boldMetrics(bold, &printer);
    const qreal spacing = metrics.lineSpacing(), ascent = metrics.ascent();
    const qreal pitch = std::max(metrics.horizontalAdvance(QLatin1Char(' ')),
                                 boldMetrics.horizontalAdvance(QLatin1Char(' ')));
    const qreal pixels = 10.0 * printer.logicalDpiY() / 72.0;
    GlyphLines plain{QRawFont::fromFont(regular), {}, {}}, heavy{QRawFont::fromFont(bold), {}, {}};
    plain.font.setPixelSize(pixels);
    heavy.font.setPixelSize(pixels);
    for (size_t p = 0; p < pages.size(); ++p) {
        if (p > 0 && !printer.newPage()) {
            painter.end();
            return false;
        }
        for (size_t row = 0; row < pages[p].size(); ++row) {
            const ReportLine& line = pages[p][row];
            if (line.text.empty())
                continue;
            const QString text = QString::fromStdString(line.text);
            const qreal baseline = static_cast<qreal>(row) * spacing + ascent;
            GlyphLines& lines = line.bold ? heavy : plain;
            if (lines.font.isValid() && lines.add(text, 0, baseline, pitch))
                continue;
            painter.setFont(line.bold ? bold : regular);
            painter.drawText(QPointF(0, baseline), text);
        }
        plain.paint(painter);
        heavy.paint(painter);
    }
    return painter.end();
}

} // namespace pp
