// paramporter-cli's commands over whole instruments: backup (one file per configured part) and
// round (several ports read, audited, the plant's hooks told).
#include "app/cli_rounds.h"

#include "app/cli_session.h"

#include "files/file_commands.h"
#include "files/native.h"
#include "files/param_file.h"
#include "history/formats.h"
#include "history/recording.h"
#include "history/round.h"
#include "history/source.h"
#include "qt/serial_adapter.h"

#include <QProcess>

#include <algorithm>
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

// One port of the round read: the system parameters, the part-number list, every configured
// part, each upload recorded with its findings.
pp::history::PortRound readPort(CliSession& s, const std::string& port) {
    pp::history::PortRound run;
    const bool comm =
        std::all_of(port.begin(), port.end(), [](char ch) { return ch >= '0' && ch <= '9'; });
    run.port = comm ? "COMM " + port : port;
    run.device = comm ? pp::qt::devicePathForPort(std::stoi(port)).toStdString() : port;
    s.usePort(port);
    const size_t first = s.recorded().size();
    s.sheet() = pp::Sheet();
    const pp::qt::WholeRead whole = s.readWhole(pp::qt::SweepStop::LinkGone);
    if (!whole.reached()) {
        run.error = s.lastFailure();
    } else {
        run.serial = whole.instrument.text(pp::Sys::Serial);
        run.generation = std::string(pp::generationWord(whole.instrument.generation()));
        for (const auto& [pn, failed] : whole.parts.failed)
            run.partsFailed.emplace_back(pn, failed.failure);
        for (const std::string& pn : whole.parts.notRead)
            run.partsFailed.emplace_back(pn, "not read: the port failed");
    }
    run.entries.assign(s.recorded().begin() + static_cast<std::ptrdiff_t>(first),
                       s.recorded().end());
    return run;
}

void printPort(std::ostream& out, const pp::history::PortRound& run) {
    using pp::history::terminalText;
    out << terminalText(run.port == run.device ? run.device : run.port + " " + run.device) << ": ";
    if (!run.error.empty()) {
        out << "failed: " << terminalText(run.error) << '\n';
        return;
    }
    out << "serial " << terminalText(run.serial) << ", " << run.entries.size() << " read, "
        << run.deviations << (run.deviations == 1 ? " deviates" : " deviate") << '\n';
    for (const pp::history::Entry& e : run.entries)
        if (!e.findings.empty())
            out << "  " << terminalText(pp::history::findingsMessage(e, e.findings, std::nullopt))
                << '\n';
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
// line per port, and the hooks told once.
int roundCommand(CliSession& s) {
    const Options& o = s.options();
    Context& c = s.context();
    std::vector<pp::history::PortRound> runs;
    for (const std::string& port : o.ports)
        runs.push_back(readPort(s, port));

    pp::history::ApprovalsSource approvals;
    if (s.history()) {
        if (!c.historyServer.empty())
            forwardBeforeExit(s.history()->path(), c.historyServer, c.err);
        approvals =
            pp::history::approvalsSource(s.history()->path(), c.historyServer, ForwardWaitMs);
        if (!approvals.fellBack.empty())
            c.err << Program << "approvals of this PC only: " << approvals.fellBack << '\n';
        if (!approvals.error.empty())
            c.err << Program << "the audit cannot be read: " << approvals.error << '\n';
    }

    const std::string now = pp::history::utcTimestamp();
    for (pp::history::PortRound& run : runs) {
        if (!run.error.empty() || run.serial.empty() || !approvals.source)
            continue;
        const auto rows = pp::history::audit(*approvals.source, run.serial, 0, now);
        if (!rows)
            c.err << Program << "the audit cannot be read: " << approvals.source->error() << '\n';
        pp::history::auditPort(run, rows);
    }
    for (const pp::history::PortRound& run : runs)
        printPort(c.out, run);
    c.out << std::flush;

    const std::string summary = pp::history::roundSummaryJson(runs, now, pp::history::hostName(),
                                                              pp::history::accountName());
    const int deviations = pp::history::roundDeviations(runs);
    const int failures = pp::history::roundFailures(runs);
    if (deviations > 0 && !o.onDeviation.empty())
        runHook(c.err, "--on-deviation", o.onDeviation, summary);
    if (failures > 0 && !o.onFailure.empty())
        runHook(c.err, "--on-failure", o.onFailure, summary);
    return failures > 0 ? ExitLink : deviations > 0 ? ExitDiffer : ExitOk;
}

} // namespace pp::cli
