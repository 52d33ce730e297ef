// The port-mapping run against a stand-in router on loopback: the engine's
// worker threads talk UPnP to it, and the posted notifications drive the
// policy on this test's event loop, as on the program's window thread.

#include "config/settings.h"
#include "net/connectivity.h"
#include "net/port_mapping_policy.h"
#include "platform/messages.h"
#include "platform/recording_sink.h"
#include "shared/resources.h"
#include "shared/server_state.h"
#include "support/temp_config.h"
#include "support/test_application.h"
#include "support/upnp_gateway.h"
#include "support/web_standin_process.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cstdlib>
#include <filesystem>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr char kLocal[] = "10.1.2.3";
constexpr int kBase = 7000;
constexpr int kRunLimitMs = 15000;
// The tests' own policy reports to the view, apart from the program's one,
// which reports to the frame.
constexpr MessageTarget kTarget = MessageTarget::View;

using Strings = std::vector<std::string>;

// A loopback port with nothing behind it.
int ClosedPort()
{
    const int socket = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(socket, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(socket);
    return ntohs(address.sin_port);
}

std::string Add(int port, const char* protocol)
{
    return "AddPortMapping " + std::to_string(port) + " " + protocol + " " + kLocal + " Orvandel";
}

std::string Delete(int port, const char* protocol)
{
    return "DeletePortMapping " + std::to_string(port) + " " + protocol;
}

class PortForwardTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Application();
        gSettings.record.basePort = kBase;
        SetLocalAddress(kLocal);
        gReachability.portsMapped = 0;
        SetConfiguringPorts(false);
        gReachability.mappingEnded.Reset();
        setenv("ORVANDEL_UPNP_GATEWAY", gateway.RootUrl().c_str(), 1);
        SetMessageSink(&messages);
        // Notifications other tests' runs left queued go nowhere.
        SetMessageHandler(MessageTarget::Frame, {});
        QCoreApplication::processEvents();
        SetMessageHandler(kTarget, [this](unsigned message, uintptr_t code, intptr_t value) {
            if (message == kMsgPortForward)
                policy.OnEngineNotification(code, value);
        });
    }

    void TearDown() override
    {
        WaitUntil([this] { return !engine.IsBusy(); }, kRunLimitMs);
        SetMessageHandler(kTarget, {});
        SetMessageHandler(MessageTarget::Frame, {});
        SetMessageSink(nullptr);
        unsetenv("ORVANDEL_UPNP_GATEWAY");
    }

    // One server start's mapping run, to its end.
    void RunPortMapping()
    {
        ASSERT_EQ(policy.StartPortMapping(), 0);
        ASSERT_TRUE(WaitUntil([] { return gReachability.mappingEnded.Wait(0); }, kRunLimitMs));
        EXPECT_EQ(IsConfiguringPorts(), 0);
    }

    void Hold(int port, const char* protocol, const char* client, const char* description)
    {
        gateway.AddMapping({std::to_string(port), protocol, std::to_string(port), client, description});
    }

    UpnpGateway gateway;
    RecordingMessageSink messages;
    CPortForwardEngine engine;
    PortMappingPolicy policy{engine, kTarget};
};

TEST_F(PortForwardTest, NoMappingsGivesThreeAddsInOrderThenThePortsAreMapped)
{
    RunPortMapping();
    EXPECT_EQ(gateway.Changes(), (Strings{Add(7000, "TCP"), Add(7001, "TCP"), Add(7002, "UDP")}));
    EXPECT_EQ(gReachability.portsMapped, 1);
}

TEST_F(PortForwardTest, AllThreePresentGivesNoOperation)
{
    Hold(7000, "TCP", kLocal, "Orvandel");
    Hold(7001, "TCP", kLocal, "Orvandel");
    Hold(7002, "UDP", kLocal, "Orvandel");
    RunPortMapping();
    EXPECT_TRUE(gateway.Changes().empty());
    EXPECT_EQ(gReachability.portsMapped, 1);
}

TEST_F(PortForwardTest, MappedPortsStartNoRun)
{
    gReachability.portsMapped = 1;
    RunPortMapping();
    EXPECT_TRUE(gateway.Actions().empty());
}

TEST_F(PortForwardTest, BaseHeldByAnotherClientIsDeletedThenAddedForThisPc)
{
    Hold(7000, "TCP", "10.1.2.99", "Other program");
    RunPortMapping();
    EXPECT_EQ(gateway.Changes(),
              (Strings{Delete(7000, "TCP"), Add(7000, "TCP"), Add(7001, "TCP"), Add(7002, "UDP")}));
    EXPECT_EQ(gReachability.portsMapped, 1);
}

TEST_F(PortForwardTest, MappingsOfAnOldBasePortAreDeletedFirst)
{
    Hold(6000, "TCP", kLocal, "Orvandel");
    Hold(6002, "UDP", kLocal, "Orvandel");
    RunPortMapping();
    EXPECT_EQ(gateway.Changes(), (Strings{Delete(6000, "TCP"), Delete(6002, "UDP"), Add(7000, "TCP"),
                                          Add(7001, "TCP"), Add(7002, "UDP")}));
    EXPECT_EQ(gReachability.portsMapped, 1);
}

TEST_F(PortForwardTest, AFailedAddEndsTheRunAndTheNextStartRepeatsIt)
{
    gateway.FailAddsOfPort("7001");
    RunPortMapping();
    EXPECT_EQ(gateway.Changes(), (Strings{Add(7000, "TCP"), Add(7001, "TCP")}));
    EXPECT_EQ(gReachability.portsMapped, 0);

    gateway.FailAddsOfPort("");
    const size_t before = gateway.Actions().size();
    RunPortMapping();
    const Strings actions = gateway.Actions();
    const Strings second(actions.begin() + static_cast<long>(before), actions.end());
    EXPECT_EQ(second.front(), "GetGenericPortMappingEntry 0");
    EXPECT_EQ(gateway.Changes().size(), 4u);
    EXPECT_EQ(gateway.Changes().back(), Add(7002, "UDP"));
    EXPECT_EQ(gReachability.portsMapped, 1);
}

TEST_F(PortForwardTest, WithoutARouterTheRunEndsSilently)
{
    setenv("ORVANDEL_UPNP_GATEWAY", ("http://127.0.0.1:" + std::to_string(ClosedPort()) + "/rootDesc.xml").c_str(), 1);
    RunPortMapping();
    EXPECT_EQ(gReachability.portsMapped, 0);
    EXPECT_TRUE(messages.Texts().empty());
    EXPECT_TRUE(gateway.Actions().empty());
}

TEST_F(PortForwardTest, OnlyMappingsOnOurPortsOrOfThisProgramAreDeleted)
{
    Hold(7000, "UDP", kLocal, "Other program");
    Hold(8080, "TCP", "10.1.2.50", "Web server");
    Hold(6001, "TCP", kLocal, "Orvandel");
    Hold(7001, "TCP", kLocal, "Orvandel");
    Hold(9000, "UDP", "10.1.2.77", "Game");
    RunPortMapping();
    EXPECT_EQ(gateway.Changes(),
              (Strings{Delete(7000, "UDP"), Delete(6001, "TCP"), Add(7000, "TCP"), Add(7002, "UDP")}));
    Strings left;
    for (const UpnpGateway::Mapping& mapping : gateway.Mappings())
        left.push_back(mapping.externalPort + " " + mapping.protocol);
    EXPECT_EQ(left, (Strings{"8080 TCP", "7001 TCP", "9000 UDP", "7000 TCP", "7002 UDP"}));
    EXPECT_EQ(gReachability.portsMapped, 1);
}

TEST_F(PortForwardTest, RenewalReadsTheMappingsAgainAndAddsWhatIsMissing)
{
    RunPortMapping();
    gateway.ClearMappings();
    ASSERT_EQ(policy.RenewMappings(), 1);
    ASSERT_TRUE(WaitUntil([] { return gReachability.mappingEnded.Wait(0); }, kRunLimitMs));
    EXPECT_EQ(gateway.Changes().size(), 6u);
    EXPECT_EQ(gateway.Mappings().size(), 3u);
}

// The program's own policy, as the main frame hands it the notifications.
TEST_F(PortForwardTest, TheWatcherRenewsTheMappingsWhenThePublicAddressChanges)
{
    SetMessageHandler(MessageTarget::Frame, [](unsigned message, uintptr_t code, intptr_t value) {
        if (message == kMsgPortForward)
            PortMapping().OnEngineNotification(code, value);
    });
    ASSERT_EQ(PortMapping().StartPortMapping(), 0);
    ASSERT_TRUE(WaitUntil([] { return gReachability.mappingEnded.Wait(0); }, kRunLimitMs));
    ASSERT_EQ(gateway.Mappings().size(), 3u);
    gateway.ClearMappings();

    TempConfig config;
    const std::string echo = config.Root() + "/echo";
    WriteFileBytes(echo, "192.0.2.1\n");
    WebStandin web({"--echo", echo});
    web.UseAsWebHost();
    StoreScrambled(gSettings.record.userName, sizeof gSettings.record.userName, "alice");
    gSettings.record.directoryDisabled = 0;
    SetServerRunning(true);
    SetAddressWatcherPeriods(50, 100);
    ASSERT_EQ(StartAddressWatcher(), 0);
    ASSERT_TRUE(web.WaitForLines("GET /cgi-bin/Orvandelip.cgi", 2, kRunLimitMs));
    EXPECT_TRUE(gateway.Mappings().empty()) << "the first address seen renews nothing";
    WriteFileBytes(echo + ".new", "192.0.2.2\n");
    std::filesystem::rename(echo + ".new", echo);
    // The run ends, like every run, with natConfig.
    EXPECT_TRUE(WaitUntil([] { return gReachability.mappingEnded.Wait(0); }, kRunLimitMs));
    StopAddressWatcher(2000);
    SetServerRunning(false);
    unsetenv("ORVANDEL_WEB_HOST");
    EXPECT_EQ(gateway.Mappings().size(), 3u);
    EXPECT_EQ(gateway.Changes().size(), 6u);
    EXPECT_TRUE(PortMapping().Engine().WaitWhileBusy(kRunLimitMs));
}

} // namespace
