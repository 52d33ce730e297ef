#pragma once
// Converts captured B,G,R pictures into an encoder's YUV 4:2:0 picture of
// its own size, with the least work that keeps the picture at least as
// sharp as a bicubic scale (figures in the README):
// - at capture size, one conversion;
// - smaller, a conversion at capture size, then a Lanczos scale of the
//   planes, which costs half of a bicubic scale of the packed picture;
// - larger, the bicubic scale of the packed picture, which nothing beat.

#include "platform/av_owned.h"

#include <cstdint>

class PictureConverter {
public:
    // For pictures of fromWidth x fromHeight into toWidth x toHeight. False
    // when the memory or the scaler could not be had. The scaler is kept
    // when the sizes stay.
    bool Prepare(int fromWidth, int fromHeight, int toWidth, int toHeight);
    // Frees the pictures; Convert fails until the next Prepare.
    void Release();

    // topRow points at the picture's top row and stride steps down from it:
    // negative for a bottom-up capture sample. False when it failed.
    bool Convert(const uint8_t* topRow, int stride, AVFrame* picture) const;

private:
    int fromWidth_ = 0;
    int fromHeight_ = 0;
    FramePtr captureYuv_;  // the capture-size conversion, when scaling down
    ScalerPtr scaler_;
};
