// The history database: one SQLite file shared by the window and the command line, any number
// of them at once. Every append is one immediate transaction that reads the last entry's hash
// and writes the next entry, so concurrent writers queue instead of forking the chain.
//
// A file this program did not write, a newer schema or a damaged file is reported and never
// written to, let alone replaced. Readers open it read-only and change nothing, not even the
// files SQLite keeps beside it.
#pragma once

#include "history/approvals.h"
#include "history/entry.h"
#include "history/query.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace pp::history {

inline constexpr std::string_view NewerVersion = "history was written by a newer version";

// The schema this program writes; older files are migrated step by step by writers, and read
// as they are by readers.
inline constexpr int SchemaVersion = 6;

class Store {
public:
    enum class Mode {
        Create,   // for recording: makes the folder and the file when missing
        Existing, // for forwarding: writes, but a missing file is an error (see missing())
        ReadOnly  // for looking: writes nothing; a missing or empty file is missing()
    };

    Store() = default;
    ~Store();
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;

    // Opens, checks and if needed migrates the file. False with error() set otherwise.
    bool open(const std::string& path, Mode mode = Mode::Create);
    void close();
    bool isOpen() const { return db_ != nullptr; }
    const std::string& path() const { return path_; }
    // Why the last call failed; empty after a success.
    const std::string& error() const { return error_; }
    // open(Existing or ReadOnly) failed because there is no history yet.
    bool missing() const { return missing_; }
    // The file at path() is no longer the one this store has open (removed, moved, replaced):
    // what is written now would be lost with it.
    bool replacedOnDisk() const;

    // How long a write waits for another program's write to finish before it gives up.
    static constexpr int DefaultBusyTimeoutMs = 1000;
    // How long opening a history waits for another program that is making the same file.
    static constexpr int WalSwitchWaitMs = 5000;
    void setBusyTimeout(int ms) { busyTimeoutMs_ = ms; }

    // Gives the entry its ID, installation and hashes and adds it at the end of the chain, its
    // reason, meaning, subject and findings as they are (an approval or revocation must be
    // whole: see approvalFrom(), revocationOf()). IDs
    // are never given twice, even after the newest entries were removed. A history copied to
    // another machine (a disk image) takes an installation ID of its own at its first new
    // entry; the chain goes on from the last entry of the copy.
    bool append(Entry& entry);
    // The installation the next entry appended will carry: this history's, or, for a copy of
    // another machine's history, the new one it takes now. None on failure (error()).
    std::optional<std::string> nextSource();

    // Newest first, at most `limit` (0: all), only IDs below `beforeId` when it is set. With
    // `withFiles` the parameter file texts are read too. `each` returns false to stop early.
    bool scan(const Filter& filter, int64_t limit, int64_t beforeId, bool withFiles,
              const std::function<bool(const Entry&)>& each);
    // Every entry `filter` selects in the order they were recorded (by ID, oldest first), with
    // their files when `withFiles`; whatever their times say. `each` returns false to stop.
    bool scanOldestFirst(const Filter& filter, bool withFiles,
                         const std::function<bool(const Entry&)>& each);
    std::optional<std::vector<Entry>> list(const Filter& filter, int64_t limit,
                                           int64_t beforeId = 0);
    // One entry with its file text; none when there is no such ID (error() empty) or the
    // read failed (error() set).
    std::optional<Entry> entry(int64_t id);
    // The latest entry before `e` of the same instrument, scope and part number that holds a
    // parameter file: for a transfer the latest transfer, for an approval the latest approval.
    std::optional<Entry> previous(const Entry& e);
    // The latest successful upload of this instrument (serial number), scope and part number.
    std::optional<Entry> lastUpload(const std::string& serial, Scope scope,
                                    const std::string& part);
    // The latest successful upload or download of this instrument and scope, with its file.
    std::optional<Entry> lastKnown(const std::string& serial, Scope scope, const std::string& part);
    // The latest transfer made through `port` (the device path entries record) that names its
    // instrument, of an ID below `beforeId` (0: any): who was on that port before.
    std::optional<Entry> lastAtPort(const std::string& port, int64_t beforeId = 0);
    // The approval in force for this instrument and scope (the latest approval not followed by a
    // revocation of the same), with its file; none with error() empty when there is none.
    std::optional<Entry> approval(const std::string& serial, Scope scope, const std::string& part);
    // Every instrument and scope the history holds entries of (those of `serial` alone when it
    // is given), by serial number, the system before the part numbers.
    std::optional<std::vector<ScopeState>> scopes(const std::string& serial);

    // Approves entry `subjectId` of this history as approvalFrom() does and appends the
    // approval; none with error() saying why (a refusal included).
    std::optional<Entry> approve(int64_t subjectId, const std::string& meaning,
                                 const std::string& reason, const PlantPolicy& policy = {});
    // Ends the approval in force for this instrument and scope; none with error() set when none
    // is in force (noApprovalText) or the revocation could not be appended.
    std::optional<Entry> revoke(const std::string& serial, Scope scope, const std::string& part,
                                const std::string& reason);

    // Checks the file, then recomputes every hash of the chain from its first entry on, and
    // finds entries removed from its end.
    std::optional<Verification> verify();
    // Every entry's ID, installation, hash and forwarded mark, oldest first.
    std::optional<std::vector<ChainLink>> chain();

    // A random ID made when the file was created, and again when it was found copied to
    // another machine; names this installation to a plant server.
    std::string installationId();

    // Forwarding to a plant server. The entries no server holds yet, oldest first, with their
    // files; how many there are; first..last marked as held once the server has committed them.
    std::optional<std::vector<Entry>> unforwarded(int64_t limit);
    std::optional<int64_t> unforwardedCount();
    bool markForwarded(int64_t first, int64_t last, const std::string& plantId);
    // Every entry to be forwarded again, to the server named `plantId`, which becomes the
    // one `value("forwarded_to")` names.
    bool forwardAllTo(const std::string& plantId);
    // The plant's approved state as last copied from the plant server (plant_copy.h keeps
    // it). With approvalsFromPlant set, approval() and scopes() give the approvals in force
    // there instead of this history's own: a PC with a server configured follows the plant's.
    void setApprovalsFromPlant(bool plant) { plantApprovals_ = plant; }
    bool approvalsFromPlant() const { return plantApprovals_; }
    struct PlantCopy {
        std::string plant;    // the server's plant ID
        std::string copiedAt; // UTC, when the server last answered
        int64_t seenTo = 0;   // the server's newest entry then
        std::map<std::string, std::string> settings;
    };
    // None when no copy was made yet (error() empty) or it could not be read.
    std::optional<PlantCopy> plantCopy();
    // Adds the approvals and revocations the copy lacks (by the server's ID), replaces the
    // settings and notes where and when; one transaction, nothing of it on a failure.
    bool keepPlantCopy(const PlantCopy& copy, const std::vector<Entry>& approvals);
    // The copy's approval in force of this instrument and scope; `revoked` tells whether the
    // latest was a revocation.
    std::optional<Entry> plantApproval(const std::string& serial, Scope scope,
                                       const std::string& part, bool* revoked = nullptr);

    // The entries from `fromId` on, none of them forwarded, go on in a chain of their own: a
    // new installation ID, their hashes (and the subject hashes of approvals among them that
    // name one of them) taken again, linked to the entry before `fromId` as before. What the
    // plant server holds under their numbers (a history restored from an older copy) stays
    // the old installation's; their content is kept as it was recorded.
    bool goOnInChainOfItsOwn(int64_t fromId);
    // Small texts kept with the history: "forwarded_to", "forward_error". Empty when unset; an
    // empty text removes the key.
    std::optional<std::string> value(const std::string& key);
    bool setValue(const std::string& key, const std::string& text);

private:
    bool takeOwnSource(std::string& source);
    bool scanInOrder(const Filter& filter, int64_t limit, int64_t beforeId, bool withFiles,
                     bool oldestFirst, const std::function<bool(const Entry&)>& each);
    bool fail(const std::string& what);
    bool failSql(const std::string& context = {});
    bool exec(const char* sql);
    bool openReadOnly();
    void rememberFile();
    bool checkHeader(bool& empty);
    bool switchToWal();
    bool migrate();
    static int waitForLock(void* store, int tries);

    sqlite3* db_ = nullptr;
    // The prepared queries every entry runs, kept while the file is open: preparing one of
    // them costs more than running it.
    std::map<std::string, sqlite3_stmt*> kept_;
    std::string path_;
    std::string error_;
    bool missing_ = false;
    int version_ = 0;     // the schema of the open file: older ones are read as they are
    std::string columns_; // an entry's columns in that schema
    unsigned long long device_ = 0, inode_ = 0; // the file opened
    int busyTimeoutMs_ = DefaultBusyTimeoutMs;
    bool plantApprovals_ = false;
    std::chrono::steady_clock::time_point waitingSince_;
};

// The database file: PARAMPORTER_HISTORY when set, else the platform's data folder
// ($XDG_DATA_HOME/paramporter/history.sqlite, ~/.local/share/... when that is unset).
std::string defaultHistoryPath();

} // namespace pp::history
