#pragma once
// The grabber callbacks: the only place where raw pictures, PCM and caption
// bytes enter the program. They run on the capture layer's streaming threads,
// queue nothing and hand every sample on synchronously.

#include "platform/capture/capture_layer.h"

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

// Set by the video and audio callbacks on every call: once set, stopping a
// stream must wait for them to see it stopped.
extern std::atomic<int> gEncoderSlotInUse;

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

extern CVSampleGrabberCB gVideoCallback;
extern CASampleGrabberCB gAudioCallback;
extern CCCSampleGrabberCB gCaptionCallback;

// Caption byte pairs wait until there are enough for the decoder.
constexpr int kCaptionBufferSize = 1600;
constexpr int kCaptionDecodeBytes = 16;
int32_t CaptionBytesWaiting();

// Empties the caption buffer and the decoder, as every stream buffer reset
// does.
void ResetCaptionBuffer();
