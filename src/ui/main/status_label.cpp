#include "ui/main/status_label.h"

#include <QPainter>
#include <QStyle>

namespace pp::ui {

StatusLabel::StatusLabel(Qt::TextElideMode mode, QWidget* parent) : QLabel(parent), mode_(mode) {}

// Where QLabel puts its text: inside the margin, and indented by half an "x" in a frame.
QRect StatusLabel::textRect() const {
    QRect r = contentsRect().adjusted(margin(), margin(), -margin(), -margin());
    int in = indent();
    if (in < 0 && frameWidth())
        in = fontMetrics().horizontalAdvance(QLatin1Char('x')) / 2 - margin();
    if (in > 0) {
        const Qt::Alignment align = QStyle::visualAlignment(layoutDirection(), alignment());
        if (align & Qt::AlignLeft)
            r.setLeft(r.left() + in);
        if (align & Qt::AlignRight)
            r.setRight(r.right() - in);
        if (align & Qt::AlignTop)
            r.setTop(r.top() + in);
        if (align & Qt::AlignBottom)
            r.setBottom(r.bottom() - in);
    }
    return r;
}

QString StatusLabel::shownText() const {
    return fontMetrics().elidedText(text(), mode_, textRect().width());
}

void StatusLabel::paintEvent(QPaintEvent* event) {
    const QString shown = shownText();
    if (shown == text()) {
        QLabel::paintEvent(event);
        return;
    }
    // The frame as QLabel draws it, then the shortened text where QLabel puts its own.
    QFrame::paintEvent(event);
    QPainter painter(this);
    style()->drawItemText(&painter, textRect(),
                          int(QStyle::visualAlignment(layoutDirection(), alignment())), palette(),
                          isEnabled(), shown, foregroundRole());
}

} // namespace pp::ui
