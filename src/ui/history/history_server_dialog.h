// SetUp > "History Server...": the plant's history server as a PostgreSQL connection URI. A URI
// libpq cannot read, or one that holds a password, is refused with the reason and nothing is
// kept; an empty URI forwards nowhere.
#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;

namespace pp::ui {

class HistoryServerDialog : public QDialog {
    Q_OBJECT
public:
    explicit HistoryServerDialog(QWidget* parent = nullptr);

    QString uri() const;
    void setUri(const QString& uri);
    void accept() override;

private:
    QLineEdit* uri_ = nullptr;
    QLabel* error_ = nullptr;
    QLabel* overridden_ = nullptr;
};

} // namespace pp::ui
