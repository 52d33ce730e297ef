#include "encode/pipeline.h"

#include "capture/capture_graph.h"
#include "capture/crossbar_router.h"
#include "capture/grabber_callbacks.h"
#include "capture/tuner.h"
#include "config/settings.h"
#include "encode/live_encoder.h"
#include "encode/live_setup.h"
#include "encode/stream_buffers.h"
#include "platform/log.h"
#include "platform/messages.h"
#include "platform/sync.h"
#include "shared/live_params.h"
#include "shared/resources.h"
#include "shared/server_state.h"

#include <chrono>
#include <limits>
#include <utility>

namespace {

constexpr uint8_t kNoStream = 0xFF;
constexpr int kMinCustomSide = 16;
constexpr int kMaxCustomSide = 4096;
// A callback comes every frame; this is only for a device that went silent.
constexpr int kEncoderExitLimitMs = 5000;
constexpr int kWindowCallLimitMs = 30000;
// The transcoder sees the cancel flag within one packet and its blocking
// reads are interrupted; this is only for a file system that hangs.
constexpr int kFileProducerLimitMs = 10000;
// The window thread answers a start at once unless it is stuck.
constexpr int kWindowStartLimitMs = 60000;
// Comparison periods that only prime the motion reference.
constexpr int kMonitoringPrimingPeriods = 10;

FileStreamProducer fileStreamProducer = nullptr;
FileProducer fileProducer;
// Whether the producer writes a .tvs file for the Encode File job rather
// than a stream for the handheld.
bool producerEncodesFile = false;

void ChooseStreamParameters(const StreamRequest& request, bool hasVideo, bool hasAudio)
{
    ChooseLiveParameters(request.profile, request.customBitRateKbps, request.customWidth, request.customHeight,
                         hasVideo);
    gLiveParams.videoCodec = hasVideo ? request.videoCodec : kNoStream;
    gLiveParams.audioCodec = hasAudio ? request.audioFormat : kNoStream;
    gLiveParams.durationMs = 0;
    gLiveParams.aspectWidth = gLiveParams.aspectHeight = 1;
    gLiveParams.subtitleKind = 0;
}

// What a start that failed once it held the tuner leaves: no encoder, and
// the tuner let go.
StartResult AbandonStart(Tuner& tuner, std::string reason)
{
    SetStreaming(false);
    CloseLiveEncoder();
    tuner.Release(TunerUse::Live);
    return StartResult::Failed(std::move(reason));
}

// Takes the tuner for a stream (a file's stream holds it without a graph)
// and empties the rings, which no callback fills any more.
StartResult HoldForStream(Tuner& tuner, int channel, int frameRate)
{
    const TunerAnswer held = tuner.Hold(TunerUse::Live, channel, frameRate);
    if (!held.Granted())
        return StartResult::Failed(held.reason);
    ResetStreamBuffers();
    return StartResult::Started();
}

StartResult StartLive(Tuner& tuner, const StreamRequest& request)
{
    const ChannelRecord* found = ChannelWithDevices(request.channel);
    if (!found)
        return StartResult::Failed("Channel " + std::to_string(request.channel) + " has no capture device.");
    // What the request asks for, then what the devices deliver of it.
    ChooseStreamParameters(request, found->videoDevice != kNoDevice, found->audioDevice != kNoDevice);
    if (StartResult held = HoldForStream(tuner, request.channel, gLiveParams.frameRate); !held.Succeeded())
        return held;
    AdoptCaptureFormat(GraphFormat());
    gStream.video.present = GraphHasVideo();
    gStream.audio.present = GraphHasAudio();
    PrepareCaptionOverlay();
    DrawCaptionsOnVideo(request.captionsOnVideo != 0);
    if (OpenLiveEncoder(gStream.video.present, gStream.audio.present) != 0)
        return AbandonStart(tuner, "The live encoders could not be opened.");
    SetSampleConsumer(&LiveEncodeSteps());
    SetStreaming(true);
    if (StartCapture() != 0)
        return AbandonStart(tuner, "The capture did not start.");
    return StartResult::Started();
}

// Cancels the file producer and waits for it. False when it is still
// running after the limit: its thread slot then stays in use, and no stream
// may start until it has ended.
bool StopFileProducer()
{
    SetStreaming(false);
    SetFileEncoding(false);
    if (!fileProducer.Stop(kFileProducerLimitMs)) {
        Log("The file transcoder did not end in time; no stream starts until it has.");
        return false;
    }
    gGrabbers.encoderSlotInUse = 0;
    return true;
}

// The same for a file stream, which then lets the tuner go.
bool StopFileProducer(Tuner& tuner)
{
    if (!StopFileProducer())
        return false;
    tuner.Release(TunerUse::Live);
    return true;
}

bool StartFileProducer(FileProducer::Body body)
{
    SetFileEncoding(false);
    if (!fileProducer.Start(std::move(body)))
        return false;
    gGrabbers.encoderSlotInUse = 1;
    return true;
}

StartResult StartFile(Tuner& tuner, const StreamRequest& request)
{
    if (!fileStreamProducer)
        return StartResult::Failed("This program streams no files.");
    if (StartResult held = HoldForStream(tuner, kNoTunerChannel, 0); !held.Succeeded())
        return held;
    if (!StartFileProducer(fileStreamProducer(request))) {
        tuner.Release(TunerUse::Live);
        return StartResult::Failed("No thread could be started for the file transcoder.");
    }
    return StartResult::Started();
}

// On the window thread. A file start only starts its producer here; the
// caller waits for the producer's word on another thread.
StartResult StartOnWindowThread(Tuner& tuner, bool fileMode, const StreamRequest& request)
{
    if (IsStreaming() || producerEncodesFile)
        return StartResult::Failed("A stream runs already.");
    // A stop whose caller gave up waiting may not have run: finish it first.
    if (fileProducer.Running() && !StopFileProducer(tuner))
        return StartResult::Failed("The last file stream has not ended yet.");
    if (gLiveEncoder.branch.output)
        StopStreaming(tuner);
    return fileMode ? StartFile(tuner, request) : StartLive(tuner, request);
}

// Starts the capture of the graph built for monitoring alone: no encoder,
// no rendering surface.
StartResult StartMonitoringCapture()
{
    ResetStreamBuffers();
    AdoptCaptureFormat(GraphFormat());
    if (StartCapture() != 0)
        return StartResult::Failed("The capture for monitoring did not start.");
    SetMonitoringCountdown(kMonitoringPrimingPeriods);
    return StartResult::Started();
}

// Runs start on the window thread and returns what it came to; from another
// thread, when the window thread takes it within kWindowStartLimitMs. A
// start given up is never carried out later.
StartResult OnWindowThreadWithin(const std::function<StartResult()>& start)
{
    StartResult result = StartResult::Failed("The window thread did not take the start in time.");
    CallOnWindowThread([&] { result = start(); }, kWindowStartLimitMs);
    return result;
}

} // namespace

void SetFileStreamProducer(FileStreamProducer producer)
{
    fileStreamProducer = producer;
}

bool StreamRequestFits(const StreamRequest& request)
{
    const int sizeLevel = static_cast<int8_t>(request.profile) >> 4;
    const int level = request.profile & 0x0F;
    auto sideFits = [](int side) { return side >= kMinCustomSide && side <= kMaxCustomSide; };
    if (sizeLevel == kSizeLevelCustom && (!sideFits(request.customWidth) || !sideFits(request.customHeight)))
        return false;
    // The header carries the bit rate in bits per second as a 32-bit value.
    return level < 3 ||
           (request.customBitRateKbps > 0 && request.customBitRateKbps <= std::numeric_limits<int32_t>::max() / 1000);
}

PipelineActivity CurrentActivity()
{
    return {IsStreaming(), IsRecording(), IsMonitoring()};
}

StartResult StartStream(Tuner& tuner, const StreamRequest& request, bool fileMode, int fileOpenLimitMs)
{
    StartResult started = OnWindowThreadWithin([&] { return StartOnWindowThread(tuner, fileMode, request); });
    if (!fileMode || !started.Succeeded())
        return started;
    // A file that did not open in time is cancelled by the stop after the refusal.
    return fileProducer.WaitUntilOpened(fileOpenLimitMs);
}

void LetFileProducerGo()
{
    fileProducer.LetGo();
}

StartResult StartMonitoring(Tuner& tuner, int channel)
{
    return OnWindowThreadWithin([&tuner, channel] {
        const TunerAnswer held = tuner.Hold(TunerUse::Monitoring, channel, gLiveParams.frameRate);
        if (!held.Granted())
            return StartResult::Failed(held.reason);
        // A stream or a recording of the channel already captures: its
        // pictures are watched from the next comparison period on.
        if (!IsCaptureRunning())
            if (StartResult started = StartMonitoringCapture(); !started.Succeeded()) {
                tuner.Release(TunerUse::Monitoring);
                return started;
            }
        SetMonitoring(true);
        UpdateStatusText();
        return StartResult::Started();
    });
}

void StopMonitoring(Tuner& tuner)
{
    // Every session's end asks: the window thread is troubled only when
    // something monitors.
    if (!IsMonitoring() && !tuner.Holds(TunerUse::Monitoring))
        return;
    SetMonitoring(false);
    CallOnWindowThread([&tuner] { tuner.Release(TunerUse::Monitoring); }, kWindowCallLimitMs);
    UpdateStatusText();
}

StartResult StartFileEncoding(FileProducer::Body transcoder, int openLimitMs)
{
    if (IsStreaming() || fileProducer.Running())
        return StartResult::Failed("The pipeline is in use.");
    ResetStreamBuffers();
    producerEncodesFile = StartFileProducer(std::move(transcoder));
    if (!producerEncodesFile)
        return StartResult::Failed("No thread could be started for the file transcoder.");
    return fileProducer.WaitUntilOpened(openLimitMs);
}

bool StopFileEncoding()
{
    if (!producerEncodesFile)
        return true;
    if (!StopFileProducer())
        return false;
    producerEncodesFile = false;
    return true;
}

bool WaitForGrabberExit(AutoResetEvent& exitEvent, int limitMs)
{
    constexpr int kSliceMs = 50;
    for (int waited = 0; waited < limitMs; waited += kSliceMs)
        if (!IsCaptureRunning() || exitEvent.Wait(kSliceMs))
            return true;
    return false;
}

void MarkStreamOver()
{
    SetStreaming(false);
}

void StopStreaming(Tuner& tuner)
{
    if (!OnWindowThread()) {
        CallOnWindowThread([&tuner] { StopStreaming(tuner); }, kWindowCallLimitMs);
        return;
    }
    if (fileProducer.Running() && !producerEncodesFile) {
        StopFileProducer(tuner);
        return;
    }
    if (!tuner.Holds(TunerUse::Live))
        return;
    // Signals from before the flag is cleared prove nothing; the first one
    // after does, since the callbacks of one stream never overlap.
    gGrabbers.videoEncoderExit.Reset();
    gGrabbers.audioEncoderExit.Reset();
    SetStreaming(false);
    bool left = true;
    if (gGrabbers.encoderSlotInUse && gLiveEncoder.branch.video)
        left = WaitForGrabberExit(gGrabbers.videoEncoderExit, kEncoderExitLimitMs);
    if (gGrabbers.encoderSlotInUse && gLiveEncoder.branch.audio)
        left = WaitForGrabberExit(gGrabbers.audioEncoderExit, kEncoderExitLimitMs) && left;
    if (!left) {
        // Stopping joins the streaming threads: no callback runs after it.
        Log("The capture callbacks did not leave the live encoders in time; stopping the capture.");
        if (StopCapture() != 0) {
            // A callback may still be inside the encoders: they stay open.
            Log("The capture did not stop; the live encoders are left open.");
            return;
        }
    }
    tuner.Release(TunerUse::Live);
    CloseLiveEncoder();
    if (!left && IsRecording())
        StartCapture();
    gGrabbers.encoderSlotInUse = 0;
}
