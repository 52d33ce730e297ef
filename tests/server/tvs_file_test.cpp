// .tvs files end to end: orvandel-tvs makes them from clips that the test
// makes with the ffmpeg tool, and a reader written here from the layout
// (48-byte header, packets, seek index) checks what it wrote.

#include "support/media_files.h"
#include "support/process.h"
#include "support/program_fixture.h"
#include "support/temp_config.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <vector>

namespace {

uint32_t U32At(const std::string& bytes, size_t offset)
{
    uint32_t value = 0;
    std::memcpy(&value, bytes.data() + offset, 4);
    return value;
}

// What the layout says a finished file holds.
struct Layout {
    uint32_t format = 0;
    uint32_t videoCodec = 0;
    uint32_t bitsPerSample = 0;
    uint32_t lastTime = 0;
    uint32_t indexOffset = 0;
    uint32_t indexCount = 0;
    int video = 0;
    int audio = 0;
    int ends = 0;
    uint32_t firstTime = 0;
    std::vector<uint32_t> packetOffsets;  // from byte 48
    std::vector<uint32_t> packetTimes;
    std::string problem;
};

Layout ReadLayout(const std::string& bytes)
{
    Layout layout;
    if (bytes.size() < 48) {
        layout.problem = "no header";
        return layout;
    }
    layout.format = U32At(bytes, 0);
    layout.videoCodec = static_cast<uint8_t>(bytes[5]);
    layout.bitsPerSample = U32At(bytes, 16);
    layout.lastTime = U32At(bytes, 28);
    layout.indexOffset = U32At(bytes, 40);
    layout.indexCount = U32At(bytes, 44);
    if (U32At(bytes, 24) != 0 || layout.indexOffset + 4ull * layout.indexCount != bytes.size()) {
        layout.problem = "the closing fields do not match the file's length";
        return layout;
    }
    for (size_t at = 48; at < layout.indexOffset;) {
        const uint32_t header = U32At(bytes, at);
        const uint32_t top = header >> 24;
        size_t size = top == 0x80 ? 8384 : top == 0x00 ? 4190 : top == 0xCC ? (header & 0xFFFFFF) : 0;
        if (top == 0xFF) {
            // The audio end comes before the video end, and the index
            // follows the last end packet.
            size = at + 4 + 8384 == layout.indexOffset ? 8384 : 4190;
            ++layout.ends;
        }
        if (size == 0 || at + 4 + size > layout.indexOffset) {
            layout.problem = "bad packet at " + std::to_string(at);
            return layout;
        }
        if (top != 0xCC) {
            layout.video += top == 0x80;
            layout.audio += top == 0x00;
            if (layout.packetTimes.empty())
                layout.firstTime = header & 0xFFFFFF;
            layout.packetOffsets.push_back(static_cast<uint32_t>(at - 48));
            layout.packetTimes.push_back(header & 0xFFFFFF);
        }
        at += 4 + size;
    }
    return layout;
}

class TvsFileTest : public ::testing::Test {
protected:
    std::string Path(const std::string& name) const { return config.Root() + "/" + name; }

    std::string MakeFilm(const std::string& name, int seconds)
    {
        const std::string path = Path(name);
        EXPECT_TRUE(MakeClip({"-f", "lavfi", "-i", "testsrc=size=640x480:rate=30", "-f", "lavfi", "-i",
                              "sine=frequency=440:sample_rate=48000", "-t", std::to_string(seconds), "-c:v", "libx264",
                              "-c:a", "aac", "-ac", "2", path}));
        return path;
    }

    static ProcessResult Tvs(std::vector<std::string> arguments)
    {
        arguments.insert(arguments.begin(), BinPath("orvandel-tvs"));
        return RunProcess(arguments, 120000, true);
    }

    TempConfig config;
};

TEST_F(TvsFileTest, AClipBecomesAFileThatReadsBackAndPlays)
{
    const std::string film = MakeFilm("film.mp4", 8);
    ProcessResult encoded = Tvs({"encode", film, Path("movie"), "--start", "0:00:01", "--end", "0:00:05"});
    ASSERT_EQ(0, encoded.exitCode) << encoded.output;
    EXPECT_EQ("done", encoded.Value("status"));
    const std::string bytes = ReadFileBytes(Path("movie.tvs"));
    const Layout layout = ReadLayout(bytes);
    ASSERT_EQ("", layout.problem);

    ProcessResult info = Tvs({"info", Path("movie.tvs")});
    ASSERT_EQ(0, info.exitCode) << info.output;
    EXPECT_EQ("3", info.Value("header_format"));
    EXPECT_EQ(3u, layout.format);
    EXPECT_EQ("16", info.Value("audio_bits_per_sample"));
    EXPECT_EQ(16u, layout.bitsPerSample);
    EXPECT_EQ("0", info.Value("video_codec"));
    EXPECT_EQ(std::to_string(layout.indexOffset), info.Value("index_offset"));
    EXPECT_EQ(std::to_string(layout.indexCount), info.Value("index_entries"));
    EXPECT_EQ(std::to_string(layout.lastTime), info.Value("last_time_ms"));
    EXPECT_EQ(std::to_string(layout.video), info.Value("video_packets"));
    EXPECT_EQ(std::to_string(layout.audio), info.Value("audio_packets"));
    EXPECT_EQ(2, layout.ends);
    EXPECT_EQ(layout.packetTimes.back(), layout.lastTime);

    // About four seconds, from one second in to five (times are positions
    // in the clip); one index entry a second, each the offset of a packet of
    // that second.
    EXPECT_GE(layout.firstTime, 1000u);
    EXPECT_LT(layout.firstTime, 1600u);
    EXPECT_NEAR(5000, static_cast<int>(layout.lastTime), 400);
    EXPECT_NEAR(4, static_cast<int>(layout.indexCount), 1);
    for (uint32_t i = 0; i < layout.indexCount; ++i) {
        const uint32_t entry = U32At(bytes, layout.indexOffset + 4 * i);
        const auto packet = std::find(layout.packetOffsets.begin(), layout.packetOffsets.end(), entry);
        ASSERT_NE(layout.packetOffsets.end(), packet) << "index entry " << i << " names no packet";
        EXPECT_GE(layout.packetTimes[static_cast<size_t>(packet - layout.packetOffsets.begin())],
                  layout.firstTime + 1000 * i);
    }

    ProcessResult extracted = Tvs({"extract", Path("movie.tvs"), Path("streams")});
    ASSERT_EQ(0, extracted.exitCode) << extracted.output;
    const Probe video = ProbeFile(Path("streams.m4v"));
    EXPECT_EQ("mpeg4", video.codec);
    EXPECT_EQ(320, video.width);
    EXPECT_EQ(240, video.height);
    EXPECT_EQ(44100, ProbeFile(Path("streams.mp3")).sampleRate);
    ProcessResult remuxed = Tvs({"remux", Path("movie.tvs"), Path("movie.mkv")});
    ASSERT_EQ(0, remuxed.exitCode) << remuxed.output;
    EXPECT_EQ("mpeg4", ProbeFile(Path("movie.mkv"), "v:0").codec);
    EXPECT_EQ("mp3", ProbeFile(Path("movie.mkv"), "a:0").codec);
}

TEST_F(TvsFileTest, RefusalsAndOutputNames)
{
    const std::string film = MakeFilm("film.mp4", 3);
    ProcessResult late = Tvs({"encode", film, Path("late"), "--start", "10", "--end", "5"});
    EXPECT_EQ(1, late.exitCode);
    EXPECT_NE(std::string::npos, late.output.find("Encoding start time offset is past the end of the input clip."))
        << late.output;
    ProcessResult empty = Tvs({"encode", film, Path("empty"), "--end", "0"});
    EXPECT_EQ(1, empty.exitCode);
    EXPECT_NE(std::string::npos, empty.output.find("Encoding duration should be greater than zero.")) << empty.output;
    EXPECT_FALSE(std::filesystem::exists(Path("late.tvs")));

    ASSERT_EQ(0, Tvs({"encode", film, Path("movie.tvs.bak")}).exitCode);
    EXPECT_TRUE(std::filesystem::exists(Path("movie.tvs.bak")));
    const std::string before = ReadFileBytes(Path("movie.tvs.bak"));
    ProcessResult again = Tvs({"encode", film, Path("movie.tvs.bak"), "--resolution", "low"});
    EXPECT_EQ(1, again.exitCode) << "no terminal to ask, no --force";
    EXPECT_NE(std::string::npos, again.output.find("The output file already exists."));
    EXPECT_EQ(before, ReadFileBytes(Path("movie.tvs.bak")));
    EXPECT_EQ(0, Tvs({"encode", film, Path("movie.tvs.bak"), "--resolution", "low", "--force"}).exitCode);
    EXPECT_NE(before, ReadFileBytes(Path("movie.tvs.bak")));

    // Damaged files are named as such.
    const std::string whole = ReadFileBytes(Path("movie.tvs.bak"));
    WriteFileBytes(Path("cut.tvs"), whole.substr(0, whole.size() / 2));
    WriteFileBytes(Path("notes.tvs"), std::string(100, 'x'));
    std::string scrambled = whole;
    scrambled[51] = 0x42;  // the top byte of the first packet header
    WriteFileBytes(Path("scrambled.tvs"), scrambled);
    for (const char* damaged : {"cut.tvs", "notes.tvs", "scrambled.tvs", "missing.tvs"}) {
        ProcessResult info = Tvs({"info", Path(damaged)});
        EXPECT_EQ(1, info.exitCode) << damaged;
        EXPECT_EQ(0u, info.output.find("orvandel-tvs: ")) << info.output;
    }
}

// A clip that already fits goes into the file as it is, to its last byte.
TEST_F(TvsFileTest, ACopiedClipKeepsEveryByteOfBothStreams)
{
    const std::string clip = Path("fits.avi");
    ASSERT_TRUE(MakeClip({"-f", "lavfi", "-i", "testsrc=size=320x240:rate=24", "-f", "lavfi", "-i",
                          "sine=frequency=440:sample_rate=44100", "-t", "4", "-c:v", "mpeg4", "-c:a", "libmp3lame",
                          "-ac", "2", clip}));
    ASSERT_EQ(0, Tvs({"encode", clip, Path("fits"), "--end", "10"}).exitCode);
    ASSERT_EQ(0, Tvs({"extract", Path("fits.tvs"), Path("streams")}).exitCode);
    EXPECT_TRUE(CarriesTheStream(ElementaryStream(clip, "0:v", Path("source.m4v")), ReadFileBytes(Path("streams.m4v")),
                                 8384));
    EXPECT_TRUE(CarriesTheStream(ElementaryStream(clip, "0:a", Path("source.mp3")), ReadFileBytes(Path("streams.mp3")),
                                 4190));
}

TEST_F(TvsFileTest, SoundOnlyAndAStopHalfway)
{
    const std::string song = Path("song.mp3");
    ASSERT_TRUE(MakeClip({"-f", "lavfi", "-i", "sine=frequency=440:sample_rate=44100", "-t", "4", "-c:a",
                          "libmp3lame", song}));
    ASSERT_EQ(0, Tvs({"encode", song, Path("song")}).exitCode);
    const Layout sound = ReadLayout(ReadFileBytes(Path("song.tvs")));
    ASSERT_EQ("", sound.problem);
    EXPECT_EQ(255u, sound.videoCodec);
    EXPECT_EQ(0, sound.video);
    EXPECT_GT(sound.audio, 0);

    // A long clip at the high settings takes a while; Ctrl+C ends it early
    // with a file that is whole.
    const std::string film = MakeFilm("long.mp4", 40);
    const pid_t encoder = StartProcess({BinPath("orvandel-tvs"), "encode", film, Path("cut"), "--resolution", "high",
                                        "--bitrate", "high"});
    std::this_thread::sleep_for(std::chrono::seconds(3));
    ::kill(encoder, SIGINT);
    const int status = WaitForExit(encoder, 60);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    const Layout cut = ReadLayout(ReadFileBytes(Path("cut.tvs")));
    ASSERT_EQ("", cut.problem);
    EXPECT_LT(cut.lastTime, 40000u) << "the stop came before the end";
    EXPECT_GT(cut.video, 0);
    EXPECT_NEAR(static_cast<int>(cut.lastTime / 1000), static_cast<int>(cut.indexCount), 2);
}

} // namespace
