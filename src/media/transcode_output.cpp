#include "media/transcode_output.h"

#include "encode/live_encoder.h"
#include "encode/live_setup.h"
#include "encode/stream_buffers.h"
#include "platform/messages.h"
#include "shared/resources.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>

extern "C" {
#include <libavutil/opt.h>
}

namespace {

// At transcoding speed a refresh per packet would flood the window thread.
constexpr auto kRefreshInterval = std::chrono::milliseconds(100);
// The tool's constant-rate rule: a picture this many frames early is
// dropped, this many late is repeated.
constexpr double kPacingSlack = 1.1;
constexpr int kMp3FrameSamples = 1152;
constexpr double kOutputAspect = 1.333;

bool Fits(const StreamRing& ring, int size)
{
    return size >= 0 && int64_t{ring.fullness} + size <= kRingSize;
}

// Whether an encoder takes a sample format, so that resampling need not
// convert it as well.
bool Accepts(const AVCodec* codec, AVSampleFormat format)
{
    for (const AVSampleFormat* accepted = codec->sample_fmts; accepted && *accepted != AV_SAMPLE_FMT_NONE; ++accepted)
        if (*accepted == format)
            return true;
    return false;
}

} // namespace

CodecContextPtr OpenDecoder(const AVStream* stream, int threads)
{
    const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
    if (!codec)
        return {};
    CodecContextPtr decoder(avcodec_alloc_context3(codec));
    if (!decoder || avcodec_parameters_to_context(decoder.get(), stream->codecpar) < 0)
        return {};
    decoder->pkt_timebase = stream->time_base;
    decoder->thread_count = threads;
    if (avcodec_open2(decoder.get(), codec, nullptr) < 0)
        return {};
    return decoder;
}

RingWriter::RingWriter(int startSeconds, int frameRate, int sampleRate)
    : startSeconds_(startSeconds), frameRate_(frameRate), sampleRate_(sampleRate), videoSeconds_(startSeconds)
{
}

void RingWriter::Video(const uint8_t* bytes, int size)
{
    videoSeconds_ = startSeconds_ + static_cast<double>(videoPackets_++) / frameRate_;
    CountStreamedPicture();
    {
        std::lock_guard hold(gStream.lock);
        gStream.video.lastTime = videoSeconds_;
        if (Fits(gStream.video, size))
            AppendVideo(bytes, size);
    }
    Refresh();
}

void RingWriter::Audio(const uint8_t* bytes, int size, int samples)
{
    audioSamples_ += samples;
    {
        std::lock_guard hold(gStream.lock);
        gStream.audio.lastTime = startSeconds_ + static_cast<double>(audioSamples_) / sampleRate_;
        if (Fits(gStream.audio, size))
            AppendAudio(bytes, size);
    }
    Refresh();
}

void RingWriter::Refresh()
{
    const auto now = std::chrono::steady_clock::now();
    if (now - lastRefresh_ < kRefreshInterval)
        return;
    lastRefresh_ = now;
    PostAppMessage(MessageTarget::View, kMsgRefresh);
}

bool VideoTranscode::OpenCopy(const AVStream* input, int64_t maxFrames)
{
    maxFrames_ = maxFrames;
    encoded_.reset(av_packet_alloc());
    if (!encoded_)
        return false;
    const AVCodecParameters* parameters = input->codecpar;
    if (parameters->codec_id == AV_CODEC_ID_H264) {
        // A container keeps H.264 with length prefixes; the handheld reads start codes.
        const AVBitStreamFilter* filter = av_bsf_get_by_name("h264_mp4toannexb");
        AVBSFContext* context = nullptr;
        if (!filter || av_bsf_alloc(filter, &context) < 0)
            return false;
        startCodes_.reset(context);
        if (avcodec_parameters_copy(context->par_in, parameters) < 0)
            return false;
        context->time_base_in = input->time_base;
        return av_bsf_init(context) >= 0;
    }
    // A container may keep the MPEG-4 stream header apart from the
    // packets; the raw stream needs it in front of the first picture.
    if (parameters->extradata_size > 0)
        firstPacketHeader_.assign(parameters->extradata, parameters->extradata + parameters->extradata_size);
    return true;
}

bool VideoTranscode::OpenEncode(const AVStream* input, const FileTimeline& timeline, const VideoSettings& settings)
{
    timeline_ = timeline;
    frameRate_ = settings.frameRate;
    maxFrames_ = settings.maxFrames;
    decoder_ = OpenDecoder(input, 0);
    encoder_.reset(avcodec_alloc_context3(settings.codec));
    decoded_.reset(av_frame_alloc());
    encoded_.reset(av_packet_alloc());
    if (!decoder_ || !encoder_ || !decoded_ || !encoded_)
        return false;
    ConfigureVideoEncoder(encoder_.get(), settings.codec, settings.bitRate, settings.width, settings.height,
                          {settings.frameRate, 1});
    encoder_->sample_aspect_ratio = av_d2q(kOutputAspect * settings.height / settings.width, 255);
    if (settings.codec->id == AV_CODEC_ID_H264)
        encoder_->me_cmp |= FF_CMP_CHROMA;
    if (avcodec_open2(encoder_.get(), settings.codec, nullptr) < 0)
        return false;
    picture_ = AllocPicture(AV_PIX_FMT_YUV420P, settings.width, settings.height);
    return picture_ != nullptr;
}

void VideoTranscode::Process(AVPacket* packet)
{
    if (nextPicture_ >= maxFrames_)
        return;
    if (!decoder_) {
        Copy(packet);
        return;
    }
    if (avcodec_send_packet(decoder_.get(), packet) >= 0)
        DecodeAll();
}

void VideoTranscode::Flush()
{
    if (!decoder_)
        return;
    avcodec_send_packet(decoder_.get(), nullptr);
    DecodeAll();
    avcodec_send_frame(encoder_.get(), nullptr);
    Drain();
}

void VideoTranscode::Copy(AVPacket* packet)
{
    if (startCodes_) {
        CopyInStartCodes(packet);
        return;
    }
    ++nextPicture_;
    const auto size = static_cast<int>(firstPacketHeader_.size());
    if (size > 0 && (packet->size < size || std::memcmp(packet->data, firstPacketHeader_.data(), size) != 0)) {
        firstPacketHeader_.insert(firstPacketHeader_.end(), packet->data, packet->data + packet->size);
        sink_.Video(firstPacketHeader_.data(), static_cast<int>(firstPacketHeader_.size()));
    } else {
        sink_.Video(packet->data, packet->size);
    }
    firstPacketHeader_.clear();
}

void VideoTranscode::CopyInStartCodes(AVPacket* packet)
{
    if (av_bsf_send_packet(startCodes_.get(), packet) < 0)
        return;
    while (av_bsf_receive_packet(startCodes_.get(), encoded_.get()) == 0) {
        ++nextPicture_;
        sink_.Video(encoded_->data, encoded_->size);
        av_packet_unref(encoded_.get());
    }
}

void VideoTranscode::DecodeAll()
{
    while (avcodec_receive_frame(decoder_.get(), decoded_.get()) == 0) {
        Pace(decoded_.get());
        av_frame_unref(decoded_.get());
    }
}

void VideoTranscode::Pace(const AVFrame* decoded)
{
    const int64_t timestamp = decoded->best_effort_timestamp;
    const double seconds = timestamp == AV_NOPTS_VALUE ? static_cast<double>(nextPicture_) / frameRate_
                                                       : timeline_.Seconds(timestamp);
    // Pictures before the start offset were only decoded to reach it.
    if (seconds < 0)
        return;
    const double lag = seconds * frameRate_ - static_cast<double>(nextPicture_);
    int64_t copies = lag < -kPacingSlack ? 0 : lag > kPacingSlack ? std::llrint(lag) : 1;
    copies = std::min(copies, maxFrames_ - nextPicture_);
    if (copies <= 0 || !Scale(decoded))
        return;
    for (int64_t i = 0; i < copies && !cancel_; ++i) {
        picture_->pts = nextPicture_++;
        if (avcodec_send_frame(encoder_.get(), picture_.get()) >= 0)
            Drain();
    }
}

bool VideoTranscode::Scale(const AVFrame* decoded)
{
    scaler_.reset(sws_getCachedContext(scaler_.release(), decoded->width, decoded->height,
                                       static_cast<AVPixelFormat>(decoded->format), picture_->width,
                                       picture_->height, AV_PIX_FMT_YUV420P, SWS_BICUBIC, nullptr, nullptr,
                                       nullptr));
    // The encoder may still hold the previous picture for look-ahead.
    if (!scaler_ || av_frame_make_writable(picture_.get()) < 0)
        return false;
    return sws_scale(scaler_.get(), decoded->data, decoded->linesize, 0, decoded->height, picture_->data,
                     picture_->linesize) > 0;
}

void VideoTranscode::Drain()
{
    while (avcodec_receive_packet(encoder_.get(), encoded_.get()) == 0) {
        sink_.Video(encoded_->data, encoded_->size);
        av_packet_unref(encoded_.get());
    }
}

bool AudioTranscode::OpenCopy(const AVStream* input)
{
    copyFrameSamples_ = input->codecpar->frame_size > 0 ? input->codecpar->frame_size : kMp3FrameSamples;
    return true;
}

bool AudioTranscode::OpenEncode(const AVStream* input, const FileTimeline& timeline, const AudioSettings& settings)
{
    timeline_ = timeline;
    maxSamples_ = settings.maxSamples;
    decoder_ = OpenDecoder(input, 1);
    encoder_.reset(avcodec_alloc_context3(settings.codec));
    decoded_.reset(av_frame_alloc());
    converted_.reset(av_frame_alloc());
    frame_.reset(av_frame_alloc());
    encoded_.reset(av_packet_alloc());
    if (!decoder_ || !encoder_ || !decoded_ || !converted_ || !frame_ || !encoded_)
        return false;
    ConfigureAudioEncoder(encoder_.get(), settings.codec, settings.bitRate, settings.sampleRate, true);
    if (Accepts(settings.codec, decoder_->sample_fmt))
        encoder_->sample_fmt = decoder_->sample_fmt;
    if (avcodec_open2(encoder_.get(), settings.codec, nullptr) < 0)
        return false;
    const int frameSize = encoder_->frame_size > 0 ? encoder_->frame_size : kMp3FrameSamples;
    frame_->format = encoder_->sample_fmt;
    frame_->nb_samples = frameSize;
    frame_->sample_rate = encoder_->sample_rate;
    if (av_channel_layout_copy(&frame_->ch_layout, &encoder_->ch_layout) < 0 || av_frame_get_buffer(frame_.get(), 0) < 0)
        return false;
    fifo_.reset(av_audio_fifo_alloc(encoder_->sample_fmt, encoder_->ch_layout.nb_channels, 4 * frameSize));
    return fifo_ != nullptr;
}

void AudioTranscode::Process(AVPacket* packet)
{
    if (!decoder_) {
        sink_.Audio(packet->data, packet->size, copyFrameSamples_);
        return;
    }
    if (maxSamples_ > 0 && samplesEncoded_ >= maxSamples_)
        return;
    if (avcodec_send_packet(decoder_.get(), packet) >= 0)
        DecodeAll();
}

void AudioTranscode::Flush()
{
    if (!decoder_)
        return;
    avcodec_send_packet(decoder_.get(), nullptr);
    DecodeAll();
    if (resampler_ && Resample(nullptr))
        EncodeWholeFrames(true);
    avcodec_send_frame(encoder_.get(), nullptr);
    Drain();
}

void AudioTranscode::DecodeAll()
{
    while (avcodec_receive_frame(decoder_.get(), decoded_.get()) == 0) {
        const int64_t timestamp = decoded_->best_effort_timestamp;
        // Sound before the start offset was only decoded to reach it.
        const bool early = timestamp != AV_NOPTS_VALUE && timeline_.Seconds(timestamp) < 0;
        if (!early && Resample(decoded_.get()))
            EncodeWholeFrames(false);
        av_frame_unref(decoded_.get());
    }
}

bool AudioTranscode::PrepareResampler(const AVFrame* decoded)
{
    const int channels = decoded->ch_layout.nb_channels;
    const auto format = static_cast<AVSampleFormat>(decoded->format);
    if (resampler_ && format == resamplerFormat_ && decoded->sample_rate == resamplerRate_ &&
        channels == resamplerChannels_)
        return true;
    AVChannelLayout inputLayout{};
    if (decoded->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
        av_channel_layout_default(&inputLayout, channels);
    else if (av_channel_layout_copy(&inputLayout, &decoded->ch_layout) < 0)
        return false;
    SwrContext* resampler = nullptr;
    const int made = swr_alloc_set_opts2(&resampler, &encoder_->ch_layout, encoder_->sample_fmt,
                                         encoder_->sample_rate, &inputLayout, format, decoded->sample_rate, 0,
                                         nullptr);
    av_channel_layout_uninit(&inputLayout);
    resampler_.reset(resampler);
    if (made < 0 || swr_init(resampler) < 0) {
        resampler_.reset();
        return false;
    }
    resamplerFormat_ = format;
    resamplerRate_ = decoded->sample_rate;
    resamplerChannels_ = channels;
    return true;
}

// Converts a decoded frame (nullptr: what the resampler still holds) into
// the FIFO.
bool AudioTranscode::Resample(const AVFrame* decoded)
{
    if (decoded && !PrepareResampler(decoded))
        return false;
    const int inputSamples = decoded ? decoded->nb_samples : 0;
    const int room = swr_get_out_samples(resampler_.get(), inputSamples);
    if (room <= 0)
        return room == 0;
    if (converted_->nb_samples < room) {
        av_frame_unref(converted_.get());
        converted_->format = encoder_->sample_fmt;
        converted_->nb_samples = room;
        if (av_channel_layout_copy(&converted_->ch_layout, &encoder_->ch_layout) < 0 ||
            av_frame_get_buffer(converted_.get(), 0) < 0)
            return false;
    }
    const int got = swr_convert(resampler_.get(), converted_->extended_data, room,
                                decoded ? const_cast<const uint8_t**>(decoded->extended_data) : nullptr,
                                inputSamples);
    return got >= 0 && av_audio_fifo_write(fifo_.get(), reinterpret_cast<void**>(converted_->extended_data), got) == got;
}

// Takes whole codec frames out of the FIFO and encodes them; at the end the
// rest goes as a shorter last frame.
void AudioTranscode::EncodeWholeFrames(bool last)
{
    const int frameSize = frame_->nb_samples;
    for (;;) {
        int samples = std::min(av_audio_fifo_size(fifo_.get()), frameSize);
        if (samples == 0 || (samples < frameSize && !last))
            return;
        if (maxSamples_ > 0)
            samples = static_cast<int>(std::min<int64_t>(samples, maxSamples_ - samplesEncoded_));
        if (samples <= 0 || av_frame_make_writable(frame_.get()) < 0)
            return;
        av_audio_fifo_read(fifo_.get(), reinterpret_cast<void**>(frame_->data), samples);
        if (samples < frameSize)
            av_samples_set_silence(frame_->data, samples, frameSize - samples, frame_->ch_layout.nb_channels,
                                   static_cast<AVSampleFormat>(frame_->format));
        frame_->pts = samplesEncoded_;
        samplesEncoded_ += samples;
        // A frame is used up whether or not the encoder gives bytes back.
        if (avcodec_send_frame(encoder_.get(), frame_.get()) >= 0)
            Drain();
    }
}

void AudioTranscode::Drain()
{
    while (avcodec_receive_packet(encoder_.get(), encoded_.get()) == 0) {
        const int samples = encoded_->duration > 0 ? static_cast<int>(encoded_->duration) : frame_->nb_samples;
        sink_.Audio(encoded_->data, encoded_->size, samples);
        av_packet_unref(encoded_.get());
    }
}
