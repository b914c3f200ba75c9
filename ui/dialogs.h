// Message and confirmation boxes. Their text is shown as it is, never as markup.
#pragma once

#include <QString>

#include "ui/forms.h"

// A plain message with one OK button, captioned with the application title.
void ShowMessage(const QString& text);

// Asks a question in a box captioned "Confirm" with the question icon and the
// buttons "&Yes" (the default) and "&No" (also Escape and closing the box).
// Returns mrYes or mrNo.
TModalResult MessageDlgYesNo(const QString& text);
