#pragma once
// Starting and stopping a recording. Both run on the main window's thread;
// a call from another thread is handed to the window thread and waited for.

#include "guide/recording_rules.h"
#include "platform/start_result.h"

class Tuner;

// Whether the recording of channel runs, or why not: it holds the tuner as
// its rules allow, and a running one is not started again. The recording of
// a guide's programme is named after it, with an .nfo beside it, and noted
// under its rule, which keeps its newest N once the recording ends.
StartResult StartRecording(Tuner& tuner, int channel, const GuideRecording* guided = nullptr);

// Finishes the recording file once the grabbers have left it, and lets the
// tuner go (the capture stops unless a stream or monitoring holds it). -1
// when no recording ran.
int StopRecording(Tuner& tuner);

// From start-up to shutdown, on the window thread: the requests to start
// and stop a recording (motion, the schedule, the recorder's limits, the
// desktop's Record) are served on tuner, and a recording or monitoring that
// another use takes the tuner from (a stream, say) ends as its own stop
// would end it.
void ServeRecordingRequests(Tuner& tuner);
void StopServingRecordingRequests();

// At shutdown, with the capture stopped: the file is finished and no
// recording counts as running.
void FinishRecordingAtShutdown();
