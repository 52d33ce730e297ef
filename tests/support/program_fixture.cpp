#include "support/program_fixture.h"
#include "support/temp_config.h"

#include "config/settings.h"
#include "support/loopback.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sys/wait.h>
#include <unistd.h>

namespace {

void SetUpChannel(int index, const char* videoDevice, const char* audioDevice, int tunerChannel)
{
    ChannelRecord& channel = gSettings.channels[index];
    channel.enabled = 1;
    if (videoDevice) {
        std::snprintf(channel.videoDeviceName, sizeof channel.videoDeviceName, "%s", videoDevice);
        channel.videoDevice = 0;
        channel.videoCrossbarIn = 0;
    }
    std::snprintf(channel.audioDeviceName, sizeof channel.audioDeviceName, "%s", audioDevice);
    channel.audioDevice = 0;
    channel.tunerChannel = tunerChannel;
}

} // namespace

Probe ProbeFile(const std::string& path, const std::string& streams)
{
    std::vector<std::string> argv = {"/usr/bin/ffprobe", "-v", "error", "-count_frames", "-show_entries",
                                     "stream=codec_name,width,height,nb_read_frames,sample_rate", "-of",
                                     "default=noprint_wrappers=1", path};
    if (!streams.empty())
        argv.insert(argv.begin() + 3, {"-select_streams", streams});
    ProcessResult result = RunProcess(argv, 60000);
    Probe probe;
    probe.codec = result.Value("codec_name");
    auto number = [&](const char* key) { return std::atoi(result.Value(key).c_str()); };
    probe.width = number("width");
    probe.height = number("height");
    probe.frames = number("nb_read_frames");
    probe.sampleRate = number("sample_rate");
    return probe;
}

void RunningProgramTest::SetUp()
{
    port = FreePortTriple();
    ASSERT_TRUE(StartProgram());
}

void RunningProgramTest::TearDown()
{
    if (program > 0)
        EXPECT_GE(StopProgram(), 0) << "the program did not end cleanly";
}

bool RunningProgramTest::StartProgram()
{
    SetDefaultSettings();
    SettingsRecord& record = gSettings.record;
    record.basePort = port;
    record.listenAddress = kLoopbackHostOrder;
    record.directoryDisabled = 1;
    StoreTestAccount();
    SetUpChannel(3, "Virtual TV Tuner", "Virtual TV Tuner", 3);
    SetUpChannel(5, "Virtual TV Tuner", "Virtual TV Tuner", 5);
    SetUpChannel(20, nullptr, "Virtual Line In", -1);
    record.enabledChannels = 3;
    std::snprintf(record.recordingFolder, sizeof record.recordingFolder, "%s", config.Root().c_str());
    // The test's own folder is what the handheld may reach.
    record.mediaFolders[0].used = 1;
    std::snprintf(record.mediaFolders[0].path, sizeof record.mediaFolders[0].path, "%s", config.Root().c_str());
    if (adjustSettings)
        adjustSettings();
    if (SaveSettings() != 0)
        return false;
    return RestartProgram();
}

bool RunningProgramTest::RestartProgram()
{
    std::filesystem::create_directories(WorkingDirectory());
    program = StartOrvandel({"/u"}, WorkingDirectory(), launcher);
    for (int attempt = 0; attempt < 60; ++attempt) {
        if (Handheld({"login"}).Value("login_result") == "0")
            return true;
        usleep(250000);
    }
    return false;
}

double RunningProgramTest::StopProgram(int timeoutSeconds)
{
    const auto asked = std::chrono::steady_clock::now();
    if (::kill(program, SIGTERM) != 0)
        return -1;
    const int status = WaitForExit(program, timeoutSeconds);
    program = -1;
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - asked;
    return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0 ? took.count() : -1;
}

ProcessResult RunningProgramTest::Handheld(std::vector<std::string> arguments, int timeoutMs)
{
    std::vector<std::string> argv = {BinPath("orvandel-handheld"), "--port", std::to_string(port), "--timeout",
                                     "10", "--user", "viewer", "--password", "secret"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return RunProcess(argv, timeoutMs);
}

std::vector<std::string> RunningProgramTest::Recordings(int channel) const
{
    const std::string prefix = "Rec_ch" + std::to_string(channel) + "_";
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(config.Root()))
        if (entry.path().filename().string().starts_with(prefix) && entry.path().extension() == ".avi")
            names.push_back(entry.path().string());
    return names;
}

double DurationSeconds(const std::string& path)
{
    ProcessResult result = RunProcess(
        {"/usr/bin/ffprobe", "-v", "error", "-show_entries", "format=duration", "-of", "default=nw=1", path}, 60000);
    return std::atof(result.Value("duration").c_str());
}
