// The pictures of the buttons with pictures: each a 16 x 16 glyph with a
// greyed form that the button shows while it is disabled.
#pragma once

#include <QIcon>

// The options dialog's and the SQL window's OK.
QIcon GreenTickGlyph();
// The options dialog's Cancel.
QIcon RedCrossGlyph();
// The About window's OK.
QIcon RedTickGlyph();
