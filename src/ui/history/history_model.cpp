#include "ui/history/history_model.h"

#include "qt/strings.h"

#include "history/formats.h"

#include <QStringList>

namespace pp::ui {

using pp::history::Entry;
using qt::qs;

HistoryModel::HistoryModel(pp::history::EntrySource* source, QObject* parent)
    : QAbstractTableModel(parent), source_(source) {}

bool HistoryModel::load(const pp::history::Filter& filter) {
    beginResetModel();
    filter_ = filter;
    rows_.clear();
    atEnd_ = true;
    bool ok = true;
    if (source_) {
        auto page = source_->page(filter_, PageSize, nullptr);
        ok = page.has_value();
        if (page) {
            rows_ = std::move(*page);
            atEnd_ = rows_.size() < static_cast<size_t>(PageSize);
        }
    }
    endResetModel();
    return ok;
}

const Entry* HistoryModel::entryAt(int row) const {
    return row >= 0 && static_cast<size_t>(row) < rows_.size() ? &rows_[static_cast<size_t>(row)]
                                                               : nullptr;
}

int HistoryModel::rowOf(qint64 id) const {
    for (size_t i = 0; i < rows_.size(); ++i)
        if (rows_[i].id == id)
            return static_cast<int>(i);
    return -1;
}

int HistoryModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int HistoryModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : Columns;
}

QVariant HistoryModel::data(const QModelIndex& index, int role) const {
    const Entry* e = entryAt(index.row());
    if (!e || (role != Qt::DisplayRole && role != Qt::ToolTipRole))
        return {};
    switch (index.column()) {
    case Id:
        return QVariant::fromValue<qint64>(e->id);
    case Time:
        return qs(e->time);
    case Action:
        return qs(pp::history::actionWord(e->action));
    case Scope:
        return qs(pp::history::scopeWord(e->scope));
    case Part:
        return qs(e->part);
    case Serial:
        return qs(e->serial);
    case Result:
        // An approval or revocation: what it means and who signed it, or that no one did.
        if (e->action == pp::history::Action::Approve || e->action == pp::history::Action::Revoke)
            return qs(
                (e->action == pp::history::Action::Approve ? e->meaning : std::string("revoked")) +
                ", " + pp::history::signatureLabel(*e));
        return qs(pp::history::resultText(*e));
    case User:
        return qs(e->user);
    case Host:
        return qs(e->host);
    case Port:
        return qs(e->port);
    case Reason:
        return qs(e->reason);
    case Findings: {
        // What an upload held against its approval or the last values: the drift column.
        QStringList found;
        for (const pp::history::Finding& f : e->findings)
            found << qs(pp::history::findingText(f));
        return found.join(QStringLiteral("; "));
    }
    default:
        return {};
    }
}

QVariant HistoryModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    static const char* const names[] = {"ID",   "Time (UTC)", "Action", "Scope",
                                        "Part", "Serial",     "User",   "Host",
                                        "Port", "Reason",     "Found",  "Result"};
    return section >= 0 && section < Columns ? QString::fromLatin1(names[section]) : QVariant();
}

bool HistoryModel::canFetchMore(const QModelIndex& parent) const {
    return !parent.isValid() && !atEnd_;
}

void HistoryModel::fetchMore(const QModelIndex& parent) {
    if (parent.isValid() || atEnd_ || rows_.empty() || !source_)
        return;
    auto page = source_->page(filter_, PageSize, &rows_.back());
    if (!page || page->empty()) {
        atEnd_ = true;
        return;
    }
    atEnd_ = page->size() < static_cast<size_t>(PageSize);
    const int first = static_cast<int>(rows_.size());
    beginInsertRows({}, first, first + static_cast<int>(page->size()) - 1);
    rows_.insert(rows_.end(), std::make_move_iterator(page->begin()),
                 std::make_move_iterator(page->end()));
    endInsertRows();
}

} // namespace pp::ui
