// The session fed any sequence of requests, received bytes, line errors, time-outs, lost
// ports and failing writes, through the recording fakes. The input is a byte stream of
// commands; bytes that are no command are skipped:
//   u p d q      system upload, part upload, system download, part download (each only
//                while the window would have its button enabled)
//   m l c<x>     mode, part list, mode change to x
//   r<n><bytes>  n bytes received in one read
//   e<x>         a line error (x picks which, one of them unknown)
//   t            the no-response timer expires (if it runs)
//   x w          the port is lost / a queued write failed
//   o f          opening / writing starts or stops failing
//   s<n><text> k<n><text>  part selection / customer code
//
// Checks after every command: a port is never open without the timer running (an exchange
// always ends, by an answer or by the time-out); an exchange still open is busy; sliders stay
// within range; the receive buffer stays bounded; a record refused by its decoder changes
// nothing. At the end the timer runs out and the session must be idle.
#include "fakes.h"
#include "fuzz_support.h"
#include "link/session.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

using namespace pp;
using namespace pp::fuzz;
using pp::test::FakeSerialPort;
using pp::test::FakeTimer;
using pp::test::FakeWindow;

namespace {

struct Listener : ModeListener {
    void ProcessModeData(const std::string&) override {}
    void ProcessPartsList(const std::string&) override {}
};

constexpr LineError Errors[] = {LineError::Break,  LineError::Frame,         LineError::Overrun,
                                LineError::RxOver, LineError::RxParity,      LineError::TxFull,
                                LineError::DCB,    static_cast<LineError>(2)};

bool decoderRefusal(const std::string& status) {
    return status == "Check sum error" || status.starts_with("ERROR - ");
}

void checkSession(const Session& session, const FakeSerialPort& port, const FakeTimer& timer,
                  const Sheet& sheet) {
    if (port.isOpen() && !timer.isRunning())
        fail("port open with no timer running: the exchange can never end");
    if (session.exchangeOpen() && !session.busy())
        fail("an exchange is open but nothing is waiting for it");
    PP_CHECK(session.rxBuffer().size() <= RxBufferLimit);
    checkSliders(sheet);
    checkGeneration(sheet);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Sheet sheet;
    FakeSerialPort port;
    FakeTimer timer;
    FakeWindow window;
    Listener listener;
    Session session(sheet, port, timer, window);
    session.setModeListener(&listener);
    std::vector<Outcome> outcomes;
    session.onExchangeEnded = [&](Outcome o) { outcomes.push_back(o); };
    // Download fields never run past the last index of the generation.
    session.onFieldSent = [](int index, int last) {
        PP_CHECK(last == 24 || last == 25 || last == 27 || last == 29);
        PP_CHECK(index >= 0 && index <= last, "a field past the last index");
    };

    // PP_FUZZ_TRACE=1 prints each command's effect, for reading a crash input.
    static const bool trace = std::getenv("PP_FUZZ_TRACE") != nullptr;
    Input in(std::string_view(reinterpret_cast<const char*>(data), size));
    while (!in.empty()) {
        const Sheet before = sheet;
        const size_t outcomesBefore = outcomes.size();
        const size_t writesBefore = port.writes.size();
        in.mark();
        switch (in.byte()) {
        // The window calls a starter only while its button is enabled.
        case 'u':
            if (sheet.commands.sdUpload)
                session.cmdSDUpload_Click();
            break;
        case 'p':
            if (sheet.commands.partUpload)
                session.cmdPartUpload_Click();
            break;
        case 'd':
            if (sheet.commands.sdDownload)
                session.cmdSDDnLoad_Click();
            break;
        case 'q':
            if (sheet.commands.partDownload)
                session.cmdPartDnload_Click();
            break;
        case 'm':
            session.requestMode();
            break;
        case 'l':
            session.requestPartList();
            break;
        case 'c':
            session.requestModeChange(static_cast<char>(in.byte()));
            break;
        case 'r': {
            // The adapter reads only from an open port; a closed one delivers nothing.
            const std::string_view bytes = in.counted();
            if (port.isOpen())
                session.received(bytes);
            break;
        }
        case 'e':
            session.lineError(Errors[in.byte() % std::size(Errors)]);
            break;
        case 't':
            timer.expire(session);
            break;
        case 'x':
            session.portLost("gone");
            break;
        case 'w':
            session.writeFailed();
            break;
        case 'o':
            port.failOpen = !port.failOpen;
            break;
        case 'f':
            port.failWrites = !port.failWrites;
            break;
        case 's':
            sheet.setPartSelection(std::string(in.counted()));
            break;
        case 'k':
            sheet.setText(Part::CustCode, std::string(in.counted()));
            break;
        default:
            continue;
        }
        if (trace) {
            std::fprintf(stderr, "%c port %d timer %d open %d index %d cmd '%s' status '%s'",
                         in.last(), port.isOpen(), timer.isRunning(), session.exchangeOpen(),
                         session.downloadIndex(), session.downloadCmd().c_str(),
                         window.status().c_str());
            for (size_t w = writesBefore; w < port.writes.size(); ++w)
                std::fprintf(stderr, " [%s]", port.writes[w].c_str() + 1);
            std::fprintf(stderr, "\n");
        }
        checkSession(session, port, timer, sheet);

        // A record the decoder refused: the sheet is as the read found it, commands aside
        // (an acknowledgement earlier in the same read may have ended a download).
        const bool recordDispatched =
            outcomes.size() > outcomesBefore &&
            (outcomes.back() == Outcome::SystemRecord || outcomes.back() == Outcome::PartRecord);
        if (recordDispatched && decoderRefusal(window.status())) {
            Sheet expected = before;
            expected.commands = sheet.commands;
            if (!(sheet == expected))
                fail("a refused record changed the sheet:", window.status());
        }
    }

    // Whatever was left waiting runs out.
    for (int i = 0; i < 3 && timer.isRunning(); ++i)
        timer.expire(session);
    if (port.isOpen() || timer.isRunning() || session.exchangeOpen() || session.busy())
        fail("the session is not idle after its time-out");
    return 0;
}
