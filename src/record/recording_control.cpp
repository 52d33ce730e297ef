#include "record/recording_control.h"

#include "app/resources.h"
#include "app/server_state.h"
#include "capture/capture_graph.h"
#include "capture/capture_state.h"
#include "capture/crossbar_router.h"
#include "config/settings.h"
#include "encode/stream_buffers.h"
#include "platform/messages.h"
#include "platform/sync.h"
#include "record/recorder.h"

#include <mutex>

namespace {

constexpr int kExitWaitMs = 10000;

int Fail(const char* text)
{
    ShowMessage(text, gState.showMessages, 0);
    return -1;
}

// Builds the graph for this channel, as the live start would, when no
// stream has built one already.
int PrepareCapture(const ChannelRecord& channel)
{
    ResetStreamBuffers();
    if (!channel.enabled)
        return Fail("This channel is not setup.");
    if (SelectCaptureDevicesByIndex(channel.videoDevice, channel.audioDevice, 1) != 0)
        return -1;
    RouteAndTune(channel);
    return 0;
}

int TryStartRecording()
{
    if (gState.recording)
        return -1;
    const int current = gSettings.record.currentChannel;
    if (current < 0 || current >= kChannelCount)
        return -1;
    const ChannelRecord& channel = gSettings.channels[current];
    if (channel.videoDevice == kNoDevice && channel.audioDevice == kNoDevice)
        return Fail("Please select a video and/or audio device for the current channel.");
    if (!gState.streaming && PrepareCapture(channel) != 0)
        return -1;
    // A file left open by a handheld's bare flag clear is finished first.
    CloseRecorder();
    if (OpenRecorder() != 0) {
        CloseRecorder();
        return -1;
    }
    gState.recording = 1;
    NamedEvent("VideoRecorderExit").Reset();
    NamedEvent("AudioRecorderExit").Reset();
    if (StartCapture() == 0) {
        UpdateStatusText();
        return 0;
    }
    gState.recording = 0;
    // Nothing writes into the output while the capture is not running.
    CloseRecorder();
    return -1;
}

} // namespace

int StartRecordingCurrentChannel()
{
    std::lock_guard hold(gRecorderMutex);
    const int result = TryStartRecording();
    NamedEvent("RecorderStart").Set();
    return result;
}

int StopRecording()
{
    std::lock_guard hold(gRecorderMutex);
    if (!gState.recording)
        return -1;
    gState.recording = 0;
    if (gStream.video.present)
        NamedEvent("VideoRecorderExit").Wait(kExitWaitMs);
    if (gStream.audio.present)
        NamedEvent("AudioRecorderExit").Wait(kExitWaitMs);
    if (!gState.streaming && !gState.monitoring && gCaptureRunning)
        StopCapture();
    UpdateStatusText();
    CloseRecorder();
    return 0;
}
