// The screen: the application-wide mouse cursor and the screen size.
#pragma once

#include <QSize>

// Screen cursor ids. crDefault lets each widget show its own cursor.
using TCursor = int;
constexpr TCursor crDefault = 0;
constexpr TCursor crArrow = -2;
constexpr TCursor crSQLWait = -11;
constexpr TCursor crHourGlass = -11;

namespace Screen {
// The cursor currently forced on every window; crDefault when none is.
TCursor Cursor();
// Forces `cursor` on every window (crDefault lifts it again).
void SetCursor(TCursor cursor);
// Size of the primary screen in pixels.
QSize Size();
}  // namespace Screen
