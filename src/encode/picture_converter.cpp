#include "encode/picture_converter.h"

#include "encode/live_encoder.h"

#include <libyuv/convert.h>

bool PictureConverter::Prepare(int fromWidth, int fromHeight, int toWidth, int toHeight)
{
    fromWidth_ = fromWidth;
    fromHeight_ = fromHeight;
    captureYuv_.reset();
    if (toWidth == fromWidth && toHeight == fromHeight) {
        scaler_.reset();
        return true;
    }
    AVPixelFormat from = AV_PIX_FMT_BGR24;
    int filter = SWS_BICUBIC;
    if (toWidth <= fromWidth && toHeight <= fromHeight) {
        captureYuv_ = AllocPicture(AV_PIX_FMT_YUV420P, fromWidth, fromHeight);
        if (!captureYuv_)
            return false;
        from = AV_PIX_FMT_YUV420P;
        filter = SWS_LANCZOS;
    }
    scaler_.reset(sws_getCachedContext(scaler_.release(), fromWidth, fromHeight, from, toWidth, toHeight,
                                       AV_PIX_FMT_YUV420P, filter, nullptr, nullptr, nullptr));
    return scaler_ != nullptr;
}

void PictureConverter::Release()
{
    captureYuv_.reset();
    fromWidth_ = fromHeight_ = 0;
}

// libyuv's "RGB24" is B,G,R in memory, the capture's order, and it uses the
// scaler's BT.601 TV-range matrix.
bool PictureConverter::Convert(const uint8_t* topRow, int stride, AVFrame* picture) const
{
    if (!topRow || !picture || fromWidth_ == 0)
        return false;
    if (scaler_ && !captureYuv_) {
        const uint8_t* source[4] = {topRow, nullptr, nullptr, nullptr};
        const int sourceStride[4] = {stride, 0, 0, 0};
        return sws_scale(scaler_.get(), source, sourceStride, 0, fromHeight_, picture->data, picture->linesize) > 0;
    }
    AVFrame* converted = captureYuv_ ? captureYuv_.get() : picture;
    if (libyuv::RGB24ToI420(topRow, stride, converted->data[0], converted->linesize[0], converted->data[1],
                            converted->linesize[1], converted->data[2], converted->linesize[2], fromWidth_,
                            fromHeight_) != 0)
        return false;
    return !captureYuv_ || sws_scale(scaler_.get(), converted->data, converted->linesize, 0, fromHeight_,
                                     picture->data, picture->linesize) > 0;
}
