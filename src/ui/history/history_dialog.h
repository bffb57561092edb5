// "History...": the recorded transfers, newest first, filtered by serial number, part number,
// action and text, read a page at a time so a long history opens at once. Selecting an entry
// shows its parameters and what changed since the previous entry of the same instrument and
// scope; its parameters can be opened in the editor or exported, the table exported as CSV.
// With a plant server configured, "This PC" and "Plant" switch between this PC's history and the
// plant's, read through the same code paths.
#pragma once

#include "history/source.h"
#include "ui/history/history_model.h"
#include "ui/history/instruments_view.h"

#include <QDialog>
#include <QTimer>

#include <atomic>
#include <functional>
#include <optional>
#include <vector>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTabWidget;
class QTableView;
class QThread;
class QTreeWidget;

namespace pp::ui {

class QtWindow;

class HistoryDialog : public QDialog {
    Q_OBJECT
public:
    // Where a file goes: caption, filter, suggested name; nothing when cancelled.
    using SaveHook = std::function<std::optional<QString>(
        const QString& caption, const QString& filter, const QString& suggested)>;
    // Open in Editor: true when the sheet took the entry. Approve: true when an approval of it
    // was recorded. Restore Approved: true when the sheet took the approved values.
    using Opener = std::function<bool(const pp::history::Entry& entry)>;

    static constexpr int TypingPauseMs = 250;

    HistoryDialog(std::string path, QtWindow& window, QWidget* parent = nullptr);
    ~HistoryDialog() override;

    // Reads the history again, keeping the filters and the selected entry.
    void reload();
    // A transfer was recorded: this PC's list is read again (the plant's waits to be asked).
    void entryRecorded();
    // Plant: the entries of the plant server (qt::historyServerUri()); false while a transfer runs,
    // which a network wait must not hold up, or without a server.
    bool showPlant(bool plant);
    bool showingPlant() const { return source_ == &plant_; }
    // True while an exchange runs: the plant server is not asked then.
    void setBusyCheck(std::function<bool()> busy) { busy_ = std::move(busy); }
    void setSaveHook(SaveHook hook) { saveHook_ = std::move(hook); }
    void setOpener(Opener open) { opener_ = std::move(open); }
    void setApprover(Opener approve) { approver_ = std::move(approve); }
    void setRestorer(Opener restore) { restorer_ = std::move(restore); }

    // The "Instruments" page beside the entries.
    InstrumentsView* instruments() const { return instruments_; }
    void showInstruments();
    // The entries of one instrument, newest first: its timeline.
    void showTimeline(const QString& serial);

    // The selected entry with its parameter file.
    std::optional<pp::history::Entry> selectedEntry();
    bool select(qint64 id); // false when it is not among the rows read

    void openInEditor();
    void approveSelected();
    void exportEntry();
    void exportCsv();
    // Reads the entries the filters now select (typing applies them once it pauses).
    void filtersChanged();

    HistoryModel* model() const { return model_; }
    QTableView* table() const { return table_; }

    // The wait for the plant server's connection runs on a thread of its own, the window stays
    // responsive; until it ends the table is empty.
    static constexpr const char* ConnectingText = "Connecting to the history server...";

private:
    bool connectingToPlant();
    void plantConnected();
    void showDetails();
    void showProblem(const QString& problem);
    void showNote(QLabel* note, QTreeWidget* tree, const QString& text);
    std::optional<QString> chooseSaveFile(const QString& caption, const QString& filter,
                                          const QString& suggested, const QString& suffix);
    bool writeFile(const QString& path, const std::string& bytes);

    std::string path_;
    QtWindow& window_;

public:
    pp::history::LocalSource& localSource() { return local_; }

private:
    pp::history::LocalSource local_;
    pp::history::PlantSource plant_;
    pp::history::EntrySource* source_ = &local_;
    std::function<bool()> busy_;
    HistoryModel* model_ = nullptr;
    SaveHook saveHook_;
    Opener opener_;
    Opener approver_;
    Opener restorer_;
    QTabWidget* pages_ = nullptr;
    InstrumentsView* instruments_ = nullptr;
    QPushButton* approve_ = nullptr;
    QPushButton* exportCsv_ = nullptr;
    QTimer typing_;
    bool columnsFitted_ = false;
    QThread* connecting_ = nullptr;
    std::atomic<bool> connected_{false};
    std::atomic<bool> cancel_{false};

    QWidget* where_ = nullptr;
    QRadioButton* thisPc_ = nullptr;
    QRadioButton* plantButton_ = nullptr;
    QLineEdit* serial_ = nullptr;
    QComboBox* part_ = nullptr;
    QComboBox* action_ = nullptr;
    QLineEdit* text_ = nullptr;
    QLabel* problem_ = nullptr;
    QTableView* table_ = nullptr;
    QTreeWidget* parameters_ = nullptr;
    QLabel* parametersNote_ = nullptr;
    QTreeWidget* differences_ = nullptr;
    QLabel* differencesNote_ = nullptr;
    QPushButton* open_ = nullptr;
    QPushButton* export_ = nullptr;
};

} // namespace pp::ui
