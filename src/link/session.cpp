#include "session.h"

#include "frames.h"
#include "records.h"
#include "status_texts.h"

namespace pp {

using namespace text;

namespace {

// The instrument holds part numbers 1 to 32; any other selector text (a file can carry one)
// would go out as a malformed frame.
bool isPartNumber(const std::string& text) {
    if (text.empty() || text.size() > 2)
        return false;
    for (char c : text)
        if (c < '0' || c > '9')
            return false;
    const int n = std::stoi(text);
    return n >= 1 && n <= 32;
}

} // namespace

Session::Session(Sheet& sheet, SerialPort& port, OneShotTimer& timer, Window& window)
    : sheet_(&sheet), port_(port), timer_(timer), window_(&window) {}

// ---- request starters

void Session::cmdSDUpload_Click() {
    if (refuseWhileRunning())
        return;
    rxBuffer_.clear();
    window_->setStatus("");
    sheet_->ClearSystemSheet();
    sheet_->ClearPartSheet();
    if (!openPort() || !port_.write(systemUploadFrame())) {
        openFailure(CantOpenPort, true);
        return;
    }
    timer_.start(NoResponseMs);
    beginExchange(ExchangeKind::SystemUpload);
}

void Session::cmdPartUpload_Click() {
    if (refuseWhileRunning())
        return;
    rxBuffer_.clear();
    window_->setStatus("");
    sheet_->ClearPartSheet();
    const std::string partNumber = ZeroPad(sheet_->partSelection(), 2);
    if (const auto refusal = localRefusal(ExchangeKind::PartUpload)) {
        window_->message(*refusal);
        notify(Outcome::LocalRefusal);
        return;
    }
    if (!openPort() || !port_.write(partUploadFrame(partNumber))) {
        openFailure(CantOpenPort, true);
        return;
    }
    timer_.start(NoResponseMs);
    beginExchange(ExchangeKind::PartUpload, partNumber);
}

// Downloads start the timer before opening, so an open failure is followed by the
// time-out one second later, which enables the upload buttons again. Like every other
// exchange they open the port the user chose.
void Session::cmdSDDnLoad_Click() {
    if (refuseWhileRunning())
        return;
    window_->setStatus("");
    sheet_->ClearPartSheet();
    sending_ = *sheet_;
    if (ownValues_)
        sending_.takeOwnSystemValues(*ownValues_);
    downloadIndex_ = fieldTried_ = 0;
    downloadCmd_ = "4";
    timer_.start(NoResponseMs);
    if (!openPort()) {
        openFailure(CantOpenPort, true);
        return;
    }
    sheet_->commands.sdUpload = false;
    downloading_ = true;
    if (!sendField()) {
        openFailure(CantOpenPort, true);
        return;
    }
    beginExchange(ExchangeKind::SystemDownload);
}

void Session::cmdPartDnload_Click() {
    if (refuseWhileRunning())
        return;
    window_->setStatus("");
    downloadIndex_ = fieldTried_ = 0;
    if (const auto refusal = localRefusal(ExchangeKind::PartDownload)) {
        window_->message(*refusal);
        notify(Outcome::LocalRefusal);
        return;
    }
    sheet_->commands.partUpload = false;
    sending_ = *sheet_;
    if (ownValues_)
        sending_.takeOwnPartValues(*ownValues_);
    downloadCmd_ = "5";
    timer_.start(NoResponseMs);
    if (!openPort()) {
        openFailure(CantOpenPort, true);
        return;
    }
    downloading_ = true;
    if (!sendField()) {
        openFailure(CantOpenPort, true);
        return;
    }
    beginExchange(ExchangeKind::PartDownload, sending_.partSelection());
}

std::optional<std::string_view> Session::localRefusal(ExchangeKind kind) const {
    switch (kind) {
    case ExchangeKind::PartUpload:
        if (!isPartNumber(ZeroPad(sheet_->partSelection(), 2)))
            return SelectPartNumber;
        break;
    case ExchangeKind::PartDownload:
        if (!isPartNumber(sheet_->partSelection()))
            return SelectPartNumber;
        if (sheet_->text(Part::CustCode).empty())
            return EnterCustomerCode;
        break;
    default:
        break;
    }
    return std::nullopt;
}

bool Session::requestPartList() {
    return startModeRequest(partListFrame(), ExchangeKind::PartList);
}
bool Session::requestMode() {
    return startModeRequest(readModeFrame(), ExchangeKind::Mode);
}
bool Session::requestModeChange(char mode) {
    return startModeRequest(setModeFrame(mode), ExchangeKind::ModeChange);
}

// The mode window's requests keep RxBuffer and the buttons as they are, and leave a port
// that was already open (by an exchange in progress) open.
bool Session::startModeRequest(const std::string& frame, ExchangeKind kind) {
    if (refuseWhileRunning())
        return false;
    window_->setStatus("");
    if (!openPort()) {
        openFailure(CantOpenPortMode, false);
        return false;
    }
    if (!port_.write(frame)) {
        // This request opened the port: leave it closed as it was.
        openFailure(CantOpenPortMode, true);
        return false;
    }
    timer_.start(NoResponseMs);
    beginExchange(kind);
    return true;
}

// A second request would close the running exchange's port, and a download would stop
// half-way with the instrument holding a mix of old and new values: refuse it before it
// changes anything, and leave the running exchange alone.
bool Session::refuseWhileRunning() {
    if (!transferRunning())
        return false;
    window_->message(WaitForTransfer);
    return true;
}

bool Session::openPort() {
    port_.setPortNumber(commPortNumber_);
    return port_.open();
}

void Session::openFailure(std::string_view message, bool closePort) {
    downloading_ = false;
    const std::string reason = port_.lastError();
    if (!reason.empty())
        window_->setStatus(reason);
    window_->message(message);
    if (closePort && port_.isOpen())
        port_.close();
    notify(Outcome::OpenFailed);
}

// ---- download fields

void Session::SendDownloadField() {
    if (!sendField()) {
        // A later field: nobody else will notice, so end the download here.
        window_->setStatus(WriteFailed);
        enableDownloadUpload();
        finish(Outcome::WriteFailed);
    }
}

bool Session::sendField() {
    std::string value;
    std::string partNumber;
    int last = 0;
    if (downloadCmd_ == "4") {
        value = SystemParamWireText(sending_, downloadIndex_);
        last = sending_.lastSysIndex();
        if (downloadIndex_ > last) {
            downloading_ = false;
            sheet_->commands.sdUpload = true;
            // Waiting for the closing frame: silence from here on is a time-out too.
            if (port_.isOpen())
                timer_.start(NoResponseMs);
            return true;
        }
    } else if (downloadCmd_ == "5") {
        value = PartParamWireText(sending_, downloadIndex_);
        last = sending_.lastPartIndex();
        if (downloadIndex_ > last) {
            downloading_ = false;
            sheet_->commands.partUpload = true;
            if (port_.isOpen())
                timer_.start(NoResponseMs);
            return true;
        }
        partNumber = sending_.partSelection();
    } else {
        return true;
    }
    fieldTried_ = downloadIndex_;
    if (!port_.write(downloadFieldFrame(downloadCmd_[0], value, partNumber, downloadIndex_)))
        return false;
    timer_.start(NoResponseMs);
    const int sent = downloadIndex_++;
    if (onFieldSent)
        onFieldSent(sent, last);
    return true;
}

// ---- events

void Session::received(std::string_view bytes) {
    rxBuffer_.append(bytes);
    timer_.stop();
    analyse();
    if (rxBuffer_.size() > RxBufferLimit) {
        // No frame in sight: noise or a runaway sender. The exchange cannot end well any more.
        rxBuffer_.clear();
        window_->setStatus(RxOverflow);
        sheet_->commands.sdUpload = true;
        sheet_->commands.partUpload = true;
        finish(Outcome::Overflow);
        return;
    }
    // An answer that stops halfway must still end in a time-out.
    if (port_.isOpen())
        timer_.start(NoResponseMs);
}

void Session::lineError(LineError error) {
    switch (error) {
    case LineError::Break:
        window_->setStatus("Error - break received");
        break;
    case LineError::Frame:
        window_->setStatus("Error - framing error");
        break;
    case LineError::Overrun:
        window_->setStatus("Error - data lost");
        break;
    case LineError::RxOver:
        window_->setStatus(RxOverflow);
        rxBuffer_.clear();
        return;
    case LineError::RxParity:
        window_->setStatus("Error - Parity error");
        break;
    case LineError::TxFull:
        window_->setStatus("Error - TX buffer full");
        break;
    case LineError::DCB:
        window_->setStatus("Error - retrieving DCB");
        break;
    default:
        return;
    }
    analyse();
}

void Session::portLost(std::string_view) {
    if (!port_.isOpen())
        return; // already reported: the adapter repeats itself
    window_->setStatus(ConnectionLost);
    sheet_->commands.sdUpload = true;
    sheet_->commands.partUpload = true;
    finish(Outcome::PortLost);
}

void Session::writeFailed() {
    if (!port_.isOpen())
        return;
    window_->setStatus(WriteFailed);
    sheet_->commands.sdUpload = true;
    sheet_->commands.partUpload = true;
    finish(Outcome::WriteFailed);
}

void Session::Timer1_Timer() {
    window_->setStatus(NoResponse);
    timer_.stop();
    if (port_.isOpen())
        port_.close();
    sheet_->commands.sdUpload = true;
    sheet_->commands.partUpload = true;
    endExchange(Outcome::NoResponse);
}

int exchangeBoundMs(ExchangeKind kind, int lastField) {
    const bool download =
        kind == ExchangeKind::SystemDownload || kind == ExchangeKind::PartDownload;
    return ExchangeMarginMs + (download ? DownloadFieldBoundMs * (lastField + 1) : 0);
}

void Session::boundExpired() {
    if (!exchangeOpen_)
        return;
    window_->setStatus(TookTooLong);
    sheet_->commands.sdUpload = true;
    sheet_->commands.partUpload = true;
    finish(Outcome::TooLong);
}

// ---- response machine

void Session::analyse() {
    for (;;) {
        // An acknowledgement wins over anything else in the buffer; what follows it is
        // kept, so a closing frame in the same read as the last ACK is still seen. Only a
        // running download sends on: a stray ACK in an upload's noise must never write a
        // field left over from an earlier, broken-off download.
        const size_t ack = rxBuffer_.find(ACK);
        if (ack != std::string::npos) {
            rxBuffer_.erase(0, ack + 1);
            if (downloading_) {
                SendDownloadField();
                if (!port_.isOpen())
                    return;
            }
            continue;
        }
        if (rxBuffer_.find(NAK) != std::string::npos) {
            // Whatever came with the NAK belongs to the refused download, not to the next
            // request.
            rxBuffer_.clear();
            window_->setStatus(NakReceived);
            enableDownloadUpload();
            finish(Outcome::Nak);
            return;
        }
        const size_t s = rxBuffer_.find(STX);
        const size_t e = rxBuffer_.find(ETX);
        if (s == std::string::npos || e == std::string::npos)
            return; // keep collecting
        if (s > e) {
            // The first ETX belongs to no frame: drop everything.
            rxBuffer_.clear();
            finish(Outcome::Misframed);
            return;
        }
        // A handler may show a modal box, and events can run inside it: work on a copy.
        const std::string response = rxBuffer_.substr(s + 1, e - s - 1);
        rxBuffer_ = response;
        const Outcome outcome = dispatch(response);
        rxBuffer_.clear();
        finish(outcome);
        return;
    }
}

Outcome Session::dispatch(const std::string& response) {
    const char first = response.empty() ? '\0' : response[0];
    switch (first) {
    case '2': {
        window_->setStatus(Success);
        const auto failure = DecodeSystemRecord(*sheet_, response);
        if (failure)
            window_->setStatus(*failure);
        recordTaken_ = !failure;
        return Outcome::SystemRecord;
    }
    case '3': {
        window_->setStatus(Success);
        const auto failure = DecodePartRecord(*sheet_, response);
        if (failure)
            window_->setStatus(*failure);
        recordTaken_ = !failure;
        return Outcome::PartRecord;
    }
    case '4':
    case '5':
        // A closing frame while fields are still to go: the instrument stopped taking them.
        if (downloading_) {
            window_->setStatus(DownloadEndedEarly);
            return Outcome::EndedEarly;
        }
        window_->setStatus(first == '4' ? SystemDownloadDone : PartDownloadDone);
        return first == '4' ? Outcome::SystemDownloadEnd : Outcome::PartDownloadEnd;
    case '8':
        if (modeListener_)
            modeListener_->ProcessModeData(response);
        return Outcome::ModeReport;
    case 'A':
        if (modeListener_)
            modeListener_->ProcessPartsList(response);
        return Outcome::PartList;
    default:
        window_->setStatus(CheckMode);
        sheet_->commands.sdUpload = true;
        sheet_->commands.partUpload = true;
        return Outcome::Refused;
    }
}

// The upload button that the running download's starter disabled.
void Session::enableDownloadUpload() {
    if (downloadCmd_ == "4")
        sheet_->commands.sdUpload = true;
    else if (downloadCmd_ == "5")
        sheet_->commands.partUpload = true;
}

// ---- exchanges

void Session::beginExchange(ExchangeKind kind, std::string partNumber) {
    // An exchange whose port a failed starter closed is over: nothing can answer it.
    if (exchangeOpen_)
        endExchange(Outcome::NoResponse);
    exchange_ = {kind, std::move(partNumber), instrument_, reason_};
    exchangeOpen_ = true;
    recordTaken_ = false;
    if (boundTimer_)
        boundTimer_->start(exchangeBoundMs(kind, kind == ExchangeKind::SystemDownload
                                                     ? sending_.lastSysIndex()
                                                     : sending_.lastPartIndex()));
}

bool Session::succeeded(Outcome outcome) const {
    switch (exchange_.kind) {
    case ExchangeKind::SystemUpload:
        return outcome == Outcome::SystemRecord && recordTaken_;
    case ExchangeKind::PartUpload:
        return outcome == Outcome::PartRecord && recordTaken_;
    case ExchangeKind::SystemDownload:
        return outcome == Outcome::SystemDownloadEnd;
    case ExchangeKind::PartDownload:
        return outcome == Outcome::PartDownloadEnd;
    case ExchangeKind::PartList:
        return outcome == Outcome::PartList;
    case ExchangeKind::Mode:
    case ExchangeKind::ModeChange:
        return outcome == Outcome::ModeReport;
    case ExchangeKind::None:
        break;
    }
    return false;
}

void Session::finish(Outcome outcome) {
    timer_.stop();
    if (port_.isOpen())
        port_.close();
    endExchange(outcome);
}

void Session::endExchange(Outcome outcome) {
    downloading_ = false;
    if (!exchangeOpen_)
        return;
    exchangeOpen_ = false;
    if (boundTimer_)
        boundTimer_->stop();
    // However a download ended, the upload button its starter disabled comes back.
    if (exchange_.kind == ExchangeKind::SystemDownload ||
        exchange_.kind == ExchangeKind::PartDownload)
        enableDownloadUpload();
    notify(outcome);
}

void Session::notify(Outcome outcome) {
    if (onExchangeEnded)
        onExchangeEnded(outcome);
}

} // namespace pp
