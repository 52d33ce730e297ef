#pragma once
// Process-wide synchronisation objects and large buffers, made once at
// start-up and kept for the life of the program.

#include "platform/sync.h"

#include <cstddef>
#include <cstdint>

// Each stream ring and the subtitle queue.
constexpr int32_t kRingSize = 13980000;
constexpr size_t kStagingSize = 76582;
constexpr size_t kPcmStagingSize = 800000;

// Views of the large buffers, which AllocateLargeBuffers owns.
struct LargeBuffers {
    uint8_t* videoRing = nullptr;
    uint8_t* audioRing = nullptr;
    uint8_t* subtitleQueue = nullptr;
    uint8_t* senderStaging = nullptr;
    uint8_t* livePcm = nullptr;
    uint8_t* recorderPcm = nullptr;
};

extern LargeBuffers gBuffers;

// Guards the stream rings and their indexes: taken by the live encode steps
// for each append and by the sender for each take.
extern RecursiveTimedMutex gBufferMutex;
// Guards the subtitle queue: taken by its producer to append and by the
// sender to read what is pending; never across a write.
extern RecursiveTimedMutex gSenderMutex;
// Keeps the address watcher's registrations apart from the network start-up
// thread's choice of address, its registration with the connectivity test,
// and each handheld's negotiation: taken around each of them.
extern std::mutex gNetworkMutex;
// Taken by the video and audio encode steps around each write into the
// recording file, so that the two never enter the writer at once.
extern CriticalSection gEncoderLock;

// The signals that cross threads without a call to carry them: auto-reset,
// unsignalled at start-up.
struct ProgramEvents {
    // Set by the video grabber callback whenever it finds streaming off;
    // StopStreaming waits for it before it closes the live encoders.
    AutoResetEvent videoEncoderExit;
    // The same for the audio grabber callback.
    AutoResetEvent audioEncoderExit;
    // Set by the video grabber callback whenever it finds recording off; the
    // stop-recording handler waits for it before it closes the file.
    AutoResetEvent videoRecorderExit;
    // The same for the audio grabber callback.
    AutoResetEvent audioRecorderExit;
    // Set by the port-mapping policy whenever a mapping run ends, mapped or
    // not (and at once when the ports are mapped already); the network
    // start-up thread waits for it before it starts the listener.
    AutoResetEvent natConfig;

    // Back to unsignalled, as at start-up.
    void ResetAll();
};

// Live for the whole process, so that no thread can wait on a freed one.
extern ProgramEvents gEvents;

// Allocates the six large buffers, zeroed; on failure frees what it got and
// returns -1.
int AllocateLargeBuffers();
void FreeLargeBuffers();
