// Building uploaded records for the record tests.
#pragma once

#include "link/frames.h"

#include <string>
#include <vector>

namespace pp::testing {

inline std::string joinFields(const std::vector<std::string>& fields) {
    std::string s;
    for (size_t i = 0; i < fields.size(); ++i) {
        if (i)
            s += ',';
        s += fields[i];
    }
    return s;
}

// The record as the instrument sends it: the fields, then the checksum of all before it.
inline std::string sealed(const std::vector<std::string>& fields) {
    std::string body = joinFields(fields) + ",";
    return body + std::to_string(FrameChecksum(body));
}

// The same record with its checksum off by one.
inline std::string sealedWrong(const std::vector<std::string>& fields) {
    std::string body = joinFields(fields) + ",";
    return body + std::to_string(FrameChecksum(body) + 1);
}

} // namespace pp::testing
