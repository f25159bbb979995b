#pragma once
// The font of the program's windows: "ＭＳ Ｐゴシック" with a character height
// of 12 pixels. Where that family is not installed it is substituted by a
// metric-compatible Japanese font (IPAPGothic first), so that Japanese texts
// never render as boxes.

#include <QFont>

namespace pelicore {

QFont PelicoreFont();

}  // namespace pelicore
