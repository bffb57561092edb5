// The main window's files: Open, Save, Save As, the question before edited values are lost,
// files from anywhere (Recent Files, a drop, the command line) and sheets put in place of the
// one on screen.
#include "ui/main/main_window.h"

#include "qt/strings.h"

#include "qt/clock.h"
#include "ui/main/recent_files.h"

#include "files/file_commands.h"
#include "files/param_file.h"
#include "link/status_texts.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QMimeData>
#include <QTimer>
#include <QUrl>

namespace pp::ui {

using qt::qs;

namespace {

constexpr std::string_view SaveQuestion = "The parameters have been changed. Save them?";
constexpr std::string_view OnlyParameterFiles = "Only QX7400 parameter files (*.QX) can be opened.";
constexpr std::string_view OneFileAtATime = "Drop one parameter file at a time.";

bool isParameterFile(const QFileInfo& info) {
    return !info.isDir() && info.suffix().compare(QLatin1String("QX"), Qt::CaseInsensitive) == 0;
}

} // namespace

void MainWindow::mnuOpen_Click() {
    if (!confirmDiscard())
        return;
    const pp::Sheet before = sheet();
    if (pp::OpenCommand(sheet(), window_))
        opened(before);
    mirror();
}

void MainWindow::mnuSave_Click() {
    afterSave(pp::SaveCommand(sheet(), window_));
}

void MainWindow::mnuSaveAs_Click() {
    afterSave(pp::SaveAsCommand(sheet(), window_, today()));
}

std::tm MainWindow::today() const {
    if (clock_)
        return clock_();
    const QDate date = QDate::currentDate();
    std::tm t{};
    t.tm_year = date.year() - 1900;
    t.tm_mon = date.month() - 1;
    t.tm_mday = date.day();
    return t;
}

bool MainWindow::confirmDiscard(bool partOnly) {
    if (!(partOnly ? document_->partModified() : document_->modified()))
        return true;
    // Without a part record there is no file to save into: the question stays, Save does not.
    const bool canSave =
        sheet().commands.saveAs || (sheet().commands.save && !sheet().filePath.empty());
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
    if (sheet().commands.save && !sheet().filePath.empty())
        return afterSave(pp::SaveCommand(sheet(), window_));
    return afterSave(pp::SaveAsCommand(sheet(), window_, today()));
}

bool MainWindow::afterSave(bool saved) {
    if (saved) {
        document_->markSaved();
        recent_->add(QString::fromStdString(sheet().filePath));
    }
    mirror();
    return saved;
}

void MainWindow::opened(const pp::Sheet& before) {
    Tracking tracking;
    tracking.saved = pp::SheetContent::of(sheet());
    tracking.instrument = sheet().text(pp::Sys::Serial);
    document_->recordReplacement(before, QStringLiteral("Open File"), tracking);
    recent_->add(QString::fromStdString(sheet().filePath));
}

bool MainWindow::openPath(const QString& path) {
    const pp::Sheet before = sheet();
    const std::string file = path.toStdString();
    if (!pp::ReadParamFile(sheet(), file, window_)) {
        recent_->remove(path); // a file that went away or became something else
        mirror();
        return false;
    }
    sheet().filePath = file;
    opened(before);
    mirror();
    return true;
}

bool MainWindow::replaceSheet(const pp::Sheet& replacement, const QString& step) {
    if (busy()) {
        window_.message(pp::text::WaitForTransfer);
        return false;
    }
    if (!confirmDiscard())
        return false;
    const pp::Sheet before = sheet();
    sheet() = replacement;
    Tracking tracking;
    tracking.saved = pp::SheetContent::of(sheet());
    tracking.instrument = sheet().text(pp::Sys::Serial);
    document_->recordReplacement(before, step, tracking);
    mirror();
    return true;
}

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

} // namespace pp::ui
