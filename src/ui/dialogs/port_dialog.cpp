#include "ui/dialogs/port_dialog.h"

#include "qt/session_driver.h"

#include <QButtonGroup>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace pp::ui {

PortDialog::PortDialog(std::function<int()> portNumber, std::function<void(int)> setPortNumber,
                       QWidget* parent)
    : QDialog(parent), portNumber_(std::move(portNumber)),
      setPortNumber_(std::move(setPortNumber)) {
    setObjectName(QStringLiteral("FormPort"));
    setWindowTitle(QStringLiteral("Select Comm Port"));
    setModal(true);

    auto* frame = new QGroupBox(this);
    auto* grid = new QGridLayout(frame);
    grid->setColumnStretch(1, 1);
    grid->setHorizontalSpacing(16);
    auto* group = new QButtonGroup(this);
    for (int n = 1; n <= 5; ++n) {
        auto* option = new QRadioButton(QStringLiteral("COMM %1").arg(n), frame);
        option->setObjectName(QStringLiteral("optComm%1").arg(n));
        group->addButton(option, n);
        // Which device COMM n is on this computer, so the choice is not a guess.
        auto* device = new QLabel(frame);
        device->setObjectName(QStringLiteral("lblDevice%1").arg(n));
        device->setTextInteractionFlags(Qt::TextSelectableByMouse);
        grid->addWidget(option, n - 1, 0);
        grid->addWidget(device, n - 1, 1);
        options_[static_cast<size_t>(n - 1)] = option;
        devices_[static_cast<size_t>(n - 1)] = device;
    }

    auto* cmdOK = new QPushButton(QStringLiteral("OK"), this);
    cmdOK->setObjectName(QStringLiteral("cmdOK"));
    cmdOK->setDefault(true);
    auto* cmdCancel = new QPushButton(QStringLiteral("Cancel"), this);
    cmdCancel->setObjectName(QStringLiteral("cmdCancel"));
    connect(cmdOK, &QPushButton::clicked, this, &PortDialog::cmdOK_Click);
    connect(cmdCancel, &QPushButton::clicked, this, &PortDialog::cmdCancel_Click);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(cmdOK);
    buttons->addWidget(cmdCancel);

    // The serial devices the computer has, so a technician sees which COMM is the adapter.
    auto* heading = new QLabel(QStringLiteral("Serial ports on this computer:"), this);
    heading->setObjectName(QStringLiteral("lblDevices"));
    lstDevices_ = new QTreeWidget(this);
    lstDevices_->setObjectName(QStringLiteral("lstDevices"));
    lstDevices_->setHeaderLabels({QStringLiteral("Port"), QStringLiteral("Description"),
                                  QStringLiteral("Manufacturer"), QStringLiteral("Used as")});
    lstDevices_->setRootIsDecorated(false);
    lstDevices_->setSelectionMode(QAbstractItemView::NoSelection);
    lstDevices_->setFocusPolicy(Qt::NoFocus);
    lstDevices_->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    lstDevices_->setMinimumHeight(110);
    heading->setBuddy(lstDevices_);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(frame);
    layout->addWidget(heading);
    layout->addWidget(lstDevices_);
    layout->addLayout(buttons);
    setMinimumWidth(460);
}

void PortDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    Form_Activate();
}

void PortDialog::Form_Activate() {
    int n = portNumber_();
    if (n < 1 || n > 5) {
        n = 1;
        setPortNumber_(1);
    }
    options_[static_cast<size_t>(n - 1)]->setChecked(true);
    for (int i = 1; i <= 5; ++i)
        devices_[static_cast<size_t>(i - 1)]->setText(qt::devicePathForPort(i));
    fillDeviceList();
}

QList<SerialDevice> PortDialog::systemDevices() {
    return qt::systemSerialPorts();
}

void PortDialog::fillDeviceList() {
    // Plugged-in adapters come and go: the list is taken afresh at every showing.
    const QList<SerialDevice> devices = deviceSource_ ? deviceSource_() : systemDevices();
    lstDevices_->clear();
    for (const SerialDevice& device : devices) {
        QStringList comms;
        for (int n = 1; n <= 5; ++n) {
            const QString path = qt::devicePathForPort(n);
            if (path == device.systemLocation || path == device.portName)
                comms << QStringLiteral("COMM %1").arg(n);
        }
        auto* item = new QTreeWidgetItem(lstDevices_,
                                         {device.portName, device.description, device.manufacturer,
                                          comms.join(QStringLiteral(", "))});
        item->setToolTip(0, device.systemLocation);
    }
    if (devices.isEmpty())
        new QTreeWidgetItem(lstDevices_, {QStringLiteral("(none found)")});
}

void PortDialog::cmdOK_Click() {
    for (int n = 1; n <= 5; ++n) {
        if (options_[static_cast<size_t>(n - 1)]->isChecked()) {
            setPortNumber_(n);
            break;
        }
    }
    hide();
}

void PortDialog::cmdCancel_Click() {
    hide();
}

} // namespace pp::ui
