// The plant's policy as this PC sees it: the plant server's settings when one is configured,
// else the [plant] section of the program's settings file. Read when a download or an approval
// needs it, so a change made by the plant's IT counts at once.
#pragma once

#include "history/approvals.h"
#include "history/entry.h"

#include <map>
#include <string>

namespace pp::qt {

using PlantPolicy = pp::history::PlantPolicy;

// The [plant] keys of this PC's program settings, and the policy they give.
std::map<std::string, std::string> localPlantSettings();
PlantPolicy localPlantPolicy();

} // namespace pp::qt
