#include "record/recording_control.h"

#include "capture/capture_graph.h"
#include "capture/tuner.h"
#include "config/settings.h"
#include "encode/live_encoder.h"
#include "encode/live_setup.h"
#include "encode/pipeline.h"
#include "encode/stream_buffers.h"
#include "platform/log.h"
#include "platform/messages.h"
#include "platform/sync.h"
#include "record/guide_recordings.h"
#include "record/recorder.h"
#include "record/recording_thumbnail.h"
#include "shared/live_params.h"
#include "shared/resources.h"
#include "shared/server_state.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
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

// Holds the tuner for the channel. Unless a stream of it runs, the graph is
// then freshly built and stopped, and the buffers are made ready for it.
StartResult HoldTuner(Tuner& tuner, int channel)
{
    const bool streamShared = tuner.Holds(TunerUse::Live);
    const TunerAnswer held =
        tuner.Hold(TunerUse::Recording, channel, gSettings.record.recordingProfile.frameRate);
    if (!held.Granted())
        return StartResult::Failed(held.reason);
    if (streamShared)
        return StartResult::Started();
    ResetStreamBuffers();
    AdoptCaptureFormat(GraphFormat());
    gStream.video.present = GraphHasVideo();
    gStream.audio.present = GraphHasAudio();
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

// Why the channel cannot be recorded at all, told to the user; empty when
// it can.
std::string ChannelRefusal(int channel)
{
    if (channel < 0 || channel >= kChannelCount)
        return "No channel is chosen.";
    const char* refusal = nullptr;
    if (!ChannelWithDevices(channel))
        refusal = kNoDeviceText;
    else if (!gSettings.channels[channel].enabled)
        refusal = kChannelNotSetUpText;
    if (!refusal)
        return {};
    ShowFailure(refusal);
    return refusal;
}

// The .nfo beside a guide recording's file; a failure only costs the
// description, and is logged.
void WriteNfo(const GuideProgramme& programme, int channel)
{
    const std::string path = std::filesystem::path(RecordingPath()).replace_extension(".nfo").string();
    std::ofstream nfo(path, std::ios::binary | std::ios::trunc);
    nfo << ProgrammeNfo(programme, channel);
    if (!nfo.flush())
        Log("The description " + path + " could not be written: " + std::strerror(errno) + ".");
}

// The finished recording's picture for lists; a failure costs only that.
void WriteThumbnail(const std::string& path)
{
    if (std::string error; gStream.video.present && !WriteRecordingThumbnail(path, error))
        Log("No picture of the recording " + path + " was made: " + error + ".");
}

StartResult TryStartRecording(Tuner& tuner, int channel, const GuideRecording* guided)
{
    if (IsRecording())
        return StartResult::Failed("A recording runs already.");
    if (const std::string refusal = ChannelRefusal(channel); !refusal.empty())
        return StartResult::Failed(refusal);
    // A file left open by a handheld's bare flag clear is finished first,
    // once the callbacks have surely left it.
    if (gRecorder.branch.output) {
        if (!WaitForRecorderExit())
            return StartResult::Failed("The last recording's file is still being written.");
        CloseRecorder();
        tuner.Release(TunerUse::Recording);
    }
    if (StartResult held = HoldTuner(tuner, channel); !held.Succeeded())
        return held;
    if (OpenRecorder(guided ? ProgrammeFileStem(guided->programme) + ".avi" : std::string()) != 0) {
        CloseRecorder();
        tuner.Release(TunerUse::Recording);
        return StartResult::Failed("The recording file could not be made.");
    }
    if (guided) {
        WriteNfo(guided->programme, channel);
        NoteGuideRecording(*guided, channel, RecordingPath());
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
    tuner.Release(TunerUse::Recording);
    return StartResult::Failed("The capture for the recording did not start.");
}

} // namespace

StartResult StartRecording(Tuner& tuner, int channel, const GuideRecording* guided)
{
    StartResult result = StartResult::Failed("The window thread did not take the recording's start in time.");
    CallOnWindowThread([&] { result = TryStartRecording(tuner, channel, guided); }, kWindowCallLimitMs);
    return result;
}

int StopRecording(Tuner& tuner)
{
    if (!OnWindowThread()) {
        int result = -1;
        CallOnWindowThread([&] { result = StopRecording(tuner); }, kWindowCallLimitMs);
        return result;
    }
    if (!IsRecording())
        return -1;
    if (!WaitForRecorderExit()) {
        UpdateStatusText();
        return 0;
    }
    tuner.Release(TunerUse::Recording);
    UpdateStatusText();
    const std::string finished = RecordingPath();
    CloseRecorder();
    ReportWriteFailure();
    WriteThumbnail(finished);
    DeleteBeyondKeep(finished);
    return 0;
}

void ServeRecordingRequests(Tuner& tuner)
{
    tuner.OnTaken(TunerUse::Recording, [&tuner] { StopRecording(tuner); });
    tuner.OnTaken(TunerUse::Monitoring, [&tuner] { StopMonitoring(tuner); });
    SetMessageHandler(MessageTarget::Recorder, [&tuner](unsigned message, uintptr_t channel, intptr_t slotNumber) {
        if (message == kMsgStartRecording) {
            const std::optional<GuideRecording> guided =
                slotNumber > 0 ? RecordingOfSlot(static_cast<int>(slotNumber - 1)) : std::nullopt;
            const StartResult started = StartRecording(tuner, static_cast<int>(channel), guided ? &*guided : nullptr);
            if (!started.Succeeded())
                Log("The recording did not start: " + started.Reason());
        } else if (message == kMsgStopRecording) {
            StopRecording(tuner);
        }
        // The Record check mark follows what happened, a start that failed too.
        UpdateStatusText();
    });
}

void StopServingRecordingRequests()
{
    SetMessageHandler(MessageTarget::Recorder, {});
}

void FinishRecordingAtShutdown()
{
    SetRecording(false);
    CloseRecorder();
}
