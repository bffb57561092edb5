#include "qt/win_serial_port.h"

#include <QRegularExpression>

#include <algorithm>
#include <utility>

namespace pp::qt {

std::unique_ptr<SerialAdapter> makeSerialAdapter(QObject* parent) {
    return std::make_unique<WinSerialPort>(parent);
}

namespace {

// The order in which a read's errors are told: what garbled the bytes first, the lost input
// last, so the status ends on the worst of them.
constexpr std::pair<DWORD, pp::LineError> CommErrorFlags[] = {
    {CE_BREAK, pp::LineError::Break},       {CE_FRAME, pp::LineError::Frame},
    {CE_RXPARITY, pp::LineError::RxParity}, {CE_TXFULL, pp::LineError::TxFull},
    {CE_OVERRUN, pp::LineError::Overrun},   {CE_RXOVER, pp::LineError::RxOver},
};

int comNumber(const QString& portName) {
    return portName.mid(3).toInt();
}

} // namespace

std::vector<pp::LineError> lineErrorsOf(DWORD commErrors) {
    std::vector<pp::LineError> errors;
    for (const auto& [flag, error] : CommErrorFlags)
        if (commErrors & flag)
            errors.push_back(error);
    return errors;
}

std::wstring win32DeviceName(const QString& port) {
    static const QRegularExpression com(QStringLiteral(R"(^(\\\\\.\\)?(COM[0-9]+)$)"),
                                        QRegularExpression::CaseInsensitiveOption);
    const QString name = port.trimmed();
    if (const QRegularExpressionMatch m = com.match(name); m.hasMatch())
        return (QStringLiteral("\\\\.\\") + m.captured(2).toUpper()).toStdWString();
    return name.toStdWString();
}

QList<SerialPortEntry> systemSerialPorts() {
    // What the serial drivers registered: "\Device\Serial0" (the mainboard's), "\Device\VCP0"
    // or "\Device\ProlificSerial0" (USB adapters), each with its COM name.
    QList<SerialPortEntry> ports;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_QUERY_VALUE,
                      &key) != ERROR_SUCCESS)
        return ports;
    for (DWORD i = 0;; ++i) {
        wchar_t device[256];
        DWORD deviceLength = 256;
        wchar_t port[64] = {};
        DWORD portBytes = sizeof port - sizeof(wchar_t); // room for a terminating zero
        DWORD type = 0;
        const LONG r = RegEnumValueW(key, i, device, &deviceLength, nullptr, &type,
                                     reinterpret_cast<BYTE*>(port), &portBytes);
        if (r == ERROR_NO_MORE_ITEMS)
            break;
        if (r != ERROR_SUCCESS || type != REG_SZ)
            continue;
        const QString name = QString::fromWCharArray(port).trimmed();
        if (name.isEmpty())
            continue;
        ports.append({name,
                      QStringLiteral("\\\\.\\") + name,
                      QString::fromWCharArray(device, static_cast<int>(deviceLength)),
                      {}});
    }
    RegCloseKey(key);
    std::sort(ports.begin(), ports.end(), [](const SerialPortEntry& a, const SerialPortEntry& b) {
        return comNumber(a.portName) != comNumber(b.portName)
                   ? comNumber(a.portName) < comNumber(b.portName)
                   : a.portName < b.portName;
    });
    return ports;
}

WinSerialPort::WinSerialPort(QObject* parent) : SerialAdapter(parent) {
    // Manual reset, as overlapped I/O wants: each ReadFile or WriteFile clears its event.
    readEvent_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    writeEvent_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    readNotifier_.setHandle(readEvent_);
    writeNotifier_.setHandle(writeEvent_);
    connect(&readNotifier_, &QWinEventNotifier::activated, this, &WinSerialPort::readDone);
    connect(&writeNotifier_, &QWinEventNotifier::activated, this, &WinSerialPort::writeDone);
}

WinSerialPort::~WinSerialPort() {
    close();
    readNotifier_.setEnabled(false);
    writeNotifier_.setEnabled(false);
    CloseHandle(readEvent_);
    CloseHandle(writeEvent_);
}

QString WinSerialPort::reason(DWORD error) const {
    wchar_t* text = nullptr;
    const DWORD n = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    QString message = n ? QString::fromWCharArray(text, static_cast<int>(n)).trimmed()
                        : QStringLiteral("error %1").arg(error);
    if (text)
        LocalFree(text);
    return QStringLiteral("%1: %2").arg(devicePath(), message);
}

bool WinSerialPort::open() {
    lastError_.clear();
    if (isOpen()) {
        // Still open from an unfinished exchange: refused like any busy device.
        lastError_ = QStringLiteral("%1: device is already open").arg(devicePath()).toStdString();
        return false;
    }
    const std::wstring name = win32DeviceName(devicePath());
    handle_ = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                          FILE_FLAG_OVERLAPPED, nullptr);
    if (handle_ == INVALID_HANDLE_VALUE) {
        lastError_ = reason(GetLastError()).toStdString();
        return false;
    }
    if (!configure()) {
        // A device that takes no line settings is no port to talk to the instrument on. Said
        // as the line error it is, before the open fails, so the session's status names it.
        CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
        emit lineError(pp::LineError::DCB);
        return false;
    }
    // A closed port on Windows drops nothing the driver had taken: start each exchange clean so
    // a late answer to an earlier request is never taken for this one. Old line errors too.
    PurgeComm(handle_, PURGE_RXCLEAR | PURGE_RXABORT);
    DWORD stale = 0;
    ClearCommError(handle_, &stale, nullptr);

    ++opens_;
    lostSaid_ = false;
    queued_.clear();
    readNotifier_.setEnabled(true);
    writeNotifier_.setEnabled(true);
    DWORD error = 0;
    if (!startRead(error)) {
        lastError_ = reason(error).toStdString();
        close();
        return false;
    }
    return true;
}

// 9600,N,8,1 without flow control, DTR and RTS raised as a Linux port raises them on open; a
// read of one byte that returns when it is there, or empty after ReadWaitMs; writes that give
// up when the line stalls. (The "return when any byte is there" timeouts, MAXDWORD for the
// interval and the multiplier, leave an overlapped read waiting for ever under Wine.)
bool WinSerialPort::configure() {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(handle_, &dcb))
        return false;
    dcb.BaudRate = CBR_9600;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fParity = FALSE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fTXContinueOnXoff = TRUE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fAbortOnError = FALSE; // errors are read with ClearCommError, never by a stopped read
    if (!SetCommState(handle_, &dcb))
        return false;
    SetupComm(handle_, 4096, 4096);
    COMMTIMEOUTS timeouts{};
    timeouts.ReadTotalTimeoutConstant = ReadWaitMs;
    // Twice the time of the bytes at 9600 baud, and a second more.
    timeouts.WriteTotalTimeoutMultiplier = 2;
    timeouts.WriteTotalTimeoutConstant = 1000;
    return SetCommTimeouts(handle_, &timeouts) != 0;
}

// One byte: it completes the moment the first byte of an answer arrives; what follows it is
// taken in readDone. Even a read that completes at once signals its event: every completion is
// taken there, one turn of the event loop later, never inside the caller.
bool WinSerialPort::startRead(DWORD& error) {
    readOv_ = {};
    readOv_.hEvent = readEvent_;
    if (!ReadFile(handle_, readBuffer_, 1, nullptr, &readOv_) &&
        GetLastError() != ERROR_IO_PENDING) {
        error = GetLastError();
        return false;
    }
    reading_ = true;
    return true;
}

void WinSerialPort::readDone() {
    if (!reading_ || !isOpen())
        return;
    DWORD n = 0;
    if (!GetOverlappedResult(handle_, &readOv_, &n, FALSE)) {
        const DWORD error = GetLastError();
        if (error == ERROR_IO_INCOMPLETE)
            return; // an earlier completion's signal; this read is still waiting
        reading_ = false;
        // Windows reports a read that timed out as a short one, Wine as this error.
        if (error != ERROR_TIMEOUT) {
            deviceLost(error);
            return;
        }
        n = 0;
    }
    reading_ = false;
    COMSTAT status{};
    DWORD errors = 0;
    if (!ClearCommError(handle_, &errors, &status)) {
        deviceLost(GetLastError());
        return;
    }
    // The rest of what has arrived is in the driver already: taken at once, in one piece.
    if (n > 0 && status.cbInQue > 0) {
        DWORD more = 0;
        readOv_ = {};
        readOv_.hEvent = readEvent_;
        const DWORD room = std::min<DWORD>(status.cbInQue, sizeof readBuffer_ - n);
        if ((!ReadFile(handle_, readBuffer_ + n, room, nullptr, &readOv_) &&
             GetLastError() != ERROR_IO_PENDING) ||
            (!GetOverlappedResult(handle_, &readOv_, &more, TRUE) &&
             GetLastError() != ERROR_TIMEOUT)) {
            deviceLost(GetLastError());
            return;
        }
        n += more;
    }
    ResetEvent(readEvent_);
    // The line's errors first: they belong to the bytes that came with them.
    const quint64 open = opens_;
    if (!reportLineErrors(errors))
        return;
    if (n > 0) {
        emit received(QByteArray(readBuffer_, static_cast<int>(n)));
        // The session may have ended the exchange, and another may have opened the port again
        // with a read of its own.
        if (open != opens_ || !isOpen())
            return;
    }
    DWORD error = 0;
    if (!startRead(error))
        deviceLost(error);
}

bool WinSerialPort::reportLineErrors(DWORD errors) {
    const quint64 open = opens_;
    for (const pp::LineError error : lineErrorsOf(errors)) {
        emit lineError(error);
        if (open != opens_ || !isOpen())
            return false;
    }
    return true;
}

void WinSerialPort::deviceLost(DWORD error) {
    ResetEvent(readEvent_);
    // Said once; the port stays open until the session closes it.
    if (lostSaid_)
        return;
    lostSaid_ = true;
    emit lost(reason(error));
}

bool WinSerialPort::write(std::string_view bytes) {
    if (!isOpen())
        return false;
    if (writing_) {
        queued_.append(bytes);
        return true;
    }
    return startWrite(std::string(bytes));
}

// Handed to the driver at once, as QSerialPort's flush does on Linux: the instrument's answer
// cannot start before the frame has left. The write completes later, in writeDone.
bool WinSerialPort::startWrite(std::string bytes) {
    inFlight_ = std::move(bytes);
    writeOv_ = {};
    writeOv_.hEvent = writeEvent_;
    if (!WriteFile(handle_, inFlight_.data(), static_cast<DWORD>(inFlight_.size()), nullptr,
                   &writeOv_) &&
        GetLastError() != ERROR_IO_PENDING) {
        lastError_ = reason(GetLastError()).toStdString();
        inFlight_.clear();
        return false;
    }
    writing_ = true;
    return true;
}

void WinSerialPort::writeDone() {
    if (!writing_ || !isOpen()) {
        ResetEvent(writeEvent_);
        return;
    }
    DWORD n = 0;
    const bool done = GetOverlappedResult(handle_, &writeOv_, &n, FALSE);
    if (!done && GetLastError() == ERROR_IO_INCOMPLETE)
        return;
    writing_ = false;
    ResetEvent(writeEvent_);
    const bool whole = done && n == inFlight_.size();
    if (!whole)
        lastError_ = (done ? QStringLiteral("%1: write timed out").arg(devicePath())
                           : reason(GetLastError()))
                         .toStdString();
    inFlight_.clear();
    if (!whole) {
        queued_.clear();
        emit writeFailed();
        return;
    }
    if (!queued_.empty() && !startWrite(std::exchange(queued_, {})))
        emit writeFailed();
}

void WinSerialPort::close() {
    if (!isOpen())
        return;
    ++opens_;
    // What is pending is cancelled and waited for: the kernel writes into readBuffer_ and reads
    // inFlight_ until then.
    CancelIoEx(handle_, nullptr);
    DWORD n = 0;
    if (reading_)
        GetOverlappedResult(handle_, &readOv_, &n, TRUE);
    if (writing_)
        GetOverlappedResult(handle_, &writeOv_, &n, TRUE);
    reading_ = writing_ = false;
    readNotifier_.setEnabled(false);
    writeNotifier_.setEnabled(false);
    ResetEvent(readEvent_);
    ResetEvent(writeEvent_);
    CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
    inFlight_.clear();
    queued_.clear();
}

} // namespace pp::qt
