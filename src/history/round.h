// A round: the instruments on several ports read one after the other, each port's uploads
// audited, and one summary for the plant's hooks. What the round decides lives here, below the
// command line that runs it. A round is judged by what it says when things go wrong: a check
// it could not make is a failure it names, never silence.
#pragma once

#include "history/audit.h"
#include "history/entry.h"
#include "history/source.h"

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace pp::history {

// An entry of the round as its transfer ended: recorded in the history or not (then compared
// in memory), and what the last values its findings speak of came from.
struct RoundEntry {
    Entry entry;
    bool recorded = false;
    std::optional<Action> lastAction;
};

struct PortRound {
    std::string port;   // "COMM 1", or the device path given
    std::string device; // what was opened
    std::string error;  // why the port could not be read; empty when it was
    std::string serial; // read there, else the last one seen there
    std::string generation, optionCode;
    std::vector<RoundEntry> entries;                              // transfers made there
    std::vector<std::pair<std::string, std::string>> partsFailed; // part number, why
    std::vector<std::string> findings; // of the port itself: another instrument, a serial twice
    std::vector<AuditRow> audited;     // the scopes read, and those the audit adds
    int deviations = 0;
    bool failed() const { return !error.empty() || !partsFailed.empty(); }
    int read() const; // successful uploads
};

// The findings of entries the history would not take, made as recording makes them, against
// `source` (the approvals and last values the round compares with).
void compareUnrecorded(PortRound& port, EntrySource& source);

// What the port says of itself against what was seen before: `before` the last transfer made
// through this port before the round (another serial number there: "COMM 1 was serial 1234,
// now 1235"), `sameSerial` the last system upload of the serial read, from wherever (another
// generation or option code: two instruments report one serial number).
void findInstrumentChanges(PortRound& port, const std::optional<Entry>& before,
                           const std::optional<Entry>& sameSerial);

// What a port deviates in: each scope read with findings (against the approval in force, the
// last values, or its calibration) or that does not comply as `rows` (the audit of its serial)
// has it; each scope the round did not read that does not comply; each finding of the port.
void auditPort(PortRound& port, const std::optional<std::vector<AuditRow>>& rows,
               const PlantPolicy& policy = {});

// The JSON summary the hooks read: the time, host and account, per port its device, result,
// error, serial number, generation, the scopes read and audited (approved, matches, findings),
// the port's own findings and the part numbers that failed; the round's own failures
// (`problems`: a history not written, entries not forwarded, an audit not read); then the
// numbers of deviations and failures. One line.
std::string roundSummaryJson(const std::vector<PortRound>& ports,
                             const std::vector<std::string>& problems, const std::string& time,
                             const std::string& host, const std::string& user);

int roundDeviations(const std::vector<PortRound>& ports);
// Ports that failed, and every problem of the round.
int roundFailures(const std::vector<PortRound>& ports, const std::vector<std::string>& problems);

} // namespace pp::history
