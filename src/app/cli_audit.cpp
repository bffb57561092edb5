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
#include "history/server.h"
#include "history/source.h"
#include "qt/plant_policy.h"
#include "report/report_painter.h"
#include "sheet/compare.h"

#include <QPagedPaintDevice>

#include <algorithm>
#include <memory>
#include <ostream>

namespace pp::cli {

namespace {

using pp::history::AuditRow;
using pp::history::Entry;

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
        pp::history::PlantPolicy policy =
            c_.historyServer.empty()
                ? pp::qt::localPlantPolicy()
                : pp::history::copiedPolicy(path).value_or(pp::history::unknownPlantPolicy());
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

    // What changed with `e`: its values against the entry before it of the same instrument and
    // scope (an approval: against the approval before it).
    std::string changes(pp::history::EntrySource& source, const Entry& e) {
        if (!e.file)
            return {};
        std::string text;
        for (const pp::Difference& d :
             pp::history::scopeChanges(pp::history::changesOf(source, e), e.scope))
            text += (text.empty() ? "" : "; ") + pp::changeText(d.caption, d.a, d.b);
        return text;
    }

    bool inPeriod(const Entry& e) const {
        const std::string day = e.time.substr(0, 10);
        return (o_.from.empty() || day >= o_.from) && (o_.to.empty() || day <= o_.to);
    }

    int report(pp::history::EntrySource& source, pp::history::PlantSource* plant,
               const std::string& path) {
        // Every entry of the period, oldest first, with its file for what it changed.
        pp::history::Filter filter;
        filter.serial = o_.serial;
        std::vector<Entry> entries;
        if (!source.scan(filter, [&](const Entry& e) {
                if (inPeriod(e))
                    entries.push_back(e);
                return o_.from.empty() || e.time.substr(0, 10) >= o_.from;
            })) {
            c_.err << Program << source.error() << '\n';
            return ExitUsage;
        }
        std::reverse(entries.begin(), entries.end());

        // The chain check of the history the entries come from.
        std::string chain;
        std::optional<pp::history::Verification> checked;
        if (plant) {
            pp::history::Plant server;
            pp::history::Limits limits;
            if (server.open(o_.server, limits))
                checked = server.verify();
            else
                chain = "not checked: " + server.error();
        } else {
            pp::history::Store store;
            if (store.open(path, pp::history::Store::Mode::ReadOnly))
                checked = store.verify();
            else
                chain = store.missing() ? std::string("no history yet")
                                        : "not checked: " + store.error();
        }
        if (checked)
            chain = checked->firstBroken == 0
                        ? "intact, " + std::to_string(checked->entries) + " entries"
                        : "broken at entry " + std::to_string(checked->firstBroken) + ": " +
                              checked->why;

        const std::vector<std::string> header{"Time",   "Account", "Host",    "Action",
                                              "Scope",  "Part",    "Serial",  "Reason",
                                              "Result", "Meaning", "Changes", "Findings"};
        std::vector<std::vector<std::string>> rows;
        for (const Entry& e : entries) {
            const auto full = e.file ? std::optional<Entry>(e) : source.entry(e.id);
            std::string findings;
            for (const pp::history::Finding& f : e.findings)
                findings += (findings.empty() ? "" : "; ") + pp::history::findingText(f);
            rows.push_back({e.time, e.user, e.host, std::string(pp::history::actionWord(e.action)),
                            std::string(pp::history::scopeWord(e.scope)), e.part, e.serial,
                            e.reason, pp::history::resultText(e), e.meaning,
                            full ? changes(source, *full) : std::string(), findings});
        }
        const std::string period = (o_.from.empty() ? std::string("the first entry") : o_.from) +
                                   " to " + (o_.to.empty() ? std::string("the last entry") : o_.to);
        const std::string scope = o_.serial.empty() ? "every instrument" : "serial " + o_.serial;
        const std::string where = plant ? "the plant server" : "this PC";

        std::string why;
        const bool csv =
            o_.report.size() >= 4 && (o_.report.substr(o_.report.size() - 4) == ".csv" ||
                                      o_.report.substr(o_.report.size() - 4) == ".CSV");
        bool written = false;
        if (csv) {
            std::string text = pp::history::csvLine(header);
            for (const auto& r : rows)
                text += pp::history::csvLine(r);
            text += pp::history::csvLine({"Chain check", chain});
            written = pp::replaceFileContent(*c_.fs, o_.report, text);
        } else {
            std::vector<pp::ReportLine> lines;
            lines.push_back({"ParamPorter audit report: " + scope + ", " + period, 12, true});
            lines.push_back({"History of " + where + ", chain check: " + chain, 10, false});
            lines.push_back({"", 10, false});
            for (const auto& r : rows) {
                std::string head = r[0] + "  " + r[1] + "@" + r[2] + "  " + r[3] + " " + r[4] +
                                   (r[5].empty() ? "" : " " + r[5]) + "  SN " +
                                   (r[6].empty() ? "-" : r[6]) + "  " + r[8];
                if (!r[9].empty())
                    head += " (" + r[9] + ")";
                lines.push_back({head, 10, true});
                if (!r[7].empty())
                    lines.push_back({"    reason: " + r[7], 10, false});
                if (!r[10].empty())
                    lines.push_back({"    changed: " + r[10], 10, false});
                if (!r[11].empty())
                    lines.push_back({"    found: " + r[11], 10, false});
            }
            written = writePdf(
                *c_.fs, o_.report,
                [&](QPagedPaintDevice& pdf) { return pp::PrintLines(lines, pdf); }, why);
        }
        if (!written) {
            c_.err << pp::ErrorWritingFile << '\n' << Program << o_.report << why << '\n';
            return ExitUsage;
        }
        return checked && checked->firstBroken != 0 ? ExitBroken : ExitOk;
    }

    const Options& o_;
    Context& c_;
};

} // namespace

int runAudit(const Options& options, Context& context, const std::string& path) {
    return AuditCommand(options, context).run(path);
}

} // namespace pp::cli
