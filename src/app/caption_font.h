#pragma once
// The closed-caption font and colour as the settings store them, and the
// dialogs in which the user picks them.

#include "config/settings.h"

#include <QColor>
#include <QFont>

class QWidget;

// The stored description of a font: height in tenths of a point, weight 700
// for bold and 400 otherwise, smoothed, "Arial" when the family has no name.
LogFont LogFontFromFont(const QFont& font);
QFont FontFromLogFont(const LogFont& logFont);

// Colours are stored as 0x00BBGGRR.
uint32_t ColorRefFromColor(const QColor& color);
QColor ColorFromColorRef(uint32_t colorRef);

// The font dialog, then the colour dialog, each starting from the stored
// choice; a cancelled font dialog changes nothing, a cancelled colour
// dialog keeps the colour.
void ChooseCaptionFont(QWidget* parent);
