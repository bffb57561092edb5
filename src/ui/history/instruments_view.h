// The History window's "Instruments" page: every serial number seen (on this PC or in the
// plant), with its generation, last contact, PC and part numbers, and for each scope whether
// it is approved and whether its latest upload holds the approved values. From here an
// instrument's timeline opens, and its approved values can be put back on the sheet.
#pragma once

#include "history/audit.h"
#include "history/source.h"

#include <QWidget>

#include <functional>
#include <optional>
#include <vector>

class QLabel;
class QPushButton;
class QSpinBox;
class QTreeWidget;

namespace pp::ui {

class InstrumentsView : public QWidget {
    Q_OBJECT
public:
    explicit InstrumentsView(QWidget* parent = nullptr);

    // Reads every scope `source` knows again; the selection is kept where it still exists.
    void load(pp::history::EntrySource& source);

    // The scope selected (an instrument row selects its system scope).
    const pp::history::AuditRow* selectedRow() const;
    bool select(const std::string& serial, const std::string& scopeName);

    QTreeWidget* tree() const { return tree_; }

    // A scope's state as the page shows it (auditStateText), ", stale" after it.
    static QString stateText(const pp::history::AuditRow& row);

signals:
    void timelineRequested(const QString& serial);
    void restoreRequested(const pp::history::Entry& approval);

private:
    void selectionChanged();

    QTreeWidget* tree_ = nullptr;
    QLabel* note_ = nullptr;
    QSpinBox* staleDays_ = nullptr;
    QPushButton* timeline_ = nullptr;
    QPushButton* restore_ = nullptr;
    std::vector<pp::history::AuditRow> rows_;
    pp::history::EntrySource* source_ = nullptr;
};

} // namespace pp::ui
