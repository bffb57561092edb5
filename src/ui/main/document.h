// The document the window edits: the sheet, its undo steps, and what the editor keeps beside it:
// the texts last saved, opened, read from or written to the instrument (the modified state) and
// which instrument the sheet belongs to (the changed-value marks). A step is a snapshot of the
// whole sheet before and after a change; undo and redo put a snapshot back and run no editing
// rule. Whether undo may run now is the window's to decide (see MainWindow::updateCommands).
#pragma once

#include "link/session.h"
#include "sheet/baseline.h"
#include "sheet/sheet.h"

#include <QObject>
#include <QString>

#include <optional>
#include <string>

class QAction;
class QUndoStack;

namespace pp::ui {

struct Tracking {
    pp::SheetContent saved; // last saved, opened, uploaded or downloaded
    std::string instrument; // serial number the sheet was read from or written to
    bool operator==(const Tracking&) const = default;
};

class Document : public QObject {
    Q_OBJECT
public:
    static constexpr int Limit = 200; // steps kept: memory stays flat over a day's work

    explicit Document(QObject* parent = nullptr);
    ~Document() override;

    pp::Sheet& sheet() { return sheet_; }
    const pp::Sheet& sheet() const { return sheet_; }

    QUndoStack& stack() { return *stack_; }
    bool canUndo() const;
    bool canRedo() const;
    QAction* undoAction() const { return undo_; }
    QAction* redoAction() const { return redo_; }

    // The one entry point for a change of the sheet: `before` is the sheet as it was, the step
    // ends at the sheet as it is now, and a step that changed nothing is dropped. Typing with
    // the same run number (>= 0) merges into one step. During a transfer changes become part
    // of the transfer's step.
    void record(const pp::Sheet& before, const QString& name, int typingRun = -1);
    // A change that replaces what the sheet belongs to (a file or history entry opened):
    // the tracking becomes `after`, and undoing the step brings the old tracking back.
    void recordReplacement(const pp::Sheet& before, const QString& name, const Tracking& after);
    // An edit through a control: the sheet as the control found it, then the step named after
    // the control once the edit is done. Typing runs merge until endTypingRun().
    void beginEdit() { editBefore_ = sheet_; }
    void endEdit(const QString& name, bool typing) {
        record(editBefore_, name, typing ? typingRun_ : -1);
    }
    void endTypingRun() { ++typingRun_; }

    // An exchange's step spans it: the sheet before the starter cleared it, the sheet when it
    // ended. `succeeded`: the record was decoded, or the download completed. A part transfer
    // belongs to `instrument` when the window read who was on the line; `sent` is what a
    // download wrote.
    void beginTransfer(pp::ExchangeKind kind);
    void endTransfer(bool succeeded, const std::optional<pp::InstrumentIdentity>& instrument,
                     const pp::Sheet& sent);
    bool transferPending() const { return pending_.has_value(); }

    bool modified() const;     // values differ from what was last saved, opened or transferred
    bool partModified() const; // the part values do
    void markSaved();
    const Tracking& tracking() const { return tracking_; }
    void setTracking(const Tracking& tracking) { tracking_ = tracking; }
    pp::Marks marks(const pp::ApprovedTexts& approved = {}) const;
    const pp::UploadMemory& uploads() const { return uploads_; }

    // Puts a snapshot back (the steps' undo and redo). What the step itself did not change of
    // the file path and the part-number list stays as it is now.
    void restore(const pp::Sheet& target, const std::optional<Tracking>& tracking,
                 bool stepChangedFile, bool stepChangedList);

signals:
    void restored(); // undo or redo replaced the sheet
    void stepsChanged();

private:
    void updateActions();

    struct Pending {
        pp::ExchangeKind kind;
        pp::Sheet before;
        Tracking tracking;
    };

    pp::Sheet sheet_;
    pp::Sheet editBefore_; // the sheet as a control found it
    QUndoStack* stack_ = nullptr;
    QAction* undo_ = nullptr;
    QAction* redo_ = nullptr;
    Tracking tracking_;
    pp::UploadMemory uploads_;
    std::optional<Pending> pending_;
    int typingRun_ = 0;
};

} // namespace pp::ui
