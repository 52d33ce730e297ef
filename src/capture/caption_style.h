#pragma once
// The closed-caption font and colour as the settings store them, and the
// style the caption overlay is drawn with.

#include "config/settings.h"

#include <QColor>
#include <QFont>

#include <cstdint>

// The stored description of a font: height in tenths of a point, weight 700
// for bold and 400 otherwise, smoothed, "Arial" when the family has no name.
LogFont LogFontFromFont(const QFont& font);
QFont FontFromLogFont(const LogFont& logFont);

// Colours are stored as 0x00BBGGRR.
uint32_t ColorRefFromColor(const QColor& color);
QColor ColorFromColorRef(uint32_t colorRef);

// What the captions are drawn with. heightTenths is the stored font height
// in tenths of a point: the overlay's margin and row height follow it, not
// the font's measured size.
struct CaptionStyle {
    QFont font;
    QColor colour;
    int heightTenths;
};

// The caption font and colour of gSettings.record.
CaptionStyle CaptionStyleFromSettings();
