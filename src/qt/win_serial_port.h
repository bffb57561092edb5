// The serial adapter over the Win32 communications API (Windows).
//
// Reads and writes are overlapped and their completions come to the UI thread through
// QWinEventNotifier: the session, the port and what they share stay on one thread, as on Linux,
// and close() can cancel and wait for what is pending before the buffers go away. (A reader
// thread would need a lock around the handle and a queued hop for every piece of an answer.)
#pragma once

#include "qt/serial_adapter.h"

#include <QWinEventNotifier>

#include <windows.h>

#include <string>
#include <vector>

namespace pp::qt {

// ClearCommError's flags (CE_...) as the session's line errors, in the order it is told them.
// Flags that are no error of the line (CE_MODE, the old printer ones) give none.
std::vector<pp::LineError> lineErrorsOf(DWORD commErrors);

// What CreateFile opens for a port given as "COM12", "com3" or "\\.\COM12": a COM port always
// through the device namespace (a plain "COM10" and above would be a file); anything else, such
// as another device's full name, as it is.
std::wstring win32DeviceName(const QString& port);

class WinSerialPort : public SerialAdapter {
    Q_OBJECT
public:
    explicit WinSerialPort(QObject* parent = nullptr);
    ~WinSerialPort() override;
    WinSerialPort(const WinSerialPort&) = delete;
    WinSerialPort& operator=(const WinSerialPort&) = delete;

    bool open() override;
    void close() override;
    bool isOpen() const override { return handle_ != INVALID_HANDLE_VALUE; }
    bool write(std::string_view bytes) override;

    // How long a read waits for a byte before it completes empty and the line's error flags
    // are looked at again.
    static constexpr DWORD ReadWaitMs = 100;

private:
    bool configure();
    bool startRead(DWORD& error);
    bool startWrite(std::string bytes);
    void readDone();
    void writeDone();
    bool reportLineErrors(DWORD errors); // false when the session closed the port meanwhile
    void deviceLost(DWORD error);
    QString reason(DWORD error) const;

    HANDLE handle_ = INVALID_HANDLE_VALUE;
    quint64 opens_ = 0; // a notification meant for an earlier open is dropped
    bool lostSaid_ = false;

    OVERLAPPED readOv_{};
    HANDLE readEvent_ = nullptr;
    QWinEventNotifier readNotifier_;
    bool reading_ = false;
    char readBuffer_[1024];

    OVERLAPPED writeOv_{};
    HANDLE writeEvent_ = nullptr;
    QWinEventNotifier writeNotifier_;
    bool writing_ = false;
    std::string inFlight_; // the pending WriteFile's bytes
    std::string queued_;   // written while one was pending: it goes out next
};

} // namespace pp::qt
