#include "qt/clock.h"

#include <QDateTime>

namespace pp::qt {

std::tm now() {
    const QDateTime local = QDateTime::currentDateTime();
    std::tm t{};
    t.tm_year = local.date().year() - 1900;
    t.tm_mon = local.date().month() - 1;
    t.tm_mday = local.date().day();
    t.tm_hour = local.time().hour();
    t.tm_min = local.time().minute();
    t.tm_sec = local.time().second();
    t.tm_wday = local.date().dayOfWeek() % 7;
    t.tm_yday = local.date().dayOfYear() - 1;
    t.tm_isdst = -1;
    return t;
}

std::tm today() {
    std::tm t = now();
    t.tm_hour = t.tm_min = t.tm_sec = 0;
    return t;
}

} // namespace pp::qt
