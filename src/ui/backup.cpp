#include "backup.h"

#include "qt_window.h"
#include "scratch_upload.h"
#include "session_driver.h"

#include "link/status_texts.h"

#include "files/file_commands.h"
#include "files/param_file.h"

#include <QDate>
#include <QFileDialog>
#include <QProgressDialog>

#include <filesystem>

namespace pp::ui {

namespace {

// Collects what the file writer would show, so one failed file does not stop the backup
// with a message box of its own.
class QuietWindow : public pp::Window {
public:
    std::vector<std::string> messages;
    void setStatus(std::string_view text) override { status_ = text; }
    std::string status() const override { return status_; }
    pp::Answer message(std::string_view text, pp::Buttons, std::string_view) override {
        messages.emplace_back(text);
        return pp::Answer::No;
    }

private:
    std::string status_;
};

// A port that failed or went away fails every part after it the same way.
bool linkGone(pp::Outcome outcome) {
    return outcome == pp::Outcome::OpenFailed || outcome == pp::Outcome::PortLost ||
           outcome == pp::Outcome::WriteFailed;
}

std::tm today() {
    const QDate d = QDate::currentDate();
    std::tm tm{};
    tm.tm_year = d.year() - 1900;
    tm.tm_mon = d.month() - 1;
    tm.tm_mday = d.day();
    return tm;
}

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

PartsBackup::PartsBackup(SessionDriver& driver, QtWindow& window, pp::Sheet& home, QWidget* parent)
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
    const BackupSummary summary = backUp(folder->toStdString(), today());
    progress_ = nullptr;
    dialog.close();

    window_.message(backupSummaryText(summary, folder->toStdString()), pp::Buttons::Ok,
                    summaryCaption().toStdString());
}

BackupSummary PartsBackup::backUp(const std::string& folder, const std::tm& day) {
    running_ = true;
    BackupSummary summary;
    pp::Sheet scratch;
    ScratchUpload upload(driver_, window_, home_);
    auto report = [this](int step, int steps, const QString& label) {
        return progress_ ? progress_(step, steps, label) : true;
    };

    const UploadResult system = upload.system(scratch);
    if (!system.ok) {
        summary.failure = "the system parameters could not be read: " + system.failure;
        running_ = false;
        return summary;
    }
    std::string list;
    report(1, 2, QStringLiteral("Reading the part-number list..."));
    const UploadResult listed = upload.partList(scratch, list);
    if (!listed.ok) {
        summary.failure = "the part-number list could not be read: " + listed.failure;
        running_ = false;
        return summary;
    }
    const std::vector<std::string> parts = configuredPartNumbers(list);
    if (parts.empty()) {
        summary.failure = "no part numbers are configured.";
        running_ = false;
        return summary;
    }

    const int steps = static_cast<int>(parts.size()) + 2;
    for (size_t i = 0; i < parts.size(); ++i) {
        const std::string& pn = parts[i];
        if (!report(static_cast<int>(i) + 2, steps,
                    QStringLiteral("Reading part number %1...").arg(QString::fromStdString(pn)))) {
            summary.cancelled = true;
            summary.notRead.assign(parts.begin() + static_cast<std::ptrdiff_t>(i), parts.end());
            break;
        }
        emit partStarted(QString::fromStdString(pn));
        const UploadResult got = upload.part(scratch, pn);
        if (!got.ok) {
            summary.failed.emplace_back(pn, got.failure);
            if (linkGone(got.outcome)) {
                summary.notRead.assign(parts.begin() + static_cast<std::ptrdiff_t>(i) + 1,
                                       parts.end());
                break;
            }
            continue;
        }
        const std::string name = pp::DefaultFileName(scratch, day);
        if (name.empty()) {
            summary.failed.emplace_back(pn, "no serial number to name the file by");
            continue;
        }
        const std::string path = (std::filesystem::path(folder) / name).string();
        QuietWindow quiet;
        if (!pp::WriteParamFile(scratch, path, quiet)) {
            // The status names the parameter when a text cannot be stored.
            const std::string why = quiet.status() == pp::FileErrorStatus
                                        ? std::string(pp::ErrorWritingFile) + " " + path
                                        : quiet.status();
            summary.failed.emplace_back(pn, why);
            continue;
        }
        summary.written.push_back(path);
    }
    report(steps, steps, QStringLiteral("Done"));
    running_ = false;
    return summary;
}

} // namespace pp::ui
