#include "source.h"

namespace pp::history {

bool LocalSource::ready() {
    if (store_.isOpen() && store_.replacedOnDisk())
        store_.close(); // the window records into the file at the path now
    return store_.isOpen() || store_.open(path_, Store::Mode::ReadOnly) || store_.missing();
}

std::optional<std::vector<Entry>> LocalSource::page(const Filter& filter, int64_t limit,
                                                    const Entry* after) {
    if (!store_.isOpen())
        return std::vector<Entry>{};
    return store_.list(filter, limit, after ? after->id : 0);
}

bool LocalSource::scan(const Filter& filter, const std::function<bool(const Entry&)>& each) {
    return !store_.isOpen() || store_.scan(filter, 0, 0, false, each);
}

bool LocalSource::scanRecorded(const Filter& filter,
                               const std::function<bool(const Entry&)>& each) {
    return !store_.isOpen() || store_.scanOldestFirst(filter, true, each);
}

std::optional<Entry> LocalSource::entry(int64_t id) {
    return store_.isOpen() ? store_.entry(id) : std::nullopt;
}

std::optional<Entry> LocalSource::previous(const Entry& e) {
    return store_.isOpen() ? store_.previous(e) : std::nullopt;
}

std::optional<Entry> LocalSource::approval(const std::string& serial, Scope scope,
                                           const std::string& part) {
    return store_.isOpen() ? store_.approval(serial, scope, part) : std::nullopt;
}

std::optional<Entry> LocalSource::lastKnown(const std::string& serial, Scope scope,
                                            const std::string& part) {
    return store_.isOpen() ? store_.lastKnown(serial, scope, part) : std::nullopt;
}

std::optional<std::vector<ScopeState>> LocalSource::scopes(const std::string& serial) {
    if (!store_.isOpen())
        return std::vector<ScopeState>{};
    return store_.scopes(serial);
}

void PlantSource::setUri(const std::string& uri) {
    stale_ = stale_ || uri != uri_;
    uri_ = uri;
}

bool PlantSource::ready() {
    if (plant_.isOpen() && !stale_)
        return true;
    stale_ = false;
    return plant_.open(uri_, limits_);
}

std::optional<std::vector<Entry>> PlantSource::page(const Filter& filter, int64_t limit,
                                                    const Entry* after) {
    if (!ready())
        return std::nullopt;
    auto entries = plant_.list({filter, {}}, limit, after);
    if (!entries) {
        stale_ = !plant_.isOpen();
        return std::nullopt;
    }
    std::vector<Entry> out;
    out.reserve(entries->size());
    for (PlantEntry& p : *entries)
        out.push_back(std::move(p.entry));
    return out;
}

bool PlantSource::scan(const Filter& filter, const std::function<bool(const Entry&)>& each) {
    if (!ready())
        return false;
    const bool ok =
        plant_.scan({filter, {}}, false, [&](const PlantEntry& p) { return each(p.entry); });
    stale_ = !plant_.isOpen();
    return ok;
}

bool PlantSource::scanRecorded(const Filter& filter,
                               const std::function<bool(const Entry&)>& each) {
    if (!ready())
        return false;
    const bool ok = plant_.scanInReceiptOrder({filter, {}}, true,
                                              [&](const PlantEntry& p) { return each(p.entry); });
    stale_ = !plant_.isOpen();
    return ok;
}

std::optional<Entry> PlantSource::entry(int64_t id) {
    if (!ready())
        return std::nullopt;
    auto p = plant_.entry(id);
    stale_ = !plant_.isOpen();
    return p ? std::optional<Entry>(std::move(p->entry)) : std::nullopt;
}

std::optional<Entry> PlantSource::previous(const Entry& e) {
    if (!ready())
        return std::nullopt;
    auto p = plant_.previous(e);
    stale_ = !plant_.isOpen();
    return p ? std::optional<Entry>(std::move(p->entry)) : std::nullopt;
}

std::optional<Entry> PlantSource::approval(const std::string& serial, Scope scope,
                                           const std::string& part) {
    if (!ready())
        return std::nullopt;
    auto p = plant_.approval(serial, scope, part);
    stale_ = !plant_.isOpen();
    return p ? std::optional<Entry>(std::move(p->entry)) : std::nullopt;
}

std::optional<Entry> PlantSource::lastKnown(const std::string& serial, Scope scope,
                                            const std::string& part) {
    if (!ready())
        return std::nullopt;
    auto p = plant_.lastKnown(serial, scope, part);
    stale_ = !plant_.isOpen();
    return p ? std::optional<Entry>(std::move(p->entry)) : std::nullopt;
}

std::optional<std::vector<ScopeState>> PlantSource::scopes(const std::string& serial) {
    if (!ready())
        return std::nullopt;
    auto states = plant_.scopes(serial);
    stale_ = !plant_.isOpen();
    return states;
}

std::optional<PlantPolicy> PlantSource::policy() {
    if (!ready())
        return std::nullopt;
    auto p = plant_.policy();
    stale_ = !plant_.isOpen();
    return p;
}

ApprovalsSource approvalsSource(const std::string& localPath, const std::string& serverUri,
                                int waitMs) {
    ApprovalsSource out;
    if (!serverUri.empty()) {
        auto plant = std::make_unique<PlantSource>();
        plant->setUri(serverUri);
        Limits limits;
        limits.connectTimeoutMs = limits.answerTimeoutMs = waitMs;
        plant->setLimits(limits);
        if (plant->ready()) {
            out.source = std::move(plant);
            return out;
        }
        out.fellBack = plant->error();
    }
    auto local = std::make_unique<LocalSource>(localPath);
    // Where there is a plant, its approvals as last copied, never this PC's own.
    local->setApprovalsFromPlant(!serverUri.empty());
    if (!local->ready()) {
        out.error = local->error();
    } else if (!serverUri.empty()) {
        Store store;
        const auto copy =
            store.open(localPath, Store::Mode::ReadOnly) ? store.plantCopy() : std::nullopt;
        out.fellBack += copy ? "; the plant's approvals copied at " + copy->copiedAt + " are used"
                             : "; no copy of the plant's approvals was made yet";
    }
    out.source = std::move(local);
    return out;
}

} // namespace pp::history
