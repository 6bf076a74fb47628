#include "CellFont.h"

#include <QFontMetricsF>
#include <QStringList>
#include <algorithm>
#include <cmath>
#include <cstdlib>

void InstallFontSubstitutes() {
  static bool done = false;
  if (done) return;
  done = true;
  // Only faces that have no substitutes yet: a program that set its own keeps them.
  const auto add = [](const char* face, const QStringList& subs) {
    if (QFont::substitutes(face).isEmpty()) QFont::insertSubstitutions(face, subs);
  };
  const QStringList narrowSans = {"Tahoma", "DejaVu Sans Condensed", "Liberation Sans Narrow",
                                  "Liberation Sans", "DejaVu Sans"};
  add("Tahoma", {"DejaVu Sans Condensed", "Liberation Sans Narrow", "Liberation Sans"});
  add("Tohoma", narrowSans);  // the face name as the windows write it
  add("MS Sans Serif", narrowSans);
  add("Sylfaen", {"DejaVu Serif Condensed", "Liberation Serif", "DejaVu Serif"});
  add("Arial", {"Liberation Sans", "Arimo", "DejaVu Sans Condensed"});
  add("Arial Black", {"Liberation Sans", "DejaVu Sans"});
}

QFont MakeCellFont(const QString& face, int height, bool bold, bool italic, bool underline) {
  InstallFontSubstitutes();
  QFont f(face);
  f.setStyleHint(QFont::SansSerif);
  f.setWeight(bold ? QFont::Bold : QFont::Normal);
  f.setItalic(italic);
  f.setUnderline(underline);
  f.setStrikeOut(false);
  if (height < 0) {
    f.setPixelSize(-height);
  } else if (height > 0) {
    // Ask once at the cell height, then scale the em so the matched face's cell is that high.
    f.setPixelSize(height);
    const qreal cell = QFontMetricsF(f).height();
    if (cell > 0)
      f.setPixelSize(std::max(1, static_cast<int>(std::lround(height * height / cell))));
  }
  return f;
}
