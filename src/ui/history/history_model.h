// The History window's table: the entries a filter selects, newest first, read a page at a time
// from this PC's history or the plant's, so a long history opens at once.
#pragma once

#include "history/source.h"

#include <QAbstractTableModel>

#include <vector>

namespace pp::ui {

class HistoryModel : public QAbstractTableModel {
    Q_OBJECT
public:
    // The result last: it is the longest and takes the room that is left.
    enum Column {
        Id,
        Time,
        Action,
        Scope,
        Part,
        Serial,
        User,
        Host,
        Port,
        Reason,
        Findings,
        Result,
        Columns
    };
    static constexpr int PageSize = 200;

    explicit HistoryModel(pp::history::EntrySource* source, QObject* parent = nullptr);
    void setSource(pp::history::EntrySource* source) { source_ = source; }

    // Starts again from the newest entry that `filter` selects; false when the read failed.
    bool load(const pp::history::Filter& filter);
    const pp::history::Filter& filter() const { return filter_; }
    const pp::history::Entry* entryAt(int row) const;
    int rowOf(qint64 id) const; // -1 when not loaded

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    bool canFetchMore(const QModelIndex& parent) const override;
    void fetchMore(const QModelIndex& parent) override;

private:
    pp::history::EntrySource* source_;
    pp::history::Filter filter_;
    std::vector<pp::history::Entry> rows_;
    bool atEnd_ = true;
};

} // namespace pp::ui
