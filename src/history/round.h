// A round: the instruments on several ports read one after the other, each port's uploads
// audited against the approvals, and one summary for the plant's hooks. What the round decides
// lives here, below the command line that runs it.
#pragma once

#include "history/audit.h"
#include "history/entry.h"
#include "history/source.h"

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace pp::history {

struct PortRound {
    std::string port;   // "COMM 1", or the device path given
    std::string device; // what was opened
    std::string error;  // why the port could not be read; empty when it was
    std::string serial, generation;
    std::vector<Entry> entries;                                   // recorded while reading it
    std::vector<std::pair<std::string, std::string>> partsFailed; // part number, why
    std::vector<AuditRow> audited; // one per upload read, as the audit sees its scope
    int deviations = 0;
    bool failed() const { return !error.empty() || !partsFailed.empty(); }
};

// What a port's uploads deviate in: each successful upload's scope as `rows` (the audit of its
// serial number) has it, or as never approved when `rows` holds none; a scope deviates when it
// does not comply or the upload changed against the last values.
void auditPort(PortRound& port, const std::optional<std::vector<AuditRow>>& rows);

// The JSON summary the hooks read: the time, host and account, per port its device, result,
// error, serial number, generation, the scopes read (approved, matches, findings) and the part
// numbers that failed; then the numbers of deviations and failures. One line.
std::string roundSummaryJson(const std::vector<PortRound>& ports, const std::string& time,
                             const std::string& host, const std::string& user);

int roundDeviations(const std::vector<PortRound>& ports);
int roundFailures(const std::vector<PortRound>& ports);

} // namespace pp::history
