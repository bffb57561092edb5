#include "audit.h"

#include "history/entry_sheet.h"
#include "link/platform.h"

#include <cstdio>

namespace pp::history {

namespace {

CompareGroup groupOf(Scope scope) {
    return scope == Scope::System ? CompareGroup::System : CompareGroup::Part;
}

// Days since 1970-01-01 of the date of "2026-12-08T14:03:07.412Z"; none when it is no such text.
std::optional<long long> dayOf(const std::string& time) {
    int y = 0, m = 0, d = 0;
    if (time.size() < 10 || std::sscanf(time.c_str(), "%4d-%2d-%2d", &y, &m, &d) != 3 || m < 1 ||
        m > 12 || d < 1 || d > 31)
        return std::nullopt;
    // Days from civil, proleptic Gregorian.
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const long long yoe = y - era * 400;
    const long long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const long long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

} // namespace

std::optional<Sheet> sheetOf(const Entry& entry) {
    Sheet sheet;
    QuietWindow quiet;
    if (!applyEntry(sheet, entry, quiet))
        return std::nullopt;
    return sheet;
}

namespace {

void addFindings(std::vector<Finding>& out, const Sheet& now, Scope scope, const Entry& expected,
                 std::string_view basis) {
    const auto then = sheetOf(expected);
    if (!then)
        return;
    for (const Difference& d : compareSettings(*then, now, groupOf(scope)))
        out.push_back({std::string(basis), d.caption, d.a, d.b});
}

// Calibration against `expected` when it is of the same instrument.
void addCalibration(std::vector<Finding>& out, const Sheet& now, const Entry& uploaded,
                    const Entry& expected) {
    if (!pp::sameSerial(expected.serial, uploaded.serial))
        return;
    const auto then = sheetOf(expected);
    if (!then)
        return;
    for (const Difference& d : compareCalibration(*then, now, groupOf(uploaded.scope)))
        out.push_back({std::string(CalibrationBasis), d.caption, d.a, d.b});
}

} // namespace

std::vector<Finding> findingsAgainst(const Entry& uploaded, const Entry& expected,
                                     std::string_view basis) {
    std::vector<Finding> out;
    if (const auto now = sheetOf(uploaded))
        addFindings(out, *now, uploaded.scope, expected, basis);
    return out;
}

std::vector<Finding> findingsFor(const Entry& uploaded, const std::optional<Entry>& approved,
                                 const std::optional<Entry>& last) {
    std::vector<Finding> out;
    if (uploaded.action != Action::Upload || !uploaded.succeeded() || !uploaded.file ||
        uploaded.serial.empty() || (!approved && !last))
        return out;
    // The upload read once for both comparisons.
    const auto now = sheetOf(uploaded);
    if (!now)
        return out;
    if (approved)
        addFindings(out, *now, uploaded.scope, *approved, ApprovedBasis);
    if (last)
        addFindings(out, *now, uploaded.scope, *last, LastBasis);
    addCalibration(out, *now, uploaded, approved ? *approved : *last);
    return out;
}

std::string scopeName(Scope scope, const std::string& part) {
    return scope == Scope::System ? std::string("system") : "part " + part;
}

namespace {

std::string changesText(const std::vector<Finding>& findings, std::string_view basis) {
    std::string list;
    for (const Finding& f : findings)
        if (f.basis == basis)
            list += (list.empty() ? "" : ", ") + pp::changeText(f.caption, f.before, f.after);
    return list;
}

std::string changesText(const std::vector<Difference>& differences) {
    std::string list;
    for (const Difference& d : differences)
        list += (list.empty() ? "" : ", ") + pp::changeText(d.caption, d.a, d.b);
    return list;
}

} // namespace

std::string findingsMessage(const Entry& uploaded, const std::vector<Finding>& findings,
                            const std::optional<Action>& lastAction) {
    const bool part = uploaded.scope == Scope::Part;
    const std::string calibration = changesText(findings, CalibrationBasis);
    for (std::string_view basis : {ApprovedBasis, LastBasis}) {
        const std::string list = changesText(findings, basis);
        if (list.empty())
            continue;
        const std::string subject = part ? "Part " + uploaded.part + " differs"
                                         : std::string("The system parameters differ");
        std::string from;
        if (basis == ApprovedBasis)
            from = part ? "from its approved values" : "from their approved values";
        else
            from = lastAction == Action::Upload ? "from what was last uploaded"
                                                : "from what was last downloaded";
        return subject + " " + from + ": " + list +
               (calibration.empty() ? "" : "; calibration changed: " + calibration);
    }
    if (calibration.empty())
        return {};
    return (part ? "Part " + uploaded.part : std::string("The system parameters")) +
           ": calibration changed: " + calibration;
}

bool findingsDeviate(const std::vector<Finding>& findings, const PlantPolicy& policy) {
    for (const Finding& f : findings)
        if (f.basis != CalibrationBasis || !policy.calibrationReportOnly)
            return true;
    return false;
}

std::string auditStateText(const AuditRow& r) {
    std::string text;
    if (r.revoked)
        text = "approval revoked";
    else if (!r.approved)
        text = "never approved";
    else if (!r.matches)
        text = "approved, not uploaded since";
    else if (!*r.matches)
        text = "differs: " + changesText(r.differences);
    else
        text = r.written ? "approved, written, not read back since" : "approved, matches";
    if (!r.calibration.empty())
        text += "; calibration changed: " + changesText(r.calibration);
    if (r.state.approval && !r.state.approval->signature)
        text += "; approval unsigned, local";
    return text;
}

std::optional<std::vector<AuditRow>> audit(EntrySource& source, const std::string& serial,
                                           int staleDays, const std::string& now,
                                           const PlantPolicy& policy) {
    auto scopes = source.scopes(serial);
    if (!scopes)
        return std::nullopt;
    const auto today = dayOf(now);
    std::vector<AuditRow> rows;
    rows.reserve(scopes->size());
    for (ScopeState& s : *scopes) {
        AuditRow r;
        r.approved = s.approval.has_value();
        r.revoked = s.revoked && !r.approved;
        r.calibrationDeviates = !policy.calibrationReportOnly;
        if (s.approval && s.latestValues) {
            r.written = s.latestValues->action == Action::Download;
            const auto approved = sheetOf(*s.approval);
            const auto held = sheetOf(*s.latestValues);
            if (approved && held) {
                r.differences = compareSettings(*approved, *held, groupOf(s.scope));
                r.matches = r.differences.empty();
                if (pp::sameSerial(s.approval->serial, s.latestValues->serial))
                    r.calibration = compareCalibration(*approved, *held, groupOf(s.scope));
            } else {
                r.matches = false; // a file that no longer reads proves nothing
            }
        }
        if (staleDays > 0 && today) {
            const auto last = dayOf(s.lastContact);
            r.stale = !last || *today - *last > staleDays;
        }
        r.state = std::move(s);
        rows.push_back(std::move(r));
    }
    return rows;
}

EntryChanges changesOf(EntrySource& source, const Entry& entry) {
    EntryChanges out;
    const auto now = sheetOf(entry);
    if (!now) {
        out.status = EntryChanges::Status::Unreadable;
        return out;
    }
    out.previous = source.previous(entry);
    if (!out.previous) {
        out.status = source.error().empty() ? EntryChanges::Status::NoPrevious
                                            : EntryChanges::Status::SourceFailed;
        return out;
    }
    const auto then = sheetOf(*out.previous);
    if (!then) {
        out.status = EntryChanges::Status::Unreadable;
        return out;
    }
    out.status = EntryChanges::Status::Compared;
    out.differences = compareSheets(*then, *now);
    return out;
}

std::vector<Difference> scopeChanges(const EntryChanges& changes, Scope scope) {
    std::vector<Difference> out;
    for (const Difference& d : changes.differences)
        if (d.group == groupOf(scope) && d.index >= 0)
            out.push_back(d);
    return out;
}

} // namespace pp::history
