// What the window offers beside its own rooms, attached from outside so that the window knows
// none of them: the comparisons and Back Up All Parts, and the history with its forwarding to
// the plant's server. The program, the tests and the screenshot tool attach them alike.
#pragma once

#include <QString>

#include <string>

namespace pp::ui {

class CompareActions;
class HistoryActions;
class MainWindow;

struct Features {
    CompareActions* compare = nullptr;
    HistoryActions* history = nullptr; // none without a history path
};

// The window owns what is attached. With `historyPath`, every transfer is recorded there (and
// forwarded to `serverUri` when that names a server).
Features attachFeatures(MainWindow& window, const std::string& historyPath = {},
                        const QString& serverUri = {});

} // namespace pp::ui
