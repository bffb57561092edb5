#include "app/cli_session.h"

#include "files/param_file.h"
#include "files/settings.h"
#include "history/forwarder.h"
#include "history/plant_copy.h"
#include "history/server.h"
#include "link/frames.h"
#include "link/mode.h"
#include "link/status_texts.h"
#include "qt/exchange.h"
#include "qt/plant_policy.h"
#include "qt/serial_adapter.h"

#include <algorithm>
#include <chrono>
#include <ostream>

namespace pp::cli {

using namespace pp::text;

pp::Answer CliWindow::message(std::string_view text, pp::Buttons buttons,
                              std::string_view caption) {
    if (buttons == pp::Buttons::YesNo) {
        if (caption == pp::ConvertCaption)
            conversionAsked = true;
        return convert.value_or(false) ? pp::Answer::Yes : pp::Answer::No;
    }
    messages.emplace_back(text);
    return pp::Answer::Ok;
}

std::string historyPath(const Options& options, const Context& context) {
    return options.history.empty() ? context.historyPath : options.history;
}

bool isFailure(pp::Outcome outcome) {
    switch (outcome) {
    case pp::Outcome::Refused:
    case pp::Outcome::Nak:
    case pp::Outcome::NoResponse:
    case pp::Outcome::OpenFailed:
    case pp::Outcome::PortLost:
    case pp::Outcome::WriteFailed:
    case pp::Outcome::Overflow:
    case pp::Outcome::EndedEarly:
    case pp::Outcome::TooLong:
    case pp::Outcome::LocalRefusal:
        return true;
    default:
        return false;
    }
}

CliSession::CliSession(const Options& options, Context& context)
    : o_(options), c_(context), driver_(sheet_, window_) {
    driver_.session().setModeListener(&answers_);
    window_.convert = o_.convert;
    if (const std::string path = historyPath(o_, c_); !path.empty()) {
        history_ = std::make_unique<pp::qt::HistoryTap>(driver_, path);
        history_->setApprovalsFromPlant(!c_.historyServer.empty());
        history_->setReporter(
            [this](const std::string& note) { historyNote_ = historyLost_ = note; });
        // What an upload showed that differs from what the instrument should hold.
        QObject::connect(history_.get(), &pp::qt::HistoryTap::found,
                         [this](const QString& message) { foundNote_ = message.toStdString(); });
        history_->setObserver([this](const pp::qt::HistoryTap::Observed& seen) {
            observed_.push_back(seen);
            anyRecorded_ = anyRecorded_ || seen.recorded;
        });
    }
}

CliSession::~CliSession() = default;

void CliSession::forwardRecorded() {
    if (anyRecorded_ && !c_.historyServer.empty())
        forwardBeforeExit(history_->path(), c_.historyServer, c_.err);
}

void CliSession::choosePort() {
    if (!o_.portDevice.empty()) {
        driver_.setDeviceOverride(QString::fromStdString(o_.portDevice));
        return;
    }
    const int n = o_.portNumber != 0 ? o_.portNumber : pp::LoadAppSettings(c_.settings, *c_.fs);
    driver_.session().setCommPortNumber(n);
    driver_.setDeviceOverride(pp::qt::devicePathForPort(n));
}

void CliSession::usePort(const std::string& port) {
    const bool comm =
        std::all_of(port.begin(), port.end(), [](char ch) { return ch >= '0' && ch <= '9'; });
    if (comm) {
        driver_.session().setCommPortNumber(std::stoi(port));
        driver_.setDeviceOverride(pp::qt::devicePathForPort(std::stoi(port)));
    } else {
        driver_.setDeviceOverride(QString::fromStdString(port));
    }
}

bool CliSession::exchange(const std::string& label, const std::function<void()>& start,
                          pp::Outcome expected) {
    window_.clear();
    if (c_.progress)
        c_.err << label << "..." << std::flush;
    const auto fieldConn =
        QObject::connect(&driver_, &pp::qt::SessionDriver::fieldSent, [&](int index, int last) {
            if (c_.progress)
                c_.err << '\r' << label << ": field " << index + 1 << " of " << last + 1
                       << std::flush;
        });
    std::optional<pp::Outcome> ended = pp::qt::runExchange(driver_, start);
    QObject::disconnect(fieldConn);
    if (!ended) {
        // The loop was left from outside (the application is quitting); the port is given up.
        window_.setStatus(NoResponse);
        ended = pp::Outcome::NoResponse;
    }
    if (c_.progress)
        c_.err << '\n';

    const bool done = driver_.session().succeeded(*ended);
    if (!done)
        reportFailure(*ended, expected);
    printHistoryNote(); // after the exchange's own words
    return done;
}

void CliSession::printHistoryNote() {
    if (!foundNote_.empty())
        c_.err << foundNote_ << '\n';
    foundNote_.clear();
    if (!historyNote_.empty())
        c_.err << historyNote_ << '\n';
    historyNote_.clear();
}

void CliSession::reportFailure(pp::Outcome outcome, pp::Outcome expected) {
    lastFailure_.clear();
    auto say = [this](const std::string& text) {
        c_.err << text << '\n';
        lastFailure_ += (lastFailure_.empty() ? "" : "; ") + text;
    };
    if (isFailure(outcome) || outcome == expected) {
        for (const std::string& m : window_.messages)
            say(m);
        const std::string status = window_.status();
        bool repeated = false;
        for (const std::string& m : window_.messages)
            repeated = repeated || m == status;
        if (!status.empty() && !repeated)
            say(status);
    }
    if (lastFailure_.empty())
        say(std::string(UnexpectedAnswer));
}

int CliSession::fileFailure(const std::string& path) {
    for (const std::string& m : window_.messages)
        c_.err << m << '\n';
    const std::string status = window_.status();
    if (!status.empty() && status != pp::FileErrorStatus)
        c_.err << status << '\n';
    c_.err << Program << path << '\n';
    return ExitUsage;
}

bool CliSession::systemUpload() {
    return exchange(
        "System upload", [this] { driver_.session().cmdSDUpload_Click(); },
        pp::Outcome::SystemRecord);
}

bool CliSession::partUpload(const std::string& partNumber) {
    sheet_.AddPartNumber(partNumber);
    sheet_.setPartSelection(partNumber);
    const Instrument on(driver_.session(),
                        pp::InstrumentIdentity{sheet_.text(pp::Sys::Serial), sheet_.generation()});
    return exchange(
        "Part upload " + partNumber, [this] { driver_.session().cmdPartUpload_Click(); },
        pp::Outcome::PartRecord);
}

std::optional<pp::qt::InstrumentRead> CliSession::readInstrument(const pp::Sheet* system,
                                                                 const std::string& partNumber) {
    window_.clear();
    if (c_.progress)
        c_.err << (system ? "Part upload " + partNumber : std::string("System upload")) << "...\n"
               << std::flush;
    pp::qt::InstrumentRead read =
        system ? pp::qt::readInstrumentPart(driver_, sheet_, *system, partNumber)
               : pp::qt::readInstrument(driver_, sheet_);
    if (read.ok())
        return read;
    read.showOn(window_);
    reportFailure(read.result.outcome,
                  system ? pp::Outcome::PartRecord : pp::Outcome::SystemRecord);
    return std::nullopt;
}

std::optional<std::vector<std::string>> CliSession::partList() {
    answers_.list.reset();
    if (!exchange(
            "Part number list", [this] { driver_.session().requestPartList(); },
            pp::Outcome::PartList))
        return std::nullopt;
    const std::string list = answers_.list.value_or(std::string());
    for (int n = 1; n <= 32; ++n) {
        const std::string pn = pp::ZeroPad(std::to_string(n), 2);
        if (pp::partConfigured(list, n))
            sheet_.AddPartNumber(pn);
        else
            sheet_.RemovePartNumber(pn);
    }
    return pp::configuredPartNumbers(list);
}

pp::qt::WholeRead CliSession::readWhole(pp::qt::SweepStop stop,
                                        const std::function<bool()>& keepGoing) {
    pp::qt::WholeReadOptions options;
    options.stop = stop;
    options.progress = [this, &keepGoing](const pp::qt::ReadStep& step) {
        printHistoryNote(); // of the step before
        if (keepGoing && !keepGoing())
            return false;
        window_.clear();
        if (c_.progress)
            c_.err << (step.kind == pp::qt::ReadStep::Kind::System ? std::string("System upload")
                       : step.kind == pp::qt::ReadStep::Kind::PartList
                           ? std::string("Part number list")
                           : "Part upload " + step.partNumber)
                   << "...\n"
                   << std::flush;
        return true;
    };
    options.read = [this](const std::string&, const pp::Sheet&) { printHistoryNote(); };
    pp::qt::WholeRead whole = pp::qt::readWholeInstrument(driver_, sheet_, options);
    if (whole.cancelled && !whole.reached())
        lastFailure_.clear();
    else if (!whole.system.ok)
        reportFailure(whole.system.outcome, pp::Outcome::SystemRecord);
    else if (whole.list && !whole.list->ok)
        reportFailure(whole.list->outcome, pp::Outcome::PartList);
    printHistoryNote();
    return whole;
}

bool CliSession::readFile(const std::string& path, pp::Sheet& into) {
    window_.clear();
    return pp::ReadParamFile(into, path, window_, *c_.fs);
}

int CliSession::printDifferences(const std::vector<pp::Difference>& differences) {
    for (const pp::Difference& d : differences)
        c_.out << pp::differenceLine(d) << '\n';
    c_.out << std::flush;
    return differences.empty() ? ExitOk : ExitDiffer;
}

// ---------------------------------------------------------------- the plant

std::optional<std::string> forwardBeforeExit(const std::string& historyPath, const std::string& uri,
                                             std::ostream& err) {
    pp::history::Forwarder forwarder(historyPath, uri);
    pp::history::Limits limits;
    limits.connectTimeoutMs = ForwardWaitMs;
    limits.answerTimeoutMs = ForwardWaitMs;
    limits.deadline = pp::history::Limits::Clock::now() + std::chrono::milliseconds(ForwardWaitMs);
    limits.deadlineSeconds = ForwardWaitMs / 1000;
    forwarder.setLimits(limits);
    const pp::history::ForwardResult r = forwarder.forward();
    tellForwarded(r, err);
    if (r.done) {
        // And the plant's approvals and settings back, for what this PC checks next.
        std::string why;
        if (!pp::history::copyPlantState(historyPath, uri, limits, why))
            err << Program << "the plant's approvals were not copied: " << why << '\n'
                << std::flush;
        return std::nullopt;
    }
    err << NotForwarded << r.error << '\n' << std::flush;
    return r.error;
}

void tellForwarded(const pp::history::ForwardResult& r, std::ostream& err) {
    for (const std::string& notice : pp::history::forwardNotices(r))
        err << Program << notice << '\n';
    err << std::flush;
}

pp::history::PlantPolicy plantPolicy(const std::string& uri, const std::string& historyPath,
                                     std::ostream& err) {
    if (uri.empty())
        return pp::qt::localPlantPolicy();
    pp::history::Plant server;
    pp::history::Limits limits; // not what was asked for: no long wait for it
    limits.connectTimeoutMs = ForwardWaitMs;
    limits.answerTimeoutMs = ForwardWaitMs;
    if (server.open(uri, limits))
        if (const auto p = server.policy())
            return *p;
    // Never this PC's own settings where there is a plant: its last copy, else the strictest.
    std::string copiedAt;
    if (const auto p = pp::history::copiedPolicy(historyPath, &copiedAt)) {
        err << Program << "the plant's settings cannot be read (" << server.error()
            << "); those copied from it at " << copiedAt << " are used\n";
        return *p;
    }
    err << Program << "the plant's settings cannot be read (" << server.error()
        << ") and none were copied yet: a reason and another approver are required\n";
    return pp::history::unknownPlantPolicy();
}

} // namespace pp::cli
