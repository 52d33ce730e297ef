// Starts the real program headless and closes it the way a service manager
// would.

#include "config/settings.h"
#include "support/loopback.h"
#include "support/process.h"
#include "support/temp_config.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <signal.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

class ProgramTest : public ::testing::TestWithParam<std::vector<std::string>> {};

TEST_P(ProgramTest, StartsAndClosesCleanlyOnSigterm)
{
    TempConfig config;
    // With an account stored the program starts without its first-run dialogs.
    SetDefaultSettings();
    StoreScrambled(gSettings.record.userName, sizeof gSettings.record.userName, "viewer");
    StoreScrambled(gSettings.record.password, sizeof gSettings.record.password, "secret");
    StoreScrambled(gSettings.record.email, sizeof gSettings.record.email, "viewer@example.org");
    ASSERT_EQ(0, SaveSettings());
    pid_t program = StartOrvandel(GetParam());
    ASSERT_GT(program, 0);
    std::this_thread::sleep_for(std::chrono::seconds(3));
    ASSERT_EQ(0, kill(program, SIGTERM));
    int status = WaitForExit(program, 30);
    ASSERT_NE(-1, status) << "the program did not end";
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(0, WEXITSTATUS(status));

    std::string image = ReadFileBytes(config.SettingsFile());
    ASSERT_EQ(638564u, image.size());
    int32_t stored;
    std::memcpy(&stored, image.data(), 4);
    EXPECT_EQ(SettingsChecksum(reinterpret_cast<const uint8_t*>(image.data()) + 4, image.size() - 4), stored);
    SettingsBlock written;
    std::memcpy(&written, image.data() + 4, sizeof written);
    EXPECT_EQ(2, written.record.version);
    EXPECT_EQ(7000, written.record.basePort);
    EXPECT_EQ(255, written.channels[0].videoDevice);
}

// A silent start from the autostart entry serves the handheld on the
// configured port without anyone touching the window.
TEST(SilentProgram, ServesLoginsOnItsConfiguredPort)
{
    TempConfig config;
    SetDefaultSettings();
    const int port = FreePortTriple();
    gSettings.record.basePort = port;
    gSettings.record.listenAddress = kLoopbackHostOrder;
    gSettings.record.directoryDisabled = 1;
    StoreScrambled(gSettings.record.email, sizeof gSettings.record.email, "viewer@example.org");
    StoreScrambled(gSettings.record.userName, sizeof gSettings.record.userName, "viewer");
    StoreScrambled(gSettings.record.password, sizeof gSettings.record.password, "secret");
    ASSERT_EQ(0, SaveSettings());

    pid_t program = StartOrvandel({"/u"});
    ProcessResult login;
    for (int attempt = 0; attempt < 40 && login.Value("login_result") != "0"; ++attempt) {
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
        login = RunProcess({BinPath("orvandel-handheld"), "--port", std::to_string(port), "--timeout", "5", "--user",
                            "viewer", "--password", "secret", "login"},
                           15000);
    }
    EXPECT_EQ("0", login.Value("login_result")) << login.output;
    ProcessResult wrong = RunProcess({BinPath("orvandel-handheld"), "--port", std::to_string(port), "--timeout", "5",
                                      "--user", "viewer", "--password", "guess", "login"},
                                     15000);
    EXPECT_EQ("-2", wrong.Value("login_result")) << wrong.output;
    ASSERT_EQ(0, kill(program, SIGTERM));
    int status = WaitForExit(program, 30);
    ASSERT_NE(-1, status);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

// A first start on a box without a screen: no dialog waits for an answer
// nobody can give. The log says what is missing, and the server starts.
TEST(HeadlessFirstStart, SkipsTheDialogsAndLogsWhatIsMissing)
{
    TempConfig config;
    ProcessResult run = RunProcess({"/usr/bin/env", "ORVANDEL_WEB_HOST=127.0.0.1:9", "/bin/sh", "-c",
                                    "exec timeout -s TERM 8 " + BinPath("orvandel") + " 2>&1"},
                                   60000);
    EXPECT_EQ(124, run.exitCode) << "ended only by the signal\n" << run.output;
    for (const char* missing : {"No account is stored", "No channel is set up", "No media folder is shared"})
        EXPECT_NE(std::string::npos, run.output.find(missing)) << missing << "\n" << run.output;
    // The server went on to start; without an account it registers nobody
    // with the directory service, and says so instead of stopping.
    EXPECT_NE(std::string::npos, run.output.find("not registered with the directory service")) << run.output;
    EXPECT_EQ(std::string::npos, run.output.find("[server] Error! ")) << run.output;
    EXPECT_EQ(638564u, ReadFileBytes(config.SettingsFile()).size()) << "the settings were saved at the end";
}

INSTANTIATE_TEST_SUITE_P(Switches, ProgramTest,
                         ::testing::Values(std::vector<std::string>{}, std::vector<std::string>{"/u"}));

} // namespace
