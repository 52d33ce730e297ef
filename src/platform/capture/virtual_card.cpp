#include "platform/capture/connector_crossbar.h"
#include "platform/capture/line21.h"
#include "platform/capture/virtual_devices.h"
#include "platform/capture/virtual_pictures.h"
#include "platform/sync.h"
#include "platform/thread.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <limits>
#include <map>
#include <mutex>

namespace {

constexpr double kFieldSeconds = 1001.0 / 30000;
constexpr int kCaptionFields = 120;  // a caption stays about four seconds
constexpr int kAudioBlocksPerSecond = 20;
constexpr int kNoiseSlack = 65536;
constexpr int kLineInTone = 440;

class VirtualTuner : public TvTuner {
public:
    int ChannelMinMax(int& minimum, int& maximum) const override
    {
        minimum = kVirtualFirstChannel;
        maximum = kVirtualLastChannel;
        return 0;
    }
    // The virtual stations sit on the same channel numbers whatever the
    // input type and country, so these only check their argument.
    int SetInputType(int input, int type) override { return input == 0 && (type == 0 || type == 1) ? 0 : -1; }
    int SetCountryCode(int country) override { return country > 0 ? 0 : -1; }
    int SetChannel(int channel, int, int) override
    {
        if (channel < kVirtualFirstChannel || channel > kVirtualLastChannel)
            return -1;
        channel_ = channel;
        return 0;
    }
    int Channel() const override { return channel_; }
    int AutoTune(int channel, bool& found) override
    {
        found = SetChannel(channel, -2, -2) == 0 && VirtualChannelHasSignal(channel);
        return channel_ == channel ? 0 : -1;
    }
    // The virtual stations sit exactly on their channels: there is no fine
    // tuning to keep.
    int StoreAutoTune() override { return 0; }

private:
    std::atomic<int> channel_{3};
};

enum class Scene { TestCard, Bars, Still, StripesA, StripesB, Rolling, Noise };

struct Scenes {
    int width = 0;
    int height = 0;
    Picture testCard, bars, still, stripesA, stripesB, noise;
};

class VirtualCaptureFilter : public CaptureFilter, public VideoStreamConfig, public AudioStreamConfig {
public:
    explicit VirtualCaptureFilter(const VirtualDeviceDescription& device);
    ~VirtualCaptureFilter() override { StopStreaming(); }

    int SetState(FilterState state, const StreamClock& clock) override;
    TvTuner* Tuner() override { return tuner_.get(); }
    VideoStreamConfig* VideoConfig() override { return videoOut_ ? this : nullptr; }
    AudioStreamConfig* AudioConfig() override { return audioOut_ ? this : nullptr; }

    int CapabilityCount() const override { return static_cast<int>(device_.capabilities.size()); }
    int Capability(int index, FrameSize& size) const override;
    int GetFormat(VideoFormat& format) const override;
    int SetFormat(const VideoFormat& format) override;
    int GetFormat(AudioFormat& format) const override;
    std::vector<std::string> Details() const override { return {"formats: B,G,R pictures drawn by the program"}; }

private:
    void ConnectCrossbars();
    void Prepare();
    void StopStreaming();
    bool WaitUntil(const StreamClock& clock, double seconds);
    int StreamPictures(StreamClock clock);
    int StreamSound(StreamClock clock);
    Scene CurrentScene() const;
    const std::vector<int16_t>& CurrentSound() const;
    void SendFrame(int64_t index, double time);
    void SendField(int64_t index, double time);
    void SendBlock(int64_t index, double time);

    VirtualDeviceDescription device_;
    std::vector<std::shared_ptr<CrossbarFilter>> crossbars_;
    std::unique_ptr<VirtualTuner> tuner_;
    CapturePin* videoIn_ = nullptr;
    CapturePin* audioIn_ = nullptr;
    CapturePin* videoOut_ = nullptr;
    CapturePin* vbiOut_ = nullptr;
    CapturePin* captionOut_ = nullptr;
    CapturePin* audioOut_ = nullptr;
    VideoFormat format_;

    Scenes scenes_;
    Picture frame_;
    std::vector<uint8_t> captions_;
    std::array<uint8_t, kVbiLineSamples> line_{};
    std::map<int, std::vector<int16_t>> tones_;
    std::vector<int16_t> hiss_;
    std::vector<int16_t> block_;
    // One generator per streaming thread: pictures and sound run apart.
    uint32_t pictureRandom_ = 0x1234567u;
    uint32_t soundRandom_ = 0x7654321u;

    WorkerThread pictureThread_;
    WorkerThread soundThread_;
    std::mutex wakeLock_;
    std::condition_variable wake_;
    bool stopping_ = false;
    bool streaming_ = false;
    std::atomic<bool> paused_{false};
};

VirtualCaptureFilter::VirtualCaptureFilter(const VirtualDeviceDescription& device) : device_(device)
{
    if (device_.video && !device_.crossbars.empty())
        videoIn_ = &AddPin(PinDirection::Input, MediaType::AnalogVideo, PinCategory::AnalogVideoIn);
    if (device_.video && device_.analogAudio)
        audioIn_ = &AddPin(PinDirection::Input, MediaType::AnalogAudio);
    if (device_.video) {
        videoOut_ = &AddPin(PinDirection::Output, MediaType::Video, PinCategory::Capture);
        if (device_.rawVbi)
            vbiOut_ = &AddPin(PinDirection::Output, MediaType::RawVbi, PinCategory::Vbi);
        if (device_.captionPin)
            captionOut_ = &AddPin(PinDirection::Output, MediaType::Line21, PinCategory::ClosedCaption);
    }
    if (!device_.video || device_.analogAudio)
        audioOut_ = &AddPin(PinDirection::Output, MediaType::Audio, PinCategory::Capture);
    if (device_.tuner)
        tuner_ = std::make_unique<VirtualTuner>();
    if (!device_.capabilities.empty())
        format_ = {device_.capabilities[0].width, device_.capabilities[0].height, kUnitsPerSecond / 30};
    ConnectCrossbars();
}

void VirtualCaptureFilter::ConnectCrossbars()
{
    if (videoIn_)
        crossbars_ = ChainCrossbars(device_.crossbars, *videoIn_, audioIn_);
}

int VirtualCaptureFilter::Capability(int index, FrameSize& size) const
{
    if (index < 0 || index >= CapabilityCount())
        return -1;
    size = device_.capabilities[index];
    return 0;
}

int VirtualCaptureFilter::GetFormat(VideoFormat& format) const
{
    if (device_.capabilities.empty())
        return -1;
    format = format_;
    return 0;
}

int VirtualCaptureFilter::SetFormat(const VideoFormat& format)
{
    auto offered = [&](const FrameSize& size) { return size.width == format.width && size.height == format.height; };
    if (streaming_ || format.frameInterval <= 0 ||
        std::none_of(device_.capabilities.begin(), device_.capabilities.end(), offered))
        return -1;
    format_ = format;
    return 0;
}

int VirtualCaptureFilter::GetFormat(AudioFormat& format) const
{
    format = device_.audio;
    return 0;
}

void VirtualCaptureFilter::Prepare()
{
    if (videoOut_ && (scenes_.width != format_.width || scenes_.height != format_.height)) {
        const int w = format_.width;
        const int h = format_.height;
        scenes_ = {w, h, MakeTestCard(w, h), MakeColourBars(w, h), MakeStillPicture(w, h),
                   MakeWideStripes(w, h, 40), MakeWideStripes(w, h, 170), MakeNoise(w, h, kNoiseSlack)};
        frame_.assign(static_cast<size_t>(w) * h * 3 + kSamplePadding, 0);
    }
    if (captions_.empty() && (vbiOut_ || captionOut_)) {
        const std::vector<std::vector<std::string>> texts = {{"ORVANDEL TEST CHANNEL 9", "CAPTIONS ON LINE 21"},
                                                             {"THE QUICK BROWN FOX", "JUMPS OVER THE LAZY DOG"},
                                                             {"COLOUR BARS AND TONE"},
                                                             {"THE TEXT CHANGES", "EVERY FOUR SECONDS"}};
        for (const auto& lines : texts) {
            std::vector<uint8_t> pairs = PopOnCaption(lines);
            pairs.resize(kCaptionFields * 2, kNullByte);
            captions_.insert(captions_.end(), pairs.begin(), pairs.end());
        }
    }
    if (audioOut_ && hiss_.empty()) {
        for (int frequency : {kLineInTone, 660, 770, 880, 1000})
            tones_[frequency] = MakeTone(frequency, device_.audio.sampleRate, device_.audio.channels);
        hiss_ = MakeHiss(device_.audio.sampleRate, device_.audio.channels);
        block_.resize(static_cast<size_t>(device_.audio.sampleRate / kAudioBlocksPerSecond) * device_.audio.channels);
    }
}

int VirtualCaptureFilter::SetState(FilterState state, const StreamClock& clock)
{
    paused_ = state != FilterState::Running;
    if (state == FilterState::Stopped) {
        StopStreaming();
        return 0;
    }
    Prepare();
    if (state == FilterState::Paused || streaming_)
        return 0;
    stopping_ = false;
    streaming_ = true;
    if (!pictureThread_.Start([this, clock] { return StreamPictures(clock); }) ||
        !soundThread_.Start([this, clock] { return StreamSound(clock); })) {
        StopStreaming();
        return -1;
    }
    return 0;
}

void VirtualCaptureFilter::StopStreaming()
{
    {
        std::lock_guard hold(wakeLock_);
        stopping_ = true;
    }
    wake_.notify_all();
    pictureThread_.Wait(kInfinite);
    soundThread_.Wait(kInfinite);
    streaming_ = false;
}

bool VirtualCaptureFilter::WaitUntil(const StreamClock& clock, double seconds)
{
    std::unique_lock hold(wakeLock_);
    return !wake_.wait_until(hold, clock.At(seconds), [this] { return stopping_; });
}

int VirtualCaptureFilter::StreamPictures(StreamClock clock)
{
    constexpr double kNever = std::numeric_limits<double>::infinity();
    const bool pictures = videoOut_ && videoOut_->connected;
    const bool lines = (vbiOut_ && vbiOut_->connected) || (captionOut_ && captionOut_->connected);
    const double frameStep = static_cast<double>(format_.frameInterval) / kUnitsPerSecond;
    int64_t frame = 0;
    int64_t field = 0;
    while (pictures || lines) {
        double frameAt = pictures ? frame * frameStep : kNever;
        double fieldAt = lines ? field * kFieldSeconds : kNever;
        double at = std::min(frameAt, fieldAt);
        if (!WaitUntil(clock, at))
            break;
        if (frameAt <= fieldAt) {
            if (!paused_)
                SendFrame(frame, at);
            frame = NextSampleIndex(frame, frameStep, clock);
        } else {
            if (!paused_)
                SendField(field, at);
            field = NextSampleIndex(field, kFieldSeconds, clock);
        }
    }
    return 0;
}

int VirtualCaptureFilter::StreamSound(StreamClock clock)
{
    if (!audioOut_ || !audioOut_->connected)
        return 0;
    const double step = 1.0 / kAudioBlocksPerSecond;
    for (int64_t block = 0; WaitUntil(clock, block * step); block = NextSampleIndex(block, step, clock))
        if (!paused_)
            SendBlock(block, block * step);
    return 0;
}

Scene VirtualCaptureFilter::CurrentScene() const
{
    const int fallback = tuner_ ? kPhysVideoTuner : kPhysVideoComposite;
    const int type = videoIn_ ? RoutedSourceType(*videoIn_, fallback) : fallback;
    if (type == kPhysVideoTuner) {
        switch (tuner_ ? tuner_->Channel() : -1) {
        case 3: return Scene::TestCard;
        case 5: return Scene::StripesA;
        case 9: return Scene::Bars;
        case 13: return Scene::StripesB;
        default: return Scene::Noise;
        }
    }
    if (type == kPhysVideoSVideo)
        return Scene::Rolling;
    return type < 0 ? Scene::Noise : Scene::Still;
}

const std::vector<int16_t>& VirtualCaptureFilter::CurrentSound() const
{
    const int fallback = tuner_ ? kPhysAudioTuner : kPhysAudioLine;
    const int type = audioIn_ ? RoutedSourceType(*audioIn_, fallback) : fallback;
    if (type != kPhysAudioTuner)
        return tones_.at(kLineInTone);
    switch (tuner_ ? tuner_->Channel() : -1) {
    case 3: return tones_.at(660);
    case 5: return tones_.at(880);
    case 9: return tones_.at(1000);
    case 13: return tones_.at(770);
    default: return hiss_;
    }
}

void VirtualCaptureFilter::SendFrame(int64_t index, double time)
{
    const int w = scenes_.width;
    const int h = scenes_.height;
    const uint8_t* bytes = frame_.data();
    const int frameNumber = static_cast<int>(index % 1000000);
    switch (CurrentScene()) {
    case Scene::TestCard: bytes = scenes_.testCard.data(); break;
    case Scene::Bars: bytes = scenes_.bars.data(); break;
    case Scene::Still: bytes = scenes_.still.data(); break;
    case Scene::StripesA: ScrollSideways(scenes_.stripesA, w, h, frameNumber, frame_.data()); break;
    case Scene::StripesB: ScrollSideways(scenes_.stripesB, w, h, frameNumber * 2, frame_.data()); break;
    case Scene::Rolling: RollUpwards(scenes_.still, w, h, frameNumber, frame_.data()); break;
    case Scene::Noise: bytes = scenes_.noise.data() + NextRandom(pictureRandom_) % kNoiseSlack; break;
    }
    MediaSample sample;
    sample.time = time;
    sample.bytes = bytes;
    sample.length = w * h * 3;
    sample.width = w;
    sample.height = h;
    Deliver(*videoOut_, sample);
}

void VirtualCaptureFilter::SendField(int64_t index, double time)
{
    if (CurrentScene() != Scene::Bars)
        return;
    const uint8_t* pair = &captions_[static_cast<size_t>(index) * 2 % captions_.size()];
    MediaSample sample;
    sample.time = time;
    if (captionOut_ && captionOut_->connected) {
        sample.bytes = pair;
        sample.length = 2;
        Deliver(*captionOut_, sample);
    }
    if (vbiOut_ && vbiOut_->connected) {
        SynthesizeLine21(pair[0], pair[1], line_.data(), kVbiLineSamples, kVbiSampleRate);
        sample.bytes = line_.data();
        sample.length = kVbiLineSamples;
        sample.rate = kVbiSampleRate;
        Deliver(*vbiOut_, sample);
    }
}

void VirtualCaptureFilter::SendBlock(int64_t index, double time)
{
    const std::vector<int16_t>& sound = CurrentSound();
    const size_t count = block_.size();
    size_t offset = &sound == &hiss_ ? NextRandom(soundRandom_) % sound.size() : index * count % sound.size();
    for (size_t i = 0; i < count; ++i)
        block_[i] = sound[(offset + i) % sound.size()];
    MediaSample sample;
    sample.time = time;
    sample.bytes = reinterpret_cast<const uint8_t*>(block_.data());
    sample.length = static_cast<int>(count * sizeof(int16_t));
    sample.rate = device_.audio.sampleRate;
    Deliver(*audioOut_, sample);
}

class VirtualMoniker : public DeviceMoniker {
public:
    explicit VirtualMoniker(VirtualDeviceDescription device) : device_(std::move(device)) {}
    std::string FriendlyName() const override { return device_.name; }
    std::shared_ptr<CaptureFilter> Bind() const override { return std::make_shared<VirtualCaptureFilter>(device_); }

private:
    VirtualDeviceDescription device_;
};

std::mutex virtualDevicesLock;
std::vector<VirtualDeviceDescription> virtualDevices = {VirtualTvTuner(), VirtualLineIn()};

} // namespace

bool VirtualChannelHasSignal(int channel)
{
    return channel == 3 || channel == 5 || channel == 9 || channel == 13;
}

VirtualDeviceDescription VirtualTvTuner()
{
    VirtualDeviceDescription device;
    device.name = "Virtual TV Tuner";
    device.analogAudio = true;
    device.capabilities = {{320, 240}, {640, 480}, {720, 576}};
    device.crossbars = {{kPhysVideoTuner, kPhysVideoComposite, kPhysVideoSVideo}};
    device.tuner = true;
    device.rawVbi = true;
    return device;
}

VirtualDeviceDescription VirtualLineIn()
{
    VirtualDeviceDescription device;
    device.name = "Virtual Line In";
    device.video = false;
    return device;
}

void AddVirtualDevice(const VirtualDeviceDescription& device)
{
    std::lock_guard hold(virtualDevicesLock);
    virtualDevices.push_back(device);
}

void ResetVirtualDevices()
{
    std::lock_guard hold(virtualDevicesLock);
    virtualDevices = {VirtualTvTuner(), VirtualLineIn()};
}

std::vector<std::shared_ptr<DeviceMoniker>> VirtualDevices(DeviceCategory category)
{
    std::lock_guard hold(virtualDevicesLock);
    std::vector<std::shared_ptr<DeviceMoniker>> devices;
    for (const VirtualDeviceDescription& device : virtualDevices)
        if (device.video == (category == DeviceCategory::Video))
            devices.push_back(std::make_shared<VirtualMoniker>(device));
    return devices;
}
