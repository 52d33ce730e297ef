#pragma once
// Process-wide synchronisation objects and large buffers, made once at
// start-up and kept for the life of the program.

#include "platform/sync.h"

#include <cstddef>
#include <cstdint>

constexpr size_t kRingCapacity = 13980000;
constexpr size_t kStagingSize = 76582;
constexpr size_t kPcmStagingSize = 800000;

struct LargeBuffers {
    uint8_t* videoRing = nullptr;
    uint8_t* audioRing = nullptr;
    uint8_t* subtitleQueue = nullptr;
    uint8_t* senderStaging = nullptr;
    uint8_t* livePcm = nullptr;
    uint8_t* recorderPcm = nullptr;
};

extern LargeBuffers gBuffers;

extern RecursiveTimedMutex gBufferMutex;
extern RecursiveTimedMutex gSenderMutex;
extern RecursiveTimedMutex gRecorderMutex;
extern RecursiveTimedMutex gNetworkMutex;
extern CriticalSection gEncoderLock;
extern CriticalSection gPortMappingLock;

// The twelve events through which threads hand work to each other.
extern const char* const kProgramEvents[12];

// Creates the program's events, unsignalled.
void CreateProgramEvents();

// Allocates the six large buffers, zeroed; on failure frees what it got and
// returns -1.
int AllocateLargeBuffers();
void FreeLargeBuffers();
