// Waiting for one exchange of the session: for the command line, and for the window's work
// that needs a record before it can go on (comparing with the instrument, backups).
#pragma once

#include "link/session.h"

#include <QEventLoop>

#include <functional>
#include <optional>

namespace pp::qt {

class SessionDriver;

// Calls `start` (a request starter of the driver's session) and runs a local event loop until
// the session ends the exchange. An exchange the starter ended at once (the port would not
// open, nothing to send) returns without waiting, and so does a starter refused because
// another exchange is under way (LocalRefusal). Nothing when the loop was left from outside
// (the application is quitting); the port is then closed.
std::optional<pp::Outcome>
runExchange(SessionDriver& driver, const std::function<void()>& start,
            QEventLoop::ProcessEventsFlags flags = QEventLoop::AllEvents);

} // namespace pp::qt
