// orvandel-tvs info and extract: a .tvs file's fields and its streams.

#include "commands.h"
#include "platform/owned_file.h"
#include "report.h"
#include "streams.h"
#include "tvs_reader.h"

#include <cstdio>
#include <memory>
#include <string_view>
#include <utility>

namespace {

struct Counts {
    uint64_t video = 0;
    uint64_t audio = 0;
    uint64_t subtitles = 0;
    uint64_t ends = 0;
    bool timed = false;
    uint32_t firstMs = 0;
    uint32_t lastMs = 0;
};

void Count(const tvs::Packet& packet, Counts& counts)
{
    switch (packet.kind) {
    case tvs::PacketKind::Video: ++counts.video; break;
    case tvs::PacketKind::Audio: ++counts.audio; break;
    case tvs::PacketKind::Subtitle: ++counts.subtitles; return;
    case tvs::PacketKind::End: ++counts.ends; break;
    }
    if (!counts.timed)
        counts.firstMs = packet.TimeMs();
    counts.timed = true;
    counts.lastMs = packet.TimeMs();
}

void PrintHeader(const TvsHeader& header)
{
    const LiveEncodingParams& params = header.params;
    std::printf("header_format=%d\nstereo=%u\nvideo_codec=%u\nframe_rate=%u\naudio_codec=%u\n", params.headerFormat,
                params.stereo, params.videoCodec, params.frameRate, params.audioCodec);
    std::printf("video_bitrate=%d\naudio_sample_rate=%d\naudio_bits_per_sample=%d\naudio_bitrate=%d\n",
                params.videoBitRate, params.audioSampleRate, params.audioSampleBits, params.audioBitRate);
    std::printf("last_time_ms=%d\naspect_height=%d\nsubtitle_kind=%d\nindex_offset=%u\nindex_entries=%u\n",
                params.aspectWidth, params.aspectHeight, params.subtitleKind, header.indexOffset, header.indexCount);
}

int Damaged(const tvs::Reader& reader)
{
    std::fprintf(stderr, "orvandel-tvs: %s\n", reader.Error().c_str());
    return kExitRefused;
}

} // namespace

int InfoCommand(const std::string& path)
{
    tvs::Reader reader;
    if (!reader.Open(path))
        return Damaged(reader);
    Counts counts;
    for (tvs::Packet packet; reader.Next(packet);)
        Count(packet, counts);
    if (!reader.Error().empty())
        return Damaged(reader);
    PrintHeader(reader.Header());
    std::printf("video_packets=%llu\naudio_packets=%llu\nsubtitle_records=%llu\nend_packets=%llu\n",
                static_cast<unsigned long long>(counts.video), static_cast<unsigned long long>(counts.audio),
                static_cast<unsigned long long>(counts.subtitles), static_cast<unsigned long long>(counts.ends));
    std::printf("first_time_ms=%u\nduration_ms=%u\n", counts.firstMs, counts.lastMs - counts.firstMs);
    return kExitDone;
}

StreamPaths StreamPathsFor(const std::string& prefix, uint8_t videoCodec)
{
    const char* extension = videoCodec == 0 ? ".m4v" : videoCodec == 2 ? ".h264" : ".h263";
    return {prefix + extension, prefix + ".mp3", prefix + ".subs"};
}

std::string EscapedLine(const std::vector<uint8_t>& record)
{
    // The same lines as the handheld client writes for the records it receives.
    return handheld::escapeText(std::string_view(reinterpret_cast<const char*>(record.data()), record.size())) + '\n';
}

std::string ExtractStreams(const std::string& path, const std::string& prefix, StreamPaths& paths)
{
    tvs::Reader reader;
    if (!reader.Open(path))
        return reader.Error();
    paths = StreamPathsFor(prefix, reader.Header().params.videoCodec);
    FilePtr video;
    FilePtr audio;
    FilePtr subtitles;
    auto write = [](FilePtr& file, const std::string& name, const void* bytes, size_t size) {
        if (!file)
            file.reset(std::fopen(name.c_str(), "wb"));
        return file && std::fwrite(bytes, 1, size, file.get()) == size;
    };
    for (tvs::Packet packet; reader.Next(packet);) {
        bool written;
        if (packet.kind == tvs::PacketKind::Subtitle) {
            const std::string line = EscapedLine(packet.payload);
            written = write(subtitles, paths.subtitles, line.data(), line.size());
        } else if (packet.kind == tvs::PacketKind::Video || (packet.kind == tvs::PacketKind::End && packet.endOfVideo)) {
            written = write(video, paths.video, packet.payload.data(), packet.payload.size());
        } else {
            written = write(audio, paths.audio, packet.payload.data(), packet.payload.size());
        }
        if (!written)
            return "cannot write the streams at " + prefix;
    }
    paths.hasVideo = video != nullptr;
    paths.hasAudio = audio != nullptr;
    paths.hasSubtitles = subtitles != nullptr;
    return reader.Error();
}

int ExtractCommand(const std::string& path, const std::string& prefix)
{
    StreamPaths paths;
    if (const std::string error = ExtractStreams(path, prefix, paths); !error.empty()) {
        std::fprintf(stderr, "orvandel-tvs: %s\n", error.c_str());
        return kExitRefused;
    }
    for (const auto& [present, name] : {std::pair{paths.hasVideo, paths.video}, std::pair{paths.hasAudio, paths.audio},
                                        std::pair{paths.hasSubtitles, paths.subtitles}})
        if (present)
            std::printf("%s\n", name.c_str());
    return kExitDone;
}
