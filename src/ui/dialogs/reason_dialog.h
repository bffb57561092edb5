// "Reason for the Download": asked before every download, so the history says why each change
// was made. The plant's own reasons are offered; any other can be typed.
#pragma once

#include <QDialog>

#include <string>
#include <vector>

class QComboBox;
class QDialogButtonBox;

namespace pp::ui {

class ReasonDialog : public QDialog {
    Q_OBJECT
public:
    // `required`: the plant wants a reason for every download; OK waits for one.
    ReasonDialog(const std::vector<std::string>& reasons, bool required, QWidget* parent = nullptr);

    QString reason() const;
    void setReason(const QString& text);

private:
    void update();

    QComboBox* reason_ = nullptr;
    QDialogButtonBox* buttons_ = nullptr;
    bool required_ = false;
};

} // namespace pp::ui
