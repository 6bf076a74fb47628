// Fonts asked for as the windows of the design ask for them: a face name kept as written and a
// height in pixels that is the character cell (ascent plus descent), not the em size.
#pragma once

#include <QFont>
#include <QString>

// Registers stand-ins for the Windows faces the windows name ("Tahoma", "Tohoma", "Sylfaen",
// "Arial", "Arial Black", "MS Sans Serif") where they are not installed: metric-alike or
// narrow faces first, so texts sized for Tahoma still fit. Safe to call more than once; the
// controls call it themselves.
void InstallFontSubstitutes();

// A font of the face with a character cell `height` pixels high (negative: the em size is
// -height, as a negative font height means), bold weight 700 or normal 400, sans-serif family
// for the matcher. Height 0 keeps the default size.
QFont MakeCellFont(const QString& face, int height, bool bold = false, bool italic = false,
                   bool underline = false);
