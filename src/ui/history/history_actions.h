// The history in the main window: every transfer of its session recorded, File > "History..."
// (also on the toolbar) and "Compare With Last Upload". The program attaches it to its window;
// the window itself knows nothing of it.
#pragma once

#include "history/source.h"
#include "sheet/baseline.h"

#include "history/entry.h"

#include <QObject>
#include <QPointer>
#include <QTimer>

#include <string>

class QAction;

namespace pp::qt {
class HistoryTap;
} // namespace pp::qt

namespace pp::ui {

class HistoryDialog;
class MainWindow;

class HistoryActions : public QObject {
    Q_OBJECT
public:
    // How long the exchange's own text stays in status panel 1 before a note that its entry
    // was not recorded replaces it.
    static constexpr int NoteDelayMs = 1500;

    HistoryActions(MainWindow& window, std::string path);

    qt::HistoryTap& tap() { return *tap_; }
    HistoryDialog* dialog(); // created on first use
    QAction* historyAction() const { return history_; }
    QAction* compareLastUploadAction() const { return compareLast_; }

    void mnuHistory_Click();
    void mnuCompareLastUpload_Click();
    // Open in Editor; false when the sheet did not take the entry.
    bool openInEditor(const pp::history::Entry& entry);
    // "Approve...": asks what the signature means and why, then records the approval; false
    // when cancelled or refused (the plant's rule, the history).
    bool approve(const pp::history::Entry& subject);
    // "Restore Approved": the approval's values on the sheet as one undoable step.
    bool restoreApproved(const pp::history::Entry& approval);

    // The approved sets of an instrument from this PC's history, for the sheet's marks; read
    // again once something is recorded.
    pp::ApprovedTexts approvedTexts(const std::string& serial, const std::string& part);
    // With a plant server configured, drift, the marks and the Instruments page follow the
    // plant's approvals (as last copied into the history), not this PC's own.
    void setApprovalsFromPlant(bool plant);

private:
    bool exchangeRunning() const;
    void showNote();

    MainWindow& main_;
    std::string path_;
    pp::history::LocalSource approvals_;
    std::string approvedKey_; // serial and part number of approved_, empty: read again
    pp::ApprovedTexts approved_;
    qt::HistoryTap* tap_ = nullptr;
    QPointer<HistoryDialog> dialog_;
    QAction* history_ = nullptr;
    QAction* compareLast_ = nullptr;
    std::string note_;
    QTimer noteTimer_;
    bool plantApprovals_ = false;
};

} // namespace pp::ui
