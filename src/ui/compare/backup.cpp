#include "ui/compare/backup.h"

#include "qt/clock.h"

#include "qt/session_driver.h"
#include "qt/whole_instrument.h"
#include "ui/main/qt_window.h"

#include "link/mode.h"
#include "link/status_texts.h"

#include "files/file_commands.h"
#include "files/native.h"
#include "files/param_file.h"

#include <QDate>
#include <QFileDialog>
#include <QProgressDialog>

#include <algorithm>
#include <filesystem>

namespace pp::ui {

namespace {

std::string joined(const std::vector<std::string>& items) {
    std::string out;
    for (const std::string& s : items)
        out += (out.empty() ? "" : ", ") + s;
    return out;
}

} // namespace

std::string backupSummaryText(const BackupSummary& s, const std::string& folder) {
    if (!s.failure.empty())
        return "No files were written: " + s.failure;
    std::string text = std::to_string(s.written.size()) +
                       (s.written.size() == 1 ? " file written" : " files written") + " to " +
                       folder + ".";
    for (const auto& [part, why] : s.failed)
        text += "\rPart number " + part + " failed: " + why;
    if (!s.notRead.empty())
        text += std::string(s.cancelled ? "\rCancelled; not read: " : "\rNot read: ") +
                joined(s.notRead);
    return text;
}

PartsBackup::PartsBackup(qt::SessionDriver& driver, QtWindow& window, pp::Sheet& home,
                         QWidget* parent)
    : QObject(parent), driver_(driver), window_(window), home_(home), parent_(parent) {}

std::optional<QString> PartsBackup::chooseFolder() {
    if (folderHook_)
        return folderHook_();
    const QString folder = QFileDialog::getExistingDirectory(
        parent_, QStringLiteral("Back Up All Parts"), window_.initialFolder());
    if (folder.isEmpty())
        return std::nullopt;
    return folder;
}

void PartsBackup::run() {
    if (running_)
        return;
    if (driver_.session().transferRunning()) {
        window_.message(pp::text::WaitForTransfer);
        return;
    }
    const auto folder = chooseFolder();
    if (!folder)
        return;

    QProgressDialog dialog(QStringLiteral("Uploading system parameters..."),
                           QStringLiteral("Cancel"), 0, 1, parent_);
    dialog.setObjectName(QStringLiteral("dlgBackupProgress"));
    dialog.setWindowTitle(QStringLiteral("Back Up All Parts"));
    dialog.setWindowModality(Qt::WindowModal); // the window waits; Cancel stays live
    dialog.setMinimumDuration(0);
    dialog.setAutoClose(false);
    dialog.setAutoReset(false);
    dialog.setValue(0);
    progress_ = [&dialog](int step, int steps, const QString& label) {
        dialog.setMaximum(steps);
        dialog.setValue(step);
        dialog.setLabelText(label);
        return !dialog.wasCanceled();
    };
    const BackupSummary summary = backUp(folder->toStdString(), qt::today());
    progress_ = nullptr;
    dialog.close();

    window_.message(backupSummaryText(summary, folder->toStdString()), pp::Buttons::Ok,
                    summaryCaption().toStdString());
}

BackupSummary PartsBackup::backUp(const std::string& folder, const std::tm& day) {
    running_ = true;
    BackupSummary summary;
    auto report = [this](int step, int steps, const QString& label) {
        return progress_ ? progress_(step, steps, label) : true;
    };

    qt::WholeReadOptions options;
    int steps = 2;
    options.progress = [&](const qt::ReadStep& step) {
        switch (step.kind) {
        case qt::ReadStep::Kind::System:
            return true;
        case qt::ReadStep::Kind::PartList:
            report(1, 2, QStringLiteral("Reading the part-number list..."));
            return true;
        case qt::ReadStep::Kind::Part:
            break;
        }
        steps = static_cast<int>(step.parts) + 2;
        if (!report(static_cast<int>(step.done) + 2, steps,
                    QStringLiteral("Reading part number %1...")
                        .arg(QString::fromStdString(step.partNumber))))
            return false;
        emit partStarted(QString::fromStdString(step.partNumber));
        return true;
    };
    // Each file as soon as its part is read: one part that fails takes no other with it.
    options.read = [&](const std::string& pn, const pp::Sheet& part) {
        const std::string name = pp::DefaultFileName(part, day);
        if (name.empty()) {
            summary.failed.emplace_back(pn, "no serial number to name the file by");
            return;
        }
        const std::string path =
            pp::utf8FromPath(pp::pathFromUtf8(folder) / pp::pathFromUtf8(name));
        pp::QuietWindow quiet;
        if (!pp::WriteParamFile(part, path, quiet)) {
            // The status names the parameter when a text cannot be stored.
            const std::string why = quiet.status() == pp::FileErrorStatus
                                        ? std::string(pp::ErrorWritingFile) + " " + path
                                        : quiet.status();
            summary.failed.emplace_back(pn, why);
            return;
        }
        summary.written.push_back(path);
    };
    const qt::WholeRead whole = qt::readWholeInstrument(driver_, home_, options);
    running_ = false;
    if (!whole.system.ok) {
        summary.failure = "the system parameters could not be read: " + whole.system.failure;
        return summary;
    }
    if (!whole.list->ok) {
        summary.failure = "the part-number list could not be read: " + whole.list->failure;
        return summary;
    }
    if (whole.configured.empty()) {
        summary.failure = "no part numbers are configured.";
        return summary;
    }
    for (const auto& [pn, failed] : whole.parts.failed)
        summary.failed.emplace_back(pn, failed.failure);
    // In the order of the part numbers, whichever step failed.
    std::stable_sort(summary.failed.begin(), summary.failed.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    summary.notRead = whole.parts.notRead;
    summary.cancelled = whole.parts.cancelled;
    report(steps, steps, QStringLiteral("Done"));
    return summary;
}

} // namespace pp::ui
