#pragma once
// Starting and stopping the server: the Start and Stop commands and the
// matching steps of shutdown.

class Tuner;

// Starts the network start-up thread unless it runs. 0, or -1 when no
// thread could be made (the user has been told). The handhelds' sessions
// hold tuner, which lives as long as the program.
int StartServer(Tuner& tuner);

// Stops the listener and ends the session; ignored while ports are being
// configured. Returns once the listener has ended.
void StopServer(Tuner& tuner);

// Marks the server stopped, ends the session and its stream, and shuts the
// listening sockets down; the threads end by themselves.
void EndServing(Tuner& tuner);

// Shuts the listening sockets down so that a blocked accept returns; the
// listener closes them.
void CloseListeningSockets();
