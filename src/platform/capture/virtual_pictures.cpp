#include "platform/capture/virtual_pictures.h"

#include <cmath>
#include <cstring>
#include <numbers>

namespace {

// Fills a bottom-up picture from a colour function of the displayed x, y
// (y = 0 at the top).
template <class ColourAt> Picture Paint(int width, int height, ColourAt colourAt)
{
    Picture picture(static_cast<size_t>(width) * height * 3);
    for (int y = 0; y < height; ++y) {
        uint8_t* row = picture.data() + static_cast<size_t>(height - 1 - y) * width * 3;
        for (int x = 0; x < width; ++x) {
            uint8_t rgb[3];
            colourAt(x, y, rgb);
            row[x * 3] = rgb[2];
            row[x * 3 + 1] = rgb[1];
            row[x * 3 + 2] = rgb[0];
        }
    }
    return picture;
}

void Set(uint8_t* rgb, int r, int g, int b)
{
    rgb[0] = static_cast<uint8_t>(r);
    rgb[1] = static_cast<uint8_t>(g);
    rgb[2] = static_cast<uint8_t>(b);
}

} // namespace

uint32_t NextRandom(uint32_t& state)
{
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
}

Picture MakeTestCard(int width, int height)
{
    const int cx = width / 2;
    const int cy = height / 2;
    const int radius = height * 2 / 5;
    return Paint(width, height, [&](int x, int y, uint8_t* rgb) {
        int dx = x - cx;
        int dy = y - cy;
        int distance = static_cast<int>(std::sqrt(static_cast<double>(dx * dx + dy * dy)));
        if (x % 40 == 0 || y % 40 == 0)
            Set(rgb, 235, 235, 235);
        else if (std::abs(distance - radius) < 2)
            Set(rgb, 235, 235, 235);
        else if (distance < radius && std::abs(dy) < height / 10) {
            int step = (x - (cx - radius)) * 6 / (2 * radius);
            Set(rgb, 16 + step * 43, 16 + step * 43, 16 + step * 43);
        } else if (distance < radius)
            Set(rgb, (x / 20 + y / 20) % 2 ? 200 : 40, 60, (x / 20 + y / 20) % 2 ? 40 : 200);
        else
            Set(rgb, 96, 96, 96);
    });
}

Picture MakeColourBars(int width, int height)
{
    return Paint(width, height, [&](int x, int y, uint8_t* rgb) {
        if (y >= height * 3 / 4)
            Set(rgb, 0, 0, 0);
        else {
            const uint8_t* bar = kBarColours[x * 7 / width];
            Set(rgb, bar[0], bar[1], bar[2]);
        }
    });
}

Picture MakeStillPicture(int width, int height)
{
    return Paint(width, height, [&](int x, int y, uint8_t* rgb) {
        if (y < height / 2)
            Set(rgb, 90 + y * 100 / height, 140 + y * 100 / height, 250);
        else
            Set(rgb, 40 + x * 60 / width, 150 - (y - height / 2) * 80 / height, 50);
    });
}

Picture MakeWideStripes(int width, int height, uint32_t seed)
{
    const int period = 2 * width;
    const int phase = static_cast<int>(seed % 256);
    std::vector<int> wave(period);
    for (int x = 0; x < period; ++x)
        wave[x] = static_cast<int>(110 + 100 * std::sin(8 * std::numbers::pi * x / period));
    return Paint(period, height, [&](int x, int y, uint8_t* rgb) {
        int level = wave[(x + y / 2) % period];
        Set(rgb, level, (phase + x * 255 / period) % 256, 255 - level);
    });
}

Picture MakeNoise(int width, int height, int slack)
{
    Picture noise(static_cast<size_t>(width) * height * 3 + slack + kSamplePadding);
    uint32_t state = 0x2545F491u;
    for (size_t i = 0; i + 4 <= noise.size(); i += 4) {
        uint32_t value = NextRandom(state);
        std::memcpy(&noise[i], &value, 4);
    }
    return noise;
}

void ScrollSideways(const Picture& wide, int width, int height, int frame, uint8_t* out)
{
    const size_t rowBytes = static_cast<size_t>(width) * 3;
    const size_t shift = static_cast<size_t>(frame * 4 % width) * 3;
    for (int y = 0; y < height; ++y)
        std::memcpy(out + y * rowBytes, wide.data() + y * rowBytes * 2 + shift, rowBytes);
}

void RollUpwards(const Picture& still, int width, int height, int frame, uint8_t* out)
{
    const size_t rowBytes = static_cast<size_t>(width) * 3;
    const int shift = frame * 2 % height;
    const size_t tail = static_cast<size_t>(height - shift) * rowBytes;
    std::memcpy(out + shift * rowBytes, still.data(), tail);
    std::memcpy(out, still.data() + tail, shift * rowBytes);
}

std::vector<int16_t> MakeTone(int frequency, int sampleRate, int channels)
{
    std::vector<int16_t> samples(static_cast<size_t>(sampleRate) * channels);
    for (int i = 0; i < sampleRate; ++i) {
        auto value = static_cast<int16_t>(8000 * std::sin(2 * std::numbers::pi * frequency * i / sampleRate));
        for (int c = 0; c < channels; ++c)
            samples[static_cast<size_t>(i) * channels + c] = value;
    }
    return samples;
}

std::vector<int16_t> MakeHiss(int sampleRate, int channels)
{
    std::vector<int16_t> samples(static_cast<size_t>(sampleRate) * channels);
    uint32_t state = 0x9E3779B9u;
    for (int16_t& sample : samples)
        sample = static_cast<int16_t>(static_cast<int>(NextRandom(state) % 4001) - 2000);
    return samples;
}
