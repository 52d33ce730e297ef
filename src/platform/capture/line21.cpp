#include "platform/capture/line21.h"

#include "platform/capture/capture_layer.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <numbers>

namespace {

constexpr double kBitRate = 503496.5;     // 32 times the NTSC line rate
constexpr double kRunInStartUs = 10.5;    // after the line's sync
constexpr int kRunInBits = 7;
constexpr int kFirstDataBit = kRunInBits + 3;  // after the start bits 0, 0, 1
constexpr uint8_t kLow = 60;
constexpr uint8_t kHigh = 160;

// Preamble address codes of channel 1, rows 1 to 15, white, column 0.
constexpr uint8_t kPacRows[15][2] = {{0x11, 0x40}, {0x11, 0x60}, {0x12, 0x40}, {0x12, 0x60}, {0x15, 0x40},
                                     {0x15, 0x60}, {0x16, 0x40}, {0x16, 0x60}, {0x17, 0x40}, {0x17, 0x60},
                                     {0x10, 0x40}, {0x13, 0x40}, {0x13, 0x60}, {0x14, 0x40}, {0x14, 0x60}};

constexpr uint8_t kResumeCaptionLoading = 0x20;
constexpr uint8_t kEraseNonDisplayed = 0x2E;
constexpr uint8_t kEndOfCaption = 0x2F;
constexpr uint8_t kMiscControl = 0x14;

void AddPair(std::vector<uint8_t>& pairs, uint8_t first, uint8_t second)
{
    pairs.push_back(WithOddParity(first));
    pairs.push_back(WithOddParity(second));
}

void AddControl(std::vector<uint8_t>& pairs, uint8_t first, uint8_t second)
{
    AddPair(pairs, first, second);
    AddPair(pairs, first, second);
}

void AddText(std::vector<uint8_t>& pairs, const std::string& text)
{
    for (size_t i = 0; i < text.size(); i += 2)
        AddPair(pairs, static_cast<uint8_t>(text[i] & 0x7F),
                i + 1 < text.size() ? static_cast<uint8_t>(text[i + 1] & 0x7F) : 0);
}

int DataBit(uint8_t first, uint8_t second, int bit)
{
    if (bit < 8)
        return (first >> bit) & 1;
    return (second >> (bit - 8)) & 1;
}

} // namespace

uint8_t WithOddParity(uint8_t byte)
{
    byte &= 0x7F;
    return std::popcount(byte) % 2 == 0 ? static_cast<uint8_t>(byte | 0x80) : byte;
}

bool HasOddParity(uint8_t byte)
{
    return std::popcount(byte) % 2 == 1;
}

std::vector<uint8_t> PopOnCaption(const std::vector<std::string>& lines)
{
    std::vector<uint8_t> pairs;
    AddControl(pairs, kMiscControl, kResumeCaptionLoading);
    AddControl(pairs, kMiscControl, kEraseNonDisplayed);
    int row = 15 - static_cast<int>(lines.size()) + 1;
    for (const std::string& line : lines) {
        const uint8_t* pac = kPacRows[std::clamp(row++, 1, 15) - 1];
        AddControl(pairs, pac[0], pac[1]);
        AddText(pairs, line);
    }
    AddControl(pairs, kMiscControl, kEndOfCaption);
    return pairs;
}

void SynthesizeLine21(uint8_t first, uint8_t second, uint8_t* samples, int count, int rate)
{
    const double period = rate / kBitRate;
    const double start = kRunInStartUs * rate / 1e6;
    const double middle = (kLow + kHigh) / 2.0;
    const double swing = (kHigh - kLow) / 2.0;
    for (int i = 0; i < count; ++i) {
        double bits = (i - start) / period;
        double level = kLow;
        if (bits >= 0 && bits < kRunInBits)
            level = middle + swing * std::sin(2 * std::numbers::pi * bits);
        else if (bits >= kFirstDataBit - 1 && bits < kFirstDataBit)
            level = kHigh;
        else if (bits >= kFirstDataBit && bits < kFirstDataBit + 16)
            level = DataBit(first, second, static_cast<int>(bits) - kFirstDataBit) ? kHigh : kLow;
        samples[i] = static_cast<uint8_t>(std::lround(level));
    }
}

int SliceLine21(const uint8_t* samples, int count, int rate, uint8_t pair[2])
{
    if (count <= 0 || rate <= 0)
        return -1;
    auto [low, high] = std::minmax_element(samples, samples + count);
    if (*high - *low < 40)
        return -1;
    const int threshold = (*low + *high) / 2;
    const uint8_t* rise = std::find_if(samples, samples + count, [&](uint8_t s) { return s > threshold; });
    const double period = rate / kBitRate;
    const double origin = (rise - samples) - 0.5;
    auto bitAt = [&](int bit) {
        long at = std::lround(origin + (bit + 0.5) * period);
        return at < count ? (samples[at] > threshold ? 1 : 0) : -1;
    };
    if (bitAt(kFirstDataBit - 3) != 0 || bitAt(kFirstDataBit - 2) != 0 || bitAt(kFirstDataBit - 1) != 1)
        return -1;
    pair[0] = pair[1] = 0;
    for (int bit = 0; bit < 16; ++bit) {
        int value = bitAt(kFirstDataBit + bit);
        if (value < 0)
            return -1;
        pair[bit / 8] |= static_cast<uint8_t>(value << (bit % 8));
    }
    return 0;
}

namespace {

class VbiCodec : public CaptureFilter {
public:
    VbiCodec() : output_(AddPin(PinDirection::Output, MediaType::Line21, PinCategory::ClosedCaption))
    {
        AddPin(PinDirection::Input, MediaType::RawVbi);
    }

    void Receive(const CapturePin&, const MediaSample& sample) override
    {
        uint8_t pair[2];
        if (SliceLine21(sample.bytes, sample.length, sample.rate, pair) != 0)
            return;
        MediaSample out = sample;
        out.bytes = pair;
        out.length = 2;
        Deliver(output_, out);
    }

private:
    CapturePin& output_;
};

} // namespace

std::shared_ptr<CaptureFilter> CreateVbiCodec()
{
    return std::make_shared<VbiCodec>();
}
