#include "ui/history/history_server_dialog.h"

#include "qt/server_location.h"

#include "history/server.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

namespace pp::ui {

HistoryServerDialog::HistoryServerDialog(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmHistoryServer"));
    setWindowTitle(QStringLiteral("History Server"));
    auto* caption = new QLabel(QStringLiteral("Server &URI:"), this);
    uri_ = new QLineEdit(this);
    uri_->setObjectName(QStringLiteral("txtHistoryServer"));
    uri_->setPlaceholderText(QStringLiteral("postgresql://line_pc@plant-db/paramporter"));
    uri_->setMinimumWidth(420);
    caption->setBuddy(uri_);
    auto* hint = new QLabel(QStringLiteral("Every transfer recorded on this PC is also sent to "
                                           "this PostgreSQL server. Leave it empty to keep the "
                                           "history on this PC only. The password goes in "
                                           "~/.pgpass, never here."),
                            this);
    hint->setWordWrap(true);
    error_ = new QLabel(this);
    error_->setObjectName(QStringLiteral("lblHistoryServerError"));
    error_->setWordWrap(true);
    error_->hide();
    overridden_ = new QLabel(this);
    overridden_->setObjectName(QStringLiteral("lblHistoryServerOverridden"));
    overridden_->setWordWrap(true);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &HistoryServerDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    // Word-wrapped texts come and go: the dialog takes the height they need instead of
    // squeezing them over each other.
    layout->setSizeConstraint(QLayout::SetMinAndMaxSize);
    layout->addWidget(caption);
    layout->addWidget(uri_);
    layout->addWidget(hint);
    layout->addWidget(error_);
    layout->addWidget(overridden_);
    layout->addWidget(buttons);
}

QString HistoryServerDialog::uri() const {
    return uri_->text().trimmed();
}

void HistoryServerDialog::setUri(const QString& uri) {
    uri_->setText(uri);
    error_->hide();
    const bool variable = !qEnvironmentVariable(qt::HistoryServerVariable).isEmpty();
    overridden_->setText(variable ? QStringLiteral("%1 is set: this program uses it instead "
                                                   "until it ends.")
                                        .arg(QLatin1String(qt::HistoryServerVariable))
                                  : QString());
    overridden_->setVisible(variable);
}

void HistoryServerDialog::accept() {
    const std::string text = uri().toStdString();
    QString problem;
    if (!text.empty()) {
        if (const auto why = pp::history::uriProblem(text))
            problem = QStringLiteral("This is not a connection URI: %1")
                          .arg(QString::fromStdString(*why));
        else if (pp::history::uriHasPassword(text))
            problem = QStringLiteral("Keep the password in ~/.pgpass (or PGPASSWORD), not in the "
                                     "URI: it would be stored as plain text.");
    }
    error_->setText(problem);
    error_->setVisible(!problem.isEmpty());
    if (problem.isEmpty())
        QDialog::accept();
    else
        adjustSize();
}

} // namespace pp::ui
