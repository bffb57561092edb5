#include "report_painter.h"

#include <QFontDatabase>
#include <QFontMetricsF>
#include <QPageLayout>
#include <QPagedPaintDevice>
#include <QPainter>

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

} // namespace

bool PrintReport(const Report& report, QPagedPaintDevice& printer) {
    return PrintLines(reportLines(report), printer);
}

bool PrintLines(const std::vector<ReportLine>& lines, QPagedPaintDevice& printer) {
    // The report is laid out for upright pages.
    printer.setPageOrientation(QPageLayout::Portrait);

    QPainter painter;
    if (!painter.begin(&printer))
        return false;

    // The painter starts at the top left of the printable area, in device pixels.
    const qreal pageHeight = printer.height();
    qreal y = 0;
    for (const ReportLine& line : lines) {
        painter.setFont(reportFont(line.pointSize, line.bold));
        const QFontMetricsF metrics(painter.font(), &printer);
        if (y > 0 && y + metrics.height() > pageHeight) {
            if (!printer.newPage()) {
                painter.end();
                return false;
            }
            y = 0;
        }
        if (!line.text.empty())
            painter.drawText(QPointF(0, y + metrics.ascent()), QString::fromStdString(line.text));
        y += metrics.lineSpacing();
    }
    return painter.end();
}

} // namespace pp
