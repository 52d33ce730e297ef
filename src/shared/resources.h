#pragma once
// The large buffers, made once at start-up and kept for the life of the
// program.

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

// Allocates the six large buffers, zeroed; on failure frees what it got and
// returns -1.
int AllocateLargeBuffers();
void FreeLargeBuffers();
