// The main window as an editor: undo steps for every change of the sheet, the question before
// edited values would be lost, opening files from anywhere, taking values from a comparison,
// and where the window talks to.
#include "ui/main/main_window.h"

#include "qt/scratch_upload.h"
#include "qt/serial_adapter.h"
#include "qt/session_driver.h"
#include "ui/compare/compare_actions.h"
#include "ui/dialogs/user_guide.h"
#include "ui/main/recent_files.h"
#include "ui/main/sheet_view.h"

#include "files/file_commands.h"
#include "files/param_file.h"
#include "link/status_texts.h"
#include "sheet/typed_value.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QMimeData>
#include <QShowEvent>
#include <QTimer>
#include <QUrl>

namespace pp::ui {

namespace {

constexpr std::string_view SaveQuestion = "The parameters have been changed. Save them?";
constexpr std::string_view WaitForTransfer =
    "Please wait until the transfer with QX7400 has ended.";
constexpr std::string_view OnlyParameterFiles = "Only QX7400 parameter files (*.QX) can be opened.";
constexpr std::string_view OneFileAtATime = "Drop one parameter file at a time.";

bool isParameterFile(const QFileInfo& info) {
    return !info.isDir() && info.suffix().compare(QLatin1String("QX"), Qt::CaseInsensitive) == 0;
}

} // namespace

void MainWindow::buildEditing() {
    typingRun_ = undo_->newTypingRun();
    connect(view_, &SheetView::aboutToEdit, this, [this] { editBefore_ = sheet_; });
    connect(view_, &SheetView::edited, this, &MainWindow::userEdited);
    connect(view_, &SheetView::typingEnded, this, [this] { typingRun_ = undo_->newTypingRun(); });
    connect(view_, &SheetView::valueRefused, this,
            [this](const QString& message) { window_.message(message.toStdString()); });
    connect(undo_, &SheetUndo::restored, this, &MainWindow::mirror);
}

void MainWindow::userEdited(const QString& step, bool typing) {
    undo_->record(editBefore_, step, typing ? typingRun_ : -1);
    mirror();
}

bool MainWindow::busy() {
    return transfer_.has_value() || gathering_ || probing_ || session().transferRunning() ||
           (compare_ && compare_->busy());
}

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

// ------------------------------------------------------------------ unsaved changes

bool MainWindow::confirmDiscard(bool partOnly) {
    if (!(partOnly ? undo_->partModified() : undo_->modified()))
        return true;
    // Without a part record there is no file to save into: the question stays, Save does not.
    const bool canSave =
        sheet_.commands.saveAs || (sheet_.commands.save && !sheet_.filePath.empty());
    const pp::Answer answer = window_.message(SaveQuestion, canSave ? pp::Buttons::SaveDiscardCancel
                                                                    : pp::Buttons::DiscardCancel);
    switch (answer) {
    case pp::Answer::Save:
        return canSave && saveBeforeDiscard();
    case pp::Answer::Discard:
        return true;
    default:
        return false;
    }
}

// Save where the sheet came from, or Save As; only a written file lets the caller go on.
bool MainWindow::saveBeforeDiscard() {
    if (sheet_.commands.save && !sheet_.filePath.empty())
        return afterSave(pp::SaveCommand(sheet_, window_));
    return afterSave(pp::SaveAsCommand(sheet_, window_, today()));
}

bool MainWindow::afterSave(bool saved) {
    if (saved) {
        undo_->markSaved();
        recent_->add(QString::fromStdString(sheet_.filePath));
    }
    mirror();
    return saved;
}

// ------------------------------------------------------------------ replacing the sheet

void MainWindow::opened(const pp::Sheet& before) {
    Tracking tracking;
    tracking.saved = pp::SheetContent::of(sheet_);
    tracking.instrument = sheet_.text(pp::Sys::Serial);
    undo_->recordReplacement(before, QStringLiteral("Open File"), tracking);
    recent_->add(QString::fromStdString(sheet_.filePath));
}

bool MainWindow::openPath(const QString& path) {
    const pp::Sheet before = sheet_;
    const std::string file = path.toStdString();
    if (!pp::ReadParamFile(sheet_, file, window_)) {
        recent_->remove(path); // a file that went away or became something else
        mirror();
        return false;
    }
    sheet_.filePath = file;
    opened(before);
    mirror();
    return true;
}

bool MainWindow::replaceSheet(const pp::Sheet& sheet, const QString& step) {
    if (busy()) {
        window_.message(pp::text::WaitForTransfer);
        return false;
    }
    if (!confirmDiscard())
        return false;
    const pp::Sheet before = sheet_;
    sheet_ = sheet;
    Tracking tracking;
    tracking.saved = pp::SheetContent::of(sheet_);
    tracking.instrument = sheet_.text(pp::Sys::Serial);
    undo_->recordReplacement(before, step, tracking);
    mirror();
    return true;
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
    pp::Sheet work = sheet_;
    pp::FieldFailure failed;
    if (!pp::applyFieldTexts(work, texts, &failed)) {
        // The value does not fit this sheet (other decimals, another time base): nothing taken.
        const std::string range = failed.system
                                      ? pp::rangeText(work, static_cast<pp::Sys>(failed.index))
                                      : pp::rangeText(work, static_cast<pp::Part>(failed.index));
        window_.message("Nothing was taken. The value lies outside " + range);
        return false;
    }
    const pp::Sheet before = sheet_;
    sheet_ = std::move(work);
    undo_->record(before, QStringLiteral("Take From Compare"));
    mirror();
    return true;
}

// ------------------------------------------------------------------ transfers

void MainWindow::transfer(void (pp::Session::*starter)(), pp::ExchangeKind kind) {
    if (session().transferRunning()) {
        (session().*starter)(); // refused, and says why; the running exchange keeps its step
        return;
    }
    const bool upload =
        kind == pp::ExchangeKind::SystemUpload || kind == pp::ExchangeKind::PartUpload;
    if (upload && !confirmDiscard(kind == pp::ExchangeKind::PartUpload))
        return;
    // Who is on the line, unless the transfer brings the system record itself. A starter that
    // refuses at once (no part number, no customer code) is not worth a read.
    std::optional<pp::InstrumentIdentity> instrument;
    if (kind != pp::ExchangeKind::SystemUpload && !session().localRefusal(kind)) {
        instrument = readInstrumentOnLine();
        if (!upload && instrument && !confirmInstrument(*instrument))
            return;
    }
    transfer_ = kind;
    undo_->beginTransfer(kind);
    session().setInstrument(instrument);
    (session().*starter)();
    session().setInstrument(std::nullopt);
    mirror();
}

std::optional<pp::InstrumentIdentity> MainWindow::readInstrumentOnLine() {
    probing_ = true;
    updateBusyCursor();
    mirror();
    auto instrument = qt::readInstrument(*driver_, sheet_);
    probing_ = false;
    updateBusyCursor();
    mirror();
    return instrument;
}

// Copying values between instruments is an everyday task; a swapped cable is not. The values
// came from the instrument they were read from or written to, or the file or entry they were
// opened from (a serial number edited on screen renumbers that instrument); values that came
// from none are not asked about.
bool MainWindow::confirmInstrument(const pp::InstrumentIdentity& instrument) {
    const std::string& from = undo_->tracking().instrument;
    if (from.empty() || instrument.serial == from)
        return true;
    const QString device = driver_->deviceOverride();
    const std::string where = device.isEmpty()
                                  ? "COMM " + std::to_string(session().commPortNumber())
                                  : device.toStdString();
    const std::string question = "The QX7400 on " + where + " is serial " + instrument.serial +
                                 "; the values on screen came from serial " + from +
                                 ". Download them to serial " + instrument.serial + "?";
    return window_.message(question, pp::Buttons::NoYes) == pp::Answer::Yes;
}

void MainWindow::exchangeEnded(pp::Outcome outcome) {
    // Only the exchange this window started ends its step: a mode window request refused
    // while it runs ends nothing.
    if (!transfer_ || session().exchangeOpen())
        return;
    transfer_.reset();
    const bool succeeded = session().succeeded(outcome);
    undo_->endTransfer(succeeded, session().exchange().instrument);
}

// ------------------------------------------------------------------ files from anywhere

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
    const QMimeData* data = event->mimeData();
    if (!data->hasUrls())
        return;
    for (const QUrl& url : data->urls())
        if (!url.isLocalFile())
            return;
    event->acceptProposedAction(); // anything else is refused on drop, with the reason
}

void MainWindow::dropEvent(QDropEvent* event) {
    QStringList paths;
    for (const QUrl& url : event->mimeData()->urls())
        paths << url.toLocalFile();
    event->acceptProposedAction();
    // The drag's source waits for the drop to return: ask the questions afterwards.
    QTimer::singleShot(0, this, [this, paths] { dropped(paths); });
}

void MainWindow::dropped(const QStringList& paths) {
    if (paths.size() != 1) {
        window_.message(OneFileAtATime);
        return;
    }
    if (!isParameterFile(QFileInfo(paths.front()))) {
        window_.message(OnlyParameterFiles);
        return;
    }
    if (confirmDiscard())
        openPath(paths.front());
}

// ------------------------------------------------------------------ help

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
