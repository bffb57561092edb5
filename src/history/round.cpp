#include "history/round.h"

#include "history/formats.h"

namespace pp::history {

void auditPort(PortRound& port, const std::optional<std::vector<AuditRow>>& rows) {
    for (const Entry& e : port.entries) {
        if (e.action != Action::Upload || !e.succeeded())
            continue;
        bool changed = false;
        for (const Finding& f : e.findings)
            changed = changed || f.basis == LastBasis;
        AuditRow row;
        row.state.serial = e.serial;
        row.state.scope = e.scope;
        row.state.part = e.part;
        if (rows)
            for (const AuditRow& r : *rows)
                if (r.state.scope == e.scope && r.state.part == e.part)
                    row = r;
        port.audited.push_back(row);
        port.deviations += !row.complies() || changed;
    }
}

namespace {

std::string scopeJson(const PortRound& port, const AuditRow& r) {
    std::vector<std::string> findings;
    for (const Entry& e : port.entries)
        if (e.scope == r.state.scope && e.part == r.state.part)
            for (const Finding& f : e.findings)
                findings.push_back(findingJson(f));
    return JsonObject()
        .text("scope", scopeWord(r.state.scope))
        .textOrNull("part", r.state.part)
        .boolean("approved", r.approved)
        .boolOrNull("matches", r.matches)
        .json("findings", jsonArray(findings))
        .str();
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

int roundFailures(const std::vector<PortRound>& ports) {
    int n = 0;
    for (const PortRound& p : ports)
        n += p.failed();
    return n;
}

std::string roundSummaryJson(const std::vector<PortRound>& ports, const std::string& time,
                             const std::string& host, const std::string& user) {
    std::vector<std::string> each;
    for (const PortRound& p : ports)
        each.push_back(portJson(p));
    return JsonObject()
               .text("time", time)
               .text("host", host)
               .text("user", user)
               .json("ports", jsonArray(each))
               .number("deviations", roundDeviations(ports))
               .number("failures", roundFailures(ports))
               .str() +
           '\n';
}

} // namespace pp::history
