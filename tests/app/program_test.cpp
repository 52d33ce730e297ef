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

std::string ProgramPath()
{
    return ORVANDEL_BIN_DIR "/orvandel";
}

pid_t StartProgram(const std::vector<std::string>& arguments)
{
    pid_t child = fork();
    if (child == 0) {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        // The directory service is on by default: keep its requests on this machine.
        setenv("ORVANDEL_WEB_HOST", "127.0.0.1:9", 1);
        std::vector<char*> argv;
        std::string program = ProgramPath();
        argv.push_back(program.data());
        std::vector<std::string> copies = arguments;
        for (std::string& argument : copies)
            argv.push_back(argument.data());
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    return child;
}

// Waits up to timeout for the child; its wait status, or -1 when it is still running.
int WaitFor(pid_t child, std::chrono::seconds timeout)
{
    auto deadline = std::chrono::steady_clock::now() + timeout;
    int status = 0;
    while (std::chrono::steady_clock::now() < deadline) {
        if (waitpid(child, &status, WNOHANG) == child)
            return status;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    kill(child, SIGKILL);
    waitpid(child, &status, 0);
    return -1;
}

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
    pid_t program = StartProgram(GetParam());
    ASSERT_GT(program, 0);
    std::this_thread::sleep_for(std::chrono::seconds(3));
    ASSERT_EQ(0, kill(program, SIGTERM));
    int status = WaitFor(program, std::chrono::seconds(30));
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

    pid_t program = StartProgram({"/u"});
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
    int status = WaitFor(program, std::chrono::seconds(30));
    ASSERT_NE(-1, status);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

INSTANTIATE_TEST_SUITE_P(Switches, ProgramTest,
                         ::testing::Values(std::vector<std::string>{}, std::vector<std::string>{"/u"}));

} // namespace
