#include "ui/history/sign_dialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace pp::ui {

SignDialog::SignDialog(const QString& what, const QString& meaning, QWidget* parent)
    : QDialog(parent) {
    setObjectName(QStringLiteral("frmSign"));
    setWindowTitle(QStringLiteral("Sign"));
    setMinimumWidth(420);
    auto* subject = new QLabel(what + QStringLiteral("\nMeaning: ") + meaning, this);
    subject->setObjectName(QStringLiteral("lblSignSubject"));
    subject->setWordWrap(true);
    login_ = new QLineEdit(this);
    login_->setObjectName(QStringLiteral("txtSignLogin"));
    password_ = new QLineEdit(this);
    password_->setObjectName(QStringLiteral("txtSignPassword"));
    password_->setEchoMode(QLineEdit::Password);
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Plant &login:"), login_);
    form->addRow(QStringLiteral("&Password:"), password_);
    // The labels name their fields for screen readers, as the buddies do for the keyboard.
    login_->setAccessibleName(QStringLiteral("Plant login"));
    password_->setAccessibleName(QStringLiteral("Password"));
    auto* hint = new QLabel(QStringLiteral("Your own plant login and password sign this at the "
                                           "plant server, which records your name, the meaning "
                                           "and its time with it. The password is not kept."),
                            this);
    hint->setWordWrap(true);
    buttons_ = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons_->button(QDialogButtonBox::Ok)->setText(QStringLiteral("Sign"));
    connect(buttons_, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons_, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(login_, &QLineEdit::textChanged, this, &SignDialog::update);
    connect(password_, &QLineEdit::textChanged, this, &SignDialog::update);

    auto* layout = new QVBoxLayout(this);
    layout->setSizeConstraint(QLayout::SetMinAndMaxSize);
    layout->addWidget(subject);
    layout->addLayout(form);
    layout->addWidget(hint);
    layout->addWidget(buttons_);
    update();
}

SignDialog::~SignDialog() {
    password_->clear();
}

pp::history::Credentials SignDialog::take() {
    pp::history::Credentials as{login_->text().trimmed().toStdString(),
                                password_->text().toStdString()};
    password_->clear();
    return as;
}

void SignDialog::update() {
    buttons_->button(QDialogButtonBox::Ok)
        ->setEnabled(!login_->text().trimmed().isEmpty() && !password_->text().isEmpty());
}

} // namespace pp::ui
