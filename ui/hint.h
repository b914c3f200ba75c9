// Control hints: "short|long" texts. While the mouse pointer is over a control
// that has one, it is the application's hint (TApplication::Hint); the tooltip
// shows the short part.
#pragma once

#include <QString>

class QWidget;

// The text before the first "|", or the whole hint when it has none.
QString GetShortHint(const QString& hint);
// The text after the first "|", or the whole hint when it has none.
QString GetLongHint(const QString& hint);

// Gives `control` its hint. With `showHint` its tooltip is the short part;
// without, it has no tooltip. The application's hint follows the pointer
// either way, and is cleared when the pointer leaves the control.
void SetControlHint(QWidget* control, const QString& hint, bool showHint = true);
// A tooltip that shows `text` as it is: a tooltip takes text that looks like
// markup as rich text, so such a text is escaped.
QString PlainToolTip(const QString& text);
// The hint given to `control`; empty when it has none.
QString ControlHint(const QWidget* control);
