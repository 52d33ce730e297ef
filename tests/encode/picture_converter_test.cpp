// The live picture conversion against a reference scale: it must keep the
// picture at least as good as the bicubic scale it replaced, on the virtual
// card's pictures and on natural ones made by the ffmpeg tool.

#include "encode/picture_converter.h"
#include "platform/capture/virtual_pictures.h"
#include "support/media_files.h"
#include "support/temp_config.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/imgutils.h>
}

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 480;

FramePtr YuvPicture(int width, int height)
{
    FramePtr picture(av_frame_alloc());
    picture->format = AV_PIX_FMT_YUV420P;
    picture->width = width;
    picture->height = height;
    EXPECT_EQ(0, av_frame_get_buffer(picture.get(), 0));
    return picture;
}

// A bottom-up B,G,R picture as the capture delivers it, scaled by
// libswscale in one step with the given flags.
FramePtr ScaleWithSwscale(const Picture& bottomUp, int width, int height, int flags)
{
    FramePtr picture = YuvPicture(width, height);
    ScalerPtr scaler(sws_getContext(kWidth, kHeight, AV_PIX_FMT_BGR24, width, height, AV_PIX_FMT_YUV420P, flags,
                                    nullptr, nullptr, nullptr));
    const uint8_t* source[4] = {bottomUp.data() + 3 * kWidth * (kHeight - 1), nullptr, nullptr, nullptr};
    const int stride[4] = {-3 * kWidth, 0, 0, 0};
    EXPECT_GT(sws_scale(scaler.get(), source, stride, 0, kHeight, picture->data, picture->linesize), 0);
    return picture;
}

FramePtr Convert(const Picture& bottomUp, int width, int height)
{
    PictureConverter converter;
    EXPECT_TRUE(converter.Prepare(kWidth, kHeight, width, height));
    FramePtr picture = YuvPicture(width, height);
    EXPECT_TRUE(converter.Convert(bottomUp.data() + 3 * kWidth * (kHeight - 1), -3 * kWidth, picture.get()));
    return picture;
}

// The PSNR of all three planes together, each sample weighing the same.
double Psnr(const AVFrame& picture, const AVFrame& reference)
{
    double squares = 0;
    int64_t samples = 0;
    for (int plane = 0; plane < 3; ++plane) {
        const int width = plane == 0 ? picture.width : (picture.width + 1) / 2;
        const int height = plane == 0 ? picture.height : (picture.height + 1) / 2;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                const double error = picture.data[plane][y * picture.linesize[plane] + x] -
                                     reference.data[plane][y * reference.linesize[plane] + x];
                squares += error * error;
            }
        samples += int64_t{width} * height;
    }
    return 10 * std::log10(255.0 * 255.0 / std::max(squares / static_cast<double>(samples), 1e-10));
}

// A frame of an ffmpeg test source, bottom-up like a capture sample.
Picture FfmpegPicture(const std::string& source, const TempConfig& config)
{
    const std::string path = config.Root() + "/frame.bgr";
    EXPECT_TRUE(MakeClip({"-f", "lavfi", "-i", source + "=size=640x480", "-frames:v", "1", "-vf", "vflip",
                          "-pix_fmt", "bgr24", "-f", "rawvideo", path}));
    const std::string bytes = ReadFileBytes(path);
    return Picture(bytes.begin(), bytes.end());
}

TEST(PictureConverterTest, ScalesAtLeastAsWellAsBicubicAndConvertsExactly)
{
    TempConfig config;
    const std::vector<std::pair<std::string, Picture>> pictures = {
        {"test card", MakeTestCard(kWidth, kHeight)},
        {"colour bars", MakeColourBars(kWidth, kHeight)},
        {"testsrc2", FfmpegPicture("testsrc2", config)},
        {"mandelbrot", FfmpegPicture("mandelbrot", config)}};
    const int lanczos = SWS_LANCZOS | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT | SWS_FULL_CHR_H_INP;
    for (const auto& [name, picture] : pictures) {
        ASSERT_GE(picture.size(), size_t{3 * kWidth * kHeight}) << name;
        for (const auto& [width, height] : {std::pair{320, 240}, std::pair{480, 320}, std::pair{640, 480}}) {
            SCOPED_TRACE(name + " at " + std::to_string(width) + "x" + std::to_string(height));
            const FramePtr reference = ScaleWithSwscale(picture, width, height, lanczos);
            const double bicubic = Psnr(*ScaleWithSwscale(picture, width, height, SWS_BICUBIC), *reference);
            const double converted = Psnr(*Convert(picture, width, height), *reference);
            std::printf("%-11s %dx%d: bicubic %.2f dB, converter %.2f dB\n", name.c_str(), width, height, bicubic,
                        converted);
            EXPECT_GE(converted, bicubic - 0.1);
        }
    }
}

// The same colours as before: BT.601 TV range, blue in the B,G,R order.
TEST(PictureConverterTest, ColoursKeepTheirRangeAndOrder)
{
    Picture blue(3 * kWidth * kHeight, 0);
    for (size_t i = 0; i < blue.size(); i += 3)
        blue[i] = 255;
    for (const auto& [width, height] : {std::pair{320, 240}, std::pair{640, 480}, std::pair{1024, 768}}) {
        const FramePtr converted = Convert(blue, width, height);
        EXPECT_NEAR(41, converted->data[0][0], 1) << width;
        EXPECT_NEAR(240, converted->data[1][0], 1) << width;
        EXPECT_NEAR(110, converted->data[2][0], 1) << width;
    }
}

} // namespace
