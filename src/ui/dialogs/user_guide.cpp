#include "ui/dialogs/user_guide.h"

#include <QDialogButtonBox>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

namespace pp::ui {

UserGuide::UserGuide(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmUserGuide"));
    setWindowTitle(QStringLiteral("ParamPorter User Guide"));
    browser_ = new QTextBrowser(this);
    browser_->setObjectName(QStringLiteral("txtGuide"));
    browser_->setAccessibleName(QStringLiteral("User Guide"));
    browser_->setOpenExternalLinks(false);
    browser_->setSource(QUrl(resourcePath()));

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::hide);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(browser_, 1);
    layout->addWidget(buttons);
    resize(620, 560);
}

} // namespace pp::ui
