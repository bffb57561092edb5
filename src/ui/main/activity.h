// Work of the window that talks to the instrument by itself, one exchange after another
// (reading who is on the line, Print All Parts, a comparison, a backup): while any runs the
// window is busy, its commands wait and the cursor says so.
#pragma once

#include <QObject>

namespace pp::ui {

class Activity : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    class Scope {
    public:
        explicit Scope(Activity& activity) : activity_(activity) { activity_.enter(); }
        ~Scope() { activity_.leave(); }
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;

    private:
        Activity& activity_;
    };

    bool running() const { return depth_ > 0; }

signals:
    void changed();

private:
    void enter() {
        if (depth_++ == 0)
            emit changed();
    }
    void leave() {
        if (--depth_ == 0)
            emit changed();
    }

    int depth_ = 0;
};

} // namespace pp::ui
