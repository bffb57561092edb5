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
class QMainWindow;

namespace pp::ui {

class CompareDialog;
class PartsBackup;
class QtWindow;
class SessionDriver;
class SheetView;

class CompareActions : public QObject {
    Q_OBJECT
public:
    // Adds its entries to the window's File menu (before Exit) and wires the compare buttons
    // of `view`. `mirror` shows the window's state again after each command.
    CompareActions(QMainWindow& mainWindow, pp::Sheet& sheet, QtWindow& window,
                   SessionDriver& driver, SheetView& view, std::function<void()> mirrorWindow);

    // Enabled states, from the sheet's commands.
    void mirror();

    void mnuCompareFile_Click();
    void cmdCompare_Click();
    void mnuBackup_Click();

    PartsBackup& backup() { return *backup_; }
    QAction* compareFileAction() const { return compareFile_; }
    QAction* backupAction() const { return backupAction_; }

private:
    void showDifferences(const std::vector<pp::Difference>& differences, const QString& title,
                         const QString& otherColumn);

    QMainWindow& mainWindow_;
    pp::Sheet& sheet_;
    QtWindow& window_;
    SessionDriver& driver_;
    std::function<void()> mirror_;
    PartsBackup* backup_ = nullptr;
    QAction* compareFile_ = nullptr;
    QAction* backupAction_ = nullptr;
    bool comparing_ = false;
};

} // namespace pp::ui
