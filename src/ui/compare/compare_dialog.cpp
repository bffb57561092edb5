#include "ui/compare/compare_dialog.h"

#include "qt/strings.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace pp::ui {

using qt::qs;

namespace {} // namespace

void fillDifferenceTree(QTreeWidget* tree, const std::vector<pp::Difference>& differences,
                        const QStringList& valueColumns) {
    const bool both = valueColumns.size() > 1;
    tree->clear();
    tree->setColumnCount(1 + static_cast<int>(valueColumns.size()));
    tree->setHeaderLabels(QStringList{QStringLiteral("Parameter")} + valueColumns);
    tree->setRootIsDecorated(false);

    const struct {
        pp::CompareGroup group;
        QString name;
    } groups[] = {{pp::CompareGroup::System, QStringLiteral("System Parameters")},
                  {pp::CompareGroup::Part, QStringLiteral("Part Parameters")}};
    for (const auto& g : groups) {
        QTreeWidgetItem* header = nullptr;
        for (const pp::Difference& d : differences) {
            if (d.group != g.group)
                continue;
            if (!header) {
                header = new QTreeWidgetItem(tree, {g.name});
                header->setFirstColumnSpanned(true);
                header->setFlags(Qt::ItemIsEnabled);
                QFont bold = header->font(0);
                bold.setBold(true);
                header->setFont(0, bold);
            }
            auto* item =
                new QTreeWidgetItem(header, both ? QStringList{qs(d.caption), qs(d.a), qs(d.b)}
                                                 : QStringList{qs(d.caption), qs(d.b)});
            // Which difference the row shows, for Take Selected Into Sheet.
            item->setData(0, Qt::UserRole, static_cast<int>(&d - differences.data()));
        }
    }
    tree->expandAll();
    // Columns as wide as their texts plus a gap, so a value never runs into its caption.
    QHeaderView* head = tree->header();
    head->setSectionResizeMode(QHeaderView::Interactive);
    const int gap = 3 * tree->fontMetrics().averageCharWidth();
    const QAbstractItemView* view = tree; // QTreeView hides the size hint it overrides
    for (int c = 0; c + 1 < tree->columnCount(); ++c)
        tree->setColumnWidth(c,
                             std::max(view->sizeHintForColumn(c), head->sectionSizeHint(c)) + gap);
}

CompareDialog::CompareDialog(const std::vector<pp::Difference>& differences, const QString& title,
                             const QString& otherColumn, QWidget* parent)
    : QDialog(parent), differences_(differences) {
    setObjectName(QStringLiteral("frmCompare"));
    setWindowTitle(title);

    tree_ = new QTreeWidget(this);
    tree_->setObjectName(QStringLiteral("treeDifferences"));
    tree_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    fillDifferenceTree(tree_, differences, {QStringLiteral("On screen"), otherColumn});

    none_ = new QLabel(noDifferencesText(), this);
    none_->setObjectName(QStringLiteral("lblNoDifferences"));
    none_->setAlignment(Qt::AlignCenter);

    const bool empty = differences.empty();
    tree_->setVisible(!empty);
    none_->setVisible(empty);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    take_ = buttons->addButton(takeText(), QDialogButtonBox::ActionRole);
    take_->setObjectName(QStringLiteral("cmdTakeSelected"));
    take_->hide();
    connect(take_, &QPushButton::clicked, this, [this] {
        const std::vector<pp::Difference> rows = tickedRows();
        if (!rows.empty() && taker_ && taker_(rows))
            accept();
    });

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tree_, 1);
    layout->addWidget(none_, 1);
    layout->addWidget(buttons);
    resize(empty ? 320 : 560, empty ? 140 : 420);
}

void CompareDialog::offerTake(Take take) {
    taker_ = std::move(take);
    for (int g = 0; g < tree_->topLevelItemCount(); ++g) {
        QTreeWidgetItem* group = tree_->topLevelItem(g);
        group->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable | Qt::ItemIsAutoTristate);
        for (int i = 0; i < group->childCount(); ++i) {
            QTreeWidgetItem* row = group->child(i);
            row->setFlags(row->flags() | Qt::ItemIsUserCheckable);
            row->setCheckState(0, Qt::Unchecked);
        }
    }
    connect(tree_, &QTreeWidget::itemChanged, this, &CompareDialog::updateTake,
            Qt::UniqueConnection);
    take_->setVisible(!differences_.empty());
    updateTake();
}

std::vector<pp::Difference> CompareDialog::tickedRows() const {
    std::vector<pp::Difference> rows;
    for (int g = 0; g < tree_->topLevelItemCount(); ++g) {
        QTreeWidgetItem* group = tree_->topLevelItem(g);
        for (int i = 0; i < group->childCount(); ++i) {
            QTreeWidgetItem* row = group->child(i);
            const int at = row->data(0, Qt::UserRole).toInt();
            if (row->checkState(0) == Qt::Checked && at >= 0 &&
                at < static_cast<int>(differences_.size()))
                rows.push_back(differences_[static_cast<size_t>(at)]);
        }
    }
    return rows;
}

void CompareDialog::updateTake() {
    take_->setEnabled(!tickedRows().empty());
}

} // namespace pp::ui
