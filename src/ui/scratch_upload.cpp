#include "scratch_upload.h"

#include "exchange.h"
#include "session_driver.h"

#include "link/frames.h"
#include "link/status_texts.h"

namespace pp::ui {

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

UploadResult ScratchUpload::run(pp::Sheet& scratch, void (pp::Session::*starter)(),
                                pp::Outcome expected) {
    pp::Session& session = driver_.session();
    UploadResult result;
    {
        const SheetSwap swap(session, scratch, home_);
        const auto ended = runExchange(
            driver_, [&] { (session.*starter)(); }, flags_);
        result.outcome = ended.value_or(pp::Outcome::NoResponse);
    }
    // A record the decoder refused ends the exchange as expected, with the reason in panel 1.
    const std::string status = window_.status();
    result.ok = result.outcome == expected && status == Success;
    if (!result.ok)
        result.failure = failureText(result.outcome, status);
    return result;
}

UploadResult ScratchUpload::system(pp::Sheet& scratch) {
    return run(scratch, &pp::Session::cmdSDUpload_Click, pp::Outcome::SystemRecord);
}

UploadResult ScratchUpload::part(pp::Sheet& scratch, const std::string& partNumber) {
    scratch.AddPartNumber(partNumber);
    scratch.setPartSelection(partNumber);
    return run(scratch, &pp::Session::cmdPartUpload_Click, pp::Outcome::PartRecord);
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
    result.ok = result.outcome == pp::Outcome::PartList;
    if (!result.ok)
        result.failure = failureText(result.outcome, window_.status());
    return result;
}

std::vector<std::string> configuredPartNumbers(const std::string& list) {
    std::vector<std::string> configured;
    for (int n = 1; n <= 32; ++n) {
        const auto at = static_cast<size_t>(n); // "A" first, part number n at n + 1 counted from 1
        if (at < list.size() && list[at] == '1')
            configured.push_back(pp::ZeroPad(std::to_string(n), 2));
    }
    return configured;
}

} // namespace pp::ui
