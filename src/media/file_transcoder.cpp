#include "media/file_transcoder.h"

#include "encode/live_setup.h"
#include "encode/stream_buffers.h"
#include "media/media_info.h"
#include "media/subtitles.h"
#include "media/transcode_input.h"
#include "media/transcode_output.h"
#include "media/transcode_subtitles.h"
#include "platform/log.h"
#include "platform/sync.h"
#include "shared/live_params.h"
#include "shared/resources.h"
#include "shared/server_state.h"

#include <cstring>
#include <limits>
#include <mutex>

namespace {

constexpr int kOutputSampleRate = 44100;
constexpr int kOutputSampleBits = 16;
constexpr int kPollMs = 100;
// Above this the sender is far behind: the transcoder waits for it.
constexpr int32_t kThrottleFullness = 11182080;
constexpr uint8_t kNoStream = 0xFF;
constexpr uint8_t kSelectorMpeg4 = 0;
constexpr uint8_t kSelectorH264 = 2;

bool RingsThrottled()
{
    std::lock_guard hold(gStream.lock);
    return gStream.video.fullness > kThrottleFullness || gStream.audio.fullness > kThrottleFullness;
}

// The input is sent on unchanged only when it already is what the handheld
// asked for: MPEG-4 part 2 or H.264 in stream 0 at exactly the requested
// rate and size, and MP3 at 44,100 Hz in stream 1.
bool StreamsCanBeCopied(const AVFormatContext* format, const ChosenStreams& chosen, uint8_t selector)
{
    if ((selector != kSelectorMpeg4 && selector != kSelectorH264) || format->nb_streams < 2 || chosen.video != 0 ||
        chosen.audio != 1)
        return false;
    const AVStream* video = format->streams[0];
    const AVCodecParameters* audio = format->streams[1]->codecpar;
    const AVRational rate{gLiveParams.frameRate, 1};
    const bool sameRate = av_cmp_q(video->r_frame_rate, rate) == 0 || av_cmp_q(video->avg_frame_rate, rate) == 0;
    return video->codecpar->codec_id == (selector == kSelectorMpeg4 ? AV_CODEC_ID_MPEG4 : AV_CODEC_ID_H264) &&
           sameRate && video->codecpar->width == gLiveEncoder.outputWidth && video->codecpar->height == gLiveEncoder.outputHeight &&
           audio->codec_id == AV_CODEC_ID_MP3 && audio->sample_rate == kOutputSampleRate;
}

// H.263 names no sound encoder: the AVI container's own choice applies.
const AVCodec* AudioEncoderFor(uint8_t selector)
{
    if (selector == kSelectorMpeg4 || selector == kSelectorH264)
        return FindEncoder("libmp3lame", AVMEDIA_TYPE_AUDIO);
    const AVOutputFormat* avi = av_guess_format("avi", nullptr, nullptr);
    return avi ? avcodec_find_encoder(avi->audio_codec) : nullptr;
}

// The encoders, rings and sinks of one transcode, in the order they are
// made and freed.
struct Outputs {
    Outputs(int startSeconds, int frameRate, const std::atomic<int>& cancel)
        : sink(startSeconds, frameRate, kOutputSampleRate), video(sink, cancel), audio(sink)
    {
    }
    RingWriter sink;
    VideoTranscode video;
    AudioTranscode audio;
    SubtitleFeed subtitles;
};

class Transcoder {
public:
    Transcoder(const FileTranscodeJob& job, FileProducer& producer) : job_(job), producer_(producer) {}
    int Run();

private:
    int Refuse(const char* why) const;
    int OpenInput();
    void ChooseParameters() const;
    bool OpenOutputs(Outputs& outputs);
    void Announce() const;
    bool Cancelled() const { return producer_.Cancelled(); }
    bool WaitForConsumer() const;
    bool PastLimit(const AVPacket& packet) const;
    void Dispatch(Outputs& outputs, AVPacket* packet) const;
    void Loop(Outputs& outputs);
    FileTimeline TimelineOf(int stream) const;

    const FileTranscodeJob& job_;
    FileProducer& producer_;
    TranscodeInput input_;
    ChosenStreams chosen_;
    int startSeconds_ = 0;
    bool subtitleFile_ = false;
};

int Transcoder::Refuse(const char* why) const
{
    producer_.ReportOpened(StartResult::Failed("\"" + job_.mediaPath + "\" cannot be streamed: " + why));
    return -1;
}

int Transcoder::OpenInput()
{
    const StreamRequest& request = job_.request;
    if (!input_.Open(job_.mediaPath, producer_.CancelFlag()))
        return Refuse("it is not a media file that can be read.");
    const int32_t durationMs = input_.DurationMs();
    if (request.startSeconds < 0 || (durationMs > 0 && int64_t{request.startSeconds} * 1000 >= durationMs))
        return Refuse("the start position lies beyond its end.");
    startSeconds_ = input_.SeekTo(request.startSeconds);
    gSubtitles.count = 0;
    subtitleFile_ = !job_.subtitlePath.empty() && request.subtitleStream >= 0 &&
                    LoadSubtitleFile(job_.subtitlePath) == 0;
    if (!input_.Choose(request, subtitleFile_, chosen_))
        return Refuse("it has no stream of the number asked for.");
    if (chosen_.video < 0 && chosen_.audio < 0)
        return Refuse("it has neither picture nor sound.");
    return 0;
}

void Transcoder::ChooseParameters() const
{
    const StreamRequest& request = job_.request;
    const bool hasVideo = chosen_.video >= 0;
    ChooseLiveParameters(request.profile, request.customBitRateKbps, request.customWidth, request.customHeight,
                         hasVideo);
    if (hasVideo && request.videoCodec != kSelectorMpeg4 && request.videoCodec != kSelectorH264)
        FitH263Size(gLiveEncoder.outputWidth, gLiveEncoder.outputHeight);
    gLiveParams.videoCodec = hasVideo ? request.videoCodec : kNoStream;
    gLiveParams.audioCodec = chosen_.audio >= 0 ? request.audioFormat : kNoStream;
    gLiveParams.stereo = 1;
    gLiveParams.audioSampleRate = kOutputSampleRate;
    gLiveParams.audioSampleBits = kOutputSampleBits;
    gLiveParams.durationMs = input_.DurationMs();
    const AspectTerms aspect = hasVideo ? input_.Aspect(chosen_.video) : AspectTerms{};
    gLiveParams.aspectWidth = aspect.width;
    gLiveParams.aspectHeight = aspect.height;
}

FileTimeline Transcoder::TimelineOf(int stream) const
{
    const AVFormatContext* format = input_.Format();
    const double containerStart =
        format->start_time == AV_NOPTS_VALUE ? 0 : static_cast<double>(format->start_time) / AV_TIME_BASE;
    return {format->streams[stream]->time_base, containerStart + startSeconds_};
}

bool Transcoder::OpenOutputs(Outputs& outputs)
{
    const uint8_t selector = job_.request.videoCodec;
    const int limit = job_.durationLimitSeconds;
    const int64_t maxFrames = limit > 0 ? int64_t{limit} * gLiveParams.frameRate : std::numeric_limits<int64_t>::max();
    const bool copy = StreamsCanBeCopied(input_.Format(), chosen_, selector);
    if (chosen_.video >= 0) {
        const AVStream* stream = input_.Stream(chosen_.video);
        const VideoSettings settings{FindEncoder(VideoEncoderName(selector), AVMEDIA_TYPE_VIDEO),
                                     gLiveParams.videoBitRate, gLiveEncoder.outputWidth, gLiveEncoder.outputHeight,
                                     gLiveParams.frameRate, maxFrames};
        const bool opened = copy ? outputs.video.OpenCopy(stream, maxFrames)
                                 : settings.codec && outputs.video.OpenEncode(stream, TimelineOf(chosen_.video), settings);
        if (!opened) {
            Refuse("its picture cannot be decoded or encoded.");
            return false;
        }
    }
    if (chosen_.audio >= 0) {
        const AVStream* stream = input_.Stream(chosen_.audio);
        const AudioSettings settings{AudioEncoderFor(selector), gLiveParams.audioBitRate, kOutputSampleRate,
                                     int64_t{limit} * kOutputSampleRate};
        const bool opened = copy ? outputs.audio.OpenCopy(stream)
                                 : settings.codec && outputs.audio.OpenEncode(stream, TimelineOf(chosen_.audio), settings);
        if (!opened) {
            Refuse("its sound cannot be decoded or encoded.");
            return false;
        }
    }
    if (chosen_.subtitle >= 0) {
        const AVStream* stream = input_.Stream(chosen_.subtitle);
        gLiveParams.subtitleKind = SubtitleKindOf(stream->codecpar->codec_id);
        if (!outputs.subtitles.OpenEmbedded(stream, TimelineOf(chosen_.subtitle))) {
            Refuse("its subtitles cannot be decoded.");
            return false;
        }
    }
    return true;
}

void Transcoder::Announce() const
{
    {
        std::lock_guard hold(gStream.lock);
        gStream.video.present = chosen_.video >= 0;
        gStream.audio.present = chosen_.audio >= 0;
    }
    gStream.subtitlesPresent = subtitleFile_ || chosen_.subtitle >= 0;
    (job_.writeToFile ? SetFileEncoding : SetStreaming)(true);
    producer_.ReportOpened(StartResult::Started());
}

// Paused while nobody consumes the stream, throttled while the sender is
// far behind. False once cancelled.
bool Transcoder::WaitForConsumer() const
{
    for (;;) {
        if (Cancelled())
            return false;
        if ((IsStreaming() || IsFileEncoding()) && !RingsThrottled())
            return true;
        Sleep(kPollMs);
    }
}

bool Transcoder::PastLimit(const AVPacket& packet) const
{
    const int64_t timestamp = packet.pts != AV_NOPTS_VALUE ? packet.pts : packet.dts;
    return job_.durationLimitSeconds > 0 && timestamp != AV_NOPTS_VALUE &&
           TimelineOf(packet.stream_index).Seconds(timestamp) >= job_.durationLimitSeconds;
}

void Transcoder::Dispatch(Outputs& outputs, AVPacket* packet) const
{
    if (packet->stream_index == chosen_.video)
        outputs.video.Process(packet);
    else if (packet->stream_index == chosen_.audio)
        outputs.audio.Process(packet);
    else if (packet->stream_index == chosen_.subtitle)
        outputs.subtitles.FromPacket(packet);
    if (subtitleFile_)
        outputs.subtitles.FromTable(outputs.sink.VideoSeconds());
}

void Transcoder::Loop(Outputs& outputs)
{
    PacketPtr packet(av_packet_alloc());
    bool inputEnded = false;
    while (packet && WaitForConsumer()) {
        const int read = av_read_frame(input_.Format(), packet.get());
        if (read == AVERROR(EAGAIN))
            continue;
        if (read < 0) {
            inputEnded = !Cancelled();
            if (inputEnded && read != AVERROR_EOF)
                Log("\"" + job_.mediaPath + "\" could not be read to its end; its stream ends here: " +
                    FfmpegError(read));
            break;
        }
        if (PastLimit(*packet)) {
            inputEnded = true;
            break;
        }
        Dispatch(outputs, packet.get());
        av_packet_unref(packet.get());
    }
    // A cancelled stream ends at once; a finished one first gets what the
    // decoders and encoders still hold.
    if (inputEnded) {
        outputs.video.Flush();
        outputs.audio.Flush();
    }
    MarkEndOfStream();
}

int Transcoder::Run()
{
    gLiveParams.subtitleKind = 0;
    if (OpenInput() != 0)
        return -1;
    ChooseParameters();
    Outputs outputs(startSeconds_, gLiveParams.frameRate, producer_.CancelFlag());
    if (!OpenOutputs(outputs))
        return -1;
    Announce();
    // Until the session (or the Encode File dialog) has its sender running;
    // abandoned before, nothing was produced and nothing ends.
    if (!producer_.WaitUntilLetGo())
        return 0;
    Loop(outputs);
    return 0;
}

std::string PathText(const char* path, size_t size)
{
    return std::string(path, strnlen(path, size));
}

} // namespace

int TranscodeFile(const FileTranscodeJob& job, FileProducer& producer)
{
    return Transcoder(job, producer).Run();
}

FileProducer::Body FileTranscoderFor(const StreamRequest& request)
{
    FileTranscodeJob job;
    job.request = request;
    job.mediaPath = PathText(gMediaSelection.mediaFilePath, sizeof gMediaSelection.mediaFilePath);
    job.subtitlePath = PathText(gMediaSelection.subtitleFilePath, sizeof gMediaSelection.subtitleFilePath);
    return [job](FileProducer& producer) { TranscodeFile(job, producer); };
}
