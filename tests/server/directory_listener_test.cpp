// The listener with the directory service on, against the local stand-in of
// the web services: registration, the connectivity test that connects back
// like a handheld, and a directory service that cannot be reached.

#include "net/connectivity.h"
#include "support/server_fixture.h"
#include "support/web_standin_process.h"

#include <cstdlib>

namespace {

class DirectoryListenerTest : public LoopbackServerTest {
protected:
    void RestartWithDirectory(const std::string& webHost)
    {
        StopServer(tuner);
        setenv("ORVANDEL_WEB_HOST", webHost.c_str(), 1);
        gSettings.record.directoryDisabled = 0;
        ASSERT_EQ(0, StartServer(tuner));
    }

    void TearDown() override
    {
        LoopbackServerTest::TearDown();
        unsetenv("ORVANDEL_WEB_HOST");
    }
};

TEST_F(DirectoryListenerTest, RegistersAndPassesTheConnectivityTest)
{
    WebStandin standin;
    ASSERT_GT(standin.Port(), 0);
    RestartWithDirectory(standin.Host());
    EXPECT_EQ(1, gNet.testPending.load());
    ASSERT_TRUE(standin.WaitForLines("connectivity test passed", 1, 10000));
    std::vector<std::string> registrations = standin.LinesWith("registration");
    ASSERT_FALSE(registrations.empty());
    EXPECT_NE(std::string::npos, registrations[0].find("lip=127.0.0.1 port=" + std::to_string(port) + " tc=1 nat=0"))
        << registrations[0];
    // The tester's session is no handheld's: it leaves the status alone, and
    // the next wait registers without a test.
    ASSERT_TRUE(WaitUntil([] { return gNet.testPending == 0 && StatusText() == "Status: Ready"; }, 10000))
        << StatusText();
    ASSERT_TRUE(standin.WaitForLines("tc=0", 1, 10000));
    EXPECT_TRUE(sink.Entries().empty());
    ProcessResult login = Handheld({"login"});
    EXPECT_EQ("0", login.Value("login_result")) << login.output;
}

TEST_F(DirectoryListenerTest, UnreachableDirectoryStopsTheServerWithItsMessage)
{
    RestartWithDirectory("127.0.0.1:" + std::to_string(FreePortTriple()));
    ASSERT_TRUE(WaitUntil([this] { return !sink.Entries().empty(); }, 15000));
    EXPECT_EQ(0u, sink.Texts()[0].find("Could not connect to Vantorel directory service."));
    ASSERT_TRUE(WaitUntil([] { return StatusText() == "Status: Disconnected"; }, 5000)) << StatusText();
    EXPECT_TRUE(IsDisconnected());
}

// Unattended, nobody reads the message: the server stays up for the LAN,
// says so in its status line, and registers once the directory is back.
TEST_F(DirectoryListenerTest, UnattendedTheServerStaysUpAndTriesAgain)
{
    SetUnattended(true);
    SetDirectoryRetrySeconds(1);
    const int directoryPort = FreePortTriple();
    RestartWithDirectory("127.0.0.1:" + std::to_string(directoryPort));
    ASSERT_TRUE(WaitUntil([] { return StatusText() == "Status: Ready, Directory not reached"; }, 15000))
        << StatusText();
    EXPECT_TRUE(sink.Entries().empty());
    EXPECT_EQ("0", Handheld({"login"}).Value("login_result"));
    WebStandin standin({}, directoryPort);
    EXPECT_TRUE(standin.WaitForLines("registration", 1, 15000));
    EXPECT_TRUE(WaitUntil([] { return !IsDirectoryUnreached(); }, 15000));
    SetUnattended(false);
    SetDirectoryRetrySeconds(60);
}

} // namespace
