#include "shared/live_params.h"

LiveEncodingParams gLiveParams;
int32_t gCaptureWidth;
int32_t gCaptureHeight;
int32_t gFrameByteSize;
int32_t gOutputWidth;
int32_t gOutputHeight;
RecordingParams gRecordingParams;

void SetDefaultEncoderParams()
{
    gLiveParams = {};
    gLiveParams.headerFormat = 3;
    gLiveParams.stereo = 1;
    gLiveParams.frameRate = 10;
    gLiveParams.videoBitRate = 48000;
    gLiveParams.audioSampleRate = 44100;
    gLiveParams.audioSampleBits = 16;
    gLiveParams.audioBitRate = 32000;
    gOutputWidth = 320;
    gOutputHeight = 240;
    gRecordingParams = {320, 240, {1, 0, 25, 0, 500000, 44100, 16, 64000, 0}};
}
