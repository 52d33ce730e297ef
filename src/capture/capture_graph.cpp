#include "capture/capture_graph.h"

#include "capture/crossbar_router.h"
#include "capture/grabber_callbacks.h"
#include "capture/motion.h"
#include "config/network_sources.h"
#include "config/settings.h"
#include "platform/log.h"
#include "platform/messages.h"
#include "shared/live_params.h"
#include "shared/server_state.h"

#include <cstdio>
#include <new>

CaptureObjects gCapture;

namespace {

std::atomic<bool> previewVisible{false};
std::atomic<bool> previewMuted{true};

constexpr int kHiddenFrameWidth = 340;
constexpr int kHiddenFrameHeight = 2;
constexpr int kMaxCaptureWidth = 1920;
constexpr int kMaxCaptureHeight = 1080;
constexpr int kPreferredWidth = 640;
constexpr int kPreferredHeight = 480;
constexpr uint8_t kUnknownDeviceRate = 15;

std::function<void(int, int)> frameResizer;

void ResizeFrame(int width, int height)
{
    if (frameResizer)
        frameResizer(width, height);
}

// A build step failed: tell the user and leave no chain behind.
int FailAndTearDown(const char* text)
{
    ShowFailure(text);
    TearDownCaptureGraph();
    return -1;
}

void ReleaseSelection()
{
    gCapture.selectedVideo.reset();
    gCapture.selectedAudio.reset();
    gCapture.videoCapture.reset();
    gCapture.audioCapture.reset();
}

void ListDevice(const std::shared_ptr<DeviceMoniker>& device, std::vector<std::string>& names,
                std::shared_ptr<DeviceMoniker>* slots, int& count)
{
    if (count >= kMaxCaptureDevices)
        return;
    names.push_back(device->FriendlyName());
    slots[count++] = device;
}

std::shared_ptr<DeviceMoniker> MonikerOfSlot(const std::shared_ptr<DeviceMoniker>* slots, int count, int index)
{
    return index >= 0 && index < count ? slots[index] : nullptr;
}

// A channel record's device index and selection bits for a stored name.
void Reconcile(char* name, size_t nameSize, const std::vector<std::string>& names, int32_t& index,
               int32_t& selection, bool audio)
{
    int found = -1;
    for (size_t i = 0; i < names.size() && found < 0; ++i)
        if (names[i] == name)
            found = static_cast<int>(i);
    if (found < 0 && name[0] == '\0') {
        bool valid = index != kNoDevice && index >= 0 && index < static_cast<int>(names.size()) - 1;
        std::snprintf(name, nameSize, "%s", names[valid ? index + 1 : 0].c_str());
    }
    const int device = found > 0 ? found - 1 : kNoDevice;
    index = device;
    if (audio)
        selection |= device == kNoDevice ? 0xFF : device;
    else
        selection = device == kNoDevice ? 0xFF00 : device << 8;
}

void RemoveDownstream(CaptureFilter& filter)
{
    for (const auto& pin : filter.Pins()) {
        if (pin->direction != PinDirection::Output || !pin->connected)
            continue;
        CaptureFilter* next = pin->connected->filter;
        RemoveDownstream(*next);
        DisconnectPin(*pin);
        gCapture.graph->RemoveFilter(next);
    }
}

void RemoveCaptureFilter(std::shared_ptr<CaptureFilter>& filter)
{
    if (!filter)
        return;
    RemoveDownstream(*filter);
    gCapture.graph->RemoveFilter(filter.get());
    filter.reset();
}

void SetVideoFormat(VideoStreamConfig& config, FrameSize size, int rate)
{
    VideoFormat format;
    if (config.GetFormat(format) != 0)
        return;
    format.width = size.width;
    format.height = size.height;
    if (rate > 0)
        format.frameInterval = kUnitsPerSecond / rate;
    config.SetFormat(format);
}

void BuildRouter()
{
    for (const auto& pin : gCapture.videoCapture->Pins()) {
        if (pin->direction != PinDirection::Input || pin->category != PinCategory::AnalogVideoIn)
            continue;
        int result = 0;
        gCapture.router = std::make_unique<CrossbarRouter>(*pin, result);
        gCapture.router->RouteCount(gCapture.crossbarInputCount);
        return;
    }
}

// Without the VBI codec, the device's own caption output feeds the grabber.
void RenderCaptionsDirectly()
{
    CaptureFilter& device = *gCapture.videoCapture;
    if (gCapture.graph->RenderStream(PinCategory::Vbi, std::nullopt, device, nullptr, gCapture.captionGrabber.get()) != 0)
        gCapture.graph->RenderStream(PinCategory::ClosedCaption, std::nullopt, device, nullptr,
                                     gCapture.captionGrabber.get());
}

void AddCaptionBranch()
{
    gCapture.captionGrabber = CreateSampleGrabber();
    if (!gCapture.captionGrabber) {
        ShowFailure("Could not obtain a CC grabber filter.");
        return;
    }
    if (gCapture.captionGrabber->SetMediaType(MediaType::Line21) != 0) {
        ShowFailure("Could not set media type for closed captions.");
        return;
    }
    if (gCapture.graph->AddFilter(gCapture.captionGrabber, "CCGrabber") != 0) {
        ShowFailure("Could not add closed caption grabber into graph.");
        return;
    }
    gCapture.vbiCodec = CreateVbiCodec();
    if (gCapture.graph->AddFilter(gCapture.vbiCodec, "VBI Codec") != 0) {
        ShowFailure("Could not enable the VBI codec filter for closed captions.");
        return;
    }
    // A device without sampled VBI lines cannot feed the codec; its own
    // caption output is the way then.
    if (ConnectFilters(*gCapture.videoCapture, *gCapture.vbiCodec) != 0) {
        gCapture.graph->RemoveFilter(gCapture.vbiCodec.get());
        gCapture.vbiCodec.reset();
        RenderCaptionsDirectly();
        return;
    }
    if (ConnectFilters(*gCapture.vbiCodec, *gCapture.captionGrabber) != 0)
        ShowFailure("Could not connect the VBI codec filter to the sample grabber.");
}

void SetUpPreview()
{
    gCapture.videoWindow = gCapture.graph->VideoWindow();
    if (!gCapture.videoWindow) {
        ShowFailure("Could not get video window interface");
        return;
    }
    const bool shown = IsPreviewVisible() && gCapture.format.width > 0 && gCapture.format.height > 0;
    ResizeFrame(shown ? gCapture.format.width : kHiddenFrameWidth, shown ? gCapture.format.height : kHiddenFrameHeight);
    gCapture.videoWindow->SetOwned(true);
    gCapture.videoWindow->SetVisible(IsPreviewVisible());
}

// Reads the picture size and rate the connected capture pin delivers into
// the graph's format, and sizes motion's reference picture by it.
int TakeConnectedFormat(VideoStreamConfig& config)
{
    VideoFormat format;
    if (config.GetFormat(format) != 0 || format.width < 0 || format.width > kMaxCaptureWidth || format.height < 0 ||
        format.height > kMaxCaptureHeight)
        return -1;
    gCapture.format.width = format.width;
    gCapture.format.height = format.height;
    PrepareMotionReference(gCapture.format.FrameBytes());
    gCapture.format.frameRate =
        format.frameInterval > 0 ? static_cast<uint8_t>(kUnitsPerSecond / format.frameInterval) : kUnknownDeviceRate;
    return 0;
}

int BuildVideoPart(int wantedFrameRate)
{
    gCapture.videoGrabber = CreateSampleGrabber();
    if (!gCapture.videoGrabber) {
        ShowFailure("Could not obtain a video grabber filter.");
        return -1;
    }
    if (gCapture.videoGrabber->SetMediaType(MediaType::Video) != 0)
        return FailAndTearDown("Could not set media type for video");
    if (gCapture.graph->AddFilter(gCapture.videoGrabber, "VGrabber") != 0)
        return FailAndTearDown("Could not add video sample grabber into graph.");
    if (gCapture.graph->AddFilter(gCapture.videoCapture, "VCap") != 0)
        return FailAndTearDown("Could not enable the video capture device. Is the capture device plugged in and not used by "
                    "some other program?");
    VideoStreamConfig* config = gCapture.videoCapture->VideoConfig();
    if (!config)
        return FailAndTearDown("Could not configure the video capture device. Is the capture device plugged in and not used by "
                    "some other program?");
    SetVideoFormat(*config, ChooseCaptureSize(*config), wantedFrameRate);
    BuildRouter();
    AddCaptionBranch();
    if (gCapture.graph->RenderStream(PinCategory::Capture, MediaType::Video, *gCapture.videoCapture,
                                     gCapture.videoGrabber.get(), nullptr) != 0)
        return FailAndTearDown("Could not setup the video capture. Is the capture device plugged in and not used by some other "
                    "program?");
    gCapture.videoGrabber->SetCallback(&gGrabbers.video);
    if (gCapture.captionGrabber)
        gCapture.captionGrabber->SetCallback(&gGrabbers.caption);
    if (TakeConnectedFormat(*config) != 0)
        return FailAndTearDown("Cannot set video parameters for capture.");
    SetUpPreview();
    return 0;
}

void SetPreviewSound()
{
    std::shared_ptr<AudioRenderer> renderer = gCapture.graph->BasicAudio();
    if (!renderer)
        ShowFailure("Cannot set the audio volume.");
    else if (renderer->SetVolume(IsPreviewMuted() ? kVolumeSilent : kVolumeFull) != 0)
        ShowFailure("Cannot change the audio volume.");
}

int BuildAudioPart()
{
    gCapture.audioGrabber = CreateSampleGrabber();
    if (!gCapture.audioGrabber)
        return FailAndTearDown("Could not obtain an audio grabber filter.");
    if (gCapture.audioGrabber->SetMediaType(MediaType::Audio) != 0)
        return FailAndTearDown("Could not set media type for audio.");
    if (gCapture.graph->AddFilter(gCapture.audioGrabber, "AGrabber") != 0)
        return FailAndTearDown("Could not add audio sample grabber into graph.");
    if (gCapture.audioCapture != gCapture.videoCapture &&
        gCapture.graph->AddFilter(gCapture.audioCapture, "ACap") != 0)
        return FailAndTearDown("Could not enable the audio capture device. Is the capture device plugged in and not used by "
                    "some other program?");
    if (AudioStreamConfig* config = gCapture.audioCapture->AudioConfig()) {
        AudioFormat format;
        if (config->GetFormat(format) != 0)
            return FailAndTearDown("Cannot set audio parameters for capture.");
        gCapture.format.stereo = format.channels == 2;
        gCapture.format.audioSampleRate = format.sampleRate;
        gCapture.format.audioSampleBits = format.bitsPerSample;
    }
    if (gCapture.graph->RenderStream(PinCategory::Capture, MediaType::Audio, *gCapture.audioCapture,
                                     gCapture.audioGrabber.get(), nullptr) != 0)
        return FailAndTearDown("Cannot setup audio capture. Is the capture device plugged in and not used by some other "
                    "program?");
    SetPreviewSound();
    gCapture.audioGrabber->SetCallback(&gGrabbers.audio);
    return 0;
}

} // namespace

bool IsPreviewVisible() { return previewVisible; }
void SetPreviewVisible(bool on) { previewVisible = on; }
bool IsPreviewMuted() { return previewMuted; }
void SetPreviewMuted(bool on) { previewMuted = on; }

int CreateGraphObjects()
{
    gCapture.graph.reset(new (std::nothrow) FilterGraph);
    if (!gCapture.graph) {
        ShowMessage("Could not generate a filter graph. Please report this error to the developers.", 1, 0);
        return -1;
    }
    return 0;
}

void ReleaseGraphObjects()
{
    if (!gCapture.graph)
        return;
    StopCapture();
    TearDownCaptureGraph();
    ReleaseSelection();
    for (int i = 0; i < kMaxCaptureDevices; ++i) {
        gCapture.videoMonikers[i].reset();
        gCapture.audioMonikers[i].reset();
    }
    gCapture.graph.reset();
}

int EnumerateCaptureDevices()
{
    gCapture.videoCapture.reset();
    gCapture.audioCapture.reset();
    return RelistCaptureDevices();
}

// The network sources come last in both lists, so that adding one leaves
// every other device's entry where it was.
int RelistCaptureDevices()
{
    SetNetworkSources(LoadNetworkSources());
    gCapture.videoDeviceCount = gCapture.audioDeviceCount = 0;
    gDeviceNames.video = {"None"};
    gDeviceNames.audio = {"None"};
    auto listVideo = [](const std::shared_ptr<DeviceMoniker>& device) {
        ListDevice(device, gDeviceNames.video, gCapture.videoMonikers, gCapture.videoDeviceCount);
        std::shared_ptr<CaptureFilter> filter = device->Bind();
        return filter && HasAnalogAudioPin(*filter);
    };
    const std::vector<std::shared_ptr<DeviceMoniker>> sources = NetworkSourceDevices();
    for (const auto& device : EnumerateDevices(DeviceCategory::Video))
        if (listVideo(device))
            ListDevice(device, gDeviceNames.audio, gCapture.audioMonikers, gCapture.audioDeviceCount);
    for (const auto& device : EnumerateDevices(DeviceCategory::Audio))
        ListDevice(device, gDeviceNames.audio, gCapture.audioMonikers, gCapture.audioDeviceCount);
    for (const auto& source : sources)
        if (listVideo(source))
            ListDevice(source, gDeviceNames.audio, gCapture.audioMonikers, gCapture.audioDeviceCount);
    return gCapture.videoDeviceCount > 0 || gCapture.audioDeviceCount > 0 ? 0 : -1;
}

void ReconcileChannelDevices()
{
    for (ChannelRecord& channel : gSettings.channels) {
        Reconcile(channel.videoDeviceName, sizeof channel.videoDeviceName, gDeviceNames.video, channel.videoDevice,
                  channel.editSelection, false);
        Reconcile(channel.audioDeviceName, sizeof channel.audioDeviceName, gDeviceNames.audio, channel.audioDevice,
                  channel.editSelection, true);
    }
}

int SelectCaptureDevices(const std::shared_ptr<DeviceMoniker>& video, const std::shared_ptr<DeviceMoniker>& audio,
                         int wantedFrameRate)
{
    // Callbacks of a graph that did not stop may still use what the teardown
    // frees: it stays as it is.
    if (IsCaptureRunning() && StopCapture() != 0)
        return -1;
    gCapture.selectedVideo = video;
    gCapture.selectedAudio = audio;
    TearDownCaptureGraph();
    if (video && !(gCapture.videoCapture = video->Bind())) {
        ReleaseSelection();
        return -1;
    }
    if (audio && !(gCapture.audioCapture = audio == video ? gCapture.videoCapture : audio->Bind())) {
        ReleaseSelection();
        return -1;
    }
    if (BuildCaptureGraph(wantedFrameRate) == 0)
        return 0;
    ReleaseSelection();
    return -1;
}

int SelectCaptureDevicesByIndex(int videoIndex, int audioIndex, int wantedFrameRate)
{
    return SelectCaptureDevices(MonikerOfSlot(gCapture.videoMonikers, gCapture.videoDeviceCount, videoIndex),
                                MonikerOfSlot(gCapture.audioMonikers, gCapture.audioDeviceCount, audioIndex),
                                wantedFrameRate);
}

const CaptureFormat& GraphFormat()
{
    return gCapture.format;
}

int BuildCaptureGraph(int wantedFrameRate)
{
    // A graph without sound delivers none; its sound format is the one the
    // encoders would be set up with.
    gCapture.format = CaptureFormat{};
    if (gCapture.videoCapture && BuildVideoPart(wantedFrameRate) != 0)
        return -1;
    if (gCapture.audioCapture && BuildAudioPart() != 0)
        return -1;
    return 0;
}

void TearDownCaptureGraph()
{
    ReleaseMotionReference();
    if (gCapture.audioCapture == gCapture.videoCapture)
        gCapture.audioCapture.reset();
    RemoveCaptureFilter(gCapture.videoCapture);
    RemoveCaptureFilter(gCapture.audioCapture);
    gCapture.router.reset();
    gCapture.crossbarInputCount = 0;
    for (auto* filter : {gCapture.vbiCodec.get(), static_cast<CaptureFilter*>(gCapture.videoGrabber.get()),
                         static_cast<CaptureFilter*>(gCapture.audioGrabber.get()),
                         static_cast<CaptureFilter*>(gCapture.captionGrabber.get())})
        if (filter)
            gCapture.graph->RemoveFilter(filter);
    gCapture.videoGrabber.reset();
    gCapture.audioGrabber.reset();
    gCapture.captionGrabber.reset();
    gCapture.vbiCodec.reset();
    gCapture.videoWindow.reset();
}

int StartCapture()
{
    if (IsCaptureRunning())
        return 0;
    if (gCapture.graph->Run() != 0) {
        gCapture.graph->Stop();
        const std::string reason = gCapture.videoCapture ? gCapture.videoCapture->StartFailure() : std::string();
        ShowFailure(reason.empty()
                        ? "Could not start the capture. Please disconnect and reconnect the capture device and try again."
                        : reason.c_str());
        return -1;
    }
    SetCaptureRunning(true);
    if (gCapture.videoWindow)
        gCapture.videoWindow->SetVisible(IsPreviewVisible());
    PostAppMessage(MessageTarget::Frame, kMsgChannelChanged);
    UpdateStatusText();
    return 0;
}

int StopCapture()
{
    if (!IsCaptureRunning())
        return 0;
    gCapture.graph->Pause();
    if (gCapture.graph->Stop() != 0) {
        ShowFailure("Cannot stop preview.");
        return -1;
    }
    if (gCapture.videoWindow) {
        gCapture.videoWindow->SetVisible(false);
        gCapture.videoWindow->SetOwned(false);
    }
    SetCaptureRunning(false);
    UpdateStatusText();
    ResizeFrame(kHiddenFrameWidth, kHiddenFrameHeight);
    return 0;
}

int ConnectFilters(CaptureFilter& upstream, CaptureFilter& downstream)
{
    for (const auto& output : upstream.Pins()) {
        if (output->direction != PinDirection::Output || output->connected)
            continue;
        for (const auto& input : downstream.Pins())
            if (input->direction == PinDirection::Input && !input->connected && ConnectPins(*output, *input) == 0)
                return 0;
    }
    return -1;
}

FrameSize ChooseCaptureSize(const VideoStreamConfig& config)
{
    FrameSize chosen{kPreferredWidth, kPreferredHeight};
    for (int i = 0; i < config.CapabilityCount(); ++i) {
        FrameSize size;
        if (config.Capability(i, size) != 0)
            continue;
        if (size.width == kPreferredWidth && size.height == kPreferredHeight)
            return size;
        bool nearer = size.width >= kPreferredWidth && size.width - kPreferredWidth <= chosen.width - kPreferredWidth &&
                      size.height >= kPreferredHeight && size.height - kPreferredHeight <= chosen.height - kPreferredHeight;
        if (i == 0 || nearer)
            chosen = size;
    }
    return chosen;
}

bool GraphHasVideo()
{
    return gCapture.videoGrabber != nullptr;
}

bool GraphHasAudio()
{
    return gCapture.audioGrabber != nullptr;
}

void SetFrameResizer(std::function<void(int width, int height)> resizer)
{
    frameResizer = std::move(resizer);
}

void ApplyPreviewVisibility()
{
    const bool shown = IsPreviewVisible() && gCapture.format.width >= 1 && gCapture.format.height >= 1;
    ResizeFrame(shown ? gCapture.format.width : kHiddenFrameWidth, shown ? gCapture.format.height : kHiddenFrameHeight);
    if (IsCaptureRunning() && gCapture.videoWindow)
        gCapture.videoWindow->SetVisible(IsPreviewVisible());
}

int SetPreviewVolume(int muted)
{
    std::shared_ptr<AudioRenderer> renderer = gCapture.graph ? gCapture.graph->BasicAudio() : nullptr;
    if (!renderer)
        return -1;
    return renderer->SetVolume(muted ? kVolumeSilent : kVolumeFull) == 0 ? 0 : -2;
}
