// The connection to the plant server through libpq's C API, every wait bounded.
#include "history/pg_connection.h"

#include <libpq-fe.h>

#ifdef _WIN32
#include <winsock2.h>
#else
#include <poll.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <memory>

namespace pp::history {

namespace {

using Clock = Limits::Clock;

std::string firstLine(const char* text) {
    std::string s = text ? text : "";
    if (const size_t end = s.find('\n'); end != std::string::npos)
        s.erase(end);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\r'))
        s.pop_back();
    return s;
}

int seconds(int ms) {
    return std::max(1, (ms + 999) / 1000);
}

Clock::time_point after(int ms, Clock::time_point deadline) {
    const auto at = Clock::now() + std::chrono::milliseconds(ms);
    return std::min(at, deadline);
}

std::string lateText(int ms, const Limits& limits, Clock::time_point until) {
    if (until == limits.deadline && limits.deadlineSeconds > 0)
        return "no answer from the history server within " +
               std::to_string(limits.deadlineSeconds) + " s";
    return "no answer from the history server within " + std::to_string(seconds(ms)) + " s";
}

} // namespace

std::optional<std::string> uriProblem(const std::string& uri) {
    if (uri.empty())
        return std::string("no history server given");
    char* message = nullptr;
    PQconninfoOption* options = PQconninfoParse(uri.c_str(), &message);
    if (!options) {
        std::string why = message ? firstLine(message) : std::string("out of memory");
        PQfreemem(message);
        return why;
    }
    PQconninfoFree(options);
    return std::nullopt;
}

namespace {

// The value the URI gives `keyword`; empty for none.
std::string uriValue(const std::string& uri, const char* keyword) {
    PQconninfoOption* options = PQconninfoParse(uri.c_str(), nullptr);
    if (!options)
        return {};
    std::string value;
    for (const PQconninfoOption* o = options; o->keyword; ++o)
        if (std::strcmp(o->keyword, keyword) == 0 && o->val)
            value = o->val;
    PQconninfoFree(options);
    return value;
}

} // namespace

bool uriHasPassword(const std::string& uri) {
    return !uriValue(uri, "password").empty();
}

// ---------------------------------------------------------------- the connection

Connection::~Connection() {
    close();
}

void Connection::close() {
    if (conn_)
        PQfinish(conn_);
    conn_ = nullptr;
}

bool Connection::fail(std::string why) {
    error_ = std::move(why);
    return false;
}

bool Connection::failConnection(const std::string& context) {
    std::string why = conn_ ? firstLine(PQerrorMessage(conn_)) : std::string("out of memory");
    if (why.empty())
        why = "the connection to the history server was lost";
    close();
    return fail(context.empty() ? why : context + ": " + why);
}

// Waits in short slices, so a cancel from another thread is seen at once. A connection that
// did not answer in time is given up: its state is unknown.
bool Connection::wait(Wait what, Clock::time_point until, const std::string& late) {
    for (;;) {
        if (limits_.cancel && limits_.cancel->load()) {
            close();
            return fail("forwarding stopped");
        }
        const auto now = Clock::now();
        if (now >= until) {
            close();
            return fail(late);
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - now);
        const int slice = static_cast<int>(std::clamp<int64_t>(left.count(), 1, 100));
        if (PQsocket(conn_) < 0)
            return failConnection();
#ifdef _WIN32
        // libpq's socket is a Winsock SOCKET; POLLIN and POLLOUT are WSAPoll's read and write.
        WSAPOLLFD p{static_cast<SOCKET>(PQsocket(conn_)),
                    static_cast<short>(what == Wait::Read ? POLLRDNORM : POLLWRNORM), 0};
        const int ready = WSAPoll(&p, 1, slice);
        if (ready > 0)
            return true;
        if (ready == SOCKET_ERROR) {
            const std::string why = "waiting for the history server failed (Winsock error " +
                                    std::to_string(WSAGetLastError()) + ")";
            close();
            return fail(why);
        }
#else
        pollfd p{PQsocket(conn_), static_cast<short>(what == Wait::Read ? POLLIN : POLLOUT), 0};
        const int ready = ::poll(&p, 1, slice);
        if (ready > 0)
            return true;
        if (ready < 0 && errno != EINTR) {
            const std::string why = std::strerror(errno);
            close();
            return fail(why);
        }
#endif
    }
}

bool Connection::open(const std::string& uri, const Limits& limits) {
    return open(uri, limits, nullptr);
}

bool Connection::open(const std::string& uri, const Limits& limits, const Credentials& as) {
    return open(uri, limits, &as);
}

bool Connection::open(const std::string& uri, const Limits& limits, const Credentials* as) {
    close();
    error_.clear();
    plantId_.clear();
    limits_ = limits;
    if (auto problem = uriProblem(uri))
        return fail(*problem);
    // The URI comes last: what it says wins over these defaults.
    const std::string timeout = std::to_string(std::max(2, seconds(limits.connectTimeoutMs)));
    // A person's login and password come after it: they win over the URI's and over any
    // password file (libpq reads one only when it is given no password).
    std::vector<const char*> keys{"connect_timeout", "fallback_application_name", "dbname"};
    std::vector<const char*> values{timeout.c_str(), "paramporter", uri.c_str()};
    if (as) {
        keys.insert(keys.end(), {"user", "password"});
        values.insert(values.end(), {as->login.c_str(), as->password.c_str()});
        // Over TLS with the server's certificate checked, the password exchange is bound to
        // that connection: a server in between that relays it gets no session of the person's.
        const std::string tls = uriValue(uri, "sslmode");
        if (tls == "verify-full" || tls == "verify-ca") {
            keys.push_back("channel_binding");
            values.push_back("require");
        }
    }
    keys.push_back(nullptr);
    values.push_back(nullptr);
    conn_ = PQconnectStartParams(keys.data(), values.data(), 1);
    if (!conn_ || PQstatus(conn_) == CONNECTION_BAD)
        return failConnection();
    const auto until = after(limits.connectTimeoutMs, limits.deadline);
    const std::string late = lateText(limits.connectTimeoutMs, limits, until);
    for (PostgresPollingStatusType state = PGRES_POLLING_WRITING;;) {
        if (state == PGRES_POLLING_OK)
            break;
        if (state == PGRES_POLLING_FAILED)
            return failConnection();
        if (!wait(state == PGRES_POLLING_READING ? Wait::Read : Wait::Write, until, late))
            return false;
        state = PQconnectPoll(conn_);
    }
    if (PQsetnonblocking(conn_, 1) != 0)
        return failConnection();
    // The server's notices are no concern of a technician's terminal.
    PQsetNoticeProcessor(
        conn_, [](void*, const char*) {}, nullptr);

    const auto rows = exec("SELECT version::text, plant_id::text FROM paramporter.schema_version");
    if (!rows) {
        // No such schema or table: a database that was never set up.
        if (conn_ && (state_ == "42P01" || state_ == "3F000"))
            error_ = NoServerSchema;
        close();
        return false;
    }
    if (rows->empty() || !(*rows)[0][0] || !(*rows)[0][1]) {
        close();
        return fail(std::string(NoServerSchema));
    }
    const int version = std::atoi((*rows)[0][0]->c_str());
    if (version != ServerSchemaVersion) {
        close();
        return fail(std::string(version > ServerSchemaVersion ? NewerServer : OlderServer));
    }
    plantId_ = *(*rows)[0][1];
    return true;
}

std::optional<std::vector<Connection::Row>> Connection::exec(const std::string& sql,
                                                             const std::vector<Param>& params) {
    state_.clear();
    status_.clear();
    if (!conn_) {
        fail(error_.empty() ? "not connected to the history server" : error_);
        return std::nullopt;
    }
    error_.clear(); // an earlier statement's failure is not this one's
    std::vector<const char*> values;
    std::vector<int> lengths, formats;
    for (const Param& p : params) {
        values.push_back(p.null ? nullptr : p.value.data());
        lengths.push_back(static_cast<int>(p.value.size()));
        formats.push_back(p.binary ? 1 : 0);
    }
    // Results in binary: every column read is text or bytea, both their bytes as they are.
    if (!PQsendQueryParams(conn_, sql.c_str(), static_cast<int>(params.size()), nullptr,
                           values.data(), lengths.data(), formats.data(), 1)) {
        failConnection();
        return std::nullopt;
    }
    const auto until = after(limits_.answerTimeoutMs, limits_.deadline);
    const std::string late = lateText(limits_.answerTimeoutMs, limits_, until);
    for (;;) {
        const int flushed = PQflush(conn_);
        if (flushed == 0)
            break;
        if (flushed < 0) {
            failConnection();
            return std::nullopt;
        }
        if (!wait(Wait::Write, until, late))
            return std::nullopt;
    }

    std::vector<Row> rows;
    std::string why, state;
    bool failed = false;
    for (;;) {
        while (PQisBusy(conn_)) {
            if (!wait(Wait::Read, until, late))
                return std::nullopt;
            if (!PQconsumeInput(conn_)) {
                failConnection();
                return std::nullopt;
            }
        }
        std::unique_ptr<PGresult, decltype(&PQclear)> r(PQgetResult(conn_), &PQclear);
        if (!r)
            break;
        const ExecStatusType status = PQresultStatus(r.get());
        if (status == PGRES_TUPLES_OK || status == PGRES_COMMAND_OK) {
            status_ = PQcmdStatus(r.get());
            const int n = PQntuples(r.get()), fields = PQnfields(r.get());
            for (int i = 0; i < n; ++i) {
                Row row;
                for (int f = 0; f < fields; ++f) {
                    if (PQgetisnull(r.get(), i, f))
                        row.emplace_back();
                    else
                        row.emplace_back(
                            std::string(PQgetvalue(r.get(), i, f),
                                        static_cast<size_t>(PQgetlength(r.get(), i, f))));
                }
                rows.push_back(std::move(row));
            }
        } else if (!failed) {
            failed = true;
            const char* primary = PQresultErrorField(r.get(), PG_DIAG_MESSAGE_PRIMARY);
            const char* code = PQresultErrorField(r.get(), PG_DIAG_SQLSTATE);
            why = primary ? firstLine(primary) : firstLine(PQresultErrorMessage(r.get()));
            state = code ? code : "";
        }
    }
    if (failed) {
        if (PQstatus(conn_) == CONNECTION_BAD) {
            failConnection();
        } else {
            state_ = state;
            fail(why.empty() ? "the history server refused the statement" : why);
        }
        return std::nullopt;
    }
    if (PQstatus(conn_) == CONNECTION_BAD) {
        failConnection();
        return std::nullopt;
    }
    return rows;
}

bool Connection::run(const std::string& sql, const std::vector<Param>& params) {
    return exec(sql, params).has_value();
}

} // namespace pp::history
