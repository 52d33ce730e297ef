#include "canned_server.h"

#include "support/loopback.h"

#include <chrono>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int kPollSliceMs = 20;
constexpr int kRequestWaitMs = 2000;

bool Readable(int socket, int timeoutMs)
{
    pollfd entry{socket, POLLIN, 0};
    return ::poll(&entry, 1, timeoutMs) > 0;
}

std::string ReadRequestHead(int connection)
{
    std::string head;
    char piece[1024];
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kRequestWaitMs);
    while (head.find("\r\n\r\n") == std::string::npos && std::chrono::steady_clock::now() < deadline) {
        if (!Readable(connection, kPollSliceMs))
            continue;
        ssize_t got = ::recv(connection, piece, sizeof piece, 0);
        if (got <= 0)
            break;
        head.append(piece, static_cast<size_t>(got));
    }
    return head;
}

} // namespace

CannedServer::CannedServer(std::string answer, After after) : answer_(std::move(answer)), after_(after)
{
    listener_ = ListenOnLoopback(8, port_);
    if (listener_ >= 0)
        thread_ = std::thread([this] { Serve(); });
}

CannedServer::~CannedServer()
{
    stopping_ = true;
    if (thread_.joinable())
        thread_.join();
    if (listener_ >= 0)
        ::close(listener_);
}

std::string CannedServer::Url(const std::string& path) const
{
    return "127.0.0.1:" + std::to_string(port_) + path;
}

std::vector<std::string> CannedServer::Requests() const
{
    std::lock_guard hold(lock_);
    return requests_;
}

bool CannedServer::WaitForRequests(size_t count, int timeoutMs) const
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Requests().size() < count) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(kPollSliceMs));
    }
    return true;
}

void CannedServer::Serve()
{
    while (!stopping_) {
        if (!Readable(listener_, kPollSliceMs))
            continue;
        int connection = ::accept(listener_, nullptr, nullptr);
        if (connection >= 0)
            Answer(connection);
    }
}

void CannedServer::Answer(int connection)
{
    std::string request = ReadRequestHead(connection);
    {
        std::lock_guard hold(lock_);
        requests_.push_back(std::move(request));
    }
    ::send(connection, answer_.data(), answer_.size(), MSG_NOSIGNAL);
    while (after_ == After::HoldOpen && !stopping_)
        std::this_thread::sleep_for(std::chrono::milliseconds(kPollSliceMs));
    ::close(connection);
}

int UnusedLoopbackPort()
{
    int port = 0;
    int socket = ListenOnLoopback(1, port);
    if (socket < 0)
        return 0;
    ::close(socket);
    return port;
}
