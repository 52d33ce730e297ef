#include "capture/grabber_callbacks.h"

#include "capture/captions.h"
#include "capture/motion.h"
#include "shared/resources.h"
#include "shared/server_state.h"

#include <algorithm>
#include <cstring>

CVSampleGrabberCB gVideoCallback;
CASampleGrabberCB gAudioCallback;
CCCSampleGrabberCB gCaptionCallback;

uint8_t gCaptionBytes[kCaptionBufferSize];
int32_t gCaptionFill = 0;

std::atomic<int> gEncoderSlotInUse{0};

namespace {

std::atomic<SampleConsumer*> consumer{nullptr};

} // namespace

void SetSampleConsumer(SampleConsumer* sampleConsumer)
{
    consumer = sampleConsumer;
}

int CVSampleGrabberCB::BufferCB(double sampleTime, const uint8_t* buffer, int length)
{
    gEncoderSlotInUse = 1;
    const bool streaming = gState.streaming != 0;
    const bool recording = gState.recording != 0;
    if (!streaming)
        gEvents.videoEncoderExit.Set();
    if (!recording)
        gEvents.videoRecorderExit.Set();
    if (!streaming && !recording && !gState.monitoring)
        return 0;
    if (!buffer)
        return -1;
    MonitorVideoFrame(buffer, length);
    if (SampleConsumer* to = consumer; to && (streaming || recording))
        to->VideoSample(sampleTime, buffer, length);
    return 0;
}

int CASampleGrabberCB::BufferCB(double sampleTime, const uint8_t* buffer, int length)
{
    gEncoderSlotInUse = 1;
    const bool streaming = gState.streaming != 0;
    const bool recording = gState.recording != 0;
    if (!streaming)
        gEvents.audioEncoderExit.Set();
    if (!recording)
        gEvents.audioRecorderExit.Set();
    if (!streaming && !recording)
        return 0;
    if (!buffer || length < 0)
        return -1;
    if (SampleConsumer* to = consumer)
        to->AudioSamples(sampleTime, buffer, length);
    return 0;
}

int CCCSampleGrabberCB::BufferCB(double, const uint8_t* buffer, int length)
{
    const int count = buffer ? std::clamp(length, 0, kCaptionBufferSize - gCaptionFill) : 0;
    if (count > 0)
        std::memcpy(gCaptionBytes + gCaptionFill, buffer, static_cast<size_t>(count));
    gCaptionFill += count;
    if (gCaptionFill >= kCaptionDecodeBytes) {
        // A batch with a parity error is dropped whole, as any other.
        DecodeCaptions(gCaptionBytes, gCaptionFill);
        gCaptionFill = 0;
    }
    return 0;
}

void ResetCaptionBuffer()
{
    std::memset(gCaptionBytes, 0, sizeof gCaptionBytes);
    gCaptionFill = 0;
    ResetCaptionDecoder();
}
