// Closed captions burned into the live picture, with the real program on
// the virtual TV card's channel 9: colour bars, black below, and pop-on
// captions on line 21.

#include "config/settings.h"
#include "support/loopback.h"
#include "support/program_fixture.h"
#include "support/temp_config.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// The mean absolute difference of one row of two grey pictures.
double RowDifference(const std::string& a, const std::string& b, size_t offset, int width)
{
    long sum = 0;
    for (int x = 0; x < width; ++x)
        sum += std::abs(static_cast<uint8_t>(a[offset + x]) - static_cast<uint8_t>(b[offset + x]));
    return static_cast<double>(sum) / width;
}

class CaptionsProgramTest : public RunningProgramTest {
protected:
    void SetUp() override
    {
        port = FreePortTriple();
        adjustSettings = [] {
            gSettings.channels[9] = gSettings.channels[5];
            gSettings.channels[9].tunerChannel = 9;
            ++gSettings.record.enabledChannels;
        };
        ASSERT_TRUE(StartProgram());
    }

    // The stream's pictures as grey frames, and their size.
    std::vector<std::string> GreyFrames(const std::vector<std::string>& options, int& width, int& height)
    {
        const std::string prefix = config.Root() + "/ch9" + std::to_string(++runs);
        std::vector<std::string> arguments = {"live", "9", "--seconds", "8", "--out", prefix};
        arguments.insert(arguments.end(), options.begin(), options.end());
        EXPECT_EQ("0xD4", Handheld(arguments, 60000).Value("stream_code"));
        const Probe probe = ProbeFile(prefix + ".m4v", "v:0");
        width = probe.width;
        height = probe.height;
        RunProcess({"/usr/bin/ffmpeg", "-v", "error", "-i", prefix + ".m4v", "-f", "rawvideo", "-pix_fmt", "gray",
                    prefix + ".grey"},
                   60000);
        const std::string bytes = ReadFileBytes(prefix + ".grey");
        const size_t frameSize = static_cast<size_t>(width) * height;
        std::vector<std::string> frames;
        for (size_t at = 0; frameSize > 0 && at + frameSize <= bytes.size(); at += frameSize)
            frames.push_back(bytes.substr(at, frameSize));
        // The stream is cut where the client stopped: its last picture may be too.
        if (!frames.empty())
            frames.pop_back();
        return frames;
    }

    int runs = 0;
};

TEST_F(CaptionsProgramTest, CaptionsChangeOnlyTheirRowsAndOnlyWhenAskedFor)
{
    int width = 0, height = 0;
    const std::vector<std::string> plain = GreyFrames({}, width, height);
    ASSERT_GT(plain.size(), 20u);
    const std::string& bars = plain[plain.size() / 2];
    // The caption rows sit in the bottom eighth; the rows above stay bars.
    const int captionTop = height * 7 / 8 - 8;
    const int barsBottom = height * 3 / 4 - 16;
    double plainWorst = 0;
    for (const std::string& frame : plain)
        for (int row = 0; row < height; ++row)
            plainWorst = std::max(plainWorst, RowDifference(frame, bars, static_cast<size_t>(row) * width, width));
    EXPECT_LT(plainWorst, 8.0) << "without captions every picture is the plain bars";

    const std::vector<std::string> captioned = GreyFrames({"--cc"}, width, height);
    ASSERT_GT(captioned.size(), 20u);
    double outsideWorst = 0, captionBest = 0;
    for (const std::string& frame : captioned) {
        for (int row = 0; row < barsBottom; ++row)
            outsideWorst = std::max(outsideWorst, RowDifference(frame, bars, static_cast<size_t>(row) * width, width));
        for (int row = captionTop; row < height; ++row)
            captionBest = std::max(captionBest, RowDifference(frame, bars, static_cast<size_t>(row) * width, width));
    }
    std::printf("captioned pictures: rows above differ by %.1f at most, caption rows by %.1f\n", outsideWorst,
                captionBest);
    EXPECT_LT(outsideWorst, 8.0) << "the bars above the captions are untouched";
    EXPECT_GT(captionBest, 30.0) << "the caption rows carry the white caption box";
}

} // namespace
