#include "support/decode.h"

#include <atomic>
#include <cstdarg>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/log.h>
}

namespace {

// The decoder's error reports, counted while a stream is decoded.
std::atomic<int> decoderErrors{0};

void CountDecoderErrors(void*, int level, const char*, va_list)
{
    if (level <= AV_LOG_ERROR)
        ++decoderErrors;
}

} // namespace

DecodedStream DecodeElementaryStream(AVCodecID codecId, const std::vector<uint8_t>& bytes, bool wholeStream)
{
    DecodedStream result;
    decoderErrors = 0;
    av_log_set_callback(CountDecoderErrors);
    const AVCodec* codec = avcodec_find_decoder(codecId);
    AVCodecContext* context = avcodec_alloc_context3(codec);
    AVCodecParserContext* parser = av_parser_init(codecId);
    avcodec_open2(context, codec, nullptr);
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    auto drain = [&] {
        while (avcodec_receive_frame(context, frame) == 0) {
            ++result.frames;
            result.width = frame->width;
            result.height = frame->height;
        }
    };
    std::vector<uint8_t> padded(bytes);
    padded.resize(bytes.size() + AV_INPUT_BUFFER_PADDING_SIZE, 0);
    const uint8_t* data = padded.data();
    int left = static_cast<int>(bytes.size());
    while (left > 0) {
        int used = av_parser_parse2(parser, context, &packet->data, &packet->size, data, left, AV_NOPTS_VALUE,
                                    AV_NOPTS_VALUE, 0);
        data += used;
        left -= used;
        if (packet->size > 0 && avcodec_send_packet(context, packet) == 0)
            drain();
    }
    if (wholeStream)
        av_parser_parse2(parser, context, &packet->data, &packet->size, nullptr, 0, AV_NOPTS_VALUE, AV_NOPTS_VALUE, 0);
    if (wholeStream && packet->size > 0)
        avcodec_send_packet(context, packet);
    avcodec_send_packet(context, nullptr);
    drain();
    av_frame_free(&frame);
    av_packet_free(&packet);
    av_parser_close(parser);
    avcodec_free_context(&context);
    av_log_set_callback(av_log_default_callback);
    result.errors = decoderErrors;
    return result;
}
