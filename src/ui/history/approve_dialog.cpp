#include "ui/history/approve_dialog.h"

#include "history/entry.h"

#include <QDialogButtonBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace pp::ui {

ApproveDialog::ApproveDialog(const QString& what, QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmApprove"));
    setWindowTitle(QStringLiteral("Approve"));
    auto* subject = new QLabel(what, this);
    subject->setObjectName(QStringLiteral("lblApproveSubject"));
    subject->setWordWrap(true);
    auto* meaning = new QGroupBox(QStringLiteral("This signature means"), this);
    approved_ = new QRadioButton(QStringLiteral("&Approved: these are the values the instrument "
                                                "should hold"),
                                 meaning);
    approved_->setObjectName(QStringLiteral("optApproved"));
    approved_->setChecked(true);
    reviewed_ = new QRadioButton(QStringLiteral("&Reviewed: the values were checked, not yet "
                                                "approved"),
                                 meaning);
    reviewed_->setObjectName(QStringLiteral("optReviewed"));
    auto* meaningLayout = new QVBoxLayout(meaning);
    meaningLayout->addWidget(approved_);
    meaningLayout->addWidget(reviewed_);
    auto* reasonLabel = new QLabel(QStringLiteral("Re&ason:"), this);
    reason_ = new QLineEdit(this);
    reason_->setObjectName(QStringLiteral("txtApproveReason"));
    reason_->setPlaceholderText(QStringLiteral("Required"));
    reasonLabel->setBuddy(reason_);
    auto* hint = new QLabel(QStringLiteral("Your account, this PC and the time are recorded with "
                                           "the approval in the history."),
                            this);
    hint->setWordWrap(true);
    buttons_ = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons_->button(QDialogButtonBox::Ok)->setText(QStringLiteral("Approve"));
    connect(buttons_, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons_, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(reason_, &QLineEdit::textChanged, this, &ApproveDialog::update);

    auto* layout = new QVBoxLayout(this);
    layout->setSizeConstraint(QLayout::SetMinAndMaxSize);
    layout->addWidget(subject);
    layout->addWidget(meaning);
    layout->addWidget(reasonLabel);
    layout->addWidget(reason_);
    layout->addWidget(hint);
    layout->addWidget(buttons_);
    update();
}

std::string ApproveDialog::meaning() const {
    return std::string(reviewed_->isChecked() ? pp::history::Reviewed : pp::history::Approved);
}

std::string ApproveDialog::reason() const {
    return reason_->text().simplified().toStdString();
}

void ApproveDialog::update() {
    buttons_->button(QDialogButtonBox::Ok)->setEnabled(!reason_->text().trimmed().isEmpty());
}

} // namespace pp::ui
