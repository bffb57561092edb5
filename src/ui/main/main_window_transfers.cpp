// The main window's transfers: the four buttons, reading who is on the line first, the question
// before another instrument's values are written, the end of the exchange, Print All Parts, and
// what the window shows while it waits.
#include "ui/main/main_window.h"

#include "qt/strings.h"

#include "qt/plant_policy.h"
#include "qt/scratch_upload.h"
#include "qt/session_driver.h"
#include "qt/whole_instrument.h"

#include "link/status_texts.h"
#include "sheet/baseline.h"
#include "sheet/compare.h"

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
    progress.setLabelText(QStringLiteral("Uploading system parameters..."));
    qt::WholeReadOptions options;
    options.parts = numbers;
    options.stop = qt::SweepStop::FirstFailure; // a report with a column missing is no report
    options.progress = [&](const qt::ReadStep& step) {
        if (step.kind != qt::ReadStep::Kind::Part)
            return true;
        progress.setValue(static_cast<int>(step.done));
        progress.setLabelText(QStringLiteral("Uploading part %1 (%2 of %3)...")
                                  .arg(qs(step.partNumber))
                                  .arg(step.done + 1)
                                  .arg(step.parts));
        showProgress(static_cast<int>(step.done), static_cast<int>(step.parts),
                     QStringLiteral("Part %v of %m"));
        return !progress.wasCanceled();
    };
    qt::WholeRead whole = qt::readWholeInstrument(*driver_, sheet(), options);
    const qt::UploadResult& system = whole.system;
    qt::SweepResult& swept = whole.parts;
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
    // Empty part values would all reach the instrument as zeros.
    if (kind == pp::ExchangeKind::PartDownload && !session().localRefusal(kind) &&
        pp::partValuesMissing(sheet())) {
        window_.message(pp::text::PartValuesMissing);
        return;
    }
    // Who is on the line, unless the transfer brings the system record itself. A starter that
    // refuses at once (no part number, no customer code) is not worth a read.
    std::optional<pp::InstrumentIdentity> instrument;
    std::optional<pp::Sheet> ownValues;
    std::string reason;
    if (kind != pp::ExchangeKind::SystemUpload && !session().localRefusal(kind)) {
        const std::optional<OnLine> target = readTarget(kind);
        if (!target)
            return;
        instrument = target->identity;
        ownValues = target->ownValues;
        // Why the values are written, for the history; asked once the port and the
        // instrument are known. Cancel writes nothing.
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
    session().setOwnValues(std::move(ownValues));
    session().setReason(reason);
    (session().*starter)();
    session().setInstrument(std::nullopt);
    session().setOwnValues(std::nullopt);
    session().setReason({});
    mirror();
}

// What a transfer must know of the instrument before anything is written: who it is, that it
// holds values of the sheet's generation, and, when it is not the one the values came from,
// its own values, which a copy leaves as they are. None when the transfer must not go on (the
// reason has been said).
std::optional<MainWindow::OnLine> MainWindow::readTarget(pp::ExchangeKind kind) {
    const Activity::Scope reading(*activity_);
    qt::InstrumentRead read = qt::readInstrument(*driver_, sheet());
    if (!read.ok()) {
        read.showOn(window_);
        return std::nullopt;
    }
    OnLine online{*read.identity(), std::nullopt};
    const bool upload =
        kind == pp::ExchangeKind::SystemUpload || kind == pp::ExchangeKind::PartUpload;
    if (upload)
        return online;

    const pp::Generation values = sheet().generation();
    if (values != pp::Generation::None && values != online.identity.generation) {
        window_.message("The values on screen are for " +
                        std::string(pp::generationStatusText(values)) + "; the QX7400 on " +
                        portName() + " is " +
                        std::string(pp::generationStatusText(online.identity.generation)) +
                        ". Nothing was sent.");
        return std::nullopt;
    }
    if (!otherInstrumentConfirmed(online.identity))
        return std::nullopt;
    if (!sameSource(online.identity)) {
        if (kind == pp::ExchangeKind::PartDownload) {
            read = qt::readInstrumentPart(*driver_, sheet(), std::move(read.sheet),
                                          sheet().partSelection());
            if (!read.ok()) {
                read.showOn(window_);
                return std::nullopt;
            }
        }
        online.ownValues = std::move(read.sheet);
    }
    return online;
}

std::string MainWindow::portName() const {
    const QString device = driver_->deviceOverride();
    return device.isEmpty() ? "COMM " + std::to_string(driver_->session().commPortNumber())
                            : device.toStdString();
}

// The values came from the instrument they were read from or written to, or the file or entry
// they were opened from (a serial number edited on screen renumbers that instrument); values
// that came from none belong to whichever instrument they go to.
bool MainWindow::sameSource(const pp::InstrumentIdentity& instrument) const {
    const std::string& from = document_->tracking().instrument;
    return from.empty() || pp::sameSerial(instrument.serial, from);
}

// Copying settings between instruments is an everyday task; a swapped cable is not.
bool MainWindow::otherInstrumentConfirmed(const pp::InstrumentIdentity& instrument) {
    if (sameSource(instrument))
        return true;
    const std::string question =
        "The QX7400 on " + portName() + " is serial " + instrument.serial +
        "; the values on screen came from serial " + document_->tracking().instrument +
        ". Download the settings to serial " + instrument.serial +
        "? Its serial number, clock and calibration values stay as they are.";
    return window_.message(question, pp::Buttons::NoYes) == pp::Answer::Yes;
}

void MainWindow::exchangeEnded(pp::Outcome outcome) {
    // Only the exchange this window started ends its step: a mode window request refused
    // while it runs ends nothing.
    if (!document_->transferPending() || session().exchangeOpen())
        return;
    const bool succeeded = session().succeeded(outcome);
    document_->endTransfer(succeeded, session().exchange().instrument, session().sent());
}

} // namespace pp::ui
