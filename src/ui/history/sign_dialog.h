// "Sign": the approver's own plant login and password, typed in for one signing at the plant
// server. Neither is kept: the password leaves the dialog once, by take().
#pragma once

#include "history/pg_connection.h"

#include <QDialog>

class QDialogButtonBox;
class QLineEdit;

namespace pp::ui {

class SignDialog : public QDialog {
    Q_OBJECT
public:
    // `what`: what is signed, as the approval shows it; `meaning`: "approved" or "reviewed".
    SignDialog(const QString& what, const QString& meaning, QWidget* parent = nullptr);
    ~SignDialog() override;

    // The login and password typed in; the password field is emptied.
    pp::history::Credentials take();

private:
    void update();

    QLineEdit* login_ = nullptr;
    QLineEdit* password_ = nullptr;
    QDialogButtonBox* buttons_ = nullptr;
};

} // namespace pp::ui
