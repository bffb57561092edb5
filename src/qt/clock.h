// The computer's local date and time as the core takes them (default file names, the report's
// header), so every caller reads the clock one way.
#pragma once

#include <ctime>

namespace pp::qt {

std::tm now();   // local date and time, to the second
std::tm today(); // local date; the time fields zero

} // namespace pp::qt
