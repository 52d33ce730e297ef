#include "http.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <sstream>
#include <sys/socket.h>
#include <unistd.h>

namespace standin {

namespace {

constexpr int kRequestWaitMs = 5000;
constexpr size_t kRequestLimit = 16384;

std::mutex reportLock;

const char* ReasonPhrase(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 400:
        return "Bad Request";
    default:
        return "Not Found";
    }
}

std::map<std::string, std::string> ParseQuery(const std::string& query)
{
    std::map<std::string, std::string> values;
    std::istringstream pairs(query);
    std::string pair;
    while (std::getline(pairs, pair, '&')) {
        size_t equals = pair.find('=');
        values[pair.substr(0, equals)] = equals == std::string::npos ? "" : pair.substr(equals + 1);
    }
    return values;
}

bool WaitFor(int socket, short events, int timeoutMs)
{
    pollfd entry{socket, events, 0};
    int result;
    do {
        result = ::poll(&entry, 1, timeoutMs);
    } while (result < 0 && errno == EINTR);
    return result > 0;
}

bool MakeAddress(const std::string& address, int port, sockaddr_in& socketAddress)
{
    socketAddress = {};
    socketAddress.sin_family = AF_INET;
    socketAddress.sin_port = htons(static_cast<uint16_t>(port));
    return port >= 0 && port <= 65535 && inet_pton(AF_INET, address.c_str(), &socketAddress.sin_addr) == 1;
}

} // namespace

Socket::~Socket()
{
    if (descriptor_ >= 0)
        ::close(descriptor_);
}

bool ReadRequest(int socket, Request& request)
{
    std::string head;
    char piece[1024];
    while (head.find("\r\n\r\n") == std::string::npos && head.size() < kRequestLimit) {
        if (!WaitReadable(socket, kRequestWaitMs))
            return false;
        ssize_t got = ::recv(socket, piece, sizeof piece, 0);
        if (got <= 0)
            break;
        head.append(piece, static_cast<size_t>(got));
    }
    std::istringstream firstLine(head.substr(0, head.find("\r\n")));
    std::string method;
    if (!(firstLine >> method >> request.target) || method != "GET")
        return false;
    size_t question = request.target.find('?');
    request.path = request.target.substr(0, question);
    request.query = ParseQuery(question == std::string::npos ? "" : request.target.substr(question + 1));
    return true;
}

void SendReply(int socket, const Reply& reply)
{
    std::string text = "HTTP/1.1 " + std::to_string(reply.status) + " " + ReasonPhrase(reply.status) + "\r\n";
    text += "Content-Type: text/plain\r\nContent-Length: " + std::to_string(reply.body.size()) + "\r\n";
    text += "Connection: close\r\n\r\n" + reply.body;
    for (size_t sent = 0; sent < text.size();) {
        ssize_t put = ::send(socket, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
        if (put <= 0)
            return;
        sent += static_cast<size_t>(put);
    }
}

int ListenOnLoopback(int port, int& boundPort)
{
    sockaddr_in address{};
    int socket = MakeAddress("127.0.0.1", port, address) ? ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0) : -1;
    if (socket < 0)
        return -1;
    const int on = 1;
    ::setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    socklen_t size = sizeof address;
    if (::bind(socket, reinterpret_cast<sockaddr*>(&address), size) != 0 || ::listen(socket, 16) != 0 ||
        ::getsockname(socket, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        ::close(socket);
        return -1;
    }
    boundPort = ntohs(address.sin_port);
    return socket;
}

int ConnectWithin(const std::string& address, int port, int timeoutMs)
{
    sockaddr_in target{};
    if (!MakeAddress(address, port, target))
        return -1;
    int socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (socket < 0)
        return -1;
    int error = 0;
    socklen_t errorSize = sizeof error;
    bool connected = ::connect(socket, reinterpret_cast<sockaddr*>(&target), sizeof target) == 0;
    if (!connected && errno == EINPROGRESS && WaitFor(socket, POLLOUT, timeoutMs))
        connected = ::getsockopt(socket, SOL_SOCKET, SO_ERROR, &error, &errorSize) == 0 && error == 0;
    if (!connected) {
        ::close(socket);
        return -1;
    }
    ::fcntl(socket, F_SETFL, ::fcntl(socket, F_GETFL) & ~O_NONBLOCK);
    return socket;
}

bool WaitReadable(int socket, int timeoutMs)
{
    return WaitFor(socket, POLLIN, timeoutMs);
}

void Report(const std::string& line)
{
    std::lock_guard hold(reportLock);
    std::fputs((line + "\n").c_str(), stdout);
    std::fflush(stdout);
}

} // namespace standin
