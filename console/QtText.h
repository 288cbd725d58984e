#pragma once
// The host's texts are UTF-8.

#include <QString>
#include <string_view>

namespace nubo {

inline QString Q(std::string_view s) {
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

} // namespace nubo
