// The two connections of a handheld session: the TCP control connection and
// the data connection over TCP or UDT, with every wait bounded in time.
#pragma once

#include <netinet/in.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace handheld {

using Millis = std::chrono::milliseconds;

// Resolves an IPv4 address for the host; the server listens on AF_INET only.
bool resolveHost(const std::string& host, int port, sockaddr_in& address, std::string& error);

// A connected blocking TCP socket, or -1 with the reason in `error`.
int connectTcp(const sockaddr_in& address, Millis timeout, std::string& error);
// 1 = readable, 0 = nothing within the wait, -1 = failure (errno is set).
int waitReadable(int fd, Millis wait);

class ControlLink {
public:
    ControlLink() = default;
    ControlLink(const ControlLink&) = delete;
    ControlLink& operator=(const ControlLink&) = delete;
    ~ControlLink();

    bool connect(const sockaddr_in& address, Millis timeout);
    bool sendAll(std::span<const uint8_t> bytes);
    bool receiveExact(std::span<uint8_t> buffer, Millis timeout);
    // Collects what arrives until the peer stays silent for `quiet`, closes
    // the connection, or `limit` has passed; `closed` tells which.
    std::vector<uint8_t> receiveUntilQuiet(Millis quiet, Millis limit, bool& closed);
    // Between requests the server sends nothing, so anything readable
    // there means it has closed the connection (or broken the framing).
    bool peerClosed();
    void close();
    const std::string& error() const { return error_; }

private:
    int fd_ = -1;
    std::string error_;
};

enum class ReadStatus { Data, Idle, Closed, Failed };

struct ReadResult {
    ReadStatus status;
    size_t count;
};

class DataLink {
public:
    virtual ~DataLink() = default;
    // Waits at most `wait` for bytes and returns whatever arrived.
    virtual ReadResult readSome(uint8_t* buffer, size_t length, Millis wait) = 0;
    virtual std::string lastError() const = 0;
};

// Keeps the UDT library alive for as long as any UDT socket exists.
class UdtRuntime {
public:
    UdtRuntime();
    UdtRuntime(const UdtRuntime&) = delete;
    UdtRuntime& operator=(const UdtRuntime&) = delete;
    ~UdtRuntime();
};

struct SessionSettings {
    std::string host;
    int basePort;
    uint8_t transportByte;
    Millis timeout;
};

struct Session {
    // Declared first so that it is torn down after the UDT data link.
    std::unique_ptr<UdtRuntime> udt;
    ControlLink control;
    std::unique_ptr<DataLink> data;
    uint8_t transportByte = 0;
    Millis timeout{0};

    bool markerExpected() const;
};

// Connects to the control port, negotiates the transport and opens the data
// connection the server then waits for.
bool openSession(const SessionSettings& settings, Session& session, std::string& error);

}  // namespace handheld
