// Where the History window reads entries from: this PC's history or the plant server. Both
// answer the same questions, so listing, Open in Editor, Export and the differences take one
// code path whichever is shown.
#pragma once

#include "history/server.h"
#include "history/store.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace pp::history {

class EntrySource {
public:
    virtual ~EntrySource() = default;
    // Opens what it reads when needed; false with error() set.
    virtual bool ready() = 0;
    // Newest first, at most `limit`, the page after `after` when given.
    virtual std::optional<std::vector<Entry>> page(const Filter& filter, int64_t limit,
                                                   const Entry* after) = 0;
    // Every entry `filter` selects, newest first, without files.
    virtual bool scan(const Filter& filter, const std::function<bool(const Entry&)>& each) = 0;
    // Every entry `filter` selects in the order it was recorded, oldest first, with its file:
    // this PC's by ID, the plant's in the order the server took them. Times play no part.
    virtual bool scanRecorded(const Filter& filter,
                              const std::function<bool(const Entry&)>& each) = 0;
    // With its file; none when unknown or unreadable (error() says which).
    virtual std::optional<Entry> entry(int64_t id) = 0;
    // The entry before `e` of the same instrument, scope and part number, with its file.
    virtual std::optional<Entry> previous(const Entry& e) = 0;
    // The approval in force for this instrument and scope, with its file; none with error()
    // empty when there is none.
    virtual std::optional<Entry> approval(const std::string& serial, Scope scope,
                                          const std::string& part) = 0;
    // The latest successful upload or download of that instrument and scope, with its file.
    virtual std::optional<Entry> lastKnown(const std::string& serial, Scope scope,
                                           const std::string& part) = 0;
    // Every instrument and scope (of `serial` alone when it is given), in scopeBefore() order.
    virtual std::optional<std::vector<ScopeState>> scopes(const std::string& serial) = 0;
    virtual std::string error() const = 0;
};

// This PC's history; one not written yet is empty.
class LocalSource : public EntrySource {
public:
    explicit LocalSource(std::string path) : path_(std::move(path)) {}
    // The plant's approvals as last copied into this history instead of its own (Store).
    void setApprovalsFromPlant(bool plant) { store_.setApprovalsFromPlant(plant); }
    bool ready() override;
    std::optional<std::vector<Entry>> page(const Filter& filter, int64_t limit,
                                           const Entry* after) override;
    bool scan(const Filter& filter, const std::function<bool(const Entry&)>& each) override;
    bool scanRecorded(const Filter& filter, const std::function<bool(const Entry&)>& each) override;
    std::optional<Entry> entry(int64_t id) override;
    std::optional<Entry> previous(const Entry& e) override;
    std::optional<Entry> approval(const std::string& serial, Scope scope,
                                  const std::string& part) override;
    std::optional<Entry> lastKnown(const std::string& serial, Scope scope,
                                   const std::string& part) override;
    std::optional<std::vector<ScopeState>> scopes(const std::string& serial) override;
    // A history not written yet holds nothing, which is no error.
    std::string error() const override {
        return store_.isOpen() || !store_.missing() ? store_.error() : std::string();
    }

private:
    std::string path_;
    Store store_;
};

// The plant server's entries, from every PC; IDs are the server's.
class PlantSource : public EntrySource {
public:
    // A different URI takes effect at the next ready().
    void setUri(const std::string& uri);
    // ready() would have to connect first (and so wait for the network).
    bool needsConnect() const { return stale_ || !plant_.isOpen(); }
    void setLimits(const Limits& limits) { limits_ = limits; }
    bool ready() override;
    std::optional<std::vector<Entry>> page(const Filter& filter, int64_t limit,
                                           const Entry* after) override;
    bool scan(const Filter& filter, const std::function<bool(const Entry&)>& each) override;
    bool scanRecorded(const Filter& filter, const std::function<bool(const Entry&)>& each) override;
    std::optional<Entry> entry(int64_t id) override;
    std::optional<Entry> previous(const Entry& e) override;
    std::optional<Entry> approval(const std::string& serial, Scope scope,
                                  const std::string& part) override;
    std::optional<Entry> lastKnown(const std::string& serial, Scope scope,
                                   const std::string& part) override;
    std::optional<std::vector<ScopeState>> scopes(const std::string& serial) override;
    // The plant's settings.
    std::optional<PlantPolicy> policy();
    std::string error() const override { return plant_.error(); }

private:
    std::string uri_;
    Limits limits_;
    Plant plant_;
    bool stale_ = true;
};

// Where a check finds the approvals it compares with: the plant's history when a server is
// named and answers within `waitMs`, else this PC's. `fellBack` says why the plant's could not
// be used; `error` says why this PC's cannot be read either.
struct ApprovalsSource {
    std::unique_ptr<EntrySource> source;
    std::string fellBack;
    std::string error;
};
ApprovalsSource approvalsSource(const std::string& localPath, const std::string& serverUri,
                                int waitMs);

} // namespace pp::history
