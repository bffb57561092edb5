#include "ui/main/main_window.h"

#include "qt/strings.h"

#include "qt/part_sweep.h"
#include "qt/scratch_upload.h"
#include "qt/session_driver.h"
#include "ui/common/icons.h"
#include "ui/dialogs/about_box.h"
#include "ui/dialogs/mode_window.h"
#include "ui/dialogs/port_dialog.h"
#include "ui/dialogs/print_dialog.h"
#include "ui/dialogs/user_guide.h"
#include "ui/main/recent_files.h"
#include "ui/main/screen_fit.h"
#include "ui/main/sheet_view.h"
#include "ui/main/status_label.h"

#include "files/file_commands.h"
#include "link/status_texts.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDate>
#include <QEventLoop>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QProgressDialog>
#include <QPushButton>
#include <QStatusBar>
#include <QStyle>
#include <QTabWidget>
#include <QToolBar>

namespace pp::ui {

using qt::qs;

namespace {
void setEnabledIfDiffers(QAction* action, bool enabled) {
    if (action->isEnabled() != enabled)
        action->setEnabled(enabled);
}
} // namespace

MainWindow::MainWindow(AppSettingsHooks settings, QWidget* parent)
    : QMainWindow(parent), settings_(std::move(settings)), window_(this) {
    setObjectName(QStringLiteral("Form1"));
    // "[*]": Qt shows the modified state there.
    setWindowTitle(QStringLiteral("QX7400 Parameter Upload/Download[*]"));
    setWindowIcon(appIcon());
    setAcceptDrops(true);

    document_ = new Document(this);
    activity_ = new Activity(this);
    driver_ = std::make_unique<qt::SessionDriver>(sheet(), window_, this);
    session().setModeListener(this);

    buildMenus();
    buildToolbar();

    view_ = new SheetView(sheet(), this);
    tabs_ = new QTabWidget(this);
    tabs_->setObjectName(QStringLiteral("SSTab1"));
    tabs_->addTab(view_->systemPage(), QStringLiteral("System Parameters"));
    tabs_->addTab(view_->partPage(), QStringLiteral("Part Parameters"));
    // On a screen smaller than the window, or with a font larger than it was laid out for, a
    // page's values scroll (SheetView): the tabs, the transfer buttons and the status bar stay.
    setCentralWidget(tabs_);

    buildStatusBar();

    buildEditing();
    connect(view_, &SheetView::partChosen, this, [this] {
        cmbParts_Click();
        document_->endEdit(QStringLiteral("Select Part"), false);
        mirror();
    });
    connect(view_->cmdSDUpload(), &QPushButton::clicked, this,
            [this] { transfer(&pp::Session::cmdSDUpload_Click, pp::ExchangeKind::SystemUpload); });
    connect(view_->cmdSDDnLoad(), &QPushButton::clicked, this, [this] {
        transfer(&pp::Session::cmdSDDnLoad_Click, pp::ExchangeKind::SystemDownload);
    });
    connect(view_->cmdPartUpload(), &QPushButton::clicked, this,
            [this] { transfer(&pp::Session::cmdPartUpload_Click, pp::ExchangeKind::PartUpload); });
    connect(view_->cmdPartDnload(), &QPushButton::clicked, this, [this] {
        transfer(&pp::Session::cmdPartDnload_Click, pp::ExchangeKind::PartDownload);
    });
    connect(tabs_, &QTabWidget::currentChanged, this, [this](int index) {
        const int previous = currentTab_;
        currentTab_ = index;
        if (!mirroring_)
            SSTab1_Click(previous);
    });
    connect(driver_.get(), &qt::SessionDriver::exchangeEnded, this, &MainWindow::exchangeEnded);
    connect(driver_.get(), &qt::SessionDriver::changed, this, &MainWindow::mirror);
    connect(driver_.get(), &qt::SessionDriver::waiting, this, &MainWindow::updateBusyCursor);
    connect(driver_.get(), &qt::SessionDriver::changed, this, &MainWindow::updateBusyCursor);
    connect(driver_.get(), &qt::SessionDriver::exchangeEnded, this, &MainWindow::updateBusyCursor);
    connect(activity_, &Activity::changed, this, [this] {
        updateBusyCursor();
        mirror();
    });
    connect(document_, &Document::stepsChanged, this, &MainWindow::updateCommands);
    connect(driver_.get(), &qt::SessionDriver::fieldSent, this, [this](int index, int last) {
        showProgress(index + 1, last + 1, QStringLiteral("Field %v of %m"));
    });

    new ScreenFit(this); // this window's dialogs and message boxes too
    resize(fittedSize());
    Form_Load();
}

MainWindow::~MainWindow() {
    // The session and the controls must not call into a half-destroyed window.
    session().setModeListener(nullptr);
    disconnect(view_, nullptr, this, nullptr);
    disconnect(driver_.get(), nullptr, this, nullptr);
    if (busyCursor_)
        QApplication::restoreOverrideCursor();
    delete printDialog_.data();
    delete modeWindow_.data();
    delete portDialog_.data();
}

pp::Session& MainWindow::session() {
    return driver_->session();
}

// ------------------------------------------------------------------ building

void MainWindow::buildMenus() {
    auto* file = menuBar()->addMenu(QStringLiteral("&File"));
    file->setObjectName(QStringLiteral("mnuFile"));
    auto addEntry = [this](QMenu* menu, const char* name, const QString& caption,
                           void (MainWindow::*handler)(), QKeySequence shortcut = {}) {
        QAction* action = menu->addAction(caption);
        action->setObjectName(QString::fromLatin1(name));
        action->setShortcut(shortcut);
        connect(action, &QAction::triggered, this, handler);
        return action;
    };
    addEntry(file, "mnuOpen", QStringLiteral("&Open..."), &MainWindow::mnuOpen_Click,
             QKeySequence::Open);
    mnuSave_ = addEntry(file, "mnuSave", QStringLiteral("&Save"), &MainWindow::mnuSave_Click,
                        QKeySequence::Save);
    // Some platforms bind no key to Save As or Quit.
    auto standardKey = [](QKeySequence::StandardKey key, QKeySequence fallback) {
        return QKeySequence::keyBindings(key).isEmpty() ? fallback : QKeySequence(key);
    };
    mnuSaveAs_ =
        addEntry(file, "mnuSaveAs", QStringLiteral("Save &As..."), &MainWindow::mnuSaveAs_Click,
                 standardKey(QKeySequence::SaveAs, Qt::CTRL | Qt::SHIFT | Qt::Key_S));
    mnuPrint_ = addEntry(file, "mnuPrint", QStringLiteral("&Print"), &MainWindow::mnuPrint_Click,
                         QKeySequence::Print);
    file->addSeparator();
    QMenu* recent = file->addMenu(QStringLiteral("Recent &Files"));
    recent->setObjectName(QStringLiteral("mnuRecentFiles"));
    recent_ = new RecentFiles(recent, this);
    connect(recent_, &RecentFiles::openRequested, this, [this](const QString& path) {
        if (confirmDiscard())
            openPath(path);
    });
    file->addSeparator();
    addEntry(file, "mnuExit", QStringLiteral("E&xit"), &MainWindow::mnuExit_Click,
             standardKey(QKeySequence::Quit, Qt::CTRL | Qt::Key_Q));

    auto* edit = menuBar()->addMenu(QStringLiteral("&Edit"));
    edit->setObjectName(QStringLiteral("mnuEdit"));
    edit->addAction(document_->undoAction());
    edit->addAction(document_->redoAction());

    auto* setup = menuBar()->addMenu(QStringLiteral("Set&Up"));
    setup->setObjectName(QStringLiteral("mnuSetup"));
    addEntry(setup, "mnuComm", QStringLiteral("&Comm..."), &MainWindow::mnuComm_Click);
    addEntry(setup, "mnuQX7400", QStringLiteral("&QX7400..."), &MainWindow::mnuQX7400_Click);
    addEntry(setup, "mnuAbout", QStringLiteral("&About..."), &MainWindow::mnuAbout_Click);

    auto* help = menuBar()->addMenu(QStringLiteral("&Help"));
    help->setObjectName(QStringLiteral("mnuHelp"));
    addEntry(help, "mnuUserGuide", QStringLiteral("&User Guide"), &MainWindow::mnuUserGuide_Click,
             QKeySequence::HelpContents);
    addEntry(help, "mnuHelpAbout", QStringLiteral("&About..."), &MainWindow::mnuAbout_Click);
}

void MainWindow::buildToolbar() {
    toolbar_ = addToolBar(QStringLiteral("Toolbar"));
    toolbar_->setObjectName(QStringLiteral("Toolbar1"));
    toolbar_->setMovable(false);
    toolbar_->setFloatable(false);
    toolbar_->setIconSize(QSize(24, 24));
    toolbar_->toggleViewAction()->setVisible(false); // nothing to bring it back with

    struct Button {
        const char* key;
        QIcon icon;
        const char* tip;
    };
    const Button buttons[] = {
        {"open", style()->standardIcon(QStyle::SP_DialogOpenButton), "Open Parameter File"},
        {"save", style()->standardIcon(QStyle::SP_DialogSaveButton), "Save Parameters"},
        {"print", printIcon(), "Print Report"},
        {"mode", modeIcon(), "QX7400 Mode and Part Numbers"},
    };
    for (const Button& b : buttons) {
        QAction* action = toolbar_->addAction(b.icon, QString::fromLatin1(b.tip));
        action->setObjectName(QStringLiteral("Toolbar1_") + QString::fromLatin1(b.key));
        action->setData(QString::fromLatin1(b.key));
        action->setToolTip(QString::fromLatin1(b.tip));
        if (qstrcmp(b.key, "save") == 0)
            tbSave_ = action;
        if (qstrcmp(b.key, "print") == 0)
            tbPrint_ = action;
    }
    connect(toolbar_, &QToolBar::actionTriggered, this,
            [this](QAction* action) { Toolbar1_ButtonClick(action->data().toString()); });

    // Undo and redo beside the four keyed buttons, in a bar of their own.
    editToolbar_ = addToolBar(QStringLiteral("Edit"));
    editToolbar_->setObjectName(QStringLiteral("tbEdit"));
    editToolbar_->setMovable(false);
    editToolbar_->setFloatable(false);
    editToolbar_->setIconSize(QSize(24, 24));
    editToolbar_->toggleViewAction()->setVisible(false);
    editToolbar_->addAction(document_->undoAction());
    editToolbar_->addAction(document_->redoAction());
}

void MainWindow::buildStatusBar() {
    auto* bar = statusBar();
    bar->setObjectName(QStringLiteral("StatusBar1"));
    bar->setSizeGripEnabled(false); // the window keeps its size
    for (int i = 0; i < 4; ++i) {
        // The messages cut at their end, a path or a device in its middle.
        auto* panel = new StatusLabel(i == 0 ? Qt::ElideRight : Qt::ElideMiddle, bar);
        panel->setObjectName(QStringLiteral("StatusBar1Panel%1").arg(i + 1));
        panel->setFrameShape(QFrame::StyledPanel);
        panel->setFrameShadow(QFrame::Sunken);
        panel->setContentsMargins(4, 0, 4, 0);
        panel->setTextInteractionFlags(Qt::TextSelectableByMouse);
        if (i == 3) // the port, at the right end
            bar->addPermanentWidget(panel);
        else
            bar->addWidget(panel, i == 0 ? 1 : 0);
        panels_[i] = panel;
        if (i == 0) {
            // Next to the messages, only while a download or Print All Parts runs.
            progress_ = new QProgressBar(bar);
            progress_->setObjectName(QStringLiteral("prgTransfer"));
            progress_->setFixedWidth(140);
            progress_->setMaximumHeight(panel->sizeHint().height());
            progress_->hide();
            bar->addWidget(progress_);
        }
    }
    panels_[0]->setMinimumWidth(40);
    window_.setStatusLabel(panels_[0]);
}

QLabel* MainWindow::statusPanel(int n) const {
    return n >= 1 && n <= 4 ? panels_[n - 1] : nullptr;
}

// ------------------------------------------------------------------ lifecycle

void MainWindow::Form_Load() {
    // 1. Part Parameters stays disabled until a system record or a file fills the sheet.
    sheet().commands.partTab = false;
    // 2. The file dialog starts in the program's folder, when files can be kept there.
    const QString folder = QCoreApplication::applicationDirPath();
    if (!folder.isEmpty() && QFileInfo(folder).isWritable())
        window_.setInitialFolder(folder);
    // 3. The port number.
    if (settings_.load)
        session().setCommPortNumber(settings_.load());
    // 4., 5. The no-response timer is idle and the line settings (9600,N,8,1) are applied
    // each time the port opens; the port stays closed until an exchange.
    mirror();
}

void MainWindow::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    Form_Resize();
}

// The window manager frames the window only once it is shown, and moves it then: the size
// that fitted without a frame is made to fit with it.
void MainWindow::moveEvent(QMoveEvent* event) {
    QMainWindow::moveEvent(event);
    Form_Resize();
}

void MainWindow::Form_Resize() {
    if (windowState() & (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen))
        return;
    const QSize fitted = fittedSize();
    if (size() != fitted)
        resize(fitted);
    fitStatusPanels();
}

// The window's size, where the screen holds it with its frame; else the screen's room.
QSize MainWindow::fittedSize() const {
    return sizeWithinScreen(this, QSize(FixedWidth, FixedHeight));
}

// Panel 3 takes half the window. Panel 2 a sixth, or what the longer generation text needs
// where the font is larger than the sixth allows: that text is never cut.
void MainWindow::fitStatusPanels() {
    QLabel* generation = panels_[1];
    int text = 0;
    for (pp::Generation g : {pp::Generation::V70, pp::Generation::V73})
        text = std::max(
            text, generation->fontMetrics().horizontalAdvance(qs(pp::generationStatusText(g))));
    const QMargins m = generation->contentsMargins();
    const int needed =
        text + m.left() + m.right() + 2 * (generation->frameWidth() + generation->margin()) + 2;
    generation->setFixedWidth(std::max(width() / 6, needed));
    // The panels added beside the three (the port, the forwarding count) take their width from
    // the file path's half, whose whole text is in its tooltip: the messages keep theirs.
    const int port = width() / 6; // a long device path is cut; its tooltip is whole
    panels_[3]->setFixedWidth(port);
    panels_[2]->setFixedWidth(std::max(width() / 2 - port - reservedStatusWidth_, width() / 16));
}

void MainWindow::reserveStatusWidth(int pixels) {
    reservedStatusWidth_ = std::max(0, pixels);
    fitStatusPanels();
}

void MainWindow::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        fitStatusPanels();
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (!unloaded_ && !confirmDiscard()) {
        event->ignore();
        return;
    }
    Form_Unload();
    QMainWindow::closeEvent(event);
}

void MainWindow::Form_Unload() {
    if (unloaded_)
        return;
    unloaded_ = true;
    if (settings_.save)
        settings_.save(session().commPortNumber(), window_);
    if (modeWindow_)
        modeWindow_->close();
    if (printDialog_)
        printDialog_->close();
    if (portDialog_)
        portDialog_->close();
    driver_->closePort();
    updateBusyCursor();
}

// ------------------------------------------------------------------ mirroring

void MainWindow::mirror() {
    if (mirroring_)
        return;
    mirroring_ = true;
    view_->mirror();

    const pp::Commands& commands = sheet().commands;
    if (tabs_->isTabEnabled(1) != commands.partTab)
        tabs_->setTabEnabled(1, commands.partTab);
    currentTab_ = tabs_->currentIndex();
    updateCommands();

    const QString generation = qs(pp::generationStatusText(sheet().generation()));
    if (panels_[1]->text() != generation)
        panels_[1]->setText(generation);
    const QString path = QString::fromStdString(sheet().filePath);
    if (panels_[2]->text() != path) {
        panels_[2]->setText(path);
        panels_[2]->setToolTip(path);
    }
    const QString port = portText();
    if (panels_[3]->text() != port) {
        panels_[3]->setText(port);
        panels_[3]->setToolTip(port);
    }

    // The approved set of the instrument the sheet belongs to, where there is one.
    const std::string& instrument = document_->tracking().instrument;
    view_->setMarks(document_->marks(approvedSource_ && !instrument.empty()
                                         ? approvedSource_(instrument, sheet().partSelection())
                                         : pp::ApprovedTexts{}));
    const bool modified = document_->modified();
    if (isWindowModified() != modified)
        setWindowModified(modified);
    mirroring_ = false;
}

void MainWindow::addCommand(QAction* action, std::function<bool(const CommandState&)> enabled) {
    commands_.emplace_back(action, std::move(enabled));
    updateCommands();
}

// The one place that decides which commands are offered. The transfer buttons and the part tab
// follow the sheet's own command states, which the session and the editing rules keep.
void MainWindow::updateCommands() {
    if (!document_)
        return;
    const pp::Commands& c = sheet().commands;
    const bool running = busy();
    setEnabledIfDiffers(mnuSave_, c.save);
    setEnabledIfDiffers(tbSave_, c.save);
    setEnabledIfDiffers(mnuSaveAs_, c.saveAs);
    setEnabledIfDiffers(mnuPrint_, c.print);
    setEnabledIfDiffers(tbPrint_, c.print);
    // Undo and redo wait for an exchange: it writes into the sheet they would replace.
    setEnabledIfDiffers(document_->undoAction(), !running && document_->canUndo());
    setEnabledIfDiffers(document_->redoAction(), !running && document_->canRedo());
    const CommandState state{sheet(), running};
    for (const auto& [action, enabled] : commands_)
        setEnabledIfDiffers(action, enabled(state));
}

// ------------------------------------------------------------------ commands

void MainWindow::mnuPrint_Click() {
    printDialog()->run(sheet());
    mirror();
}

void MainWindow::mnuExit_Click() {
    close();
}

void MainWindow::mnuComm_Click() {
    portDialog()->exec();
    mirror();
}

void MainWindow::mnuQX7400_Click() {
    modeWindow()->exec();
    mirror();
}

void MainWindow::mnuAbout_Click() {
    auto* about = new AboutBox(this); // destroyed by its button
    about->exec();
}

void MainWindow::Toolbar1_ButtonClick(const QString& key) {
    if (key == QLatin1String("open"))
        mnuOpen_Click();
    else if (key == QLatin1String("save"))
        mnuSave_Click();
    else if (key == QLatin1String("print"))
        mnuPrint_Click();
    else if (key == QLatin1String("mode"))
        mnuQX7400_Click();
}

void MainWindow::SSTab1_Click(int previousTab) {
    // Turning to the part tab with no part loaded: fetch the instrument's part numbers so the
    // selector offers them. The mode window receives the answer without being shown. While
    // another exchange runs the tab turns without asking: the request would only be refused.
    if (previousTab == 0 && sheet().text(pp::Part::CustCode).empty() &&
        !session().transferRunning()) {
        session().requestPartList();
        mirror();
    }
}

void MainWindow::cmbParts_Click() {
    if (sheet().text(pp::Part::CustCode).empty())
        return;
    const pp::Answer answer =
        window_.message("Do you want to keep the current values of all parameters?",
                        pp::Buttons::YesNo, "QX7400 Parameters");
    if (answer == pp::Answer::No)
        sheet().ClearPartSheet();
    // The values no longer belong to the file they came from.
    sheet().filePath.clear();
    sheet().commands.save = false;
}

// ------------------------------------------------------------------ secondary windows

ModeWindow* MainWindow::modeWindow() {
    if (!modeWindow_) {
        modeWindow_ = new ModeWindow(sheet(), session(), window_, this);
        connect(modeWindow_, &ModeWindow::partListChanged, this, &MainWindow::mirror);
    }
    return modeWindow_;
}

FormPrinter* MainWindow::printDialog() {
    if (!printDialog_) {
        printDialog_ = printDialogFor(this, &window_);
        printDialog_->setAllPartsSource([this] { return gatherAllParts(); });
    }
    return printDialog_;
}

PortDialog* MainWindow::portDialog() {
    if (!portDialog_) {
        portDialog_ = new PortDialog([this] { return session().commPortNumber(); },
                                     [this](int n) { session().setCommPortNumber(n); }, this);
    }
    return portDialog_;
}

void MainWindow::ProcessModeData(const std::string& buffer) {
    modeWindow()->ProcessModeData(buffer);
}

void MainWindow::ProcessPartsList(const std::string& buf) {
    modeWindow()->ProcessPartsList(buf);
}

// ------------------------------------------------------------------ help and the port

void MainWindow::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    mirror(); // the port given on the command line after the window was built
}

QString MainWindow::portText() const {
    const QString device = driver_->deviceOverride();
    if (!device.isEmpty())
        return device;
    const int n = driver_->session().commPortNumber();
    return QStringLiteral("COMM %1: %2").arg(n).arg(qt::devicePathForPort(n));
}

UserGuide* MainWindow::userGuide() {
    if (!userGuide_)
        userGuide_ = new UserGuide(this);
    return userGuide_;
}

void MainWindow::mnuUserGuide_Click() {
    UserGuide* guide = userGuide();
    guide->show();
    guide->raise();
    guide->activateWindow();
}

} // namespace pp::ui
