// The main window: the parameter sheet on two tabs, the menus, the toolbar, the three-panel
// status bar and the serial session. It owns the sheet; every user action goes to the sheet or
// the session, and the whole view is then mirrored from the sheet.
#pragma once

#include "link/session.h"
#include "qt/plant_policy.h"
#include "sheet/compare.h"
#include "sheet/sheet.h"
#include "ui/main/activity.h"
#include "ui/main/document.h"
#include "ui/main/qt_window.h"

#include <QMainWindow>
#include <QPointer>

#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QAction;
class QLabel;
class QProgressBar;
class QTabWidget;
class QToolBar;

namespace pp::qt {
class SessionDriver;
} // namespace pp::qt

namespace pp::ui {

class FormPrinter;
class ModeWindow;
class PortDialog;
class RecentFiles;
class CompareActions;
class SheetView;
class UserGuide;

// Where the port number is kept between runs. Without them the port number stays 1.
struct AppSettingsHooks {
    std::function<int()> load;                  // LoadAppSettings: the stored port number
    std::function<void(int, pp::Window&)> save; // SaveAppSettings: reports its own failures
};

class MainWindow : public QMainWindow, private pp::ModeListener {
    Q_OBJECT
public:
    static constexpr int FixedWidth = 877;
    static constexpr int FixedHeight = 710;

    explicit MainWindow(AppSettingsHooks settings = {}, QWidget* parent = nullptr);
    ~MainWindow() override;

    pp::Sheet& sheet() { return document_->sheet(); }
    QtWindow& window() { return window_; }
    qt::SessionDriver& driver() { return *driver_; }
    pp::Session& session();
    SheetView& view() { return *view_; }
    // The comparisons and backup, attached beside the window (attachFeatures()).
    CompareActions& compareActions() { return *compare_; }
    void setCompareActions(CompareActions* actions) { compare_ = actions; }
    Document& document() { return *document_; }
    // Work the window does with the instrument by itself; while it runs the window is busy.
    Activity& activity() { return *activity_; }
    // Something talks to the instrument: a transfer, a request of the mode window, the
    // window's own work. Commands that would change the sheet or start an exchange wait.
    bool busy();

    // A command of a feature beside the window (Compare, History): its enabled state is
    // derived with every other command's in updateCommands().
    struct CommandState {
        const pp::Sheet& sheet;
        bool busy;
    };
    void addCommand(QAction* action, std::function<bool(const CommandState&)> enabled);
    // Every command's enabled state, from the document and whether something runs.
    void updateCommands();
    RecentFiles& recentFiles() { return *recent_; }

    // ---- replacing the sheet, for every command that does it
    // The question before edited values would be lost ("The parameters have been changed.
    // Save them?"): true when the caller may go on (nothing to lose, saved, or discarded);
    // false when cancelled or the save failed or was cancelled. `partOnly`: only the part
    // values would be replaced.
    bool confirmDiscard(bool partOnly = false);
    // Puts `sheet` on screen in place of the current one as one undoable step named `step`
    // (a history entry opened: "Open History Entry"), after the question above. It then counts
    // as unmodified and belongs to the instrument of its serial number. False when the
    // question was cancelled or an exchange is running.
    bool replaceSheet(const pp::Sheet& sheet, const QString& step);
    // Opens the parameter file at `path` as File > Open does after its dialog (the question
    // first, read on a copy, one undoable step, Recent Files). A file that cannot be read is
    // reported and dropped from Recent Files; false then.
    bool openPath(const QString& path);
    // The compare dialogs' "Take Selected Into Sheet": the second text of every row, applied
    // as the file reader applies that field, on a copy committed whole, as the step
    // "Take From Compare". False (and nothing changed) when a value does not fit here.
    bool takeFromCompare(const std::vector<pp::Difference>& rows);
    // The status bar's fourth panel: "COMM 2: /dev/ttyUSB0", or the device given for this run.
    QString portText() const;

    // Copies the sheet into every widget of the window.
    void mirror();

    void mnuOpen_Click();
    void mnuSave_Click();
    void mnuSaveAs_Click();
    void mnuPrint_Click();
    void mnuExit_Click();
    void mnuComm_Click();
    void mnuQX7400_Click();
    void mnuAbout_Click();
    void mnuUserGuide_Click();
    void Toolbar1_ButtonClick(const QString& key);
    void SSTab1_Click(int previousTab);
    void cmbParts_Click();

    // Secondary windows, created on first use.
    ModeWindow* modeWindow();
    PortDialog* portDialog();
    FormPrinter* printDialog();
    UserGuide* userGuide();

    // "Print All Parts": every part number of the selector uploaded into a copy of the sheet,
    // one after the other; the sheet on screen stays as it is. Nothing when cancelled or
    // when an upload failed (its status text is then shown).
    std::optional<std::vector<pp::Sheet>> gatherAllParts();

    // Shown in the status bar while a download or Print All Parts runs.
    QProgressBar* transferProgress() const { return progress_; }
    // The plant's policy (download reasons) as it stands now; this PC's settings unless set.
    void setPolicySource(std::function<qt::PlantPolicy()> source) {
        policySource_ = std::move(source);
    }
    // The approved sets of an instrument (serial number, part number), for the marks.
    using ApprovedSource =
        std::function<pp::ApprovedTexts(const std::string& serial, const std::string& part)>;
    void setApprovedSource(ApprovedSource source) { approvedSource_ = std::move(source); }

    qt::PlantPolicy plantPolicy() const {
        return policySource_ ? policySource_() : qt::localPlantPolicy();
    }

    // Today's local date for the default file name; tests set a fixed one.
    void setClock(std::function<std::tm()> clock) { clock_ = std::move(clock); }

    QLabel* statusPanel(int n) const; // 1..4
    // Width that panel 3 (the file path) gives up to a panel added beside the port.
    void reserveStatusWidth(int pixels);

protected:
    void resizeEvent(QResizeEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void buildMenus();
    void buildToolbar();
    void buildStatusBar();
    void Form_Load();
    void Form_Resize();
    QSize fittedSize() const;
    void fitStatusPanels();
    void Form_Unload();
    void transfer(void (pp::Session::*starter)(), pp::ExchangeKind kind);
    struct OnLine {
        pp::InstrumentIdentity identity;
        std::optional<pp::Sheet> ownValues; // another instrument's, which a download keeps
    };
    std::optional<OnLine> readTarget(pp::ExchangeKind kind);
    std::string portName() const;
    bool sameSource(const pp::InstrumentIdentity& instrument) const;
    bool otherInstrumentConfirmed(const pp::InstrumentIdentity& instrument);
    void exchangeEnded(pp::Outcome outcome);
    void buildEditing();
    void userEdited(const QString& step, bool typing);
    bool saveBeforeDiscard();
    bool afterSave(bool saved);
    void opened(const pp::Sheet& before);
    void dropped(const QStringList& paths);
    void updateBusyCursor();
    void showProgress(int done, int total, const QString& format);
    void hideProgress();
    std::tm today() const;

    // Answers for the mode window; it is created, not shown, when it does not exist yet.
    void ProcessModeData(const std::string& buffer) override;
    void ProcessPartsList(const std::string& buf) override;

    AppSettingsHooks settings_;
    QtWindow window_;
    std::unique_ptr<qt::SessionDriver> driver_;
    SheetView* view_ = nullptr;
    CompareActions* compare_ = nullptr; // compare with a file or QX7400, back up

    QTabWidget* tabs_ = nullptr;
    QToolBar* toolbar_ = nullptr;
    QAction* mnuSave_ = nullptr;
    QAction* mnuSaveAs_ = nullptr;
    QAction* mnuPrint_ = nullptr;
    QAction* tbSave_ = nullptr;
    QAction* tbPrint_ = nullptr;
    QLabel* panels_[4] = {};
    int reservedStatusWidth_ = 0;
    QProgressBar* progress_ = nullptr;
    std::function<std::tm()> clock_;
    std::function<qt::PlantPolicy()> policySource_;
    ApprovedSource approvedSource_;
    bool busyCursor_ = false;
    int currentTab_ = 0;
    bool mirroring_ = false;
    bool unloaded_ = false;

    Document* document_ = nullptr;
    Activity* activity_ = nullptr;
    std::vector<std::pair<QAction*, std::function<bool(const CommandState&)>>> commands_;
    RecentFiles* recent_ = nullptr;
    QToolBar* editToolbar_ = nullptr;

    QPointer<ModeWindow> modeWindow_;
    QPointer<UserGuide> userGuide_;
    QPointer<PortDialog> portDialog_;
    QPointer<FormPrinter> printDialog_;
};

} // namespace pp::ui
