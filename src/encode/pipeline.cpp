#include "encode/pipeline.h"

#include "app/resources.h"
#include "app/server_state.h"
#include "capture/capture_graph.h"
#include "capture/capture_state.h"
#include "capture/crossbar_router.h"
#include "config/settings.h"
#include "encode/live_encoder.h"
#include "encode/live_params.h"
#include "encode/live_setup.h"
#include "encode/stream_buffers.h"
#include "platform/sync.h"
#include "server/session_state.h"

#include <mutex>

namespace {

constexpr uint8_t kNoStream = 0xFF;

int SignalStarted(int result)
{
    NamedEvent("StreamerStart").Set();
    return result;
}

// Waits, one second at a time, for the callback of one stream to report that
// it has seen streaming switched off.
void WaitForEncoderExit(bool present, const char* exitEvent)
{
    while (present && gEncoderSlotInUse && !NamedEvent(exitEvent).Wait(1000)) {
    }
}

void ChooseStreamParameters(bool hasVideo, bool hasAudio)
{
    const StreamRequest& request = gSession.request;
    ChooseLiveParameters(request.profile, request.customBitRateKbps, request.customWidth, request.customHeight,
                         hasVideo);
    gLiveParams.videoCodec = hasVideo ? request.videoCodec : kNoStream;
    gLiveParams.audioCodec = hasAudio ? request.audioFormat : kNoStream;
    gLiveParams.aspectWidth = gLiveParams.aspectHeight = 1;
    gLiveParams.subtitleKind = 0;
}

} // namespace

int StartLiveStreaming(int fileMode)
{
    ResetStreamBuffers();
    // Media files are not streamed by this build: the session sees the
    // streaming flag still clear and refuses.
    if (fileMode)
        return SignalStarted(-1);
    const int current = gSettings.record.currentChannel;
    if (current < 0 || current >= kChannelCount)
        return SignalStarted(-1);
    const ChannelRecord& channel = gSettings.channels[current];
    const bool hasVideo = channel.videoDevice != kNoDevice;
    const bool hasAudio = channel.audioDevice != kNoDevice;
    if (!hasVideo && !hasAudio)
        return SignalStarted(-1);
    ChooseStreamParameters(hasVideo, hasAudio);
    if (SelectCaptureDevicesByIndex(channel.videoDevice, channel.audioDevice, 0) != 0)
        return SignalStarted(-1);
    RouteAndTune(channel);
    if (OpenLiveEncoder(gStream.video.present, gStream.audio.present) != 0)
        return SignalStarted(-1);
    gState.streaming = 1;
    if (StartCapture() != 0) {
        gState.streaming = 0;
        return SignalStarted(-1);
    }
    return SignalStarted(0);
}

void StopStreaming()
{
    // The Stop command and an ending session may both stop the pipeline.
    static std::mutex stopping;
    std::lock_guard serialised(stopping);
    WaitForEncoderExit(gStream.video.present, "VideoEncoderExit");
    WaitForEncoderExit(gStream.audio.present, "AudioEncoderExit");
    if (gCaptureRunning && !gState.recording)
        StopCapture();
    {
        std::lock_guard hold(gBufferMutex);
        CloseLiveEncoder();
    }
    gEncoderSlotInUse = 0;
}
