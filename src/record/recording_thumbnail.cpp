#include "record/recording_thumbnail.h"

#include "platform/av_owned.h"
#include "record/recording_repair.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <cstdio>
#include <filesystem>
#include <fstream>

namespace {

constexpr int kWidth = 320;
constexpr int64_t kLatestSeconds = 60;
// MJPEG's quantiser: 2 is best, 31 worst; 4 keeps a small picture sharp.
constexpr int kQuantiser = 4;

struct Decoder {
    InputFormatPtr input;
    CodecContextPtr codec;
    int stream = -1;
};

bool OpenDecoder(const std::string& path, Decoder& decoder, std::string& error)
{
    if (!OpenRecordingInput(path, decoder.input, error))
        return false;
    const AVCodec* codec = nullptr;
    decoder.stream = av_find_best_stream(decoder.input.get(), AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
    if (decoder.stream < 0) {
        error = "it has no pictures";
        return false;
    }
    decoder.codec.reset(avcodec_alloc_context3(codec));
    const int code = !decoder.codec ? AVERROR(ENOMEM)
                                    : avcodec_parameters_to_context(
                                          decoder.codec.get(), decoder.input->streams[decoder.stream]->codecpar);
    const int opened = code < 0 ? code : avcodec_open2(decoder.codec.get(), codec, nullptr);
    if (opened < 0)
        error = FfmpegError(opened);
    return opened >= 0;
}

// The first picture from a third of the way in.
FramePtr PictureFromAThirdIn(Decoder& decoder, std::string& error)
{
    AVFormatContext* input = decoder.input.get();
    const int64_t third = input->duration > 0 ? input->duration / 3 : 0;
    // Seeking back to the key frame before; a file that cannot seek is read
    // from its start.
    av_seek_frame(input, -1, std::min(third, kLatestSeconds * AV_TIME_BASE), AVSEEK_FLAG_BACKWARD);
    PacketPtr packet(av_packet_alloc());
    FramePtr frame(av_frame_alloc());
    if (!packet || !frame) {
        error = "out of memory";
        return nullptr;
    }
    while (av_read_frame(input, packet.get()) >= 0) {
        if (packet->stream_index == decoder.stream)
            avcodec_send_packet(decoder.codec.get(), packet.get());
        av_packet_unref(packet.get());
        if (avcodec_receive_frame(decoder.codec.get(), frame.get()) == 0)
            return frame;
    }
    // At the end, what the decoder still holds.
    avcodec_send_packet(decoder.codec.get(), nullptr);
    const int code = avcodec_receive_frame(decoder.codec.get(), frame.get());
    if (code == 0)
        return frame;
    error = "no picture could be decoded: " + FfmpegError(code);
    return nullptr;
}

// The picture as a JPEG, kWidth wide with its proportions.
bool EncodeJpeg(const AVFrame& picture, std::string& jpeg, std::string& error)
{
    const int height = std::max(2, picture.height * kWidth / std::max(1, picture.width) / 2 * 2);
    const AVCodec* mjpeg = avcodec_find_encoder(AV_CODEC_ID_MJPEG);
    CodecContextPtr encoder(mjpeg ? avcodec_alloc_context3(mjpeg) : nullptr);
    FramePtr scaled(av_frame_alloc());
    PacketPtr packet(av_packet_alloc());
    if (!encoder || !scaled || !packet) {
        error = "no JPEG encoder";
        return false;
    }
    encoder->width = scaled->width = kWidth;
    encoder->height = scaled->height = height;
    encoder->pix_fmt = AV_PIX_FMT_YUVJ420P;
    scaled->format = AV_PIX_FMT_YUVJ420P;
    encoder->time_base = {1, 25};
    encoder->flags |= AV_CODEC_FLAG_QSCALE;
    ScalerPtr scaler(sws_getContext(picture.width, picture.height, static_cast<AVPixelFormat>(picture.format), kWidth,
                                    height, AV_PIX_FMT_YUVJ420P, SWS_BICUBIC, nullptr, nullptr, nullptr));
    int code = !scaler ? AVERROR(EINVAL) : avcodec_open2(encoder.get(), mjpeg, nullptr);
    if (code >= 0)
        code = av_frame_get_buffer(scaled.get(), 0);
    if (code >= 0) {
        sws_scale(scaler.get(), picture.data, picture.linesize, 0, picture.height, scaled->data, scaled->linesize);
        scaled->quality = FF_QP2LAMBDA * kQuantiser;
        code = avcodec_send_frame(encoder.get(), scaled.get());
    }
    if (code >= 0)
        code = avcodec_receive_packet(encoder.get(), packet.get());
    if (code < 0) {
        error = "the picture could not be made: " + FfmpegError(code);
        return false;
    }
    jpeg.assign(reinterpret_cast<const char*>(packet->data), static_cast<size_t>(packet->size));
    return true;
}

} // namespace

std::string ThumbnailPath(const std::string& recordingPath)
{
    return std::filesystem::path(recordingPath).replace_extension(".jpg").string();
}

bool WriteRecordingThumbnail(const std::string& recordingPath, std::string& error)
{
    Decoder decoder;
    if (!OpenDecoder(recordingPath, decoder, error))
        return false;
    const FramePtr picture = PictureFromAThirdIn(decoder, error);
    std::string jpeg;
    if (!picture || !EncodeJpeg(*picture, jpeg, error))
        return false;
    // Written whole under another name first: a list never shows half a picture.
    const std::string path = ThumbnailPath(recordingPath);
    const std::string writing = path + ".part";
    std::ofstream file(writing, std::ios::binary | std::ios::trunc);
    file.write(jpeg.data(), static_cast<std::streamsize>(jpeg.size()));
    file.close();
    std::error_code renamed;
    if (file)
        std::filesystem::rename(writing, path, renamed);
    if (file && !renamed)
        return true;
    error = "it could not be written: " + (renamed ? renamed.message() : std::string(std::strerror(errno)));
    std::remove(writing.c_str());
    return false;
}
