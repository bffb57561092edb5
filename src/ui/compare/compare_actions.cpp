#include "ui/compare/compare_actions.h"

#include "qt/part_sweep.h"
#include "qt/scratch_upload.h"
#include "ui/compare/backup.h"
#include "ui/compare/compare_dialog.h"
#include "ui/main/main_window.h"
#include "ui/main/qt_window.h"
#include "ui/main/sheet_view.h"

#include "files/param_file.h"
#include "sheet/compare.h"

#include <QAction>
#include <QMenu>
#include <QPushButton>

#include <algorithm>
#include <optional>

namespace pp::ui {

namespace {

// The file is only looked at: its layout is not converted, so the conversion question is
// answered without asking. Everything else is shown as when opening a file.
class NoQuestionWindow : public pp::Window {
public:
    explicit NoQuestionWindow(pp::Window& window) : window_(window) {}
    void setStatus(std::string_view text) override { window_.setStatus(text); }
    std::string status() const override { return window_.status(); }
    pp::Answer message(std::string_view text, pp::Buttons buttons,
                       std::string_view caption) override {
        if (buttons == pp::Buttons::YesNo)
            return pp::Answer::No;
        return window_.message(text, buttons, caption);
    }

private:
    pp::Window& window_;
};

} // namespace

CompareActions::CompareActions(MainWindow& mainWindow, pp::Sheet& sheet, QtWindow& window,
                               qt::SessionDriver& driver, SheetView& view,
                               std::function<void()> mirrorWindow)
    : QObject(&mainWindow), mainWindow_(mainWindow), sheet_(sheet), window_(window),
      driver_(driver), mirror_(std::move(mirrorWindow)) {
    backup_ = new PartsBackup(driver_, window_, sheet_, &mainWindow_);

    compareFile_ = new QAction(QStringLiteral("Compare With File..."), &mainWindow_);
    compareFile_->setObjectName(QStringLiteral("mnuCompareFile"));
    backupAction_ = new QAction(QStringLiteral("Back Up All Parts..."), &mainWindow_);
    backupAction_->setObjectName(QStringLiteral("mnuBackup"));
    if (auto* file = mainWindow_.findChild<QMenu*>(QStringLiteral("mnuFile"))) {
        // Before the separator that precedes Exit, or at the end.
        QAction* before = nullptr;
        const auto actions = file->actions();
        for (qsizetype i = 0; i < actions.size(); ++i) {
            if (actions[i]->objectName() == QLatin1String("mnuExit")) {
                before = i > 0 && actions[i - 1]->isSeparator() ? actions[i - 1] : actions[i];
                break;
            }
        }
        QAction* separator = new QAction(file);
        separator->setSeparator(true);
        file->insertActions(before, {separator, compareFile_, backupAction_});
    }
    connect(compareFile_, &QAction::triggered, this, &CompareActions::mnuCompareFile_Click);
    connect(backupAction_, &QAction::triggered, this, &CompareActions::mnuBackup_Click);
    connect(view.cmdSDCompare(), &QPushButton::clicked, this, &CompareActions::cmdCompare_Click);
    connect(view.cmdPartCompare(), &QPushButton::clicked, this, &CompareActions::cmdCompare_Click);
    // Something to compare: the same state that allows saving the sheet.
    mainWindow_.addCommand(compareFile_, [](const MainWindow::CommandState& s) {
        return !s.busy && s.sheet.commands.saveAs;
    });
    mainWindow_.addCommand(backupAction_, [](const MainWindow::CommandState& s) {
        return !s.busy && s.sheet.commands.sdUpload;
    });
}

void CompareActions::showDifferences(const std::vector<pp::Difference>& differences,
                                     const QString& title, const QString& otherColumn) {
    auto* dialog = new CompareDialog(differences, title, otherColumn, &mainWindow_);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    if (take_)
        dialog->offerTake(take_);
    dialog->open();
}

void CompareActions::mnuCompareFile_Click() {
    const auto path = window_.chooseOpenFile();
    if (!path)
        return;
    pp::Sheet file;
    NoQuestionWindow window(window_);
    const bool read = pp::ReadParamFile(file, *path, window);
    if (mirror_)
        mirror_();
    if (read)
        showDifferences(pp::compareSheets(sheet_, file), QStringLiteral("Compare With File"),
                        QStringLiteral("In file"));
}

void CompareActions::cmdCompare_Click() {
    if (mainWindow_.activity().running())
        return;
    std::optional<Activity::Scope> comparing(std::in_place, mainWindow_.activity());
    // The part number on screen is compared only when its values are loaded (a system upload
    // or download leaves the part sheet empty, customer code included).
    const bool withPart =
        !sheet_.partSelection().empty() && !sheet_.text(pp::Part::CustCode).empty();
    pp::Sheet scratch = sheet_;
    // User input waits: the window's own buttons must not start a second exchange.
    qt::ScratchUpload upload(driver_, window_, sheet_, QEventLoop::ExcludeUserInputEvents);
    bool ok = upload.system(scratch).ok;
    if (ok && withPart) {
        // The part as the instrument whose system record was just read holds it.
        qt::SweepOptions options;
        options.stop = qt::SweepStop::FirstFailure;
        options.flags = QEventLoop::ExcludeUserInputEvents;
        qt::SweepResult part =
            qt::sweepParts(driver_, sheet_, scratch, {sheet_.partSelection()}, options);
        ok = part.complete();
        if (ok)
            scratch = std::move(part.sheets.front());
    }
    comparing.reset();
    if (mirror_)
        mirror_();
    if (!ok)
        return; // the exchange has said why, as an upload does
    std::vector<pp::Difference> differences = pp::compareSheets(sheet_, scratch);
    if (!withPart)
        std::erase_if(differences,
                      [](const pp::Difference& d) { return d.group == pp::CompareGroup::Part; });
    showDifferences(differences, QStringLiteral("Compare With QX7400"),
                    QStringLiteral("In QX7400"));
}

void CompareActions::mnuBackup_Click() {
    if (mainWindow_.activity().running())
        return;
    {
        const Activity::Scope backingUp(mainWindow_.activity());
        backup_->run();
    }
    if (mirror_)
        mirror_();
}

} // namespace pp::ui
