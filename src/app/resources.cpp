#include "app/resources.h"

#include <new>

LargeBuffers gBuffers;

RecursiveTimedMutex gBufferMutex;
RecursiveTimedMutex gSenderMutex;
RecursiveTimedMutex gRecorderMutex;
RecursiveTimedMutex gNetworkMutex;
CriticalSection gEncoderLock;
CriticalSection gPortMappingLock;

const char* const kProgramEvents[12] = {
    "EncoderThreadStart", "EncoderThreadExit", "VideoEncoderExit", "AudioEncoderExit",
    "RecorderStart",      "VideoRecorderExit", "AudioRecorderExit", "StreamerStart",
    "StreamerExit",       "CommandExit",       "ListenerExit",      "NATConfig",
};

namespace {

uint8_t** const kBufferSlots[] = {&gBuffers.videoRing,     &gBuffers.audioRing, &gBuffers.subtitleQueue,
                                  &gBuffers.senderStaging, &gBuffers.livePcm,   &gBuffers.recorderPcm};
const size_t kBufferSizes[] = {kRingCapacity, kRingCapacity,   kRingCapacity,
                               kStagingSize,  kPcmStagingSize, kPcmStagingSize};

} // namespace

void CreateProgramEvents()
{
    for (const char* name : kProgramEvents)
        NamedEvent(name).Reset();
}

int AllocateLargeBuffers()
{
    for (size_t i = 0; i < std::size(kBufferSlots); ++i) {
        *kBufferSlots[i] = new (std::nothrow) uint8_t[kBufferSizes[i]]();
        if (!*kBufferSlots[i]) {
            FreeLargeBuffers();
            return -1;
        }
    }
    return 0;
}

void FreeLargeBuffers()
{
    for (uint8_t** slot : kBufferSlots) {
        delete[] *slot;
        *slot = nullptr;
    }
}
