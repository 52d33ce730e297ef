#pragma once
// The program's own icons, drawn rather than loaded, so that the main window
// looks the same on every desktop and icon theme.

#include <QIcon>

enum class ProgramIcon { Program, Start, Stop, Record, Lineup, Statistics, Help };

QIcon PaintedIcon(ProgramIcon which);
