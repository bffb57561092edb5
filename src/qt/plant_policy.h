// The plant's policy as this PC sees it: the plant server's settings when one is configured,
// else the [plant] section of the program's settings file. Read when a download or an approval
// needs it, so a change made by the plant's IT counts at once.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace pp::qt {

struct PlantPolicy {
    bool approverNotAuthor = false;
    bool reasonRequired = false;
    std::vector<std::string> reasons;
};

// The [plant] keys of this PC's program settings.
std::map<std::string, std::string> localPlantSettings();
PlantPolicy localPlantPolicy();

} // namespace pp::qt
