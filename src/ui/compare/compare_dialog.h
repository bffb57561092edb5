// The differences between the sheet on screen and a file or the instrument: one row per
// parameter, system and part parameters in two groups, or "no differences".
#pragma once

#include "sheet/compare.h"

#include <QDialog>
#include <QStringList>

#include <functional>
#include <vector>

class QLabel;
class QPushButton;
class QTreeWidget;

namespace pp::ui {

// One row per difference under a bold heading per group (system, then part parameters), the
// columns as wide as their texts: the compare dialog's layout, for every list of differences.
// `valueColumns` heads the value columns; with a single one only the second value is shown.
void fillDifferenceTree(QTreeWidget* tree, const std::vector<pp::Difference>& differences,
                        const QStringList& valueColumns);

class CompareDialog : public QDialog {
    Q_OBJECT
public:
    // `otherColumn` heads the second value column ("In file", "In QX7400").
    CompareDialog(const std::vector<pp::Difference>& differences, const QString& title,
                  const QString& otherColumn, QWidget* parent = nullptr);

    QTreeWidget* tree() const { return tree_; }
    QLabel* noDifferences() const { return none_; }

    // Rows get check boxes (a group's box ticks all its rows) and "Take Selected Into Sheet",
    // which hands the ticked rows to `take`; the dialog closes when it returns true.
    using Take = std::function<bool(const std::vector<pp::Difference>&)>;
    void offerTake(Take take);
    std::vector<pp::Difference> tickedRows() const;
    QPushButton* takeButton() const { return take_; }
    static QString takeText() { return QStringLiteral("Take Selected Into Sheet"); }

    static QString noDifferencesText() { return QStringLiteral("no differences"); }

private:
    void updateTake();

    std::vector<pp::Difference> differences_;
    QTreeWidget* tree_ = nullptr;
    QLabel* none_ = nullptr;
    QPushButton* take_ = nullptr;
    Take taker_;
};

} // namespace pp::ui
