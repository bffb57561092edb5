// What the local history and the plant server are asked, and what they answer alike: the
// filter of a listing, the verdict on a chain, a link of the chain.
#pragma once

#include "history/entry.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace pp::history {

struct Filter {
    std::string serial;           // exactly this serial number; empty: any
    std::string part;             // "01".."32"; empty: any
    std::optional<Action> action; // none: any
    std::string text;             // in any column of the table (reasons too), any case; empty: any
    bool operator==(const Filter&) const = default;
};

struct Verification {
    int64_t entries = 0;     // entries checked
    int64_t firstBroken = 0; // ID of the first entry that does not match; 0 when intact
    std::string why;         // what did not match
    // Every entry that does not match, the first one included, where the check goes on past it
    // (the plant's); empty where it stops at the first.
    struct Break {
        int64_t id = 0;
        std::string why;
    };
    std::vector<Break> breaks;
};

// One link of the local chain, as a plant server's copy is compared with it.
struct ChainLink {
    int64_t id = 0;
    std::string source;
    std::string hash;
    bool forwarded = false;
};

} // namespace pp::history
