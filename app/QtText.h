#pragma once
// Our texts are UTF-8 byte strings; Qt's are QString.

#include <QString>
#include <string>
#include <string_view>

namespace pelicore {

inline QString Q(std::string_view S) { return QString::fromUtf8(S.data(), static_cast<qsizetype>(S.size())); }

}  // namespace pelicore
