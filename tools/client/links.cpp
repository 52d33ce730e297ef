#include "links.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>

namespace handheld {

namespace {

std::string systemError(const char* what)
{
    return std::string(what) + ": " + std::strerror(errno);
}

using Clock = std::chrono::steady_clock;

Millis remaining(Clock::time_point deadline)
{
    return std::max(Millis(0), std::chrono::duration_cast<Millis>(deadline - Clock::now()));
}

bool finishConnect(int fd, Millis timeout, std::string& error)
{
    pollfd entry{fd, POLLOUT, 0};
    const int ready = ::poll(&entry, 1, int(timeout.count()));
    if (ready == 0) {
        error = "connection attempt timed out";
        return false;
    }
    int code = 0;
    socklen_t size = sizeof code;
    if (ready < 0 || ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &code, &size) != 0)
        code = errno;
    if (code != 0) {
        error = std::strerror(code);
        return false;
    }
    if (::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
        error = systemError("fcntl");
        return false;
    }
    return true;
}

}  // namespace

bool resolveHost(const std::string& host, int port, sockaddr_in& address, std::string& error)
{
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int code = ::getaddrinfo(host.c_str(), nullptr, &hints, &found);
    if (code != 0 || found == nullptr) {
        error = "cannot resolve host " + host + ": " + ::gai_strerror(code);
        return false;
    }
    std::memcpy(&address, found->ai_addr, sizeof address);
    address.sin_port = htons(uint16_t(port));
    ::freeaddrinfo(found);
    return true;
}

int connectTcp(const sockaddr_in& address, Millis timeout, std::string& error)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        error = systemError("socket");
        return -1;
    }
    const auto* target = reinterpret_cast<const sockaddr*>(&address);
    if (::connect(fd, target, sizeof address) != 0 && errno != EINPROGRESS) {
        error = std::strerror(errno);
        ::close(fd);
        return -1;
    }
    if (!finishConnect(fd, timeout, error)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

int waitReadable(int fd, Millis wait)
{
    const auto deadline = Clock::now() + wait;
    for (;;) {
        pollfd entry{fd, POLLIN, 0};
        const int ready = ::poll(&entry, 1, int(remaining(deadline).count()));
        if (ready >= 0)
            return ready > 0 ? 1 : 0;
        if (errno != EINTR)
            return -1;
    }
}

ControlLink::~ControlLink()
{
    close();
}

bool ControlLink::connect(const sockaddr_in& address, Millis timeout)
{
    fd_ = connectTcp(address, timeout, error_);
    if (fd_ < 0)
        return false;
    const int one = 1;
    ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    // Sends are tiny, but a server that never reads must not hang us either.
    timeval limit{};
    limit.tv_sec = long(timeout.count() / 1000);
    limit.tv_usec = long(timeout.count() % 1000 * 1000);
    ::setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    return true;
}

bool ControlLink::sendAll(std::span<const uint8_t> bytes)
{
    while (!bytes.empty()) {
        const ssize_t sent = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent <= 0) {
            error_ = systemError("sending on the control connection");
            return false;
        }
        bytes = bytes.subspan(size_t(sent));
    }
    return true;
}

bool ControlLink::receiveExact(std::span<uint8_t> buffer, Millis timeout)
{
    const auto deadline = Clock::now() + timeout;
    while (!buffer.empty()) {
        const int ready = waitReadable(fd_, remaining(deadline));
        if (ready <= 0) {
            error_ = ready == 0 ? "timed out waiting for the server's reply"
                                : systemError("waiting on the control connection");
            return false;
        }
        const ssize_t got = ::recv(fd_, buffer.data(), buffer.size(), 0);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            error_ = got == 0 ? "the server closed the control connection"
                              : systemError("reading the control connection");
            return false;
        }
        buffer = buffer.subspan(size_t(got));
    }
    return true;
}

std::vector<uint8_t> ControlLink::receiveUntilQuiet(Millis quiet, Millis limit, bool& closed)
{
    const auto deadline = Clock::now() + limit;
    std::vector<uint8_t> received;
    uint8_t chunk[4096];
    closed = false;
    while (remaining(deadline).count() > 0) {
        if (waitReadable(fd_, std::min(quiet, remaining(deadline))) <= 0)
            break;
        const ssize_t got = ::recv(fd_, chunk, sizeof chunk, 0);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            closed = true;
            break;
        }
        received.insert(received.end(), chunk, chunk + got);
    }
    return received;
}

bool ControlLink::peerClosed()
{
    if (fd_ < 0)
        return true;
    if (waitReadable(fd_, Millis(0)) == 0)
        return false;
    uint8_t byte;
    const ssize_t got = ::recv(fd_, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    if (got < 0 && (errno == EAGAIN || errno == EINTR))
        return false;
    if (got > 0)
        error_ = "the server sent bytes that answer no request";
    else
        error_ = got == 0 ? "the server closed the control connection" : systemError("control connection");
    return true;
}

void ControlLink::close()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

}  // namespace handheld
