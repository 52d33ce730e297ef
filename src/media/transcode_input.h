#pragma once
// The file transcoder's input: the media file opened so that a cancel ends
// every blocking read, placed at the start offset, and the streams chosen
// for the picture, the sound and the subtitles.

#include "platform/av_owned.h"
#include "encode/pipeline.h"

#include <atomic>
#include <cstdint>
#include <string>

struct ChosenStreams {
    int video = -1;
    int audio = -1;
    int subtitle = -1;
};

struct AspectTerms {
    int32_t width = 1;
    int32_t height = 1;
};

class TranscodeInput {
public:
    // False when path is no regular file that FFmpeg can read and probe.
    bool Open(const std::string& path, const std::atomic<int>& cancel);

    // The container's duration in ms: 0 when it gives none or more than 99 hours.
    int32_t DurationMs() const;

    // Seeks backwards to startSeconds; the offset in effect afterwards, 0
    // when the seek failed.
    int SeekTo(int startSeconds);

    // The streams the request names, the missing ones by the first stream of
    // each type. Subtitles come from an embedded stream only when named and
    // no subtitle file was loaded. False when a named stream does not exist
    // or is of another type.
    bool Choose(const StreamRequest& request, bool subtitleFileLoaded, ChosenStreams& chosen) const;

    // The display aspect of a video stream: its size times its sample aspect.
    AspectTerms Aspect(int stream) const;

    // Seconds of a time stamp of a stream, from the file's start.
    double Seconds(int stream, int64_t timestamp) const;

    AVFormatContext* Format() const { return format_.get(); }
    AVStream* Stream(int index) const { return format_->streams[index]; }

private:
    InputFormatPtr format_;
};
