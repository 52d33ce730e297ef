#include "encode/pipeline.h"

#include "capture/capture_graph.h"
#include "capture/crossbar_router.h"
#include "capture/grabber_callbacks.h"
#include "config/settings.h"
#include "encode/live_encoder.h"
#include "encode/live_setup.h"
#include "encode/stream_buffers.h"
#include "platform/log.h"
#include "platform/messages.h"
#include "platform/sync.h"
#include "platform/thread.h"
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
// Comparison periods that only prime the motion reference.
constexpr int kMonitoringPrimingPeriods = 10;

FileStreamProducer fileStreamProducer = nullptr;
WorkerThread fileProducerThread;
// Whether the producer writes a .tvs file for the Encode File job rather
// than a stream for the handheld.
bool producerEncodesFile = false;

int SignalStarted(int result)
{
    gEvents.streamerStart.Set();
    return result;
}

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

// What a start that failed after the graph was built leaves: no encoder, and
// the capture running only for a recording that still needs it.
int AbandonStart()
{
    gState.streaming = 0;
    CloseLiveEncoder();
    if (gState.recording)
        StartCapture();
    else
        StopCapture();
    return SignalStarted(-1);
}

// The current channel's record when it names a device to capture from.
const ChannelRecord* CurrentChannelWithDevices()
{
    const int current = gSettings.record.currentChannel;
    if (current < 0 || current >= kChannelCount)
        return nullptr;
    const ChannelRecord& channel = gSettings.channels[current];
    return channel.videoDevice == kNoDevice && channel.audioDevice == kNoDevice ? nullptr : &channel;
}

int StartLive(const StreamRequest& request)
{
    const int current = gSettings.record.currentChannel;
    const ChannelRecord* found = CurrentChannelWithDevices();
    if (!found)
        return SignalStarted(-1);
    const ChannelRecord& channel = *found;
    const bool hasVideo = channel.videoDevice != kNoDevice;
    const bool hasAudio = channel.audioDevice != kNoDevice;
    ChooseStreamParameters(request, hasVideo, hasAudio);
    if (SelectCaptureDevicesByIndex(channel.videoDevice, channel.audioDevice, 0) != 0) {
        Log("The capture graph for channel " + std::to_string(current) + " could not be built.");
        return gState.recording ? AbandonStart() : SignalStarted(-1);
    }
    gStream.video.present = GraphHasVideo();
    gStream.audio.present = GraphHasAudio();
    RouteAndTune(channel);
    PrepareCaptionOverlay();
    gCaptionsOnVideo = request.captionsOnVideo != 0;
    if (OpenLiveEncoder(gStream.video.present, gStream.audio.present) != 0) {
        Log("The live encoders could not be opened.");
        return AbandonStart();
    }
    SetSampleConsumer(&LiveEncodeSteps());
    gState.streaming = 1;
    if (StartCapture() != 0) {
        Log("The capture did not start.");
        return AbandonStart();
    }
    return SignalStarted(0);
}

// Cancels the file producer and waits for it. False when it is still
// running after the limit: its thread slot then stays in use, and no stream
// may start until it has ended.
bool StopFileProducer()
{
    gFileStreamCancel = 1;
    gState.streaming = 0;
    gState.fileEncoding = 0;
    if (!fileProducerThread.WaitForExit(gEvents.encoderThreadExit, kFileProducerLimitMs)) {
        Log("The file transcoder did not end in time; no stream starts until it has.");
        return false;
    }
    gFileStreamCancel = 0;
    gEncoderSlotInUse = 0;
    return true;
}

bool StartFileProducer(std::function<int()> body)
{
    gFileStreamCancel = 0;
    gState.fileEncoding = 0;
    if (!fileProducerThread.Start(std::move(body))) {
        Log("No thread could be started for the file transcoder.");
        return false;
    }
    gEncoderSlotInUse = 1;
    return true;
}

int StartFile(const StreamRequest& request)
{
    if (!fileStreamProducer || !StartFileProducer(fileStreamProducer(request)))
        return SignalStarted(-1);
    return 0;
}

// Builds and starts the current channel's graph for monitoring alone: no
// encoder, no rendering surface.
int BuildMonitoringGraph()
{
    const int current = gSettings.record.currentChannel;
    const ChannelRecord* found = CurrentChannelWithDevices();
    if (!found)
        return -1;
    const ChannelRecord& channel = *found;
    if (SelectCaptureDevicesByIndex(channel.videoDevice, channel.audioDevice, 0) != 0) {
        Log("The capture graph for monitoring channel " + std::to_string(current) + " could not be built.");
        return -1;
    }
    RouteAndTune(channel);
    if (StartCapture() != 0) {
        Log("The capture for monitoring did not start.");
        return -1;
    }
    gState.monitoringCountdown = kMonitoringPrimingPeriods;
    gState.monitoring = 1;
    UpdateStatusText();
    return 0;
}

} // namespace

void StopMonitoringCapture()
{
    if (gState.captureRunning && !gState.streaming && !gState.recording)
        StopCapture();
}

bool RefusedWhileScanningTuner(const std::string& what)
{
    if (!gState.scanningTuner)
        return false;
    Log(what + " was refused: the tuner is being scanned.");
    return true;
}

std::atomic<int> gFileStreamCancel{0};

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

int StartLiveStreaming(int fileMode, const StreamRequest& request)
{
    if (gState.streaming || producerEncodesFile || RefusedWhileScanningTuner("A stream"))
        return SignalStarted(-1);
    // A stop whose caller gave up waiting may not have run: finish it first.
    if (fileProducerThread.Registered() && !StopFileProducer())
        return SignalStarted(-1);
    if (gLiveEncoder.branch.output)
        StopStreaming();
    StopMonitoringCapture();
    ResetStreamBuffers();
    return fileMode ? StartFile(request) : StartLive(request);
}

int StartMonitoringGraph()
{
    if (RefusedWhileScanningTuner("Monitoring"))
        return SignalStarted(-1);
    StopMonitoringCapture();
    ResetStreamBuffers();
    gState.monitoring = 0;
    UpdateStatusText();
    return SignalStarted(BuildMonitoringGraph());
}

bool StartFileEncoding(std::function<int()> transcoder)
{
    if (gState.streaming || fileProducerThread.Registered())
        return false;
    ResetStreamBuffers();
    producerEncodesFile = StartFileProducer(std::move(transcoder));
    return producerEncodesFile;
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
        if (!gState.captureRunning || exitEvent.Wait(kSliceMs))
            return true;
    return false;
}

void StopStreaming()
{
    if (!OnWindowThread()) {
        CallOnWindowThread(StopStreaming, kWindowCallLimitMs);
        return;
    }
    if (fileProducerThread.Registered() && !producerEncodesFile) {
        StopFileProducer();
        return;
    }
    // Signals from before the flag is cleared prove nothing; the first one
    // after does, since the callbacks of one stream never overlap.
    gEvents.videoEncoderExit.Reset();
    gEvents.audioEncoderExit.Reset();
    gState.streaming = 0;
    bool left = true;
    if (gEncoderSlotInUse && gLiveEncoder.branch.video)
        left = WaitForGrabberExit(gEvents.videoEncoderExit, kEncoderExitLimitMs);
    if (gEncoderSlotInUse && gLiveEncoder.branch.audio)
        left = WaitForGrabberExit(gEvents.audioEncoderExit, kEncoderExitLimitMs) && left;
    if (!left) {
        // Stopping joins the streaming threads: no callback runs after it.
        Log("The capture callbacks did not leave the live encoders in time; stopping the capture.");
        if (StopCapture() != 0) {
            // A callback may still be inside the encoders: they stay open.
            Log("The capture did not stop; the live encoders are left open.");
            return;
        }
    }
    if (gState.captureRunning && !gState.recording)
        StopCapture();
    CloseLiveEncoder();
    if (!left && gState.recording)
        StartCapture();
    gEncoderSlotInUse = 0;
}
