#include "capture/grabber_callbacks.h"

#include "app/resources.h"
#include "app/server_state.h"
#include "encode/live_encoder.h"

#include <algorithm>
#include <cstring>

CVSampleGrabberCB gVideoCallback;
CASampleGrabberCB gAudioCallback;
CCCSampleGrabberCB gCaptionCallback;

uint8_t gCaptionBytes[kCaptionBufferSize];
int32_t gCaptionFill = 0;

namespace {

// Each event is looked up once: the callbacks run for every sample.
AutoResetEvent& VideoEncoderExit()
{
    static AutoResetEvent& event = NamedEvent("VideoEncoderExit");
    return event;
}

AutoResetEvent& VideoRecorderExit()
{
    static AutoResetEvent& event = NamedEvent("VideoRecorderExit");
    return event;
}

AutoResetEvent& AudioEncoderExit()
{
    static AutoResetEvent& event = NamedEvent("AudioEncoderExit");
    return event;
}

AutoResetEvent& AudioRecorderExit()
{
    static AutoResetEvent& event = NamedEvent("AudioRecorderExit");
    return event;
}

// A block that does not fit whole is dropped whole.
void Stage(uint8_t* staging, int32_t& fill, const uint8_t* block, int length)
{
    if (fill + static_cast<int64_t>(length) > static_cast<int64_t>(kPcmStagingSize))
        return;
    std::memcpy(staging + fill, block, static_cast<size_t>(length));
    fill += length;
}

} // namespace

int CVSampleGrabberCB::BufferCB(double sampleTime, const uint8_t* buffer, int length)
{
    gEncoderSlotInUse = 1;
    const bool streaming = gState.streaming != 0;
    const bool recording = gState.recording != 0;
    if (!streaming)
        VideoEncoderExit().Set();
    if (!recording)
        VideoRecorderExit().Set();
    if (!streaming && !recording && !gState.monitoring)
        return 0;
    if (!buffer)
        return -1;
    gLatestVideoSample = {buffer, length};
    // Motion monitoring's comparison period (every 32nd frame while the
    // channel's motion switch and the monitoring flag are on) joins here.
    if (streaming || recording)
        EncodeVideoSample(sampleTime);
    return 0;
}

int CASampleGrabberCB::BufferCB(double sampleTime, const uint8_t* buffer, int length)
{
    gEncoderSlotInUse = 1;
    const bool streaming = gState.streaming != 0;
    const bool recording = gState.recording != 0;
    if (!streaming)
        AudioEncoderExit().Set();
    if (!recording)
        AudioRecorderExit().Set();
    if (!streaming && !recording)
        return 0;
    if (!buffer || length < 0)
        return -1;
    if (streaming)
        Stage(gBuffers.livePcm, gLivePcmFill, buffer, length);
    if (recording)
        Stage(gBuffers.recorderPcm, gRecorderPcmFill, buffer, length);
    EncodeAudioSamples(sampleTime);
    return 0;
}

int CCCSampleGrabberCB::BufferCB(double, const uint8_t* buffer, int length)
{
    const int count = buffer ? std::clamp(length, 0, kCaptionBufferSize - gCaptionFill) : 0;
    if (count > 0)
        std::memcpy(gCaptionBytes + gCaptionFill, buffer, static_cast<size_t>(count));
    gCaptionFill += count;
    if (gCaptionFill >= kCaptionDecodeBytes) {
        // The caption decoder takes gCaptionBytes[0, gCaptionFill) here.
        gCaptionFill = 0;
    }
    return 0;
}

void ResetCaptionBuffer()
{
    std::memset(gCaptionBytes, 0, sizeof gCaptionBytes);
    gCaptionFill = 0;
}
