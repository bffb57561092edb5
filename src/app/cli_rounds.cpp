// paramporter-cli's commands over whole instruments: backup (one file per configured part) and
// round (several ports read, audited, the plant's hooks told).
#include "app/cli_rounds.h"

#include "app/cli_session.h"

#include "files/file_commands.h"
#include "files/native.h"
#include "files/param_file.h"
#include "history/formats.h"
#include "history/plant_copy.h"
#include "history/recording.h"
#include "history/round.h"
#include "history/source.h"
#include "history/store.h"
#include "qt/plant_policy.h"
#include "qt/serial_adapter.h"
#include "sheet/compare.h"

#include <QProcess>

#include <algorithm>
#include <chrono>
#include <ostream>

namespace pp::cli {

namespace {

constexpr int HookWaitMs = 60000;

// The plant's own command (mail, chat, a ticket) with the summary on its standard input.
void runHook(std::ostream& err, const char* option, const std::string& command,
             const std::string& summary) {
    QProcess hook;
    hook.setProcessChannelMode(QProcess::ForwardedChannels);
#ifdef Q_OS_WIN
    hook.startCommand(QString::fromStdString(command));
#else
    // As a shell would run it: the plant's command may quote, redirect and pipe.
    hook.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), QString::fromStdString(command)});
#endif
    if (!hook.waitForStarted(10000)) {
        err << Program << option << ": " << hook.errorString().toStdString() << '\n';
        return;
    }
    hook.write(summary.data(), static_cast<qint64>(summary.size()));
    hook.closeWriteChannel();
    if (!hook.waitForFinished(HookWaitMs)) {
        hook.kill();
        hook.waitForFinished(1000);
        err << Program << option << ": the command did not end within " << HookWaitMs / 1000
            << " s\n";
    } else if (hook.exitStatus() != QProcess::NormalExit || hook.exitCode() != 0) {
        err << Program << option << ": the command failed (exit " << hook.exitCode() << ")\n";
    }
}

constexpr std::string_view DeadlinePassed = "not read: the round's deadline passed";

using Clock = std::chrono::steady_clock;

// One port of the round read: the system parameters, the part-number list, every configured
// part, each upload recorded with its findings. Nothing begins after `deadline`.
pp::history::PortRound readPort(CliSession& s, const std::string& port,
                                std::optional<Clock::time_point> deadline) {
    pp::history::PortRound run;
    const bool comm =
        std::all_of(port.begin(), port.end(), [](char ch) { return ch >= '0' && ch <= '9'; });
    run.port = comm ? "COMM " + port : port;
    run.device = comm ? pp::qt::devicePathForPort(std::stoi(port)).toStdString() : port;
    const auto inTime = [&deadline] { return !deadline || Clock::now() < *deadline; };
    if (!inTime()) {
        run.error = std::string(DeadlinePassed);
        return run;
    }
    s.usePort(port);
    const size_t first = s.observed().size();
    s.sheet() = pp::Sheet();
    const pp::qt::WholeRead whole = s.readWhole(pp::qt::SweepStop::LinkGone, inTime);
    if (!whole.reached()) {
        run.error = whole.cancelled ? std::string(DeadlinePassed) : s.lastFailure();
    } else {
        run.serial = pp::serialKey(whole.instrument.text(pp::Sys::Serial));
        run.generation = std::string(pp::generationWord(whole.instrument.generation()));
        run.optionCode = whole.instrument.text(pp::Sys::OptionCode);
        for (const auto& [pn, failed] : whole.parts.failed)
            run.partsFailed.emplace_back(pn, failed.failure);
        for (const std::string& pn : whole.parts.notRead)
            run.partsFailed.emplace_back(pn, whole.parts.cancelled
                                                 ? std::string(DeadlinePassed)
                                                 : std::string("not read: the port failed"));
    }
    for (size_t i = first; i < s.observed().size(); ++i) {
        const auto& seen = s.observed()[i];
        run.entries.push_back({seen.entry, seen.recorded, seen.lastAction});
    }
    return run;
}

// The first entry this round recorded through the port: what was there before comes before it.
int64_t firstRecorded(const pp::history::PortRound& run) {
    for (const pp::history::RoundEntry& e : run.entries)
        if (e.recorded)
            return e.entry.id;
    return 0;
}

// What this PC's history knew of the port and of the serial read there before the round.
void compareWithBefore(pp::history::PortRound& run, pp::history::Store& local) {
    const auto before = local.lastAtPort(run.device, firstRecorded(run));
    if (!run.error.empty()) {
        if (before)
            run.serial = before->serial; // who the round would have read
        return;
    }
    std::optional<pp::history::Entry> sameSerial;
    pp::history::Filter filter;
    filter.serial = run.serial;
    filter.action = pp::history::Action::Upload;
    const int64_t beforeId = firstRecorded(run);
    local.scan(filter, 0, beforeId, true, [&](const pp::history::Entry& e) {
        if (e.scope != pp::history::Scope::System || !e.succeeded())
            return true;
        sameSerial = e;
        return false;
    });
    pp::history::findInstrumentChanges(run, before, sameSerial);
}

void printPort(std::ostream& out, const pp::history::PortRound& run) {
    using pp::history::terminalText;
    out << terminalText(run.port == run.device ? run.device : run.port + " " + run.device) << ": ";
    if (!run.error.empty()) {
        out << "failed: " << terminalText(run.error) << '\n';
        return;
    }
    out << "serial " << terminalText(run.serial) << ", " << run.read() << " read, "
        << run.deviations << (run.deviations == 1 ? " deviates" : " deviate") << '\n';
    for (const std::string& f : run.findings)
        out << "  " << terminalText(f) << '\n';
    for (const pp::history::RoundEntry& e : run.entries)
        if (!e.entry.findings.empty())
            out << "  "
                << terminalText(
                       pp::history::findingsMessage(e.entry, e.entry.findings, e.lastAction))
                << '\n';
    // What the audit knows that the round did not read.
    for (const pp::history::AuditRow& r : run.audited) {
        bool read = false;
        for (const pp::history::RoundEntry& e : run.entries)
            read = read || (e.entry.scope == r.state.scope && e.entry.part == r.state.part &&
                            e.entry.action == pp::history::Action::Upload);
        if (!read)
            out << "  " << pp::history::scopeName(r.state.scope, r.state.part)
                << " not read, and it does not hold its approved values\n";
    }
    for (const auto& [pn, why] : run.partsFailed)
        out << "  part " << pn << " failed: " << terminalText(why) << '\n';
}

} // namespace

int backupCommand(CliSession& s) {
    const Options& o = s.options();
    Context& c = s.context();
    // Every exchange first: a failure half-way leaves no files behind.
    const pp::qt::WholeRead whole = s.readWhole(pp::qt::SweepStop::FirstFailure);
    if (!whole.reached())
        return ExitLink;
    if (whole.configured.empty()) {
        c.err << Program << "no part numbers are configured: nothing saved\n";
        return ExitOk;
    }
    if (!whole.parts.failed.empty()) {
        s.reportFailure(whole.parts.failed.front().second.outcome, pp::Outcome::PartRecord);
        s.printHistoryNote();
        return ExitLink;
    }
    std::vector<std::pair<std::string, pp::Sheet>> files;
    for (const pp::Sheet& part : whole.parts.sheets) {
        const std::string name = pp::DefaultFileName(part, c.today);
        if (name.empty()) {
            c.err << pp::ErrorWritingFile << '\n'
                  << Program << "no serial number to name the files by\n";
            return ExitUsage;
        }
        files.emplace_back(pp::utf8FromPath(pp::pathFromUtf8(o.dir) / pp::pathFromUtf8(name)),
                           part);
    }

    s.window().clear();
    if (!c.fs->makeFolder(o.dir)) {
        c.err << pp::ErrorWritingFile << '\n';
        return s.fileFailure(o.dir);
    }
    std::vector<std::string> created;
    for (const auto& [path, sheet] : files) {
        const bool existed = c.fs->exists(path);
        if (!pp::WriteParamFile(sheet, path, s.window(), *c.fs)) {
            for (const std::string& p : created)
                c.fs->remove(p);
            return s.fileFailure(path);
        }
        if (!existed)
            created.push_back(path);
    }
    for (const auto& entry : files)
        c.out << entry.first << '\n';
    c.out << std::flush;
    return ExitOk;
}

// One round: every port read, then what was read audited against the approvals (the plant's
// when a server is configured, once this round's entries have reached it; else this PC's), a
// line per port, the round's own failures, and the hooks told once.
int roundCommand(CliSession& s) {
    const Options& o = s.options();
    Context& c = s.context();
    std::optional<Clock::time_point> deadline;
    if (o.deadlineSeconds > 0)
        deadline = Clock::now() + std::chrono::seconds(o.deadlineSeconds);
    std::vector<pp::history::PortRound> runs;
    for (const std::string& port : o.ports)
        runs.push_back(readPort(s, port, deadline));

    // Checks that could not be made fail the round; they never pass for compliance.
    std::vector<std::string> problems;
    pp::history::ApprovalsSource approvals;
    if (!s.history()) {
        problems.push_back("no history: nothing to audit against");
    } else {
        if (!s.historyLost().empty())
            problems.push_back(s.historyLost());
        if (!c.historyServer.empty())
            if (const auto why = forwardBeforeExit(s.history()->path(), c.historyServer, c.err))
                problems.push_back(std::string(NotForwarded) + *why);
        approvals =
            pp::history::approvalsSource(s.history()->path(), c.historyServer, ForwardWaitMs);
        if (!approvals.fellBack.empty()) {
            c.err << Program << "the plant's approvals cannot be read: " << approvals.fellBack
                  << '\n';
            problems.push_back("the plant's approvals cannot be read: " + approvals.fellBack);
        }
        if (!approvals.error.empty()) {
            c.err << Program << "the audit cannot be read: " << approvals.error << '\n';
            problems.push_back("the audit cannot be read: " + approvals.error);
        }
    }

    // The plant's rules where there is a plant (as last copied while it cannot be read), else
    // this PC's.
    pp::history::PlantPolicy policy = pp::qt::localPlantPolicy();
    if (!c.historyServer.empty() && s.history())
        policy = pp::history::copiedPolicy(s.history()->path())
                     .value_or(pp::history::unknownPlantPolicy());
    if (auto* plant = dynamic_cast<pp::history::PlantSource*>(approvals.source.get()))
        if (const auto p = plant->policy())
            policy = *p;

    pp::history::Store local;
    const bool known =
        s.history() && local.open(s.history()->path(), pp::history::Store::Mode::ReadOnly);
    const std::string now = pp::history::utcTimestamp();
    for (pp::history::PortRound& run : runs) {
        if (known)
            compareWithBefore(run, local);
        if (!run.error.empty() || run.serial.empty())
            continue;
        std::optional<std::vector<pp::history::AuditRow>> rows;
        if (approvals.source && approvals.error.empty()) {
            pp::history::compareUnrecorded(run, *approvals.source);
            rows = pp::history::audit(*approvals.source, run.serial, 0, now, policy);
            if (!rows) {
                c.err << Program << "the audit cannot be read: " << approvals.source->error()
                      << '\n';
                problems.push_back("the audit of serial " + run.serial +
                                   " cannot be read: " + approvals.source->error());
            }
        }
        pp::history::auditPort(run, rows, policy);
    }
    for (const pp::history::PortRound& run : runs)
        printPort(c.out, run);
    for (const std::string& p : problems)
        c.out << "round failed: " << pp::history::terminalText(p) << '\n';
    c.out << std::flush;

    const std::string summary = pp::history::roundSummaryJson(
        runs, problems, now, pp::history::hostName(), pp::history::accountName());
    const int deviations = pp::history::roundDeviations(runs);
    const int failures = pp::history::roundFailures(runs, problems);
    if (deviations > 0 && !o.onDeviation.empty())
        runHook(c.err, "--on-deviation", o.onDeviation, summary);
    if (failures > 0 && !o.onFailure.empty())
        runHook(c.err, "--on-failure", o.onFailure, summary);
    return failures > 0 ? ExitLink : deviations > 0 ? ExitDiffer : ExitOk;
}

} // namespace pp::cli
