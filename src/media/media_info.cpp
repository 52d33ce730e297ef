#include "media/media_info.h"

#include "media/files.h"
#include "media/utf8.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <cstring>
#include <string>
#include <string_view>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

MediaSelection gMediaSelection;

namespace {

// The companion path must leave room for "srt" and its terminator.
constexpr size_t kCompanionPathMax = sizeof gMediaSelection.subtitleFilePath - 1;
constexpr size_t kCompanionDotLimit = kCompanionPathMax - 3;

// FFmpeg itself matches metadata keys without regard to case, and Matroska
// files spell them in capitals.
bool KeyIs(const char* key, const char* id3Name, const char* name)
{
    return strcasecmp(key, id3Name) == 0 || strcasecmp(key, name) == 0;
}

void ReadTags(const AVDictionary* metadata, MediaInfoRecord& record)
{
    const AVDictionaryEntry* tag = nullptr;
    while ((tag = av_dict_get(metadata, "", tag, AV_DICT_IGNORE_SUFFIX))) {
        if (KeyIs(tag->key, "TPE1", "artist"))
            CopyText(record.artist, sizeof record.artist, tag->value);
        else if (KeyIs(tag->key, "TALB", "album"))
            CopyText(record.album, sizeof record.album, tag->value);
        else if (KeyIs(tag->key, "TCON", "genre"))
            CopyText(record.genre, sizeof record.genre, tag->value);
    }
}

void ReadDurationAndBitRate(const AVFormatContext* format, MediaInfoRecord& record)
{
    if (format->duration != AV_NOPTS_VALUE && format->duration >= 0) {
        const int64_t seconds = format->duration / AV_TIME_BASE;
        const int64_t micro = format->duration % AV_TIME_BASE;
        record.hours = static_cast<uint8_t>(seconds / 3600);
        record.minutes = static_cast<uint8_t>(seconds / 60 % 60);
        record.seconds = static_cast<uint8_t>(seconds % 60);
        record.hundredths = static_cast<uint8_t>(micro * 100 / AV_TIME_BASE);
    }
    if (format->bit_rate != 0)
        record.bitRateKbps = static_cast<int32_t>(format->bit_rate / 1000);
}

bool IsSsa(AVCodecID codec)
{
    return codec == AV_CODEC_ID_SSA || codec == AV_CODEC_ID_ASS;
}

// The subtitle codecs the file transcoder can send as text.
bool IsTextSubtitle(AVCodecID codec)
{
    return codec == AV_CODEC_ID_TEXT || codec == AV_CODEC_ID_SUBRIP || codec == AV_CODEC_ID_SRT ||
           codec == AV_CODEC_ID_MOV_TEXT;
}

void Describe(const AVCodecParameters* parameters, StreamDescription& entry)
{
    const CodecContextPtr context(avcodec_alloc_context3(nullptr));
    if (!context)
        return;
    char text[256] = {};
    if (avcodec_parameters_to_context(context.get(), parameters) >= 0)
        avcodec_string(text, sizeof text, context.get(), 0);
    // Handhelds know the SSA family by that name.
    if (char* ass = IsSsa(parameters->codec_id) ? std::strstr(text, "ass") : nullptr)
        std::memcpy(ass, "ssa", 3);
    CopyText(entry.text, sizeof entry.text, text);
}

// Fills the stream entries in the file's order; true when a video stream
// has a frame rate.
bool DescribeStreams(const AVFormatContext* format, MediaInfoRecord& record)
{
    bool hasVideo = false;
    int used = 0;
    for (unsigned i = 0; i < format->nb_streams && used < kMediaInfoStreams; ++i) {
        const AVStream* stream = format->streams[i];
        const AVCodecParameters* parameters = stream->codecpar;
        if (parameters->codec_id == AV_CODEC_ID_NONE)
            continue;
        StreamDescription& entry = record.streams[used++];
        // Picture subtitles keep their place but cannot be described to a
        // handheld that only shows text.
        if (parameters->codec_type == AVMEDIA_TYPE_SUBTITLE && !IsTextSubtitle(parameters->codec_id) &&
            !IsSsa(parameters->codec_id))
            continue;
        Describe(parameters, entry);
        const AVRational rate = stream->avg_frame_rate;
        if (parameters->codec_type == AVMEDIA_TYPE_VIDEO && rate.num != 0 && rate.den != 0) {
            entry.frameRate = static_cast<float>(av_q2d(rate));
            hasVideo = true;
        }
    }
    record.streamCount = static_cast<uint8_t>(used);
    return hasVideo;
}

// The media path with the text after its last dot replaced by "srt"; empty
// when no dot leaves room for the extension in the selection's field.
std::string CompanionPath(const std::string& path)
{
    const std::string_view kept = std::string_view(path).substr(0, kCompanionPathMax);
    const size_t dot = kept.rfind('.');
    if (dot == std::string_view::npos || dot >= kCompanionDotLimit)
        return {};
    return std::string(kept.substr(0, dot + 1)) + "srt";
}

void AddCompanionSubtitles(const std::string& path, MediaInfoRecord& record)
{
    const std::string companion = CompanionPath(path);
    const int file = companion.empty() ? -1 : OpenRegularFile(companion);
    if (file < 0)
        return;
    ::close(file);
    std::memcpy(gMediaSelection.subtitleFilePath, companion.c_str(), companion.size() + 1);
    const std::string text = "Subtitle: srt: " + companion;
    CopyText(record.streams[record.streamCount++].text, sizeof record.streams[0].text, text.c_str());
}

} // namespace

int GetMediaInfo(const std::string& path, MediaInfoRecord& record)
{
    record = {};
    std::memset(gMediaSelection.subtitleFilePath, 0, sizeof gMediaSelection.subtitleFilePath);
    struct stat info;
    if (::stat(path.c_str(), &info) != 0)
        return -1;
    record.fileSize = static_cast<uint32_t>(info.st_size);
    // FFmpeg would wait forever on a FIFO or a terminal.
    if (!S_ISREG(info.st_mode))
        return -1;
    const InputFormatPtr format = OpenMediaFile(path);
    if (!format)
        return -1;
    avformat_find_stream_info(format.get(), nullptr);
    ReadTags(format->metadata, record);
    ReadDurationAndBitRate(format.get(), record);
    if (DescribeStreams(format.get(), record) && record.streamCount < kMediaInfoStreams)
        AddCompanionSubtitles(path, record);
    return 0;
}
