// Help > User Guide: the short guide that comes with the program, for the everyday tasks.
#pragma once

#include <QDialog>

class QTextBrowser;

namespace pp::ui {

class UserGuide : public QDialog {
    Q_OBJECT
public:
    explicit UserGuide(QWidget* parent = nullptr);

    QTextBrowser* browser() const { return browser_; }
    static QString resourcePath() { return QStringLiteral("qrc:/guide/user_guide.html"); }

private:
    QTextBrowser* browser_ = nullptr;
};

} // namespace pp::ui
