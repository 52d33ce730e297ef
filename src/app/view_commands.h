#pragma once
// The logic of the main view's commands, apart from the widgets that show
// their results.

class Tuner;

// Which of the main frame's state commands apply now: Start only while
// disconnected, Stop otherwise, and Record checked while recording.
struct ServerCommandStates {
    bool startEnabled = false;
    bool stopEnabled = false;
    bool recordChecked = false;
};
ServerCommandStates CurrentServerCommandStates();

// Walks from the current channel upwards (step +1, 999 wraps to 0) or
// downwards (step -1) to the next enabled channel and makes it current.
// Returns the new current channel, or -1 when nothing changed.
int StepChannel(Tuner& tuner, int step);

// Turns autostart after login on or off through the autostart entry, whose
// command is the executable followed by " /u"; the settings field follows
// only when the change succeeded.
void ToggleAutostart();

// Asks the main frame to start recording the current channel, or to stop it; a stop by hand
// also ends the scheduled recording that runs, so that the scheduler does
// not start it again.
void ToggleRecording();

// Mutes the preview's sound or turns it up again; the switch changes even
// when the volume cannot be set, which the user is told.
void TogglePreviewMute();

// The checks in front of the Encode File window: 0 when it may open, -1
// after telling the user why not.
int EncodeFileGuard(bool windowOpen);
