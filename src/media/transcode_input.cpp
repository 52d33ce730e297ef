#include "media/transcode_input.h"

#include "media/files.h"

#include <unistd.h>

namespace {

constexpr int64_t kLongestDurationMs = 356400000;

int CancelRequested(void* cancel)
{
    return static_cast<const std::atomic<int>*>(cancel)->load() != 0;
}

bool IsOfType(const AVFormatContext* format, int index, AVMediaType type)
{
    return index >= 0 && static_cast<unsigned>(index) < format->nb_streams &&
           format->streams[index]->codecpar->codec_type == type;
}

// The first stream of a type; a cover picture of a music file is no video.
int FirstOfType(const AVFormatContext* format, AVMediaType type)
{
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        const AVStream* stream = format->streams[i];
        if (stream->codecpar->codec_type == type && !(stream->disposition & AV_DISPOSITION_ATTACHED_PIC))
            return static_cast<int>(i);
    }
    return -1;
}

// A named stream, or the automatic choice when none is named (-1).
bool ChooseOne(const AVFormatContext* format, int8_t named, AVMediaType type, int& chosen)
{
    if (named < 0) {
        chosen = type == AVMEDIA_TYPE_SUBTITLE ? -1 : FirstOfType(format, type);
        return true;
    }
    chosen = named;
    return IsOfType(format, named, type);
}

} // namespace

bool TranscodeInput::Open(const std::string& path, const std::atomic<int>& cancel)
{
    // FFmpeg would wait forever on a FIFO or a device.
    const int file = OpenRegularFile(path);
    if (file < 0)
        return false;
    ::close(file);
    const AVIOInterruptCB interrupt{&CancelRequested, const_cast<std::atomic<int>*>(&cancel)};
    format_ = OpenMediaFile(path, &interrupt);
    return format_ && avformat_find_stream_info(format_.get(), nullptr) >= 0 && format_->nb_streams > 0;
}

int32_t TranscodeInput::DurationMs() const
{
    const int64_t duration = format_->duration;
    if (duration == AV_NOPTS_VALUE || duration <= 0)
        return 0;
    const int64_t ms = duration / 1000;
    return ms > kLongestDurationMs ? 0 : static_cast<int32_t>(ms);
}

int TranscodeInput::SeekTo(int startSeconds)
{
    if (startSeconds <= 0)
        return 0;
    int64_t target = int64_t{startSeconds} * AV_TIME_BASE;
    if (format_->start_time != AV_NOPTS_VALUE)
        target += format_->start_time;
    return av_seek_frame(format_.get(), -1, target, AVSEEK_FLAG_BACKWARD) < 0 ? 0 : startSeconds;
}

bool TranscodeInput::Choose(const StreamRequest& request, bool subtitleFileLoaded, ChosenStreams& chosen) const
{
    const AVFormatContext* format = format_.get();
    if (!ChooseOne(format, request.videoStream, AVMEDIA_TYPE_VIDEO, chosen.video) ||
        !ChooseOne(format, request.audioStream, AVMEDIA_TYPE_AUDIO, chosen.audio))
        return false;
    if (subtitleFileLoaded) {
        chosen.subtitle = -1;
        return true;
    }
    return ChooseOne(format, request.subtitleStream, AVMEDIA_TYPE_SUBTITLE, chosen.subtitle);
}

AspectTerms TranscodeInput::Aspect(int stream) const
{
    AVStream* video = format_->streams[stream];
    const AVRational sample = av_guess_sample_aspect_ratio(format_.get(), video, nullptr);
    const int64_t width = int64_t{video->codecpar->width} * sample.num;
    const int64_t height = int64_t{video->codecpar->height} * sample.den;
    if (width <= 0 || height <= 0 || width > INT32_MAX || height > INT32_MAX)
        return {};
    return {static_cast<int32_t>(width), static_cast<int32_t>(height)};
}

double TranscodeInput::Seconds(int stream, int64_t timestamp) const
{
    double seconds = static_cast<double>(timestamp) * av_q2d(format_->streams[stream]->time_base);
    if (format_->start_time != AV_NOPTS_VALUE)
        seconds -= static_cast<double>(format_->start_time) / AV_TIME_BASE;
    return seconds;
}
