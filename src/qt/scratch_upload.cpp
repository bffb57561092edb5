#include "qt/scratch_upload.h"

#include "qt/exchange.h"
#include "qt/session_driver.h"

#include "link/frames.h"
#include "link/status_texts.h"

namespace pp::qt {

namespace {

using namespace pp::text;

// Points the session at another sheet (or listener) until the scope ends.
class SheetSwap {
public:
    SheetSwap(pp::Session& session, pp::Sheet& scratch, pp::Sheet& home)
        : session_(session), home_(home) {
        session_.setSheet(scratch);
    }
    ~SheetSwap() { session_.setSheet(home_); }
    SheetSwap(const SheetSwap&) = delete;
    SheetSwap& operator=(const SheetSwap&) = delete;

private:
    pp::Session& session_;
    pp::Sheet& home_;
};

// Points the session's status and message boxes elsewhere until the scope ends.
class WindowSwap {
public:
    WindowSwap(pp::Session& session, pp::Window& quiet)
        : session_(session), shown_(session.window()) {
        session_.setWindow(quiet);
    }
    ~WindowSwap() { session_.setWindow(shown_); }
    WindowSwap(const WindowSwap&) = delete;
    WindowSwap& operator=(const WindowSwap&) = delete;

private:
    pp::Session& session_;
    pp::Window& shown_;
};

class ListenerSwap : public pp::ModeListener {
public:
    ListenerSwap(pp::Session& session, std::string& list)
        : session_(session), previous_(session.modeListener()), list_(list) {
        session_.setModeListener(this);
    }
    ~ListenerSwap() override { session_.setModeListener(previous_); }
    ListenerSwap(const ListenerSwap&) = delete;
    ListenerSwap& operator=(const ListenerSwap&) = delete;

    void ProcessModeData(const std::string&) override {}
    void ProcessPartsList(const std::string& buf) override { list_ = buf; }

private:
    pp::Session& session_;
    pp::ModeListener* previous_;
    std::string& list_;
};

std::string failureText(pp::Outcome outcome, const std::string& status) {
    if (!status.empty())
        return status;
    switch (outcome) {
    case pp::Outcome::OpenFailed:
        return std::string(CantOpenPort);
    case pp::Outcome::NoResponse:
        return std::string(NoResponse);
    default:
        return std::string(UnexpectedAnswer);
    }
}

} // namespace

UploadResult ScratchUpload::run(pp::Sheet& scratch, void (pp::Session::*starter)()) {
    pp::Session& session = driver_.session();
    UploadResult result;
    {
        const SheetSwap swap(session, scratch, home_);
        const auto ended = runExchange(
            driver_, [&] { (session.*starter)(); }, flags_);
        result.outcome = ended.value_or(pp::Outcome::NoResponse);
    }
    result.ok = session.succeeded(result.outcome);
    if (!result.ok)
        result.failure = failureText(result.outcome, session.window().status());
    return result;
}

UploadResult ScratchUpload::system(pp::Sheet& scratch) {
    return run(scratch, &pp::Session::cmdSDUpload_Click);
}

UploadResult ScratchUpload::part(pp::Sheet& scratch, const std::string& partNumber) {
    scratch.AddPartNumber(partNumber);
    scratch.setPartSelection(partNumber);
    return run(scratch, &pp::Session::cmdPartUpload_Click);
}

UploadResult ScratchUpload::partList(pp::Sheet& scratch, std::string& list) {
    pp::Session& session = driver_.session();
    list.clear();
    UploadResult result;
    {
        const SheetSwap sheetSwap(session, scratch, home_);
        const ListenerSwap swap(session, list);
        const auto ended = runExchange(
            driver_, [&] { session.requestPartList(); }, flags_);
        result.outcome = ended.value_or(pp::Outcome::NoResponse);
    }
    result.ok = session.succeeded(result.outcome);
    if (!result.ok)
        result.failure = failureText(result.outcome, session.window().status());
    return result;
}

std::optional<pp::InstrumentIdentity> InstrumentRead::identity() const {
    if (!result.ok)
        return std::nullopt;
    return pp::InstrumentIdentity{sheet.text(pp::Sys::Serial), sheet.generation()};
}

void InstrumentRead::showOn(pp::Window& window) const {
    window.setStatus(status);
    for (const std::string& m : messages)
        window.message(m);
}

namespace {

template <typename Read>
InstrumentRead quietly(SessionDriver& driver, pp::Sheet& home, pp::Sheet scratch,
                       QEventLoop::ProcessEventsFlags flags, const Read& read) {
    pp::QuietWindow quiet;
    InstrumentRead done;
    done.sheet = std::move(scratch);
    {
        const WindowSwap swap(driver.session(), quiet);
        driver.setRecorded(false);
        ScratchUpload upload(driver, quiet, home, flags);
        done.result = read(upload, done.sheet);
        driver.setRecorded(true);
    }
    done.status = quiet.status();
    done.messages = std::move(quiet.messages);
    return done;
}

} // namespace

InstrumentRead readInstrument(SessionDriver& driver, pp::Sheet& home,
                              QEventLoop::ProcessEventsFlags flags) {
    return quietly(driver, home, pp::Sheet(), flags, [](ScratchUpload& upload, pp::Sheet& scratch) {
        return upload.system(scratch);
    });
}

InstrumentRead readInstrumentPart(SessionDriver& driver, pp::Sheet& home, pp::Sheet system,
                                  const std::string& partNumber,
                                  QEventLoop::ProcessEventsFlags flags) {
    return quietly(driver, home, std::move(system), flags,
                   [&](ScratchUpload& upload, pp::Sheet& scratch) {
                       return upload.part(scratch, partNumber);
                   });
}

} // namespace pp::qt
