#pragma once
// What the handheld's command session stores for the stream, recording and
// monitoring code to read.

#include "encode/pipeline.h"

#include <atomic>
#include <cstdint>

struct SessionState {
    StreamRequest request{};
    std::atomic<int> fileMode{0};
    std::atomic<int> motionDetected{0};
};

extern SessionState gSession;

// The command session, run on its own thread by the listener.
int RunCommandSession();
