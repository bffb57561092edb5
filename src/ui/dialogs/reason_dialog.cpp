#include "ui/dialogs/reason_dialog.h"

#include "qt/strings.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace pp::ui {

ReasonDialog::ReasonDialog(const std::vector<std::string>& reasons, bool required, QWidget* parent)
    : QDialog(parent), required_(required) {
    setObjectName(QStringLiteral("frmReason"));
    setWindowTitle(QStringLiteral("Reason for the Download"));
    auto* label = new QLabel(QStringLiteral("&Why are these values downloaded?"), this);
    reason_ = new QComboBox(this);
    reason_->setObjectName(QStringLiteral("cmbReason"));
    reason_->setEditable(true);
    reason_->setInsertPolicy(QComboBox::NoInsert);
    reason_->setMinimumContentsLength(40);
    for (const std::string& r : reasons)
        reason_->addItem(qt::qs(r));
    reason_->setCurrentIndex(-1);
    reason_->lineEdit()->setPlaceholderText(required ? QStringLiteral("Required by the plant")
                                                     : QStringLiteral("Optional"));
    label->setBuddy(reason_);
    auto* hint = new QLabel(QStringLiteral("The reason is kept in the history with the values "
                                           "sent."),
                            this);
    hint->setWordWrap(true);
    buttons_ = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons_->button(QDialogButtonBox::Ok)->setText(QStringLiteral("Download"));
    connect(buttons_, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons_, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(reason_, &QComboBox::currentTextChanged, this, &ReasonDialog::update);

    auto* layout = new QVBoxLayout(this);
    layout->setSizeConstraint(QLayout::SetMinAndMaxSize);
    layout->addWidget(label);
    layout->addWidget(reason_);
    layout->addWidget(hint);
    layout->addWidget(buttons_);
    update();
}

QString ReasonDialog::reason() const {
    return reason_->currentText().simplified();
}

void ReasonDialog::setReason(const QString& text) {
    reason_->setCurrentText(text);
}

void ReasonDialog::update() {
    buttons_->button(QDialogButtonBox::Ok)->setEnabled(!required_ || !reason().isEmpty());
}

} // namespace pp::ui
