// What an instrument should hold, and whether it does: the findings of an upload against the
// approved set and against what ParamPorter last wrote to or read from it, and the audit of
// every instrument and scope seen. The values that belong to one instrument (the catalogue's
// instrumentOwn rows) are no settings; of the same instrument, a change of what calibrating
// writes is a finding of its own kind.
#pragma once

#include "history/approvals.h"
#include "history/entry.h"
#include "history/source.h"
#include "sheet/compare.h"

#include <optional>
#include <string>
#include <vector>

namespace pp::history {

inline constexpr std::string_view ApprovedBasis = "approved";
inline constexpr std::string_view LastBasis = "last";
// A value calibrating writes changed against the same instrument's approved (else last) values.
inline constexpr std::string_view CalibrationBasis = "calibration";

// The sheet an entry's file gives, as the file reader gives it; none when it has no file or the
// file does not read.
std::optional<Sheet> sheetOf(const Entry& entry);

// What `uploaded` (an upload's entry, with its file) shows that differs from `expected`
// (an approval, or the last entry that wrote or read those values), each a Finding of `basis`.
std::vector<Finding> findingsAgainst(const Entry& uploaded, const Entry& expected,
                                     std::string_view basis);

// The findings of an upload about to be recorded: against the approval in force and against the
// last values of that instrument and scope (what was last uploaded or downloaded), either of
// which may be missing; and its calibration values against the approved set (else the last).
std::vector<Finding> findingsFor(const Entry& uploaded, const std::optional<Entry>& approved,
                                 const std::optional<Entry>& last);

// "Part 05 differs from its approved values: Leak Limit 7.5 -> 9" (or "... from what was last
// downloaded", "... uploaded"); empty when nothing differs. The approved set speaks first; a
// calibration change follows ("; calibration changed: Flow Factor 10.5 -> 1"), or stands alone
// ("Part 05: calibration changed: ...").
std::string findingsMessage(const Entry& uploaded, const std::vector<Finding>& findings,
                            const std::optional<Action>& lastAction = std::nullopt);

// One instrument and scope as the audit sees it.
struct AuditRow {
    ScopeState state;
    bool approved = false; // an approval is in force
    bool revoked = false;  // the last approval was revoked and none made since
    // What the instrument holds (its newest successful transfer) is the approved settings; none
    // when there is no approval or no transfer to compare.
    std::optional<bool> matches;
    bool written = false;                // those values are a download's, not read back since
    std::vector<Difference> differences; // approved (a) against what it holds (b)
    // Its calibration values changed against the approved set of the same instrument.
    std::vector<Difference> calibration;
    bool calibrationDeviates = true; // false where the plant only reports calibration changes
    bool stale = false;              // last contact older than the days asked for
    // Neither differs from its approval, nor had it revoked, nor is stale. A scope never
    // approved deviates from nothing; the listing says it is not approved.
    bool complies() const {
        return !revoked && matches.value_or(true) &&
               (calibration.empty() || !calibrationDeviates) && !stale;
    }
};

// Every scope `source` knows (of `serial` when given), compared with its approval; `staleDays`
// 0 checks no age, `now` is UTC ISO 8601 (utcTimestamp()).
std::optional<std::vector<AuditRow>> audit(EntrySource& source, const std::string& serial,
                                           int staleDays, const std::string& now,
                                           const PlantPolicy& policy = {});

// "differs: Leak Limit 7.5 -> 9", "approved, matches", "approved, written, not read back since",
// "approval revoked", "never approved", "calibration changed: Flow Factor 10.5 -> 1" after the
// rest; ", stale" is the caller's.
std::string auditStateText(const AuditRow& row);

// Whether findings make an upload deviate: any finding, a calibration change only where the
// plant does not just report them.
bool findingsDeviate(const std::vector<Finding>& findings, const PlantPolicy& policy);

// What an entry changed: its values against the entry before it of the same instrument and
// scope (an approval: against the approval before it), previous (a) against it (b), every
// group; its own scope's alone with scopeChanges().
struct EntryChanges {
    enum class Status { Compared, NoPrevious, Unreadable, SourceFailed };
    Status status = Status::NoPrevious;
    std::optional<Entry> previous;
    std::vector<Difference> differences;
};
EntryChanges changesOf(EntrySource& source, const Entry& entry);
std::vector<Difference> scopeChanges(const EntryChanges& changes, Scope scope);

// "system" or "part 05".
std::string scopeName(Scope scope, const std::string& part);

} // namespace pp::history
