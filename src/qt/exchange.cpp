#include "qt/exchange.h"

#include "qt/session_driver.h"

namespace pp::qt {

std::optional<pp::Outcome> runExchange(SessionDriver& driver, const std::function<void()>& start,
                                       QEventLoop::ProcessEventsFlags flags) {
    std::optional<pp::Outcome> ended;
    QEventLoop loop;
    const auto connection =
        QObject::connect(&driver, &SessionDriver::exchangeEnded, &loop, [&](pp::Outcome outcome) {
            if (!ended)
                ended = outcome;
            loop.quit();
        });
    // With an exchange under way the starter refuses and begins nothing: do not wait for
    // the running exchange's end as if it were this one's.
    const bool refused = driver.session().transferRunning();
    start();
    if (!ended && refused)
        ended = pp::Outcome::LocalRefusal;
    if (!ended)
        loop.exec(flags);
    QObject::disconnect(connection);
    if (!ended)
        driver.closePort();
    return ended;
}

} // namespace pp::qt
