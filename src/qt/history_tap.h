// Records every transfer of a session into the history once the exchange has ended: the
// window's and the command line's own transfers and the uploads of Compare, Back Up All Parts
// and Print All Parts alike, since they all run on the same driver. A history that cannot be
// written never touches the transfer: the entry is given up and the reason told once per run.
#pragma once

#include "history/store.h"
#include "link/session.h"

#include <QObject>

#include <functional>
#include <optional>
#include <string>

namespace pp::qt {

class SessionDriver;

class HistoryTap : public QObject {
    Q_OBJECT
public:
    HistoryTap(SessionDriver& driver, std::string path, QObject* parent = nullptr);

    const std::string& path() const { return path_; }
    // Uploads are compared with the plant's approvals as last copied into the history (a PC
    // with a server configured), not with this history's own.
    void setApprovalsFromPlant(bool plant) { store_.setApprovalsFromPlant(plant); }
    // Told "History not recorded: <reason>" the first time an entry is lost in this run.
    void setReporter(std::function<void(const std::string&)> report) {
        report_ = std::move(report);
    }

    // Records an entry that is no exchange of the session (an approval made in the window),
    // as it records transfers; false (lastError() says why) when the history would not take it.
    bool record(pp::history::Entry& entry);
    const std::string& lastError() const { return lastError_; }

    // Every transfer's entry as the tap saw it: recorded (findings included, and what the last
    // values it was compared with came from), or lost because the history would not take it,
    // in which case nothing was compared. A round audits both.
    struct Observed {
        pp::history::Entry entry;
        bool recorded = false;
        std::optional<pp::history::Action> lastAction;
    };
    void setObserver(std::function<void(const Observed&)> observe) {
        observe_ = std::move(observe);
    }

    // After a lost entry the next ones wait only this long for a history another program
    // keeps locked, so a run of transfers is not held up at each.
    static constexpr int ShortWaitMs = 100;

signals:
    void recorded(qint64 id);
    // An upload held other values than its approval or the last ones: "Part 05 differs from
    // its approved values: Leak Limit 7.5 -> 9".
    void found(const QString& message);

private:
    void exchangeEnded(pp::Outcome outcome);
    bool append(pp::history::Entry& entry);
    void lost(const std::string& reason);

    SessionDriver& driver_;
    std::string path_;
    pp::history::Store store_; // opened on first use, again after a failure
    std::string user_;
    std::string host_;
    std::function<void(const std::string&)> report_;
    std::function<void(const Observed&)> observe_;
    std::optional<pp::history::Action> lastAction_; // of the values an upload was compared with
    std::string lastError_;
    bool reported_ = false;
    bool failing_ = false; // the last entry was lost
};

} // namespace pp::qt
