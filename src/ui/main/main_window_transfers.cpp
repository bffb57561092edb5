// The main window's transfers: the four buttons, reading who is on the line first, the question
// before another instrument's values are written, the end of the exchange, Print All Parts, and
// what the window shows while it waits.
#include "ui/main/main_window.h"

#include "qt/strings.h"

#include "qt/part_sweep.h"
#include "qt/plant_policy.h"
#include "qt/scratch_upload.h"
#include "qt/session_driver.h"

#include "link/status_texts.h"
#include "sheet/baseline.h"

#include <QApplication>
#include <QProgressBar>
#include <QProgressDialog>

namespace pp::ui {

using qt::qs;

bool MainWindow::busy() {
    return activity_->running() || document_->transferPending() || session().transferRunning();
}

// The busy cursor follows the session: it goes when nothing is awaited from the instrument
// any more, however the exchange ended.
void MainWindow::updateBusyCursor() {
    updateCommands();
    const bool busy = activity_->running() || session().busy();
    if (!busy)
        hideProgress();
    if (busy == busyCursor_)
        return;
    busyCursor_ = busy;
    if (busy)
        QApplication::setOverrideCursor(Qt::BusyCursor);
    else
        QApplication::restoreOverrideCursor();
}

void MainWindow::showProgress(int done, int total, const QString& format) {
    progress_->setRange(0, total);
    progress_->setValue(done);
    progress_->setFormat(format);
    progress_->show();
}

void MainWindow::hideProgress() {
    if (!progress_->isHidden())
        progress_->hide();
}

std::optional<std::vector<pp::Sheet>> MainWindow::gatherAllParts() {
    const std::vector<std::string> numbers = sheet().partNumbers();
    if (numbers.empty()) {
        window_.message("No part numbers are listed. Query QX7400 for its part numbers first.");
        return std::nullopt;
    }
    if (session().transferRunning()) {
        window_.message(pp::text::WaitForTransfer);
        return std::nullopt;
    }

    const int total = static_cast<int>(numbers.size());
    QWidget* owner = QApplication::activeModalWidget();
    QProgressDialog progress(QStringLiteral("Uploading part parameters..."),
                             QStringLiteral("Cancel"), 0, total, owner ? owner : this);
    progress.setObjectName(QStringLiteral("dlgAllParts"));
    progress.setWindowTitle(qs(pp::AppTitle));
    progress.setWindowModality(Qt::WindowModal);
    progress.setAutoClose(false);
    progress.setAutoReset(false);
    progress.setMinimumDuration(0);
    progress.setValue(0);

    std::optional<Activity::Scope> gathering(std::in_place, *activity_);
    // The report's system block and serial number come from the instrument the parts are read
    // from, not from the sheet on screen.
    pp::Sheet instrument;
    progress.setLabelText(QStringLiteral("Uploading system parameters..."));
    const qt::UploadResult system =
        qt::ScratchUpload(*driver_, window_, sheet()).system(instrument);
    qt::SweepResult swept;
    if (system.ok) {
        qt::SweepOptions options;
        options.stop = qt::SweepStop::FirstFailure; // a report with a column missing is no report
        options.progress = [&](size_t done, size_t all, const std::string& number) {
            progress.setValue(static_cast<int>(done));
            progress.setLabelText(QStringLiteral("Uploading part %1 (%2 of %3)...")
                                      .arg(qs(number))
                                      .arg(done + 1)
                                      .arg(all));
            showProgress(static_cast<int>(done), static_cast<int>(all),
                         QStringLiteral("Part %v of %m"));
            return !progress.wasCanceled();
        };
        swept = qt::sweepParts(*driver_, sheet(), instrument, numbers, options);
    }
    // A cancel while the last upload ran still cancels.
    const bool cancelled = swept.cancelled || progress.wasCanceled();
    gathering.reset();
    progress.close();

    // A port that would not open has said so in a message box of its own.
    const auto said = [](const qt::UploadResult& r) {
        return r.outcome == pp::Outcome::OpenFailed || r.outcome == pp::Outcome::LocalRefusal;
    };
    if (!system.ok) {
        if (!said(system))
            window_.message("The system parameters could not be uploaded: " + system.failure);
        return std::nullopt;
    }
    if (!swept.failed.empty()) {
        const auto& [number, failed] = swept.failed.front();
        if (!said(failed))
            window_.message("Part " + number + " could not be uploaded: " + failed.failure);
        return std::nullopt;
    }
    if (cancelled)
        return std::nullopt;
    return std::move(swept.sheets);
}

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
    // Empty part values would all reach the instrument as zeros.
    if (kind == pp::ExchangeKind::PartDownload && !session().localRefusal(kind) &&
        pp::partValuesMissing(sheet())) {
        window_.message(pp::text::PartValuesMissing);
        return;
    }
    std::string reason;
    if (kind != pp::ExchangeKind::SystemUpload && !session().localRefusal(kind)) {
        instrument = readInstrumentOnLine();
        if (!upload && instrument && !confirmInstrument(*instrument))
            return;
        // Why the values are written, for the history; Cancel writes nothing.
        if (!upload) {
            const qt::PlantPolicy policy = plantPolicy();
            const auto asked = window_.askReason(policy.reasons, policy.reasonRequired);
            if (!asked)
                return;
            reason = *asked;
        }
    }
    document_->beginTransfer(kind);
    session().setInstrument(instrument);
    session().setReason(reason);
    (session().*starter)();
    session().setInstrument(std::nullopt);
    session().setReason({});
    mirror();
}

std::optional<pp::InstrumentIdentity> MainWindow::readInstrumentOnLine() {
    const Activity::Scope reading(*activity_);
    return qt::readInstrument(*driver_, sheet());
}

// Copying values between instruments is an everyday task; a swapped cable is not. The values
// came from the instrument they were read from or written to, or the file or entry they were
// opened from (a serial number edited on screen renumbers that instrument); values that came
// from none are not asked about.
bool MainWindow::confirmInstrument(const pp::InstrumentIdentity& instrument) {
    const std::string& from = document_->tracking().instrument;
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
    if (!document_->transferPending() || session().exchangeOpen())
        return;
    const bool succeeded = session().succeeded(outcome);
    document_->endTransfer(succeeded, session().exchange().instrument);
}

} // namespace pp::ui
