// Who gets in and what they reach, with the real server on loopback: no
// account means no login, guessing is slowed down, and a logged-in
// handheld reaches only the shared folders and the shortcuts shown to it.

#include "encode/pipeline.h"
#include "media/file_transcoder.h"
#include "server/session_state.h"
#include "support/handheld_link.h"
#include "support/media_files.h"
#include "support/server_fixture.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

int Occurrences(const std::string& text, const std::string& part)
{
    int count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

class AccessTest : public LoopbackServerTest {
protected:
    void Configure() override
    {
        SetLoginThrottle(20, 0);
        shared = config.Root() + "/shared";
        outside = config.Root() + "/outside";
        fs::create_directories(shared);
        fs::create_directories(outside);
        ShareFolder(0, shared);
    }
    void TearDown() override
    {
        LoopbackServerTest::TearDown();
        SetFileStreamProducer(nullptr);
        SetLoginThrottle(1000, 0);
    }

    // File streams come from the program's own transcoder.
    static void StreamFilesWithTheTranscoder() { SetFileStreamProducer(&FileTranscoderFor); }

    // A raw login from a thread of its own, while this one, the window
    // thread, goes on serving the session's calls.
    bool LogsIn(const std::string& user, const std::string& password)
    {
        std::atomic<int> outcome{-1};
        std::thread handheld([&] {
            HandheldLink link;
            outcome = link.Open(port, user, password) ? 1 : 0;
        });
        WaitUntil([&] { return outcome >= 0; }, 60000);
        handheld.join();
        return outcome == 1;
    }

    std::string shared;
    std::string outside;
};

TEST_F(AccessTest, WithoutAStoredAccountNobodyLogsIn)
{
    StoreScrambled(gSettings.record.userName, sizeof gSettings.record.userName, "");
    StoreScrambled(gSettings.record.password, sizeof gSettings.record.password, "");
    EXPECT_FALSE(LogsIn("", ""));
    EXPECT_FALSE(LogsIn("viewer", "secret"));
    ProcessResult refused = Handheld({"login"});
    EXPECT_EQ("-2", refused.Value("login_result"));
    EXPECT_EQ("wrong user name or password", refused.Value("login_result_text"));
}

TEST_F(AccessTest, GuessingIsSlowedAndACorrectLoginStillGetsIn)
{
    const auto started = Clock::now();
    for (int attempt = 0; attempt < 10; ++attempt)
        EXPECT_FALSE(LogsIn("viewer", "guess" + std::to_string(attempt)));
    // Five free, then 20, 40, 80, 160 and 320 ms.
    EXPECT_GE(Clock::now() - started, std::chrono::milliseconds(620));
    EXPECT_EQ(10, FailedLoginsInARow());
    EXPECT_TRUE(LogsIn("viewer", "secret"));
    EXPECT_EQ(0, FailedLoginsInARow());

    // A handheld waiting out a long delay keeps nobody else out: the next
    // one takes over the session and its own wait starts at once.
    SetLoginThrottle(1500, 5);
    std::thread waiting([this] {
        HandheldLink link;
        link.Open(port, "viewer", "guess");
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const auto second = Clock::now();
    EXPECT_TRUE(LogsIn("viewer", "secret"));
    EXPECT_LT(Clock::now() - second, std::chrono::milliseconds(2800));
    waiting.join();
}

TEST_F(AccessTest, OnlySharedFoldersAndTheTargetsOfTheirShownShortcutsAreReached)
{
    StreamFilesWithTheTranscoder();
    const std::string film = shared + "/film.avi";
    const std::string secret = outside + "/secret.avi";
    for (const std::string& path : {film, secret})
        ASSERT_TRUE(MakeClip({"-f", "lavfi", "-i", "testsrc=size=64x48:rate=10:duration=1", "-c:v", "mpeg4", path}));
    fs::create_directory_symlink(outside, shared + "/elsewhere");

    ProcessResult etc = Handheld({"--keep-going", "ls", "/etc", "info", "/etc/passwd", "info",
                                  shared + "/../outside/secret.avi", "ls", outside});
    EXPECT_EQ(2, Occurrences(etc.output, "entry_count=0\n")) << etc.output;
    EXPECT_EQ(std::string::npos, etc.output.find("info_code=0xBE"));
    EXPECT_EQ(2, Occurrences(etc.output, "file_size=0\n")) << "no hint that either file exists";
    EXPECT_EQ("0xD2", Handheld({"file", film, "--seconds", "1"}).Value("media_file_code"));
    EXPECT_EQ("0xFF", Handheld({"file", secret, "--seconds", "1"}).Value("media_file_code"));

    // Once a listing has shown the link, its target is reached too.
    ProcessResult listed = Handheld({"ls", shared});
    EXPECT_NE(std::string::npos, listed.output.find("=" + outside)) << listed.output;
    ProcessResult target = Handheld({"ls", outside, "info", secret});
    EXPECT_NE(std::string::npos, target.output.find("secret.avi")) << target.output;
    EXPECT_EQ("0xBE", target.Value("info_code"));
    EXPECT_EQ("0xD3", Handheld({"file", secret}).Value("stream_code"));
    EXPECT_NE(std::string::npos, Handheld({"ls", "/"}).output.find(shared)) << "the shared folders as before";

    // One step deep: a link inside the target is neither listed nor followed.
    const std::string further = config.Root() + "/further";
    fs::create_directories(further);
    ASSERT_TRUE(MakeClip({"-f", "lavfi", "-i", "testsrc=size=64x48:rate=10:duration=1", "-c:v", "mpeg4",
                          further + "/deeper.avi"}));
    fs::create_directory_symlink(further, outside + "/onwards");
    ProcessResult inside = Handheld({"--keep-going", "ls", outside, "ls", further});
    EXPECT_EQ(std::string::npos, inside.output.find(further)) << inside.output;
    EXPECT_EQ("0xFF", Handheld({"file", further + "/deeper.avi", "--seconds", "1"}).Value("media_file_code"));
    // The link removed, its target is refused at once.
    fs::remove(shared + "/elsewhere");
    EXPECT_EQ("0xFF", Handheld({"file", secret, "--seconds", "1"}).Value("media_file_code"));
    EXPECT_EQ(1, Occurrences(Handheld({"ls", outside}).output, "entry_count=0\n"));
}

} // namespace
