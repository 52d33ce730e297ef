#pragma once
// What the handheld's command session stores for the stream, recording and
// monitoring code to read.

#include <atomic>
#include <cstdint>

// The stream-start request's parameters, kept until the next request.
struct StreamRequest {
    int32_t channel;
    int32_t startSeconds;
    int32_t customBitRateKbps;
    uint8_t profile;          // low nibble: quality; high nibble: picture size class
    uint16_t customWidth;
    uint16_t customHeight;
    uint8_t captionsOnVideo;
    uint8_t videoCodec;       // 0 = MPEG-4 part 2, 2 = H.264, other = H.263
    uint8_t audioFormat;
    int8_t videoStream;       // files: -1 = automatic
    int8_t audioStream;
    int8_t subtitleStream;    // files: -1 = none
};

struct SessionState {
    StreamRequest request{};
    std::atomic<int> fileMode{0};
    std::atomic<int> motionDetected{0};
    char mediaFilePath[256] = {};
    char subtitleFilePath[288] = {};
};

extern SessionState gSession;

// The command session, run on its own thread by the listener.
int RunCommandSession();
