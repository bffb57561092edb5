// "Back Up All Parts...": the system parameters, the part-number list, then every configured
// part number, each saved as a parameter file under its default name in one folder. Runs on
// its own sheet; the sheet on screen stays as it was.
#pragma once

#include "sheet/sheet.h"

#include <QObject>
#include <QString>

#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class QWidget;

namespace pp::qt {
class SessionDriver;
} // namespace pp::qt

namespace pp::ui {

class QtWindow;

struct BackupSummary {
    std::string failure;                                     // nothing could be read: why
    std::vector<std::string> written;                        // paths of the files written
    std::vector<std::pair<std::string, std::string>> failed; // part number, why
    std::vector<std::string> notRead; // left out after a cancel or a lost port
    bool cancelled = false;
};

// The closing message: files written, part numbers that failed and why.
std::string backupSummaryText(const BackupSummary& summary, const std::string& folder);

class PartsBackup : public QObject {
    Q_OBJECT
public:
    using FolderHook = std::function<std::optional<QString>()>;

    PartsBackup(qt::SessionDriver& driver, QtWindow& window, pp::Sheet& home, QWidget* parent);

    // Asks for the folder, runs the backup behind a progress dialog and shows the summary.
    void run();
    // The backup itself into `folder`, for run() and tests.
    BackupSummary backUp(const std::string& folder, const std::tm& today);

    void setFolderHook(FolderHook hook) { folderHook_ = std::move(hook); }
    bool running() const { return running_; }

    static QString summaryCaption() { return QStringLiteral("Back Up All Parts"); }

signals:
    // Before each part number's upload ("01".."32").
    void partStarted(const QString& partNumber);

private:
    std::optional<QString> chooseFolder();

    qt::SessionDriver& driver_;
    QtWindow& window_;
    pp::Sheet& home_;
    QWidget* parent_;
    FolderHook folderHook_;
    bool running_ = false;
    std::function<bool(int step, int steps, const QString& label)> progress_;
};

} // namespace pp::ui
