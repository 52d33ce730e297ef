#pragma once
// What the handheld's command session stores for the stream and recording
// code to read.

#include "encode/pipeline.h"

#include <atomic>
#include <cstdint>
#include <functional>

struct SessionState {
    StreamRequest request{};
    std::atomic<int> fileMode{0};
};

extern SessionState gSession;

// Failed logins in a row, counted across sessions; a correct login resets
// it. From the fifth on, every login answer waits: the base delay (1 s),
// doubling with each further failure, at most 30 s. Tests shorten the base
// and set the count.
int FailedLoginsInARow();
void SetLoginThrottle(int baseDelayMs, int failuresInARow);

class Tuner;

// The command session, run on its own thread by the listener; its streams,
// recordings and monitoring hold tuner.
int RunCommandSession(Tuner& tuner);

// What starts the session's streams: the pipeline's StartStream, unless a
// test stands in for the pipeline (an empty starter restores it).
using StreamStarter = std::function<StartResult(const StreamRequest& request, bool fileMode, int fileOpenLimitMs)>;
void SetStreamStarter(StreamStarter starter);
