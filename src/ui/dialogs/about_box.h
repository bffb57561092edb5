// The About box: title, version and what this version adds. Built afresh for every showing
// and destroyed by its button.
#pragma once

#include <QDialog>

namespace pp::ui {

class AboutBox : public QDialog {
    Q_OBJECT
public:
    explicit AboutBox(QWidget* parent = nullptr);

    static QString versionText(); // "Version 2.0.0"

private:
    void Form_Load();
};

} // namespace pp::ui
