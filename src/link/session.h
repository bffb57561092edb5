// The serial session: request starters, the response machine and the no-response timer.
// A plain state machine fed events (bytes received, a line error, the port lost, the timer
// expired); it acts through SerialPort, OneShotTimer and Window.
#pragma once

#include "platform.h"
#include "sheet/sheet.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace pp {

// Receives the answers of the mode and part-number window.
class ModeListener {
public:
    virtual ~ModeListener() = default;
    virtual void ProcessModeData(const std::string& buffer) = 0;
    virtual void ProcessPartsList(const std::string& buf) = 0;
};

// Line errors the serial component reports, with their historical event codes.
enum class LineError : int {
    Break = 1001,
    Frame = 1004,
    Overrun = 1006,
    RxOver = 1008,
    RxParity = 1009,
    TxFull = 1010,
    DCB = 1011,
};

// How an exchange ended, for callers that wait for one (command line, tests, backups).
enum class Outcome {
    SystemRecord,      // "2" frame dispatched (decoder may still have refused it)
    PartRecord,        // "3" frame dispatched
    SystemDownloadEnd, // "4"
    PartDownloadEnd,   // "5"
    ModeReport,        // "8"
    PartList,          // "A"
    Refused,           // "Check QX7400 operating mode!"
    Nak,
    NoResponse,
    OpenFailed,
    Misframed,  // an ETX before the first STX: input discarded
    EndedEarly, // a download's closing frame before its last field was sent
    TooLong,    // the whole exchange outlasted its bound (a line that trickles)
    Overflow,   // more than RxBufferLimit bytes without a frame
    PortLost,
    WriteFailed,
    LocalRefusal // "Please select a part number" and the like: nothing was sent
};

// Which exchange a starter began, for observers of its end (the history). Starters that end
// before sending anything (OpenFailed, LocalRefusal) leave the last one in place.
enum class ExchangeKind {
    None,
    SystemUpload,
    PartUpload,
    SystemDownload,
    PartDownload,
    PartList,
    Mode,
    ModeChange
};

// The instrument on the line, as its own system record named it.
struct InstrumentIdentity {
    std::string serial;
    Generation generation = Generation::None;
    bool operator==(const InstrumentIdentity&) const = default;
};

struct ExchangeInfo {
    ExchangeKind kind = ExchangeKind::None;
    std::string partNumber; // part transfers: the selector's two digits
    // Who the exchange talked to, when its starter was told (see Session::setInstrument).
    std::optional<InstrumentIdentity> instrument;
    // Why the technician made it (a download), when asked (see Session::setReason).
    std::string reason;
};

inline constexpr int NoResponseMs = 1000;
// An exchange's whole length is bounded too, whatever the line sends meanwhile: every byte
// restarts the no-response timer, so a line that trickles would otherwise keep one exchange
// alive for ever. A few times the wire time and a margin: a request and its answer are well
// under a second at 9600 baud, a download field with its acknowledgement some 20 ms.
inline constexpr int ExchangeMarginMs = 4000;
inline constexpr int DownloadFieldBoundMs = 200;
int exchangeBoundMs(ExchangeKind kind, int lastField);
inline constexpr size_t RxBufferLimit = 4096;

class Session {
public:
    Session(Sheet& sheet, SerialPort& port, OneShotTimer& timer, Window& window);

    void setSheet(Sheet& sheet) { sheet_ = &sheet; } // decoders write into this sheet
    // Status panel 1 and message boxes go here (work that must not show, e.g. a read of the
    // instrument's identity, points them elsewhere for its length).
    void setWindow(Window& window) { window_ = &window; }
    Window& window() const { return *window_; }
    // The instrument the next exchange talks to, learned by reading its system record just
    // before; the exchange a starter begins takes it into its info. Starters never use it.
    void setInstrument(std::optional<InstrumentIdentity> instrument) {
        instrument_ = std::move(instrument);
    }
    // Another instrument's own values (serial number, clock, calibration: the catalogue's
    // instrumentOwn rows), read from it just before: the next download sends them in place of
    // the sheet's, so that a copy of settings never renumbers or recalibrates the instrument.
    // None sends the sheet as it is.
    void setOwnValues(std::optional<Sheet> instrument) { ownValues_ = std::move(instrument); }
    // Why the next exchange is made, for its observers (the history); starters never use it.
    void setReason(std::string reason) { reason_ = std::move(reason); }
    void setModeListener(ModeListener* listener) { modeListener_ = listener; }
    ModeListener* modeListener() const { return modeListener_; }
    void setCommPortNumber(int n) { commPortNumber_ = n; }
    int commPortNumber() const { return commPortNumber_; }

    // Request starters of the four transfer buttons.
    void cmdSDUpload_Click();
    void cmdPartUpload_Click();
    void cmdSDDnLoad_Click();
    void cmdPartDnload_Click();
    // What the starter of `kind` would refuse with before sending anything ("Please select a
    // part number", "Please enter a customer code"); none when it would start. For callers
    // that do work of their own before starting.
    std::optional<std::string_view> localRefusal(ExchangeKind kind) const;
    // Requests of the mode and part-number window; false when the port would not open
    // ("Can't open comm port!" has then been shown).
    bool requestPartList();
    bool requestMode();
    bool requestModeChange(char mode);

    // Events.
    void received(std::string_view bytes); // comEvReceive with what was read
    void lineError(LineError error);
    void portLost(std::string_view reason); // the device went away (USB adapter pulled)
    void writeFailed();                     // a queued write failed after write() returned
    void Timer1_Timer();
    // The bound on the whole exchange ran out (see setBoundTimer).
    void boundExpired();
    // The timer of exchangeBoundMs(), started as each exchange begins; none: no bound.
    void setBoundTimer(OneShotTimer* timer) { boundTimer_ = timer; }

    // Sends the next download field, or ends the download.
    void SendDownloadField();

    // State, visible for the window and for tests.
    const std::string& rxBuffer() const { return rxBuffer_; }
    const std::string& downloadCmd() const { return downloadCmd_; }
    int downloadIndex() const { return downloadIndex_; }
    // The field a download sent last or tried to send: where a failed one stopped.
    int downloadFieldTried() const { return fieldTried_; }
    // Something is awaited from the instrument. The timer alone does not count: after a
    // download's failed open it still runs out its second, but nothing is under way.
    bool busy() const { return port_.isOpen() || (exchangeOpen_ && timer_.isRunning()); }
    bool exchangeOpen() const { return exchangeOpen_; }
    // An exchange is under way: every request starter refuses to begin another one.
    bool transferRunning() const { return exchangeOpen_ || busy(); }
    // The exchange in progress, or the one that ended last; the sheet uploads write into, and
    // what the last download sent.
    const ExchangeInfo& exchange() const { return exchange_; }
    const Sheet& sheet() const { return *sheet_; }
    const Sheet& sent() const { return sending_; }
    // The one verdict on the exchange that has just ended with `outcome`: it did what its
    // starter asked (the record asked for arrived and its decoder took it, a download's
    // closing frame came, the mode or part list was reported). Status texts are for people.
    bool succeeded(Outcome outcome) const;

    // Called once when an exchange ends (optional).
    std::function<void(Outcome)> onExchangeEnded;
    // Called after each download field written: (index, last index).
    std::function<void(int, int)> onFieldSent;

private:
    bool refuseWhileRunning();
    bool openPort();
    void openFailure(std::string_view message, bool closePort);
    bool startModeRequest(const std::string& frame, ExchangeKind kind);
    bool sendField(); // false when the write failed
    void analyse();
    Outcome dispatch(const std::string& response);
    void enableDownloadUpload();
    void beginExchange(ExchangeKind kind, std::string partNumber = {});
    void finish(Outcome outcome); // closes the port, stops the timer, ends the exchange
    void endExchange(Outcome outcome);
    void notify(Outcome outcome);

    Sheet* sheet_;
    SerialPort& port_;
    OneShotTimer& timer_;
    OneShotTimer* boundTimer_ = nullptr;
    Window* window_;
    ModeListener* modeListener_ = nullptr;
    int commPortNumber_ = 1;
    std::optional<InstrumentIdentity> instrument_;
    std::optional<Sheet> ownValues_;
    std::string reason_;

    std::string rxBuffer_;
    std::string downloadCmd_;
    int downloadIndex_ = 0;
    int fieldTried_ = 0;
    ExchangeInfo exchange_;
    bool exchangeOpen_ = false; // a started exchange has not ended yet
    bool downloading_ = false;  // a download is sending fields and awaits their ACKs
    bool recordTaken_ = false;  // the exchange's record decoded without a failure
    // What a download sends: the sheet as it stood when the download began, so an edit or a
    // file opened meanwhile never gives the instrument a mix of two sheets.
    Sheet sending_;
};

} // namespace pp
