// paramporter-cli audit: every instrument and scope this PC (or, with --server, the plant) has
// seen, against its approval; and with --report an auditor's report of a period: every entry
// with who, where, why and what changed, the approvals and the chain check.
#include "app/cli_audit.h"
#include "app/cli_session.h"

#include "files/file_system.h"
#include "files/param_file.h"
#include "history/audit.h"
#include "history/formats.h"
#include "history/plant_copy.h"
#include "history/recording.h"
#include "history/server.h"
#include "history/source.h"
#include "qt/plant_policy.h"
#include "report/audit_report.h"
#include "report/report_painter.h"
#include "sheet/compare.h"

#include <QPagedPaintDevice>

#include <algorithm>
#include <map>
#include <memory>
#include <ostream>
#include <unordered_map>

namespace pp::cli {

namespace {

using pp::history::Action;
using pp::history::AuditRow;
using pp::history::Entry;

// A text as the report prints it: its line breaks kept, everything else as a terminal shows it.
std::string printable(std::string_view text) {
    std::string out;
    for (;;) {
        const size_t end = text.find('\n');
        out += pp::history::terminalText(text.substr(0, end));
        if (end == std::string_view::npos)
            return out;
        out += '\n';
        text.remove_prefix(end + 1);
    }
}

// "matches", "written, not read back since", "differs", "not uploaded since", "approval
// revoked", "never approved"; a stale one says so after it.
std::string stateWord(const AuditRow& r) {
    if (r.revoked)
        return "approval revoked";
    if (!r.approved)
        return "never approved";
    if (!r.matches)
        return "not uploaded since";
    if (!*r.matches)
        return "differs";
    return r.written ? "written, not read back since" : "matches";
}

// The approval in force was made on one PC alone: no person signed it at a plant server.
bool unsignedApproval(const AuditRow& r) {
    return r.state.approval && !r.state.approval->signature;
}

std::string differencesText(const std::vector<pp::Difference>& differences) {
    std::string text;
    for (const pp::Difference& d : differences)
        text += (text.empty() ? "" : ", ") + pp::changeText(d.caption, d.a, d.b);
    return text;
}

// "1234 part 05 differs: Leak Limit 7.5 -> 9; last contact 2026-12-08T14:03:07.412Z on line-1"
std::string auditLine(const AuditRow& r, int staleDays) {
    const auto& s = r.state;
    std::string line = pp::history::terminalText(s.serial.empty() ? "-" : s.serial) + " " +
                       pp::history::scopeName(s.scope, s.part) + " " + stateWord(r);
    if (!r.differences.empty())
        line += ": " + pp::history::terminalText(differencesText(r.differences));
    if (!r.calibration.empty())
        line +=
            "; calibration changed: " + pp::history::terminalText(differencesText(r.calibration));
    if (!s.lastContact.empty())
        line += "; last contact " + pp::history::terminalText(s.lastContact) + " on " +
                pp::history::terminalText(s.lastHost.empty() ? "-" : s.lastHost);
    else
        line += "; no transfer recorded";
    if (r.stale)
        line += "; stale (older than " + std::to_string(staleDays) + " days)";
    if (unsignedApproval(r))
        line += "; approval unsigned, local";
    return line;
}

std::string auditJson(const AuditRow& r) {
    using pp::history::jsonQuoted;
    const auto& s = r.state;
    std::string out = "{\"serial\":" + jsonQuoted(s.serial) +
                      ",\"scope\":" + jsonQuoted(pp::history::scopeWord(s.scope)) +
                      ",\"part\":" + (s.part.empty() ? std::string("null") : jsonQuoted(s.part)) +
                      ",\"generation\":" + jsonQuoted(s.generation) +
                      ",\"approved\":" + (r.approved ? "true" : "false") +
                      ",\"revoked\":" + (r.revoked ? "true" : "false") +
                      ",\"matches\":" + (r.matches ? (*r.matches ? "true" : "false") : "null") +
                      ",\"written\":" + (r.written ? "true" : "false");
    for (const auto& [name, list] :
         {std::pair{"differences", &r.differences}, std::pair{"calibration", &r.calibration}}) {
        out += ",\"" + std::string(name) + "\":[";
        for (size_t i = 0; i < list->size(); ++i) {
            const pp::Difference& d = (*list)[i];
            out += (i ? ",{" : "{") + std::string("\"caption\":") + jsonQuoted(d.caption) +
                   ",\"approved\":" + jsonQuoted(d.a) + ",\"uploaded\":" + jsonQuoted(d.b) + "}";
        }
        out += "]";
    }
    out += ",\"last_contact\":" +
           (s.lastContact.empty() ? std::string("null") : jsonQuoted(s.lastContact)) +
           ",\"last_host\":" + (s.lastHost.empty() ? std::string("null") : jsonQuoted(s.lastHost)) +
           ",\"stale\":" + (r.stale ? "true" : "false") + ",\"approval\":";
    if (s.approval) {
        const Entry& a = *s.approval;
        out += "{\"id\":" + std::to_string(a.id) + ",\"time\":" + jsonQuoted(a.time) +
               ",\"user\":" + jsonQuoted(a.user) + ",\"host\":" + jsonQuoted(a.host) +
               ",\"meaning\":" + jsonQuoted(a.meaning) + ",\"reason\":" + jsonQuoted(a.reason) +
               ",\"signature\":" +
               (a.signature ? "{\"login\":" + jsonQuoted(a.signature->login) +
                                  ",\"name\":" + jsonQuoted(a.signature->name) +
                                  ",\"signed\":" + jsonQuoted(a.signature->time) + "}"
                            : std::string("null")) +
               "}";
    } else {
        out += "null";
    }
    return out + ",\"complies\":" + (r.complies() ? "true" : "false") + "}";
}

class AuditCommand {
public:
    AuditCommand(const Options& options, Context& context) : o_(options), c_(context) {}

    int run(const std::string& path) {
        pp::history::EntrySource* source = nullptr;
        std::unique_ptr<pp::history::LocalSource> local;
        std::unique_ptr<pp::history::PlantSource> plant;
        if (!o_.server.empty()) {
            plant = std::make_unique<pp::history::PlantSource>();
            plant->setUri(o_.server);
            pp::history::Limits limits;
            limits.connectTimeoutMs = limits.answerTimeoutMs = 30000;
            plant->setLimits(limits);
            source = plant.get();
        } else {
            local = std::make_unique<pp::history::LocalSource>(path);
            // A PC that forwards to a plant follows the plant's approvals.
            local->setApprovalsFromPlant(!c_.historyServer.empty());
            source = local.get();
        }
        if (!source->ready()) {
            c_.err << Program << source->error() << '\n';
            return ExitUsage;
        }
        std::string copiedAt;
        const auto copied = local && !c_.historyServer.empty()
                                ? pp::history::copiedPolicy(path, &copiedAt)
                                : std::nullopt;
        // Following a plant whose approvals never reached this PC would find everything
        // "never approved": no audit at all.
        if (local && !c_.historyServer.empty() && !copied && o_.report.empty()) {
            c_.err << Program
                   << "no copy of the plant's approvals has reached this PC yet: forward once "
                      "(history --push), or audit the plant (--server URI)\n";
            return ExitUsage;
        }
        pp::history::PlantPolicy policy = c_.historyServer.empty()
                                              ? pp::qt::localPlantPolicy()
                                              : copied.value_or(pp::history::unknownPlantPolicy());
        if (plant)
            if (const auto p = plant->policy())
                policy = *p;
        return o_.report.empty() ? listing(*source, policy) : report(*source, plant.get(), path);
    }

private:
    int listing(pp::history::EntrySource& source, const pp::history::PlantPolicy& policy) {
        const auto rows = pp::history::audit(source, o_.serial, o_.staleDays,
                                             pp::history::utcTimestamp(), policy);
        if (!rows) {
            c_.err << Program << source.error() << '\n';
            return ExitUsage;
        }
        bool complies = true;
        for (const AuditRow& r : *rows) {
            c_.out << (o_.json ? auditJson(r) : auditLine(r, o_.staleDays)) << '\n';
            complies = complies && r.complies();
        }
        c_.out << std::flush;
        // Nothing to audit is no compliance.
        if (rows->empty()) {
            c_.err << Program << "no instrument has been recorded"
                   << (o_.serial.empty() ? "" : " with serial number " + o_.serial)
                   << ": nothing to audit\n";
            return ExitUsage;
        }
        return complies ? ExitOk : ExitDiffer;
    }

    // The chain check of the history the entries come from; `checked` false when it could not
    // be made, the text then says why.
    std::string chainCheck(pp::history::PlantSource* plant, const std::string& path, bool& checked,
                           bool& broken) {
        std::optional<pp::history::Verification> v;
        std::string why;
        if (plant) {
            pp::history::Plant server;
            pp::history::Limits limits;
            limits.connectTimeoutMs = limits.answerTimeoutMs = 30000;
            if (server.open(o_.server, limits))
                v = server.verify();
            why = server.error();
        } else {
            pp::history::Store store;
            if (store.open(path, pp::history::Store::Mode::ReadOnly))
                v = store.verify();
            why = store.missing() ? "there is no history at " + path : store.error();
        }
        checked = v.has_value();
        broken = v && v->firstBroken != 0;
        if (!v)
            return "not checked: " + (why.empty() ? std::string("no answer") : why);
        return v->firstBroken == 0
                   ? "intact, " + std::to_string(v->entries) + " entries"
                   : "broken at entry " + std::to_string(v->firstBroken) + ": " + v->why;
    }

    // One entry of the report: what it prints of it.
    struct ReportRow {
        int64_t id = 0;
        Action action = Action::Upload;
        pp::history::Scope scope = pp::history::Scope::System;
        std::string time, user, host, part, serial, result, reason, meaning, findings;
        // An approval's or revocation's signer (printed name, login) and the server's time of
        // signing; "unsigned, local" as the name for one made on one PC alone.
        std::string signedBy, signerLogin, signedAt;
        bool unsignedLocal = false;
        std::string changes;
        std::optional<int64_t> subject; // the approved entry's ID in this history
        std::string subjectText;
        std::string note;
    };

    // Every entry of the period in the order recorded, with what each changed. The period runs
    // from the first entry dated on or after --from to the last dated on or before --to, in
    // the order the entries were recorded, and holds every entry recorded between them
    // whatever its date: a PC whose clock was wrong adds entries to the period, never hides
    // one. The whole history is read once, oldest first; the values each instrument and scope
    // last held are kept on the way, so what an entry changed costs no query.
    bool periodRows(pp::history::EntrySource& source, std::vector<ReportRow>& rows,
                    size_t& outOfOrder) {
        pp::history::Filter filter;
        filter.serial = o_.serial;
        std::map<std::string, std::optional<pp::Sheet>> last; // by instrument, scope, kind
        std::unordered_map<std::string, int64_t> known;       // transfers' IDs by their hash
        std::map<std::string, std::pair<int64_t, std::string>> clock; // by PC: ID, time
        bool started = o_.from.empty();
        size_t end = 0; // rows up to the last dated on or before --to
        outOfOrder = 0;
        const bool ok = source.scanRecorded(filter, [&](const Entry& e) {
            const std::string day = e.time.substr(0, 10);
            started = started || day >= o_.from;
            ReportRow row;
            if (e.file && !e.serial.empty()) {
                const std::string key = e.serial + '\n' +
                                        std::string(pp::history::scopeWord(e.scope)) + '\n' +
                                        e.part + '\n' + (e.action == Action::Approve ? "a" : "t");
                auto now = pp::history::sheetOf(e);
                const auto before = last.find(key);
                if (started && now && before != last.end() && before->second) {
                    pp::history::EntryChanges changes;
                    changes.status = pp::history::EntryChanges::Status::Compared;
                    changes.differences = pp::compareSheets(*before->second, *now);
                    for (const pp::Difference& d : pp::history::scopeChanges(changes, e.scope))
                        row.changes +=
                            (row.changes.empty() ? "" : "; ") + pp::changeText(d.caption, d.a, d.b);
                }
                last[key] = std::move(now);
            }
            if (!e.hash.empty() && e.action != Action::Approve && e.action != Action::Revoke)
                known.emplace(e.hash, e.id);
            auto& pc = clock[e.source];
            const bool setBack = pc.first != 0 && e.time < pc.second;
            if (started && setBack)
                row.note = "dated before entry " + std::to_string(pc.first) + " (" + pc.second +
                           "), which its PC recorded before it";
            if (!setBack)
                pc = {e.id, e.time};
            if (!started)
                return true;
            outOfOrder += setBack;
            if (e.action == Action::Approve) {
                const auto s = e.subjectHash.empty() ? known.end() : known.find(e.subjectHash);
                if (s != known.end())
                    row.subject = s->second;
                else if (e.subject)
                    row.subjectText = "entry " + std::to_string(*e.subject) +
                                      " of the history it was approved in (not in this one)";
            }
            row.id = e.id;
            row.action = e.action;
            row.scope = e.scope;
            row.time = e.time;
            row.user = e.user;
            row.host = e.host;
            row.part = e.part;
            row.serial = e.serial;
            row.result = pp::history::resultText(e);
            row.reason = e.reason;
            row.meaning = e.meaning;
            if (!e.refused.empty())
                row.note = "refused by the plant server: " + e.refused +
                           (row.note.empty() ? "" : "; " + row.note);
            if (e.signature && e.refused.empty()) {
                row.signedBy = e.signature->name;
                row.signerLogin = e.signature->login;
                row.signedAt = e.signature->time;
            } else {
                row.signedBy = pp::history::signatureLabel(e);
                row.unsignedLocal = !e.signature && e.refused.empty();
            }
            for (const pp::history::Finding& f : e.findings)
                row.findings += (row.findings.empty() ? "" : "; ") + pp::history::findingText(f);
            rows.push_back(std::move(row));
            if (o_.to.empty() || day <= o_.to)
                end = rows.size();
            return true;
        });
        rows.resize(end);
        // What each approval approves: the entry of that ID among the rows, else as read.
        for (ReportRow& r : rows) {
            if (!r.subject || !r.subjectText.empty())
                continue;
            std::string what;
            const auto s =
                std::lower_bound(rows.begin(), rows.end(), *r.subject,
                                 [](const ReportRow& row, int64_t id) { return row.id < id; });
            if (s != rows.end() && s->id == *r.subject) {
                what = std::string(pp::history::actionWord(s->action)) + " " +
                       pp::history::scopeName(s->scope, s->part) + " of serial " +
                       (s->serial.empty() ? "-" : s->serial) + " at " + s->time;
            } else if (const auto e = source.entry(*r.subject)) {
                what = std::string(pp::history::actionWord(e->action)) + " " +
                       pp::history::scopeName(e->scope, e->part) + " of serial " +
                       (e->serial.empty() ? "-" : e->serial) + " at " + e->time;
            }
            r.subjectText =
                "entry " + std::to_string(*r.subject) + (what.empty() ? "" : ": " + what);
        }
        return ok;
    }

    std::string periodText() const {
        return (o_.from.empty() ? std::string("the first entry") : o_.from) + " to " +
               (o_.to.empty() ? std::string("the last entry") : o_.to);
    }

    std::string selectionText(const std::vector<ReportRow>& rows, size_t outOfOrder) const {
        std::string text = std::to_string(rows.size()) + (rows.size() == 1 ? " entry" : " entries");
        if (!rows.empty())
            text += ", IDs " + std::to_string(rows.front().id) + " to " +
                    std::to_string(rows.back().id);
        text += ": every entry recorded from the " +
                (o_.from.empty() ? std::string("first") : "first dated on or after " + o_.from) +
                " to the " +
                (o_.to.empty() ? std::string("last") : "last dated on or before " + o_.to) +
                ", in the order recorded, whatever its date";
        if (outOfOrder)
            text += "; " + std::to_string(outOfOrder) + (outOfOrder == 1 ? " is" : " are") +
                    " dated before an entry its PC recorded earlier (a clock set back)";
        return text;
    }

    int report(pp::history::EntrySource& source, pp::history::PlantSource* plant,
               const std::string& path) {
        std::vector<ReportRow> rows;
        size_t outOfOrder = 0;
        if (!periodRows(source, rows, outOfOrder)) {
            c_.err << Program << source.error() << '\n';
            return ExitUsage;
        }
        bool checked = false, broken = false;
        const std::string chain = chainCheck(plant, path, checked, broken);

        const bool csv =
            o_.report.size() >= 4 && (o_.report.substr(o_.report.size() - 4) == ".csv" ||
                                      o_.report.substr(o_.report.size() - 4) == ".CSV");
        std::string why, summaryError;
        bool written = false;
        if (csv) {
            std::string text =
                pp::history::csvLine({"ID", "Time", "Account", "Host", "Action", "Scope", "Part",
                                      "Serial", "Reason", "Result", "Meaning", "Subject", "Changes",
                                      "Findings", "Signed By", "Signer Login", "Signed At"});
            for (const ReportRow& r : rows)
                text += pp::history::csvLine(
                    {std::to_string(r.id), r.time, r.user, r.host,
                     std::string(pp::history::actionWord(r.action)),
                     std::string(pp::history::scopeWord(r.scope)), r.part, r.serial, r.reason,
                     r.result, r.meaning, r.subject ? std::to_string(*r.subject) : std::string(),
                     r.changes, r.findings, r.signedBy, r.signerLogin, r.signedAt});
            text += pp::history::csvLine({"Chain check", chain});
            written = pp::replaceFileContent(*c_.fs, o_.report, text);
        } else {
            pp::AuditReportDocument d = document(source, plant, path, rows, outOfOrder);
            d.chain = printable(chain);
            summaryError = d.summaryError;
            written = writePdf(
                *c_.fs, o_.report,
                [&](QPagedPaintDevice& pdf) {
                    const pp::LineGrid grid = pp::lineGrid(pdf);
                    return pp::PrintPages(pp::auditReportPages(d, grid.columns, grid.rows), pdf);
                },
                why);
        }
        if (!written) {
            c_.err << pp::ErrorWritingFile << '\n' << Program << o_.report << why << '\n';
            return ExitUsage;
        }
        if (!checked)
            c_.err << Program << "chain check: " << pp::history::terminalText(chain) << '\n';
        if (!summaryError.empty())
            c_.err << Program
                   << "the audit was not read: " << pp::history::terminalText(summaryError) << '\n';
        if (broken)
            return ExitBroken;
        return checked && summaryError.empty() ? ExitOk : ExitUsage;
    }

    // The PDF's content: the first page's facts and summary, every entry's texts as printed.
    pp::AuditReportDocument document(pp::history::EntrySource& source,
                                     pp::history::PlantSource* plant, const std::string& path,
                                     const std::vector<ReportRow>& rows, size_t outOfOrder) {
        pp::AuditReportDocument d;
        d.instruments = o_.serial.empty() ? "every instrument" : "serial " + printable(o_.serial);
        d.period = periodText();
        d.selection = selectionText(rows, outOfOrder);
        d.source = plant ? "the plant server, " + printable(o_.server)
                         : "this PC's history, " + printable(path);
        d.where = plant ? "the plant server" : "this PC";
        const std::string now = pp::history::utcTimestamp();
        d.made = now + " by " + printable(pp::history::accountName()) + " on " +
                 printable(pp::history::hostName());
        if (const auto audited = pp::history::audit(source, o_.serial, o_.staleDays, now)) {
            for (const AuditRow& r : *audited) {
                const auto& s = r.state;
                pp::AuditSummaryLine line;
                line.serial = s.serial.empty() ? "-" : printable(s.serial);
                line.scope = pp::history::scopeName(s.scope, s.part);
                line.state = stateWord(r);
                line.lastContact =
                    s.lastContact.empty()
                        ? std::string("no transfer recorded")
                        : printable(s.lastContact) + " on " +
                              (s.lastHost.empty() ? std::string("-") : printable(s.lastHost));
                line.detail = printable(differencesText(r.differences));
                if (unsignedApproval(r))
                    line.detail +=
                        (line.detail.empty() ? "" : "; ") + std::string("approval unsigned, local");
                if (r.stale)
                    line.detail += (line.detail.empty() ? "" : "; ") +
                                   std::string("stale (older than ") +
                                   std::to_string(o_.staleDays) + " days)";
                d.summary.push_back(std::move(line));
            }
        } else {
            d.summaryError = source.error().empty() ? "no answer" : printable(source.error());
        }
        d.entries.reserve(rows.size());
        for (const ReportRow& r : rows) {
            pp::AuditReportEntry x;
            x.id = r.id;
            x.time = printable(r.time);
            x.user = printable(r.user);
            x.host = printable(r.host);
            x.what = std::string(pp::history::actionWord(r.action)) + " " +
                     pp::history::scopeName(r.scope, printable(r.part));
            x.serial = printable(r.serial);
            if (r.action == Action::Upload || r.action == Action::Download)
                x.result = printable(r.result);
            x.meaning = printable(r.meaning);
            if (!r.signerLogin.empty())
                x.signature = printable(r.signedBy) + ", login " + printable(r.signerLogin) + ", " +
                              printable(r.signedAt) + " (the plant server's time)";
            else if (r.unsignedLocal)
                x.signature = r.signedBy + ": no person signed it at a plant server";
            else
                x.signature = r.signedBy; // refused by the server: the note says why
            if (r.action == Action::Approve)
                x.subject = printable(r.subjectText);
            x.reason = printable(r.reason);
            x.changes = printable(r.changes);
            x.findings = printable(r.findings);
            x.note = printable(r.note);
            d.entries.push_back(std::move(x));
        }
        return d;
    }

    const Options& o_;
    Context& c_;
};

} // namespace

int runAudit(const Options& options, Context& context, const std::string& path) {
    return AuditCommand(options, context).run(path);
}

} // namespace pp::cli
