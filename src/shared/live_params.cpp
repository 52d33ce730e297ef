#include "shared/live_params.h"

LiveEncodingParams gLiveParams;
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
    gRecordingParams = {320, 240, {1, 0, 25, 0, 500000, 44100, 16, 64000, 0}};
}
