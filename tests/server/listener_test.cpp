// The listener, the command session and the sender together, driven over
// loopback by the handheld client and by raw sockets.

#include "platform/messages.h"
#include "platform/sync.h"
#include "server/protocol.h"
#include "server/session_state.h"
#include "support/server_fixture.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <random>
#include <thread>

namespace {

// Stands in for the live pipeline: when the session starts a
// stream it marks the stream running and appends known bytes until the
// stream is stopped.
class InTestProducer {
public:
    ~InTestProducer() { Join(); }

    void Start()
    {
        Join();
        ResetStreamBuffers();
        gStream.video.present = gStream.audio.present = true;
        gLiveParams.videoCodec = 0;
        SetStreaming(true);
        ++starts;
        thread_ = std::thread([this] { Produce(); });
    }

    void Join()
    {
        if (thread_.joinable())
            thread_.join();
    }

    std::vector<uint8_t> video;
    std::vector<uint8_t> audio;
    std::atomic<int> starts{0};

private:
    void Produce()
    {
        std::mt19937 random(11);
        double seconds = 0;
        std::vector<uint8_t> picture(6000);
        std::vector<uint8_t> sound(1254);
        while (IsStreaming()) {
            for (auto& byte : picture)
                byte = static_cast<uint8_t>(random());
            for (auto& byte : sound)
                byte = static_cast<uint8_t>(random());
            {
                std::lock_guard hold(gStream.lock);
                gStream.video.lastTime = gStream.audio.lastTime = seconds;
                AppendVideo(picture.data(), static_cast<int32_t>(picture.size()));
                AppendAudio(sound.data(), static_cast<int32_t>(sound.size()));
                video.insert(video.end(), picture.begin(), picture.end());
                audio.insert(audio.end(), sound.begin(), sound.end());
            }
            seconds += 0.02;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }

    std::thread thread_;
};

class ListenerTest : public LoopbackServerTest {
protected:
    void Configure() override
    {
        gSettings.channels[3].enabled = 1;
        gSettings.record.enabledChannels = 1;
        // On the window thread, this one, as the pipeline starts.
        SetStreamStarter([this](const StreamRequest&, bool, int) {
            return CallOnWindowThread([this] { producer.Start(); }, 10000)
                       ? StartResult::Started()
                       : StartResult::Failed("the test's window thread did not start the stand-in");
        });
    }

    void TearDown() override
    {
        LoopbackServerTest::TearDown();
        producer.Join();
        SetStreamStarter({});
    }

    // A control connection that has chosen its transport and got its 0x01.
    int ConnectControl(uint8_t transport = 1)
    {
        int control = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(kLoopbackHostOrder);
        address.sin_port = htons(static_cast<uint16_t>(port + 1));
        EXPECT_EQ(0, ::connect(control, reinterpret_cast<sockaddr*>(&address), sizeof address));
        if (transport != 0xFE) {
            ::send(control, &transport, 1, 0);
            EXPECT_EQ(std::vector<uint8_t>{0x01}, ReadBytes(control, 1, 3000));
        }
        return control;
    }

    int ConnectTcpData()
    {
        int data = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(kLoopbackHostOrder);
        address.sin_port = htons(static_cast<uint16_t>(port));
        EXPECT_EQ(0, ::connect(data, reinterpret_cast<sockaddr*>(&address), sizeof address));
        return data;
    }

    static bool ClosedByPeer(int socket, int timeoutMs)
    {
        std::vector<uint8_t> rest = ReadBytes(socket, 1 << 20, timeoutMs);
        char byte;
        return ::recv(socket, &byte, 1, MSG_DONTWAIT) == 0;
    }

    InTestProducer producer;
};

TEST_F(ListenerTest, LoginResultsOverTcpAndUdt)
{
    for (const char* transport : {"tcp", "udt"}) {
        ProcessResult good = Handheld({"--transport", transport, "login"});
        EXPECT_EQ(0, good.exitCode) << good.output;
        EXPECT_EQ("0", good.Value("login_result")) << transport;
    }
    ProcessResult wrongPassword = Handheld({"--password", "guess", "login"});
    EXPECT_EQ("-2", wrongPassword.Value("login_result"));
    ProcessResult wrongPasswordNoCompat =
        Handheld({"--password", "guess", "--compat", "00000000000000000000000000000000", "login"});
    EXPECT_EQ("-2", wrongPasswordNoCompat.Value("login_result"));
    ProcessResult noCompat = Handheld({"--compat", "00000000000000000000000000000000", "login"});
    EXPECT_EQ("-7", noCompat.Value("login_result"));
    ProcessResult otherBit = Handheld({"--compat", "00000000000000000000000000000010", "login"});
    EXPECT_EQ("0", otherBit.Value("login_result"));
}

TEST_F(ListenerTest, UserNameComparesOnlyItsFirst31Bytes)
{
    const std::string name31(31, 'n');
    StopServer(tuner);
    StoreScrambled(gSettings.record.userName, sizeof gSettings.record.userName, name31);
    ASSERT_EQ(0, StartServer(tuner));
    ASSERT_TRUE(WaitUntil([] { return gNet.controlListenSocket != kInvalidSocket; }));
    ProcessResult result = Handheld({"--user", name31 + "X", "login"});
    EXPECT_EQ("0", result.Value("login_result")) << result.output;
}

TEST_F(ListenerTest, RequestsBeforeLoginAreRefusedWithFramingIntact)
{
    ProcessResult result = Handheld({"--no-login", "--keep-going", "motion", "info", "/x", "status", "login", "motion"});
    EXPECT_EQ("0xFF", result.Value("info_code")) << result.output;
    EXPECT_EQ("0", result.Value("login_result"));
    // The second motion request, after the login, is answered.
    EXPECT_NE(std::string::npos, result.output.find("motion_code=0xEA")) << result.output;
    EXPECT_NE(std::string::npos, result.output.find("motion_code=0xFF"));
}

TEST_F(ListenerTest, UnknownHeadersAreDroppedWithoutReply)
{
    ProcessResult result = Handheld({"login", "raw", "0000AA01AAEA"});
    const std::string hex = result.Value("raw_hex");
    ASSERT_EQ(84u, hex.size()) << result.output;  // one 42-byte reply
    EXPECT_EQ("AAEA", hex.substr(0, 4));
}

TEST_F(ListenerTest, LiveStreamReachesTheHandheldByteExact)
{
    const std::string prefix = config.Root() + "/live";
    ProcessResult result = Handheld({"live", "3", "--seconds", "3", "--out", prefix}, 30000);
    ASSERT_EQ(0, result.exitCode) << result.output;
    EXPECT_EQ("0xD4", result.Value("stream_code"));
    EXPECT_EQ("1", result.Value("marker_ok"));
    EXPECT_EQ("3", result.Value("header_format"));
    EXPECT_EQ("10", result.Value("header_frame_rate"));
    EXPECT_EQ("1", result.Value("header_ratio_width"));
    EXPECT_EQ("0xED", result.Value("stop_code"));
    EXPECT_EQ("0", result.Value("video_time_backwards"));

    producer.Join();
    const std::string video = ReadFileBytes(prefix + ".m4v");
    const std::string audio = ReadFileBytes(prefix + ".mp3");
    ASSERT_GE(video.size(), size_t{5} * kVideoChunk);
    ASSERT_GE(audio.size(), size_t{5} * kAudioChunk);
    ASSERT_LE(video.size(), producer.video.size());
    EXPECT_EQ(0, std::memcmp(video.data(), producer.video.data(), video.size()));
    EXPECT_EQ(0, std::memcmp(audio.data(), producer.audio.data(), audio.size()));
    EXPECT_FALSE(IsStreaming());
}

TEST_F(ListenerTest, LiveStreamOverUdtAndWithoutTheDataMarker)
{
    ProcessResult udt = Handheld({"--transport", "udt", "live", "3", "--seconds", "2"}, 30000);
    EXPECT_EQ(0, udt.exitCode) << udt.output;
    EXPECT_GT(std::stoi("0" + udt.Value("video_packets")), 0);
    EXPECT_EQ("", udt.Value("marker_ok"));
    producer.Join();
    ProcessResult noMarker = Handheld({"--transport", "tcp-nomarker", "live", "3", "--seconds", "2"}, 30000);
    EXPECT_EQ(0, noMarker.exitCode) << noMarker.output;
    EXPECT_GT(std::stoi("0" + noMarker.Value("audio_packets")), 0);
}

TEST_F(ListenerTest, StreamStartsThatMustBeRefused)
{
    ProcessResult disabled = Handheld({"live", "4", "--seconds", "1"});
    EXPECT_EQ("0xFF", disabled.Value("stream_code")) << disabled.output;
    ProcessResult outOfRange = Handheld({"live", "1000", "--seconds", "1"});
    EXPECT_EQ("0xFF", outOfRange.Value("stream_code"));
    EXPECT_EQ(0, producer.starts.load());
}

TEST_F(ListenerTest, SecondStartWhileStreamingRepeatsTheHeader)
{
    std::string start = "AAD4030000000000000000000000" "01";
    start += std::string(2 * 39, '0');
    ProcessResult result = Handheld({"login", "raw", start, "raw", start, "raw", "AAED"}, 30000);
    EXPECT_EQ(1, producer.starts.load()) << result.output;
    size_t first = result.output.find("raw_hex=AAD403");
    ASSERT_NE(std::string::npos, first) << result.output;
    EXPECT_NE(std::string::npos, result.output.find("raw_hex=AAD403", first + 1));
    EXPECT_NE(std::string::npos, result.output.find("raw_hex=AAED"));
}

// A connection that says nothing neither ends the session in progress nor
// keeps the next handheld out; it is closed once its wait is over. Only a
// newcomer that has chosen its transport replaces the session.
TEST_F(ListenerTest, ASilentConnectionNeitherEndsTheSessionNorDelaysTheNext)
{
    int firstControl = ConnectControl();
    int firstData = ConnectTcpData();
    ASSERT_TRUE(WaitUntil([] { return IsConnected(); }));
    const auto silentSince = std::chrono::steady_clock::now();
    int silent = ConnectControl(0xFE);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const uint8_t motion[2] = {kMarker, 0xEA};
    ::send(firstControl, motion, sizeof motion, 0);
    EXPECT_EQ(kReplySize, ReadBytes(firstControl, kReplySize, 3000).size()) << "the first session still answers";

    const auto newcomerSince = std::chrono::steady_clock::now();
    ProcessResult newcomer = Handheld({"login"});
    EXPECT_EQ("0", newcomer.Value("login_result")) << newcomer.output;
    EXPECT_LT(std::chrono::steady_clock::now() - newcomerSince, std::chrono::seconds(ConnectionWaitSeconds()));
    EXPECT_TRUE(ClosedByPeer(firstControl, 3000)) << "the newcomer took over";
    EXPECT_TRUE(ClosedByPeer(firstData, 3000));

    EXPECT_TRUE(ClosedByPeer(silent, 2000 * ConnectionWaitSeconds()));
    EXPECT_GE(std::chrono::steady_clock::now() - silentSince, std::chrono::seconds(ConnectionWaitSeconds()));
    for (int socket : {firstControl, firstData, silent})
        ::close(socket);
}

TEST_F(ListenerTest, SilentAndHalfOpenHandheldsDoNotStopTheListener)
{
    ::close(ConnectControl(0xFE));                 // closes without a byte
    int noData = ConnectControl(1);                 // never opens its TCP data connection
    EXPECT_TRUE(ClosedByPeer(noData, 5000));
    ::close(noData);
    int noUdtData = ConnectControl(0);              // never opens its UDT data connection
    EXPECT_TRUE(ClosedByPeer(noUdtData, 5000));
    ::close(noUdtData);
    ProcessResult result = Handheld({"login"});
    EXPECT_EQ("0", result.Value("login_result")) << result.output;
    for (int i = 0; i < 20; ++i)
        ::close(ConnectControl(0xFE));              // a flood of connections
    result = Handheld({"--transport", "udt", "login"});
    EXPECT_EQ("0", result.Value("login_result")) << result.output;
}

TEST_F(ListenerTest, StopEndsTheSessionAndTheListener)
{
    int control = ConnectControl();
    int data = ConnectTcpData();
    ASSERT_TRUE(WaitUntil([] { return StatusText() == "Status: Connected"; })) << StatusText();
    StopServer(tuner);
    EXPECT_TRUE(ClosedByPeer(control, 3000));
    EXPECT_TRUE(IsDisconnected());
    EXPECT_FALSE(IsConnected());
    EXPECT_FALSE(gNet.networkThread.Registered());
    EXPECT_EQ(kInvalidSocket, gNet.controlListenSocket.load());
    ::close(control);
    ::close(data);
    ProcessResult result = Handheld({"login"});
    EXPECT_EQ(1, result.exitCode);
    EXPECT_TRUE(sink.Entries().empty());
}

// Stop while a handheld is halfway through its negotiation: the listener
// must not sit out the connection wait, nor start a session nobody ends.
TEST_F(ListenerTest, StopDuringANegotiationEndsAtOnce)
{
    SetConnectionWaitSeconds(15);
    int control = ConnectControl();  // chose TCP, never opens its data connection
    const auto stopping = std::chrono::steady_clock::now();
    StopServer(tuner);
    EXPECT_LT(std::chrono::steady_clock::now() - stopping, std::chrono::seconds(2));
    EXPECT_FALSE(gNet.networkThread.Registered());
    EXPECT_FALSE(gNet.sessionThread.Registered());
    EXPECT_TRUE(ClosedByPeer(control, 3000));
    ::close(control);
}

TEST_F(ListenerTest, TakenPortIsReportedAndLeavesTheServerStopped)
{
    StopServer(tuner);
    int blocker = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(kLoopbackHostOrder);
    address.sin_port = htons(static_cast<uint16_t>(port + 1));
    ASSERT_EQ(0, ::bind(blocker, reinterpret_cast<sockaddr*>(&address), sizeof address));
    ASSERT_EQ(0, ::listen(blocker, 1));
    ASSERT_EQ(0, StartServer(tuner));
    ASSERT_TRUE(WaitUntil([] { return !gNet.networkThread.Registered() || IsDisconnected(); }));
    ASSERT_TRUE(WaitUntil([this] { return !sink.Entries().empty(); }));
    EXPECT_EQ(0u, sink.Texts()[0].find("Cannot bind command socket."));
    EXPECT_TRUE(IsDisconnected());
    ::close(blocker);
}

// No server address set means every address: a client on the same PC
// reaches the server on loopback, whatever address the directory is told.
class AnyAddressListenerTest : public ListenerTest {
protected:
    void Configure() override
    {
        ListenerTest::Configure();
        gSettings.record.listenAddress = 0;
    }
};

TEST_F(AnyAddressListenerTest, NoServerAddressListensOnEveryAddressLoopbackIncluded)
{
    sockaddr_in bound{};
    socklen_t size = sizeof bound;
    ASSERT_EQ(0, ::getsockname(gNet.controlListenSocket, reinterpret_cast<sockaddr*>(&bound), &size));
    EXPECT_EQ(htonl(INADDR_ANY), bound.sin_addr.s_addr);
    EXPECT_EQ("0", Handheld({"channels"}).Value("login_result"));
}

} // namespace
