#pragma once
// The sockets and flags that the listener, the command session and the
// stream sender share, and the socket helpers they all use.

#include "platform/thread.h"

#include <atomic>
#include <cstddef>
#include <cstdint>

constexpr int kInvalidSocket = -1;
constexpr int kTransportUdt = 0;

struct NetState {
    std::atomic<int> controlListenSocket{kInvalidSocket};
    // The TCP data listener, during one negotiation.
    std::atomic<int> dataListenSocket{kInvalidSocket};
    std::atomic<int> controlSocket{kInvalidSocket};
    std::atomic<int> dataSocket{kInvalidSocket};
    // From the handheld's first byte, read as signed: 0 = UDT, anything else TCP.
    std::atomic<int> transport{1};
    std::atomic<int> testPending{1};
    std::atomic<int> sessionExit{0};
    // The network start-up thread: started by Start, waited for by Stop and
    // at shutdown.
    WorkerThread networkThread;
    // The command session: started by the listener, which waits for it
    // before the next session; waited for at shutdown.
    WorkerThread sessionThread;
};

extern NetState gNet;

// Sends every byte on a TCP (isUdt false) or UDT socket: 0, or -1.
int SendAll(int socket, bool isUdt, const void* bytes, size_t length);

// Receives exactly length bytes: 0, or -1 when the peer closed or failed.
int ReceiveExact(int socket, bool isUdt, void* buffer, size_t length);

// Closes a TCP socket so that a thread blocked on it wakes up.
void CloseTcpSocket(int socket);
// Closes a socket of either transport.
void CloseAnySocket(int socket, bool isUdt);

// Shuts a socket that other threads use down, unless it has just been taken
// for closing: blocked calls on it return, its number stays in use.
void ShutdownShared(const std::atomic<int>& socket);
// Takes a shared socket for closing: no shutdown reaches its number after.
int TakeShared(std::atomic<int>& socket);

// Ends the handheld session: shuts both connections down, stops the stream
// sender, clears the connected flag and tells the session thread to end.
void EndSession();
// Closes the session's connections; by the session thread as it ends, once
// nothing else uses them.
void CloseSessionSockets();

// The listener's wait for a handheld's connections, in seconds (15).
int ConnectionWaitSeconds();
void SetConnectionWaitSeconds(int seconds);
// How often an unattended server tries the directory service again after it
// could not be reached, in seconds (60).
int DirectoryRetrySeconds();
void SetDirectoryRetrySeconds(int seconds);
