#pragma once
// Real TCP connections on 127.0.0.1 for tests.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// A connected pair of TCP sockets on loopback; both closed on destruction
// unless released.
struct LoopbackPair {
    LoopbackPair();
    ~LoopbackPair();
    LoopbackPair(const LoopbackPair&) = delete;
    LoopbackPair& operator=(const LoopbackPair&) = delete;

    int server = -1;
    int client = -1;
};

// A socket listening on a free TCP port of 127.0.0.1, which goes to port;
// -1 when none could be made.
int ListenOnLoopback(int backlog, int& port);

// A TCP port on 127.0.0.1 that nothing listens on right now, with the two
// ports after it free too.
int FreePortTriple();

// Whether something listens on the TCP port of 127.0.0.1, read from the
// kernel's table: a connection would take a one-client server's client.
bool TcpPortListening(int port);

// Reads exactly count bytes within timeoutMs; fewer when the peer closes or time runs out.
std::vector<uint8_t> ReadBytes(int socket, size_t count, int timeoutMs);

// Whether any byte arrives within timeoutMs.
bool AnyBytesWithin(int socket, int timeoutMs);

// 127.0.0.1 in host byte order.
constexpr uint32_t kLoopbackHostOrder = 0x7F000001;
