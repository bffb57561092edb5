// The plant server: one PostgreSQL database that every PC forwards its history to. Forwarding
// a batch of entries, reading the plant's entries, scopes and settings, and checking its chains,
// over a bounded connection (pg_connection.h).
#pragma once

#include "history/approvals.h"
#include "history/entry.h"
#include "history/pg_connection.h"
#include "history/query.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pp::history {

// An entry as the plant server holds it.
struct PlantEntry {
    Entry entry; // entry.id: the server's ID; entry.source: the forwarding PC's installation
    int64_t localId = 0;
    std::string sourceHost;
    std::string received; // when the server took it, UTC as the entries' times
    std::string login;    // the login that forwarded it; empty before the server checked logins
    std::string refused;  // why the server refused it (kept as a link of its PC's chain)
};

// Forwarding: one batch of the local history's entries (with their files, oldest first) in one
// transaction, each through the server's check. `parent` is the installation of the entry
// before the first (a copied history's first entry goes on from it). An entry the server
// holds already is left as it is; one it keeps as refused is held too (and said in `refused`);
// one it refuses to keep, or holds differently, ends the batch after the ones before it. None
// when the transaction failed (the connection's error says why).
struct BatchResult {
    size_t held = 0;       // the first `held` entries are on the server now
    std::string stopped;   // why the next one is not; empty when all are
    bool conflict = false; // the next one is not, because the server holds another in its place
    std::vector<std::string> refused; // the entries the server kept as refused, and why
};
std::optional<BatchResult> insertBatch(Connection& c, const std::string& sourceHost,
                                       const std::vector<Entry>& entries,
                                       const std::string& parent);

struct PlantFilter {
    Filter filter;
    std::string host; // the PC that forwarded the entry; empty: any
};

// The plant's entries for people: listed, looked up, compared, checked.
class Plant {
public:
    bool open(const std::string& uri, const Limits& limits);
    bool isOpen() const { return c_.isOpen(); }
    const std::string& error() const { return error_.empty() ? c_.error() : error_; }
    // The plant's own ID (entries forwarded to it, copies of it, are of this plant).
    const std::string& plantId() const { return c_.plantId(); }

    // Newest first (by the entry's time, then the server's ID), at most `limit` (0: all), after
    // `after` when given. With `withFiles` the parameter files are read too.
    std::optional<std::vector<PlantEntry>> list(const PlantFilter& filter, int64_t limit,
                                                const Entry* after, bool withFiles = false);
    // Every entry `filter` selects, newest first, read a page at a time; `each` returns false
    // to stop.
    bool scan(const PlantFilter& filter, bool withFiles,
              const std::function<bool(const PlantEntry&)>& each);
    // Every entry `filter` selects in the order the server took them (by its ID, oldest first),
    // whatever their times say, a page at a time; `each` returns false to stop.
    bool scanInReceiptOrder(const PlantFilter& filter, bool withFiles,
                            const std::function<bool(const PlantEntry&)>& each);
    // With its file; none for an unknown ID (error() empty) or a failed read.
    std::optional<PlantEntry> entry(int64_t id);
    // The latest entry before `e` of the same instrument, scope and part number, from any PC,
    // that holds a parameter file.
    std::optional<PlantEntry> previous(const Entry& e);
    // The latest successful upload or download of this instrument and scope, from any PC,
    // with its file.
    std::optional<PlantEntry> lastKnown(const std::string& serial, Scope scope,
                                        const std::string& part);
    // The approval in force for this instrument and scope (the plant's latest approval not
    // followed by a revocation of the same), with its file; none with error() empty when none.
    std::optional<PlantEntry> approval(const std::string& serial, Scope scope,
                                       const std::string& part);
    // Every instrument and scope of the plant (those of `serial` alone when given), in the
    // order of scopeBefore(): a few queries, the files of the uploads and approvals alone.
    std::optional<std::vector<ScopeState>> scopes(const std::string& serial);
    // The plant's settings (paramporter.plant_setting), as keys and as the policy they give.
    std::optional<std::map<std::string, std::string>> settings();
    std::optional<PlantPolicy> policy();
    // The plant's approvals and revocations from the server's entry `fromId` on, in the order
    // it took them, the approvals with their files (what a PC keeps a copy of), and the
    // server's newest entry when they were read.
    struct Approvals {
        std::vector<PlantEntry> entries;
        int64_t newestId = 0;
    };
    std::optional<Approvals> approvalsFrom(int64_t fromId);

    // Every PC's chain, entry by entry, with the server's seal of each row and the last entry
    // it took of each PC: every entry that does not match, by the server's ID (-1: a PC none
    // of whose entries is left), the first of them as firstBroken.
    std::optional<Verification> verify();

    // Plant IT's registration of a PC (an administrator's login): its host name and login.
    // How many sources the server held unbound from that host it bound to it; none when refused.
    std::optional<int64_t> registerPc(const std::string& host, const std::string& login);

private:
    // The latest entry of this instrument and scope with one of `actions` that `condition`
    // (SQL on "e", empty for none) selects, listed before server entry `before` when given.
    std::optional<PlantEntry> latest(const std::string& serial, Scope scope,
                                     const std::string& part,
                                     const std::vector<const char*>& actions,
                                     const std::string& condition,
                                     std::optional<int64_t> before = std::nullopt);

    Connection c_;
    std::string error_;
};

} // namespace pp::history
