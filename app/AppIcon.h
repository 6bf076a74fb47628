// The program's icon, drawn in code: a film frame with a cut mark.
#pragma once

#include <QIcon>

QIcon MakeAppIcon();
