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
// the reason, the approval's meaning and subject, and the upload's findings; 4: with the
// signature the plant server recorded for an approval or revocation.
inline constexpr int CurrentFormat = 4;

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

// An approval's or revocation's signature, as the plant server recorded it at the moment of
// signing: its number there, the plant login the person signed with (the connection's own, never
// what a PC says), their printed name from the plant's people, and the server's time.
struct Signature {
    int64_t number = 0;
    std::string login;
    std::string name;
    std::string time; // UTC, as the entries' times
    bool operator==(const Signature&) const = default;
};

// The signature as the history stores and hashes it (canonical fields); signatureFrom() reads
// it back, none for a text that is not one.
std::string signatureText(const Signature& s);
std::optional<Signature> signatureFrom(std::string_view text);

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
    // approve, revoke: signed at the plant server; none for one made on this PC alone (unsigned,
    // local: it never counts for the plant).
    std::optional<Signature> signature;
    // Read from the plant server: why it refused the entry, which it keeps as a link of its PC's
    // chain that counts for nothing (a signature it carries is no signature then). Not hashed.
    std::string refused;

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

// Whether `text` says something: what is left without escape sequences (ESC [ ... and ESC
// with one character), control characters (vertical tabs, C1 codes and the like) and spaces of
// any kind (no-break spaces, the wide and thin ones, zero-width ones) is not empty. A reason
// made of those alone is no reason. The plant server counts the same.
bool hasReason(std::string_view text);

// Letters A to Z in lower case, every other byte as it is: how the text filter compares.
std::string asciiLower(std::string text);

} // namespace pp::history
