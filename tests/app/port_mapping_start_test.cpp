// A server behind a router: the program has the stand-in router forward its
// three ports before its listener opens, then serves a handheld. The test
// runs itself again inside a network namespace of its own, where the
// server's address is private and the router and the web services are
// stand-ins on loopback, so that nothing reaches the real network.

#include "config/settings.h"
#include "support/process.h"
#include "support/temp_config.h"
#include "support/upnp_gateway.h"
#include "support/web_standin_process.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

constexpr char kInsideVariable[] = "ORVANDEL_TEST_IN_NAMESPACE";
constexpr char kServerAddress[] = "10.77.0.1";
constexpr uint32_t kServerAddressHostOrder = 0x0A4D0001;
constexpr int kBasePort = 7000;

bool NamespacesWork()
{
    return RunProcess({"/usr/bin/unshare", "-n", "/bin/true"}, 10000).exitCode == 0;
}

std::string OwnExecutable()
{
    char path[4096] = {};
    const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
    return length > 0 ? std::string(path, static_cast<size_t>(length)) : std::string();
}

// Whether a TCP socket listens on port, as this namespace's kernel lists it.
bool Listening(int port)
{
    char local[16];
    std::snprintf(local, sizeof local, ":%04X ", port);
    std::ifstream table("/proc/net/tcp");
    for (std::string line; std::getline(table, line);) {
        const size_t at = line.find(local);
        if (at != std::string::npos && at < 20 && line.compare(at + 6, 17, "00000000:0000 0A ") == 0)
            return true;
    }
    return false;
}

std::string Add(int port, const char* protocol)
{
    return "AddPortMapping " + std::to_string(port) + " " + protocol + " " + kServerAddress + " Orvandel";
}

void StoreSettingsBehindNat()
{
    SetDefaultSettings();
    SettingsRecord& record = gSettings.record;
    record.basePort = kBasePort;
    record.listenAddress = kServerAddressHostOrder;
    StoreTestAccount();
    ASSERT_EQ(0, SaveSettings());
}

// Runs inside the namespace only.
void MapThenServe()
{
    TempConfig config;
    StoreSettingsBehindNat();
    UpnpGateway router;
    WebStandin web;
    ASSERT_NE(0, web.Port());
    const pid_t program = StartProcess({"/usr/bin/env", "QT_QPA_PLATFORM=offscreen", "ORVANDEL_WEB_HOST=" + web.Host(),
                                        "ORVANDEL_UPNP_GATEWAY=" + router.RootUrl(), BinPath("orvandel"), "/u"});
    for (int attempt = 0; attempt < 3000 && !Listening(kBasePort + 1); ++attempt)
        usleep(10000);
    const std::vector<std::string> changesWhenListening = router.Changes();
    EXPECT_TRUE(Listening(kBasePort + 1)) << "the listener opened";
    EXPECT_EQ(changesWhenListening,
              (std::vector<std::string>{Add(kBasePort, "TCP"), Add(kBasePort + 1, "TCP"), Add(kBasePort + 2, "UDP")}))
        << "all three ports were mapped before the listener opened";

    const std::vector<std::string> login = {BinPath("orvandel-handheld"), "--host", kServerAddress, "--port",
                                            std::to_string(kBasePort), "--timeout", "5", "--user", "viewer",
                                            "--password", "secret", "login"};
    bool served = false;
    for (int attempt = 0; attempt < 40 && !served; ++attempt, usleep(250000))
        served = RunProcess(login, 15000).Value("login_result") == "0";
    EXPECT_TRUE(served) << "a handheld is served afterwards";
    EXPECT_TRUE(web.WaitForLines("nat=1", 1, 1000)) << "registered as behind NAT";
    ::kill(program, SIGTERM);
    const int status = WaitForExit(program, 30);
    EXPECT_TRUE(status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST(PortMappingStart, BehindARouterThePortsAreMappedBeforeTheListenerThenAHandheldIsServed)
{
    if (std::getenv(kInsideVariable)) {
        MapThenServe();
        return;
    }
    if (!NamespacesWork())
        GTEST_SKIP() << "no network namespace can be made here";
    const std::string script = "ip link set lo up && ip addr add " + std::string(kServerAddress) +
                               "/8 dev lo && ip route add default via 127.0.0.1 || exit 90\n" + kInsideVariable +
                               "=1 exec " + OwnExecutable() +
                               " --gtest_filter=PortMappingStart.BehindARouterThePortsAreMappedBeforeTheListenerThen"
                               "AHandheldIsServed 2>&1\n";
    const ProcessResult run = RunProcess({"/usr/bin/unshare", "-n", "/bin/sh", "-c", script}, 120000, true);
    EXPECT_EQ(0, run.exitCode) << run.output;
    EXPECT_NE(std::string::npos, run.output.find("[  PASSED  ] 1 test")) << run.output;
}

} // namespace
