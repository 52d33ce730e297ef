// The local address choice, the broker list and the directory registration,
// the latter against the stand-in of the web services on loopback.

#include "canned_server.h"
#include "config/settings.h"
#include "net/connectivity.h"
#include "platform/clock.h"
#include "support/temp_config.h"
#include "support/web_standin_process.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cstdlib>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const char kBrokerGet[] = "GET /cgi-bin/Orvandelbroker.cgi?";

TEST(AddressRuleTest, KnowsThePrivateRanges)
{
    for (const char* address : {"10.0.0.0", "10.255.255.255", "169.254.0.0", "169.254.7.9", "172.16.0.0",
                                "172.31.255.255", "192.168.0.0", "192.168.255.255"})
        EXPECT_TRUE(IsPrivateAddress(address)) << address;
    for (const char* address : {"9.255.255.255", "11.0.0.0", "169.253.255.255", "169.255.0.0", "172.15.255.255",
                                "172.32.0.1", "192.167.255.255", "192.169.0.0", "127.0.0.1", "8.8.8.8", "", "x"})
        EXPECT_FALSE(IsPrivateAddress(address)) << address;
}

NetworkAdapter Adapter(const char* name, std::vector<std::string> addresses, bool hasGateway)
{
    return {name, std::move(addresses), hasGateway};
}

TEST(AddressChoiceTest, TakesTheBestInterfaceOrElseTheLastOneWithAGateway)
{
    const std::vector<NetworkAdapter> twoWithGateways = {
        Adapter("wlan0", {"192.168.1.5", "192.168.1.6"}, true), Adapter("eth1", {}, true),
        Adapter("eth0", {"82.1.2.3"}, true), Adapter("usb0", {"10.1.1.1"}, false)};
    std::string address;
    EXPECT_EQ(ChooseAdapterAddress(twoWithGateways, "", address), 1);
    EXPECT_EQ(address, "82.1.2.3");
    EXPECT_EQ(ChooseAdapterAddress(twoWithGateways, "wlan0", address), 0);
    EXPECT_EQ(address, "192.168.1.5");
    EXPECT_EQ(ChooseAdapterAddress(twoWithGateways, "usb0", address), 0);
    EXPECT_EQ(address, "10.1.1.1");
    EXPECT_EQ(ChooseAdapterAddress(twoWithGateways, "gone0", address), 1);
    EXPECT_EQ(address, "82.1.2.3");

    EXPECT_EQ(ChooseAdapterAddress({Adapter("eth0", {"169.254.3.4"}, true)}, "eth0", address), 0);
    EXPECT_EQ(address, "169.254.3.4");
    EXPECT_EQ(ChooseAdapterAddress({Adapter("eth0", {"172.32.0.1"}, true)}, "", address), 1);
    EXPECT_EQ(ChooseAdapterAddress({Adapter("lo", {"127.0.0.1"}, false)}, "", address), -1);
    EXPECT_EQ(address, "");
    EXPECT_EQ(ChooseAdapterAddress({}, "eth0", address), -1);
}

TEST(AddressChoiceTest, FindsTheDefaultRoutesOfARoutingTable)
{
    const std::string table =
        "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n"
        "wlan0\t00000000\t0101A8C0\t0003\t0\t0\t600\t00000000\t0\t0\t0\n"
        "wlan0\t0001A8C0\t00000000\t0001\t0\t0\t600\t00FFFFFF\t0\t0\t0\n"
        "eth0\t00000000\t0100000A\t0003\t0\t0\t100\t00000000\t0\t0\t0\n"
        "tun0\t00000000\t00000000\t0000\t0\t0\t1\t00000000\t0\t0\t0\n"
        "broken line\n";
    DefaultRoutes routes = ParseDefaultRoutes(table);
    EXPECT_EQ(routes.best, "eth0");
    EXPECT_EQ(routes.interfaces, (std::vector<std::string>{"wlan0", "eth0"}));
    EXPECT_EQ(ParseDefaultRoutes("").best, "");
}

TEST(AddressChoiceTest, ThisMachinesChoiceFollowsTheAddressRule)
{
    std::string address = "stale";
    int result = ChooseLocalAddress(address);
    if (address.empty()) {
        EXPECT_EQ(result, 0);
        return;
    }
    in_addr parsed{};
    EXPECT_EQ(inet_pton(AF_INET, address.c_str(), &parsed), 1) << address;
    EXPECT_EQ(result, IsPrivateAddress(address) ? 0 : 1) << address;
}

class DirectoryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetDefaultSettings();
        StoreScrambled(gSettings.record.userName, sizeof gSettings.record.userName, "alice");
        SetLocalAddress("127.0.0.1");
        gReachability.behindNat = 1;
    }
    void TearDown() override { unsetenv("ORVANDEL_WEB_HOST"); }

    std::string WriteBrokerList(const std::string& document)
    {
        const std::string path = config_.Root() + "/brokers.xml";
        WriteFileBytes(path, document);
        return path;
    }

    TempConfig config_;
};

std::string BrokerEntry(const std::string& host, const std::string& address, const std::string& port)
{
    return "<broker><host>" + host + "</host><ip>" + address + "</ip><port>" + port + "</port></broker>\n";
}

TEST_F(DirectoryTest, RegistersTheAccountWithTheListedBroker)
{
    WebStandin standin;
    ASSERT_GT(standin.Port(), 0);
    standin.UseAsWebHost();
    gSettings.record.basePort = 7000;
    const uint32_t before = GetTickCount();

    ASSERT_EQ(RegisterWithDirectory(0), 0);
    ASSERT_TRUE(standin.WaitForLines(kBrokerGet, 1, 3000));
    EXPECT_EQ(standin.LinesWith(kBrokerGet).front(),
              std::string(kBrokerGet) + "cmd=si&un=YWxpY2U=&lip=127.0.0.1&port=7000&tc=0&nat=1");
    EXPECT_LE(LastRegistrationTick() - before, GetTickCount() - before);
    EXPECT_EQ(standin.CountLines("GET /site/demos/Orvandel/brokers.xml"), 1u);
}

TEST_F(DirectoryTest, ANonAsciiUserNameRegistersWithAnEmptyName)
{
    WebStandin standin;
    ASSERT_GT(standin.Port(), 0);
    standin.UseAsWebHost();
    StoreScrambled(gSettings.record.userName, sizeof gSettings.record.userName, "jos\xc3\xa9");
    gReachability.behindNat = 0;

    ASSERT_EQ(RegisterWithDirectory(0), 0);
    ASSERT_TRUE(standin.WaitForLines("registration", 1, 3000));
    EXPECT_EQ(standin.LinesWith("registration").front(), "registration un= lip=127.0.0.1 port=7000 tc=0 nat=0");
    EXPECT_NE(standin.LinesWith(kBrokerGet).front().find("cmd=si&un=&lip="), std::string::npos);
}

TEST_F(DirectoryTest, ReadsCompleteBrokersOnly)
{
    const std::string list = WriteBrokerList("<brokers>\n" + BrokerEntry("one.example", "192.0.2.1", "80") +
                                             BrokerEntry("two.example", "192.0.2.2", "8080") +
                                             "<broker><host>three.example</host><ip>192.0.2.3</ip></broker>\n"
                                             "</brokers>\n");
    WebStandin standin({"--brokers", list});
    ASSERT_GT(standin.Port(), 0);
    standin.UseAsWebHost();

    std::vector<Broker> brokers = FetchBrokerList();
    ASSERT_EQ(brokers.size(), 2u);
    EXPECT_EQ(brokers[0].host, "one.example");
    EXPECT_EQ(brokers[0].address, "192.0.2.1");
    EXPECT_EQ(brokers[0].port, 80);
    EXPECT_EQ(brokers[1].host, "two.example");
    EXPECT_EQ(brokers[1].port, 8080);

    WriteBrokerList(BrokerEntry("a", "", "1") + BrokerEntry("b", "", "2") + BrokerEntry("c", "", "3") +
                    BrokerEntry("d", "", "4"));
    EXPECT_EQ(FetchBrokerList().size(), static_cast<size_t>(kMaxBrokers));
}

// The list comes over plain HTTP: a host with a port or any other part
// could send the registration anywhere.
TEST_F(DirectoryTest, BrokersThatAreNotPlainHostsAreLeftOut)
{
    CannedServer trap("HTTP/1.0 200 OK\r\n\r\n");
    const std::string trapHost = trap.Url("");
    const std::string list =
        WriteBrokerList("<brokers>\n" + BrokerEntry("evil.example:25", "192.0.2.1", "25") +
                        BrokerEntry("user@evil.example", "192.0.2.1", "80") + BrokerEntry("good.example", "192.0.2.2", "80") +
                        "</brokers>\n");
    WebStandin standin({"--brokers", list});
    ASSERT_GT(standin.Port(), 0);
    standin.UseAsWebHost();
    std::vector<Broker> brokers = FetchBrokerList();
    ASSERT_EQ(1u, brokers.size());
    EXPECT_EQ("good.example", brokers[0].host);

    WriteBrokerList(BrokerEntry(trapHost, "127.0.0.1", "80"));
    ASSERT_EQ(0, RegisterWithDirectory(0));
    EXPECT_TRUE(standin.WaitForLines(kBrokerGet, 1, 3000)) << "the web host's own broker took the registration";
    EXPECT_TRUE(trap.Requests().empty()) << "nothing went to " << trapHost;
}

TEST_F(DirectoryTest, FallsBackToTheBuiltInBrokerOnTheWebHost)
{
    const std::string list = WriteBrokerList("<html>not a broker list</html>");
    WebStandin standin({"--brokers", list});
    ASSERT_GT(standin.Port(), 0);
    standin.UseAsWebHost();

    std::vector<Broker> brokers = FetchBrokerList();
    ASSERT_EQ(brokers.size(), 1u);
    EXPECT_EQ("127.0.0.1", brokers[0].host) << "reached on the web host's port";
    EXPECT_EQ(brokers[0].port, 80);
    ASSERT_EQ(RegisterWithDirectory(0), 0);
    EXPECT_TRUE(standin.WaitForLines("registration un=YWxpY2U=", 1, 3000));
}

TEST_F(DirectoryTest, TriesTheBrokersInOrderUntilOneTakesTheRequest)
{
    const std::string list = WriteBrokerList(BrokerEntry("broker.invalid", "192.0.2.9", "80") +
                                             BrokerEntry("broker:bad-port", "192.0.2.9", "80"));
    WebStandin standin({"--brokers", list});
    ASSERT_GT(standin.Port(), 0);
    standin.UseAsWebHost();
    EXPECT_EQ(RegisterWithDirectory(0), -1);

    // A listed broker is reached on the web host's port (80 in use).
    WriteBrokerList(BrokerEntry("broker.invalid", "192.0.2.9", "80") + BrokerEntry("127.0.0.1", "127.0.0.1", "80"));
    ASSERT_EQ(RegisterWithDirectory(0), 0);
    EXPECT_TRUE(standin.WaitForLines("registration un=YWxpY2U=", 1, 3000));

    setenv("ORVANDEL_WEB_HOST", "nohost.invalid", 1);
    const uint32_t lastSuccess = LastRegistrationTick();
    EXPECT_EQ(RegisterWithDirectory(0), -1);
    EXPECT_EQ(LastRegistrationTick(), lastSuccess);
}

// A listening socket on 127.0.0.1:port, or -1.
int ListenOn(int port)
{
    int socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (socket < 0)
        return -1;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    if (::bind(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(socket, 1) != 0) {
        ::close(socket);
        return -1;
    }
    return socket;
}

// Accepts within timeoutMs; -1 otherwise.
int AcceptWithin(int listener, int timeoutMs)
{
    pollfd entry{listener, POLLIN, 0};
    return ::poll(&entry, 1, timeoutMs) > 0 ? ::accept(listener, nullptr, nullptr) : -1;
}

// Listening sockets on neighbouring loopback ports, as a server's data
// (base) and control (base + 1) ports; false when none could be had.
bool ListenOnNeighbours(int& basePort, int& dataListener, int& controlListener)
{
    for (int attempt = 0; attempt < 20; ++attempt) {
        basePort = UnusedLoopbackPort();
        if (basePort <= 0 || basePort >= 65535)
            continue;
        controlListener = ListenOn(basePort + 1);
        dataListener = controlListener >= 0 ? ListenOn(basePort) : -1;
        if (dataListener >= 0)
            return true;
        if (controlListener >= 0)
            ::close(controlListener);
    }
    return false;
}

TEST_F(DirectoryTest, TheRequestedConnectivityTestNegotiatesLikeAHandheld)
{
    WebStandin standin;
    ASSERT_GT(standin.Port(), 0);
    standin.UseAsWebHost();
    int basePort = 0, dataListener = -1, controlListener = -1;
    ASSERT_TRUE(ListenOnNeighbours(basePort, dataListener, controlListener));
    gSettings.record.basePort = basePort;

    ASSERT_EQ(RegisterWithDirectory(1), 0);
    int control = AcceptWithin(controlListener, 5000);
    ASSERT_GE(control, 0);
    char transport = 0;
    ASSERT_EQ(::recv(control, &transport, 1, MSG_WAITALL), 1);
    EXPECT_EQ(transport, 1);
    const char accepted = 0x01;
    ASSERT_EQ(::send(control, &accepted, 1, MSG_NOSIGNAL), 1);
    int data = AcceptWithin(dataListener, 5000);
    EXPECT_GE(data, 0);
    EXPECT_TRUE(standin.WaitForLines("connectivity test passed", 1, 5000));
    EXPECT_EQ(standin.CountLines("tc=1 nat=1"), 1u);
    for (int socket : {data, control, dataListener, controlListener})
        ::close(socket);

    ASSERT_EQ(RegisterWithDirectory(1), 0);
    EXPECT_TRUE(standin.WaitForLines("connectivity test failed: no control connection", 1, 5000));
}

} // namespace
