// Media files on the handheld, end to end: the real program sends on or
// transcodes clips that the test makes with the ffmpeg tool, and the
// handheld client receives them to their end packets.

#include "support/media_files.h"
#include "support/program_fixture.h"
#include "support/temp_config.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

namespace {

class FileStreamTest : public RunningProgramTest {
protected:
    std::string Path(const std::string& name) const { return config.Root() + "/" + name; }

    // A test picture with a tone: MPEG-4 and MP3 at 44,100 Hz for ".avi",
    // H.264 and AAC for ".mp4".
    std::string MakeTestClip(const std::string& name, int seconds, const std::string& size, int rate)
    {
        const bool avi = name.ends_with(".avi");
        const std::string path = Path(name);
        EXPECT_TRUE(MakeClip({"-f", "lavfi", "-i", "testsrc=size=" + size + ":rate=" + std::to_string(rate), "-f",
                              "lavfi", "-i", "sine=frequency=440:sample_rate=44100", "-t", std::to_string(seconds),
                              "-c:v", avi ? "mpeg4" : "libx264", "-c:a", avi ? "libmp3lame" : "aac", "-ac", "2",
                              path}));
        return path;
    }

    // Plays a file to its end packets; what arrived goes to PREFIX.*.
    ProcessResult Play(const std::string& path, const std::string& prefix, std::vector<std::string> options = {})
    {
        std::vector<std::string> arguments = {"file", path, "--out", Path(prefix)};
        arguments.insert(arguments.end(), options.begin(), options.end());
        return Handheld(arguments, 120000);
    }

    static int Number(const ProcessResult& result, const std::string& key)
    {
        return std::atoi(result.Value(key).c_str());
    }

    // A file stream ends with an end packet for each of its streams, and
    // the sender sends no chunk after the first of them.
    void ExpectEndedWithEndPacket(const ProcessResult& result)
    {
        EXPECT_EQ("0xD3", result.Value("stream_code")) << result.output;
        const std::string end = result.Value("stream_end");
        EXPECT_TRUE(end == "ends" || end == "end_quiet") << result.output;
        const bool video = result.Value("header_video_codec") != "255";
        EXPECT_EQ(video ? "1" : "0", result.Value("video_end")) << result.output;
        EXPECT_EQ("1", result.Value("audio_end")) << result.output;
        EXPECT_EQ("0", result.Value("packets_after_end"));
    }
};

TEST_F(FileStreamTest, AClipThatFitsTheRequestIsSentAsItIs)
{
    const std::string clip = MakeTestClip("fits.avi", 4, "320x240", 24);
    ProcessResult result = Play(clip, "copied", {"--quality", "1"});
    ExpectEndedWithEndPacket(result);
    EXPECT_EQ("0", result.Value("header_video_codec"));
    EXPECT_EQ("24", result.Value("header_frame_rate"));
    EXPECT_NEAR(4000, Number(result, "header_duration_ms"), 150);
    EXPECT_EQ("0", result.Value("video_time_backwards"));

    EXPECT_TRUE(CarriesTheStream(ElementaryStream(clip, "0:v", Path("source.m4v")), ReadFileBytes(Path("copied.m4v")),
                                 8384));
    EXPECT_TRUE(CarriesTheStream(ElementaryStream(clip, "0:a", Path("source.mp3")), ReadFileBytes(Path("copied.mp3")),
                                 4190));

    ProcessResult h264 = Play(clip, "h264", {"--quality", "1", "--codec", "h264"});
    ExpectEndedWithEndPacket(h264);
    EXPECT_EQ("2", h264.Value("header_video_codec"));
    Probe encoded = ProbeFile(Path("h264.h264"));
    EXPECT_EQ("h264", encoded.codec);
    EXPECT_NEAR(4 * 24, encoded.frames, 5);
    EXPECT_TRUE(std::filesystem::is_empty(WorkingDirectory())) << "nothing of a file stream reaches the disk";
}

TEST_F(FileStreamTest, AnH264FileIsTranscodedAtTheRequestedRateAndSize)
{
    const std::string clip = MakeTestClip("film.mp4", 4, "640x480", 30);
    ProcessResult result = Play(clip, "film", {"--quality", "1"});
    ExpectEndedWithEndPacket(result);
    EXPECT_EQ("640", result.Value("header_ratio_width"));
    EXPECT_EQ("480", result.Value("header_ratio_height"));
    EXPECT_EQ("0", result.Value("header_subtitle_kind"));
    Probe video = ProbeFile(Path("film.m4v"));
    EXPECT_EQ("mpeg4", video.codec);
    EXPECT_EQ(320, video.width);
    EXPECT_EQ(240, video.height);
    EXPECT_NEAR(4 * 24, video.frames, 5);
    Probe audio = ProbeFile(Path("film.mp3"));
    EXPECT_EQ("mp3", audio.codec);
    EXPECT_EQ(44100, audio.sampleRate);
    EXPECT_NEAR(4000, Number(result, "audio_last_ms"), 600);
}

TEST_F(FileStreamTest, AStartOffsetSkipsTheBeginning)
{
    const std::string clip = MakeTestClip("long.avi", 8, "320x240", 25);
    ProcessResult result = Play(clip, "late", {"--quality", "1", "--start", "3"});
    ExpectEndedWithEndPacket(result);
    EXPECT_NEAR(3000, Number(result, "video_first_ms"), 100);
    // A chunk is stamped when it is full: a sound chunk holds half a second.
    EXPECT_GE(Number(result, "audio_first_ms"), 3000);
    EXPECT_LT(Number(result, "audio_first_ms"), 3700);
    EXPECT_NEAR(5 * 24, ProbeFile(Path("late.m4v")).frames, 6);
}

TEST_F(FileStreamTest, AMusicFileSendsOnlySound)
{
    const std::string song = Path("song.mp3");
    ASSERT_TRUE(MakeClip({"-f", "lavfi", "-i", "sine=frequency=440:sample_rate=22050", "-t", "3", "-c:a",
                          "libmp3lame", song}));
    ProcessResult result = Play(song, "song", {"--quality", "1"});
    ExpectEndedWithEndPacket(result);
    EXPECT_EQ("1", result.Value("audio_end"));
    EXPECT_EQ("255", result.Value("header_video_codec"));
    EXPECT_EQ("15", result.Value("header_frame_rate"));
    EXPECT_EQ("128000", result.Value("header_audio_bitrate"));
    EXPECT_EQ("0", result.Value("video_packets"));
    EXPECT_EQ(44100, ProbeFile(Path("song.mp3")).sampleRate);
}

TEST_F(FileStreamTest, SubtitlesFromAFileAndFromATimedTextTrack)
{
    const std::string clip = MakeTestClip("talk.mp4", 4, "320x240", 24);
    const std::string srt = Path("talk.srt");
    WriteFileBytes(srt, "1\n00:00:01,000 --> 00:00:03,000\nHello there\n\n");
    ProcessResult fromFile = Play(clip, "file", {"--subtitle-file", srt, "--subtitle-stream", "0"});
    ExpectEndedWithEndPacket(fromFile);
    EXPECT_EQ("1", fromFile.Value("header_subtitle_kind"));
    EXPECT_EQ("1", fromFile.Value("subtitle_packets")) << "an entry spanning 2 s is queued once";
    EXPECT_NE(std::string::npos, ReadFileBytes(Path("file.subs")).find("Hello there"));

    const std::string tracked = Path("tracked.mp4");
    ASSERT_TRUE(MakeClip({"-i", clip, "-i", srt, "-map", "0", "-map", "1", "-c:v", "copy", "-c:a", "copy", "-c:s",
                          "mov_text", tracked}));
    // As a handheld does: the file's description first, which forgets the
    // subtitle file of the last one.
    ProcessResult fromTrack =
        Handheld({"info", tracked, "file", tracked, "--subtitle-stream", "2", "--out", Path("track")}, 120000);
    ExpectEndedWithEndPacket(fromTrack);
    EXPECT_EQ("2", fromTrack.Value("header_subtitle_kind"));
    EXPECT_EQ("1", fromTrack.Value("subtitle_packets"));
    const std::string records = ReadFileBytes(Path("track.subs"));
    EXPECT_EQ(0u, records.find("Time#:")) << records;
    EXPECT_NE(std::string::npos, records.find("Hello there"));
}

TEST_F(FileStreamTest, AStreamStoppedHalfwayLeavesNothingBehind)
{
    const std::string clip = MakeTestClip("long.avi", 8, "320x240", 25);
    // Throttled by the rings, the transcoder is still at work after a second.
    ProcessResult result = Handheld({"file", clip, "--quality", "2", "--seconds", "1", "live", "5", "--seconds", "5"},
                                    120000);
    EXPECT_NE(std::string::npos, result.output.find("stream_code=0xD3")) << result.output;
    EXPECT_EQ("0xD4", result.Value("stream_code")) << result.output;
    EXPECT_GT(Number(result, "video_packets"), 0);
    EXPECT_EQ(0, result.exitCode);
    // The fixture's clean shutdown shows that no thread was left behind.
}

TEST_F(FileStreamTest, BadFilesAreRefusedAndTheServerGoesOn)
{
    const std::string clip = MakeTestClip("good.avi", 4, "320x240", 25);
    WriteFileBytes(Path("notes.avi"), "These are not the pictures you are looking for.\n");
    WriteFileBytes(Path("empty.mp4"), "");
    for (const std::string& bad : {Path("notes.avi"), Path("empty.mp4"), config.Root()})
        EXPECT_EQ("0xFF", Play(bad, "bad").Value("stream_code")) << bad;
    EXPECT_EQ("0xFF", Play(Path("missing.avi"), "bad").Value("media_file_code")) << "nothing to share";
    EXPECT_EQ("0xFF", Play(clip, "bad", {"--video-stream", "7"}).Value("stream_code"));
    EXPECT_EQ("0xFF", Play(clip, "bad", {"--audio-stream", "0"}).Value("stream_code"));
    EXPECT_EQ("0xFF", Play(clip, "bad", {"--start", "60"}).Value("stream_code"));

    // Cut halfway: what is there plays, and the stream still ends.
    const std::string whole = ReadFileBytes(clip);
    WriteFileBytes(Path("cut.avi"), whole.substr(0, whole.size() / 2));
    ProcessResult cut = Play(Path("cut.avi"), "cut", {"--quality", "1"});
    ExpectEndedWithEndPacket(cut);
    EXPECT_GT(ProbeFile(Path("cut.m4v")).frames, 24);

    ExpectEndedWithEndPacket(Play(clip, "good"));
}

} // namespace
