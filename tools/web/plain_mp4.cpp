#include "plain_mp4.h"

#include "platform/av_owned.h"

namespace web {

namespace {

struct CloseOutput {
    void operator()(AVIOContext* io) const { avio_closep(&io); }
};
using OutputFilePtr = std::unique_ptr<AVIOContext, CloseOutput>;

bool failed(std::string& error, const std::string& what, int code)
{
    error = what + ": " + FfmpegError(code);
    return false;
}

bool copyPackets(AVFormatContext& input, AVFormatContext& output, double seconds, std::string& error)
{
    PacketPtr packet(av_packet_alloc());
    if (!packet) {
        error = "cannot allocate a packet";
        return false;
    }
    int code = 0;
    while ((code = av_read_frame(&input, packet.get())) >= 0) {
        const AVStream& from = *input.streams[packet->stream_index];
        if (seconds > 0 && packet->pts != AV_NOPTS_VALUE && packet->pts * av_q2d(from.time_base) >= seconds) {
            av_packet_unref(packet.get());
            continue;
        }
        av_packet_rescale_ts(packet.get(), from.time_base, output.streams[packet->stream_index]->time_base);
        packet->pos = -1;
        code = av_interleaved_write_frame(&output, packet.get());
        if (code < 0)
            return failed(error, "writing the MP4", code);
    }
    return code == AVERROR_EOF || failed(error, "reading the gathered stream", code);
}

}  // namespace

bool writePlainMp4(const std::string& fragmented, const std::string& target, double seconds, std::string& error)
{
    AVFormatContext* opened = nullptr;
    int code = avformat_open_input(&opened, fragmented.c_str(), nullptr, nullptr);
    if (code < 0)
        return failed(error, "opening the gathered stream", code);
    InputFormatPtr input(opened);
    if ((code = avformat_find_stream_info(input.get(), nullptr)) < 0)
        return failed(error, "reading the gathered stream", code);
    AVFormatContext* made = nullptr;
    if ((code = avformat_alloc_output_context2(&made, nullptr, "mp4", target.c_str())) < 0)
        return failed(error, "creating the MP4 muxer", code);
    OutputFormatPtr output(made);
    for (unsigned i = 0; i < input->nb_streams; ++i) {
        AVStream* stream = avformat_new_stream(output.get(), nullptr);
        if (!stream || (code = avcodec_parameters_copy(stream->codecpar, input->streams[i]->codecpar)) < 0)
            return failed(error, "adding a track", stream ? code : AVERROR(ENOMEM));
        stream->codecpar->codec_tag = 0;
        stream->time_base = input->streams[i]->time_base;
    }
    AVIOContext* file = nullptr;
    if ((code = avio_open(&file, target.c_str(), AVIO_FLAG_WRITE)) < 0)
        return failed(error, "creating " + target, code);
    OutputFilePtr closer(file);
    output->pb = file;
    AVDictionary* options = nullptr;
    av_dict_set(&options, "movflags", "+faststart", 0);
    code = avformat_write_header(output.get(), &options);
    av_dict_free(&options);
    if (code < 0)
        return failed(error, "writing the MP4 header", code);
    if (!copyPackets(*input, *output, seconds, error))
        return false;
    if ((code = av_write_trailer(output.get())) < 0)
        return failed(error, "writing the MP4 index", code);
    return true;
}

}  // namespace web
