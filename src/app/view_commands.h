#pragma once
// The logic of the main view's commands, apart from the widgets that show
// their results.

// Walks from the current channel upwards (step +1, 999 wraps to 0) or
// downwards (step -1) to the next enabled channel and makes it current.
// Returns the new current channel, or -1 when nothing changed.
int StepChannel(int step);

// Turns autostart after login on or off through the autostart entry, whose
// command is the executable followed by " /u"; the settings field follows
// only when the change succeeded.
void ToggleAutostart();
