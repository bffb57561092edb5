#include "ui/history/instruments_view.h"

#include "qt/strings.h"

#include "history/entry.h"
#include "sheet/compare.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <map>
#include <set>

namespace pp::ui {

using qt::qs;

namespace {

enum Column { Name, Generation, LastContact, Pc, Parts, State, Columns };
constexpr int RowRole = Qt::UserRole + 1; // index into rows_

} // namespace

InstrumentsView::InstrumentsView(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("pageInstruments"));
    tree_ = new QTreeWidget(this);
    tree_->setObjectName(QStringLiteral("treeInstruments"));
    tree_->setAccessibleName(QStringLiteral("Instruments"));
    tree_->setColumnCount(Columns);
    tree_->setHeaderLabels({QStringLiteral("Serial Number / Scope"), QStringLiteral("Generation"),
                            QStringLiteral("Last Contact"), QStringLiteral("PC"),
                            QStringLiteral("Part Numbers"), QStringLiteral("State")});
    tree_->setRootIsDecorated(true);
    tree_->setUniformRowHeights(true);
    tree_->header()->setStretchLastSection(true);
    note_ = new QLabel(this);
    note_->setObjectName(QStringLiteral("lblInstrumentsNote"));
    note_->setWordWrap(true);
    note_->hide();

    auto* staleLabel = new QLabel(QStringLiteral("&Stale after"), this);
    staleDays_ = new QSpinBox(this);
    staleDays_->setObjectName(QStringLiteral("spnStaleDays"));
    staleDays_->setRange(0, 3650);
    staleDays_->setValue(30);
    staleDays_->setSuffix(QStringLiteral(" days"));
    staleDays_->setSpecialValueText(QStringLiteral("never"));
    staleLabel->setBuddy(staleDays_);
    timeline_ = new QPushButton(QStringLiteral("&Timeline"), this);
    timeline_->setObjectName(QStringLiteral("cmdTimeline"));
    restore_ = new QPushButton(QStringLiteral("&Restore Approved"), this);
    restore_->setObjectName(QStringLiteral("cmdRestoreApproved"));
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(staleLabel);
    buttons->addWidget(staleDays_);
    buttons->addStretch(1);
    buttons->addWidget(timeline_);
    buttons->addWidget(restore_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tree_, 1);
    layout->addWidget(note_);
    layout->addLayout(buttons);

    connect(tree_, &QTreeWidget::itemSelectionChanged, this, &InstrumentsView::selectionChanged);
    connect(tree_, &QTreeWidget::itemActivated, this, [this] {
        if (const auto* row = selectedRow())
            emit timelineRequested(qs(row->state.serial));
    });
    connect(timeline_, &QPushButton::clicked, this, [this] {
        if (const auto* row = selectedRow())
            emit timelineRequested(qs(row->state.serial));
    });
    connect(restore_, &QPushButton::clicked, this, [this] {
        if (const auto* row = selectedRow(); row && row->state.approval)
            emit restoreRequested(*row->state.approval);
    });
    connect(staleDays_, &QSpinBox::valueChanged, this, [this] {
        if (source_)
            load(*source_);
    });
    selectionChanged();
}

QString InstrumentsView::stateText(const pp::history::AuditRow& row) {
    QString text = qs(pp::history::auditStateText(row));
    if (row.stale)
        text += QStringLiteral(", stale");
    return text;
}

void InstrumentsView::load(pp::history::EntrySource& source) {
    source_ = &source;
    QString keep;
    if (const auto* row = selectedRow())
        keep =
            qs(row->state.serial + "/" + pp::history::scopeName(row->state.scope, row->state.part));
    tree_->clear();
    rows_.clear();
    auto read = source.ready() ? pp::history::audit(source, {}, staleDays_->value(),
                                                    pp::history::utcTimestamp())
                               : std::nullopt;
    if (!read) {
        note_->setText(qs(source.error()));
        note_->setVisible(!source.error().empty());
        selectionChanged();
        return;
    }
    rows_ = std::move(*read);
    note_->setText(rows_.empty() ? QStringLiteral("No instrument has been recorded yet.")
                                 : QString());
    note_->setVisible(rows_.empty());

    // One row per serial number, its scopes below; the instrument row tells the worst state.
    std::map<std::string, std::vector<size_t>> bySerial;
    for (size_t i = 0; i < rows_.size(); ++i)
        bySerial[rows_[i].state.serial].push_back(i);
    QTreeWidgetItem* reselect = nullptr;
    for (const auto& [serial, indices] : bySerial) {
        auto* instrument = new QTreeWidgetItem(tree_);
        instrument->setText(Name, serial.empty() ? QStringLiteral("(unknown)") : qs(serial));
        std::string last;
        std::set<std::string> parts;
        int deviating = 0;
        for (size_t i : indices) {
            const pp::history::AuditRow& r = rows_[i];
            if (r.state.lastContact > last) {
                last = r.state.lastContact;
                instrument->setText(Generation, qs(r.state.generation));
                instrument->setText(LastContact, qs(r.state.lastContact));
                instrument->setText(Pc, qs(r.state.lastHost));
            }
            if (r.state.scope == pp::history::Scope::Part)
                parts.insert(r.state.part);
            deviating += !r.complies();
            auto* scope = new QTreeWidgetItem(instrument);
            const std::string name = pp::history::scopeName(r.state.scope, r.state.part);
            scope->setText(Name, qs(name));
            scope->setText(Generation, qs(r.state.generation));
            scope->setText(LastContact, qs(r.state.lastContact));
            scope->setText(Pc, qs(r.state.lastHost));
            scope->setText(State, stateText(r));
            scope->setToolTip(State, stateText(r));
            scope->setData(Name, RowRole, static_cast<qulonglong>(i));
            if (qs(serial + "/" + name) == keep)
                reselect = scope;
        }
        QStringList partList;
        for (const std::string& p : parts)
            partList << qs(p);
        instrument->setText(Parts, partList.join(QLatin1Char(' ')));
        int approved = 0;
        for (size_t i : indices)
            approved += rows_[i].approved;
        const auto all = static_cast<int>(indices.size());
        instrument->setText(
            State,
            deviating
                ? QStringLiteral("%1 of %2 scopes deviate or are stale").arg(deviating).arg(all)
            : approved == 0  ? QStringLiteral("never approved")
            : approved < all ? QStringLiteral("the approved scopes match; %1 of %2 never "
                                              "approved")
                                   .arg(all - approved)
                                   .arg(all)
                             : QStringLiteral("matches its approved values"));
        instrument->setData(Name, RowRole, static_cast<qulonglong>(indices.front()));
        instrument->setExpanded(deviating > 0);
    }
    for (int c = 0; c < State; ++c)
        tree_->resizeColumnToContents(c);
    if (reselect)
        tree_->setCurrentItem(reselect);
    selectionChanged();
}

const pp::history::AuditRow* InstrumentsView::selectedRow() const {
    const QTreeWidgetItem* item = tree_->currentItem();
    if (!item)
        return nullptr;
    const QVariant index = item->data(Name, RowRole);
    if (!index.isValid() || index.toULongLong() >= rows_.size())
        return nullptr;
    return &rows_[index.toULongLong()];
}

bool InstrumentsView::select(const std::string& serial, const std::string& scopeName) {
    for (int i = 0; i < tree_->topLevelItemCount(); ++i) {
        QTreeWidgetItem* instrument = tree_->topLevelItem(i);
        for (int k = 0; k < instrument->childCount(); ++k) {
            QTreeWidgetItem* scope = instrument->child(k);
            const auto* row = &rows_[scope->data(Name, RowRole).toULongLong()];
            if (row->state.serial == serial && scope->text(Name) == qs(scopeName)) {
                tree_->setCurrentItem(scope);
                return true;
            }
        }
    }
    return false;
}

void InstrumentsView::selectionChanged() {
    const auto* row = selectedRow();
    timeline_->setEnabled(row != nullptr);
    // Only a scope row: the instrument row stands for no single set of values.
    const bool scope = row && tree_->currentItem() && tree_->currentItem()->parent();
    restore_->setEnabled(scope && row->state.approval.has_value());
}

} // namespace pp::ui
