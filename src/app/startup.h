#pragma once
// What the main frame does to the process when it is created and destroyed,
// apart from its windows.

class Tuner;

// The initialisation sequence: state, settings, events, buffers, and who
// lets tuner go when a stream takes it. 1 on success, 0 when start-up must
// end.
int RunInitialisationSequence(Tuner& tuner);

// Frees and ends everything the sequence and the server started.
void ShutdownProcess(Tuner& tuner);

// Without a display nobody can answer a dialog: the program then skips its
// first-run dialogs. Set once by the program before the main frame is made.
void SetHeadless(bool withoutDisplay);
bool RunningHeadless();

// Set at start-up while no account is stored: the view then leads the user
// through the first-run dialogs, which clear it.
bool IsFirstRun();
void SetFirstRun(bool on);

// Tells the log what a server without a screen still lacks (account,
// lineup, media folders) and how to set it up.
void LogMissingSetUp();
