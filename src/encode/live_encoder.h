#pragma once
// The live encoder: turns the captured frames and PCM into the raw video and
// audio streams for the handheld (and, while recording, into the recording's
// packets). It has no thread of its own: the capture callbacks call its
// encode steps for every sample.

#include "capture/grabber_callbacks.h"
#include "platform/av_owned.h"

#include <atomic>
#include <cstdint>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
}

// The newest video sample, a bottom-up B,G,R picture of capture size; set by
// the video callback before each EncodeVideoSample and valid only during it.
struct VideoSample {
    const uint8_t* bytes = nullptr;
    int32_t length = 0;
};
extern VideoSample gLatestVideoSample;

// The handheld's closed-caption overlay switch: while it is on, each picture
// is copied into the rendering surface and the captions are drawn over it
// before both branches encode it. Set by the session and at a stream's
// start, read by the video callback.
void DrawCaptionsOnVideo(bool on);
// On the window thread, after a graph was built and before it starts: the
// rendering surface for its pictures, and the caption font and colour.
void PrepareCaptionOverlay();

// A frame with a zeroed buffer of its own; nullptr when memory is short.
FramePtr AllocPicture(AVPixelFormat format, int width, int height);

// The encode steps, called by the capture callbacks with the sample time in seconds.
void EncodeVideoSample(double sampleTime);
void EncodeAudioSamples(double sampleTime);

// A picture the file transcoder put into the stream counts towards the
// picture clock, unless a recording of the channel runs (a schedule may
// start one meanwhile): then that clock paces the recording's pictures and
// is the recording's alone.
void CountStreamedPicture();

// The encode steps as the grabbers' consumer: stages the PCM, then encodes.
SampleConsumer& LiveEncodeSteps();
