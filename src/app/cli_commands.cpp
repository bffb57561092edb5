#include "cli_commands.h"

#include "files/file_commands.h"
#include "files/native.h"
#include "files/param_file.h"
#include "history/audit.h"
#include "history/formats.h"
#include "history/recording.h"
#include "history/server.h"
#include "history/source.h"
#include "link/frames.h"
#include "link/mode.h"
#include "link/session.h"
#include "link/status_texts.h"
#include "qt/exchange.h"
#include "qt/history_tap.h"
#include "qt/part_sweep.h"
#include "qt/serial_adapter.h"
#include "qt/session_driver.h"
#include "report/report.h"
#include "report/report_painter.h"
#include "sheet/baseline.h"
#include "sheet/compare.h"
#include "sheet/sheet.h"
#include "version.h"

#include <QGuiApplication>
#include <QPdfWriter>
#include <QProcess>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace pp::cli {

namespace {

using namespace pp::text;

constexpr std::string_view Program = "paramporter-cli: ";

// Status panel 1 as a variable; message boxes are recorded, and the one question the
// session's users can ask here, the conversion, is answered from --convert.
class CliWindow : public pp::Window {
public:
    std::optional<bool> convert;
    bool conversionAsked = false;
    std::vector<std::string> messages;

    void setStatus(std::string_view text) override { status_ = text; }
    std::string status() const override { return status_; }
    pp::Answer message(std::string_view text, pp::Buttons buttons,
                       std::string_view caption) override {
        if (buttons == pp::Buttons::YesNo) {
            if (caption == pp::ConvertCaption)
                conversionAsked = true;
            return convert.value_or(false) ? pp::Answer::Yes : pp::Answer::No;
        }
        messages.emplace_back(text);
        return pp::Answer::Ok;
    }
    void clear() {
        messages.clear();
        status_.clear();
    }

private:
    std::string status_;
};

class ModeAnswers : public pp::ModeListener {
public:
    std::optional<std::string> mode;
    std::optional<std::string> list;
    void ProcessModeData(const std::string& buffer) override { mode = buffer; }
    void ProcessPartsList(const std::string& buf) override { list = buf; }
};

// --history wins over the environment and the default.
std::string historyPath(const Options& options, const Context& context) {
    return options.history.empty() ? context.historyPath : options.history;
}

pp::InstrumentIdentity identityOf(const pp::Sheet& system) {
    return {system.text(pp::Sys::Serial), system.generation()};
}

// Tells the session who the exchanges started in this scope talk to.
class Instrument {
public:
    Instrument(pp::Session& session, std::optional<pp::InstrumentIdentity> identity)
        : session_(session) {
        session_.setInstrument(std::move(identity));
    }
    ~Instrument() { session_.setInstrument(std::nullopt); }
    Instrument(const Instrument&) = delete;
    Instrument& operator=(const Instrument&) = delete;

private:
    pp::Session& session_;
};

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
    case pp::Outcome::LocalRefusal:
        return true;
    default:
        return false;
    }
}

class Runner {
public:
    Runner(const Options& options, Context& context)
        : o_(options), c_(context), driver_(sheet_, window_) {
        driver_.session().setModeListener(&answers_);
        window_.convert = o_.convert;
        if (const std::string path = historyPath(o_, c_); !path.empty()) {
            history_ = std::make_unique<pp::qt::HistoryTap>(driver_, path);
            history_->setReporter([this](const std::string& note) { historyNote_ = note; });
            QObject::connect(history_.get(), &pp::qt::HistoryTap::recorded,
                             [this] { ++recorded_; });
            // What an upload showed that differs from what the instrument should hold.
            QObject::connect(
                history_.get(), &pp::qt::HistoryTap::found,
                [this](const QString& message) { foundNote_ = message.toStdString(); });
            history_->setObserver(
                [this](const pp::history::Entry& e) { roundEntries_.push_back(e); });
        }
    }

    int run() {
        const int code = runCommand();
        // After the command's own words; the transfers are over whatever the server does.
        if (recorded_ > 0 && !c_.historyServer.empty())
            forwardBeforeExit(history_->path(), c_.historyServer, c_.err);
        return code;
    }

private:
    int runCommand() {
        // Files need no port; a round takes its own.
        if (o_.command != Command::Diff && o_.command != Command::Report &&
            o_.command != Command::Round)
            choosePort();
        switch (o_.command) {
        case Command::Read:
            return read();
        case Command::Write:
            return write();
        case Command::Mode:
            return mode();
        case Command::Parts:
            return parts();
        case Command::Backup:
            return backup();
        case Command::Diff:
            return diff();
        case Command::Verify:
            return verify();
        case Command::Report:
            return report();
        case Command::Round:
            return round();
        default:
            return ExitUsage;
        }
    }

    // Every open goes to one device, so downloads (which assign no port number) use the
    // same port as uploads.
    void choosePort() {
        if (!o_.portDevice.empty()) {
            driver_.setDeviceOverride(QString::fromStdString(o_.portDevice));
            return;
        }
        const int n = o_.portNumber != 0 ? o_.portNumber : pp::LoadAppSettings(c_.settings, *c_.fs);
        driver_.session().setCommPortNumber(n);
        driver_.setDeviceOverride(pp::qt::devicePathForPort(n));
    }

    // Starts one exchange and waits on the event loop until the session ends it. True when
    // it did what was asked; otherwise says why (`expected`: the frame it waits for, whose
    // arrival with a failure means the session has said why).
    bool exchange(const std::string& label, const std::function<void()>& start,
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

    void printHistoryNote() {
        if (!foundNote_.empty())
            c_.err << foundNote_ << '\n';
        foundNote_.clear();
        if (!historyNote_.empty())
            c_.err << historyNote_ << '\n';
        historyNote_.clear();
    }

    void reportFailure(pp::Outcome outcome, pp::Outcome expected) {
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

    // The texts the files code showed (its message boxes) and its status when that says more
    // than "File Error" (which parameter a file cannot hold), then which file.
    int fileFailure(const std::string& path) {
        for (const std::string& m : window_.messages)
            c_.err << m << '\n';
        const std::string status = window_.status();
        if (!status.empty() && status != pp::FileErrorStatus)
            c_.err << status << '\n';
        c_.err << Program << path << '\n';
        return ExitUsage;
    }

    bool systemUpload() {
        return exchange(
            "System upload", [this] { driver_.session().cmdSDUpload_Click(); },
            pp::Outcome::SystemRecord);
    }

    // As the window does it: the part number is the selector's two-digit text. The part record
    // names no instrument: it is the one whose system record was read just before.
    bool partUpload(const std::string& partNumber) {
        sheet_.AddPartNumber(partNumber);
        sheet_.setPartSelection(partNumber);
        const Instrument on(driver_.session(), identityOf(sheet_));
        return exchange(
            "Part upload " + partNumber, [this] { driver_.session().cmdPartUpload_Click(); },
            pp::Outcome::PartRecord);
    }

    // Who is on the line (and, with `partNumber`, what that part of it holds), read quietly
    // with the sheet of this run left as it is. The read is part of the transfer that follows,
    // which the history records; when it failed, that transfer does not begin (the reason has
    // been said).
    std::optional<pp::qt::InstrumentRead> readInstrument(const pp::Sheet* system = nullptr,
                                                         const std::string& partNumber = {}) {
        window_.clear();
        if (c_.progress)
            c_.err << (system ? "Part upload " + partNumber : std::string("System upload"))
                   << "...\n"
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

    std::optional<std::vector<std::string>> partList() {
        answers_.list.reset();
        if (!exchange(
                "Part number list", [this] { driver_.session().requestPartList(); },
                pp::Outcome::PartList))
            return std::nullopt;
        const std::vector<std::string> configured =
            pp::configuredPartNumbers(answers_.list.value_or(std::string()));
        for (int n = 1; n <= 32; ++n) {
            const std::string pn = pp::ZeroPad(std::to_string(n), 2);
            if (pp::partConfigured(answers_.list.value_or(std::string()), n))
                sheet_.AddPartNumber(pn);
            else
                sheet_.RemovePartNumber(pn);
        }
        return configured;
    }

    int read() {
        if (!systemUpload() || !partUpload(o_.part))
            return ExitLink;
        window_.clear();
        if (!pp::WriteParamFile(sheet_, o_.file, window_, *c_.fs))
            return fileFailure(o_.file);
        return ExitOk;
    }

    int write() {
        window_.clear();
        pp::Sheet file;
        if (!pp::ReadParamFile(file, o_.file, window_, *c_.fs))
            return fileFailure(o_.file);
        // A file of the earlier layout is read as it is unless --convert yes asks otherwise;
        // which of the two may go out is the instrument's generation's to say.
        const bool earlierLayout = window_.conversionAsked;
        // A file of the system parameters alone (an exported system entry) puts those back.
        const bool systemOnlyFile = file.partSelection().empty();
        if (o_.partOnly && systemOnlyFile) {
            c_.err << Program << o_.file << ": the file holds no part parameters\n";
            return ExitUsage;
        }
        const bool sendSystem = !o_.partOnly;
        const bool sendPart = !o_.systemOnly && !systemOnlyFile;
        // The window would send these, and the instrument would refuse them: nothing goes out.
        if (sendPart && partNumberText(file.partSelection()) != file.partSelection()) {
            c_.err << Program << o_.file << ": part number \"" << file.partSelection()
                   << "\" is not 1..32\n";
            return ExitUsage;
        }
        if (sendPart && file.text(pp::Part::CustCode).empty()) {
            c_.err << EnterCustomerCode << '\n' << Program << o_.file << '\n';
            return ExitUsage;
        }
        if (sendPart && pp::partValuesMissing(file)) {
            c_.err << PartValuesMissing << '\n' << Program << o_.file << '\n';
            return ExitUsage;
        }

        // Why, for the history; the plant may want one for every download.
        if (o_.reason.empty() && plantPolicy(c_.historyServer, c_.err).reasonRequired) {
            c_.err << Program
                   << "the plant requires a reason for every download: give --reason TEXT\n";
            return ExitUsage;
        }
        driver_.session().setReason(o_.reason);

        // Who is on the line, before anything is written: the history names the instrument
        // written, and the file's serial number, clock and calibration are not another's.
        std::optional<pp::qt::InstrumentRead> onLine = readInstrument();
        if (!onLine)
            return ExitLink;
        const pp::InstrumentIdentity instrument = *onLine->identity();
        if (instrument.generation != file.generation()) {
            c_.err << Program << "the instrument is "
                   << pp::generationStatusText(instrument.generation) << ", the values are for "
                   << pp::generationStatusText(file.generation()) << "; nothing sent";
            if (earlierLayout && instrument.generation == pp::Generation::V73)
                c_.err << " (--convert yes sends the file converted)";
            else if (earlierLayout)
                c_.err << " (--convert no sends the file as it is)";
            c_.err << '\n';
            return ExitUsage;
        }
        const std::string& from = file.text(pp::Sys::Serial);
        const bool other = !pp::sameSerial(instrument.serial, from);
        if (sendSystem && !o_.anyInstrument && other) {
            c_.err << Program << "the instrument is serial " << instrument.serial
                   << ", the file is from serial " << from
                   << "; use --part-only to copy its part, or --any-instrument\n";
            return ExitUsage;
        }
        // A part copied onto another instrument keeps that instrument's calibration.
        if (sendPart && other && !o_.anyInstrument) {
            onLine = readInstrument(&onLine->sheet, file.partSelection());
            if (!onLine)
                return ExitLink;
        }

        const Instrument on(driver_.session(), instrument);
        if (sendSystem) {
            sheet_ = file;
            if (!exchange(
                    "System download", [this] { driver_.session().cmdSDDnLoad_Click(); },
                    pp::Outcome::SystemDownloadEnd))
                return ExitLink;
        }
        if (!sendPart)
            return ExitOk;
        // The system download emptied the part sheet; the file's part values go out as read.
        sheet_ = file;
        if (other && !o_.anyInstrument)
            driver_.session().setOwnValues(onLine->sheet);
        const bool written = exchange(
            "Part download " + file.partSelection(),
            [this] { driver_.session().cmdPartDnload_Click(); }, pp::Outcome::PartDownloadEnd);
        driver_.session().setOwnValues(std::nullopt);
        return written ? ExitOk : ExitLink;
    }

    int mode() {
        answers_.mode.reset();
        const bool change = o_.mode.has_value();
        const bool done = exchange(
            change ? "Change mode" : "Get current mode",
            [this, change] {
                if (change)
                    driver_.session().requestModeChange(*o_.mode);
                else
                    driver_.session().requestMode();
            },
            pp::Outcome::ModeReport);
        if (!done)
            return ExitLink;
        const pp::ModeReport report = pp::readModeReport(answers_.mode.value_or(std::string()));
        const std::string_view name = pp::modeName(report.digit);
        if (name.empty()) {
            c_.err << UnexpectedAnswer << '\n';
            return ExitLink;
        }
        c_.out << name << '\n' << std::flush;
        if (report.testRunning)
            c_.err << TestInProgress << '\n';
        if (change && (report.testRunning || report.digit != *o_.mode)) {
            if (!report.testRunning)
                c_.err << CheckMode << '\n';
            return ExitLink;
        }
        return ExitOk;
    }

    int parts() {
        const auto configured = partList();
        if (!configured)
            return ExitLink;
        std::string line;
        for (const std::string& pn : *configured)
            line += (line.empty() ? "" : " ") + pn;
        c_.out << line << '\n' << std::flush;
        return ExitOk;
    }

    int backup() {
        if (!systemUpload())
            return ExitLink;
        const auto configured = partList();
        if (!configured)
            return ExitLink;
        if (configured->empty()) {
            c_.err << Program << "no part numbers are configured: nothing saved\n";
            return ExitOk;
        }

        // Every exchange first: a failure half-way leaves no files behind.
        pp::qt::SweepOptions sweep;
        sweep.stop = pp::qt::SweepStop::FirstFailure;
        sweep.progress = [this](size_t, size_t, const std::string& pn) {
            window_.clear();
            if (c_.progress)
                c_.err << "Part upload " << pn << "...\n" << std::flush;
            return true;
        };
        sweep.read = [this](const std::string&, const pp::Sheet&) { printHistoryNote(); };
        const pp::Sheet instrument = sheet_;
        const pp::qt::SweepResult swept =
            pp::qt::sweepParts(driver_, sheet_, instrument, *configured, sweep);
        if (!swept.failed.empty()) {
            reportFailure(swept.failed.front().second.outcome, pp::Outcome::PartRecord);
            printHistoryNote();
            return ExitLink;
        }
        std::vector<std::pair<std::string, pp::Sheet>> files;
        for (const pp::Sheet& part : swept.sheets) {
            const std::string name = pp::DefaultFileName(part, c_.today);
            if (name.empty()) {
                c_.err << pp::ErrorWritingFile << '\n'
                       << Program << "no serial number to name the files by\n";
                return ExitUsage;
            }
            files.emplace_back(pp::utf8FromPath(pp::pathFromUtf8(o_.dir) / pp::pathFromUtf8(name)),
                               part);
        }

        window_.clear();
        if (!c_.fs->makeFolder(o_.dir)) {
            c_.err << pp::ErrorWritingFile << '\n';
            return fileFailure(o_.dir);
        }
        std::vector<std::string> created;
        for (const auto& [path, sheet] : files) {
            const bool existed = c_.fs->exists(path);
            if (!pp::WriteParamFile(sheet, path, window_, *c_.fs)) {
                for (const std::string& p : created)
                    c_.fs->remove(p);
                return fileFailure(path);
            }
            if (!existed)
                created.push_back(path);
        }
        for (const auto& entry : files)
            c_.out << entry.first << '\n';
        c_.out << std::flush;
        return ExitOk;
    }

    // One round: every port read (the system parameters, then every configured part number),
    // each upload recorded with its findings; then what was read audited against the approvals
    // (the plant's when a server is configured, else this PC's), the hooks told once.
    int round() {
        struct PortRun {
            std::string port, device, error, serial, generation;
            std::vector<pp::history::Entry> entries;
            std::vector<std::pair<std::string, std::string>> partsFailed;
            std::vector<pp::history::AuditRow> audited;
            int deviations = 0;
        };
        std::vector<PortRun> runs;
        for (const std::string& port : o_.ports) {
            PortRun run;
            const bool comm = std::all_of(port.begin(), port.end(),
                                          [](char ch) { return ch >= '0' && ch <= '9'; });
            run.port = comm ? "COMM " + port : port;
            run.device = comm ? pp::qt::devicePathForPort(std::stoi(port)).toStdString() : port;
            driver_.setDeviceOverride(QString::fromStdString(run.device));
            if (comm)
                driver_.session().setCommPortNumber(std::stoi(port));
            const size_t first = roundEntries_.size();
            sheet_ = pp::Sheet();
            std::optional<std::vector<std::string>> configured;
            if (systemUpload())
                configured = partList();
            if (!configured) {
                run.error = lastFailure_;
            } else {
                run.serial = sheet_.text(pp::Sys::Serial);
                run.generation = std::string(pp::generationWord(sheet_.generation()));
                pp::qt::SweepOptions sweep;
                sweep.stop = pp::qt::SweepStop::LinkGone;
                sweep.progress = [this](size_t, size_t, const std::string& pn) {
                    window_.clear();
                    if (c_.progress)
                        c_.err << "Part upload " << pn << "...\n" << std::flush;
                    return true;
                };
                const pp::Sheet instrument = sheet_;
                const pp::qt::SweepResult swept =
                    pp::qt::sweepParts(driver_, sheet_, instrument, *configured, sweep);
                printHistoryNote();
                for (const auto& [pn, failed] : swept.failed)
                    run.partsFailed.emplace_back(pn, failed.failure);
                for (const std::string& pn : swept.notRead)
                    run.partsFailed.emplace_back(pn, "not read: the port failed");
            }
            run.entries.assign(roundEntries_.begin() + static_cast<std::ptrdiff_t>(first),
                               roundEntries_.end());
            runs.push_back(std::move(run));
        }

        // The approvals to audit against: the plant's holds every PC's, once this round's
        // entries have reached it.
        std::unique_ptr<pp::history::EntrySource> source;
        if (!c_.historyServer.empty() && history_) {
            forwardBeforeExit(history_->path(), c_.historyServer, c_.err);
            auto plant = std::make_unique<pp::history::PlantSource>();
            plant->setUri(c_.historyServer);
            pp::history::Limits limits;
            limits.connectTimeoutMs = limits.answerTimeoutMs = ForwardWaitMs;
            plant->setLimits(limits);
            if (plant->ready())
                source = std::move(plant);
            else
                c_.err << Program << "approvals of this PC only: " << plant->error() << '\n';
        }
        if (!source && history_) {
            source = std::make_unique<pp::history::LocalSource>(history_->path());
            if (!source->ready())
                c_.err << Program << "the audit cannot be read: " << source->error() << '\n';
        }

        int failures = 0;
        int deviations = 0;
        const std::string now = pp::history::utcTimestamp();
        for (PortRun& run : runs) {
            failures += !run.error.empty() || !run.partsFailed.empty();
            if (!run.error.empty() || run.serial.empty() || !source)
                continue;
            const auto rows = pp::history::audit(*source, run.serial, 0, now);
            if (!rows)
                c_.err << Program << "the audit cannot be read: " << source->error() << '\n';
            for (const pp::history::Entry& e : run.entries) {
                if (e.action != pp::history::Action::Upload || !e.succeeded())
                    continue;
                bool changed = false;
                for (const pp::history::Finding& f : e.findings)
                    changed = changed || f.basis == pp::history::LastBasis;
                pp::history::AuditRow row;
                row.state.serial = e.serial;
                row.state.scope = e.scope;
                row.state.part = e.part;
                if (rows)
                    for (const pp::history::AuditRow& r : *rows)
                        if (r.state.scope == e.scope && r.state.part == e.part)
                            row = r;
                run.audited.push_back(row);
                run.deviations += !row.complies() || changed;
            }
            deviations += run.deviations;
        }

        for (const PortRun& run : runs) {
            c_.out << pp::history::terminalText(
                          run.port == run.device ? run.device : run.port + " " + run.device)
                   << ": ";
            if (!run.error.empty()) {
                c_.out << "failed: " << pp::history::terminalText(run.error) << '\n';
                continue;
            }
            c_.out << "serial " << pp::history::terminalText(run.serial) << ", "
                   << run.entries.size() << " read, " << run.deviations
                   << (run.deviations == 1 ? " deviates" : " deviate") << '\n';
            for (const pp::history::Entry& e : run.entries)
                if (!e.findings.empty())
                    c_.out << "  "
                           << pp::history::terminalText(
                                  pp::history::findingsMessage(e, e.findings, std::nullopt))
                           << '\n';
            for (const auto& [pn, why] : run.partsFailed)
                c_.out << "  part " << pn << " failed: " << pp::history::terminalText(why) << '\n';
        }
        c_.out << std::flush;

        // The summary the hooks read.
        using pp::history::jsonQuoted;
        std::string json = "{\"time\":" + jsonQuoted(now) +
                           ",\"host\":" + jsonQuoted(pp::history::hostName()) +
                           ",\"user\":" + jsonQuoted(pp::history::accountName()) + ",\"ports\":[";
        for (size_t i = 0; i < runs.size(); ++i) {
            const PortRun& run = runs[i];
            json +=
                (i ? ",{" : "{") + std::string("\"port\":") + jsonQuoted(run.port) +
                ",\"device\":" + jsonQuoted(run.device) +
                ",\"result\":" + jsonQuoted(run.error.empty() ? "read" : "failed") +
                ",\"error\":" + (run.error.empty() ? std::string("null") : jsonQuoted(run.error)) +
                ",\"serial\":" + jsonQuoted(run.serial) +
                ",\"generation\":" + jsonQuoted(run.generation) + ",\"scopes\":[";
            for (size_t k = 0; k < run.audited.size(); ++k) {
                const pp::history::AuditRow& r = run.audited[k];
                json += (k ? ",{" : "{") + std::string("\"scope\":") +
                        jsonQuoted(pp::history::scopeWord(r.state.scope)) + ",\"part\":" +
                        (r.state.part.empty() ? std::string("null") : jsonQuoted(r.state.part)) +
                        ",\"approved\":" + (r.approved ? "true" : "false") +
                        ",\"matches\":" + (r.matches ? (*r.matches ? "true" : "false") : "null") +
                        ",\"findings\":[";
                bool firstFinding = true;
                for (const pp::history::Entry& e : run.entries) {
                    if (e.scope != r.state.scope || e.part != r.state.part)
                        continue;
                    for (const pp::history::Finding& f : e.findings) {
                        json += (firstFinding ? "{" : ",{") + std::string("\"basis\":") +
                                jsonQuoted(f.basis) + ",\"caption\":" + jsonQuoted(f.caption) +
                                ",\"before\":" + jsonQuoted(f.before) +
                                ",\"after\":" + jsonQuoted(f.after) + "}";
                        firstFinding = false;
                    }
                }
                json += "]}";
            }
            json += "],\"parts_failed\":[";
            for (size_t k = 0; k < run.partsFailed.size(); ++k)
                json += (k ? ",{" : "{") + std::string("\"part\":") +
                        jsonQuoted(run.partsFailed[k].first) +
                        ",\"error\":" + jsonQuoted(run.partsFailed[k].second) + "}";
            json += "]}";
        }
        json += "],\"deviations\":" + std::to_string(deviations) +
                ",\"failures\":" + std::to_string(failures) + "}\n";

        if (deviations > 0 && !o_.onDeviation.empty())
            runHook("--on-deviation", o_.onDeviation, json);
        if (failures > 0 && !o_.onFailure.empty())
            runHook("--on-failure", o_.onFailure, json);
        return failures > 0 ? ExitLink : deviations > 0 ? ExitDiffer : ExitOk;
    }

    // The plant's own command (mail, chat, a ticket) with the summary on its standard input.
    void runHook(const char* option, const std::string& command, const std::string& summary) {
        QProcess hook;
        hook.setProcessChannelMode(QProcess::ForwardedChannels);
#ifdef Q_OS_WIN
        hook.startCommand(QString::fromStdString(command));
#else
        // As a shell would run it: the plant's command may quote, redirect and pipe.
        hook.start(QStringLiteral("/bin/sh"),
                   {QStringLiteral("-c"), QString::fromStdString(command)});
#endif
        if (!hook.waitForStarted(10000)) {
            c_.err << Program << option << ": " << hook.errorString().toStdString() << '\n';
            return;
        }
        hook.write(summary.data(), static_cast<qint64>(summary.size()));
        hook.closeWriteChannel();
        if (!hook.waitForFinished(HookWaitMs)) {
            hook.kill();
            hook.waitForFinished(1000);
            c_.err << Program << option << ": the command did not end within " << HookWaitMs / 1000
                   << " s\n";
        } else if (hook.exitStatus() != QProcess::NormalExit || hook.exitCode() != 0) {
            c_.err << Program << option << ": the command failed (exit " << hook.exitCode()
                   << ")\n";
        }
    }
    static constexpr int HookWaitMs = 60000;

    // One line per difference; ExitDiffer when there is any.
    int printDifferences(const std::vector<pp::Difference>& differences) {
        for (const pp::Difference& d : differences)
            c_.out << pp::differenceLine(d) << '\n';
        c_.out << std::flush;
        return differences.empty() ? ExitOk : ExitDiffer;
    }

    // Read as the window reads a file. The conversion question is answered No: a comparison
    // converts nothing, and both layouts give the same texts.
    bool readFile(const std::string& path, pp::Sheet& into) {
        window_.clear();
        return pp::ReadParamFile(into, path, window_, *c_.fs);
    }

    int diff() {
        pp::Sheet first;
        pp::Sheet second;
        if (!readFile(o_.file, first))
            return fileFailure(o_.file);
        if (!readFile(o_.file2, second))
            return fileFailure(o_.file2);
        return printDifferences(pp::compareSheets(first, second));
    }

    int verify() {
        pp::Sheet file;
        if (!readFile(o_.file, file))
            return fileFailure(o_.file);
        if (partNumberText(file.partSelection()) != file.partSelection()) {
            c_.err << Program << o_.file << ": part number \"" << file.partSelection()
                   << "\" is not 1..32\n";
            return ExitUsage;
        }
        if (!systemUpload() || !partUpload(file.partSelection()))
            return ExitLink;
        // Settings copied from another instrument: its own values are not the file's to match.
        if (!pp::sameSerial(file.text(pp::Sys::Serial), sheet_.text(pp::Sys::Serial))) {
            c_.err << Program << "the instrument is serial " << sheet_.text(pp::Sys::Serial)
                   << ", the file is from serial " << file.text(pp::Sys::Serial)
                   << ": its serial number, clock and calibration values are its own and not "
                      "compared\n";
            std::vector<pp::Difference> differences =
                pp::compareSettings(file, sheet_, pp::CompareGroup::System);
            for (pp::Difference& d : pp::compareSettings(file, sheet_, pp::CompareGroup::Part))
                differences.push_back(std::move(d));
            return printDifferences(differences);
        }
        return printDifferences(pp::compareSheets(file, sheet_));
    }

    // The file as the window opens it (the conversion question answered from --convert, No
    // without it), reported as the window prints it at `today`.
    int report() {
        pp::Sheet file;
        window_.clear();
        if (!pp::ReadParamFile(file, o_.file, window_, *c_.fs))
            return fileFailure(o_.file);
        const pp::Report composed = pp::composeReport(file, c_.today);
        if (o_.output.empty()) {
            c_.out << pp::reportText(composed) << std::flush;
            return ExitOk;
        }
        std::string why;
        const bool written =
            wantsPdf(o_)
                ? writePdf(
                      *c_.fs, o_.output,
                      [&](QPagedPaintDevice& pdf) { return pp::PrintReport(composed, pdf); }, why)
                : pp::replaceFileContent(*c_.fs, o_.output, pp::reportText(composed));
        if (!written) {
            c_.err << pp::ErrorWritingFile << '\n' << Program << o_.output << why << '\n';
            return ExitUsage;
        }
        return ExitOk;
    }

    const Options& o_;
    Context& c_;
    pp::Sheet sheet_;
    CliWindow window_;
    ModeAnswers answers_;
    pp::qt::SessionDriver driver_;
    std::unique_ptr<pp::qt::HistoryTap> history_;
    std::string historyNote_;
    std::string foundNote_;
    std::string lastFailure_; // what the last failed exchange said, on one line
    std::vector<pp::history::Entry> roundEntries_;
    int recorded_ = 0;
};

} // namespace

// A PDF writer cannot write through a save file: it renders into a temporary beside `path`,
// which replaces `path` only when the whole job succeeded. The temporary is the files' own
// (hidden, made as any new file is, cleared by a later write when a kill left it), not a
// QTemporaryFile: that one stays open until it goes, and Windows renames no open file.
bool writePdf(pp::FileSystem& fs, const std::string& path,
              const std::function<bool(QPagedPaintDevice&)>& paint, std::string& why) {
    // Fonts need a GUI application; main makes one for the commands that write a PDF.
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        why = ": a PDF needs a GUI application";
        return false;
    }
    const std::optional<std::string> temporary = fs.createTemporary(path);
    if (!temporary)
        return false;
    bool printed = false;
    {
        // As the window's Print to PDF: A4 at 1200 dpi, 10 mm margins. The writer's file is
        // closed when it goes.
        QPdfWriter writer(QString::fromStdString(*temporary));
        writer.setResolution(1200);
        writer.setPageSize(QPageSize(QPageSize::A4));
        writer.setPageMargins(QMarginsF(10, 10, 10, 10), QPageLayout::Millimeter);
        printed = paint(writer);
    }
    if (printed && fs.replace(*temporary, path))
        return true;
    fs.remove(*temporary);
    return false;
}

int run(const Options& options, Context& context) {
    switch (options.command) {
    case Command::Help:
        context.out << usageText() << std::flush;
        return ExitOk;
    case Command::Version:
        context.out << PP_VERSION << '\n' << std::flush;
        return ExitOk;
    default:
        break;
    }
    // --history-server wins over the environment and the window's setting. Comparing or
    // printing files records nothing: a server they would never use does not stop them.
    if (!options.historyServer.empty())
        context.historyServer = options.historyServer;
    const bool filesOnly = options.command == Command::Diff || options.command == Command::Report;
    if (filesOnly)
        context.historyServer.clear();
    for (const auto& [name, uri] : {std::pair{"history server URI", context.historyServer},
                                    std::pair{"--server", options.server}}) {
        if (uri.empty())
            continue;
        if (const auto problem = pp::history::uriProblem(uri)) {
            context.err << Program << name << ": " << *problem << '\n';
            return ExitUsage;
        }
    }
    // Arguments are there for every account of the PC to see (ps).
    for (const auto& [name, uri] : {std::pair{"--history-server", options.historyServer},
                                    std::pair{"--server", options.server}}) {
        if (!uri.empty() && pp::history::uriHasPassword(uri)) {
            context.err << Program << name
                        << ": keep the password in ~/.pgpass (or PGPASSWORD), not in the URI: "
                           "every account of this PC can read a command's arguments\n";
            return ExitUsage;
        }
    }
    const int code = options.command == Command::History
                         ? runHistory(options, context, historyPath(options, context))
                     : options.command == Command::Audit
                         ? runAudit(options, context, historyPath(options, context))
                         : Runner(options, context).run();
    // A listing or report that did not reach its reader (a full disk, a closed pipe) is no
    // success.
    if (code != ExitUsage && !(context.out << std::flush)) {
        context.err << Program << "standard output cannot be written\n";
        return ExitUsage;
    }
    return code;
}

} // namespace pp::cli
