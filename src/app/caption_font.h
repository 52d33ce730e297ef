#pragma once
// The dialogs in which the user picks the closed-caption font and colour;
// the conversions to and from the stored form live with the caption style.

#include "capture/caption_style.h"

class QWidget;

// The font dialog, then the colour dialog, each starting from the stored
// choice; a cancelled font dialog changes nothing, a cancelled colour
// dialog keeps the colour.
void ChooseCaptionFont(QWidget* parent);
