#pragma once
// Turns a picture as a V4L2 device delivers it into the bottom-up B,G,R
// picture the capture callbacks receive.

#include <cstddef>
#include <cstdint>

extern "C" {
#include <libavutil/pixfmt.h>
}

struct SwsContext;

// AV_PIX_FMT_NONE for a V4L2 format that is not converted here.
AVPixelFormat PixelFormatOfV4l2(uint32_t fourcc);

class FrameConverter {
public:
    FrameConverter() = default;
    FrameConverter(const FrameConverter&) = delete;
    FrameConverter& operator=(const FrameConverter&) = delete;
    ~FrameConverter();

    // bytesPerLine is the first plane's row length (0: packed rows); out
    // takes width x height x 3 bytes. 0 or -1.
    int Convert(uint32_t fourcc, int width, int height, int bytesPerLine, const uint8_t* picture, size_t length,
                uint8_t* out);

private:
    SwsContext* context_ = nullptr;
};
