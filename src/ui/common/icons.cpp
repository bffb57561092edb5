#include "ui/common/icons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include <cmath>

namespace pp::ui {

namespace {

constexpr int Sizes[] = {16, 24, 32, 48, 64, 128};

template <typename Paint> QIcon drawnIcon(Paint paint) {
    QIcon icon;
    for (int size : Sizes) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing);
        p.scale(size / 64.0, size / 64.0); // every icon is drawn on a 64 x 64 grid
        paint(p);
        p.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

} // namespace

QIcon appIcon() {
    static const QIcon icon = drawnIcon([](QPainter& p) {
        // Dial
        QRadialGradient face(QPointF(26, 24), 36);
        face.setColorAt(0, QColor(0xfa, 0xfa, 0xf6));
        face.setColorAt(1, QColor(0xd6, 0xdb, 0xe0));
        p.setPen(QPen(QColor(0x2f, 0x3e, 0x4e), 4));
        p.setBrush(face);
        p.drawEllipse(QPointF(32, 32), 28, 28);
        // Scale: ticks over 270 degrees, the last quarter red
        for (int i = 0; i <= 10; ++i) {
            const double a = (225.0 - i * 27.0) * M_PI / 180.0;
            const QPointF outer(32 + 22 * std::cos(a), 32 - 22 * std::sin(a));
            const QPointF inner(32 + 16 * std::cos(a), 32 - 16 * std::sin(a));
            p.setPen(QPen(i >= 8 ? QColor(0xc0, 0x1c, 0x28) : QColor(0x2f, 0x3e, 0x4e), 3,
                          Qt::SolidLine, Qt::RoundCap));
            p.drawLine(inner, outer);
        }
        // Needle
        const double a = 70.0 * M_PI / 180.0;
        p.setPen(QPen(QColor(0xc0, 0x1c, 0x28), 4, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(32, 32), QPointF(32 + 20 * std::cos(a), 32 - 20 * std::sin(a)));
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0x2f, 0x3e, 0x4e));
        p.drawEllipse(QPointF(32, 32), 5, 5);
    });
    return icon;
}

QIcon printIcon() {
    static const QIcon drawn = drawnIcon([](QPainter& p) {
        const QColor ink(0x3a, 0x40, 0x48);
        p.setPen(QPen(ink, 3));
        // Paper going in
        p.setBrush(Qt::white);
        p.drawRect(QRectF(18, 6, 28, 20));
        // Body
        p.setBrush(QColor(0x8c, 0x96, 0xa0));
        p.drawRoundedRect(QRectF(6, 24, 52, 24), 5, 5);
        // Paper coming out, with lines of text
        p.setBrush(Qt::white);
        p.drawRect(QRectF(16, 38, 32, 20));
        p.setPen(QPen(ink, 2));
        p.drawLine(QPointF(22, 46), QPointF(42, 46));
        p.drawLine(QPointF(22, 52), QPointF(36, 52));
        // Ready light
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0x33, 0xd1, 0x7a));
        p.drawEllipse(QPointF(50, 31), 3, 3);
    });
    return QIcon::fromTheme(QStringLiteral("document-print"), drawn);
}

QIcon modeIcon() {
    static const QIcon icon = drawnIcon([](QPainter& p) {
        const QColor ink(0x2f, 0x3e, 0x4e);
        // Instrument case
        p.setPen(QPen(ink, 3));
        p.setBrush(QColor(0xd6, 0xdb, 0xe0));
        p.drawRoundedRect(QRectF(4, 8, 56, 48), 6, 6);
        // Display
        p.setBrush(QColor(0x1d, 0x4f, 0x2e));
        p.drawRect(QRectF(11, 15, 42, 16));
        p.setPen(QPen(QColor(0x7c, 0xf0, 0x9c), 3));
        p.drawLine(QPointF(16, 23), QPointF(28, 23));
        p.drawLine(QPointF(33, 23), QPointF(47, 23));
        // Keys: four modes
        p.setPen(QPen(ink, 2));
        const QColor keys[] = {QColor(0x35, 0x84, 0xe4), QColor(0xf6, 0xd3, 0x2d),
                               QColor(0x33, 0xd1, 0x7a), QColor(0xe0, 0x1b, 0x24)};
        for (int i = 0; i < 4; ++i) {
            p.setBrush(keys[i]);
            p.drawRoundedRect(QRectF(11 + i * 11, 38, 8, 10), 2, 2);
        }
    });
    return icon;
}

} // namespace pp::ui
