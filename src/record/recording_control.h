#pragma once
// Starting and stopping a recording of the current channel. Both run on the
// main window's thread, when the frame receives the recorder's messages; a
// call from another thread is handed to the window thread and waited for.

#include "platform/start_result.h"

// Whether the recording runs, or why not; a running one is not started again.
StartResult StartRecordingCurrentChannel();

// Finishes the recording file once the grabbers have left it, and stops the
// capture unless streaming or monitoring still needs it. -1 when no
// recording ran.
int StopRecording();

// At shutdown, with the capture stopped: the file is finished and no
// recording counts as running.
void FinishRecordingAtShutdown();
