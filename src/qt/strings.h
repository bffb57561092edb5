// The core keeps UTF-8 in std::string; Qt keeps QString. One pair of conversions for both ways.
#pragma once

#include <QString>

#include <string>
#include <string_view>

namespace pp::qt {

inline QString qs(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

inline std::string utf8(const QString& text) {
    return text.toStdString();
}

} // namespace pp::qt
