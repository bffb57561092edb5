#include "forwarder.h"

#include "history/recording.h"

#include <map>

namespace pp::history {

namespace {

constexpr const char* ErrorKey = "forward_error";
constexpr const char* ServerKey = "forwarded_to";
// The URI last forwarded to (hashed: it may hold a password): another one may name another
// server, which needs everything even when nothing is queued.
constexpr const char* UriKey = "forwarded_uri";

} // namespace

std::string unforwardedText(int64_t n) {
    return std::to_string(n) + (n == 1 ? " history entry" : " history entries") + " not forwarded";
}

std::vector<std::string> forwardNotices(const ForwardResult& r) {
    std::vector<std::string> out;
    for (const std::string& refused : r.refused)
        out.push_back(refused + " (the server keeps it as refused; forwarding goes on)");
    if (!r.branched.empty())
        out.push_back(r.branched +
                      "; this PC's entries not forwarded go on in a chain of their own");
    return out;
}

Forwarder::Forwarder(std::string historyPath, std::string uri)
    : path_(std::move(historyPath)), uri_(std::move(uri)), host_(hostName()) {}

void Forwarder::close() {
    server_.close();
    store_.close();
}

// A history not written yet holds nothing to forward. A file removed or replaced since it was
// opened is opened again: what is queued is in the one at the path now.
bool Forwarder::openStore(ForwardResult& r, bool write) {
    if (store_.isOpen() && (store_.replacedOnDisk() || (write && readOnly_)))
        store_.close();
    if (!store_.isOpen()) {
        if (!store_.open(path_, write ? Store::Mode::Existing : Store::Mode::ReadOnly)) {
            if (store_.missing())
                r.done = true;
            else
                r.error = store_.error();
            return false;
        }
        readOnly_ = !write;
    }
    return true;
}

ForwardResult& Forwarder::failed(ForwardResult& r, const std::string& why) {
    r.done = false;
    r.error = why;
    if (store_.isOpen()) {
        if (const auto n = store_.unforwardedCount())
            r.queued = *n;
        if (store_.value(ErrorKey).value_or(std::string()) != why)
            store_.setValue(ErrorKey, why);
    }
    return r;
}

ForwardResult Forwarder::count(bool write) {
    ForwardResult r;
    if (!openStore(r, write))
        return r;
    const auto n = store_.unforwardedCount();
    if (!n) {
        r.error = store_.error();
        store_.close(); // opened and checked again next time
        return r;
    }
    r.queued = *n;
    r.done = *n == 0;
    r.lastError = store_.value(ErrorKey).value_or(std::string());
    return r;
}

ForwardResult Forwarder::status() {
    return count(false);
}

ForwardResult Forwarder::forward(size_t batch) {
    // Nothing written yet (done), or the history cannot be read (opened again next time).
    ForwardResult r = count(true);
    if (!store_.isOpen() || !r.error.empty())
        return r;
    const std::string uriHash = sha256Hex(uri_);
    if (r.queued > 0 || store_.value(UriKey).value_or(std::string()) != uriHash) {
        const bool reused = server_.isOpen();
        server_.setLimits(limits_);
        if (!reused && !server_.open(uri_, limits_))
            return failed(r, server_.error());
        for (bool retried = false;;) {
            if (Limits::Clock::now() >= limits_.deadline && limits_.deadlineSeconds > 0) {
                const int64_t left = store_.unforwardedCount().value_or(r.queued);
                return failed(r, std::to_string(left) + (left == 1 ? " entry" : " entries") +
                                     " left after " + std::to_string(limits_.deadlineSeconds) +
                                     " s (history --push forwards them)");
            }
            // Pointed at another server: it gets the whole history.
            const auto to = store_.value(ServerKey);
            if (!to)
                return failed(r, store_.error());
            if (*to != server_.plantId() && !store_.forwardAllTo(server_.plantId()))
                return failed(r, store_.error());
            const auto entries = store_.unforwarded(static_cast<int64_t>(batch));
            if (!entries)
                return failed(r, store_.error());
            if (entries->empty())
                break;
            // The installation of the entry before: a copied history goes on from it.
            std::string parent;
            if (entries->front().id > 1) {
                const auto before = store_.entry(entries->front().id - 1);
                if (!before && !store_.error().empty())
                    return failed(r, store_.error());
                parent = before ? before->source : std::string();
            }
            const auto taken = insertBatch(server_, host_, *entries, parent);
            if (!taken) {
                // A connection kept from an earlier call may have been closed by a server
                // that restarted since: one new connection before giving up.
                if (reused && !retried && r.forwarded == 0 && !server_.isOpen() &&
                    server_.open(uri_, limits_)) {
                    retried = true;
                    continue;
                }
                return failed(r, server_.error());
            }
            if (taken->held > 0 &&
                !store_.markForwarded(entries->front().id, (*entries)[taken->held - 1].id,
                                      server_.plantId()))
                return failed(r, "forwarded, but not marked in the history: " + store_.error());
            r.forwarded += static_cast<int64_t>(taken->held);
            r.refused.insert(r.refused.end(), taken->refused.begin(), taken->refused.end());
            if (!taken->stopped.empty()) {
                // The server holds another entry under this number, after one both hold: a
                // history restored from an older copy. Once per call, the entries not
                // forwarded go on in a chain of their own (the server's stay as they are).
                const int64_t at = (*entries)[taken->held].id;
                const bool linked = at == 1 || taken->held > 0 || store_.entry(at - 1);
                if (taken->conflict && linked && r.branched.empty()) {
                    if (!store_.goOnInChainOfItsOwn(at))
                        return failed(r, taken->stopped + " (" + store_.error() + ")");
                    r.branched = taken->stopped;
                    continue;
                }
                return failed(r, taken->stopped);
            }
        }
    }
    r.done = true;
    r.queued = 0;
    if (store_.value(ErrorKey).value_or(std::string()).size())
        store_.setValue(ErrorKey, {});
    if (store_.value(UriKey).value_or(std::string()) != uriHash)
        store_.setValue(UriKey, uriHash);
    return r;
}

Forwarder::Comparison Forwarder::compare() {
    Comparison c;
    Store store;
    if (!store.open(path_, Store::Mode::ReadOnly) && !store.missing()) {
        c.error = store.error();
        return c;
    }
    std::vector<ChainLink> links;
    if (store.isOpen()) {
        auto read = store.chain();
        if (!read) {
            c.error = store.error();
            return c;
        }
        links = std::move(*read);
    }
    const auto to = store.isOpen() ? store.value(ServerKey) : std::optional<std::string>("");
    if (!to) {
        c.error = store.error();
        return c;
    }
    Connection server;
    if (!server.open(uri_, limits_)) {
        c.error = server.error();
        return c;
    }
    // A forwarded mark means this server only when the history forwards to it.
    const bool marksCount = *to == server.plantId();

    std::string sources = "{";
    for (const ChainLink& l : links)
        if (sources.find(l.source) == std::string::npos)
            sources += (sources.size() > 1 ? "," : "") + l.source;
    sources += "}";
    struct Held {
        std::string hash;
        std::string serverId;
        bool matched = false;
    };
    std::map<std::pair<std::string, int64_t>, Held> held;
    if (sources.size() > 2) {
        const auto rows = server.exec("SELECT source::text, local_id::text, hash, id::text FROM "
                                      "paramporter.entry WHERE source = ANY($1::uuid[])",
                                      {{sources, false, false}});
        if (!rows) {
            c.error = server.error();
            return c;
        }
        for (const Connection::Row& r : *rows)
            held[{r[0].value_or(""), std::atoll(r[1].value_or("0").c_str())}] = {
                r[2].value_or(""), r[3].value_or(""), false};
    }

    Verification& v = c.result;
    auto differ = [&v](int64_t id, std::string why) {
        if (v.firstBroken == 0 || id < v.firstBroken) {
            v.firstBroken = id;
            v.why = std::move(why);
        }
    };
    for (const ChainLink& l : links) {
        ++v.entries;
        const auto h = held.find({l.source, l.id});
        if (h == held.end()) {
            if (l.forwarded && marksCount)
                differ(l.id, "the history server lacks it, though it was forwarded there");
            continue;
        }
        h->second.matched = true;
        if (h->second.hash != l.hash)
            differ(l.id, "it differs from the history server's copy (server entry " +
                             h->second.serverId + ")");
        else
            ++c.onServer;
    }
    // A chain goes on from another (a copied history, or one restored from an older copy) only
    // from that one's entry before its first: the other's later entries, on the server, are
    // another PC's or of the chain left behind, not removed from this one.
    std::map<std::string, int64_t> copiedUpTo;
    for (const ChainLink& l : links)
        if (l.source != links.back().source)
            copiedUpTo[l.source] = l.id;
    for (const auto& [key, h] : held)
        if (const auto copied = copiedUpTo.find(key.first);
            !h.matched && (copied == copiedUpTo.end() || key.second <= copied->second))
            differ(key.second, "it was removed from this history; the history server holds it "
                               "(server entry " +
                                   h.serverId + ")");
    return c;
}

} // namespace pp::history
