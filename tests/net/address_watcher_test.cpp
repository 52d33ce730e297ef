// The external-address watcher against the stand-in's address echo, with
// its periods shortened from seconds and minutes to milliseconds.

#include "shared/resources.h"
#include "shared/server_state.h"
#include "config/settings.h"
#include "net/connectivity.h"
#include "support/temp_config.h"
#include "support/web_standin_process.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

const char kEchoGet[] = "GET /cgi-bin/Orvandelip.cgi";
const char kRegistration[] = "registration ";
constexpr int kWaitMs = 3000;

void Pause(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

class AddressWatcherTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetDefaultSettings();
        StoreScrambled(gSettings.record.userName, sizeof gSettings.record.userName, "alice");
        SetLocalAddress("127.0.0.1");
        SetServerRunning(true);
    }

    void TearDown() override
    {
        StopAddressWatcher(2000);
        SetServerRunning(false);
        unsetenv("ORVANDEL_WEB_HOST");
    }

    std::string EchoFile() const { return config_.Root() + "/echo"; }

    // Replaces the echoed address in one step, so that the stand-in never
    // reads a half-written file.
    void Echo(const std::string& address)
    {
        WriteFileBytes(EchoFile() + ".new", address + "\n");
        std::filesystem::rename(EchoFile() + ".new", EchoFile());
    }

    TempConfig config_;
};

TEST_F(AddressWatcherTest, RegistersWhenThePublicAddressChangesButNotForTheFirstOne)
{
    Echo("2001:db8::a");
    WebStandin standin({"--echo", EchoFile()});
    ASSERT_GT(standin.Port(), 0);
    standin.UseAsWebHost();
    SetAddressWatcherPeriods(50, 100);
    ASSERT_EQ(StartAddressWatcher(), 0);

    ASSERT_TRUE(standin.WaitForLines(kEchoGet, 3, kWaitMs));
    EXPECT_EQ(standin.CountLines(kRegistration), 0u);

    Echo("2001:DB8::A");
    const size_t seen = standin.CountLines(kEchoGet);
    ASSERT_TRUE(standin.WaitForLines(kEchoGet, seen + 3, kWaitMs));
    EXPECT_EQ(standin.CountLines(kRegistration), 0u);

    Echo("2001:db8::b");
    ASSERT_TRUE(standin.WaitForLines(kRegistration, 1, kWaitMs));
    EXPECT_EQ(standin.LinesWith(kRegistration).front(), "registration un=YWxpY2U= lip=127.0.0.1 port=7000 tc=0 nat=1");
    const size_t afterChange = standin.CountLines(kEchoGet);
    ASSERT_TRUE(standin.WaitForLines(kEchoGet, afterChange + 3, kWaitMs));
    EXPECT_EQ(standin.CountLines(kRegistration), 1u);
}

TEST_F(AddressWatcherTest, WithoutAnAddressRegistersOnceTheLastRegistrationIsARefreshPeriodOld)
{
    WebStandin standin({"--echo", EchoFile() + ".missing"});
    ASSERT_GT(standin.Port(), 0);
    standin.UseAsWebHost();
    SetAddressWatcherPeriods(20, 500);
    {
        std::lock_guard hold(gReachability.lock);
        ASSERT_EQ(RegisterWithDirectory(0), 0);
    }
    const auto registered = Clock::now();
    ASSERT_EQ(StartAddressWatcher(), 0);

    ASSERT_TRUE(standin.WaitForLines(kRegistration, 2, kWaitMs));
    EXPECT_GE(Clock::now() - registered, std::chrono::milliseconds(450));
    EXPECT_GE(standin.CountLines(kEchoGet), 5u);
}

TEST_F(AddressWatcherTest, ChecksOnlyWhileTheServerRunsWithTheDirectoryAnAccountAndTheNetworkIsFree)
{
    Echo("192.0.2.1");
    WebStandin standin({"--echo", EchoFile()});
    ASSERT_GT(standin.Port(), 0);
    standin.UseAsWebHost();
    SetAddressWatcherPeriods(20, 20);
    gSettings.record.directoryDisabled = 1;
    ASSERT_EQ(StartAddressWatcher(), 0);
    EXPECT_EQ(StartAddressWatcher(), -1);

    Pause(200);
    gSettings.record.directoryDisabled = 0;
    SetServerRunning(false);
    Pause(200);
    EXPECT_EQ(standin.CountLines("GET "), 0u);

    const SettingsRecord withAccount = gSettings.record;
    std::memset(gSettings.record.userName, 0, sizeof gSettings.record.userName);
    SetServerRunning(true);
    Pause(200);
    EXPECT_EQ(standin.CountLines("GET "), 0u) << "nobody to register";
    SetServerRunning(false);
    gSettings.record = withAccount;

    gReachability.lock.lock();
    SetServerRunning(true);
    Pause(200);
    EXPECT_EQ(standin.CountLines("GET "), 0u);
    gReachability.lock.unlock();
    EXPECT_TRUE(standin.WaitForLines(kEchoGet, 1, kWaitMs));
}

TEST_F(AddressWatcherTest, StopsPromptlyDuringItsLongPause)
{
    Echo("192.0.2.1");
    WebStandin standin({"--echo", EchoFile()});
    ASSERT_GT(standin.Port(), 0);
    standin.UseAsWebHost();
    SetAddressWatcherPeriods(3600000, 3600000);
    ASSERT_EQ(StartAddressWatcher(), 0);
    ASSERT_TRUE(standin.WaitForLines(kEchoGet, 1, kWaitMs));

    const auto start = Clock::now();
    StopAddressWatcher(2000);
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(1000));
    EXPECT_EQ(StartAddressWatcher(), 0);
    EXPECT_TRUE(standin.WaitForLines(kEchoGet, 2, kWaitMs));
}

} // namespace
