#include "ui/main/qt_window.h"

#include "ui/dialogs/reason_dialog.h"

#include "qt/strings.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>

namespace pp::ui {

using qt::qs;

namespace {} // namespace

QtWindow::QtWindow(QWidget* parent) : parent_(parent), folder_(QDir::homePath()) {}

void QtWindow::setStatusLabel(QLabel* panel1) {
    panel1_ = panel1;
    if (panel1_)
        panel1_->setText(qs(status_));
}

void QtWindow::setStatus(std::string_view text) {
    status_ = std::string(text);
    if (panel1_) {
        panel1_->setText(qs(status_));
        // A long text is cut off at the panel's edge; the tooltip shows all of it.
        panel1_->setToolTip(panel1_->text());
    }
}

pp::Answer QtWindow::message(std::string_view text, pp::Buttons buttons, std::string_view caption) {
    const QString body = qs(text);
    const QString title = qs(caption);
    if (messageHook_)
        return messageHook_(body, buttons, title);

    const auto box = makeBox(text, buttons, caption, parent_);
    const int result = box->exec();
    switch (buttons) {
    case pp::Buttons::YesNo:
    case pp::Buttons::NoYes:
        return result == QMessageBox::Yes ? pp::Answer::Yes : pp::Answer::No;
    case pp::Buttons::SaveDiscardCancel:
    case pp::Buttons::DiscardCancel:
        // Escape and the title bar's close button answer Cancel.
        if (result == QMessageBox::Save)
            return pp::Answer::Save;
        return result == QMessageBox::Discard ? pp::Answer::Discard : pp::Answer::Cancel;
    case pp::Buttons::Ok:
        break;
    }
    return pp::Answer::Ok;
}

std::unique_ptr<QMessageBox> QtWindow::makeBox(std::string_view text, pp::Buttons buttons,
                                               std::string_view caption, QWidget* parent) {
    // The texts keep the carriage return of the old message boxes; a label wants a newline.
    QString shown = qs(text);
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    if (buttons == pp::Buttons::YesNo || buttons == pp::Buttons::NoYes) {
        auto box = std::make_unique<QMessageBox>(QMessageBox::Question, qs(caption), shown,
                                                 QMessageBox::Yes | QMessageBox::No, parent);
        box->setDefaultButton(buttons == pp::Buttons::YesNo ? QMessageBox::Yes : QMessageBox::No);
        box->setEscapeButton(QMessageBox::No);
        return box;
    }
    if (buttons == pp::Buttons::SaveDiscardCancel || buttons == pp::Buttons::DiscardCancel) {
        auto box = std::make_unique<QMessageBox>(
            QMessageBox::Warning, qs(caption), shown,
            QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, parent);
        const bool canSave = buttons == pp::Buttons::SaveDiscardCancel;
        box->button(QMessageBox::Save)->setEnabled(canSave);
        box->setDefaultButton(canSave ? QMessageBox::Save : QMessageBox::Cancel);
        box->setEscapeButton(QMessageBox::Cancel);
        return box;
    }
    return std::make_unique<QMessageBox>(QMessageBox::NoIcon, qs(caption), shown, QMessageBox::Ok,
                                         parent);
}

std::optional<std::string> QtWindow::askReason(const std::vector<std::string>& reasons,
                                               bool required) {
    if (reasonHook_) {
        const auto answer = reasonHook_(reasons, required);
        return answer ? std::optional<std::string>(answer->toStdString()) : std::nullopt;
    }
    ReasonDialog dialog(reasons, required, parent_);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.reason().toStdString();
}

std::optional<QString> QtWindow::runFileDialog(bool save, const QString& preset) {
    if (fileHook_)
        return fileHook_(save, preset);

    QFileDialog dialog(parent_, save ? QStringLiteral("Save As") : QStringLiteral("Open"), folder_,
                       fileFilter());
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    if (save)
        dialog.setDefaultSuffix(QStringLiteral("QX")); // asks before overwriting by default
    dialog.selectFile(preset);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().constFirst();
}

std::optional<std::string> QtWindow::chooseOpenFile() {
    const auto chosen = runFileDialog(false, lastName_);
    if (!chosen || chosen->isEmpty())
        return std::nullopt;
    lastName_ = *chosen;
    const QString folder = QFileInfo(*chosen).absolutePath();
    if (!folder.isEmpty())
        folder_ = folder;
    return chosen->toStdString();
}

std::optional<std::string> QtWindow::chooseSaveFile(std::string_view suggestedName) {
    lastName_ = qs(suggestedName);
    const auto chosen = runFileDialog(true, lastName_);
    if (!chosen || chosen->isEmpty())
        return std::nullopt;
    lastName_ = *chosen;
    const QString folder = QFileInfo(*chosen).absolutePath();
    if (!folder.isEmpty())
        folder_ = folder;
    return chosen->toStdString();
}

} // namespace pp::ui
