// "Approve": an entry's values made the approved state of its instrument and scope, with what
// the signature means (approved, or reviewed only) and why.
#pragma once

#include <QDialog>

#include <string>

class QDialogButtonBox;
class QLineEdit;
class QRadioButton;

namespace pp::ui {

class ApproveDialog : public QDialog {
    Q_OBJECT
public:
    // `what`: the entry as the technician knows it ("part 05 of 1234, uploaded ...").
    explicit ApproveDialog(const QString& what, QWidget* parent = nullptr);

    std::string meaning() const; // "approved" or "reviewed"
    std::string reason() const;

private:
    void update();

    QRadioButton* approved_ = nullptr;
    QRadioButton* reviewed_ = nullptr;
    QLineEdit* reason_ = nullptr;
    QDialogButtonBox* buttons_ = nullptr;
};

} // namespace pp::ui
