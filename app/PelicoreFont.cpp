#include "app/PelicoreFont.h"

#include <QStringList>

namespace pelicore {

QFont PelicoreFont() {
  static const QString Family = QStringLiteral("ＭＳ Ｐゴシック");
  static const bool Substituted = [] {
    QFont::insertSubstitutions(Family, {QStringLiteral("IPAPGothic"), QStringLiteral("IPA Pゴシック"),
                                        QStringLiteral("IPAGothic"), QStringLiteral("Noto Sans CJK JP")});
    return true;
  }();
  (void)Substituted;
  QFont Font(Family);
  Font.setPixelSize(12);
  return Font;
}

}  // namespace pelicore
