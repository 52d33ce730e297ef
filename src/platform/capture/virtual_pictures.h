#pragma once
// Pictures and sounds of the virtual devices, made once per size so that
// each frame costs at most one copy. Pictures are bottom-up B,G,R, with the
// capture layer's padding after them.

#include "platform/capture/capture_layer.h"

#include <cstdint>
#include <vector>

using Picture = std::vector<uint8_t>;

Picture MakeTestCard(int width, int height);
// 75% bars over the top three quarters, black below.
Picture MakeColourBars(int width, int height);
Picture MakeStillPicture(int width, int height);
// Twice the width, for scrolling sideways.
Picture MakeWideStripes(int width, int height, uint32_t seed);
// width x height x 3 plus slack bytes of noise, read from a random offset.
Picture MakeNoise(int width, int height, int slack);

// Frame n of a picture scrolling sideways through a wide one.
void ScrollSideways(const Picture& wide, int width, int height, int frame, uint8_t* out);
// Frame n of a picture rolling upwards.
void RollUpwards(const Picture& still, int width, int height, int frame, uint8_t* out);

// One second of interleaved signed 16-bit sound: a tone, or hiss.
std::vector<int16_t> MakeTone(int frequency, int sampleRate, int channels);
std::vector<int16_t> MakeHiss(int sampleRate, int channels);

// The bar colours as R, G, B, left to right.
constexpr uint8_t kBarColours[7][3] = {{191, 191, 191}, {191, 191, 0}, {0, 191, 191}, {0, 191, 0},
                                       {191, 0, 191},   {191, 0, 0},   {0, 0, 191}};

uint32_t NextRandom(uint32_t& state);
