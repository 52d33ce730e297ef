// Unattended starts: a silent or headless server whose directory service
// cannot be reached keeps serving the LAN and tries again. The first start
// runs inside a network namespace of its own (only "lo"), so that nothing
// reaches the real network.

#include "config/settings.h"
#include "support/loopback.h"
#include "support/process.h"
#include "support/temp_config.h"
#include "support/web_standin_process.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <string>
#include <thread>
#include <unistd.h>

namespace {

// Whether this machine lets the test make a network namespace.
bool NamespacesWork()
{
    return RunProcess({"/usr/bin/unshare", "-n", "/bin/true"}, 10000).exitCode == 0;
}

TEST(UnattendedStart, ADefaultFirstStartListensOnTheLanAndEndsCleanly)
{
    if (!NamespacesWork())
        GTEST_SKIP() << "no network namespace can be made here";
    TempConfig config;
    // Default settings: port 7000, the directory service on, no account.
    const std::string script = "ip link set lo up || exit 90\n"
                               "QT_QPA_PLATFORM=offscreen " + BinPath("orvandel") + " 2>&1 &\n"
                               "program=$!\n"
                               "for attempt in $(seq 40); do\n"
                               "  " + BinPath("orvandel-handheld") + " --port 7000 --timeout 2 login 2>/dev/null"
                               " | grep -q 'login_result=-2' && { echo listening=yes; break; }\n"
                               "  sleep 0.25\n"
                               "done\n"
                               "started=$(date +%s%N)\n"
                               "kill -TERM $program; wait $program; echo exit=$?\n"
                               "echo stop_ms=$(( ($(date +%s%N) - started) / 1000000 ))\n";
    ProcessResult run = RunProcess({"/usr/bin/unshare", "-n", "/bin/sh", "-c", script}, 90000, true);
    EXPECT_EQ("yes", run.Value("listening")) << "a handheld on the LAN is answered\n" << run.output;
    EXPECT_EQ("0", run.Value("exit")) << run.output;
    EXPECT_LT(std::atoi(run.Value("stop_ms").c_str()), 5000);
    EXPECT_NE(std::string::npos, run.output.find("No account is stored")) << run.output;
    EXPECT_NE(std::string::npos, run.output.find("not registered with the directory service")) << run.output;
    EXPECT_EQ(std::string::npos, run.output.find("Error! Could not connect to Vantorel directory service"))
        << "nobody is there to read it";
    EXPECT_EQ(638564u, ReadFileBytes(config.SettingsFile()).size()) << "the settings were saved";
}

TEST(UnattendedStart, ASilentServerServesTheLanAndRegistersOnceTheDirectoryIsBack)
{
    TempConfig config;
    const int directoryPort = FreePortTriple();  // nothing answers there until the test starts it
    const int port = FreePortTriple();
    SetDefaultSettings();
    SettingsRecord& record = gSettings.record;
    record.basePort = port;
    record.listenAddress = kLoopbackHostOrder;
    StoreTestAccount();
    ASSERT_EQ(0, SaveSettings());
    const pid_t program = StartProcess({"/usr/bin/env", "QT_QPA_PLATFORM=offscreen",
                                        "ORVANDEL_WEB_HOST=127.0.0.1:" + std::to_string(directoryPort),
                                        "ORVANDEL_DIRECTORY_RETRY_SECONDS=2", BinPath("orvandel"), "/u"});
    const std::vector<std::string> login = {BinPath("orvandel-handheld"), "--port", std::to_string(port),
                                            "--timeout", "5", "--user", "viewer", "--password", "secret", "login"};
    bool served = false;
    for (int attempt = 0; attempt < 40 && !served; ++attempt, usleep(250000))
        served = RunProcess(login, 15000).Value("login_result") == "0";
    EXPECT_TRUE(served) << "the LAN is served without the directory";

    WebStandin directory({}, directoryPort);
    ASSERT_EQ(directoryPort, directory.Port());
    EXPECT_TRUE(directory.WaitForLines("registration un=dmlld2Vy", 1, 20000)) << "registered once it was back";
    ::kill(program, SIGTERM);
    const int status = WaitForExit(program, 30);
    EXPECT_TRUE(status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

} // namespace
