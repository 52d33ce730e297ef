// orvandel-tvs remux: a .tvs file's streams in a Matroska file that plays
// on the PC. The raw streams carry no time stamps: the video gets them from
// the header's frame rate, the MP3 from its frames.

#include "commands.h"
#include "platform/av_owned.h"
#include "streams.h"
#include "tvs_reader.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

struct RawInput {
    InputFormatPtr format;
    AVStream* output = nullptr;
    int64_t packets = 0;
    int64_t nextDts = 0;  // in the input stream's time base
    bool ended = false;
};

bool OpenRaw(const std::string& path, const char* formatName, int frameRate, RawInput& input)
{
    const AVInputFormat* format = av_find_input_format(formatName);
    AVDictionary* options = nullptr;
    if (frameRate > 0)
        av_dict_set_int(&options, "framerate", frameRate, 0);
    AVFormatContext* context = nullptr;
    const int opened = avformat_open_input(&context, path.c_str(), format, &options);
    av_dict_free(&options);
    if (opened < 0)
        return false;
    input.format.reset(context);
    return avformat_find_stream_info(context, nullptr) >= 0 && context->nb_streams == 1;
}

bool AddOutputStream(AVFormatContext* output, RawInput& input)
{
    input.output = avformat_new_stream(output, nullptr);
    if (!input.output || avcodec_parameters_copy(input.output->codecpar, input.format->streams[0]->codecpar) < 0)
        return false;
    input.output->codecpar->codec_tag = 0;
    return true;
}

// Reads the next packet of an input, with time stamps where the raw stream
// has none: one frame duration after the last.
bool ReadPacket(RawInput& input, AVPacket* packet)
{
    if (av_read_frame(input.format.get(), packet) < 0) {
        input.ended = true;
        return false;
    }
    const AVStream* stream = input.format->streams[0];
    if (packet->dts == AV_NOPTS_VALUE)
        packet->dts = input.nextDts;
    if (packet->pts == AV_NOPTS_VALUE)
        packet->pts = packet->dts;
    const int64_t duration =
        packet->duration > 0 ? packet->duration : av_rescale_q(1, av_inv_q(stream->avg_frame_rate), stream->time_base);
    input.nextDts = packet->dts + std::max<int64_t>(duration, 1);
    av_packet_rescale_ts(packet, stream->time_base, input.output->time_base);
    packet->stream_index = input.output->index;
    ++input.packets;
    return true;
}

// The input whose next packet comes first, so that the output interleaves.
RawInput* Earliest(std::vector<RawInput*>& inputs)
{
    RawInput* earliest = nullptr;
    for (RawInput* input : inputs) {
        if (input->ended)
            continue;
        const AVRational base = input->format->streams[0]->time_base;
        if (!earliest ||
            av_compare_ts(input->nextDts, base, earliest->nextDts, earliest->format->streams[0]->time_base) < 0)
            earliest = input;
    }
    return earliest;
}

struct CloseOutput {
    void operator()(AVFormatContext* output) const
    {
        if (output->pb)
            avio_closep(&output->pb);
        avformat_free_context(output);
    }
};

std::string Mux(std::vector<RawInput*>& inputs, const std::string& path)
{
    AVFormatContext* context = nullptr;
    if (avformat_alloc_output_context2(&context, nullptr, "matroska", path.c_str()) < 0)
        return "no Matroska writer";
    std::unique_ptr<AVFormatContext, CloseOutput> output(context);
    for (RawInput* input : inputs)
        if (!AddOutputStream(context, *input))
            return "cannot set up the streams";
    if (avio_open(&context->pb, path.c_str(), AVIO_FLAG_WRITE) < 0)
        return "cannot write " + path;
    if (avformat_write_header(context, nullptr) < 0)
        return "cannot write the header of " + path;
    PacketPtr packet(av_packet_alloc());
    while (RawInput* input = Earliest(inputs)) {
        if (!ReadPacket(*input, packet.get()))
            continue;
        if (av_interleaved_write_frame(context, packet.get()) < 0)
            return "cannot write " + path;
    }
    return av_write_trailer(context) < 0 ? "cannot finish " + path : "";
}

std::string Remux(const std::string& path, const std::string& output, const std::string& folder)
{
    StreamPaths streams;
    if (std::string error = ExtractStreams(path, folder + "/stream", streams); !error.empty())
        return error;
    tvs::Reader reader;
    reader.Open(path);
    const LiveEncodingParams& params = reader.Header().params;
    const char* videoFormat = params.videoCodec == 0 ? "m4v" : params.videoCodec == 2 ? "h264" : "h263";
    RawInput video;
    RawInput audio;
    std::vector<RawInput*> inputs;
    if (streams.hasVideo) {
        if (!OpenRaw(streams.video, videoFormat, params.frameRate, video))
            return "the video stream cannot be read";
        inputs.push_back(&video);
    }
    if (streams.hasAudio) {
        if (!OpenRaw(streams.audio, "mp3", 0, audio))
            return "the sound stream cannot be read";
        inputs.push_back(&audio);
    }
    if (inputs.empty())
        return "the file holds no stream";
    return Mux(inputs, output);
}

} // namespace

int RemuxCommand(const std::string& path, const std::string& output)
{
    av_log_set_level(AV_LOG_ERROR);
    std::error_code error;
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path(error) / ("orvandel-tvs-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder, error);
    const std::string problem = Remux(path, output, folder.string());
    std::filesystem::remove_all(folder, error);
    if (!problem.empty()) {
        std::fprintf(stderr, "orvandel-tvs: %s\n", problem.c_str());
        return kExitRefused;
    }
    std::printf("%s\n", output.c_str());
    return kExitDone;
}
