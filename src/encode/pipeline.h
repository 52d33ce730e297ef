#pragma once
// Start and stop of the whole live pipeline: capture graph, live encoders and
// the flags the capture callbacks obey.

// On the main window's thread, when the command session asks for a stream
// (fileMode 1 for a media file). Signals "StreamerStart" when done; the
// session learns success from the streaming flag. 0, or -1.
int StartLiveStreaming(int fileMode);

// After the sender has stopped and the streaming flag is clear: waits for the
// capture callbacks to leave the encoders, stops capture unless a recording
// needs it, and closes the encoders.
void StopStreaming();
