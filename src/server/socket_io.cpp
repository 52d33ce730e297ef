#include "server/net_state.h"

#include "platform/socket_wait.h"

#include <atomic>
#include <mutex>
#include <poll.h>
#include <sys/socket.h>
#include <udt/udt.h>
#include <unistd.h>

NetState gNet;
namespace {
std::atomic<int> connectionWaitSeconds{15};
std::atomic<int> directoryRetrySeconds{60};
} // namespace

int ConnectionWaitSeconds()
{
    return connectionWaitSeconds;
}

void SetConnectionWaitSeconds(int seconds)
{
    connectionWaitSeconds = seconds;
}

int DirectoryRetrySeconds()
{
    return directoryRetrySeconds;
}

void SetDirectoryRetrySeconds(int seconds)
{
    directoryRetrySeconds = seconds;
}

int SendAll(int socket, bool isUdt, const void* bytes, size_t length)
{
    const char* next = static_cast<const char*>(bytes);
    while (length > 0) {
        long sent = isUdt ? UDT::send(socket, next, static_cast<int>(length), 0)
                          : ::send(socket, next, length, MSG_NOSIGNAL);
        if (sent <= 0)
            return -1;
        next += sent;
        length -= static_cast<size_t>(sent);
    }
    return 0;
}

namespace {

bool WaitReadable(int socket)
{
    return WaitForSocket(socket, POLLIN, -1) > 0;
}

} // namespace

int ReceiveExact(int socket, bool isUdt, void* buffer, size_t length)
{
    char* next = static_cast<char*>(buffer);
    while (length > 0) {
        long received;
        if (isUdt) {
            received = UDT::recv(socket, next, static_cast<int>(length), 0);
        } else {
            if (!WaitReadable(socket))
                return -1;
            received = ::recv(socket, next, length, 0);
        }
        if (received <= 0)
            return -1;
        next += received;
        length -= static_cast<size_t>(received);
    }
    return 0;
}

void CloseTcpSocket(int socket)
{
    if (socket == kInvalidSocket)
        return;
    ::shutdown(socket, SHUT_RDWR);
    ::close(socket);
}

void CloseAnySocket(int socket, bool isUdt)
{
    if (socket == kInvalidSocket)
        return;
    if (isUdt)
        UDT::close(socket);
    else
        CloseTcpSocket(socket);
}

namespace {

// Keeps a shutdown from reaching a socket number that another thread has
// just closed and the system has given to a new connection.
std::mutex sharedSocketsLock;

} // namespace

void ShutdownShared(const std::atomic<int>& socket)
{
    std::lock_guard hold(sharedSocketsLock);
    if (socket != kInvalidSocket)
        ::shutdown(socket, SHUT_RDWR);
}

int TakeShared(std::atomic<int>& socket)
{
    std::lock_guard hold(sharedSocketsLock);
    return socket.exchange(kInvalidSocket);
}

void CloseSessionSockets()
{
    CloseAnySocket(TakeShared(gNet.dataSocket), gNet.transport == kTransportUdt);
    CloseTcpSocket(TakeShared(gNet.controlSocket));
}
