// The plant server's connection: one PostgreSQL database reached through libpq's C API. Every
// wait on the network is bounded (a connect time-out, an answer time-out, an overall deadline,
// a cancel flag), so a server that is away, or goes away in the middle, costs the caller at most
// the time it allowed.
#pragma once

#include <atomic>
#include <chrono>
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
inline constexpr int ServerSchemaVersion = 5;

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

// A person's own plant login and password, typed in for one signing: used for that connection
// alone, in place of the URI's user and whatever password file or variable would give.
struct Credentials {
    std::string login;
    std::string password;
};

class Connection {
public:
    struct Param {
        std::string value;
        bool null = false;
        bool binary = false; // bytea columns: the bytes as they are
    };
    // A text or bytea parameter; the ...OrNull ones are NULL for an empty value.
    static Param text(std::string v) { return {std::move(v), false, false}; }
    static Param bytes(std::string v) { return {std::move(v), false, true}; }
    static Param textOrNull(const std::string& v) { return {v, v.empty(), false}; }
    static Param bytesOrNull(const std::string& v) { return {v, v.empty(), true}; }
    using Row = std::vector<std::optional<std::string>>; // bytea columns decoded to bytes

    Connection() = default;
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Connects and checks the schema: none, or a newer one, is an error.
    bool open(const std::string& uri, const Limits& limits);
    // As the person `as` (login and password typed in): the URI's server and database.
    bool open(const std::string& uri, const Limits& limits, const Credentials& as);
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
    bool open(const std::string& uri, const Limits& limits, const Credentials* as);
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

} // namespace pp::history
