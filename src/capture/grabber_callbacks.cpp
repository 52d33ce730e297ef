#include "capture/grabber_callbacks.h"

#include "capture/captions.h"
#include "capture/motion.h"
#include "shared/resources.h"
#include "shared/server_state.h"

#include <algorithm>
#include <cstring>
#include <mutex>

SampleGrabbers gGrabbers;

void SampleGrabbers::ResetExitSignals()
{
    videoEncoderExit.Reset();
    audioEncoderExit.Reset();
    videoRecorderExit.Reset();
    audioRecorderExit.Reset();
}

namespace {

std::atomic<SampleConsumer*> consumer{nullptr};

// Caption byte pairs wait here for the decoder. The caption callback fills
// it while the window thread may empty it for a new start: the lock keeps
// the two apart; the decoder runs outside it, on a copy.
std::mutex captionLock;
uint8_t captionBytes[kCaptionBufferSize];
int32_t captionFill = 0;

// What a picture or sound callback finds when it starts: the flags, read
// once. Marks the callbacks as running and tells a stop waiting for either
// branch that this one has seen it off.
struct BranchesOn {
    bool streaming;
    bool recording;
};

BranchesOn EnterCallback(AutoResetEvent& encoderExit, AutoResetEvent& recorderExit)
{
    gGrabbers.encoderSlotInUse = 1;
    const BranchesOn on{IsStreaming(), IsRecording()};
    if (!on.streaming)
        encoderExit.Set();
    if (!on.recording)
        recorderExit.Set();
    return on;
}

} // namespace

void SetSampleConsumer(SampleConsumer* sampleConsumer)
{
    consumer = sampleConsumer;
}

int CVSampleGrabberCB::BufferCB(double sampleTime, const uint8_t* buffer, int length)
{
    const BranchesOn on = EnterCallback(gGrabbers.videoEncoderExit, gGrabbers.videoRecorderExit);
    if (!on.streaming && !on.recording && !IsMonitoring())
        return 0;
    if (!buffer)
        return -1;
    MonitorVideoFrame(buffer, length);
    if (SampleConsumer* to = consumer; to && (on.streaming || on.recording))
        to->VideoSample(sampleTime, buffer, length);
    return 0;
}

int CASampleGrabberCB::BufferCB(double sampleTime, const uint8_t* buffer, int length)
{
    const BranchesOn on = EnterCallback(gGrabbers.audioEncoderExit, gGrabbers.audioRecorderExit);
    if (!on.streaming && !on.recording)
        return 0;
    if (!buffer || length < 0)
        return -1;
    if (SampleConsumer* to = consumer)
        to->AudioSamples(sampleTime, buffer, length);
    return 0;
}

int CCCSampleGrabberCB::BufferCB(double, const uint8_t* buffer, int length)
{
    uint8_t batch[kCaptionBufferSize];
    int32_t batchSize = 0;
    {
        std::lock_guard hold(captionLock);
        const int count = buffer ? std::clamp(length, 0, kCaptionBufferSize - captionFill) : 0;
        if (count > 0)
            std::memcpy(captionBytes + captionFill, buffer, static_cast<size_t>(count));
        captionFill += count;
        if (captionFill >= kCaptionDecodeBytes) {
            batchSize = captionFill;
            std::memcpy(batch, captionBytes, static_cast<size_t>(batchSize));
            captionFill = 0;
        }
    }
    // A batch with a parity error is dropped whole, as any other.
    if (batchSize > 0)
        DecodeCaptions(batch, batchSize);
    return 0;
}

int32_t CaptionBytesWaiting()
{
    std::lock_guard hold(captionLock);
    return captionFill;
}

void ResetCaptionBuffer()
{
    {
        std::lock_guard hold(captionLock);
        std::memset(captionBytes, 0, sizeof captionBytes);
        captionFill = 0;
    }
    ResetCaptionDecoder();
}
