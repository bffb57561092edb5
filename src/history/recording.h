// What the history says about an exchange that has ended, from what the session and the
// sheet it wrote into show at that moment.
#pragma once

#include "history/entry.h"
#include "link/session.h"
#include "sheet/sheet.h"

#include <optional>
#include <string>

namespace pp::history {

struct ExchangeEnd {
    ExchangeInfo exchange; // Session::exchange()
    Outcome outcome = Outcome::NoResponse;
    std::string status;    // status panel 1 as the exchange left it
    int downloadIndex = 0; // Session::downloadIndex(): the next field a download would send
};

// The entry for a transfer of parameters: everything but time, user, host and port. None for
// the mode and part-list requests, and for a starter that sent nothing (a local refusal, a
// port that would not open): the instrument was never asked.
std::optional<Entry> entryFor(const ExchangeEnd& end, const Sheet& sheet);

// The operating system account running this program, from the account database.
std::string accountName();
std::string hostName();

} // namespace pp::history
