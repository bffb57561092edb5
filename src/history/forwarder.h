// Forwarding the local history to the plant server. The local history stays the record: an
// entry is marked forwarded only after the server has committed it, and the server keeps an
// entry it holds already as it is, so a crash between the two never makes a duplicate. An
// entry the server holds differently is never taken for held: where the history was restored
// from an older copy (it reuses numbers the server holds), the entries not forwarded go on in a
// chain of their own, linked to the last one both hold; otherwise it stays queued and says so.
// An entry the server keeps as refused is said once, and forwarding goes on.
// One forwarder owns its own SQLite and libpq connections and may run on any one thread.
#pragma once

#include "history/server.h"
#include "history/store.h"

#include <cstdint>
#include <string>
#include <vector>

namespace pp::history {

struct ForwardResult {
    bool done = false;     // nothing is left to forward
    int64_t forwarded = 0; // entries the server took in this call
    int64_t queued = 0;    // entries still waiting
    std::string error;     // why it stopped, or why the history could not be read
    std::string lastError; // status(): the last forward's error kept in the history
    // The entries the server kept as refused in this call, and why: said once, as the server
    // holds them (marked forwarded, never sent again).
    std::vector<std::string> refused;
    // The entries went on in a chain of their own (history restored from an older copy): why.
    std::string branched;
};

// "3 history entries not forwarded", "1 history entry not forwarded".
std::string unforwardedText(int64_t n);

// What a forward tells the user once: each entry the server kept as refused ("the history server
// refused history entry 3 of this PC: why (the server keeps it as refused; forwarding goes
// on)"), and a history that went on in a chain of its own.
std::vector<std::string> forwardNotices(const ForwardResult& r);

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

    // This PC's chain against the server's copy of it: every entry the server holds must be
    // the local one, and every local entry marked as forwarded there must be on it. None when
    // either cannot be read (error says why).
    struct Comparison {
        Verification result;  // firstBroken: the first entry that differs, by the local ID
        int64_t onServer = 0; // entries both hold
        std::string error;
    };
    Comparison compare();

private:
    bool openStore(ForwardResult& r, bool write);
    ForwardResult count(bool write);
    ForwardResult& failed(ForwardResult& r, const std::string& why);

    std::string path_;
    std::string uri_;
    std::string host_;
    Limits limits_;
    Store store_;
    bool readOnly_ = false; // store_ was opened for status() alone
    Connection server_;
};

} // namespace pp::history
