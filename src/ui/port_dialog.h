// "Select Comm Port": which of COMM 1 to COMM 5 the instrument is on. Hidden, not destroyed,
// by its buttons.
#pragma once

#include <QDialog>

#include <array>
#include <functional>

class QRadioButton;
class QLabel;

namespace pp::ui {

class PortDialog : public QDialog {
    Q_OBJECT
public:
    // The dialog reads and writes the application's port number through these.
    PortDialog(std::function<int()> portNumber, std::function<void(int)> setPortNumber,
               QWidget* parent = nullptr);

    void Form_Activate();
    void cmdOK_Click();
    void cmdCancel_Click();

protected:
    void showEvent(QShowEvent* event) override;

private:
    std::function<int()> portNumber_;
    std::function<void(int)> setPortNumber_;
    std::array<QRadioButton*, 5> options_{};
    std::array<QLabel*, 5> devices_{};
};

} // namespace pp::ui
