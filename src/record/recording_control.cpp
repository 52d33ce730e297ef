#include "record/recording_control.h"

#include "capture/capture_graph.h"
#include "capture/crossbar_router.h"
#include "config/settings.h"
#include "encode/live_encoder.h"
#include "encode/live_setup.h"
#include "encode/pipeline.h"
#include "encode/stream_buffers.h"
#include "platform/log.h"
#include "platform/messages.h"
#include "platform/sync.h"
#include "record/recorder.h"
#include "shared/live_params.h"
#include "shared/resources.h"
#include "shared/server_state.h"

#include <mutex>

namespace {

constexpr int kExitWaitMs = 10000;
constexpr const char* kChannelNotSetUpText = "This channel is not setup.";
constexpr const char* kNoDeviceText = "Please select a video and/or audio device for the current channel.";
constexpr int kWindowCallLimitMs = 30000;

// Waits until the callbacks have left the recording file, once its flag is
// clear: only a signal given after the events are reset proves it. When they
// do not leave in time the capture is stopped, which joins them. False when
// even that failed and a callback may still be writing.
bool WaitForRecorderExit()
{
    gGrabbers.videoRecorderExit.Reset();
    gGrabbers.audioRecorderExit.Reset();
    SetRecording(false);
    bool left = true;
    if (gRecorder.branch.video)
        left = WaitForGrabberExit(gGrabbers.videoRecorderExit, kExitWaitMs);
    if (gRecorder.branch.audio)
        left = WaitForGrabberExit(gGrabbers.audioRecorderExit, kExitWaitMs) && left;
    if (left)
        return true;
    Log("The capture callbacks did not leave the recording in time; stopping the capture.");
    if (StopCapture() != 0) {
        Log("The capture did not stop; the recording file is left open.");
        return false;
    }
    if (IsStreaming())
        StartCapture();
    return true;
}

// Builds the graph for this channel, as the live start would, when no
// stream has built one already.
StartResult PrepareCapture(const ChannelRecord& channel)
{
    StopMonitoringCapture();
    ResetStreamBuffers();
    if (!channel.enabled) {
        ShowFailure(kChannelNotSetUpText);
        return StartResult::Failed(kChannelNotSetUpText);
    }
    const int wantedFrameRate = gRecordingParams.profile.frameRate;
    if (SelectCaptureDevicesByIndex(channel.videoDevice, channel.audioDevice, wantedFrameRate) != 0)
        return StartResult::Failed("The capture graph for recording could not be built.");
    AdoptCaptureFormat(GraphFormat());
    gStream.video.present = GraphHasVideo();
    gStream.audio.present = GraphHasAudio();
    RouteAndTune(channel);
    PrepareCaptionOverlay();
    return StartResult::Started();
}

// A recording its file stopped (a full disk, a write error, a vanished
// folder) is told to the user, with what was kept.
void ReportWriteFailure()
{
    const std::string reason = TakeRecordingFailure();
    if (reason.empty())
        return;
    const std::string text = "The recording stopped: " + reason + ". " + RecordingPath() + " keeps its first " +
                             std::to_string(gRecorder.elapsedSeconds.load()) + " s.";
    SetRecordingStoppedEarly(true);
    UpdateStatusText();
    ShowFailure(text.c_str());
}

StartResult TryStartRecording()
{
    if (IsRecording())
        return StartResult::Failed("A recording runs already.");
    if (auto refused = RefusalWhileScanningTuner("A recording"))
        return *refused;
    const int current = gSettings.record.currentChannel;
    if (current < 0 || current >= kChannelCount)
        return StartResult::Failed("No channel is chosen.");
    const ChannelRecord& channel = gSettings.channels[current];
    if (channel.videoDevice == kNoDevice && channel.audioDevice == kNoDevice) {
        ShowFailure(kNoDeviceText);
        return StartResult::Failed(kNoDeviceText);
    }
    // A file left open by a handheld's bare flag clear is finished first,
    // once the callbacks have surely left it.
    if (gRecorder.branch.output) {
        if (!WaitForRecorderExit())
            return StartResult::Failed("The last recording's file is still being written.");
        CloseRecorder();
    }
    if (!IsStreaming())
        if (StartResult prepared = PrepareCapture(channel); !prepared.Succeeded())
            return prepared;
    if (OpenRecorder() != 0) {
        CloseRecorder();
        if (!IsStreaming())
            StopCapture();
        return StartResult::Failed("The recording file could not be made.");
    }
    SetSampleConsumer(&LiveEncodeSteps());
    SetRecordingStoppedEarly(false);
    SetRecording(true);
    gGrabbers.videoRecorderExit.Reset();
    gGrabbers.audioRecorderExit.Reset();
    if (StartCapture() == 0) {
        UpdateStatusText();
        return StartResult::Started();
    }
    SetRecording(false);
    // Nothing writes into the output while the capture is not running.
    CloseRecorder();
    return StartResult::Failed("The capture for the recording did not start.");
}

} // namespace

StartResult StartRecordingCurrentChannel()
{
    if (OnWindowThread())
        return TryStartRecording();
    StartResult result = StartResult::Failed("The window thread did not take the recording's start in time.");
    CallOnWindowThread([&result] { result = TryStartRecording(); }, kWindowCallLimitMs);
    return result;
}

int StopRecording()
{
    if (!OnWindowThread()) {
        int result = -1;
        CallOnWindowThread([&result] { result = StopRecording(); }, kWindowCallLimitMs);
        return result;
    }
    if (!IsRecording())
        return -1;
    if (!WaitForRecorderExit()) {
        UpdateStatusText();
        return 0;
    }
    if (!IsStreaming() && !IsMonitoring() && IsCaptureRunning())
        StopCapture();
    UpdateStatusText();
    CloseRecorder();
    ReportWriteFailure();
    return 0;
}

void FinishRecordingAtShutdown()
{
    SetRecording(false);
    CloseRecorder();
}
