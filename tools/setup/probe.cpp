#include "probe.h"

#include "capture/capture_graph.h"
#include "capture/devices.h"
#include "encode/picture_converter.h"
#include "platform/av_owned.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <thread>
#include <vector>

namespace {

constexpr int kMillisecondsPerSecond = 1000;

// The file the samples go into, written from the grabbers' threads.
class ProbeFile {
public:
    // Empty when open, else what failed.
    std::string Open(const std::string& path, const CaptureFormat& format, bool video, bool sound);
    void AddPicture(double time, const uint8_t* bottomUp);
    void AddSound(const uint8_t* pcm, int length);
    // Flushes and closes; empty when the file is whole.
    std::string Close();

private:
    std::string OpenVideo(const CaptureFormat& format);
    void WritePackets();

    std::mutex lock_;
    OutputFormatPtr output_;
    CodecContextPtr encoder_;
    FramePtr picture_;
    PacketPtr packet_{av_packet_alloc()};
    PictureConverter converter_;
    AVStream* videoStream_ = nullptr;
    AVStream* soundStream_ = nullptr;
    int width_ = 0;
    int height_ = 0;
    int blockAlign_ = 4;
    int64_t soundFrames_ = 0;
    int64_t lastPts_ = -1;
    std::string failure_;
};

std::string ProbeFile::Open(const std::string& path, const CaptureFormat& format, bool video, bool sound)
{
    AVFormatContext* context = nullptr;
    if (const int made = avformat_alloc_output_context2(&context, nullptr, "matroska", path.c_str()); made < 0)
        return "the file's container: " + FfmpegError(made);
    output_.reset(context);
    if (video)
        if (std::string failure = OpenVideo(format); !failure.empty())
            return failure;
    if (sound) {
        soundStream_ = avformat_new_stream(context, nullptr);
        AVCodecParameters* parameters = soundStream_->codecpar;
        parameters->codec_type = AVMEDIA_TYPE_AUDIO;
        parameters->codec_id = AV_CODEC_ID_PCM_S16LE;
        parameters->sample_rate = format.audioSampleRate;
        av_channel_layout_default(&parameters->ch_layout, format.stereo ? 2 : 1);
        blockAlign_ = (format.stereo ? 2 : 1) * 2;
        soundStream_->time_base = {1, format.audioSampleRate};
    }
    if (const int opened = avio_open(&context->pb, path.c_str(), AVIO_FLAG_WRITE); opened < 0)
        return "\"" + path + "\": " + FfmpegError(opened);
    if (const int written = avformat_write_header(context, nullptr); written < 0) {
        avio_closep(&context->pb);
        return "the file's header: " + FfmpegError(written);
    }
    return {};
}

std::string ProbeFile::OpenVideo(const CaptureFormat& format)
{
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_MPEG4);
    encoder_.reset(codec ? avcodec_alloc_context3(codec) : nullptr);
    picture_.reset(av_frame_alloc());
    if (!encoder_ || !picture_)
        return "no MPEG-4 encoder";
    width_ = format.width;
    height_ = format.height;
    encoder_->width = width_;
    encoder_->height = height_;
    encoder_->pix_fmt = AV_PIX_FMT_YUV420P;
    encoder_->time_base = {1, kMillisecondsPerSecond};
    encoder_->bit_rate = 2000000;
    encoder_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    picture_->width = width_;
    picture_->height = height_;
    picture_->format = AV_PIX_FMT_YUV420P;
    if (const int opened = avcodec_open2(encoder_.get(), codec, nullptr); opened < 0)
        return "the MPEG-4 encoder: " + FfmpegError(opened);
    if (av_frame_get_buffer(picture_.get(), 0) < 0 || !converter_.Prepare(width_, height_, width_, height_))
        return "out of memory for the pictures";
    videoStream_ = avformat_new_stream(output_.get(), nullptr);
    avcodec_parameters_from_context(videoStream_->codecpar, encoder_.get());
    videoStream_->time_base = encoder_->time_base;
    return {};
}

void ProbeFile::AddPicture(double time, const uint8_t* bottomUp)
{
    std::lock_guard hold(lock_);
    const int64_t pts = std::llround(time * kMillisecondsPerSecond);
    if (!encoder_ || pts <= lastPts_ || av_frame_make_writable(picture_.get()) < 0)
        return;
    lastPts_ = pts;
    const int stride = width_ * 3;
    if (!converter_.Convert(bottomUp + static_cast<ptrdiff_t>(stride) * (height_ - 1), -stride, picture_.get()))
        return;
    picture_->pts = pts;
    if (const int sent = avcodec_send_frame(encoder_.get(), picture_.get()); sent < 0 && failure_.empty())
        failure_ = "encoding a picture: " + FfmpegError(sent);
    WritePackets();
}

void ProbeFile::WritePackets()
{
    while (avcodec_receive_packet(encoder_.get(), packet_.get()) == 0) {
        av_packet_rescale_ts(packet_.get(), encoder_->time_base, videoStream_->time_base);
        packet_->stream_index = videoStream_->index;
        if (const int written = av_interleaved_write_frame(output_.get(), packet_.get()); written < 0 && failure_.empty())
            failure_ = "writing a picture: " + FfmpegError(written);
    }
}

void ProbeFile::AddSound(const uint8_t* pcm, int length)
{
    std::lock_guard hold(lock_);
    const int frames = length / blockAlign_;
    if (!soundStream_ || frames <= 0 || av_new_packet(packet_.get(), frames * blockAlign_) < 0)
        return;
    std::memcpy(packet_->data, pcm, static_cast<size_t>(frames) * blockAlign_);
    packet_->pts = packet_->dts = soundFrames_;
    packet_->duration = frames;
    packet_->stream_index = soundStream_->index;
    soundFrames_ += frames;
    if (const int written = av_interleaved_write_frame(output_.get(), packet_.get()); written < 0 && failure_.empty())
        failure_ = "writing sound: " + FfmpegError(written);
}

std::string ProbeFile::Close()
{
    std::lock_guard hold(lock_);
    if (encoder_) {
        avcodec_send_frame(encoder_.get(), nullptr);
        WritePackets();
    }
    if (const int written = av_write_trailer(output_.get()); written < 0 && failure_.empty())
        failure_ = "the file's end: " + FfmpegError(written);
    avio_closep(&output_->pb);
    return failure_;
}

// Counts what a grabber gets, and hands it to the file.
class VideoTap : public GrabberCallback {
public:
    explicit VideoTap(ProbeFile& file, int frameBytes) : file_(file), frameBytes_(frameBytes) {}
    int BufferCB(double time, const uint8_t* buffer, int length) override
    {
        if (!buffer || length < frameBytes_) {
            ++short_;
            return 0;
        }
        ++pictures_;
        file_.AddPicture(time, buffer);
        return 0;
    }
    int pictures() const { return pictures_; }
    int shortOnes() const { return short_; }

private:
    ProbeFile& file_;
    const int frameBytes_;
    std::atomic<int> pictures_{0};
    std::atomic<int> short_{0};
};

class SoundTap : public GrabberCallback {
public:
    explicit SoundTap(ProbeFile& file) : file_(file) {}
    int BufferCB(double, const uint8_t* buffer, int length) override
    {
        if (!buffer || length <= 0)
            return 0;
        bytes_ += length;
        const auto* samples = reinterpret_cast<const int16_t*>(buffer);
        int peak = 0;
        for (int i = 0; i < length / 2; ++i)
            peak = std::max(peak, std::abs(static_cast<int>(samples[i])));
        peak_ = std::max(peak_.load(), peak);
        file_.AddSound(buffer, length);
        return 0;
    }
    int64_t bytes() const { return bytes_; }
    int peak() const { return peak_; }

private:
    ProbeFile& file_;
    std::atomic<int64_t> bytes_{0};
    std::atomic<int> peak_{0};
};

void Step(bool worked, const std::string& text, int& failures)
{
    std::printf("%s %s\n", worked ? "works:" : "FAILS:", text.c_str());
    failures += worked ? 0 : 1;
}

} // namespace

int ProbeCaptureDevice(int videoEntry, const std::string& outPath, int seconds)
{
    const std::string name = gDeviceNames.video.at(videoEntry);
    const auto sound = std::find(gDeviceNames.audio.begin() + 1, gDeviceNames.audio.end(), name);
    const int audioSlot = sound == gDeviceNames.audio.end() ? -1 : static_cast<int>(sound - gDeviceNames.audio.begin()) - 1;
    int failures = 0;
    const bool built = SelectCaptureDevicesByIndex(videoEntry - 1, audioSlot, 0) == 0;
    Step(built, "building the capture graph for \"" + name + "\"" + (audioSlot >= 0 ? " with its sound" : ""), failures);
    if (!built)
        return failures;
    const CaptureFormat& format = GraphFormat();
    const bool video = GraphHasVideo();
    const bool hasSound = GraphHasAudio();
    std::printf("       it delivers %dx%d at %d pictures/s%s\n", format.width, format.height, format.frameRate,
                hasSound ? (", sound at " + std::to_string(format.audioSampleRate) + " Hz").c_str() : "");
    ProbeFile file;
    const std::string opened = file.Open(outPath, format, video, hasSound);
    Step(opened.empty(), "opening " + outPath + (opened.empty() ? "" : ": " + opened), failures);
    if (!opened.empty()) {
        TearDownCaptureGraph();
        std::error_code ignored;
        std::filesystem::remove(outPath, ignored);
        return failures;
    }
    VideoTap pictures(file, format.width * format.height * 3);
    SoundTap sounds(file);
    if (gCapture.videoGrabber)
        gCapture.videoGrabber->SetCallback(&pictures);
    if (gCapture.audioGrabber)
        gCapture.audioGrabber->SetCallback(&sounds);
    const bool started = StartCapture() == 0;
    Step(started, "starting the capture", failures);
    if (!started) {
        TearDownCaptureGraph();
        file.Close();
        std::filesystem::remove(outPath);
        return failures;
    }
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    Step(StopCapture() == 0, "stopping the capture", failures);
    if (video)
        Step(pictures.pictures() > 0,
             std::to_string(pictures.pictures()) + " pictures in " + std::to_string(seconds) + " s" +
                 (pictures.shortOnes() ? ", " + std::to_string(pictures.shortOnes()) + " too short" : ""),
             failures);
    if (hasSound)
        Step(sounds.bytes() > 0,
             std::to_string(sounds.bytes()) + " bytes of sound, peak " +
                 (sounds.peak() > 0 ? std::to_string(std::lround(20 * std::log10(sounds.peak() / 32767.0))) + " dB"
                                    : std::string("silent")),
             failures);
    TearDownCaptureGraph();
    const std::string closed = file.Close();
    std::error_code error;
    const auto size = std::filesystem::file_size(outPath, error);
    Step(closed.empty(), outPath + " written (" + std::to_string(error ? 0 : size / 1024) + " KB)" +
                             (closed.empty() ? "" : ": " + closed),
         failures);
    return failures;
}
