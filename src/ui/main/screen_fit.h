// Windows kept within the screen's room (the available area, panels and docks left out), so
// that no window opens with its buttons or its status bar beyond the screen's edge.
#pragma once

#include <QMargins>
#include <QObject>
#include <QSize>

class QWidget;

namespace pp::ui {

// The frame the window system puts around `window`; before a window is first framed, the
// frame last seen around another window.
QMargins expectedFrame(const QWidget* window);

// `wanted`, made no larger than the room of the window's screen less its frame.
QSize sizeWithinScreen(const QWidget* window, QSize wanted);

// Shrinks `window` to the room of its screen and moves it, frame and all, into that room.
// Nothing for a maximised or full-screen window, or one that already lies within.
void fitIntoScreen(QWidget* window);

// Every window of the application, when it is shown: no larger than its screen's room, and
// once up, moved into it (a dialog first places itself, over its parent).
class ScreenFit : public QObject {
    Q_OBJECT
public:
    explicit ScreenFit(QObject* parent = nullptr);
    ~ScreenFit() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};

} // namespace pp::ui
