// Forwarding the local history to the plant server. The local history stays the record: an
// entry is marked forwarded only after the server has committed it, and the server keeps an
// entry it holds already as it is, so a crash between the two never makes a duplicate. One
// forwarder owns its own SQLite and libpq connections and may run on any one thread.
#pragma once

#include "history/server.h"
#include "history/store.h"

#include <cstdint>
#include <string>

namespace pp::history {

struct ForwardResult {
    bool done = false;     // nothing is left to forward
    int64_t forwarded = 0; // entries the server took in this call
    int64_t queued = 0;    // entries still waiting
    std::string error;     // why it stopped, or why the history could not be read
    std::string lastError; // status(): the last forward's error kept in the history
};

// "3 history entries not forwarded", "1 history entry not forwarded".
std::string unforwardedText(int64_t n);

class Forwarder {
public:
    static constexpr size_t DefaultBatch = 500;

    Forwarder(std::string historyPath, std::string uri);

    void setLimits(const Limits& limits) { limits_ = limits; }
    const std::string& uri() const { return uri_; }

    // Forwards every queued entry, oldest first, `batch` of them in each transaction on the
    // server, until none is left or a step fails. The last error is kept in the history (for
    // `history --status`) and cleared by a forward that ends with nothing queued.
    ForwardResult forward(size_t batch = DefaultBatch);
    // How many entries wait and the last error kept, without asking the server.
    ForwardResult status();
    // Lets go of both connections (the next forward opens them again).
    void close();

private:
    bool openStore(ForwardResult& r);
    ForwardResult& failed(ForwardResult& r, const std::string& why);

    std::string path_;
    std::string uri_;
    std::string host_;
    Limits limits_;
    Store store_;
    Connection server_;
};

} // namespace pp::history
