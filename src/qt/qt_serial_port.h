// The serial adapter over QSerialPort (every platform but Windows).
#pragma once

#include "qt/serial_adapter.h"

#include <QSerialPort>

namespace pp::qt {

class QtSerialPort : public SerialAdapter {
    Q_OBJECT
public:
    explicit QtSerialPort(QObject* parent = nullptr);

    bool open() override;
    void close() override;
    bool isOpen() const override { return port_.isOpen(); }
    bool write(std::string_view bytes) override;

private:
    void onError(QSerialPort::SerialPortError error);

    QSerialPort port_;
};

} // namespace pp::qt
