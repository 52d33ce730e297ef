// The gateway's remuxing of the server's elementary streams into
// fragmented MP4, read back by ffprobe as a browser would play it.
#include "fragment_cache.h"
#include "live_remuxer.h"

#include "support/media_files.h"
#include "support/temp_config.h"

#include <gtest/gtest.h>

#include <fstream>

namespace {

using web::Bytes;

constexpr double kSeconds = 4.0;
constexpr size_t kVideoChunk = 8384;
constexpr size_t kAudioChunk = 4190;

Bytes ReadFile(const std::string& path)
{
    const std::string bytes = ReadFileBytes(path);
    return Bytes(bytes.begin(), bytes.end());
}

void WriteFile(const std::string& path, const std::vector<const Bytes*>& parts)
{
    std::ofstream file(path, std::ios::binary);
    for (const Bytes* part : parts)
        file.write(reinterpret_cast<const char*>(part->data()), std::streamsize(part->size()));
}

std::string Probe(const std::string& path, const std::string& entries, const std::string& extra = {})
{
    std::vector<std::string> argv = {"/usr/bin/ffprobe", "-v", "error", "-of", "default=nw=1"};
    if (!extra.empty())
        argv.insert(argv.end(), {"-select_streams", "v", "-read_intervals", extra, "-show_frames"});
    argv.insert(argv.end(), {"-show_entries", entries, path});
    return RunProcess(argv, 30000).output;
}

double ProbedNumber(const std::string& text, const std::string& key)
{
    const size_t at = text.find(key + "=");
    return at == std::string::npos ? -1 : std::stod(text.substr(at + key.size() + 1));
}

// The server's chunks: fixed sizes, each stamped with the stream time at
// which its last byte was made, the two kinds in time order.
struct Chunk {
    bool video;
    uint32_t timeMs;
    Bytes bytes;
};

std::vector<Chunk> Chunks(const Bytes& video, const Bytes& audio)
{
    std::vector<Chunk> chunks;
    for (const auto& [stream, size, isVideo] : {std::tuple(&video, kVideoChunk, true), std::tuple(&audio, kAudioChunk, false)}) {
        for (size_t at = 0; at < stream->size(); at += size) {
            const size_t end = std::min(at + size, stream->size());
            const auto timeMs = uint32_t(kSeconds * 1000 * double(end) / double(stream->size()));
            chunks.push_back({isVideo, timeMs, Bytes(stream->begin() + long(at), stream->begin() + long(end))});
        }
    }
    std::stable_sort(chunks.begin(), chunks.end(), [](const Chunk& a, const Chunk& b) { return a.timeMs < b.timeMs; });
    return chunks;
}

class LiveRemuxerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const std::string video = folder_.Root() + "/stream.h264";
        const std::string audio = folder_.Root() + "/stream.mp3";
        // What the live encoder sends: H.264 without B-frames, a key frame
        // every second, and MP3 at 44.1 kHz.
        ASSERT_TRUE(MakeClip({"-f", "lavfi", "-i", "testsrc=size=320x240:rate=24", "-t", "4", "-c:v", "libx264",
                              "-bf", "0", "-g", "24", "-pix_fmt", "yuv420p", "-f", "h264", video}));
        ASSERT_TRUE(MakeClip({"-f", "lavfi", "-i", "sine=frequency=440:sample_rate=44100", "-t", "4", "-ac", "2",
                              "-c:a", "libmp3lame", "-b:a", "64k", "-f", "mp3", audio}));
        chunks_ = Chunks(ReadFile(video), ReadFile(audio));
    }

    // Runs the chunks through a remuxer and keeps what comes out.
    void Remux(size_t chunkCount, web::FragmentCache* cache = nullptr)
    {
        web::RemuxOutput output;
        output.init = [this, cache](web::InitSegment init) {
            init_ = init;
            if (cache)
                cache->start(std::move(init));
        };
        output.fragment = [this, cache](web::Fragment fragment) {
            if (cache)
                cache->add(fragment);
            fragments_.push_back(std::move(fragment));
        };
        web::LiveRemuxer remuxer(web::StreamFormat{true, true, 24, 44100, true}, 10.0, std::move(output));
        for (size_t i = 0; i < std::min(chunkCount, chunks_.size()); ++i) {
            const Chunk& chunk = chunks_[i];
            const bool added = chunk.video ? remuxer.addVideo(chunk.timeMs, chunk.bytes)
                                           : remuxer.addAudio(chunk.timeMs, chunk.bytes);
            ASSERT_TRUE(added) << remuxer.error();
        }
    }

    TempConfig folder_;
    std::vector<Chunk> chunks_;
    web::InitSegment init_;
    std::vector<web::Fragment> fragments_;
};

TEST_F(LiveRemuxerTest, FragmentsPlayForTheWholeStreamWithPictureAndAacSound)
{
    Remux(chunks_.size());
    EXPECT_EQ(init_.width, 320);
    EXPECT_EQ(init_.height, 240);
    EXPECT_EQ(init_.codecs.substr(0, 5), "avc1.");
    EXPECT_NE(init_.codecs.find(",mp4a.40.2"), std::string::npos) << init_.codecs;
    ASSERT_FALSE(fragments_.empty());
    EXPECT_TRUE(fragments_.front().key);
    EXPECT_NEAR(fragments_.front().seconds, 10.0, 1e-9);

    std::vector<const Bytes*> parts = {&init_.bytes};
    for (const auto& fragment : fragments_)
        parts.push_back(&fragment.bytes);
    const std::string path = folder_.Root() + "/all.mp4";
    WriteFile(path, parts);
    const std::string format = Probe(path, "format=duration");
    // The parser holds the last picture back until a next one begins.
    EXPECT_NEAR(ProbedNumber(format, "duration"), kSeconds, 0.15) << format;
    const std::string streams = Probe(path, "stream=codec_name");
    EXPECT_NE(streams.find("codec_name=h264"), std::string::npos) << streams;
    EXPECT_NE(streams.find("codec_name=aac"), std::string::npos) << streams;
    // One fragment per picture, each a picture later than the one before.
    EXPECT_GE(fragments_.size(), 24 * 4 - 2);
    EXPECT_NEAR(fragments_[24].seconds - fragments_[0].seconds, 1.0, 1e-6);
}

TEST_F(LiveRemuxerTest, LateJoinerStartsWithTheLastKeyFrame)
{
    web::FragmentCache cache;
    Remux(chunks_.size() * 2 / 3, &cache);
    ASSERT_TRUE(cache.init());
    ASSERT_FALSE(cache.sinceKey().empty());
    EXPECT_TRUE(cache.sinceKey().front().key);
    // The key frame cached is the newest: the stream went past several.
    EXPECT_GE(cache.sinceKey().front().seconds, 11.0);
    EXPECT_LT(cache.sinceKey().size(), 25u);

    std::vector<const Bytes*> parts = {&cache.init()->bytes};
    for (const auto& fragment : cache.sinceKey())
        parts.push_back(&fragment.bytes);
    const std::string path = folder_.Root() + "/joined.mp4";
    WriteFile(path, parts);
    const std::string first = Probe(path, "frame=key_frame,pict_type", "%+#1");
    EXPECT_NE(first.find("key_frame=1"), std::string::npos) << first;
    EXPECT_NE(first.find("pict_type=I"), std::string::npos) << first;
}

}  // namespace
