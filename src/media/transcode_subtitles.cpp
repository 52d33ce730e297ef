#include "media/transcode_subtitles.h"

#include "encode/stream_buffers.h"
#include "media/subtitles.h"

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

// The fields of an SSA event line before its text.
constexpr int kSsaFieldsBeforeText = 8;

bool IsTimedText(AVCodecID codec)
{
    return codec == AV_CODEC_ID_TEXT || codec == AV_CODEC_ID_MOV_TEXT;
}

bool IsSrt(AVCodecID codec)
{
    return codec == AV_CODEC_ID_SUBRIP || codec == AV_CODEC_ID_SRT;
}

bool IsSsa(AVCodecID codec)
{
    return codec == AV_CODEC_ID_SSA || codec == AV_CODEC_ID_ASS;
}

// "00:01:02,500" for 62.5 s.
std::string SrtTime(double seconds)
{
    const int64_t ms = std::max<int64_t>(0, std::llround(seconds * 1000));
    char text[32];
    std::snprintf(text, sizeof text, "%02" PRId64 ":%02" PRId64 ":%02" PRId64 ",%03" PRId64, ms / 3600000,
                  ms / 60000 % 60, ms / 1000 % 60, ms % 1000);
    return text;
}

// The text of an SSA event line: what follows its eighth comma.
const char* SsaText(const char* event)
{
    const char* at = event;
    for (int field = 0; field < kSsaFieldsBeforeText && at; ++field) {
        at = std::strchr(at, ',');
        if (at)
            ++at;
    }
    return at ? at : event;
}

void Queue(const std::string& text, bool timePrefix)
{
    AppendSubtitle(text, timePrefix);
}

// A timed-text track fills its gaps with samples of empty text: a 16-bit
// text length of 0.
bool IsEmptyTimedText(AVCodecID codec, const AVPacket* packet)
{
    return codec == AV_CODEC_ID_MOV_TEXT && packet->size >= 2 && packet->data[0] == 0 && packet->data[1] == 0;
}

} // namespace

int32_t SubtitleKindOf(AVCodecID codec)
{
    if (IsSrt(codec))
        return kSubtitleKindSrt;
    if (IsTimedText(codec))
        return kSubtitleKindTimedText;
    return IsSsa(codec) ? kSubtitleKindSsa : kSubtitleKindOther;
}

bool SubtitleFeed::OpenEmbedded(const AVStream* stream, const FileTimeline& timeline)
{
    timeline_ = timeline;
    codec_ = stream->codecpar->codec_id;
    if (IsSrt(codec_) || IsTimedText(codec_) || IsSsa(codec_))
        return true;
    decoder_ = OpenDecoder(stream, 1);
    return decoder_ != nullptr;
}

void SubtitleFeed::FromPacket(const AVPacket* packet)
{
    if (packet->size <= 0 || IsEmptyTimedText(codec_, packet))
        return;
    if (decoder_) {
        QueueDecoded(packet);
    } else if (IsSrt(codec_)) {
        QueueSrt(packet);
    } else {
        // Timed text and SSA lines go as they are; timed text carries the
        // video time it belongs to.
        AppendSubtitle({reinterpret_cast<const char*>(packet->data), static_cast<size_t>(std::max(packet->size, 0))},
                       IsTimedText(codec_));
    }
}

// An embedded SRT entry looks like one of a loaded file: its timing line,
// then its text.
void SubtitleFeed::QueueSrt(const AVPacket* packet)
{
    if (packet->pts == AV_NOPTS_VALUE)
        return;
    const double start = timeline_.Seconds(packet->pts);
    const double end = start + packet->duration * av_q2d(timeline_.timeBase);
    Queue(SrtTime(start) + " --> " + SrtTime(end) + "\n" +
              std::string(reinterpret_cast<const char*>(packet->data), static_cast<size_t>(packet->size)),
          false);
}

void SubtitleFeed::QueueDecoded(const AVPacket* packet)
{
    AVSubtitle subtitle{};
    int got = 0;
    if (avcodec_decode_subtitle2(decoder_.get(), &subtitle, &got, const_cast<AVPacket*>(packet)) < 0 || !got)
        return;
    std::string text;
    for (unsigned i = 0; i < subtitle.num_rects; ++i) {
        const AVSubtitleRect* rect = subtitle.rects[i];
        const char* line = rect->type == SUBTITLE_ASS && rect->ass ? SsaText(rect->ass) : rect->text;
        if (!line)
            continue;
        if (!text.empty())
            text += '\n';
        text += line;
    }
    avsubtitle_free(&subtitle);
    if (!text.empty())
        Queue(text, false);
}

void SubtitleFeed::FromTable(double videoSeconds)
{
    const int64_t now = std::llround(videoSeconds * 1000);
    for (int32_t i = lastQueued_ + 1; i < gSubtitles.count; ++i) {
        const SubtitleEntry& entry = gSubtitles.entries[i];
        if (entry.startMs <= now && now < entry.endMs) {
            AppendSubtitle({entry.text, strnlen(entry.text, sizeof entry.text)}, false);
            lastQueued_ = i;
            return;
        }
    }
}
