// The window's comparisons and backup: "Compare With File...", "Compare With QX7400..." on
// both tabs, and "Back Up All Parts...". They read into sheets of their own and never change
// the sheet on screen.
#pragma once

#include "sheet/compare.h"
#include "sheet/sheet.h"

#include <QObject>

#include <functional>
#include <vector>

class QAction;

namespace pp::qt {
class SessionDriver;
} // namespace pp::qt

namespace pp::ui {

class CompareDialog;
class MainWindow;
class PartsBackup;
class QtWindow;
class SheetView;

class CompareActions : public QObject {
    Q_OBJECT
public:
    // Adds its entries to the window's File menu (before Exit), with their enabled states, and
    // wires the compare buttons of `view`. `mirror` shows the window's state again after each
    // command.
    CompareActions(MainWindow& mainWindow, pp::Sheet& sheet, QtWindow& window,
                   qt::SessionDriver& driver, SheetView& view, std::function<void()> mirrorWindow);

    void mnuCompareFile_Click();
    void cmdCompare_Click();
    void mnuBackup_Click();

    // Shows rows in a dialog of their own. With a take handler set, the rows can be ticked and
    // "Take Selected Into Sheet" hands the ticked ones to it (the dialog closes when it
    // returns true). The history window's comparisons come through here too.
    void showDifferences(const std::vector<pp::Difference>& differences, const QString& title,
                         const QString& otherColumn);
    using TakeHandler = std::function<bool(const std::vector<pp::Difference>&)>;
    void setTakeHandler(TakeHandler take) { take_ = std::move(take); }

    PartsBackup& backup() { return *backup_; }
    QAction* compareFileAction() const { return compareFile_; }
    QAction* backupAction() const { return backupAction_; }

private:
    MainWindow& mainWindow_;
    pp::Sheet& sheet_;
    QtWindow& window_;
    qt::SessionDriver& driver_;
    std::function<void()> mirror_;
    TakeHandler take_;
    PartsBackup* backup_ = nullptr;
    QAction* compareFile_ = nullptr;
    QAction* backupAction_ = nullptr;
};

} // namespace pp::ui
