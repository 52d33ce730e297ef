#include "encode/chunk_filler.h"

#include <algorithm>

extern "C" {
#include <libavcodec/codec_id.h>
}

namespace {

// ISO/IEC 14496-2: stuffing_start_code, then stuffing bytes, which hold no
// start code.
constexpr uint8_t kMpeg4Stuffing[] = {0x00, 0x00, 0x01, 0xC3};
// ITU-T H.264 7.3.2.7: a filler data NAL unit (type 12), its 0xFF bytes and
// the RBSP trailing bits.
constexpr uint8_t kH264Filler[] = {0x00, 0x00, 0x00, 0x01, 0x0C};
constexpr uint8_t kH264Trailing = 0x80;
constexpr uint8_t kStuffingByte = 0xFF;

} // namespace

bool AppendCodecFiller(int codec, int32_t count, std::vector<uint8_t>& out)
{
    if (count < kSmallestFiller)
        return false;
    const auto size = static_cast<size_t>(count);
    switch (codec) {
    case AV_CODEC_ID_MPEG4:
        out.insert(out.end(), std::begin(kMpeg4Stuffing), std::end(kMpeg4Stuffing));
        out.insert(out.end(), size - sizeof kMpeg4Stuffing, kStuffingByte);
        return true;
    case AV_CODEC_ID_H264:
        out.insert(out.end(), std::begin(kH264Filler), std::end(kH264Filler));
        out.insert(out.end(), size - sizeof kH264Filler - 1, kStuffingByte);
        out.push_back(kH264Trailing);
        return true;
    default:
        return false;
    }
}

void FillerAllowance::Restart(int32_t chunkBytes)
{
    capacity_ = chunkBytes;
    bytes_ = capacity_;
    updatedAt_ = -1;
}

void FillerAllowance::Update(double seconds, int32_t bitRate, int32_t pictureBytes)
{
    if (updatedAt_ >= 0 && seconds > updatedAt_)
        bytes_ = std::min(capacity_, bytes_ + (seconds - updatedAt_) * bitRate / 8.0);
    if (updatedAt_ < 0 || seconds > updatedAt_)
        updatedAt_ = seconds;
    bytes_ -= pictureBytes;
}

bool FillerAllowance::Take(int32_t count)
{
    if (bytes_ < count)
        return false;
    bytes_ -= count;
    return true;
}
