#include "exchange.h"

#include "session_driver.h"

namespace pp::ui {

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
    start();
    if (!ended)
        loop.exec(flags);
    QObject::disconnect(connection);
    if (!ended)
        driver.closePort();
    return ended;
}

} // namespace pp::ui
