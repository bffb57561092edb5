// This PC's copy of the plant's approved state: the plant server's approvals and revocations
// (its IDs, hashes and files) and its settings, kept in the history by whatever forwards to the
// server, so that drift, the marks, the audit and rounds follow the plant's approvals and rules
// also while the server cannot be reached, and never this PC's own settings file instead.
#pragma once

#include "history/approvals.h"
#include "history/server.h"
#include "history/store.h"

#include <optional>
#include <string>

namespace pp::history {

// Adds to `store` (open for writing) what `plant` (open) took since the last copy, and its
// settings as they are now. False with `error` set when either could not be read or written.
bool copyPlantState(Store& store, Plant& plant, std::string& error);

// The same from a history file and a server's URI, each opened for the call.
bool copyPlantState(const std::string& historyPath, const std::string& uri, const Limits& limits,
                    std::string& error);

// The plant's rules as the copy in the history at `path` has them (opened read-only for it);
// none when no copy was ever made. `copiedAt` says when it was copied.
std::optional<PlantPolicy> copiedPolicy(const std::string& path, std::string* copiedAt = nullptr);

// The rules that hold where a plant server is configured but neither it nor a copy of its
// settings can be read: the strictest (a reason for every download, another account to
// approve it), never looser than the plant's could be.
PlantPolicy unknownPlantPolicy();

} // namespace pp::history
