#include "platform/capture/network_source.h"

#include "platform/av_owned.h"
#include "platform/capture/connector_crossbar.h"
#include "platform/log.h"
#include "platform/thread.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <functional>
#include <mutex>
#include <utility>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
}

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kSoundRate = 44100;
constexpr int kSoundChannels = 2;
constexpr int kSoundBlocksPerSecond = 20;
constexpr size_t kSoundBlockSamples = kSoundRate / kSoundBlocksPerSecond * kSoundChannels;
// A live source that sends a burst of sound is cut back to this much ahead
// of the delivery, so that its sound never lags behind its pictures.
constexpr size_t kLongestSoundBacklog = kSoundRate / 2 * kSoundChannels;
// A file's time that jumps further than this ahead starts its pacing anew.
constexpr double kLongestPaceJumpSeconds = 2;
constexpr int64_t kDefaultFrameInterval = kUnitsPerSecond / 25;
// Sizes a channel may ask for; the first is the default.
constexpr FrameSize kSourceSizes[] = {{640, 480}, {320, 240}, {352, 288}, {720, 480}, {720, 576}, {1280, 720}};
// What FFmpeg may read to learn the streams: enough for a key frame of a
// live source without holding the start back for long.
constexpr char kAnalyzeMicroseconds[] = "1000000";
constexpr char kProbeBytes[] = "1000000";

// A URL as the log may show it: without a user name and password, and
// without its query, where cameras and playlists carry keys and tokens.
std::string UrlForLog(const std::string& url)
{
    const std::string withoutQuery = url.substr(0, url.find_first_of("?#"));
    const size_t scheme = withoutQuery.find("://");
    if (scheme == std::string::npos)
        return withoutQuery;
    const size_t hostStart = scheme + 3;
    const size_t authorityEnd = std::min(withoutQuery.find('/', hostStart), withoutQuery.size());
    const size_t at = withoutQuery.rfind('@', authorityEnd);
    if (at == std::string::npos || at < hostStart)
        return withoutQuery;
    return withoutQuery.substr(0, hostStart) + withoutQuery.substr(at + 1);
}

// Lets FFmpeg's blocking calls give up at a deadline, or at once on a stop.
class InterruptGuard {
public:
    explicit InterruptGuard(const std::atomic<bool>& stop) : stop_(stop) {}
    void Limit(int ms) { deadline_ = Clock::now() + std::chrono::milliseconds(ms); }
    bool TimedOut() const { return !stop_ && Clock::now() > deadline_.load(); }
    AVIOInterruptCB Callback() { return {&Interrupted, this}; }

private:
    static int Interrupted(void* opaque)
    {
        const auto* self = static_cast<const InterruptGuard*>(opaque);
        return self->stop_ || Clock::now() > self->deadline_.load() ? 1 : 0;
    }

    const std::atomic<bool>& stop_;
    std::atomic<Clock::time_point> deadline_{Clock::time_point::max()};
};

// Where decoded pictures (bottom-up B,G,R at the size asked) and sound
// (interleaved 16-bit stereo at 44,100 Hz) go, with the source's time.
struct DecodedSinks {
    std::function<void(const uint8_t* picture, double seconds)> picture;
    std::function<void(const int16_t* samples, size_t count, double seconds)> sound;
};

class SourceDecoder {
public:
    explicit SourceDecoder(const std::atomic<bool>& stop) : interrupt_(stop) {}
    ~SourceDecoder() { av_channel_layout_uninit(&soundLayout_); }
    SourceDecoder(const SourceDecoder&) = delete;
    SourceDecoder& operator=(const SourceDecoder&) = delete;

    // Empty when the source is open, else why not, in FFmpeg's words.
    std::string Open(const std::string& url, FrameSize size, int limitMs);
    void Close();
    bool HasVideo() const { return video_ != nullptr; }
    bool HasSound() const { return audio_ != nullptr; }
    // A source with a known length (a file, a finished playlist) is read
    // at its own rate; a live one as it comes.
    bool Paced() const { return input_ && input_->duration > 0; }
    std::string Description() const;
    // Reads one packet and decodes it: 0, or FFmpeg's error code.
    int ReadOne(const DecodedSinks& sinks, int limitMs);
    // The reason for an error ReadOne returned.
    std::string ErrorText(int code) const;

private:
    std::string OpenDecoder(AVMediaType type, int& index, CodecContextPtr& decoder);
    int Decode(AVCodecContext& decoder, const AVPacket* packet, const DecodedSinks& sinks);
    void TakePicture(const AVFrame& frame, double seconds, const DecodedSinks& sinks);
    void TakeSound(const AVFrame& frame, double seconds, const DecodedSinks& sinks);
    double Seconds(const AVFrame& frame, int streamIndex) const;

    InterruptGuard interrupt_;
    InputFormatPtr input_;
    CodecContextPtr video_;
    CodecContextPtr audio_;
    int videoIndex_ = -1;
    int audioIndex_ = -1;
    ScalerPtr scaler_;
    ResamplerPtr resampler_;
    FramePtr frame_{av_frame_alloc()};
    PacketPtr packet_{av_packet_alloc()};
    FrameSize size_;
    std::vector<uint8_t> picture_;
    std::vector<int16_t> sound_;
    // What the resampler was made for.
    bool scalerFailed_ = false;
    int soundFormat_ = -1;
    int soundRate_ = 0;
    AVChannelLayout soundLayout_{};
};

std::string SourceDecoder::Open(const std::string& url, FrameSize size, int limitMs)
{
    Close();
    size_ = size;
    AVFormatContext* context = avformat_alloc_context();
    if (!context || !frame_ || !packet_)
        return "out of memory";
    interrupt_.Limit(limitMs);
    context->interrupt_callback = interrupt_.Callback();
    AVDictionary* options = nullptr;
    if (url.starts_with("rtsp://"))
        av_dict_set(&options, "rtsp_transport", "tcp", 0);
    av_dict_set(&options, "analyzeduration", kAnalyzeMicroseconds, 0);
    av_dict_set(&options, "probesize", kProbeBytes, 0);
    const int opened = avformat_open_input(&context, url.c_str(), nullptr, &options);
    av_dict_free(&options);
    if (opened < 0)
        return ErrorText(opened);
    input_.reset(context);
    if (const int found = avformat_find_stream_info(context, nullptr); found < 0) {
        const std::string reason = ErrorText(found);
        Close();
        return reason;
    }
    std::string failure = OpenDecoder(AVMEDIA_TYPE_VIDEO, videoIndex_, video_);
    if (failure.empty())
        failure = OpenDecoder(AVMEDIA_TYPE_AUDIO, audioIndex_, audio_);
    if (failure.empty() && !video_ && !audio_)
        failure = "it carries neither pictures nor sound";
    if (!failure.empty())
        Close();
    return failure;
}

// A stream the source lacks leaves the decoder empty; one it has but that
// cannot be decoded is a failure.
std::string SourceDecoder::OpenDecoder(AVMediaType type, int& index, CodecContextPtr& decoder)
{
    const AVCodec* codec = nullptr;
    index = av_find_best_stream(input_.get(), type, -1, -1, &codec, 0);
    if (index == AVERROR_STREAM_NOT_FOUND)
        return {};
    if (index < 0 || !codec)
        return std::string("no decoder for its ") + av_get_media_type_string(type) + " stream";
    decoder.reset(avcodec_alloc_context3(codec));
    if (!decoder)
        return "out of memory";
    int result = avcodec_parameters_to_context(decoder.get(), input_->streams[index]->codecpar);
    // One thread per source: frame threads would hold pictures back, and
    // a camera's stream rarely has the slices that slice threads share.
    decoder->thread_count = 1;
    if (result >= 0)
        result = avcodec_open2(decoder.get(), codec, nullptr);
    if (result < 0) {
        decoder.reset();
        index = -1;
        return std::string("the ") + codec->name + " decoder: " + FfmpegError(result);
    }
    return {};
}

void SourceDecoder::Close()
{
    // A source that comes back may send other sizes and another sound.
    scaler_.reset();
    resampler_.reset();
    video_.reset();
    audio_.reset();
    input_.reset();
    videoIndex_ = audioIndex_ = -1;
}

std::string SourceDecoder::Description() const
{
    std::string text;
    if (video_)
        text = std::string(avcodec_get_name(video_->codec_id)) + " " + std::to_string(video_->width) + "x" +
               std::to_string(video_->height);
    if (audio_)
        text += (text.empty() ? "" : ", ") + std::string(avcodec_get_name(audio_->codec_id)) + " " +
                std::to_string(audio_->sample_rate) + " Hz";
    return text;
}

std::string SourceDecoder::ErrorText(int code) const
{
    if (interrupt_.TimedOut())
        return "no answer in time";
    return code == AVERROR_EOF ? "the source ended" : FfmpegError(code);
}

int SourceDecoder::ReadOne(const DecodedSinks& sinks, int limitMs)
{
    interrupt_.Limit(limitMs);
    const int read = av_read_frame(input_.get(), packet_.get());
    if (read < 0)
        return read;
    int result = 0;
    if (packet_->stream_index == videoIndex_)
        result = Decode(*video_, packet_.get(), sinks);
    else if (packet_->stream_index == audioIndex_)
        result = Decode(*audio_, packet_.get(), sinks);
    av_packet_unref(packet_.get());
    return result;
}

// A packet the decoder refuses is skipped, as a damaged one on the air is.
int SourceDecoder::Decode(AVCodecContext& decoder, const AVPacket* packet, const DecodedSinks& sinks)
{
    if (avcodec_send_packet(&decoder, packet) < 0)
        return 0;
    const int streamIndex = &decoder == video_.get() ? videoIndex_ : audioIndex_;
    while (avcodec_receive_frame(&decoder, frame_.get()) >= 0) {
        const double seconds = Seconds(*frame_, streamIndex);
        if (streamIndex == videoIndex_)
            TakePicture(*frame_, seconds, sinks);
        else
            TakeSound(*frame_, seconds, sinks);
        av_frame_unref(frame_.get());
    }
    return 0;
}

double SourceDecoder::Seconds(const AVFrame& frame, int streamIndex) const
{
    const int64_t stamp = frame.best_effort_timestamp;
    if (stamp == AV_NOPTS_VALUE)
        return -1;
    return static_cast<double>(stamp) * av_q2d(input_->streams[streamIndex]->time_base);
}

void SourceDecoder::TakePicture(const AVFrame& frame, double seconds, const DecodedSinks& sinks)
{
    const int width = size_.width;
    const int height = size_.height;
    scaler_.reset(sws_getCachedContext(scaler_.release(), frame.width, frame.height,
                                       static_cast<AVPixelFormat>(frame.format), width, height, AV_PIX_FMT_BGR24,
                                       SWS_BILINEAR, nullptr, nullptr, nullptr));
    if (!scaler_) {
        if (std::exchange(scalerFailed_, true) == false)
            Log("A network source's pictures cannot be converted from " + std::to_string(frame.width) + "x" +
                std::to_string(frame.height) + " " +
                (av_get_pix_fmt_name(static_cast<AVPixelFormat>(frame.format)) ?: "?") + ".");
        return;
    }
    picture_.resize(static_cast<size_t>(width) * height * 3 + kSamplePadding);
    // Writing from the last row upwards turns the picture bottom-up.
    uint8_t* target[4] = {picture_.data() + static_cast<size_t>(height - 1) * width * 3, nullptr, nullptr, nullptr};
    const int targetLinesizes[4] = {-width * 3, 0, 0, 0};
    if (sws_scale(scaler_.get(), frame.data, frame.linesize, 0, frame.height, target, targetLinesizes) == height)
        sinks.picture(picture_.data(), seconds);
}

void SourceDecoder::TakeSound(const AVFrame& frame, double seconds, const DecodedSinks& sinks)
{
    // A broadcast may switch between stereo and surround sound.
    const bool changed = frame.format != soundFormat_ || frame.sample_rate != soundRate_ ||
                         av_channel_layout_compare(&frame.ch_layout, &soundLayout_) != 0;
    if (changed) {
        resampler_.reset();
        soundFormat_ = frame.format;
        soundRate_ = frame.sample_rate;
        av_channel_layout_uninit(&soundLayout_);
        av_channel_layout_copy(&soundLayout_, &frame.ch_layout);
    }
    if (!resampler_) {
        AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
        SwrContext* resampler = nullptr;
        // The library only reads the layouts, though its signature does not say so.
        if (swr_alloc_set_opts2(&resampler, &stereo, AV_SAMPLE_FMT_S16, kSoundRate,
                                const_cast<AVChannelLayout*>(&frame.ch_layout),
                                static_cast<AVSampleFormat>(frame.format), frame.sample_rate, 0, nullptr) < 0 ||
            swr_init(resampler) < 0) {
            swr_free(&resampler);
            if (changed)
                Log(std::string("A network source's sound cannot be converted from ") +
                    (av_get_sample_fmt_name(static_cast<AVSampleFormat>(frame.format)) ?: "?") + " at " +
                    std::to_string(frame.sample_rate) + " Hz.");
            return;
        }
        resampler_.reset(resampler);
    }
    const int room = swr_get_out_samples(resampler_.get(), frame.nb_samples);
    if (room <= 0)
        return;
    sound_.resize(static_cast<size_t>(room) * kSoundChannels);
    auto* out = reinterpret_cast<uint8_t*>(sound_.data());
    const int made = swr_convert(resampler_.get(), &out, room, const_cast<const uint8_t**>(frame.extended_data),
                                 frame.nb_samples);
    if (made > 0)
        sinks.sound(sound_.data(), static_cast<size_t>(made) * kSoundChannels, seconds);
}

class NetworkSourceFilter : public CaptureFilter, public VideoStreamConfig, public AudioStreamConfig {
public:
    explicit NetworkSourceFilter(NetworkSourceDescription source);
    ~NetworkSourceFilter() override { Shut(); }

    int SetState(FilterState state, const StreamClock& clock) override;
    std::string StartFailure() const override { return failure_; }
    VideoStreamConfig* VideoConfig() override { return this; }
    AudioStreamConfig* AudioConfig() override { return audioOut_ ? this : nullptr; }

    int CapabilityCount() const override { return static_cast<int>(std::size(kSourceSizes)); }
    int Capability(int index, FrameSize& size) const override;
    int GetFormat(VideoFormat& format) const override;
    int SetFormat(const VideoFormat& format) override;
    int GetFormat(AudioFormat& format) const override;
    std::vector<std::string> Details() const override
    {
        return {"url: " + UrlForLog(source_.url), std::string("sound: ") + (source_.sound ? "yes" : "no")};
    }

private:
    int Open();
    bool Start(const StreamClock& clock);
    void Shut();
    bool SleepUntil(Clock::time_point due);
    int ReadSource();
    void Reconnect(const std::string& dropReason);
    int DeliverSamples(StreamClock clock);
    void KeepPicture(const uint8_t* picture, double seconds);
    void KeepSound(const int16_t* samples, size_t count, double seconds);
    void PaceTo(double seconds);
    void SendPicture(double time);
    void SendSound(double time);

    const NetworkSourceDescription source_;
    std::vector<std::shared_ptr<CrossbarFilter>> crossbars_;
    CapturePin* videoIn_ = nullptr;
    CapturePin* audioIn_ = nullptr;
    CapturePin* videoOut_ = nullptr;
    CapturePin* audioOut_ = nullptr;
    VideoFormat format_{kSourceSizes[0].width, kSourceSizes[0].height, kDefaultFrameInterval};
    std::string failure_;

    std::atomic<bool> stop_{false};
    SourceDecoder decoder_{stop_};
    DecodedSinks sinks_;
    // The file's time and the moment its first frame was due, while paced.
    bool paced_ = false;
    double paceFirst_ = -1;
    // When the source last opened, and the backoff a quick drop resumes at.
    Clock::time_point openedAt_;
    int nextAttempt_ = 0;
    Clock::time_point paceStart_;

    std::mutex lock_;
    std::condition_variable wake_;
    std::vector<uint8_t> latest_;  // the newest picture, guarded by lock_
    std::deque<int16_t> sound_;    // sound not yet delivered, guarded by lock_
    std::vector<uint8_t> outgoing_;
    std::vector<int16_t> block_;

    WorkerThread reader_;
    WorkerThread deliverer_;
    bool opened_ = false;
    bool streaming_ = false;
    std::atomic<bool> paused_{true};
};

NetworkSourceFilter::NetworkSourceFilter(NetworkSourceDescription source) : source_(std::move(source))
{
    videoIn_ = &AddPin(PinDirection::Input, MediaType::AnalogVideo, PinCategory::AnalogVideoIn);
    if (source_.sound)
        audioIn_ = &AddPin(PinDirection::Input, MediaType::AnalogAudio);
    videoOut_ = &AddPin(PinDirection::Output, MediaType::Video, PinCategory::Capture);
    if (source_.sound)
        audioOut_ = &AddPin(PinDirection::Output, MediaType::Audio, PinCategory::Capture);
    crossbars_ = ChainCrossbars({{kPhysVideoTuner}}, *videoIn_, audioIn_);
    sinks_.picture = [this](const uint8_t* picture, double seconds) { KeepPicture(picture, seconds); };
    sinks_.sound = [this](const int16_t* samples, size_t count, double seconds) { KeepSound(samples, count, seconds); };
}

int NetworkSourceFilter::Capability(int index, FrameSize& size) const
{
    if (index < 0 || index >= CapabilityCount())
        return -1;
    size = kSourceSizes[index];
    return 0;
}

int NetworkSourceFilter::GetFormat(VideoFormat& format) const
{
    format = format_;
    return 0;
}

int NetworkSourceFilter::SetFormat(const VideoFormat& format)
{
    auto offered = [&](const FrameSize& size) { return size.width == format.width && size.height == format.height; };
    // The decoder's picture size is fixed when the source opens.
    if (opened_ || format.frameInterval <= 0 || std::none_of(std::begin(kSourceSizes), std::end(kSourceSizes), offered))
        return -1;
    format_ = format;
    return 0;
}

int NetworkSourceFilter::GetFormat(AudioFormat& format) const
{
    format = AudioFormat{kSoundChannels, kSoundRate, 16};
    return 0;
}

int NetworkSourceFilter::SetState(FilterState state, const StreamClock& clock)
{
    paused_ = state != FilterState::Running;
    if (state == FilterState::Stopped) {
        Shut();
        return 0;
    }
    if (!opened_ && Open() != 0)
        return -1;
    if (state == FilterState::Running && !streaming_ && !Start(clock)) {
        Shut();
        return -1;
    }
    return 0;
}

// On the thread that starts the graph: a source that does not open within
// the limit fails the start, and the graph's owner tells the user why.
int NetworkSourceFilter::Open()
{
    stop_ = false;
    const std::string reason = decoder_.Open(source_.url, {format_.width, format_.height}, kSourceOpenLimitMs);
    if (!reason.empty()) {
        failure_ = "The network source \"" + source_.name + "\" (" + UrlForLog(source_.url) +
                   ") could not be opened: " + reason + ".";
        return -1;
    }
    failure_.clear();
    opened_ = true;
    openedAt_ = Clock::now();
    nextAttempt_ = 0;
    paced_ = decoder_.Paced();
    paceFirst_ = -1;
    Log("The network source \"" + source_.name + "\" is open: " + decoder_.Description() + ".");
    return 0;
}

bool NetworkSourceFilter::Start(const StreamClock& clock)
{
    {
        std::lock_guard hold(lock_);
        // Black until the first picture comes.
        latest_.assign(static_cast<size_t>(format_.width) * format_.height * 3 + kSamplePadding, 0);
        sound_.clear();
    }
    outgoing_.resize(latest_.size());
    block_.resize(kSoundBlockSamples);
    streaming_ = true;
    return reader_.Start([this] { return ReadSource(); }) &&
           deliverer_.Start([this, clock] { return DeliverSamples(clock); });
}

void NetworkSourceFilter::Shut()
{
    {
        std::lock_guard hold(lock_);
        stop_ = true;
    }
    wake_.notify_all();
    reader_.Wait(kInfinite);
    deliverer_.Wait(kInfinite);
    decoder_.Close();
    opened_ = false;
    streaming_ = false;
}

// False when a stop came first.
bool NetworkSourceFilter::SleepUntil(Clock::time_point due)
{
    std::unique_lock hold(lock_);
    return !wake_.wait_until(hold, due, [this] { return stop_.load(); });
}

int NetworkSourceFilter::ReadSource()
{
    while (!stop_) {
        const int result = decoder_.ReadOne(sinks_, kSourceReadLimitMs);
        if (result < 0 && !stop_)
            Reconnect(decoder_.ErrorText(result));
    }
    return 0;
}

// Meanwhile the deliverer repeats the last picture with silence, so that
// the encoders, the stream and any recording go on.
void NetworkSourceFilter::Reconnect(const std::string& dropReason)
{
    Log("The network source \"" + source_.name + "\" dropped: " + dropReason +
        "; the last picture stays until it is back.");
    decoder_.Close();
    const auto droppedAt = Clock::now();
    int attempt = droppedAt - openedAt_ < std::chrono::seconds(kSourceSteadySeconds) ? nextAttempt_ : 0;
    for (; !stop_; ++attempt) {
        if (!SleepUntil(Clock::now() + std::chrono::seconds(SourceBackoffSeconds(attempt))))
            return;
        const std::string reason = decoder_.Open(source_.url, {format_.width, format_.height}, kSourceOpenLimitMs);
        if (reason.empty()) {
            paceFirst_ = -1;
            openedAt_ = Clock::now();
            nextAttempt_ = attempt + 1;
            const auto away = std::chrono::duration_cast<std::chrono::seconds>(openedAt_ - droppedAt).count();
            Log("The network source \"" + source_.name + "\" is back after " + std::to_string(away) + " s.");
            return;
        }
        if (!stop_)
            Log("The network source \"" + source_.name + "\" could not be reopened: " + reason + "; next try in " +
                std::to_string(SourceBackoffSeconds(attempt + 1)) + " s.");
    }
}

// A file is let out at its own rate; a live source is never held back.
void NetworkSourceFilter::PaceTo(double seconds)
{
    if (!paced_ || seconds < 0)
        return;
    const auto now = Clock::now();
    if (paceFirst_ < 0 || seconds < paceFirst_ ||
        now + std::chrono::duration<double>(kLongestPaceJumpSeconds) <
            paceStart_ + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds - paceFirst_))) {
        paceFirst_ = seconds;
        paceStart_ = now;
        return;
    }
    SleepUntil(paceStart_ + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds - paceFirst_)));
}

void NetworkSourceFilter::KeepPicture(const uint8_t* picture, double seconds)
{
    PaceTo(seconds);
    std::lock_guard hold(lock_);
    std::memcpy(latest_.data(), picture, latest_.size());
}

void NetworkSourceFilter::KeepSound(const int16_t* samples, size_t count, double seconds)
{
    if (!audioOut_)
        return;
    PaceTo(seconds);
    std::lock_guard hold(lock_);
    sound_.insert(sound_.end(), samples, samples + count);
    if (sound_.size() > kLongestSoundBacklog)
        sound_.erase(sound_.begin(), sound_.begin() + static_cast<std::ptrdiff_t>(sound_.size() - kLongestSoundBacklog));
}

// Pictures at the format's rate and sound in blocks of 50 ms, on the graph's
// clock; a delivery that fell behind skips what it missed, as a card does.
int NetworkSourceFilter::DeliverSamples(StreamClock clock)
{
    const bool pictures = videoOut_->connected != nullptr;
    const bool sound = audioOut_ && audioOut_->connected;
    const double frameStep = static_cast<double>(format_.frameInterval) / kUnitsPerSecond;
    const double blockStep = 1.0 / kSoundBlocksPerSecond;
    constexpr double kNever = 1e300;
    int64_t frame = 0;
    int64_t block = 0;
    while (pictures || sound) {
        const double frameAt = pictures ? frame * frameStep : kNever;
        const double blockAt = sound ? block * blockStep : kNever;
        const double at = std::min(frameAt, blockAt);
        if (!SleepUntil(clock.At(at)))
            break;
        if (frameAt <= blockAt) {
            if (!paused_)
                SendPicture(at);
            frame = NextSampleIndex(frame, frameStep, clock);
        } else {
            if (!paused_)
                SendSound(at);
            block = NextSampleIndex(block, blockStep, clock);
        }
    }
    return 0;
}

void NetworkSourceFilter::SendPicture(double time)
{
    {
        std::lock_guard hold(lock_);
        std::memcpy(outgoing_.data(), latest_.data(), outgoing_.size());
    }
    MediaSample sample;
    sample.time = time;
    sample.bytes = outgoing_.data();
    sample.length = format_.width * format_.height * 3;
    sample.width = format_.width;
    sample.height = format_.height;
    Deliver(*videoOut_, sample);
}

void NetworkSourceFilter::SendSound(double time)
{
    {
        std::lock_guard hold(lock_);
        const size_t taken = std::min(sound_.size(), block_.size());
        std::copy_n(sound_.begin(), taken, block_.begin());
        std::fill(block_.begin() + static_cast<std::ptrdiff_t>(taken), block_.end(), int16_t{0});
        sound_.erase(sound_.begin(), sound_.begin() + static_cast<std::ptrdiff_t>(taken));
    }
    MediaSample sample;
    sample.time = time;
    sample.bytes = reinterpret_cast<const uint8_t*>(block_.data());
    sample.length = static_cast<int>(block_.size() * sizeof(int16_t));
    sample.rate = kSoundRate;
    Deliver(*audioOut_, sample);
}

class NetworkMoniker : public DeviceMoniker {
public:
    explicit NetworkMoniker(NetworkSourceDescription source) : source_(std::move(source)) {}
    std::string FriendlyName() const override { return source_.name; }
    std::shared_ptr<CaptureFilter> Bind() const override { return std::make_shared<NetworkSourceFilter>(source_); }

private:
    NetworkSourceDescription source_;
};

std::mutex networkSourcesLock;
std::vector<NetworkSourceDescription> networkSources;

} // namespace

int SourceBackoffSeconds(int attempt)
{
    return attempt >= 5 ? kSourceLongestBackoffSeconds : std::min(1 << attempt, kSourceLongestBackoffSeconds);
}

void SetNetworkSources(std::vector<NetworkSourceDescription> sources)
{
    std::lock_guard hold(networkSourcesLock);
    networkSources = std::move(sources);
}

std::vector<std::shared_ptr<DeviceMoniker>> NetworkSourceDevices()
{
    std::lock_guard hold(networkSourcesLock);
    std::vector<std::shared_ptr<DeviceMoniker>> devices;
    for (const NetworkSourceDescription& source : networkSources)
        devices.push_back(std::make_shared<NetworkMoniker>(source));
    return devices;
}

SourceProbe ProbeNetworkSource(const std::string& url, FrameSize size, const std::atomic<bool>& stop, int limitMs)
{
    SourceProbe probe;
    const auto deadline = Clock::now() + std::chrono::milliseconds(limitMs);
    SourceDecoder decoder(stop);
    probe.failure = decoder.Open(url, size, limitMs);
    if (!probe.failure.empty())
        return probe;
    probe.video = decoder.HasVideo();
    probe.sound = decoder.HasSound();
    probe.description = decoder.Description();
    DecodedSinks sinks;
    sinks.picture = [&](const uint8_t* picture, double) {
        if (probe.picture.empty())
            probe.picture.assign(picture, picture + static_cast<size_t>(size.width) * size.height * 3);
    };
    sinks.sound = [](const int16_t*, size_t, double) {};
    // The whole look, opening included, keeps within the limit.
    while (probe.video && probe.picture.empty() && !stop) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            break;
        if (const int result = decoder.ReadOne(sinks, static_cast<int>(left)); result < 0) {
            probe.failure = "no picture came: " + decoder.ErrorText(result);
            return probe;
        }
    }
    if (probe.video && probe.picture.empty())
        probe.failure = "no picture came in time";
    probe.size = size;
    return probe;
}
