#include "history/plant_copy.h"

#include <algorithm>

namespace pp::history {

namespace {

// Entries are numbered as the server takes them, but one that took its number first may be
// committed after a later one: each copy reads again this far back (the copy ignores what it
// holds already).
constexpr int64_t Overlap = 10000;

} // namespace

bool copyPlantState(Store& store, Plant& plant, std::string& error) {
    error.clear();
    Store::PlantCopy copy;
    copy.plant = plant.plantId();
    const auto before = store.plantCopy();
    if (!before && !store.error().empty()) {
        error = store.error();
        return false;
    }
    const int64_t from =
        before && before->plant == copy.plant ? std::max<int64_t>(1, before->seenTo - Overlap) : 1;
    const auto approvals = plant.approvalsFrom(from);
    const auto settings = approvals ? plant.settings() : std::nullopt;
    if (!settings) {
        error = plant.error();
        return false;
    }
    copy.seenTo = approvals->newestId;
    copy.copiedAt = utcTimestamp();
    copy.settings = *settings;
    // Only entries that hold their hash (made with the PC's own number) are taken.
    std::vector<Entry> entries;
    entries.reserve(approvals->entries.size());
    for (const PlantEntry& p : approvals->entries) {
        Entry made = p.entry;
        made.id = p.localId;
        if (sha256Hex(canonicalText(made)) != made.hash) {
            error = "the plant's entry " + std::to_string(p.entry.id) +
                    " does not hold its hash; nothing was copied";
            return false;
        }
        entries.push_back(p.entry);
    }
    if (!store.keepPlantCopy(copy, entries)) {
        error = store.error();
        return false;
    }
    return true;
}

bool copyPlantState(const std::string& historyPath, const std::string& uri, const Limits& limits,
                    std::string& error) {
    Plant plant;
    if (!plant.open(uri, limits)) {
        error = plant.error();
        return false;
    }
    Store store;
    if (!store.open(historyPath, Store::Mode::Existing)) {
        error = store.error();
        return false;
    }
    return copyPlantState(store, plant, error);
}

std::optional<PlantPolicy> copiedPolicy(const std::string& path, std::string* copiedAt) {
    Store store;
    if (!store.open(path, Store::Mode::ReadOnly))
        return std::nullopt;
    const auto copy = store.plantCopy();
    if (!copy)
        return std::nullopt;
    if (copiedAt)
        *copiedAt = copy->copiedAt;
    return policyFrom(copy->settings);
}

PlantPolicy unknownPlantPolicy() {
    PlantPolicy p;
    p.approverNotAuthor = true;
    p.reasonRequired = true;
    return p;
}

} // namespace pp::history
