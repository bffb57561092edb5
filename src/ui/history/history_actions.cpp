#include "ui/history/history_actions.h"

#include "qt/history_tap.h"
#include "qt/server_location.h"
#include "qt/session_driver.h"
#include "ui/compare/compare_dialog.h"
#include "ui/history/approve_dialog.h"
#include "ui/history/history_dialog.h"
#include "ui/history/sign_dialog.h"
#include "ui/main/main_window.h"

#include "files/param_file.h"
#include "history/audit.h"
#include "history/entry_sheet.h"
#include "history/signing.h"
#include "history/store.h"
#include "link/frames.h"
#include "link/status_texts.h"
#include "sheet/compare.h"

#include <QAction>
#include <QEventLoop>
#include <QGuiApplication>
#include <QMenu>
#include <QStyle>
#include <QTimer>
#include <QToolBar>

#include <atomic>
#include <thread>

namespace pp::ui {

namespace {

using pp::history::Entry;
using pp::history::Scope;
using pp::history::Store;

// How long a signing may wait for the plant server, at each step.
constexpr int SignWaitMs = 10000;

constexpr std::string_view NoUploadRecorded = "No upload of this QX7400 has been recorded.";

// The entry in the menu named `after`, or the end of the menu.
void insertAfter(QMenu* menu, const char* after, QAction* action) {
    const auto actions = menu->actions();
    for (qsizetype i = 0; i < actions.size(); ++i) {
        if (actions[i]->objectName() == QLatin1String(after)) {
            menu->insertAction(i + 1 < actions.size() ? actions[i + 1] : nullptr, action);
            return;
        }
    }
    menu->addAction(action);
}

} // namespace

HistoryActions::HistoryActions(MainWindow& window, std::string path)
    : QObject(&window), main_(window), path_(std::move(path)), approvals_(path_) {
    tap_ = new qt::HistoryTap(main_.driver(), path_, this);
    tap_->setReporter([this](const std::string& note) {
        note_ = note;
        noteTimer_.start();
    });
    // An upload that showed other values than it should: said after the exchange's own text.
    connect(tap_, &qt::HistoryTap::found, this, [this](const QString& message) {
        note_ = message.toStdString();
        noteTimer_.start();
    });
    // An approval recorded, or an upload: the marks compare with what the history says now.
    connect(tap_, &qt::HistoryTap::recorded, this, [this] {
        approvedKey_.clear();
        main_.mirror();
    });
    main_.setApprovedSource([this](const std::string& serial, const std::string& part) {
        return approvedTexts(serial, part);
    });
    noteTimer_.setSingleShot(true);
    noteTimer_.setInterval(NoteDelayMs);
    connect(&noteTimer_, &QTimer::timeout, this, &HistoryActions::showNote);

    history_ = new QAction(main_.style()->standardIcon(QStyle::SP_FileDialogDetailedView),
                           QStringLiteral("History..."), &main_);
    history_->setObjectName(QStringLiteral("mnuHistory"));
    history_->setToolTip(QStringLiteral("Transfer History"));
    compareLast_ = new QAction(QStringLiteral("Compare With Last Upload"), &main_);
    compareLast_->setObjectName(QStringLiteral("mnuCompareLastUpload"));
    if (auto* file = main_.findChild<QMenu*>(QStringLiteral("mnuFile"))) {
        insertAfter(file, "mnuCompareFile", compareLast_);
        insertAfter(file, "mnuBackup", history_);
        connect(file, &QMenu::aboutToShow, &main_, &MainWindow::updateCommands);
    }
    if (auto* toolbar = main_.findChild<QToolBar*>(QStringLiteral("Toolbar1")))
        toolbar->addAction(history_);
    connect(history_, &QAction::triggered, this, &HistoryActions::mnuHistory_Click);
    connect(compareLast_, &QAction::triggered, this, &HistoryActions::mnuCompareLastUpload_Click);
    main_.addCommand(compareLast_, [](const MainWindow::CommandState& s) {
        return !s.busy && !s.sheet.text(pp::Sys::Serial).empty();
    });
}

void HistoryActions::setApprovalsFromPlant(bool plant) {
    plantApprovals_ = plant;
    approvals_.setApprovalsFromPlant(plant);
    tap_->setApprovalsFromPlant(plant);
    if (dialog_)
        dialog_->localSource().setApprovalsFromPlant(plant);
    approvedKey_.clear(); // read again
}

pp::ApprovedTexts HistoryActions::approvedTexts(const std::string& serial,
                                                const std::string& part) {
    const std::string padded = part.size() == 1 ? "0" + part : part;
    const std::string key = serial + '\n' + padded;
    if (key == approvedKey_)
        return approved_;
    approvedKey_ = key;
    approved_ = {};
    if (!approvals_.ready())
        return approved_;
    if (const auto system = approvals_.approval(serial, pp::history::Scope::System, {}))
        if (const auto sheet = pp::history::sheetOf(*system))
            approved_.system = pp::SheetContent::of(*sheet).system;
    if (!padded.empty())
        if (const auto approval = approvals_.approval(serial, pp::history::Scope::Part, padded))
            if (const auto sheet = pp::history::sheetOf(*approval))
                approved_.part = pp::SheetContent::of(*sheet).part;
    return approved_;
}

bool HistoryActions::exchangeRunning() const {
    return main_.busy();
}

// Never in the middle of an exchange: its own texts come first.
void HistoryActions::showNote() {
    if (exchangeRunning()) {
        noteTimer_.start();
        return;
    }
    main_.window().setStatus(note_);
}

HistoryDialog* HistoryActions::dialog() {
    if (!dialog_) {
        dialog_ = new HistoryDialog(path_, main_.window(), &main_);
        dialog_->localSource().setApprovalsFromPlant(plantApprovals_);
        dialog_->setOpener([this](const Entry& entry) { return openInEditor(entry); });
        dialog_->setApprover([this](const Entry& entry) { return approve(entry); });
        dialog_->setRestorer([this](const Entry& approval) { return restoreApproved(approval); });
        dialog_->setBusyCheck([this] { return exchangeRunning(); });
        connect(tap_, &qt::HistoryTap::recorded, dialog_, &HistoryDialog::entryRecorded,
                Qt::QueuedConnection);
    }
    return dialog_;
}

void HistoryActions::mnuHistory_Click() {
    const bool shownBefore = !dialog_.isNull();
    HistoryDialog* d = dialog(); // a new one has read the history already
    if (shownBefore)
        d->reload();
    d->show();
    d->raise();
    d->activateWindow();
}

bool HistoryActions::approve(const Entry& subject) {
    const QString what =
        QStringLiteral("%1 of serial %2, %3 %4 by %5 on %6")
            .arg(subject.scope == pp::history::Scope::System
                     ? QStringLiteral("The system parameters")
                     : QStringLiteral("Part ") + QString::fromStdString(subject.part),
                 QString::fromStdString(subject.serial),
                 subject.action == pp::history::Action::Upload ? QStringLiteral("uploaded")
                                                               : QStringLiteral("downloaded"),
                 QString::fromStdString(subject.time), QString::fromStdString(subject.user),
                 QString::fromStdString(subject.host));
    QWidget* parent = dialog_ ? static_cast<QWidget*>(dialog_) : &main_;
    ApproveDialog ask(what, parent);
    if (ask.exec() != QDialog::Accepted)
        return false;
    // With a plant server the approver signs it there, and the server tells by person who may
    // approve whose values; without one it is this PC's alone.
    const std::string server = qt::historyServerUri().toStdString();
    pp::history::PlantPolicy policy = main_.plantPolicy();
    if (!server.empty())
        policy.approverNotAuthor = false;
    std::string refusal;
    std::optional<Entry> approval =
        pp::history::approvalFrom(subject, ask.meaning(), ask.reason(), refusal, policy);
    if (!approval) {
        main_.window().message(refusal);
        return false;
    }
    if (!server.empty()) {
        SignDialog sign(what, QString::fromStdString(approval->meaning), parent);
        if (sign.exec() != QDialog::Accepted)
            return false;
        pp::history::Credentials as = sign.take();
        pp::history::Limits limits;
        limits.connectTimeoutMs = SignWaitMs;
        limits.answerTimeoutMs = SignWaitMs;
        // On a thread of its own: the windows keep painting while the server is asked, and
        // take no input meanwhile.
        QGuiApplication::setOverrideCursor(Qt::WaitCursor);
        pp::history::SignResult signedAs;
        std::atomic<bool> done{false};
        std::thread signing([&] {
            signedAs = pp::history::signAtPlant(*approval, path_, server, as, limits);
            done = true;
        });
        QEventLoop wait;
        QTimer check;
        connect(&check, &QTimer::timeout, &wait, [&] {
            if (done)
                wait.quit();
        });
        check.start(20);
        wait.exec(QEventLoop::ExcludeUserInputEvents);
        signing.join();
        QGuiApplication::restoreOverrideCursor();
        if (!signedAs.signedOk) {
            main_.window().message("Not signed: " + signedAs.why);
            return false;
        }
    }
    if (!tap_->record(*approval)) {
        main_.window().message("History not recorded: " + tap_->lastError());
        return false;
    }
    main_.window().setStatus(
        (subject.scope == pp::history::Scope::System ? std::string("System parameters")
                                                     : "Part " + subject.part) +
        " of serial " + subject.serial + " " + approval->meaning +
        (approval->signature ? ", signed by " + approval->signature->name : std::string()));
    main_.mirror();
    return true;
}

// The approved values on screen, as a history entry is opened: the question before edited
// values are lost, one undoable step, ready to download.
bool HistoryActions::restoreApproved(const Entry& approval) {
    if (exchangeRunning()) {
        main_.window().message(pp::text::WaitForTransfer);
        return false;
    }
    pp::Sheet restored = main_.sheet();
    if (!pp::history::openEntry(restored, approval, main_.window())) {
        main_.mirror();
        return false;
    }
    return main_.replaceSheet(restored, QStringLiteral("Restore Approved"));
}

bool HistoryActions::openInEditor(const Entry& entry) {
    if (exchangeRunning()) {
        main_.window().message(pp::text::WaitForTransfer);
        return false;
    }
    // Read on a copy first (a text that no longer reads changes nothing and says so), then
    // put on screen as the window replaces its sheet: the question before edited values are
    // lost, one undoable step.
    pp::Sheet opened = main_.sheet();
    if (!pp::history::openEntry(opened, entry, main_.window())) {
        main_.mirror();
        return false;
    }
    return main_.replaceSheet(opened, QStringLiteral("Open History Entry"));
}

void HistoryActions::mnuCompareLastUpload_Click() {
    const pp::Sheet& sheet = main_.sheet();
    const std::string serial = sheet.text(pp::Sys::Serial);
    // The part number on screen counts only when its values are loaded.
    const bool withPart = !sheet.partSelection().empty() && !sheet.text(pp::Part::CustCode).empty();
    Store store;
    std::optional<Entry> system, part;
    if (store.open(path_, Store::Mode::ReadOnly)) {
        system = store.lastUpload(serial, Scope::System, {});
        if (withPart && store.error().empty())
            part = store.lastUpload(serial, Scope::Part, pp::ZeroPad(sheet.partSelection(), 2));
        if (!store.error().empty()) {
            main_.window().message("History not read: " + store.error());
            return;
        }
    } else if (!store.missing()) {
        main_.window().message("History not read: " + store.error());
        return;
    }
    if (!system && !part) {
        main_.window().message(NoUploadRecorded);
        return;
    }

    // System values from the last system upload (or the part upload, which carries them too),
    // part values from the last upload of this part number.
    pp::history::QuietWindow quiet;
    std::vector<pp::Difference> differences;
    auto take = [&](const Entry& entry, pp::CompareGroup group) {
        pp::Sheet uploaded;
        if (!pp::history::applyEntry(uploaded, entry, quiet))
            return false;
        for (pp::Difference& d : pp::compareSheets(sheet, uploaded))
            if (d.group == group)
                differences.push_back(std::move(d));
        return true;
    };
    const bool read = take(system ? *system : *part, pp::CompareGroup::System) &&
                      (!part || take(*part, pp::CompareGroup::Part));
    if (!read) {
        main_.window().message(pp::ErrorReadingFile);
        return;
    }
    auto* dialog = new CompareDialog(differences, QStringLiteral("Compare With Last Upload"),
                                     QStringLiteral("Last upload"), &main_);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->offerTake(
        [this](const std::vector<pp::Difference>& rows) { return main_.takeFromCompare(rows); });
    dialog->open();
}

} // namespace pp::ui
