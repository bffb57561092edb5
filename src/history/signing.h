// Approvals and revocations signed by a person at the plant server: in a connection of their
// own plant login and password, typed in at each signing, never kept.
#pragma once

#include "history/entry.h"
#include "history/pg_connection.h"

#include <string>

namespace pp::history {

struct SignResult {
    bool signedOk = false;
    bool refused = false; // the server answered and would not sign (why says why)
    std::string why;
};

// Signs `mark` (an approval made by approvalFrom() or a revocation by revocationOf(), not yet
// recorded) at the plant server `uri` as `as`, a member of paramporter_approver that plant IT
// named among the plant's people. This PC's history at `historyPath` is forwarded first, so the
// server holds what is approved. The server checks the person and, where the plant requires it,
// that they did not make the values approved, and records who signed from the connection
// itself, with the printed name and its own time: what comes back is set as mark.signature.
// The password is cleared from `as` once used.
SignResult signAtPlant(Entry& mark, const std::string& historyPath, const std::string& uri,
                       Credentials& as, const Limits& limits);

// A password's bytes overwritten and the text emptied: no copy of it is left where it was.
void wipeSecret(std::string& secret);

} // namespace pp::history
