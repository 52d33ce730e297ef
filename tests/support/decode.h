#pragma once
// Decodes a raw elementary stream the way a player does: a parser cuts it
// into packets, the FFmpeg decoder counts the pictures and the errors it
// reports.

#include <cstdint>
#include <vector>

extern "C" {
#include <libavcodec/codec_id.h>
}

struct DecodedStream {
    int frames = 0;
    int width = 0;
    int height = 0;
    int errors = 0;   // what the decoder reported as errors
};

// A stream cut off in mid-stream ends with a picture cut short: without
// wholeStream it is not decoded.
DecodedStream DecodeElementaryStream(AVCodecID codecId, const std::vector<uint8_t>& bytes, bool wholeStream = true);
