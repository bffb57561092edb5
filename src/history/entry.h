// One transfer as the history keeps it: who moved which parameters between which PC and
// which instrument, when, and how it ended. Entries are chained: each names the hash of the
// one before it, so an edited, removed or reordered entry shows.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pp::history {

// Transfers, and the plant's approved state: an approval names the values an instrument and
// scope should hold, a revocation ends the approval in force.
enum class Action { Upload, Download, Approve, Revoke };
enum class Scope { System, Part };

std::string_view actionWord(Action a); // "upload", "download", "approve", "revoke"
std::string_view scopeWord(Scope s);   // "system", "part"
std::optional<Action> actionFromWord(std::string_view word);
std::optional<Scope> scopeFromWord(std::string_view word);

inline constexpr std::string_view Success = "SUCCESS";

// The canonical text an entry's hash is taken over, by version. Entries keep the version they
// were hashed with, so a later version (new fields, new kinds of entry) never breaks the
// chains already recorded. 1: the transfer; 2: with the installation that recorded it; 3: with
// the reason, the approval's meaning and subject, and the upload's findings.
inline constexpr int CurrentFormat = 3;

// An approval's meaning.
inline constexpr std::string_view Approved = "approved";
inline constexpr std::string_view Reviewed = "reviewed";

// A difference an upload showed against what the instrument should hold.
struct Finding {
    std::string basis;   // "approved" (the approved set) or "last" (what ParamPorter last wrote
                         // to or read from it)
    std::string caption; // the parameter's caption, "Leak Limit"
    std::string before;  // the expected text
    std::string after;   // the text uploaded
    bool operator==(const Finding&) const = default;
};

struct Entry {
    int64_t id = 0; // given by the store, counting from 1
    int format = CurrentFormat;
    std::string source; // the installation ID of the history that recorded it
    std::string time;   // UTC, "2026-12-08T14:03:07.412Z"
    std::string user;   // the operating system account
    std::string host;
    std::string port; // the serial device
    Action action = Action::Upload;
    Scope scope = Scope::System;
    std::string part;       // "01".."32"; empty for the system parameters
    std::string serial;     // as the sheet showed it; empty when unknown
    std::string generation; // "V7.0" or "V7.3"; empty when unknown
    std::string result;     // "SUCCESS", or the status text the exchange ended with
    // A download that did not complete: the index of the last field sent. The fields before
    // it were acknowledged, so the instrument may now hold a mix of old and new values.
    std::optional<int> stoppedAtField;
    // The sheet as a parameter file: the values received (upload) or sent (download). None
    // for a failed upload.
    std::optional<std::string> file;

    std::string reason;  // download: why it was made; approve/revoke: why (required for those)
    std::string meaning; // approve: "approved" or "reviewed"; empty otherwise
    // approve: the ID of the entry the approval was made from, in the history it was made in
    // (this PC's, or the plant server's); none otherwise.
    std::optional<int64_t> subject;
    // approve: the hash of that entry, which names it in every history that holds it (the
    // plant server finds it by this, whichever history the ID is of).
    std::string subjectHash;
    std::vector<Finding> findings; // upload: what differed (empty: nothing, or nothing to compare)

    // Kept by the store: SHA-256 (hex) of the file text, of this entry's canonical text, and
    // the hash of the entry before it (empty for the first).
    std::string fileHash;
    std::string hash;
    std::string previousHash;

    bool succeeded() const { return result == Success; }
    bool operator==(const Entry&) const = default;
};

// The findings as the history stores and hashes them: for each, its four texts as canonical
// fields; empty for none. findingsFrom() reads it back; a text that is not such a list gives
// one finding that holds it (basis "?"), which never encodes to the text it came from, so an
// entry whose stored findings were damaged fails its hash.
std::string findingsText(const std::vector<Finding>& findings);
std::vector<Finding> findingsFrom(std::string_view text);

// SHA-256 of `bytes`, as 64 lower-case hex digits.
std::string sha256Hex(std::string_view bytes);

// The exact text an entry's hash is taken over, in the entry's format: every field in a fixed
// order, each with its length, the file by its hash, and the previous entry's hash. Nothing
// else goes in. Empty for a format this program does not know (never matches a hash).
std::string canonicalText(const Entry& entry);

// The time now, or of `msSinceEpoch`, as UTC ISO 8601 with milliseconds.
std::string utcTimestamp();
std::string utcTimestamp(int64_t msSinceEpoch);

// ---------------------------------------------------------------- the plant's approved state

// The plant's settings: from the plant server's paramporter.plant_setting table when a server is
// configured, else from this PC's program settings ([plant] in paramporter.ini), the same keys.
struct PlantPolicy {
    // approver_not_author: a download is approved by another account than the one that made it
    bool approverNotAuthor = false;
    // reason_required: a download asks why it is made
    bool reasonRequired = false;
    // download_reasons: the reasons offered, one per line
    std::vector<std::string> reasons;
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
    std::optional<Entry> latestUpload; // latest successful upload, with its file
    std::optional<Entry> approval;     // in force, with its file
    bool operator==(const ScopeState&) const = default;
};

// The order scopes() lists them in: by serial number (byte by byte), the system parameters
// before the part numbers, those in order.
bool scopeBefore(const ScopeState& a, const ScopeState& b);

// Letters A to Z in lower case, every other byte as it is: how the text filter compares.
std::string asciiLower(std::string text);

} // namespace pp::history
