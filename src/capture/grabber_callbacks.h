#pragma once
// The grabber callbacks: the only place where raw pictures, PCM and caption
// bytes enter the program. They run on the capture layer's streaming threads,
// queue nothing and hand every sample on synchronously.

#include "platform/capture/capture_layer.h"

#include <cstdint>

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

// Caption byte pairs wait here until there are enough for the decoder.
constexpr int kCaptionBufferSize = 1600;
constexpr int kCaptionDecodeBytes = 16;
extern uint8_t gCaptionBytes[kCaptionBufferSize];
extern int32_t gCaptionFill;

// Empties the caption buffer, as every stream buffer reset does.
void ResetCaptionBuffer();
