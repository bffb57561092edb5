#include "ui/main/screen_fit.h"

#include <algorithm>

#include <QApplication>
#include <QEvent>
#include <QPointer>
#include <QScreen>
#include <QTimer>
#include <QWidget>
#include <QWindow>

namespace pp::ui {

namespace {

// A window is framed only once the window system has shown it; until then the frame of
// the windows before it is the best guess (the same window manager draws them all).
QMargins& lastFrame() {
    static QMargins frame;
    return frame;
}

bool fitted(const QWidget* w) {
    if (!w->isWindow())
        return false;
    switch (w->windowType()) {
    case Qt::Window:
    case Qt::Dialog:
        return true;
    default: // menus, tooltips, splash screens place themselves
        return false;
    }
}

QRect room(const QWidget* window) {
    const QScreen* screen = window->screen();
    return screen ? screen->availableGeometry() : QRect();
}

} // namespace

QMargins expectedFrame(const QWidget* window) {
    if (const QWindow* handle = window->windowHandle()) {
        const QMargins frame = handle->frameMargins();
        if (!frame.isNull()) {
            lastFrame() = frame;
            return frame;
        }
    }
    return lastFrame();
}

QSize sizeWithinScreen(const QWidget* window, QSize wanted) {
    const QRect area = room(window);
    if (area.isEmpty())
        return wanted;
    const QMargins frame = expectedFrame(window);
    const QSize inside =
        area.size() - QSize(frame.left() + frame.right(), frame.top() + frame.bottom());
    return wanted.boundedTo(inside.expandedTo(QSize(1, 1)));
}

void fitIntoScreen(QWidget* window) {
    if (window->windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen | Qt::WindowMinimized))
        return;
    const QRect area = room(window);
    if (area.isEmpty())
        return;
    const QSize size = sizeWithinScreen(window, window->size());
    if (size != window->size())
        window->resize(size);
    // pos() and move() are the frame's top left, once there is a frame.
    const QMargins frame = expectedFrame(window);
    const QRect framed(window->pos(), window->size() + QSize(frame.left() + frame.right(),
                                                             frame.top() + frame.bottom()));
    if (area.contains(framed))
        return;
    const int x = std::clamp(framed.x(), area.left(),
                             std::max(area.left(), area.right() - framed.width() + 1));
    const int y = std::clamp(framed.y(), area.top(),
                             std::max(area.top(), area.bottom() - framed.height() + 1));
    window->move(x, y);
}

ScreenFit::ScreenFit(QObject* parent) : QObject(parent) {
    qApp->installEventFilter(this);
}

ScreenFit::~ScreenFit() {
    qApp->removeEventFilter(this);
}

bool ScreenFit::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::Show || !watched->isWidgetType())
        return false;
    auto* w = static_cast<QWidget*>(watched);
    if (!fitted(w))
        return false;
    // The size before the window places itself; the place once it has.
    const QSize size = sizeWithinScreen(w, w->size());
    if (size != w->size())
        w->resize(size);
    QTimer::singleShot(0, w, [window = QPointer<QWidget>(w)] {
        if (window && window->isVisible())
            fitIntoScreen(window);
    });
    return false;
}

} // namespace pp::ui
