#pragma once
// Starting and stopping a recording of the current channel. Both run on the
// main window's thread, when the frame receives the recorder's messages; a
// call from another thread is handed to the window thread and waited for.

// 0 when the recording runs, -1 when it could not start or one already runs.
// Always signals "RecorderStart", so that a waiting session goes on.
int StartRecordingCurrentChannel();

// Finishes the recording file once the grabbers have left it, and stops the
// capture unless streaming or monitoring still needs it. -1 when no
// recording ran.
int StopRecording();
