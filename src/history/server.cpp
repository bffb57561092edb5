#include "server.h"

#include <libpq-fe.h>

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
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

bool uriHasPassword(const std::string& uri) {
    PQconninfoOption* options = PQconninfoParse(uri.c_str(), nullptr);
    if (!options)
        return false;
    bool found = false;
    for (const PQconninfoOption* o = options; o->keyword; ++o)
        if (std::strcmp(o->keyword, "password") == 0 && o->val && *o->val)
            found = true;
    PQconninfoFree(options);
    return found;
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
        pollfd p{PQsocket(conn_), static_cast<short>(what == Wait::Read ? POLLIN : POLLOUT), 0};
        if (p.fd < 0)
            return failConnection();
        const int ready =
            ::poll(&p, 1, static_cast<int>(std::clamp<int64_t>(left.count(), 1, 100)));
        if (ready > 0)
            return true;
        if (ready < 0 && errno != EINTR) {
            const std::string why = std::strerror(errno);
            close();
            return fail(why);
        }
    }
}

bool Connection::open(const std::string& uri, const Limits& limits) {
    close();
    error_.clear();
    plantId_.clear();
    limits_ = limits;
    if (auto problem = uriProblem(uri))
        return fail(*problem);
    // The URI comes last: what it says wins over these defaults.
    const std::string timeout = std::to_string(std::max(2, seconds(limits.connectTimeoutMs)));
    const char* keys[] = {"connect_timeout", "fallback_application_name", "dbname", nullptr};
    const char* values[] = {timeout.c_str(), "paramporter", uri.c_str(), nullptr};
    conn_ = PQconnectStartParams(keys, values, 1);
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
    if (std::atoi((*rows)[0][0]->c_str()) > ServerSchemaVersion) {
        close();
        return fail(std::string(NewerServer));
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

// ---------------------------------------------------------------- forwarding

namespace {

Connection::Param text(std::string value) {
    return {std::move(value), false, false};
}
Connection::Param bytes(std::string value) {
    return {std::move(value), false, true};
}
Connection::Param textOrNull(const std::string& value) {
    return {value, value.empty(), false};
}
Connection::Param bytesOrNull(const std::string& value) {
    return {value, value.empty(), true};
}

constexpr const char* InsertEntry =
    "INSERT INTO paramporter.entry (source, local_id, source_host, time, \"user\", host, port, "
    "action, scope, part, serial, generation, result, stopped_at_field, file, file_hash, "
    "previous_hash, hash) VALUES ($1::uuid, $2::bigint, $3, $4, $5, $6, $7, $8, $9, $10, $11, "
    "$12, $13, $14::integer, $15, $16, $17, $18) ON CONFLICT (source, local_id) DO NOTHING";

} // namespace

bool insertBatch(Connection& c, const std::string& source, const std::string& sourceHost,
                 const std::vector<Entry>& entries) {
    if (!c.run("BEGIN"))
        return false;
    for (const Entry& e : entries) {
        const std::vector<Connection::Param> params{
            text(source),
            text(std::to_string(e.id)),
            bytes(sourceHost),
            text(e.time),
            bytes(e.user),
            bytes(e.host),
            bytes(e.port),
            text(std::string(actionWord(e.action))),
            text(std::string(scopeWord(e.scope))),
            textOrNull(e.part),
            bytesOrNull(e.serial),
            bytesOrNull(e.generation),
            bytes(e.result),
            textOrNull(e.stoppedAtField ? std::to_string(*e.stoppedAtField) : std::string()),
            e.file ? bytes(*e.file) : Connection::Param{{}, true, true},
            textOrNull(e.fileHash),
            textOrNull(e.previousHash),
            text(e.hash),
        };
        if (!c.run(InsertEntry, params)) {
            if (c.isOpen()) {
                const std::string why = c.error();
                c.run("ROLLBACK");
                c.setError("the history server refused the entries: " + why);
            }
            return false;
        }
    }
    if (!c.run("COMMIT"))
        return false;
    // A transaction the server had already aborted answers COMMIT with ROLLBACK.
    if (c.status() != "COMMIT") {
        c.setError("the history server did not keep the entries");
        return false;
    }
    return true;
}

// ---------------------------------------------------------------- reading the plant

namespace {

constexpr const char* PlantColumns =
    "id::text, time, \"user\", host, port, action, scope, part, serial, generation, result, "
    "stopped_at_field::text, file_hash, previous_hash, hash, source::text, local_id::text, "
    "source_host";
constexpr size_t FileColumn = 18;

std::string orEmpty(const std::optional<std::string>& v) {
    return v ? *v : std::string();
}

PlantEntry readPlantEntry(const Connection::Row& r, bool withFile) {
    PlantEntry p;
    Entry& e = p.entry;
    e.id = std::atoll(orEmpty(r[0]).c_str());
    e.time = orEmpty(r[1]);
    e.user = orEmpty(r[2]);
    e.host = orEmpty(r[3]);
    e.port = orEmpty(r[4]);
    e.action = actionFromWord(orEmpty(r[5])).value_or(Action::Upload);
    e.scope = scopeFromWord(orEmpty(r[6])).value_or(Scope::System);
    e.part = orEmpty(r[7]);
    e.serial = orEmpty(r[8]);
    e.generation = orEmpty(r[9]);
    e.result = orEmpty(r[10]);
    if (r[11])
        e.stoppedAtField = std::atoi(r[11]->c_str());
    e.fileHash = orEmpty(r[12]);
    e.previousHash = orEmpty(r[13]);
    e.hash = orEmpty(r[14]);
    p.source = orEmpty(r[15]);
    p.localId = std::atoll(orEmpty(r[16]).c_str());
    p.sourceHost = orEmpty(r[17]);
    if (withFile && r.size() > FileColumn && r[FileColumn])
        e.file = *r[FileColumn];
    return p;
}

// The WHERE clause of a listing and its parameters.
struct Query {
    std::string where;
    std::vector<Connection::Param> params;
    void add(const std::string& test, Connection::Param p) {
        params.push_back(std::move(p));
        std::string condition = test;
        const std::string n = "$" + std::to_string(params.size());
        for (size_t at; (at = condition.find('?')) != std::string::npos;)
            condition.replace(at, 1, n);
        where += (where.empty() ? " WHERE " : " AND ") + condition;
    }
};

Query listing(const PlantFilter& f, const Entry* after) {
    Query q;
    if (!f.filter.serial.empty())
        q.add("serial = ?", bytes(f.filter.serial));
    if (!f.filter.part.empty())
        q.add("part = ?", text(f.filter.part));
    if (f.filter.action)
        q.add("action = ?", text(std::string(actionWord(*f.filter.action))));
    if (!f.host.empty())
        q.add("source_host = ?", bytes(f.host));
    // As the local history searches: any column, letters A to Z in any case (and only those,
    // whatever the server's locale would make of others).
    if (!f.filter.text.empty())
        q.add("position(convert_from(?::bytea, 'LATIN1') in translate(time || ' ' || "
              "convert_from(\"user\", 'LATIN1') || ' ' || convert_from(host, 'LATIN1') || ' ' || "
              "convert_from(port, 'LATIN1') || ' ' || action || ' ' || scope || ' ' || "
              "coalesce(part, '') || ' ' || convert_from(coalesce(serial, ''), 'LATIN1') || ' ' "
              "|| convert_from(coalesce(generation, ''), 'LATIN1') || ' ' || "
              "convert_from(result, 'LATIN1'), 'ABCDEFGHIJKLMNOPQRSTUVWXYZ', "
              "'abcdefghijklmnopqrstuvwxyz')) > 0",
              bytes(asciiLower(f.filter.text)));
    if (after) {
        q.add("(time, id) < (?", text(after->time));
        q.params.push_back(text(std::to_string(after->id)));
        q.where += ", $" + std::to_string(q.params.size()) + "::bigint)";
    }
    return q;
}

} // namespace

bool Plant::open(const std::string& uri, const Limits& limits) {
    error_.clear();
    return c_.open(uri, limits);
}

std::optional<std::vector<PlantEntry>> Plant::list(const PlantFilter& filter, int64_t limit,
                                                   const Entry* after, bool withFiles) {
    error_.clear();
    Query q = listing(filter, after);
    std::string sql = std::string("SELECT ") + PlantColumns + (withFiles ? ", file" : "") +
                      " FROM paramporter.entry" + q.where + " ORDER BY time DESC, id DESC";
    if (limit > 0)
        sql += " LIMIT " + std::to_string(limit);
    const auto rows = c_.exec(sql, q.params);
    if (!rows)
        return std::nullopt;
    std::vector<PlantEntry> entries;
    entries.reserve(rows->size());
    for (const Connection::Row& r : *rows)
        entries.push_back(readPlantEntry(r, withFiles));
    return entries;
}

bool Plant::scan(const PlantFilter& filter, bool withFiles,
                 const std::function<bool(const PlantEntry&)>& each) {
    constexpr int64_t Page = 1000;
    std::optional<Entry> last;
    for (;;) {
        auto page = list(filter, Page, last ? &*last : nullptr, withFiles);
        if (!page)
            return false;
        for (const PlantEntry& p : *page)
            if (!each(p))
                return true;
        if (page->size() < static_cast<size_t>(Page))
            return true;
        last = page->back().entry;
    }
}

std::optional<PlantEntry> Plant::entry(int64_t id) {
    error_.clear();
    const auto rows = c_.exec(std::string("SELECT ") + PlantColumns +
                                  ", file FROM paramporter.entry WHERE id = $1::bigint",
                              {text(std::to_string(id))});
    if (!rows || rows->empty())
        return std::nullopt;
    return readPlantEntry(rows->front(), true);
}

std::optional<PlantEntry> Plant::previous(const Entry& e) {
    error_.clear();
    if (e.serial.empty())
        return std::nullopt;
    const auto rows = c_.exec(
        std::string("SELECT ") + PlantColumns +
            ", file FROM paramporter.entry WHERE serial = $1 AND scope = $2 AND part IS NOT "
            "DISTINCT FROM $3 AND file IS NOT NULL AND (time, id) < ($4, $5::bigint) ORDER BY "
            "time DESC, id DESC LIMIT 1",
        {bytes(e.serial), text(std::string(scopeWord(e.scope))),
         textOrNull(e.scope == Scope::Part ? e.part : std::string()), text(e.time),
         text(std::to_string(e.id))});
    if (!rows || rows->empty())
        return std::nullopt;
    return readPlantEntry(rows->front(), true);
}

std::optional<Verification> Plant::verify() {
    error_.clear();
    Verification v;
    std::string source, previousHash;
    int64_t previousServerId = 0, localId = 0;
    for (;;) {
        std::vector<Connection::Param> params;
        std::string where;
        if (!source.empty()) {
            where = " WHERE (source, local_id) > ($1::uuid, $2::bigint)";
            params = {text(source), text(std::to_string(localId))};
        }
        const auto rows =
            c_.exec(std::string("SELECT ") + PlantColumns + ", file FROM paramporter.entry" +
                        where + " ORDER BY source, local_id LIMIT 1000",
                    params);
        if (!rows)
            return std::nullopt;
        for (const Connection::Row& r : *rows) {
            PlantEntry p = readPlantEntry(r, true);
            Entry& e = p.entry;
            const int64_t serverId = e.id;
            if (p.source != source) {
                source = p.source;
                previousHash.clear();
                previousServerId = 0;
            }
            localId = p.localId;
            ++v.entries;
            e.id = p.localId; // the chain was made with the PC's own numbers
            std::string why;
            if (e.previousHash != previousHash)
                why = previousServerId
                          ? "it does not follow entry " + std::to_string(previousServerId)
                          : "it is not the first entry of its PC";
            else if (sha256Hex(canonicalText(e)) != e.hash)
                why = "its content does not match its hash";
            else if (!e.fileHash.empty() && !e.file)
                why = "its parameter file is missing";
            else if (e.file && sha256Hex(*e.file) != e.fileHash)
                why = "its parameter file was changed";
            if (!why.empty()) {
                v.firstBroken = serverId;
                v.why = why + " (entry " + std::to_string(p.localId) + " of " + p.sourceHost + ")";
                return v;
            }
            previousHash = e.hash;
            previousServerId = serverId;
        }
        if (rows->size() < 1000)
            return v;
    }
}

} // namespace pp::history
