// A panel of the status bar: a text longer than the panel ends in "…" where the panel does,
// while text() (and so the accessibility interface and the tooltip) keeps all of it.
#pragma once

#include <QLabel>

namespace pp::ui {

class StatusLabel : public QLabel {
    Q_OBJECT
public:
    explicit StatusLabel(Qt::TextElideMode mode, QWidget* parent = nullptr);

    // What the panel shows: text(), or as much of it as fits with "…".
    QString shownText() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QRect textRect() const;

    Qt::TextElideMode mode_;
};

} // namespace pp::ui
