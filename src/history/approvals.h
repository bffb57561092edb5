// The plant's approved state: its settings, approvals and revocations as entries of the chain,
// and one instrument and scope as the audit and the Instruments view see it.
#pragma once

#include "history/entry.h"

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace pp::history {

// The plant's settings: from the plant server's paramporter.plant_setting table when a server is
// configured, else from this PC's program settings ([plant] in paramporter.ini), the same keys.
struct PlantPolicy {
    // approver_not_author: a download is approved by another account than the one that made it
    bool approverNotAuthor = false;
    // reason_required: a download asks why it is made
    bool reasonRequired = false;
    // download_reasons: the reasons offered, one per line
    std::vector<std::string> reasons;
    // calibration_report_only: a change of an instrument's calibration values is reported but
    // is no deviation from its approval
    bool calibrationReportOnly = false;
    bool operator==(const PlantPolicy&) const = default;
};

// The policy those keys give ("true", "yes", "on" or "1" in any case for a flag; the reasons one
// per line, blank lines and surrounding blanks dropped). Unknown keys are ignored.
PlantPolicy policyFrom(const std::map<std::string, std::string>& settings);

// The approval of `subject` (with its file, as entry() gives it) by this account on this PC, now:
// action Approve, the subject's serial, scope, part and generation, its file (the approved values),
// result "SUCCESS", the approver's user, host and time, `meaning` and `reason`; subject and
// subjectHash name the entry. The caller appends it. None, with `refusal` set, when it may not be
// made: the subject is not a successful upload or download with a file of a known instrument, the
// meaning is not "approved" or "reviewed", the reason is empty, or the policy wants another account
// for a download this one made.
std::optional<Entry> approvalFrom(const Entry& subject, const std::string& meaning,
                                  const std::string& reason, std::string& refusal,
                                  const PlantPolicy& policy = {});
// The approver's account is `approver` (approvalFrom: this one).
std::optional<Entry> approvalFrom(const Entry& subject, const std::string& meaning,
                                  const std::string& reason, std::string& refusal,
                                  const PlantPolicy& policy, const std::string& approver);
// "This download was made by <user>; the plant requires another account to approve it."
std::string sameAuthorRefusal(const std::string& user);

// The revocation of the approval in force for this instrument and scope, by this account now:
// action Revoke, result "SUCCESS", no file.
Entry revocationOf(const std::string& serial, Scope scope, const std::string& part,
                   const std::string& reason);

// "no approval is in force for part 05 of 1234", "... for the system parameters of 1234".
std::string noApprovalText(const std::string& serial, Scope scope, const std::string& part);

// One instrument and scope, as the audit and the Instruments view need it.
struct ScopeState {
    std::string serial;
    Scope scope = Scope::System;
    std::string part;       // empty for the system parameters
    std::string generation; // of its latest transfer
    // Time (UTC ISO) and PC (host) of its latest transfer, successful or not; approvals and
    // revocations are no contact with the instrument. Empty when there was none.
    std::string lastContact;
    std::string lastHost;
    // What the instrument holds as far as the history knows: its newest successful transfer with
    // a file, an upload's values as read or a download's as written; with its file.
    std::optional<Entry> latestValues;
    std::optional<Entry> approval; // in force, with its file
    bool revoked = false;          // the newest approval of the scope was revoked
    bool operator==(const ScopeState&) const = default;
};

// The order scopes() lists them in: by serial number (byte by byte), the system parameters
// before the part numbers, those in order.
bool scopeBefore(const ScopeState& a, const ScopeState& b);

} // namespace pp::history
