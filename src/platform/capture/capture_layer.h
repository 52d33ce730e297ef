#pragma once
// The capture layer: a small filter graph through which capture devices hand
// pictures, sound and line-21 caption bytes to the program. Devices, crossbars
// and tuners are filters with pins; sample grabbers pass every sample to a
// callback on the device's own streaming thread; a video renderer feeds the
// preview window and an audio renderer keeps the preview volume.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// Video is always a bottom-up picture of 24-bit B,G,R pixels; Audio is
// interleaved signed 16-bit PCM; RawVbi is one sampled line 21 per field;
// Line21 is the two caption bytes of a field.
enum class MediaType { AnalogVideo, AnalogAudio, Video, Audio, RawVbi, Line21 };
enum class PinCategory { None, AnalogVideoIn, Capture, Vbi, ClosedCaption };
enum class PinDirection { Input, Output };

// Physical connector types of crossbar pins; video types are below 0x1000.
constexpr int kPhysVideoTuner = 1;
constexpr int kPhysVideoComposite = 2;
constexpr int kPhysVideoSVideo = 3;
constexpr int kPhysVideoYRYBY = 5;
constexpr int kPhysVideoSerialDigital = 6;
constexpr int kPhysVideoAux = 9;
constexpr int kPhysVideoDecoder = 12;
constexpr int kPhysAudioTuner = 0x1000;
constexpr int kPhysAudioLine = 0x1001;
constexpr int kPhysAudioDecoder = 0x1009;

constexpr int64_t kUnitsPerSecond = 10000000;  // frame intervals count 100 ns

struct FrameSize {
    int width = 0;
    int height = 0;
};

struct VideoFormat {
    int width = 0;
    int height = 0;
    int64_t frameInterval = 0;
};

struct AudioFormat {
    int channels = 2;
    int sampleRate = 44100;
    int bitsPerSample = 16;
};

// A video sample's bytes are followed by at least this many readable bytes:
// the scaler's vector loads read a little past the end of a row.
constexpr int kSamplePadding = 64;

struct MediaSample {
    double time = 0;             // seconds since the graph started
    const uint8_t* bytes = nullptr;
    int length = 0;
    int width = 0;               // video
    int height = 0;
    int rate = 0;                // audio: frames per second; raw VBI: samples per second
};

class CaptureFilter;
class CrossbarFilter;

struct CapturePin {
    CaptureFilter* filter;
    PinDirection direction;
    MediaType media;
    PinCategory category;
    CapturePin* connected = nullptr;
};

enum class FilterState { Stopped, Paused, Running };

// The graph's clock: sample times count from the moment the graph first ran.
class StreamClock {
public:
    void Start() { start_ = std::chrono::steady_clock::now(); }
    std::chrono::steady_clock::time_point StartPoint() const { return start_; }
    double Now() const;
    // The moment of a sample time.
    std::chrono::steady_clock::time_point At(double seconds) const;

private:
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

// The next index of a stream with a sample every step seconds; a stream
// that fell behind skips what it missed, as a card whose buffers overflow
// does.
int64_t NextSampleIndex(int64_t index, double step, const StreamClock& clock);

class VideoStreamConfig {
public:
    virtual ~VideoStreamConfig() = default;
    virtual int CapabilityCount() const = 0;
    // 0 and the size of capability index, or -1.
    virtual int Capability(int index, FrameSize& size) const = 0;
    // The format the capture pin delivers now (while connected: what it delivers).
    virtual int GetFormat(VideoFormat& format) const = 0;
    virtual int SetFormat(const VideoFormat& format) = 0;
};

class AudioStreamConfig {
public:
    virtual ~AudioStreamConfig() = default;
    virtual int GetFormat(AudioFormat& format) const = 0;
};

class TvTuner {
public:
    virtual ~TvTuner() = default;
    virtual int ChannelMinMax(int& minimum, int& maximum) const = 0;
    // type 1 = antenna, 0 = cable.
    virtual int SetInputType(int input, int type) = 0;
    virtual int SetCountryCode(int country) = 0;
    virtual int SetChannel(int channel, int videoSubChannel, int audioSubChannel) = 0;
    virtual int Channel() const = 0;
    // Tunes channel and reports whether a signal is there.
    virtual int AutoTune(int channel, bool& found) = 0;
    // Keeps what the auto-tune runs found for later tuning.
    virtual int StoreAutoTune() = 0;
};

class CaptureFilter : public std::enable_shared_from_this<CaptureFilter> {
public:
    CaptureFilter() = default;
    CaptureFilter(const CaptureFilter&) = delete;
    CaptureFilter& operator=(const CaptureFilter&) = delete;
    virtual ~CaptureFilter();

    const std::vector<std::unique_ptr<CapturePin>>& Pins() const { return pins_; }
    // Whether input takes what output offers.
    virtual bool Accepts(const CapturePin& input, const CapturePin& output) const;
    // A sample arriving at one of the filter's inputs, on the sender's thread.
    virtual void Receive(const CapturePin& input, const MediaSample& sample);
    virtual int SetState(FilterState state, const StreamClock& clock);
    // Why the last start failed, in words for the user; empty when the
    // device has nothing to add to the usual message.
    virtual std::string StartFailure() const { return {}; }
    // What the device says of itself for a user's report ("formats: ...",
    // "standards: ..."), one line each.
    virtual std::vector<std::string> Details() const { return {}; }

    virtual CrossbarFilter* AsCrossbar() { return nullptr; }
    virtual TvTuner* Tuner() { return nullptr; }
    virtual VideoStreamConfig* VideoConfig() { return nullptr; }
    virtual AudioStreamConfig* AudioConfig() { return nullptr; }

protected:
    CapturePin& AddPin(PinDirection direction, MediaType media, PinCategory category = PinCategory::None);
    // Hands a sample to whatever the output is connected to.
    static void Deliver(const CapturePin& output, const MediaSample& sample);

private:
    std::vector<std::unique_ptr<CapturePin>> pins_;
};

// The filter's first pin of that direction that is not connected, of the
// category (None: any) and media (when given); nullptr when there is none.
CapturePin* FreePin(CaptureFilter& filter, PinDirection direction, PinCategory category = PinCategory::None,
                    std::optional<MediaType> media = std::nullopt);

// Connects two pins when the input accepts the output's media; 0 or -1.
int ConnectPins(CapturePin& output, CapturePin& input);
void DisconnectPin(CapturePin& pin);

class CrossbarFilter : public CaptureFilter {
public:
    CrossbarFilter* AsCrossbar() override { return this; }
    virtual int InputCount() const = 0;
    virtual int OutputCount() const = 0;
    virtual CapturePin& InputPin(int index) = 0;
    virtual CapturePin& OutputPin(int index) = 0;
    // The related pin (video to audio and back) and the connector type; -1 for a bad index.
    virtual int PinInfo(bool input, int index, int& related, int& physicalType) const = 0;
    virtual int CanRoute(int output, int input) const = 0;
    virtual int Route(int output, int input) = 0;
    // The input routed to output, or -1.
    virtual int RoutedInput(int output) const = 0;
};

// The physical type at the far end of the route that ends at a capture
// filter's input pin, following routed crossbars upstream; fallback when
// the pin is not connected to a crossbar.
int RoutedSourceType(const CapturePin& input, int fallback);

class GrabberCallback {
public:
    virtual ~GrabberCallback() = default;
    virtual int BufferCB(double sampleTime, const uint8_t* buffer, int length) = 0;
};

// Passes every sample to its callback, then on downstream.
class SampleGrabber : public CaptureFilter {
public:
    SampleGrabber();
    // The media the grabber takes and passes on; -1 while it is connected.
    int SetMediaType(MediaType media);
    void SetCallback(GrabberCallback* callback) { callback_ = callback; }
    void Receive(const CapturePin& input, const MediaSample& sample) override;

private:
    CapturePin& input_;
    CapturePin& output_;
    std::atomic<GrabberCallback*> callback_{nullptr};
};

// The preview: keeps the newest frame while its window is shown.
class VideoRenderer : public CaptureFilter {
public:
    VideoRenderer();
    ~VideoRenderer() override;
    void SetOwned(bool owned);
    void SetVisible(bool visible);
    void Receive(const CapturePin& input, const MediaSample& sample) override;

private:
    void Withdraw();

    std::atomic<bool> owned_{false};
    std::atomic<bool> visible_{false};
};

// What the preview widget shows: the current renderer's frame while it is
// owned and visible.
struct PreviewPicture {
    bool shown = false;
    int width = 0;
    int height = 0;
    uint64_t serial = 0;          // changes with every new frame
    std::vector<uint8_t> pixels;  // bottom-up B,G,R
};
// Copies the picture when its serial differs from knownSerial; returns whether it did.
bool TakePreviewPicture(PreviewPicture& picture, uint64_t knownSerial);

constexpr long kVolumeSilent = -10000;
constexpr long kVolumeFull = 0;

class AudioRenderer : public CaptureFilter {
public:
    AudioRenderer();
    // -10,000 (silent) to 0 (full); -1 outside that range.
    int SetVolume(long volume);
    long Volume() const { return volume_; }

private:
    std::atomic<long> volume_{kVolumeFull};
};

// The filter graph and the graph builder's services in one.
class FilterGraph {
public:
    ~FilterGraph();
    int AddFilter(std::shared_ptr<CaptureFilter> filter, const std::string& name);
    // Disconnects the filter's pins and drops it; -1 when it is not in the graph.
    int RemoveFilter(CaptureFilter* filter);
    std::shared_ptr<CaptureFilter> FindFilter(const std::string& name) const;
    std::vector<std::string> FilterNames() const;

    // Connects source's first free output pin of the category (and media,
    // when given) through intermediate to sink; without a sink a video or
    // audio stream ends in a new default renderer. 0 or -1.
    int RenderStream(PinCategory category, std::optional<MediaType> media, CaptureFilter& source,
                     CaptureFilter* intermediate, CaptureFilter* sink);

    int Run();
    int Pause();
    int Stop();
    FilterState State() const { return state_; }

    std::shared_ptr<VideoRenderer> VideoWindow() const;
    std::shared_ptr<AudioRenderer> BasicAudio() const;

private:
    struct Entry {
        std::shared_ptr<CaptureFilter> filter;
        std::string name;
    };
    int SetAll(FilterState state);
    template <class T> std::shared_ptr<T> FirstOf() const;

    std::vector<Entry> filters_;
    StreamClock clock_;
    FilterState state_ = FilterState::Stopped;
};

// The VBI codec: slices the caption bytes out of raw line-21 samples.
std::shared_ptr<CaptureFilter> CreateVbiCodec();
// nullptr when no grabber can be had.
std::shared_ptr<SampleGrabber> CreateSampleGrabber();

enum class DeviceCategory { Video, Audio };

class DeviceMoniker {
public:
    virtual ~DeviceMoniker() = default;
    virtual std::string FriendlyName() const = 0;
    // A new filter for the device; nullptr when it cannot be opened.
    virtual std::shared_ptr<CaptureFilter> Bind() const = 0;
};

// The devices of a category in a stable order: the virtual ones first, then
// the hardware.
std::vector<std::shared_ptr<DeviceMoniker>> EnumerateDevices(DeviceCategory category);

// Whether a filter has an input that takes the analog sound of a tuner card.
bool HasAnalogAudioPin(const CaptureFilter& filter);
