#include "server.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>

namespace pp::history {

// ---------------------------------------------------------------- forwarding

namespace {

constexpr auto text = &Connection::text;
constexpr auto bytes = &Connection::bytes;
constexpr auto textOrNull = &Connection::textOrNull;
constexpr auto bytesOrNull = &Connection::bytesOrNull;

// Named, so that a later version's function with more fields (given defaults) still takes the
// entries of this one.
constexpr const char* AddEntry =
    "SELECT outcome, detail FROM paramporter.add_entry(p_source => $1::uuid, p_local_id => "
    "$2::bigint, p_parent => $3::uuid, p_source_host => $4, p_format => $5::integer, p_time => "
    "$6, p_user => $7, p_host => $8, p_port => $9, p_action => $10, p_scope => $11, p_part => "
    "$12, p_serial => $13, p_generation => $14, p_result => $15, p_stopped_at_field => "
    "$16::integer, p_file => $17, p_file_hash => $18, p_previous_hash => $19, p_hash => $20, "
    "p_reason => $21, p_meaning => $22, p_subject => $23::bigint, p_subject_hash => $24, "
    "p_findings => $25, p_signature => $26)";

} // namespace

std::optional<BatchResult> insertBatch(Connection& c, const std::string& sourceHost,
                                       const std::vector<Entry>& entries,
                                       const std::string& parent) {
    if (!c.run("BEGIN"))
        return std::nullopt;
    BatchResult result;
    std::string before = parent;
    for (const Entry& e : entries) {
        const std::vector<Connection::Param> params{
            text(e.source),
            text(std::to_string(e.id)),
            textOrNull(before),
            bytes(sourceHost),
            text(std::to_string(e.format)),
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
            bytesOrNull(e.reason),
            textOrNull(e.meaning),
            textOrNull(e.subject ? std::to_string(*e.subject) : std::string()),
            textOrNull(e.subjectHash),
            bytesOrNull(findingsText(e.findings)),
            bytesOrNull(e.signature ? signatureText(*e.signature) : std::string()),
        };
        const auto rows = c.exec(AddEntry, params);
        if (!rows || rows->size() != 1 || rows->front().size() != 2 || !rows->front()[0]) {
            if (c.isOpen()) {
                const std::string why = rows ? "no answer to an entry" : c.error();
                c.run("ROLLBACK");
                c.setError("the history server refused the entries: " + why);
            }
            return std::nullopt;
        }
        const std::string& outcome = *rows->front()[0];
        const std::string detail = rows->front()[1].value_or(std::string());
        const std::string entry = "history entry " + std::to_string(e.id) + " of this PC";
        if (outcome == "kept-refused") {
            // A link of the chain that counts for nothing on the plant: the next ones go on.
            result.refused.push_back("the history server refused " + entry + ": " + detail);
        } else if (outcome != "added" && outcome != "held") {
            // The chain cannot go on past it: the ones before it are kept.
            result.conflict = outcome == "conflict";
            result.stopped = result.conflict
                                 ? entry + " differs from the server's: " + detail
                                 : "the history server refused " + entry + ": " + detail;
            break;
        }
        ++result.held;
        before = e.source;
    }
    if (!c.run("COMMIT"))
        return std::nullopt;
    // A transaction the server had already aborted answers COMMIT with ROLLBACK.
    if (c.status() != "COMMIT") {
        c.setError("the history server did not keep the entries");
        return std::nullopt;
    }
    return result;
}

// ---------------------------------------------------------------- reading the plant

namespace {

// Every column as text, under names of its own: a name of the table's in ORDER BY would sort
// by the text ("10" before "9").
constexpr const char* PlantColumns =
    "e.id::text AS p_id, e.time, e.\"user\", e.host, e.port, e.action, e.scope, e.part, "
    "e.serial, e.generation, e.result, e.stopped_at_field::text AS p_stopped, e.file_hash, "
    "e.previous_hash, e.hash, e.source::text AS p_source, e.local_id::text AS p_local_id, "
    "e.source_host, e.format::text AS p_format, to_char(e.received AT TIME ZONE 'UTC', "
    "'YYYY-MM-DD\"T\"HH24:MI:SS.MS\"Z\"') AS p_received, e.login::text AS p_login, e.reason, "
    "e.meaning, e.subject::text AS p_subject, e.subject_hash, e.findings, e.refused, "
    "e.signature";
constexpr size_t FileColumn = 28;
constexpr const char* FromEntries = " FROM paramporter.entry e";
// The entries of the PCs plant IT registered, bound to their login and host: the plant's
// listing. The one array is read once per query.
constexpr const char* Registered =
    "e.source = ANY (ARRAY(SELECT s.source FROM paramporter.source s JOIN paramporter.pc c ON "
    "c.host = s.host AND c.login = s.login))";
// What counts for the plant's approved state and audit: theirs, and not refused (a download
// refused for want of a reason went to the instrument all the same); an approval or revocation
// only when a person signed it (the server took it only with the signature it recorded).
constexpr const char* Counted = "(e.refused IS NULL OR (e.action = 'download' AND e.refused = "
                                "paramporter.no_reason_refusal())) AND (e.action IN ('upload', "
                                "'download') OR e.signature IS NOT NULL) AND e.source = ANY "
                                "(ARRAY(SELECT s.source FROM paramporter.source s JOIN "
                                "paramporter.pc c ON c.host = s.host AND c.login = s.login))";
// The number the server gave an approval's or revocation's signature: the order they were signed.
constexpr const char* SignedOrder = "paramporter.signature_number(e.signature)";
// Newest first: by the time that follows each PC's chain, then the order the server took them.
constexpr const char* NewestFirst = " ORDER BY e.order_time DESC, e.id DESC";

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
    e.source = orEmpty(r[15]);
    p.localId = std::atoll(orEmpty(r[16]).c_str());
    p.sourceHost = orEmpty(r[17]);
    e.format = std::atoi(orEmpty(r[18]).c_str());
    p.received = orEmpty(r[19]);
    p.login = orEmpty(r[20]);
    e.reason = orEmpty(r[21]);
    e.meaning = orEmpty(r[22]);
    if (r[23])
        e.subject = std::atoll(r[23]->c_str());
    e.subjectHash = orEmpty(r[24]);
    if (r[25])
        e.findings = findingsFrom(*r[25]);
    p.refused = orEmpty(r[26]);
    e.refused = p.refused;
    if (r[27])
        e.signature = signatureFrom(*r[27]).value_or(Signature{0, *r[27], {}, {}});
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
    void also(const std::string& test) { where += (where.empty() ? " WHERE " : " AND ") + test; }
    // Only entries listed after server entry `id`.
    void after(int64_t id) {
        add("(e.order_time, e.id) < (SELECT a.order_time, a.id FROM paramporter.entry a WHERE "
            "a.id = ?::bigint)",
            {std::to_string(id), false, false});
    }
};

Query listing(const PlantFilter& f, const Entry* after) {
    Query q;
    if (!f.filter.serial.empty())
        q.add("e.serial = ?", bytes(f.filter.serial));
    if (!f.filter.part.empty())
        q.add("e.part = ?", text(f.filter.part));
    if (f.filter.action)
        q.add("e.action = ?", text(std::string(actionWord(*f.filter.action))));
    if (!f.host.empty())
        q.add("e.source_host = ?", bytes(f.host));
    // As the local history searches: any column, letters A to Z in any case (and only those,
    // whatever the server's locale would make of others).
    if (!f.filter.text.empty())
        q.add("position(convert_from(?::bytea, 'LATIN1') in translate(e.time || ' ' || "
              "convert_from(e.\"user\", 'LATIN1') || ' ' || convert_from(e.host, 'LATIN1') || ' ' "
              "|| convert_from(e.port, 'LATIN1') || ' ' || e.action || ' ' || e.scope || ' ' || "
              "coalesce(e.part, '') || ' ' || convert_from(coalesce(e.serial, ''), 'LATIN1') || "
              "' ' || convert_from(coalesce(e.generation, ''), 'LATIN1') || ' ' || "
              "convert_from(e.result, 'LATIN1') || ' ' || convert_from(coalesce(e.reason, ''), "
              "'LATIN1') || ' ' || coalesce(e.meaning, ''), 'ABCDEFGHIJKLMNOPQRSTUVWXYZ', "
              "'abcdefghijklmnopqrstuvwxyz')) > 0",
              bytes(asciiLower(f.filter.text)));
    if (after)
        q.after(after->id);
    q.also(Registered);
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
    std::string sql = std::string("SELECT ") + PlantColumns + (withFiles ? ", e.file" : "") +
                      FromEntries + q.where + NewestFirst;
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

bool Plant::scanInReceiptOrder(const PlantFilter& filter, bool withFiles,
                               const std::function<bool(const PlantEntry&)>& each) {
    constexpr int64_t Page = 1000;
    int64_t last = 0;
    for (;;) {
        error_.clear();
        Query q = listing(filter, nullptr);
        q.add("e.id > ?::bigint", text(std::to_string(last)));
        const auto rows =
            c_.exec(std::string("SELECT ") + PlantColumns + (withFiles ? ", e.file" : "") +
                        FromEntries + q.where + " ORDER BY e.id LIMIT " + std::to_string(Page),
                    q.params);
        if (!rows)
            return false;
        for (const Connection::Row& r : *rows) {
            const PlantEntry p = readPlantEntry(r, withFiles);
            last = p.entry.id;
            if (!each(p))
                return true;
        }
        if (rows->size() < static_cast<size_t>(Page))
            return true;
    }
}

std::optional<PlantEntry> Plant::entry(int64_t id) {
    error_.clear();
    const auto rows = c_.exec(std::string("SELECT ") + PlantColumns + ", e.file" + FromEntries +
                                  " WHERE e.id = $1::bigint",
                              {text(std::to_string(id))});
    if (!rows || rows->empty())
        return std::nullopt;
    return readPlantEntry(rows->front(), true);
}

std::optional<PlantEntry> Plant::previous(const Entry& e) {
    // As in the local history: a transfer follows the transfers, an approval the approvals.
    return latest(e.serial, e.scope, e.part,
                  e.action == Action::Approve ? std::vector<const char*>{"approve"}
                                              : std::vector<const char*>{"upload", "download"},
                  "e.file IS NOT NULL", e.id);
}

std::optional<PlantEntry> Plant::latest(const std::string& serial, Scope scope,
                                        const std::string& part,
                                        const std::vector<const char*>& actions,
                                        const std::string& condition,
                                        std::optional<int64_t> before) {
    error_.clear();
    if (serial.empty() || actions.empty())
        return std::nullopt;
    Query q;
    q.add("e.serial = ?", bytes(serial));
    q.add("e.scope = ?", text(std::string(scopeWord(scope))));
    q.add("coalesce(e.part, '') = ?", text(scope == Scope::Part ? part : std::string()));
    if (!condition.empty())
        q.also(condition);
    q.also(Counted);
    if (before)
        q.after(*before);
    // One probe of entry_scope per action, the newest of them taken: with the actions in one
    // list the server would read every entry of the scope and sort them. Approvals and
    // revocations follow each other in the order they were signed at the server (the number it
    // gave each signature, hashed with the entry), never by a PC's clock nor by when a PC
    // forwarded them.
    const bool signatures = std::all_of(actions.begin(), actions.end(), [](const char* a) {
        return std::string_view(a) == "approve" || std::string_view(a) == "revoke";
    });
    const std::string newestFirst =
        signatures ? std::string(" ORDER BY ") + SignedOrder + " DESC, e.id DESC" : NewestFirst;
    std::string sql;
    for (const char* action : actions)
        sql += std::string(sql.empty() ? "" : " UNION ALL ") + "(SELECT " + PlantColumns +
               ", e.file, e.order_time AS p_order, " + (signatures ? SignedOrder : "NULL") +
               " AS p_signed, e.id AS " + "p_order_id" + FromEntries + q.where +
               " AND e.action = '" + action + "'" + newestFirst + " LIMIT 1)";
    if (actions.size() > 1)
        sql = "SELECT * FROM (" + sql + ") n ORDER BY " +
              (signatures ? "n.p_signed DESC, " : "n.p_order DESC, ") + "n.p_order_id DESC LIMIT 1";
    const auto rows = c_.exec(sql, q.params);
    if (!rows || rows->empty())
        return std::nullopt;
    return readPlantEntry(rows->front(), true);
}

std::optional<PlantEntry> Plant::lastKnown(const std::string& serial, Scope scope,
                                           const std::string& part) {
    return latest(serial, scope, part, {"upload", "download"},
                  "e.result = 'SUCCESS'::bytea AND e.file IS NOT NULL");
}

std::optional<PlantEntry> Plant::approval(const std::string& serial, Scope scope,
                                          const std::string& part) {
    auto found = latest(serial, scope, part, {"approve", "revoke"}, {});
    if (found && found->entry.action != Action::Approve)
        return std::nullopt; // revoked
    return found;
}

namespace {

// The latest entry of one kind of each instrument and scope `k`: one probe of entry_scope, none
// where `unless` holds (an expression of the probes before it).
std::string newest(const char* name, const char* kind, const char* unless = nullptr,
                   bool bySigning = false) {
    return std::string(" LEFT JOIN LATERAL (SELECT e.id, e.order_time, ") +
           (bySigning ? SignedOrder : "NULL::bigint") +
           " AS signed, e.result = 'SUCCESS'::bytea AND e.file IS NOT NULL AS known, "
           "e.generation, to_char(e.received AT TIME ZONE 'UTC', "
           "'YYYY-MM-DD\"T\"HH24:MI:SS.MS\"Z\"') AS time, e.host FROM paramporter.entry e WHERE "
           "e.serial = k.serial AND e.scope = k.scope AND coalesce(e.part, '') = k.part AND " +
           Counted + " AND " + kind +
           (unless ? std::string(" AND NOT coalesce(") + unless + ", false)" : "") +
           (bySigning ? std::string(" ORDER BY ") + SignedOrder + " DESC, e.id DESC"
                      : std::string(" ORDER BY e.order_time DESC, e.id DESC")) +
           " LIMIT 1) " + name + " ON true";
}

// "{1,2,3}", a bigint[] for ANY().
std::string idArray(const std::vector<int64_t>& ids) {
    std::string out = "{";
    for (const int64_t id : ids)
        out += (out.size() > 1 ? "," : "") + std::to_string(id);
    return out + "}";
}

} // namespace

std::optional<std::vector<ScopeState>> Plant::scopes(const std::string& serial) {
    error_.clear();
    // The instruments and scopes by a skip over entry_scope (each the next key after the last,
    // one probe), then the latest entries of each kind: a few probes per scope, whatever the
    // number of entries; the latest upload is looked for further only when the latest is not
    // a successful one; likewise the latest download. Then what the instrument holds (the newer
    // of the two) and the approval with their files. One snapshot.
    const std::string only =
        std::string(" AND ") + Counted + (serial.empty() ? "" : " AND e.serial = $1");
    const std::string sql =
        "WITH RECURSIVE k(serial, scope, part) AS ((SELECT e.serial, e.scope, coalesce(e.part, "
        "'') FROM paramporter.entry e WHERE e.serial IS NOT NULL" +
        only +
        " ORDER BY e.serial, e.scope, coalesce(e.part, '') LIMIT 1) UNION ALL SELECT n.serial, "
        "n.scope, n.part FROM k CROSS JOIN LATERAL (SELECT e.serial, e.scope, coalesce(e.part, "
        "'') AS part FROM paramporter.entry e WHERE (e.serial, e.scope, coalesce(e.part, '')) > "
        "(k.serial, k.scope, k.part)" +
        only +
        " ORDER BY e.serial, e.scope, coalesce(e.part, '') LIMIT 1) n), l AS (SELECT k.*, "
        "CASE WHEN up.known THEN up.id ELSE ok.id END AS u_id, CASE WHEN up.known THEN "
        "up.order_time ELSE ok.order_time END AS u_time, CASE WHEN dn.known THEN dn.id ELSE "
        "okd.id END AS d_id, CASE WHEN dn.known THEN dn.order_time ELSE okd.order_time END AS "
        "d_time, CASE WHEN rv.id IS NULL OR (ap.signed, ap.id) > (rv.signed, rv.id) THEN ap.id END "
        "AS approval, rv.id IS NOT NULL AND (ap.id IS NULL OR (rv.signed, rv.id) > (ap.signed, "
        "ap.id)) AS revoked, dn.id IS NULL OR "
        "(up.order_time, up.id) > "
        "(dn.order_time, dn.id) AS up_latest, up.generation AS up_generation, up.time AS "
        "up_time, up.host AS up_host, dn.generation AS dn_generation, dn.time AS dn_time, "
        "dn.host AS dn_host FROM k" +
        newest("up", "e.action = 'upload'") + newest("dn", "e.action = 'download'") +
        newest("ok", "e.action = 'upload' AND e.result = 'SUCCESS'::bytea AND e.file IS NOT NULL",
               "up.known") +
        newest("okd",
               "e.action = 'download' AND e.result = 'SUCCESS'::bytea AND e.file IS NOT NULL",
               "dn.known") +
        newest("ap", "e.action = 'approve'", nullptr, true) +
        newest("rv", "e.action = 'revoke'", nullptr, true) +
        ") SELECT serial, scope, part, CASE WHEN d_id IS NULL OR (u_id IS NOT NULL AND (u_time, "
        "u_id) > (d_time, d_id)) THEN u_id ELSE d_id END::text, approval::text, CASE WHEN "
        "up_latest THEN up_generation ELSE dn_generation END, CASE WHEN up_latest THEN up_time "
        "ELSE dn_time END, CASE WHEN up_latest THEN up_host ELSE dn_host END, revoked::text FROM l";
    if (!c_.run("BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY"))
        return std::nullopt;
    const auto keys = c_.exec(sql, serial.empty() ? std::vector<Connection::Param>{}
                                                  : std::vector<Connection::Param>{bytes(serial)});
    if (!keys) {
        c_.run("ROLLBACK");
        return std::nullopt;
    }
    std::vector<ScopeState> states;
    std::vector<std::pair<int64_t, int64_t>> ids; // the upload's and the approval's
    std::vector<int64_t> withFile;
    auto id = [](const std::optional<std::string>& v) {
        return v ? std::atoll(v->c_str()) : int64_t(0);
    };
    states.reserve(keys->size());
    for (const Connection::Row& r : *keys) {
        ScopeState st;
        st.serial = orEmpty(r[0]);
        st.scope = scopeFromWord(orEmpty(r[1])).value_or(Scope::System);
        st.part = orEmpty(r[2]);
        st.generation = orEmpty(r[5]);
        st.lastContact = orEmpty(r[6]);
        st.lastHost = orEmpty(r[7]);
        st.revoked = orEmpty(r[8]) == "true";
        ids.emplace_back(id(r[3]), id(r[4]));
        for (const int64_t n : {ids.back().first, ids.back().second})
            if (n)
                withFile.push_back(n);
        states.push_back(std::move(st));
    }
    const auto rows = c_.exec(std::string("SELECT ") + PlantColumns + ", e.file" + FromEntries +
                                  " WHERE e.id = ANY($1::bigint[])",
                              {text(idArray(withFile))});
    if (!rows) {
        c_.run("ROLLBACK");
        return std::nullopt;
    }
    if (!c_.run("COMMIT"))
        return std::nullopt;
    std::map<int64_t, Entry> entries;
    for (const Connection::Row& r : *rows) {
        PlantEntry p = readPlantEntry(r, true);
        const int64_t n = p.entry.id;
        entries.emplace(n, std::move(p.entry));
    }
    // Each entry is one scope's: moved, not copied.
    for (size_t i = 0; i < states.size(); ++i) {
        ScopeState& st = states[i];
        if (const auto it = entries.find(ids[i].first); it != entries.end())
            st.latestValues = std::move(it->second);
        if (const auto it = entries.find(ids[i].second); it != entries.end())
            st.approval = std::move(it->second);
        if (st.generation.empty() && st.approval)
            st.generation = st.approval->generation;
    }
    std::sort(states.begin(), states.end(), scopeBefore);
    return states;
}

std::optional<std::map<std::string, std::string>> Plant::settings() {
    error_.clear();
    const auto rows = c_.exec("SELECT key, value FROM paramporter.plant_setting");
    if (!rows)
        return std::nullopt;
    std::map<std::string, std::string> settings;
    for (const Connection::Row& r : *rows)
        settings[orEmpty(r[0])] = orEmpty(r[1]);
    return settings;
}

std::optional<PlantPolicy> Plant::policy() {
    const auto s = settings();
    return s ? std::optional<PlantPolicy>(policyFrom(*s)) : std::nullopt;
}

std::optional<Plant::Approvals> Plant::approvalsFrom(int64_t fromId) {
    error_.clear();
    Approvals out;
    const auto newest = c_.exec("SELECT coalesce(max(id), 0)::text FROM paramporter.entry");
    if (!newest || newest->empty())
        return std::nullopt;
    out.newestId = std::atoll(orEmpty(newest->front()[0]).c_str());
    const auto rows = c_.exec(std::string("SELECT ") + PlantColumns + ", e.file" + FromEntries +
                                  " WHERE e.id BETWEEN $1::bigint AND $2::bigint AND e.action IN "
                                  "('approve', 'revoke') AND " +
                                  Counted + " ORDER BY e.id",
                              {text(std::to_string(fromId)), text(std::to_string(out.newestId))});
    if (!rows)
        return std::nullopt;
    out.entries.reserve(rows->size());
    for (const Connection::Row& r : *rows)
        out.entries.push_back(readPlantEntry(r, true));
    return out;
}

std::optional<int64_t> Plant::registerPc(const std::string& host, const std::string& login) {
    error_.clear();
    const auto rows =
        c_.exec("SELECT paramporter.register_pc($1, $2)::text", {text(host), text(login)});
    if (!rows || rows->size() != 1 || rows->front().empty() || !rows->front()[0])
        return std::nullopt;
    return std::atoll(rows->front()[0]->c_str());
}

namespace {

// What the server knows of each PC: the last entry it took, and where a copied history goes
// on from.
struct SourceHead {
    int64_t localId = 0;
    std::string hash;
    std::string seal;
    int64_t parentLocalId = 0;
    std::optional<std::string> parentHash; // the entry it goes on from, as the server holds it
};

} // namespace

std::optional<Verification> Plant::verify() {
    error_.clear();
    std::map<std::string, SourceHead> heads;
    {
        const auto rows = c_.exec(
            "SELECT s.source::text, s.head_local_id::text, s.head_hash, s.head_seal, "
            "s.parent_local_id::text, p.hash FROM paramporter.source s LEFT JOIN "
            "paramporter.entry p ON p.source = s.parent AND p.local_id = s.parent_local_id");
        if (!rows)
            return std::nullopt;
        for (const Connection::Row& r : *rows) {
            SourceHead& h = heads[orEmpty(r[0])];
            h.localId = std::atoll(orEmpty(r[1]).c_str());
            h.hash = orEmpty(r[2]);
            h.seal = orEmpty(r[3]);
            h.parentLocalId = std::atoll(orEmpty(r[4]).c_str());
            h.parentHash = r[5];
        }
    }

    // Every break is named, and the check goes on from the entry that broke.
    Verification v;
    auto broken = [&v](int64_t serverId, std::string why) {
        if (v.firstBroken == 0) {
            v.firstBroken = serverId;
            v.why = why;
        }
        v.breaks.push_back({serverId, std::move(why)});
    };
    struct Last {
        std::string source, hash, seal, host;
        int64_t serverId = 0, localId = 0;
    } last;
    // The end of a PC's chain is the last entry the server took of it.
    auto ended = [&]() -> std::optional<std::string> {
        if (last.source.empty())
            return std::nullopt;
        const auto h = heads.find(last.source);
        if (h == heads.end())
            return "its PC is not one the server took entries from";
        std::optional<std::string> why;
        if (h->second.localId != last.localId || h->second.hash != last.hash ||
            h->second.seal != last.seal)
            why = "the entries after it, up to entry " + std::to_string(h->second.localId) +
                  " of its PC, were removed";
        heads.erase(h);
        return why;
    };
    for (;;) {
        std::vector<Connection::Param> params;
        std::string where;
        if (!last.source.empty()) {
            where = " WHERE (e.source, e.local_id) > ($1::uuid, $2::bigint)";
            params = {text(last.source), text(std::to_string(last.localId))};
        }
        const auto rows = c_.exec(
            std::string("SELECT ") + PlantColumns +
                ", e.file, e.seal, (e.seal IS NOT DISTINCT FROM paramporter.seal(e, (SELECT "
                "b.seal FROM paramporter.entry b WHERE b.source = e.source AND b.local_id = "
                "e.local_id - 1)))::text" +
                FromEntries + where + " ORDER BY e.source, e.local_id LIMIT 1000",
            params);
        if (!rows)
            return std::nullopt;
        for (const Connection::Row& r : *rows) {
            PlantEntry p = readPlantEntry(r, true);
            Entry& e = p.entry;
            const int64_t serverId = e.id;
            const std::string seal = orEmpty(r[FileColumn + 1]);
            const bool sealed = orEmpty(r[FileColumn + 2]) == "true";
            const std::string of =
                " (entry " + std::to_string(p.localId) + " of " + p.sourceHost + ")";
            std::optional<std::string> previousHash;
            ++v.entries;
            if (e.source == last.source) {
                if (p.localId != last.localId + 1) {
                    broken(serverId, "the entry before it was removed" + of);
                    last = {e.source, e.hash, seal, p.sourceHost, serverId, p.localId};
                    continue;
                }
                previousHash = last.hash;
            } else {
                if (auto why = ended())
                    broken(last.serverId, *why + " (entry " + std::to_string(last.localId) +
                                              " of " + last.host + ")");
                const auto h = heads.find(e.source);
                if (p.localId == 1)
                    previousHash = std::string();
                else if (h != heads.end() && h->second.parentLocalId == p.localId - 1)
                    previousHash = h->second.parentHash;
                if (!previousHash) {
                    broken(serverId, "it is not the first entry of its PC" + of);
                    last = {e.source, e.hash, seal, p.sourceHost, serverId, p.localId};
                    continue;
                }
            }
            e.id = p.localId; // the chain was made with the PC's own numbers
            std::string why;
            if (e.previousHash != *previousHash)
                why = e.source == last.source
                          ? "it does not follow entry " + std::to_string(last.serverId)
                          : "it is not the first entry of its PC";
            else if (sha256Hex(canonicalText(e)) != e.hash)
                why = "its content does not match its hash";
            else if (!e.fileHash.empty() && !e.file)
                why = "its parameter file is missing";
            else if (e.file && sha256Hex(*e.file) != e.fileHash)
                why = "its parameter file was changed";
            else if (!sealed)
                why = "what the server recorded with it (ID, receipt, host or login) was changed";
            if (!why.empty())
                broken(serverId, why + of);
            last = {e.source, e.hash, seal, p.sourceHost, serverId, p.localId};
        }
        if (rows->size() < 1000)
            break;
    }
    if (auto why = ended())
        broken(last.serverId,
               *why + " (entry " + std::to_string(last.localId) + " of " + last.host + ")");
    // A PC the server took entries from, none of which is left.
    for (const auto& [source, head] : heads)
        if (head.localId > head.parentLocalId)
            broken(-1, "every entry of the PC " + source + " was removed (the server " +
                           "took its entries up to " + std::to_string(head.localId) + ")");
    return v;
}

} // namespace pp::history
