#include "platform/capture/frame_convert.h"

#include <linux/videodev2.h>

extern "C" {
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

AVPixelFormat PixelFormatOfV4l2(uint32_t fourcc)
{
    switch (fourcc) {
    case V4L2_PIX_FMT_YUYV: return AV_PIX_FMT_YUYV422;
    case V4L2_PIX_FMT_UYVY: return AV_PIX_FMT_UYVY422;
    case V4L2_PIX_FMT_YUV420: return AV_PIX_FMT_YUV420P;
    case V4L2_PIX_FMT_NV12: return AV_PIX_FMT_NV12;
    case V4L2_PIX_FMT_RGB24: return AV_PIX_FMT_RGB24;
    case V4L2_PIX_FMT_BGR24: return AV_PIX_FMT_BGR24;
    case V4L2_PIX_FMT_GREY: return AV_PIX_FMT_GRAY8;
    default: return AV_PIX_FMT_NONE;
    }
}

FrameConverter::~FrameConverter()
{
    sws_freeContext(context_);
}

int FrameConverter::Convert(uint32_t fourcc, int width, int height, int bytesPerLine, const uint8_t* picture,
                            size_t length, uint8_t* out)
{
    const AVPixelFormat format = PixelFormatOfV4l2(fourcc);
    if (format == AV_PIX_FMT_NONE || width <= 0 || height <= 0)
        return -1;
    int linesizes[4];
    if (av_image_fill_linesizes(linesizes, format, width) < 0)
        return -1;
    if (bytesPerLine > linesizes[0]) {
        // Padded rows: the chroma planes of a planar picture are padded alike.
        for (int plane = 1; plane < 4 && linesizes[plane]; ++plane)
            linesizes[plane] = linesizes[plane] * bytesPerLine / linesizes[0];
        linesizes[0] = bytesPerLine;
    }
    uint8_t* planes[4];
    int size = av_image_fill_pointers(planes, format, height, const_cast<uint8_t*>(picture), linesizes);
    if (size < 0 || static_cast<size_t>(size) > length)
        return -1;
    context_ = sws_getCachedContext(context_, width, height, format, width, height, AV_PIX_FMT_BGR24, SWS_BICUBIC,
                                    nullptr, nullptr, nullptr);
    if (!context_)
        return -1;
    // Writing from the last row upwards turns the picture bottom-up.
    uint8_t* target[4] = {out + static_cast<size_t>(height - 1) * width * 3, nullptr, nullptr, nullptr};
    int targetLinesizes[4] = {-width * 3, 0, 0, 0};
    return sws_scale(context_, planes, linesizes, 0, height, target, targetLinesizes) == height ? 0 : -1;
}
