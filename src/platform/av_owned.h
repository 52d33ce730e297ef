#pragma once
// FFmpeg objects held by std::unique_ptr with the library's own free
// functions, so that every early return frees what was allocated.

#include <memory>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavcodec/bsf.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/frame.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

namespace av_owned {

struct FreeOutputContext {
    void operator()(AVFormatContext* format) const { avformat_free_context(format); }
};
struct FreeMemory {
    void operator()(void* memory) const { av_free(memory); }
};
struct CloseInput {
    void operator()(AVFormatContext* format) const { avformat_close_input(&format); }
};
struct FreeCodecContext {
    void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
struct FreeFrame {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
struct FreePacket {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
struct FreeScaler {
    void operator()(SwsContext* scaler) const { sws_freeContext(scaler); }
};
struct FreeResampler {
    void operator()(SwrContext* resampler) const { swr_free(&resampler); }
};
struct FreeAudioFifo {
    void operator()(AVAudioFifo* fifo) const { av_audio_fifo_free(fifo); }
};
struct FreeBitstreamFilter {
    void operator()(AVBSFContext* filter) const { av_bsf_free(&filter); }
};

} // namespace av_owned

using OutputFormatPtr = std::unique_ptr<AVFormatContext, av_owned::FreeOutputContext>;
using AvBytesPtr = std::unique_ptr<uint8_t, av_owned::FreeMemory>;
using InputFormatPtr = std::unique_ptr<AVFormatContext, av_owned::CloseInput>;
using CodecContextPtr = std::unique_ptr<AVCodecContext, av_owned::FreeCodecContext>;
using FramePtr = std::unique_ptr<AVFrame, av_owned::FreeFrame>;
using PacketPtr = std::unique_ptr<AVPacket, av_owned::FreePacket>;
using ScalerPtr = std::unique_ptr<SwsContext, av_owned::FreeScaler>;
using ResamplerPtr = std::unique_ptr<SwrContext, av_owned::FreeResampler>;
using AudioFifoPtr = std::unique_ptr<AVAudioFifo, av_owned::FreeAudioFifo>;
using BitstreamFilterPtr = std::unique_ptr<AVBSFContext, av_owned::FreeBitstreamFilter>;

// FFmpeg's own text for one of its error codes.
inline std::string FfmpegError(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}
