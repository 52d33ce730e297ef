#pragma once
// Filler in a codec's own syntax, which decoders skip: what completes a
// live video chunk that a still picture would otherwise take seconds to
// fill.

#include <cstdint>
#include <vector>

// The fewest bytes one piece of filler can be.
constexpr int32_t kSmallestFiller = 8;

// Appends count bytes of filler for the codec, count at least
// kSmallestFiller: an MPEG-4 part 2 stuffing start code with its stuffing,
// or an H.264 filler data NAL unit. False, with nothing appended, for a
// codec that has none (H.263).
// The codec is FFmpeg's AVCodecID.
bool AppendCodecFiller(int codec, int32_t count, std::vector<uint8_t>& out);

// What the stream's bit rate leaves for filler: refilled at the rate, up to
// one chunk so that the first chunk may complete at once, and spent by the
// pictures as well as the filler.
class FillerAllowance {
public:
    void Restart(int32_t chunkBytes);
    // At capture time seconds, after a picture of pictureBytes at bitRate.
    void Update(double seconds, int32_t bitRate, int32_t pictureBytes);
    // Takes count bytes when there is room for them.
    bool Take(int32_t count);

private:
    double bytes_ = 0;
    double capacity_ = 0;
    double updatedAt_ = -1;
};
