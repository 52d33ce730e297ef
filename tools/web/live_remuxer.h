// Turns the server's live elementary streams (H.264 and MP3 in time-stamped
// chunks) into fragmented MP4 that a browser's Media Source Extensions play:
// one initialisation segment, then one fragment per picture. The sound is
// transcoded to AAC, which browsers accept inside MP4 where MP3 is refused.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace web {

using Bytes = std::vector<uint8_t>;

// What the stream header says of the stream.
struct StreamFormat {
    bool video = true;
    bool audio = true;
    int frameRate = 24;
    int sampleRate = 44100;
    bool stereo = true;
    // A file's chunks carry the file's own times, from its start position.
    uint32_t startMs = 0;
};

struct InitSegment {
    Bytes bytes;
    // The MIME codecs parameter, e.g. avc1.42C01E,mp4a.40.2.
    std::string codecs;
    int width = 0;
    int height = 0;
};

struct Fragment {
    Bytes bytes;
    // The fragment's first picture is a key frame: a viewer may start here.
    bool key = false;
    // Where the fragment's picture sits on the viewers' timeline.
    double seconds = 0;
};

struct RemuxOutput {
    std::function<void(InitSegment)> init;
    std::function<void(Fragment)> fragment;
};

class LiveRemuxer {
public:
    // The stream's own times start at 0, as the player's timestamp offset
    // wants them; fragments are told where they sit on the viewers'
    // timeline, which begins this stream at timelineStart seconds.
    LiveRemuxer(const StreamFormat& format, double timelineStart, RemuxOutput output);
    LiveRemuxer(const LiveRemuxer&) = delete;
    LiveRemuxer& operator=(const LiveRemuxer&) = delete;
    ~LiveRemuxer();

    // A chunk of each stream with the server's time stamp of its completion
    // in ms (from the format's startMs on). False once the remuxer has
    // failed; error() says why.
    bool addVideo(uint32_t timeMs, std::span<const uint8_t> bytes);
    bool addAudio(uint32_t timeMs, std::span<const uint8_t> bytes);
    const std::string& error() const;
    // The end of what has been written, on the viewers' timeline.
    double endSeconds() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace web
