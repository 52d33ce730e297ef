#pragma once
// The elementary streams of a .tvs file, as files.

#include <cstdint>
#include <string>
#include <vector>

struct StreamPaths {
    std::string video;
    std::string audio;
    std::string subtitles;
    bool hasVideo = false;
    bool hasAudio = false;
    bool hasSubtitles = false;
};

// PREFIX with the extension of each stream's format.
StreamPaths StreamPathsFor(const std::string& prefix, uint8_t videoCodec);

// One subtitle record as a line: backslashes and control characters escaped.
std::string EscapedLine(const std::vector<uint8_t>& record);

// Writes the streams of a .tvs file; "" or what went wrong.
std::string ExtractStreams(const std::string& path, const std::string& prefix, StreamPaths& paths);
