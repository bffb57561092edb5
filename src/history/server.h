// The plant server: one PostgreSQL database that every PC forwards its history to, through
// libpq's C API. Every wait on the network is bounded (a connect time-out, an answer time-out,
// an overall deadline, a cancel flag), so a server that is away, or goes away in the middle,
// costs the caller at most the time it allowed.
#pragma once

#include "history/entry.h"
#include "history/store.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct pg_conn;

namespace pp::history {

inline constexpr std::string_view NewerServer = "history server was set up by a newer version";
inline constexpr std::string_view NoServerSchema =
    "the history server holds no ParamPorter history (set it up with history-server.sql)";
inline constexpr std::string_view OlderServer =
    "the history server was set up by an older version (run history-server.sql on it again)";

// The version of the tables history-server.sql makes.
inline constexpr int ServerSchemaVersion = 3;

// Why libpq cannot read `uri` as connection parameters (a URI or key=value words); none when
// it can.
std::optional<std::string> uriProblem(const std::string& uri);
// The URI names a password (ParamPorter keeps none: ~/.pgpass, PGPASSWORD or a service file).
bool uriHasPassword(const std::string& uri);

struct Limits {
    using Clock = std::chrono::steady_clock;
    int connectTimeoutMs = 10000;
    int answerTimeoutMs = 30000;                           // for each answer of the server
    Clock::time_point deadline = Clock::time_point::max(); // for everything
    const std::atomic<bool>* cancel = nullptr;             // set from another thread: give up now
    int deadlineSeconds = 0; // how the deadline is told, when it is set
};

// An entry as the plant server holds it.
struct PlantEntry {
    Entry entry; // entry.id: the server's ID; entry.source: the forwarding PC's installation
    int64_t localId = 0;
    std::string sourceHost;
    std::string received; // when the server took it, UTC as the entries' times
    std::string login;    // the login that forwarded it; empty before the server checked logins
};

class Connection {
public:
    struct Param {
        std::string value;
        bool null = false;
        bool binary = false; // bytea columns: the bytes as they are
    };
    using Row = std::vector<std::optional<std::string>>; // bytea columns decoded to bytes

    Connection() = default;
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Connects and checks the schema: none, or a newer one, is an error.
    bool open(const std::string& uri, const Limits& limits);
    void close();
    bool isOpen() const { return conn_ != nullptr; }
    void setLimits(const Limits& limits) { limits_ = limits; }
    const std::string& error() const { return error_; }
    void setError(std::string why) { error_ = std::move(why); }
    // The command tag of the last statement ("COMMIT", "INSERT 0 1", ...).
    const std::string& status() const { return status_; }
    // The server's name for this database, from its set-up.
    const std::string& plantId() const { return plantId_; }

    // One statement; none on failure (error() set; a lost connection is closed).
    std::optional<std::vector<Row>> exec(const std::string& sql,
                                         const std::vector<Param>& params = {});
    // A statement that returns no rows; false on failure.
    bool run(const std::string& sql, const std::vector<Param>& params = {});

private:
    bool fail(std::string why);
    bool failConnection(const std::string& context = {});
    enum class Wait { Read, Write };
    bool wait(Wait what, Limits::Clock::time_point until, const std::string& late);

    pg_conn* conn_ = nullptr;
    Limits limits_;
    std::string error_;
    std::string plantId_;
    std::string state_;  // SQLSTATE of the last failed statement
    std::string status_; // command tag of the last statement
};

// Forwarding: one batch of the local history's entries (with their files, oldest first) in one
// transaction, each through the server's check. `parent` is the installation of the entry
// before the first (a copied history's first entry goes on from it). An entry the server
// holds already is left as it is; one it refuses, or holds differently, ends the batch after
// the ones before it. None when the transaction failed (the connection's error says why).
struct BatchResult {
    size_t held = 0;     // the first `held` entries are on the server now
    std::string stopped; // why the next one is not; empty when all are
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

    // Newest first (by the entry's time, then the server's ID), at most `limit` (0: all), after
    // `after` when given. With `withFiles` the parameter files are read too.
    std::optional<std::vector<PlantEntry>> list(const PlantFilter& filter, int64_t limit,
                                                const Entry* after, bool withFiles = false);
    // Every entry `filter` selects, newest first, read a page at a time; `each` returns false
    // to stop.
    bool scan(const PlantFilter& filter, bool withFiles,
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
    // The plant's settings (paramporter.plant_setting).
    std::optional<PlantPolicy> policy();

    // Every PC's chain, entry by entry, with the server's seal of each row and the last entry
    // it took of each PC: the first that does not match, by the server's ID (-1: a PC none of
    // whose entries is left).
    std::optional<Verification> verify();

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
