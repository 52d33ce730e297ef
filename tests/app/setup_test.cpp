// Setting Orvandel up without a desktop, and installing it: orvandel-setup
// edits a settings file in the test's own XDG folder, the program then
// serves what it set, and `cmake --install` lays the files out.

#include "config/settings.h"
#include "support/loopback.h"
#include "support/process.h"
#include "support/program_fixture.h"
#include "support/temp_config.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr size_t kSettingsFileBytes = 638564;

class SetupTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetDefaultSettings();
        ASSERT_EQ(0, SaveSettings());
        media = config.Root() + "/films";
        fs::create_directories(media);
    }

    // orvandel-setup with the arguments, and standard input when given.
    static ProcessResult Setup(const std::string& arguments, const std::string& input = "")
    {
        const std::string command =
            (input.empty() ? "" : "printf '%s\\n' '" + input + "' | ") + BinPath("orvandel-setup") + " " + arguments;
        return RunProcess({"/bin/sh", "-c", command}, 60000, true);
    }

    // The file as the program would read it: false when it does not load.
    bool Reload() const
    {
        SetDefaultSettings();
        return ReadFileBytes(config.SettingsFile()).size() == kSettingsFileBytes && LoadSettings() == 0;
    }

    TempConfig config;
    std::string media;
};

TEST_F(SetupTest, EachVerbSetsWhatItNames)
{
    ASSERT_EQ(0, Setup("account --user viewer --password-stdin --email viewer@example.org", "secret").exitCode);
    ASSERT_TRUE(Reload());
    EXPECT_EQ("viewer", ReadScrambled(gSettings.record.userName, sizeof gSettings.record.userName));
    EXPECT_EQ("secret", ReadScrambled(gSettings.record.password, sizeof gSettings.record.password));

    ProcessResult devices = Setup("devices");
    EXPECT_NE(std::string::npos, devices.output.find("video 1: Virtual TV Tuner (tuner)")) << devices.output;
    ProcessResult channel = Setup("channel 5 --video \"Virtual TV Tuner\" --audio 1 --input Tuner --tuner-channel 5 "
                                  "--name News");
    ASSERT_EQ(0, channel.exitCode) << channel.output;
    ASSERT_TRUE(Reload());
    const ChannelRecord& five = gSettings.channels[5];
    EXPECT_EQ(1, five.enabled);
    EXPECT_STREQ("News", five.description);
    EXPECT_STREQ("Virtual TV Tuner", five.videoDeviceName);
    EXPECT_EQ(5, five.tunerChannel);
    EXPECT_EQ(1, gSettings.record.enabledChannels);
    EXPECT_EQ("viewer", ReadScrambled(gSettings.record.userName, sizeof gSettings.record.userName))
        << "the account stays";

    ASSERT_EQ(0, Setup("folder add " + media).exitCode);
    ASSERT_EQ(0, Setup("network --port 7400 --address 127.0.0.1 --directory off").exitCode);
    ASSERT_EQ(0, Setup("recording --folder " + media + " --max-minutes 30").exitCode);
    ASSERT_TRUE(Reload());
    EXPECT_STREQ(media.c_str(), gSettings.record.mediaFolders[0].path);
    EXPECT_EQ(7400, gSettings.record.basePort);
    EXPECT_EQ(1, gSettings.record.directoryDisabled);
    EXPECT_STREQ(media.c_str(), gSettings.record.recordingFolder);
    EXPECT_EQ(5, gSettings.channels[5].tunerChannel) << "the channel stays";

    ProcessResult shown = Setup("show");
    for (const char* line : {"account: viewer", "base port: 7400", "directory service: off", "channel 5: \"News\""})
        EXPECT_NE(std::string::npos, shown.output.find(line)) << shown.output;
    ASSERT_EQ(0, Setup("folder remove " + media).exitCode);
    ASSERT_TRUE(Reload());
    EXPECT_EQ(0, gSettings.record.mediaFolders[0].used);
}

TEST_F(SetupTest, BadInputIsRefusedAndLeavesTheFileAsItWas)
{
    const std::string before = ReadFileBytes(config.SettingsFile());
    struct Case {
        std::string arguments;
        std::string input;
        const char* message;
    };
    const Case cases[] = {
        {"channel 5 --video \"No Such Card\"", "", "There is no capture device"},
        {"channel 1000 --video 1", "", "between 0 and 999"},
        {"account --user " + std::string(33, 'u') + " --password-stdin --email v@example.org", "secret", "username"},
        {"folder add " + config.Root() + "/missing", "", "is no folder"},
        {"recording --folder " + config.Root() + "/missing", "", "is no folder"},
    };
    for (const Case& bad : cases) {
        ProcessResult result = Setup(bad.arguments, bad.input);
        EXPECT_EQ(1, result.exitCode) << bad.arguments;
        EXPECT_NE(std::string::npos, result.output.find(bad.message)) << result.output;
        EXPECT_EQ(before, ReadFileBytes(config.SettingsFile())) << bad.arguments;
    }
    EXPECT_EQ(2, Setup("channel").exitCode);
    EXPECT_EQ(0, Setup("--help").exitCode);
}

// A tuner scan and a playlist both end as channels, as the capture options'
// Auto Tune and a user's hand would make them.
TEST_F(SetupTest, ScanAndPlaylistImportMakeChannels)
{
    ProcessResult scan = Setup("scan --device \"Virtual TV Tuner\" --from 10");
    ASSERT_EQ(0, scan.exitCode) << scan.output;
    EXPECT_NE(std::string::npos, scan.output.find("4 channels found")) << scan.output;
    ASSERT_TRUE(Reload());
    const int tuned[] = {3, 5, 9, 13};
    for (int i = 0; i < 4; ++i) {
        const ChannelRecord& channel = gSettings.channels[10 + i];
        EXPECT_TRUE(channel.enabled);
        EXPECT_EQ(tuned[i], channel.tunerChannel);
        EXPECT_EQ("TV Channel " + std::to_string(tuned[i]), std::string(channel.description));
        EXPECT_EQ("Virtual TV Tuner", std::string(channel.videoDeviceName));
    }
    EXPECT_FALSE(gSettings.channels[14].enabled);

    const std::string playlist = config.Root() + "/tv.m3u";
    WriteFileBytes(playlist, "#EXTM3U\n#EXTINF:-1 tvg-name=\"a,b\",News One\nhttp://127.0.0.1:9/news.ts\n"
                             "#EXTINF:-1,Sport, Live\nhttp://127.0.0.1:9/sport.m3u8\nudp://239.1.1.1:5000\n");
    ProcessResult imported = Setup("source import " + playlist);
    ASSERT_EQ(0, imported.exitCode) << imported.output;
    EXPECT_EQ("News One: http://127.0.0.1:9/news.ts\nSport, Live: http://127.0.0.1:9/sport.m3u8\n"
              "udp://239.1.1.1:5000: udp://239.1.1.1:5000\n",
              Setup("source list").output);
    ASSERT_TRUE(Reload());
    const char* names[] = {"News One", "Sport, Live", "udp://239.1.1.1:5000"};
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(gSettings.channels[i].enabled);
        EXPECT_EQ(names[i], std::string(gSettings.channels[i].videoDeviceName));
        EXPECT_EQ(names[i], std::string(gSettings.channels[i].audioDeviceName));
    }
    EXPECT_NE(std::string::npos, Setup("devices").output.find("video 2: News One; inputs: Video Tuner"));

    EXPECT_NE(std::string::npos, Setup("scan --device \"News One\"").output.find("has no tuner to scan"));
    EXPECT_NE(std::string::npos, Setup("source add \"News One\" rtsp://127.0.0.1:9/").output.find("named \"News One\" already"));
    EXPECT_NE(std::string::npos, Setup("source add Cam ftp://127.0.0.1/").output.find("rtsp, http(s), udp and rtp"));
    ASSERT_EQ(0, Setup("source remove \"Sport, Live\"").exitCode);
    EXPECT_EQ(std::string::npos, Setup("source list").output.find("Sport"));
}

// What a user with a failing card sends: the devices in detail, and a probe
// that captures into a file and says which step failed and why.
TEST_F(SetupTest, DevicesInDetailAndAProbeOfEach)
{
    const std::string devices = Setup("devices --verbose").output;
    EXPECT_NE(std::string::npos, devices.find("    frame sizes: 320x240, 640x480, 720x576\n")) << devices;
    EXPECT_NE(std::string::npos, devices.find("    tuner channels: 2 to 69\n")) << devices;

    const std::string file = config.Root() + "/probe.mkv";
    ProcessResult probe = Setup("probe \"Virtual TV Tuner\" --seconds 2 --out " + file);
    ASSERT_EQ(0, probe.exitCode) << probe.output;
    EXPECT_EQ(std::string::npos, probe.output.find("FAILS")) << probe.output;
    EXPECT_EQ("mpeg4", ProbeFile(file, "v:0").codec);
    EXPECT_GE(ProbeFile(file, "v:0").frames, 40);
    EXPECT_EQ(44100, ProbeFile(file, "a:0").sampleRate);

    ASSERT_EQ(0, Setup("source add Away http://127.0.0.1:9/").exitCode);
    ProcessResult away = Setup("probe Away --seconds 1 --out " + config.Root() + "/away.mkv");
    EXPECT_EQ(1, away.exitCode);
    EXPECT_NE(std::string::npos, away.output.find("FAILS: starting the capture")) << away.output;
    EXPECT_NE(std::string::npos, away.output.find("(http://127.0.0.1:9/) could not be opened: Connection refused"))
        << away.output;
    EXPECT_FALSE(fs::exists(config.Root() + "/away.mkv"));
}

// What orvandel-setup set is what the program serves, and while it runs the
// tool leaves the file alone.
TEST_F(SetupTest, TheProgramServesWhatWasSetUp)
{
    const int port = FreePortTriple();
    ASSERT_EQ(0, Setup("account --user viewer --password-stdin --email viewer@example.org", "secret").exitCode);
    ASSERT_EQ(0, Setup("channel 5 --video 1 --audio 1 --tuner-channel 5").exitCode);
    ASSERT_EQ(0, Setup("network --port " + std::to_string(port) + " --address 127.0.0.1 --directory off").exitCode);
    const pid_t program = StartOrvandel({"/u"});
    const std::vector<std::string> handheld = {BinPath("orvandel-handheld"), "--port", std::to_string(port),
                                               "--user", "viewer", "--password", "secret"};
    bool loggedIn = false;
    for (int attempt = 0; attempt < 60 && !loggedIn; ++attempt, usleep(250000)) {
        std::vector<std::string> login = handheld;
        login.push_back("login");
        loggedIn = RunProcess(login, 10000).Value("login_result") == "0";
    }
    EXPECT_TRUE(loggedIn);
    std::vector<std::string> watch = handheld;
    watch.insert(watch.end(), {"live", "5", "--seconds", "4"});
    ProcessResult watched = RunProcess(watch, 60000);
    EXPECT_EQ("0xD4", watched.Value("stream_code")) << watched.output;
    EXPECT_NE("0", watched.Value("audio_packets"));

    ProcessResult refused = Setup("folder add " + media);
    EXPECT_EQ(1, refused.exitCode);
    EXPECT_NE(std::string::npos, refused.output.find("Orvandel is running")) << refused.output;
    ::kill(program, SIGTERM);
    EXPECT_NE(-1, WaitForExit(program, 30));
}

TEST(InstallTest, TheInstallLaysOutTheProgramAndItsFiles)
{
    TempConfig place;
    const std::string prefix = place.Root() + "/prefix";
    const std::string build = fs::path(BinPath("orvandel")).parent_path().parent_path().string();
    ProcessResult installed = RunProcess({"/usr/bin/cmake", "--install", build, "--prefix", prefix}, 120000, true);
    ASSERT_EQ(0, installed.exitCode) << installed.output;
    for (const char* file : {"bin/orvandel", "bin/orvandel-handheld", "bin/orvandel-setup", "bin/orvandel-tvs",
                             "share/applications/orvandel.desktop", "share/icons/hicolor/scalable/apps/orvandel.svg",
                             "share/orvandel/help/index.html", "share/orvandel/help/troubleshooting.html",
                             "share/man/man1/orvandel.1", "share/man/man1/orvandel-setup.1",
                             "share/man/man1/orvandel-handheld.1", "share/man/man1/orvandel-tvs.1",
                             "lib/systemd/user/orvandel.service"})
        EXPECT_TRUE(fs::exists(prefix + "/" + file)) << file;
    const std::string unit = ReadFileBytes(prefix + "/lib/systemd/user/orvandel.service");
    EXPECT_NE(std::string::npos, unit.find("ExecStart=" + prefix + "/bin/orvandel /u\n")) << unit;
    EXPECT_NE(std::string::npos, unit.find("Environment=QT_QPA_PLATFORM=offscreen")) << unit;
    EXPECT_EQ(0, RunProcess({"/usr/bin/desktop-file-validate", prefix + "/share/applications/orvandel.desktop"},
                            30000, true)
                     .exitCode);
    if (fs::exists("/run/systemd/system")) {
        ProcessResult verified = RunProcess(
            {"/usr/bin/systemd-analyze", "--user", "verify", prefix + "/lib/systemd/user/orvandel.service"}, 30000, true);
        EXPECT_EQ(0, verified.exitCode) << verified.output;
    }
}

} // namespace
