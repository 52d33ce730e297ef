#pragma once
// What the main frame does to the process when it is created and destroyed,
// apart from its windows.

// The initialisation sequence: state, settings, events, buffers. 1 on
// success, 0 when start-up must end.
int RunInitialisationSequence();

// Frees and ends everything the sequence and the server started.
void ShutdownProcess();

// True when the stored account texts are all present.
bool AccountIsStored();
