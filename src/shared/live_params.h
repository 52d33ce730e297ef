#pragma once
// Parameters of the running stream. The 40-byte block is sent to the
// handheld as the stream header and heads every .tvs file, so its layout is
// fixed.

#include "config/settings.h"

#include <cstddef>
#include <cstdint>

struct LiveEncodingParams {
    int32_t headerFormat;      // always 3
    uint8_t stereo;
    uint8_t videoCodec;        // selector echoed to the handheld; 0xFF without video
    uint8_t frameRate;
    uint8_t audioCodec;        // 0xFF without audio
    int32_t videoBitRate;
    int32_t audioSampleRate;
    int32_t audioSampleBits;
    int32_t audioBitRate;
    int32_t durationMs;        // files only: 0 when unknown or above 99 hours
    int32_t aspectWidth;       // files only
    int32_t aspectHeight;      // files only
    int32_t subtitleKind;      // files only
};
static_assert(offsetof(LiveEncodingParams, stereo) == 4);
static_assert(offsetof(LiveEncodingParams, videoCodec) == 5);
static_assert(offsetof(LiveEncodingParams, frameRate) == 6);
static_assert(offsetof(LiveEncodingParams, audioCodec) == 7);
static_assert(offsetof(LiveEncodingParams, videoBitRate) == 8);
static_assert(offsetof(LiveEncodingParams, audioSampleRate) == 12);
static_assert(offsetof(LiveEncodingParams, audioSampleBits) == 16);
static_assert(offsetof(LiveEncodingParams, audioBitRate) == 20);
static_assert(offsetof(LiveEncodingParams, durationMs) == 24);
static_assert(offsetof(LiveEncodingParams, aspectWidth) == 28);
static_assert(offsetof(LiveEncodingParams, aspectHeight) == 32);
static_assert(offsetof(LiveEncodingParams, subtitleKind) == 36);
static_assert(sizeof(LiveEncodingParams) == 40);

// The recording branch's parameters, copied from the recording settings at
// every start.
struct RecordingParams {
    int32_t width;
    int32_t height;
    RecordingProfile profile;
};

extern LiveEncodingParams gLiveParams;
extern RecordingParams gRecordingParams;

// The start-up values of the live and recording parameters.
void SetDefaultEncoderParams();
