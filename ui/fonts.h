// The font of the layouts on this platform.
#pragma once

#include <QString>

// The family the layouts name: "MS Sans Serif", a Windows bitmap font of
// 8 point (11 pixels at 96 dpi) for which the captions and boxes were sized.
inline const QString kDesignFontFamily = QStringLiteral("MS Sans Serif");

// The font file that stands in for it: Tahoma as Wine ships it (Debian
// package fonts-wine). Tahoma replaced MS Sans Serif in dialogs without
// moving their controls; its captions come within a few per cent of the
// design's widths, where the platform's default sans is about a sixth wider.
inline const QString kDesignFontSubstituteFile = QStringLiteral("/usr/share/wine/fonts/tahoma.ttf");

// Registers the font in `file` with the application and returns its family,
// or an empty text when the file is missing, not a font or not trusted: it
// and each of its folders must belong to root or to this user and be
// writable by nobody else (a folder writable by all only with the sticky
// bit, as /tmp, where nobody can replace what another user owns).
QString RegisterTrustedFont(const QString& file);

// Registers the substitute font and makes it the font that the design
// family stands for; without it nothing changes and the font database falls
// back as usual. Needs the GUI application; later calls do nothing. Returns
// the family that now stands for the design family, or an empty text.
QString SubstituteDesignFont();
