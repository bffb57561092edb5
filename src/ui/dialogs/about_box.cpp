#include "ui/dialogs/about_box.h"

#include "link/platform.h"
#include "ui/common/icons.h"
#include "version.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace pp::ui {

namespace {
QString appTitle() {
    return QString::fromUtf8(pp::AppTitle.data(), pp::AppTitle.size());
}
} // namespace

QString AboutBox::versionText() {
    return QStringLiteral("Version %1.%2.%3")
        .arg(PP_VERSION_MAJOR)
        .arg(PP_VERSION_MINOR)
        .arg(PP_VERSION_PATCH);
}

AboutBox::AboutBox(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmAbout"));
    setAttribute(Qt::WA_DeleteOnClose);
    setModal(true);

    auto* picIcon = new QLabel(this);
    picIcon->setObjectName(QStringLiteral("picIcon"));
    picIcon->setPixmap(appIcon().pixmap(48, 48));
    picIcon->setAlignment(Qt::AlignTop | Qt::AlignHCenter);

    auto* lblTitle = new QLabel(this);
    lblTitle->setObjectName(QStringLiteral("lblTitle"));
    QFont titleFont = lblTitle->font();
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.6);
    titleFont.setBold(true);
    lblTitle->setFont(titleFont);

    auto* lblVersion = new QLabel(this);
    lblVersion->setObjectName(QStringLiteral("lblVersion"));

    auto* lblDescription =
        new QLabel(QStringLiteral("Version 2.0.0 adds support for new parameters added in QX7400 "
                                  "V7.3  for the Initial Flow Check option."),
                   this);
    lblDescription->setObjectName(QStringLiteral("lblDescription"));
    lblDescription->setWordWrap(true);

    auto* line1 = new QFrame(this);
    line1->setObjectName(QStringLiteral("Line1"));
    line1->setFrameShape(QFrame::HLine);
    line1->setFrameShadow(QFrame::Sunken);

    auto* cmdOK = new QPushButton(QStringLiteral("OK"), this);
    cmdOK->setObjectName(QStringLiteral("cmdOK"));
    cmdOK->setDefault(true);
    connect(cmdOK, &QPushButton::clicked, this, &QDialog::close);

    auto* texts = new QVBoxLayout;
    texts->addWidget(lblTitle);
    texts->addWidget(lblVersion);
    texts->addSpacing(8);
    texts->addWidget(lblDescription);
    texts->addStretch(1);

    auto* top = new QHBoxLayout;
    top->addWidget(picIcon, 0, Qt::AlignTop);
    top->addSpacing(12);
    top->addLayout(texts, 1);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(cmdOK);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top, 1);
    layout->addWidget(line1);
    layout->addLayout(buttons);

    setFixedWidth(420);
    Form_Load();
}

void AboutBox::Form_Load() {
    setWindowTitle(QStringLiteral("About ") + appTitle());
    findChild<QLabel*>(QStringLiteral("lblVersion"))->setText(versionText());
    findChild<QLabel*>(QStringLiteral("lblTitle"))->setText(appTitle());
}

} // namespace pp::ui
