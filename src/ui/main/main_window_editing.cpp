// The main window as an editor: every change of a control as one undo step, and values taken
// from a comparison.
#include "ui/main/main_window.h"

#include "qt/strings.h"

#include "ui/main/sheet_view.h"

#include "files/param_file.h"
#include "link/status_texts.h"
#include "sheet/typed_value.h"

namespace pp::ui {

using qt::qs;

void MainWindow::buildEditing() {
    connect(view_, &SheetView::aboutToEdit, document_, &Document::beginEdit);
    connect(view_, &SheetView::edited, this, &MainWindow::userEdited);
    connect(view_, &SheetView::typingEnded, document_, &Document::endTypingRun);
    connect(view_, &SheetView::valueRefused, this,
            [this](const QString& message) { window_.message(message.toStdString()); });
    connect(document_, &Document::restored, this, &MainWindow::mirror);
}

void MainWindow::userEdited(const QString& step, bool typing) {
    document_->endEdit(step, typing);
    mirror();
}

bool MainWindow::takeFromCompare(const std::vector<pp::Difference>& rows) {
    if (busy()) {
        window_.message(pp::text::WaitForTransfer);
        return false;
    }
    pp::FieldTexts texts;
    for (const pp::Difference& d : rows) {
        if (d.group == pp::CompareGroup::System && d.index >= 0)
            texts.system.emplace_back(static_cast<pp::Sys>(d.index), d.b);
        else if (d.group == pp::CompareGroup::Part && d.index >= 0)
            texts.part.emplace_back(static_cast<pp::Part>(d.index), d.b);
        else if (d.group == pp::CompareGroup::Part)
            texts.partNumber = d.b;
    }
    pp::Sheet work = sheet();
    pp::FieldFailure failed;
    if (!pp::applyFieldTexts(work, texts, &failed)) {
        // The value does not fit this sheet (other decimals, another time base): nothing taken.
        const std::string range = failed.system
                                      ? pp::rangeText(work, static_cast<pp::Sys>(failed.index))
                                      : pp::rangeText(work, static_cast<pp::Part>(failed.index));
        window_.message("Nothing was taken. The value lies outside " + range);
        return false;
    }
    const pp::Sheet before = sheet();
    sheet() = std::move(work);
    document_->record(before, QStringLiteral("Take From Compare"));
    mirror();
    return true;
}

} // namespace pp::ui
