#pragma once
// The real program, started headless on a free loopback port with an
// account and channels on the virtual TV card (3 and 5 with picture and
// sound, 20 with sound only), recording into the test's own folder, which
// is also its one shared media folder.

#include "support/process.h"
#include "support/temp_config.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

class RunningProgramTest : public ::testing::Test {
protected:
    void SetUp() override;
    // The program must also end cleanly: no thread left hanging, no leak.
    void TearDown() override;

    // Writes the settings and starts the program; true once it answers logins.
    bool StartProgram();
    // Starts it again with the settings it saved; true once it answers logins.
    bool RestartProgram();
    // SIGTERM; the seconds the program took to end, or -1 when it did not end
    // cleanly within timeoutSeconds.
    double StopProgram(int timeoutSeconds = 60);

    // Runs the handheld client, logged in as the known account.
    ProcessResult Handheld(std::vector<std::string> arguments, int timeoutMs = 60000);

    // Where the program runs; nothing it does may leave a file there.
    std::string WorkingDirectory() const { return config.Root() + "/cwd"; }

    // The recordings (.avi files; their pictures aside) the program wrote
    // for a channel, by path.
    std::vector<std::string> Recordings(int channel) const;

    TempConfig config;
    // Changes a test makes to the settings StartProgram writes.
    std::function<void()> adjustSettings;
    // What the program is started under (see StartOrvandel).
    std::vector<std::string> launcher;
    int port = 0;
    pid_t program = -1;
};

// What ffprobe counts in a media file: in its last stream, or in the
// selected one ("v:0" for the first video stream).
struct Probe {
    std::string codec;
    int width = 0;
    int height = 0;
    int frames = 0;
    int sampleRate = 0;
};
Probe ProbeFile(const std::string& path, const std::string& streams = "");
// A media file's length in seconds, as ffprobe reads it; 0 when it cannot.
double DurationSeconds(const std::string& path);
