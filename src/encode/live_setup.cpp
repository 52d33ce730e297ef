#include "encode/live_setup.h"

#include "app/server_state.h"
#include "encode/live_encoder.h"
#include "encode/live_params.h"
#include "platform/messages.h"

#include <cstdlib>
#include <cstring>
#include <string>

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libavutil/parseutils.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

namespace {

constexpr int kVideoStreamId = 0;
constexpr int kAudioStreamId = 1;

int Fail(const char* text)
{
    ShowMessage(text, gState.showMessages, 0);
    return -1;
}

const AVCodec* FindEncoder(const char* name, AVMediaType type)
{
    const AVCodec* codec = avcodec_find_encoder_by_name(name);
    return codec && codec->type == type ? codec : nullptr;
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

AVCodecContext* AddVideoStream(AVFormatContext* output, const AVCodec* codec, int bitRate, int width, int height,
                               int frameRate)
{
    AVStream* stream = avformat_new_stream(output, nullptr);
    AVCodecContext* context = stream ? avcodec_alloc_context3(codec) : nullptr;
    if (!context) {
        Fail("Could not allocate video stream.");
        return nullptr;
    }
    stream->id = kVideoStreamId;
    AVRational rate;
    if (av_parse_video_rate(&rate, std::to_string(frameRate).c_str()) < 0) {
        avcodec_free_context(&context);
        Fail("Incorrect frame rate.");
        return nullptr;
    }
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
    stream->time_base = context->time_base;
    return context;
}

AVCodecContext* AddAudioStream(AVFormatContext* output, const AVCodec* codec, int bitRate, int sampleRate, bool stereo)
{
    AVStream* stream = avformat_new_stream(output, nullptr);
    AVCodecContext* context = stream ? avcodec_alloc_context3(codec) : nullptr;
    if (!context) {
        Fail("Could not allocate audio stream.");
        return nullptr;
    }
    stream->id = kAudioStreamId;
    // The encoder's first planar format; the interleaved PCM is converted to it.
    context->sample_fmt = codec->sample_fmts ? codec->sample_fmts[0] : AV_SAMPLE_FMT_S16;
    context->bit_rate = bitRate;
    context->strict_std_compliance = FF_COMPLIANCE_NORMAL;
    context->thread_count = 1;
    context->sample_rate = sampleRate;
    av_channel_layout_default(&context->ch_layout, stereo ? 2 : 1);
    context->time_base = {1, sampleRate};
    stream->time_base = context->time_base;
    return context;
}

int OpenVideoCodec(AVCodecContext*& context, AVFrame*& picture, SwsContext*& scaler)
{
    if (avcodec_open2(context, nullptr, nullptr) < 0) {
        avcodec_free_context(&context);
        return Fail("Could not open the video codec.");
    }
    picture = AllocPicture(AV_PIX_FMT_YUV420P, context->width, context->height);
    if (!picture)
        return Fail("Could not allocate picture.");
    scaler = sws_getCachedContext(scaler, gCaptureWidth, gCaptureHeight, AV_PIX_FMT_BGR24, context->width,
                                  context->height, AV_PIX_FMT_YUV420P, SWS_BICUBIC, nullptr, nullptr, nullptr);
    return scaler ? 0 : Fail("Could not initialize the video scaler.");
}

int OpenAudioCodec(AVCodecContext*& context, int& frameSize)
{
    if (avcodec_open2(context, nullptr, nullptr) < 0) {
        avcodec_free_context(&context);
        return Fail("Could not open the audio codec.");
    }
    const int channels = context->ch_layout.nb_channels;
    frameSize = context->frame_size > 1 ? context->frame_size : kAudioOutputSize / channels;
    return 0;
}

int PrepareAudioConversion(LiveEncoder& encoder)
{
    AVCodecContext* audio = encoder.audio;
    encoder.audioFrame = av_frame_alloc();
    if (!encoder.audioFrame)
        return -1;
    encoder.audioFrame->format = audio->sample_fmt;
    encoder.audioFrame->nb_samples = encoder.audioFrameSize;
    encoder.audioFrame->sample_rate = audio->sample_rate;
    av_channel_layout_copy(&encoder.audioFrame->ch_layout, &audio->ch_layout);
    if (av_frame_get_buffer(encoder.audioFrame, 0) < 0)
        return -1;
    if (swr_alloc_set_opts2(&encoder.resampler, &audio->ch_layout, audio->sample_fmt, audio->sample_rate,
                            &audio->ch_layout, AV_SAMPLE_FMT_S16, audio->sample_rate, 0, nullptr) < 0)
        return -1;
    return swr_init(encoder.resampler) < 0 ? -1 : 0;
}

int OpenVideo(LiveEncoder& encoder)
{
    const AVCodec* codec = FindEncoder(VideoEncoderName(gLiveParams.videoCodec), AVMEDIA_TYPE_VIDEO);
    if (!codec)
        return Fail("Unknown video codec.");
    if (codec->id == AV_CODEC_ID_H263)
        FitH263Size(gOutputWidth, gOutputHeight);
    encoder.video = AddVideoStream(encoder.output, codec, gLiveParams.videoBitRate, gOutputWidth, gOutputHeight,
                                   gLiveParams.frameRate);
    if (!encoder.video)
        return -1;
    return OpenVideoCodec(encoder.video, encoder.livePicture, encoder.liveScaler);
}

int OpenAudio(LiveEncoder& encoder)
{
    const AVCodec* codec = FindEncoder("libmp3lame", AVMEDIA_TYPE_AUDIO);
    if (!codec)
        return Fail("Unknown audio codec.");
    encoder.audio =
        AddAudioStream(encoder.output, codec, gLiveParams.audioBitRate, gLiveParams.audioSampleRate, gLiveParams.stereo);
    if (!encoder.audio || OpenAudioCodec(encoder.audio, encoder.audioFrameSize) != 0)
        return -1;
    encoder.audioOutput = static_cast<uint8_t*>(av_mallocz(kAudioOutputSize));
    if (!encoder.audioOutput)
        return Fail("Could not allocate output audio buffer.");
    return PrepareAudioConversion(encoder);
}

} // namespace

AVFrame* AllocPicture(AVPixelFormat format, int width, int height)
{
    AVFrame* picture = av_frame_alloc();
    if (!picture)
        return nullptr;
    picture->format = format;
    picture->width = width;
    picture->height = height;
    if (av_frame_get_buffer(picture, 0) < 0) {
        av_frame_free(&picture);
        return nullptr;
    }
    for (int plane = 0; plane < AV_NUM_DATA_POINTERS && picture->buf[plane]; ++plane)
        std::memset(picture->buf[plane]->data, 0, picture->buf[plane]->size);
    return picture;
}

void FreePicture(AVFrame*& picture)
{
    av_frame_free(&picture);
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

void ChooseLiveParameters(uint8_t profile, int32_t customKbps, uint16_t customWidth, uint16_t customHeight,
                          bool hasVideo)
{
    const int level = profile & 0x0F;
    const int sizeLevel = static_cast<int8_t>(profile) >> 4;
    switch (sizeLevel) {
    case 0: gOutputWidth = 200; gOutputHeight = 200; break;
    case 1: gOutputWidth = 320; gOutputHeight = 240; break;
    case 2: gOutputWidth = 1024; gOutputHeight = 768; break;
    case 3: gOutputWidth = 480; gOutputHeight = 320; break;
    case 4: gOutputWidth = customWidth; gOutputHeight = customHeight; break;
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

int OpenLiveEncoder(bool hasVideo, bool hasAudio)
{
    LiveEncoder& encoder = gLiveEncoder;
    if (avformat_alloc_output_context2(&encoder.output, nullptr, nullptr, "out.avi") < 0 &&
        avformat_alloc_output_context2(&encoder.output, nullptr, "mpeg", nullptr) < 0)
        return Fail("Could not find suitable output format.");
    encoder.packet = av_packet_alloc();
    if (!encoder.packet)
        return Fail("Out of memory!");
    if (hasVideo && OpenVideo(encoder) != 0)
        return -1;
    if (hasAudio && OpenAudio(encoder) != 0)
        return -1;
    return 0;
}

void CloseLiveEncoder()
{
    LiveEncoder& encoder = gLiveEncoder;
    avcodec_free_context(&encoder.video);
    FreePicture(encoder.livePicture);
    avcodec_free_context(&encoder.audio);
    av_frame_free(&encoder.audioFrame);
    swr_free(&encoder.resampler);
    av_packet_free(&encoder.packet);
    av_freep(&encoder.audioOutput);
    avformat_free_context(encoder.output);
    encoder.output = nullptr;
}

void ResetVideoPacing()
{
    gLiveEncoder.framesEncoded = 0;
    gLiveEncoder.startOffset = 0;
    gLiveEncoder.firstVideoCall = true;
    gLiveEncoder.audioSamplesEncoded = 0;
}
