// The program's main job, end to end: started headless with the virtual TV
// card, it streams live channels to the handheld client, and what arrives
// is what a player can play.

#include "config/settings.h"
#include "support/program_fixture.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <unistd.h>

namespace {

class LiveStreamTest : public RunningProgramTest {
protected:
    ProcessResult Watch(const std::string& prefix, std::vector<std::string> arguments)
    {
        arguments.insert(arguments.end(), {"--seconds", "10", "--out", config.Root() + "/" + prefix});
        return Handheld(arguments, 90000);
    }
};

TEST_F(LiveStreamTest, Mpeg4AndMp3ArriveAsThePlayerExpects)
{
    ProcessResult result = Watch("mpeg4", {"live", "5", "--quality", "0", "--codec", "mpeg4"});
    ASSERT_EQ("0xD4", result.Value("stream_code")) << result.output;
    EXPECT_EQ("3", result.Value("header_format"));
    EXPECT_EQ("1", result.Value("header_stereo"));
    EXPECT_EQ("0", result.Value("header_video_codec"));
    EXPECT_EQ("15", result.Value("header_frame_rate"));
    EXPECT_EQ("100000", result.Value("header_video_bitrate"));
    EXPECT_EQ("44100", result.Value("header_audio_sample_rate"));
    EXPECT_EQ("2", result.Value("header_audio_bytes_per_sample"));
    EXPECT_EQ("32000", result.Value("header_audio_bitrate"));
    EXPECT_EQ("0", result.Value("header_duration_ms"));
    EXPECT_EQ("1", result.Value("header_ratio_width"));
    EXPECT_EQ("1", result.Value("header_ratio_height"));
    EXPECT_EQ("0xED", result.Value("stop_code"));

    Probe video = ProbeFile(config.Root() + "/mpeg4.m4v");
    EXPECT_EQ("mpeg4", video.codec);
    EXPECT_EQ(320, video.width);
    EXPECT_EQ(240, video.height);
    // The chunk still filling when the stream stops never leaves the PC.
    EXPECT_GE(video.frames, 15 * 7);
    EXPECT_LE(video.frames, 15 * 11);
    Probe audio = ProbeFile(config.Root() + "/mpeg4.mp3");
    EXPECT_EQ("mp3", audio.codec);
    EXPECT_EQ(44100, audio.sampleRate);
}

TEST_F(LiveStreamTest, H264AndH263)
{
    ProcessResult h264 = Watch("h264", {"live", "5", "--quality", "1", "--codec", "h264"});
    ASSERT_EQ("0xD4", h264.Value("stream_code")) << h264.output;
    EXPECT_EQ("2", h264.Value("header_video_codec"));
    Probe video = ProbeFile(config.Root() + "/h264.h264");
    EXPECT_EQ("h264", video.codec);
    EXPECT_EQ(320, video.width);
    EXPECT_GT(video.frames, 24 * 4);

    ProcessResult h263 = Watch("h263", {"live", "5", "--quality", "1", "--codec", "h263"});
    ASSERT_EQ("0xD4", h263.Value("stream_code")) << h263.output;
    video = ProbeFile(config.Root() + "/h263.h263");
    EXPECT_EQ("h263", video.codec);
    EXPECT_EQ(176, video.width);
    EXPECT_EQ(144, video.height);
    EXPECT_GT(video.frames, 24 * 6);
}

TEST_F(LiveStreamTest, SoundOnlyChannelSendsOnlyAudio)
{
    ProcessResult result = Watch("radio", {"live", "20", "--quality", "1"});
    ASSERT_EQ("0xD4", result.Value("stream_code")) << result.output;
    EXPECT_EQ("255", result.Value("header_video_codec"));
    EXPECT_EQ("15", result.Value("header_frame_rate"));
    EXPECT_EQ("128000", result.Value("header_audio_bitrate"));
    EXPECT_EQ("0", result.Value("video_packets"));
    EXPECT_GT(std::atoi(result.Value("audio_packets").c_str()), 20);
    EXPECT_EQ("mp3", ProbeFile(config.Root() + "/radio.mp3").codec);
}

TEST_F(LiveStreamTest, RepeatedStartsStopsAndRefusals)
{
    std::string start = "AAD4050000000000000000000000" "10";
    start += std::string(2 * 39, '0');
    ProcessResult twice = Handheld({"login", "raw", start, "raw", start, "raw", "AAED"});
    size_t first = twice.output.find("raw_hex=AAD403");
    ASSERT_NE(std::string::npos, first) << twice.output;
    EXPECT_NE(std::string::npos, twice.output.find("raw_hex=AAD403", first + 1));

    ProcessResult disabled = Handheld({"live", "4", "--seconds", "1"});
    EXPECT_EQ("0xFF", disabled.Value("stream_code")) << disabled.output;

    std::vector<std::string> loop;
    for (int round = 0; round < 20; ++round)
        loop.insert(loop.end(), {"live", round % 2 ? "3" : "5", "--seconds", "1"});
    ProcessResult rounds = Handheld(loop, 240000);
    EXPECT_EQ(0, rounds.exitCode) << rounds.output;
    size_t started = 0;
    for (size_t at = rounds.output.find("stream_code=0xD4"); at != std::string::npos;
         at = rounds.output.find("stream_code=0xD4", at + 1))
        ++started;
    EXPECT_EQ(20u, started);
}

TEST_F(LiveStreamTest, HandheldRecordsAChannelOnThePc)
{
    EXPECT_EQ("0xFF", Handheld({"record", "4"}).Value("record_code")) << "not enabled";
    ProcessResult start = Handheld({"record", "5"});
    ASSERT_EQ("0xDC", start.Value("record_code")) << start.output;
    sleep(3);
    ProcessResult status = Handheld({"status", "record", "5"});
    EXPECT_EQ("1", status.Value("recording")) << status.output;
    EXPECT_GE(std::atoi(status.Value("recording_seconds").c_str()), 2);
    EXPECT_EQ("0xDC", status.Value("record_code")) << "a second start only answers";
    ProcessResult stop = Handheld({"stop-record", "status"});
    EXPECT_EQ("0xDD", stop.Value("stop_record_code")) << stop.output;
    EXPECT_EQ("0", stop.Value("recording"));

    const std::vector<std::string> files = Recordings(5);
    ASSERT_EQ(1u, files.size());
    ProcessResult streams = RunProcess({"/usr/bin/ffprobe", "-v", "error", "-show_entries", "stream=codec_name",
                                        "-of", "csv=p=0", files[0]},
                                       60000);
    EXPECT_NE(std::string::npos, streams.output.find("wmv2\n")) << streams.output;
    EXPECT_NE(std::string::npos, streams.output.find("wmav2\n")) << streams.output;
}

// A file cut where a chunk ended on filler ends on a packet without a
// picture, which ffmpeg calls a damaged header; a stream that goes on never
// does. The filler in the middle stays.
std::string WithoutTrailingStuffing(std::string bytes)
{
    const size_t stuffing = bytes.rfind(std::string("\x00\x00\x01\xC3", 4));
    if (stuffing != std::string::npos && bytes.find_first_not_of('\xFF', stuffing + 4) == std::string::npos)
        bytes.resize(stuffing);
    return bytes;
}

TEST_F(LiveStreamTest, AStillChannelCompletesItsChunksWithFillerWithinItsBitRate)
{
    // Channel 3 shows the virtual card's still colour bars.
    ASSERT_GE(StopProgram(), 0);
    adjustSettings = [] { gSettings.channels[3].tunerChannel = 9; };
    ASSERT_TRUE(StartProgram());
    for (const auto& [codec, extension] : {std::pair("mpeg4", "m4v"), std::pair("h264", "h264")}) {
        ProcessResult still = Watch(codec, {"live", "3", "--quality", "0", "--codec", codec});
        ASSERT_EQ("0xD4", still.Value("stream_code")) << still.output;
        // Its bars alone once took 8 s to fill the first chunk.
        EXPECT_LT(std::stoi(still.Value("video_first_ms")), 1000) << codec;
        const int64_t videoBytes = std::stoll(still.Value("video_bytes"));
        const int64_t rateBytes = std::stoll(still.Value("header_video_bitrate")) / 8 * 10;
        EXPECT_GT(videoBytes, rateBytes / 2) << codec << ": the chunks flow";
        EXPECT_LE(videoBytes, rateBytes + 8384) << codec << ": the rate, and one chunk at the start";

        const std::string path = config.Root() + "/" + codec + "." + extension;
        const std::string stream = ReadFileBytes(path);
        EXPECT_NE(std::string::npos, stream.find(codec == std::string("h264") ? std::string("\x00\x00\x01\x0C\xFF", 5)
                                                                               : std::string("\x00\x00\x01\xC3\xFF", 5)));
        WriteFileBytes(path, WithoutTrailingStuffing(stream));
        ProcessResult decoded =
            RunProcess({"/usr/bin/ffmpeg", "-v", "error", "-i", path, "-f", "null", "-"}, 60000, true);
        EXPECT_EQ(0, decoded.exitCode);
        EXPECT_EQ("", decoded.output) << codec;
        EXPECT_GE(ProbeFile(path).frames, 15 * 8) << codec;
    }
}

} // namespace
