#pragma once
// The grabber callbacks: the only place where raw pictures, PCM and caption
// bytes enter the program. They run on the capture layer's streaming threads,
// queue nothing and hand every sample on synchronously.

#include "platform/capture/capture_layer.h"
#include "platform/sync.h"

#include <atomic>
#include <cstdint>

// Where the grabbers hand pictures and sound on: the encode steps, installed
// by the live pipeline. Called on the streaming threads, only while
// streaming or recording is on, and never for two samples of one stream at
// once.
class SampleConsumer {
public:
    virtual ~SampleConsumer() = default;
    // A bottom-up B,G,R picture of capture size, valid during the call.
    virtual void VideoSample(double sampleTime, const uint8_t* picture, int length) = 0;
    // Interleaved signed 16-bit PCM, valid during the call.
    virtual void AudioSamples(double sampleTime, const uint8_t* pcm, int length) = 0;
};

// Installs the consumer (nullptr: samples are dropped). Set it while no
// graph runs.
void SetSampleConsumer(SampleConsumer* consumer);

// Each returns 0, or -1 for a missing buffer.
class CVSampleGrabberCB : public GrabberCallback {
public:
    int BufferCB(double sampleTime, const uint8_t* buffer, int length) override;
};

class CASampleGrabberCB : public GrabberCallback {
public:
    int BufferCB(double sampleTime, const uint8_t* buffer, int length) override;
};

class CCCSampleGrabberCB : public GrabberCallback {
public:
    int BufferCB(double sampleTime, const uint8_t* buffer, int length) override;
};

// The three callbacks the capture graph's grabbers call, and what they tell
// a stop: a branch may only be closed once both callbacks have seen it off.
struct SampleGrabbers {
    CVSampleGrabberCB video;
    CASampleGrabberCB audio;
    CCCSampleGrabberCB caption;
    // Set by the video and audio callbacks on every call: once set,
    // stopping a stream must wait for them to see it stopped.
    std::atomic<int> encoderSlotInUse{0};
    // Set by each callback whenever it finds streaming (encoder) or
    // recording (recorder) off: a stop resets the pair it waits on, turns
    // the flag off, then waits for both before it closes the encoders or
    // the file.
    AutoResetEvent videoEncoderExit;
    AutoResetEvent audioEncoderExit;
    AutoResetEvent videoRecorderExit;
    AutoResetEvent audioRecorderExit;

    // Back to unsignalled, as at start-up.
    void ResetExitSignals();
};

extern SampleGrabbers gGrabbers;

// Caption byte pairs wait until there are enough for the decoder.
constexpr int kCaptionBufferSize = 1600;
constexpr int kCaptionDecodeBytes = 16;
int32_t CaptionBytesWaiting();

// Empties the caption buffer and the decoder, as every stream buffer reset
// does.
void ResetCaptionBuffer();
