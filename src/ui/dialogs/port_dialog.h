// "Select Comm Port": which of COMM 1 to COMM 5 the instrument is on. Hidden, not destroyed,
// by its buttons.
#pragma once

#include "qt/serial_adapter.h"

#include <QDialog>
#include <QList>
#include <QString>

#include <array>
#include <functional>

class QRadioButton;
class QLabel;
class QTreeWidget;

namespace pp::ui {

// A serial device of this computer, as the system describes it.
using SerialDevice = qt::SerialPortEntry;

class PortDialog : public QDialog {
    Q_OBJECT
public:
    // The dialog reads and writes the application's port number through these.
    PortDialog(std::function<int()> portNumber, std::function<void(int)> setPortNumber,
               QWidget* parent = nullptr);

    void Form_Activate();
    void cmdOK_Click();
    void cmdCancel_Click();

    // Where the device list comes from; the system's serial ports unless replaced (tests).
    using DeviceSource = std::function<QList<SerialDevice>()>;
    void setDeviceSource(DeviceSource source) { deviceSource_ = std::move(source); }
    static QList<SerialDevice> systemDevices();

protected:
    void showEvent(QShowEvent* event) override;

private:
    std::function<int()> portNumber_;
    std::function<void(int)> setPortNumber_;
    std::array<QRadioButton*, 5> options_{};
    std::array<QLabel*, 5> devices_{};
    QTreeWidget* lstDevices_ = nullptr;
    DeviceSource deviceSource_;

    void fillDeviceList();
};

} // namespace pp::ui
