#include "qt/history_tap.h"

#include "qt/session_driver.h"

#include "history/audit.h"
#include "history/recording.h"

#include <exception>

namespace pp::qt {

HistoryTap::HistoryTap(SessionDriver& driver, std::string path, QObject* parent)
    : QObject(parent), driver_(driver), path_(std::move(path)), user_(pp::history::accountName()),
      host_(pp::history::hostName()) {
    connect(&driver_, &SessionDriver::exchangeEnded, this, &HistoryTap::exchangeEnded);
}

// Runs when the session has closed the port and stopped its timer: nothing of the exchange
// is left to delay.
void HistoryTap::exchangeEnded(pp::Outcome outcome) {
    if (!driver_.recorded())
        return;
    try {
        // The text the exchange ended with, wherever its status went (a quiet read keeps its
        // own).
        const pp::Session& session = driver_.session();
        std::optional<pp::history::Entry> entry =
            pp::history::entryFor(session, outcome, session.window().status());
        if (!entry)
            return;
        entry->time = pp::history::utcTimestamp();
        entry->user = user_;
        entry->host = host_;
        entry->port = driver_.devicePath().toStdString();
        if (!append(*entry)) {
            if (observe_)
                observe_({*entry, false, std::nullopt});
            return;
        }
        if (!entry->findings.empty())
            emit found(QString::fromStdString(
                pp::history::findingsMessage(*entry, entry->findings, lastAction_)));
    } catch (const std::exception& e) {
        lost(e.what());
    }
}

bool HistoryTap::record(pp::history::Entry& entry) {
    try {
        return append(entry);
    } catch (const std::exception& e) {
        lost(e.what());
        return false;
    }
}

bool HistoryTap::append(pp::history::Entry& entry) {
    // A history removed or moved meanwhile would take the entry with it: the one at the path
    // (made anew if need be) gets it.
    if (store_.isOpen() && store_.replacedOnDisk())
        store_.close();
    if (!store_.isOpen() && !store_.open(path_)) {
        lost(store_.error());
        return false;
    }
    store_.setBusyTimeout(failing_ ? ShortWaitMs : pp::history::Store::DefaultBusyTimeoutMs);
    // What the instrument holds against what it should: its approval and the values last
    // written to or read from it. A history that cannot say finds nothing.
    lastAction_.reset();
    if (entry.action == pp::history::Action::Upload && entry.succeeded() && !entry.serial.empty()) {
        const auto approved = store_.approval(entry.serial, entry.scope, entry.part);
        const auto last = store_.lastKnown(entry.serial, entry.scope, entry.part);
        if (last)
            lastAction_ = last->action;
        entry.findings = pp::history::findingsFor(entry, approved, last);
    }
    if (!store_.append(entry)) {
        lastError_ = store_.error();
        lost(store_.error());
        store_.close(); // opened and checked again next time
        return false;
    }
    lastError_.clear();
    failing_ = false;
    if (observe_)
        observe_({entry, true, lastAction_});
    emit recorded(entry.id);
    return true;
}

void HistoryTap::lost(const std::string& reason) {
    failing_ = true;
    if (reported_)
        return;
    reported_ = true;
    if (report_)
        report_("History not recorded: " + reason);
}

} // namespace pp::qt
