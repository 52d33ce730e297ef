// Sender throughput on loopback, over TCP and over UDT, with a producer that
// keeps the rings full. Prints bytes per second beside the ceiling that the
// sender's own pauses set, to show how close the code gets to its own limit.

#include "shared/resources.h"
#include "encode/stream_buffers.h"
#include "server/net_state.h"
#include "server/sender.h"

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <udt/udt.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr double kRunSeconds = 4.0;

sockaddr_in Loopback(uint16_t port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    return address;
}

// A connected pair: the sender's end and the receiver's end.
struct Connection {
    int senderEnd = -1;
    int receiverEnd = -1;
    bool udt = false;
};

Connection ConnectTcp()
{
    int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = Loopback(0);
    socklen_t length = sizeof address;
    ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(listener, 1);
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    Connection connection;
    connection.receiverEnd = ::socket(AF_INET, SOCK_STREAM, 0);
    ::connect(connection.receiverEnd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    connection.senderEnd = ::accept(listener, nullptr, nullptr);
    ::close(listener);
    return connection;
}

Connection ConnectUdt()
{
    UDTSOCKET listener = UDT::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = Loopback(0);
    UDT::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
    int length = sizeof address;
    UDT::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    UDT::listen(listener, 1);
    Connection connection;
    connection.udt = true;
    connection.receiverEnd = UDT::socket(AF_INET, SOCK_STREAM, 0);
    std::thread connector(
        [&] { UDT::connect(connection.receiverEnd, reinterpret_cast<sockaddr*>(&address), sizeof address); });
    connection.senderEnd = UDT::accept(listener, nullptr, nullptr);
    connector.join();
    UDT::close(listener);
    return connection;
}

// Keeps both rings fed at the live producer limit, with times that advance
// together so that the sender interleaves them.
void Produce(const std::atomic<bool>& running)
{
    std::vector<uint8_t> video(kVideoChunk, 0x42);
    std::vector<uint8_t> audio(kAudioChunk, 0x24);
    double seconds = 0;
    while (running) {
        bool appended = false;
        {
            std::lock_guard hold(gStream.lock);
            if (gStream.video.fullness < kLiveProducerLimit && gStream.audio.fullness < kLiveProducerLimit) {
                seconds += 0.01;
                gStream.video.lastTime = gStream.audio.lastTime = seconds;
                AppendVideo(video.data(), kVideoChunk);
                AppendAudio(audio.data(), kAudioChunk);
                appended = true;
            }
        }
        if (!appended)
            std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
}

uint64_t Receive(const Connection& connection, const std::atomic<bool>& running)
{
    std::vector<char> buffer(1 << 16);
    uint64_t total = 0;
    while (running) {
        long got = connection.udt ? UDT::recv(connection.receiverEnd, buffer.data(), static_cast<int>(buffer.size()), 0)
                                  : ::recv(connection.receiverEnd, buffer.data(), buffer.size(), 0);
        if (got <= 0)
            break;
        total += static_cast<uint64_t>(got);
    }
    return total;
}

void CloseConnection(const Connection& connection)
{
    CloseAnySocket(connection.senderEnd, connection.udt);
    CloseAnySocket(connection.receiverEnd, connection.udt);
}

void RunCase(bool udt, int quality)
{
    ResetStreamBuffers();
    gStream.video.present = gStream.audio.present = true;
    Connection connection = udt ? ConnectUdt() : ConnectTcp();
    gNet.transport = udt ? kTransportUdt : 1;
    gNet.dataSocket = connection.senderEnd;
    gSender.writeToFile = 0;

    std::atomic<bool> running{true};
    std::thread producer(Produce, std::cref(running));
    uint64_t received = 0;
    std::thread receiver([&] { received = Receive(connection, running); });
    const auto start = Clock::now();
    StartSender(quality);
    std::this_thread::sleep_for(std::chrono::duration<double>(kRunSeconds));
    running = false;
    gNet.dataSocket = kInvalidSocket;
    CloseConnection(connection);
    StopSender();
    producer.join();
    receiver.join();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();

    SenderPacing pacing = ChooseSenderPacing(false, udt, quality);
    const double ceiling = pacing.threshold * 1000.0 / (pacing.pauseBeforeGatherMs + pacing.pauseAfterWriteMs);
    const double rate = static_cast<double>(received) / seconds;
    std::printf("%-4s quality %d: %10.0f bytes/s   ceiling %10.0f bytes/s   %5.1f%% of ceiling\n",
                udt ? "UDT" : "TCP", quality, rate, ceiling, 100.0 * rate / ceiling);
}

} // namespace

int main()
{
    if (AllocateLargeBuffers() != 0)
        return 1;
    AttachStreamBuffers();
    UDT::startup();
    std::printf("Sender throughput on loopback, %.0f s per case, producer at full speed.\n"
                "Ceiling = batch threshold / (pause before gathering + pause after writing); a batch\n"
                "overshoots its threshold by up to one video and one audio packet, so a sender that\n"
                "keeps up with its pauses shows more than 100%%.\n",
                kRunSeconds);
    for (bool udt : {false, true})
        for (int quality : {0, 1, 2})
            RunCase(udt, quality);
    UDT::cleanup();
    FreeLargeBuffers();
    return 0;
}
