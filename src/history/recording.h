// What the history says about an exchange that has ended, from what the session and the
// sheet it wrote into show at that moment.
#pragma once

#include "history/entry.h"
#include "link/session.h"
#include "sheet/sheet.h"

#include <optional>
#include <string>

namespace pp::history {

// The entry for the exchange `session` has just ended, with `status` in status panel 1: a
// transfer of parameters, with everything but time, user, host and port. None for the mode
// and part-list requests, and for a starter that sent nothing (a local refusal, a port that
// would not open): the instrument was never asked.
std::optional<Entry> entryFor(const Session& session, Outcome outcome, const std::string& status);

// The parameter file an entry of `scope` keeps for `sheet`. A sheet without part values (a
// system transfer, or a sheet opened from one) keeps an empty part line, as the file reader
// knows it; its part number alone would make a file that does not read.
std::string recordedFile(const Sheet& sheet, Scope scope);

// The operating system account running this program, from the account database.
std::string accountName();
std::string hostName();

} // namespace pp::history
