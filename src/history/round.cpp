#include "history/round.h"

#include "history/formats.h"
#include "sheet/catalogue.h"
#include "sheet/compare.h"

namespace pp::history {

int PortRound::read() const {
    int n = 0;
    for (const RoundEntry& e : entries)
        n += e.entry.action == Action::Upload && e.entry.succeeded();
    return n;
}

void compareUnrecorded(PortRound& port, EntrySource& source) {
    for (RoundEntry& e : port.entries) {
        Entry& u = e.entry;
        if (e.recorded || u.action != Action::Upload || !u.succeeded() || u.serial.empty())
            continue;
        const auto approved = source.approval(u.serial, u.scope, u.part);
        const auto last = source.lastKnown(u.serial, u.scope, u.part);
        if (last)
            e.lastAction = last->action;
        u.findings = findingsFor(u, approved, last);
    }
}

void findInstrumentChanges(PortRound& port, const std::optional<Entry>& before,
                           const std::optional<Entry>& sameSerial) {
    if (port.serial.empty())
        return;
    if (before && !pp::sameSerial(before->serial, port.serial))
        port.findings.push_back(port.port + " was serial " + before->serial + ", now " +
                                port.serial);
    if (!sameSerial)
        return;
    std::vector<std::string> differ;
    if (!sameSerial->generation.empty() && sameSerial->generation != port.generation)
        differ.push_back(pp::changeText("generation", sameSerial->generation, port.generation));
    if (const auto then = sheetOf(*sameSerial)) {
        const std::string& was = then->text(pp::Sys::OptionCode);
        if (!was.empty() && !port.optionCode.empty() && was != port.optionCode)
            differ.push_back(pp::changeText("option code", was, port.optionCode));
    }
    if (differ.empty())
        return;
    std::string text = "another instrument reports serial " + port.serial + ":";
    for (size_t i = 0; i < differ.size(); ++i)
        text += (i ? ", " : " ") + differ[i];
    port.findings.push_back(text);
}

void auditPort(PortRound& port, const std::optional<std::vector<AuditRow>>& rows,
               const PlantPolicy& policy) {
    std::vector<std::pair<Scope, std::string>> read;
    for (const RoundEntry& re : port.entries) {
        const Entry& e = re.entry;
        if (e.action != Action::Upload || !e.succeeded())
            continue;
        AuditRow row;
        row.state.serial = e.serial;
        row.state.scope = e.scope;
        row.state.part = e.part;
        if (rows)
            for (const AuditRow& r : *rows)
                if (r.state.scope == e.scope && r.state.part == e.part)
                    row = r;
        read.emplace_back(e.scope, e.part);
        port.audited.push_back(row);
        port.deviations += findingsDeviate(e.findings, policy) || !row.complies();
    }
    // What the audit knows of this instrument that the round did not read.
    if (rows)
        for (const AuditRow& r : *rows) {
            bool wasRead = false;
            for (const auto& [scope, part] : read)
                wasRead = wasRead || (scope == r.state.scope && part == r.state.part);
            if (wasRead || r.complies())
                continue;
            port.audited.push_back(r);
            ++port.deviations;
        }
    port.deviations += static_cast<int>(port.findings.size());
}

namespace {

std::string scopeJson(const PortRound& port, const AuditRow& r) {
    std::vector<std::string> findings;
    for (const RoundEntry& e : port.entries)
        if (e.entry.scope == r.state.scope && e.entry.part == r.state.part)
            for (const Finding& f : e.entry.findings)
                findings.push_back(findingJson(f));
    return JsonObject()
        .text("scope", scopeWord(r.state.scope))
        .textOrNull("part", r.state.part)
        .boolean("approved", r.approved)
        .boolOrNull("matches", r.matches)
        .json("findings", jsonArray(findings))
        .str();
}

std::string texts(const std::vector<std::string>& items) {
    std::vector<std::string> quoted;
    for (const std::string& s : items)
        quoted.push_back(jsonQuoted(s));
    return jsonArray(quoted);
}

std::string portJson(const PortRound& port) {
    std::vector<std::string> scopes;
    for (const AuditRow& r : port.audited)
        scopes.push_back(scopeJson(port, r));
    std::vector<std::string> failed;
    for (const auto& [part, why] : port.partsFailed)
        failed.push_back(JsonObject().text("part", part).text("error", why).str());
    return JsonObject()
        .text("port", port.port)
        .text("device", port.device)
        .text("result", port.error.empty() ? "read" : "failed")
        .textOrNull("error", port.error)
        .text("serial", port.serial)
        .text("generation", port.generation)
        .json("scopes", jsonArray(scopes))
        .json("port_findings", texts(port.findings))
        .json("parts_failed", jsonArray(failed))
        .str();
}

} // namespace

int roundDeviations(const std::vector<PortRound>& ports) {
    int n = 0;
    for (const PortRound& p : ports)
        n += p.deviations;
    return n;
}

int roundFailures(const std::vector<PortRound>& ports, const std::vector<std::string>& problems) {
    int n = static_cast<int>(problems.size());
    for (const PortRound& p : ports)
        n += p.failed();
    return n;
}

std::string roundSummaryJson(const std::vector<PortRound>& ports,
                             const std::vector<std::string>& problems, const std::string& time,
                             const std::string& host, const std::string& user) {
    std::vector<std::string> each;
    for (const PortRound& p : ports)
        each.push_back(portJson(p));
    return JsonObject()
               .text("time", time)
               .text("host", host)
               .text("user", user)
               .json("ports", jsonArray(each))
               .json("problems", texts(problems))
               .number("deviations", roundDeviations(ports))
               .number("failures", roundFailures(ports, problems))
               .str() +
           '\n';
}

} // namespace pp::history
