#include "compare_dialog.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace pp::ui {

namespace {
QString qs(const std::string& text) {
    return QString::fromStdString(text);
}
} // namespace

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
            new QTreeWidgetItem(header, both ? QStringList{qs(d.caption), qs(d.a), qs(d.b)}
                                             : QStringList{qs(d.caption), qs(d.b)});
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
    : QDialog(parent) {
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

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tree_, 1);
    layout->addWidget(none_, 1);
    layout->addWidget(buttons);
    resize(empty ? 320 : 560, empty ? 140 : 420);
}

} // namespace pp::ui
