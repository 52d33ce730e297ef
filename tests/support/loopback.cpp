#include "support/loopback.h"

#include <arpa/inet.h>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace {

sockaddr_in Loopback(uint16_t port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    return address;
}

bool PortIsFree(int type, uint16_t port)
{
    int probe = ::socket(AF_INET, type, 0);
    sockaddr_in address = Loopback(port);
    bool free = ::bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(probe);
    return free;
}

} // namespace

int ListenOnLoopback(int backlog, int& port)
{
    int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = Loopback(0);
    socklen_t length = sizeof address;
    if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener, backlog) != 0 || ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        if (listener >= 0)
            ::close(listener);
        return -1;
    }
    port = ntohs(address.sin_port);
    return listener;
}

LoopbackPair::LoopbackPair()
{
    int port = 0;
    const int listener = ListenOnLoopback(1, port);
    if (listener < 0)
        throw std::runtime_error("cannot listen on loopback");
    sockaddr_in address = Loopback(static_cast<uint16_t>(port));
    client = ::socket(AF_INET, SOCK_STREAM, 0);
    if (::connect(client, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        throw std::runtime_error("cannot connect on loopback");
    server = ::accept(listener, nullptr, nullptr);
    ::close(listener);
}

LoopbackPair::~LoopbackPair()
{
    if (server >= 0)
        ::close(server);
    if (client >= 0)
        ::close(client);
}

int FreePortTriple()
{
    for (int attempt = 0; attempt < 200; ++attempt) {
        int probe = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address = Loopback(0);
        socklen_t length = sizeof address;
        ::bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length);
        ::close(probe);
        uint16_t port = ntohs(address.sin_port);
        if (port < 60000 && PortIsFree(SOCK_STREAM, port) && PortIsFree(SOCK_STREAM, port + 1) &&
            PortIsFree(SOCK_DGRAM, port + 2))
            return port;
    }
    throw std::runtime_error("no free ports");
}

std::vector<uint8_t> ReadBytes(int socket, size_t count, int timeoutMs)
{
    std::vector<uint8_t> bytes(count);
    size_t got = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (got < count) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd watched{socket, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&watched, 1, static_cast<int>(left.count())) <= 0)
            break;
        ssize_t received = ::recv(socket, bytes.data() + got, count - got, 0);
        if (received <= 0)
            break;
        got += static_cast<size_t>(received);
    }
    bytes.resize(got);
    return bytes;
}

bool AnyBytesWithin(int socket, int timeoutMs)
{
    pollfd watched{socket, POLLIN, 0};
    return ::poll(&watched, 1, timeoutMs) > 0;
}

bool TcpPortListening(int port)
{
    char wanted[32];
    std::snprintf(wanted, sizeof wanted, ":%04X 00000000:0000 0A", port);
    std::ifstream table("/proc/net/tcp");
    for (std::string line; std::getline(table, line);)
        if (line.find(wanted) != std::string::npos)
            return true;
    return false;
}
