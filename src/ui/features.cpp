#include "ui/features.h"

#include "ui/compare/compare_actions.h"
#include "ui/history/history_actions.h"
#include "ui/history/plant_forwarding.h"
#include "ui/main/main_window.h"

namespace pp::ui {

Features attachFeatures(MainWindow& window, const std::string& historyPath,
                        const QString& serverUri) {
    Features f;
    f.compare = new CompareActions(window, window.sheet(), window.window(), window.driver(),
                                   window.view(), [&window] { window.mirror(); });
    f.compare->setTakeHandler([&window](const std::vector<pp::Difference>& rows) {
        return window.takeFromCompare(rows);
    });
    window.setCompareActions(f.compare);
    window.mirror();
    if (historyPath.empty())
        return f;
    // Every transfer recorded; File > History...
    f.history = new HistoryActions(window, historyPath);
    // ... and forwarded to the plant's server, when there is one (SetUp > History Server...).
    auto* forwarding = new PlantForwarding(window, f.history->tap(), historyPath, serverUri);
    f.history->setApprovalsFromPlant(!serverUri.isEmpty());
    QObject::connect(
        forwarding, &PlantForwarding::serverChanged, f.history,
        [h = f.history](const QString& uri) { h->setApprovalsFromPlant(!uri.isEmpty()); });
    return f;
}

} // namespace pp::ui
