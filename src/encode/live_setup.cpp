#include "encode/live_setup.h"

#include "shared/server_state.h"
#include "encode/live_encoder.h"
#include "encode/pipeline.h"
#include "encode/stream_buffers.h"
#include "shared/live_params.h"
#include "platform/log.h"
#include "platform/messages.h"

#include <cstdlib>
#include <cstring>
#include <string>

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libavutil/parseutils.h>
#include <libswresample/swresample.h>
}

namespace {

constexpr int kVideoStreamId = 0;
constexpr int kAudioStreamId = 1;

// A new stream of the context with an encoder context for codec; nullptr
// after telling the user why.
CodecContextPtr NewStream(AVFormatContext* output, const AVCodec* codec, int id, const char* failure,
                          AVStream*& stream)
{
    stream = avformat_new_stream(output, nullptr);
    CodecContextPtr context(stream ? avcodec_alloc_context3(codec) : nullptr);
    if (!context) {
        ShowFailure(failure);
        return nullptr;
    }
    stream->id = id;
    return context;
}

// A live picture must leave the encoder at once: without B-frames (the one
// field the live set-up clears), without the rate control's look-ahead,
// which would hold 40 pictures, seconds of a live channel, before the first
// one came out, and with the threads sharing each picture instead of each
// taking one, which holds three more.
void KeepNoPicturesBack(AVCodecContext* context)
{
    context->max_b_frames = 0;
    av_opt_set_int(context->priv_data, "rc-lookahead", 0, 0);
    AVDictionary* params = nullptr;
    av_opt_get_dict_val(context->priv_data, "x264-params", 0, &params);
    av_dict_set(&params, "sliced-threads", "1", 0);
    av_opt_set_dict_val(context->priv_data, "x264-params", params, 0);
    av_dict_free(&params);
}

// A live picture up to capture size takes one core a few milliseconds, far
// inside its frame time. Shared among four threads it costs their wake-ups
// on every picture, two fifths of a live H.264 stream's CPU, and four slices
// that compress worse. Larger pictures keep the four threads to stay in
// real time.
int LiveVideoThreads(int width, int height)
{
    constexpr int kOneThreadPixels = 640 * 480;
    return width * height <= kOneThreadPixels ? 1 : 4;
}

void ConfigureLiveVideo(AVCodecContext* context, const AVCodec* codec, int bitRate, int width, int height,
                        AVRational rate)
{
    ConfigureVideoEncoder(context, codec, bitRate, width, height, rate);
    context->thread_count = LiveVideoThreads(width, height);
    if (codec->id == AV_CODEC_ID_H264)
        KeepNoPicturesBack(context);
}

CodecContextPtr AddVideoStream(AVFormatContext* output, const AVCodec* codec, int bitRate, int width, int height,
                               int frameRate)
{
    AVStream* stream = nullptr;
    CodecContextPtr context = NewStream(output, codec, kVideoStreamId, "Could not allocate video stream.", stream);
    if (!context)
        return nullptr;
    AVRational rate;
    if (av_parse_video_rate(&rate, std::to_string(frameRate).c_str()) < 0) {
        ShowFailure("Incorrect frame rate.");
        return nullptr;
    }
    ConfigureLiveVideo(context.get(), codec, bitRate, width, height, rate);
    if (output->oformat->flags & AVFMT_GLOBALHEADER && codec->id != AV_CODEC_ID_WMV2)
        context->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    stream->time_base = context->time_base;
    return context;
}

CodecContextPtr AddAudioStream(AVFormatContext* output, const AVCodec* codec, int bitRate, int sampleRate, bool stereo)
{
    AVStream* stream = nullptr;
    CodecContextPtr context = NewStream(output, codec, kAudioStreamId, "Could not allocate audio stream.", stream);
    if (!context)
        return nullptr;
    ConfigureAudioEncoder(context.get(), codec, bitRate, sampleRate, stereo);
    stream->time_base = context->time_base;
    return context;
}

// Opens the encoder of the stream just added, and gives the stream the
// parameters a container writes into its header. A context that does not
// open is freed, so that closing skips it.
int OpenCodec(AVFormatContext* output, CodecContextPtr& context, const char* failure)
{
    const std::string name = context->codec->name;
    if (const int opened = avcodec_open2(context.get(), nullptr, nullptr); opened < 0) {
        Log("The " + name + " encoder did not open at " + std::to_string(context->bit_rate / 1000) +
            " kbit/s: " + FfmpegError(opened));
        context.reset();
        return ShowFailure(failure);
    }
    AVStream* stream = output->streams[output->nb_streams - 1];
    if (const int copied = avcodec_parameters_from_context(stream->codecpar, context.get()); copied < 0) {
        Log("The " + name + " encoder's parameters could not be given to its stream: " + FfmpegError(copied));
        return -1;
    }
    return 0;
}

int PrepareAudioConversion(EncoderBranch& branch)
{
    AVCodecContext* audio = branch.audio.get();
    branch.audioFrame.reset(av_frame_alloc());
    AVFrame* frame = branch.audioFrame.get();
    if (!frame)
        return -1;
    frame->format = audio->sample_fmt;
    frame->nb_samples = branch.audioFrameSize;
    frame->sample_rate = audio->sample_rate;
    av_channel_layout_copy(&frame->ch_layout, &audio->ch_layout);
    if (const int made = av_frame_get_buffer(frame, 0); made < 0) {
        Log("No " + std::string(audio->codec->name) + " sound frame could be made: " + FfmpegError(made));
        return -1;
    }
    SwrContext* resampler = nullptr;
    int made = swr_alloc_set_opts2(&resampler, &audio->ch_layout, audio->sample_fmt, audio->sample_rate,
                                   &audio->ch_layout, AV_SAMPLE_FMT_S16, audio->sample_rate, 0, nullptr);
    branch.resampler.reset(resampler);
    if (made >= 0)
        made = swr_init(resampler);
    if (made < 0) {
        Log("The sound conversion for the " + std::string(audio->codec->name) + " encoder could not be set up: " +
            FfmpegError(made));
        return -1;
    }
    return 0;
}

int OpenVideo(LiveEncoder& encoder)
{
    const AVCodec* codec = FindEncoder(VideoEncoderName(gLiveParams.videoCodec), AVMEDIA_TYPE_VIDEO);
    if (!codec)
        return ShowFailure("Unknown video codec.");
    if (codec->id == AV_CODEC_ID_H263)
        FitH263Size(gLiveEncoder.outputWidth, gLiveEncoder.outputHeight);
    return OpenVideoBranch(encoder.branch, codec, gLiveParams.videoBitRate, gLiveEncoder.outputWidth, gLiveEncoder.outputHeight,
                           gLiveParams.frameRate);
}

int OpenAudio(LiveEncoder& encoder)
{
    const AVCodec* codec = FindEncoder("libmp3lame", AVMEDIA_TYPE_AUDIO);
    if (!codec)
        return ShowFailure("Unknown audio codec.");
    if (OpenAudioBranch(encoder.branch, codec, gLiveParams.audioBitRate, gLiveParams.audioSampleRate,
                        gLiveParams.stereo) != 0)
        return -1;
    encoder.audioOutput.reset(static_cast<uint8_t*>(av_mallocz(kAudioOutputSize)));
    return encoder.audioOutput ? 0 : ShowFailure("Could not allocate output audio buffer.");
}

} // namespace

FramePtr AllocPicture(AVPixelFormat format, int width, int height)
{
    FramePtr picture(av_frame_alloc());
    if (!picture)
        return nullptr;
    picture->format = format;
    picture->width = width;
    picture->height = height;
    if (const int made = av_frame_get_buffer(picture.get(), 0); made < 0) {
        Log("No " + std::to_string(width) + "x" + std::to_string(height) + " picture could be made: " +
            FfmpegError(made));
        return nullptr;
    }
    for (int plane = 0; plane < AV_NUM_DATA_POINTERS && picture->buf[plane]; ++plane)
        std::memset(picture->buf[plane]->data, 0, picture->buf[plane]->size);
    return picture;
}

const char* VideoEncoderName(uint8_t selector)
{
    return selector == 0 ? "mpeg4" : selector == 2 ? "libx264" : "h263";
}

void FitH263Size(int& width, int& height)
{
    static const int kSizes[][2] = {{1408, 1152}, {704, 576}, {352, 288}, {176, 144}, {128, 96}};
    for (const auto& size : kSizes) {
        if (size[0] <= width && size[1] <= height) {
            width = size[0];
            height = size[1];
            return;
        }
    }
    width = 128;
    height = 96;
}

void AdoptCaptureFormat(const CaptureFormat& format)
{
    if (format.frameRate > 0)
        gLiveParams.frameRate = gRecordingParams.profile.frameRate = format.frameRate;
    gLiveParams.stereo = gRecordingParams.profile.stereo = format.stereo ? 1 : 0;
    gLiveParams.audioSampleRate = gRecordingParams.profile.audioSampleRate = format.audioSampleRate;
    gLiveParams.audioSampleBits = gRecordingParams.profile.audioSampleBits = format.audioSampleBits;
}

void ChooseLiveParameters(uint8_t profile, int32_t customKbps, uint16_t customWidth, uint16_t customHeight,
                          bool hasVideo)
{
    const int level = profile & 0x0F;
    const int sizeLevel = static_cast<int8_t>(profile) >> 4;
    switch (sizeLevel) {
    case 0: gLiveEncoder.outputWidth = 200; gLiveEncoder.outputHeight = 200; break;
    case 1: gLiveEncoder.outputWidth = 320; gLiveEncoder.outputHeight = 240; break;
    case 2: gLiveEncoder.outputWidth = 1024; gLiveEncoder.outputHeight = 768; break;
    case 3: gLiveEncoder.outputWidth = 480; gLiveEncoder.outputHeight = 320; break;
    case kSizeLevelCustom: gLiveEncoder.outputWidth = customWidth; gLiveEncoder.outputHeight = customHeight; break;
    default: break;
    }
    if (!hasVideo) {
        gLiveParams.frameRate = 15;
        gLiveParams.audioBitRate = level == 0 ? 64000 : level == 1 ? 128000 : 192000;
        return;
    }
    const bool large = sizeLevel == 2;
    gLiveParams.frameRate = level == 0 ? 15 : 24;
    switch (level) {
    case 0:
        gLiveParams.videoBitRate = large ? 200000 : 100000;
        gLiveParams.audioBitRate = 32000;
        break;
    case 1:
        gLiveParams.videoBitRate = large ? 300000 : 200000;
        gLiveParams.audioBitRate = 64000;
        break;
    case 2:
        gLiveParams.videoBitRate = large ? 1500000 : 300000;
        gLiveParams.audioBitRate = large ? 128000 : 64000;
        break;
    default:
        gLiveParams.videoBitRate = customKbps * 1000;
        gLiveParams.audioBitRate = customKbps <= 600 ? 64000 : 128000;
    }
}

const AVCodec* FindEncoder(const char* name, AVMediaType type)
{
    const AVCodec* codec = avcodec_find_encoder_by_name(name);
    return codec && codec->type == type ? codec : nullptr;
}

int OpenVideoBranch(EncoderBranch& branch, const AVCodec* codec, int bitRate, int width, int height, int frameRate)
{
    AVFormatContext* output = branch.output.get();
    branch.video = AddVideoStream(output, codec, bitRate, width, height, frameRate);
    if (!branch.video || OpenCodec(output, branch.video, "Could not open the video codec.") != 0)
        return -1;
    branch.picture = AllocPicture(AV_PIX_FMT_YUV420P, width, height);
    if (!branch.picture)
        return ShowFailure("Could not allocate picture.");
    return branch.converter.Prepare(gCapture.format.width, gCapture.format.height, width, height)
               ? 0
               : ShowFailure("Could not initialize the video scaler.");
}

int OpenAudioBranch(EncoderBranch& branch, const AVCodec* codec, int bitRate, int sampleRate, bool stereo)
{
    AVFormatContext* output = branch.output.get();
    branch.audio = AddAudioStream(output, codec, bitRate, sampleRate, stereo);
    if (!branch.audio || OpenCodec(output, branch.audio, "Could not open the audio codec.") != 0)
        return -1;
    const int channels = branch.audio->ch_layout.nb_channels;
    branch.audioFrameSize = branch.audio->frame_size > 1 ? branch.audio->frame_size : kAudioOutputSize / channels;
    branch.audioSamplesEncoded = 0;
    return PrepareAudioConversion(branch);
}

void CloseBranchEncoders(EncoderBranch& branch)
{
    branch.video.reset();
    branch.picture.reset();
    branch.converter.Release();
    branch.audio.reset();
    branch.audioFrame.reset();
    branch.resampler.reset();
    branch.videoPacket.reset();
    branch.audioPacket.reset();
}

int OpenLiveEncoder(bool hasVideo, bool hasAudio)
{
    LiveEncoder& encoder = gLiveEncoder;
    encoder.linkVideoBitRate = 0;
    encoder.linkHalfPictures = false;
    encoder.videoBitRate = gLiveParams.videoBitRate;
    encoder.fillerAllowance.Restart(kVideoChunk);
    if (OpenOutputContext(encoder.branch, {}) != 0)
        return -1;
    if (hasVideo && OpenVideo(encoder) != 0)
        return -1;
    if (hasAudio && OpenAudio(encoder) != 0)
        return -1;
    return 0;
}

int OpenOutputContext(EncoderBranch& branch, const std::string& path)
{
    AVFormatContext* output = nullptr;
    if (const int made = avformat_alloc_output_context2(&output, nullptr, nullptr, "out.avi"); made < 0) {
        Log("No AVI output could be made, MPEG-PS is tried: " + FfmpegError(made));
        if (const int fallback = avformat_alloc_output_context2(&output, nullptr, "mpeg", nullptr); fallback < 0) {
            Log("No MPEG-PS output could be made either: " + FfmpegError(fallback));
            return ShowFailure("Could not find suitable output format.");
        }
    }
    branch.output.reset(output);
    branch.videoPacket.reset(av_packet_alloc());
    branch.audioPacket.reset(av_packet_alloc());
    if (!branch.videoPacket || !branch.audioPacket)
        return ShowFailure("Out of memory!");
    if (!path.empty()) {
        av_freep(&output->url);
        output->url = av_strdup(path.c_str());
        if (!output->url)
            return ShowFailure("Out of memory!");
    }
    return 0;
}

int ReopenLiveVideo(int bitRate)
{
    EncoderBranch& branch = gLiveEncoder.branch;
    const AVCodecContext* old = branch.video.get();
    CodecContextPtr context(avcodec_alloc_context3(old->codec));
    if (!context)
        return -1;
    ConfigureLiveVideo(context.get(), old->codec, bitRate, old->width, old->height, old->framerate);
    context->flags |= old->flags & AV_CODEC_FLAG_GLOBAL_HEADER;
    if (const int opened = avcodec_open2(context.get(), nullptr, nullptr); opened < 0) {
        Log("The live " + std::string(old->codec->name) + " encoder did not open at " + std::to_string(bitRate / 1000) +
            " kbit/s: " + FfmpegError(opened));
        return -1;
    }
    branch.video = std::move(context);
    gLiveEncoder.videoBitRate = bitRate;
    return 0;
}

void CloseLiveEncoder()
{
    LiveEncoder& encoder = gLiveEncoder;
    CloseBranchEncoders(encoder.branch);
    encoder.audioOutput.reset();
    encoder.branch.output.reset();
}

void ResetVideoPacing()
{
    gLiveEncoder.framesEncoded = 0;
    gLiveEncoder.startOffset = 0;
    gLiveEncoder.firstVideoCall = true;
    gLiveEncoder.branch.audioSamplesEncoded = 0;
}

void SetH264Options(AVCodecContext* context)
{
    av_opt_set_int(context->priv_data, "coder", 0, 0);
    av_opt_set_int(context->priv_data, "trellis", 1, 0);
    av_opt_set(context->priv_data, "x264-params", "subme=6:mixed-refs=1", 0);
    context->i_quant_factor = 0.71f;
    context->qmin = 10;
    context->qmax = 51;
    context->refs = 3;
    context->flags |= AV_CODEC_FLAG_LOOP_FILTER;
}

void ConfigureVideoEncoder(AVCodecContext* context, const AVCodec* codec, int bitRate, int width, int height,
                           AVRational rate)
{
    context->bit_rate = bitRate;
    context->bit_rate_tolerance = 4000000;
    context->width = width;
    context->height = height;
    context->framerate = rate;
    context->time_base = {rate.den, rate.num};
    context->gop_size = 60;
    context->pix_fmt = AV_PIX_FMT_YUV420P;
    context->thread_count = codec->id == AV_CODEC_ID_WMV2 ? 1 : 4;
    if (codec->id == AV_CODEC_ID_H264)
        SetH264Options(context);
}

void ConfigureAudioEncoder(AVCodecContext* context, const AVCodec* codec, int bitRate, int sampleRate, bool stereo)
{
    // The encoder's first planar format; the interleaved PCM is converted to it.
    context->sample_fmt = codec->sample_fmts ? codec->sample_fmts[0] : AV_SAMPLE_FMT_S16;
    context->bit_rate = bitRate;
    context->strict_std_compliance = FF_COMPLIANCE_NORMAL;
    context->thread_count = 1;
    context->sample_rate = sampleRate;
    av_channel_layout_default(&context->ch_layout, stereo ? 2 : 1);
    context->time_base = {1, sampleRate};
}
