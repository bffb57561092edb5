#include "forwarder.h"

#include "history/recording.h"

namespace pp::history {

namespace {

constexpr const char* ErrorKey = "forward_error";
constexpr const char* ServerKey = "forwarded_to";

} // namespace

std::string unforwardedText(int64_t n) {
    return std::to_string(n) + (n == 1 ? " history entry" : " history entries") + " not forwarded";
}

Forwarder::Forwarder(std::string historyPath, std::string uri)
    : path_(std::move(historyPath)), uri_(std::move(uri)), host_(hostName()) {}

void Forwarder::close() {
    server_.close();
    store_.close();
}

// A history not written yet holds nothing to forward.
bool Forwarder::openStore(ForwardResult& r) {
    if (store_.isOpen() || store_.open(path_, Store::Mode::Existing))
        return true;
    if (store_.missing())
        r.done = true;
    else
        r.error = store_.error();
    return false;
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

ForwardResult Forwarder::status() {
    ForwardResult r;
    if (!openStore(r))
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

ForwardResult Forwarder::forward(size_t batch) {
    // Nothing written yet (done), or the history cannot be read (opened again next time).
    ForwardResult r = status();
    if (!store_.isOpen() || !r.error.empty())
        return r;
    if (r.queued > 0) {
        const bool reused = server_.isOpen();
        server_.setLimits(limits_);
        if (!reused && !server_.open(uri_, limits_))
            return failed(r, server_.error());
        const std::string source = store_.installationId();
        if (source.empty())
            return failed(r, "the history has no installation ID");
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
            if (!insertBatch(server_, source, host_, *entries)) {
                // A connection kept from an earlier call may have been closed by a server
                // that restarted since: one new connection before giving up.
                if (reused && !retried && r.forwarded == 0 && !server_.isOpen() &&
                    server_.open(uri_, limits_)) {
                    retried = true;
                    continue;
                }
                return failed(r, server_.error());
            }
            if (!store_.markForwarded(entries->front().id, entries->back().id, server_.plantId()))
                return failed(r, "forwarded, but not marked in the history: " + store_.error());
            r.forwarded += static_cast<int64_t>(entries->size());
        }
    }
    r.done = true;
    r.queued = 0;
    if (store_.value(ErrorKey).value_or(std::string()).size())
        store_.setValue(ErrorKey, {});
    return r;
}

} // namespace pp::history
