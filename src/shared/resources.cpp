#include "shared/resources.h"

#include <initializer_list>
#include <memory>
#include <new>

LargeBuffers gBuffers;

namespace {

uint8_t** const kBufferSlots[] = {&gBuffers.videoRing,     &gBuffers.audioRing, &gBuffers.subtitleQueue,
                                  &gBuffers.senderStaging, &gBuffers.livePcm,   &gBuffers.recorderPcm};
const size_t kBufferSizes[] = {kRingSize,    kRingSize,       kRingSize,
                               kStagingSize, kPcmStagingSize, kPcmStagingSize};
std::unique_ptr<uint8_t[]> ownedBuffers[std::size(kBufferSlots)];

} // namespace

int AllocateLargeBuffers()
{
    for (size_t i = 0; i < std::size(kBufferSlots); ++i) {
        ownedBuffers[i].reset(new (std::nothrow) uint8_t[kBufferSizes[i]]());
        *kBufferSlots[i] = ownedBuffers[i].get();
        if (!ownedBuffers[i]) {
            FreeLargeBuffers();
            return -1;
        }
    }
    return 0;
}

void FreeLargeBuffers()
{
    for (size_t i = 0; i < std::size(kBufferSlots); ++i) {
        *kBufferSlots[i] = nullptr;
        ownedBuffers[i].reset();
    }
}
