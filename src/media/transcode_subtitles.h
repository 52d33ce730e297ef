#pragma once
// The file transcoder's subtitles: the entries of a loaded subtitle file,
// each queued once while the video time lies inside it, or the packets of
// an embedded subtitle stream.

#include "platform/av_owned.h"
#include "media/transcode_output.h"

#include <cstdint>

// The subtitle kinds the stream header tells the handheld.
constexpr int32_t kSubtitleKindSsa = 0;
constexpr int32_t kSubtitleKindSrt = 1;  // also a loaded subtitle file
constexpr int32_t kSubtitleKindTimedText = 2;
constexpr int32_t kSubtitleKindOther = 3;

int32_t SubtitleKindOf(AVCodecID codec);

class SubtitleFeed {
public:
    // From now on the packets of this stream are queued. False when its
    // codec is neither text nor decodable.
    bool OpenEmbedded(const AVStream* stream, const FileTimeline& timeline);

    void FromPacket(const AVPacket* packet);
    // Queues the first entry after the last one queued that holds the time.
    void FromTable(double videoSeconds);

private:
    void QueueDecoded(const AVPacket* packet);
    void QueueSrt(const AVPacket* packet);

    FileTimeline timeline_{};
    AVCodecID codec_ = AV_CODEC_ID_NONE;
    CodecContextPtr decoder_;
    int32_t lastQueued_ = -1;
};
