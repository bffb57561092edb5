#include "history/approvals.h"
#include "history/entry.h"
#include "history/recording.h"

namespace pp::history {

namespace {

std::string trimmed(std::string_view text) {
    const size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos)
        return {};
    return std::string(text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1));
}

bool flag(const std::map<std::string, std::string>& settings, const std::string& key) {
    const auto it = settings.find(key);
    if (it == settings.end())
        return false;
    const std::string word = asciiLower(trimmed(it->second));
    return word == "true" || word == "yes" || word == "on" || word == "1";
}

} // namespace

PlantPolicy policyFrom(const std::map<std::string, std::string>& settings) {
    PlantPolicy p;
    p.approverNotAuthor = flag(settings, "approver_not_author");
    p.reasonRequired = flag(settings, "reason_required");
    p.calibrationReportOnly = flag(settings, "calibration_report_only");
    if (const auto it = settings.find("download_reasons"); it != settings.end()) {
        std::string_view rest = it->second;
        while (!rest.empty()) {
            const size_t end = rest.find('\n');
            if (std::string line = trimmed(rest.substr(0, end)); !line.empty())
                p.reasons.push_back(std::move(line));
            rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        }
    }
    return p;
}

std::string sameAuthorRefusal(const std::string& user) {
    return "This download was made by " + user +
           "; the plant requires another account to approve it.";
}

std::optional<Entry> approvalFrom(const Entry& subject, const std::string& meaning,
                                  const std::string& reason, std::string& refusal,
                                  const PlantPolicy& policy) {
    return approvalFrom(subject, meaning, reason, refusal, policy, accountName());
}

std::optional<Entry> approvalFrom(const Entry& subject, const std::string& meaning,
                                  const std::string& reason, std::string& refusal,
                                  const PlantPolicy& policy, const std::string& approver) {
    const std::string which = "History entry " + std::to_string(subject.id);
    refusal.clear();
    if (subject.action != Action::Upload && subject.action != Action::Download)
        refusal = which +
                  (subject.action == Action::Approve ? " is an approval" : " is a revocation") +
                  "; only an upload or a download can be approved.";
    else if (!subject.succeeded())
        refusal = which + " did not succeed; only a successful transfer can be approved.";
    else if (!subject.file)
        refusal = which + " holds no parameters to approve.";
    else if (subject.serial.empty())
        refusal = which + " does not name its instrument (no serial number was read).";
    else if (meaning != Approved && meaning != Reviewed)
        refusal = "An approval means \"approved\" or \"reviewed\".";
    else if (!hasReason(reason))
        refusal = "An approval needs a reason.";
    else if (policy.approverNotAuthor && subject.action == Action::Download &&
             subject.user == approver)
        refusal = sameAuthorRefusal(subject.user);
    if (!refusal.empty())
        return std::nullopt;

    Entry a;
    a.time = utcTimestamp();
    a.user = approver;
    a.host = hostName();
    a.action = Action::Approve;
    a.scope = subject.scope;
    a.part = subject.scope == Scope::Part ? subject.part : std::string();
    a.serial = subject.serial;
    a.generation = subject.generation;
    a.result = std::string(Success);
    a.file = subject.file;
    a.fileHash = subject.fileHash;
    a.meaning = meaning;
    a.reason = reason;
    a.subject = subject.id;
    a.subjectHash = subject.hash;
    return a;
}

std::string noApprovalText(const std::string& serial, Scope scope, const std::string& part) {
    return "no approval is in force for " +
           (scope == Scope::Part ? "part " + part : std::string("the system parameters")) + " of " +
           serial;
}

bool scopeBefore(const ScopeState& a, const ScopeState& b) {
    if (a.serial != b.serial)
        return a.serial < b.serial;
    if (a.scope != b.scope)
        return a.scope == Scope::System;
    return a.part < b.part;
}

Entry revocationOf(const std::string& serial, Scope scope, const std::string& part,
                   const std::string& reason) {
    Entry r;
    r.time = utcTimestamp();
    r.user = accountName();
    r.host = hostName();
    r.action = Action::Revoke;
    r.scope = scope;
    r.part = scope == Scope::Part ? part : std::string();
    r.serial = serial;
    r.result = std::string(Success);
    r.reason = reason;
    return r;
}

} // namespace pp::history
