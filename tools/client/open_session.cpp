#include "links.h"
#include "protocol.h"
#include "hex.h"

#include <sys/socket.h>
#include <unistd.h>
#include <udt/udt.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <thread>

namespace handheld {

namespace {

using Clock = std::chrono::steady_clock;

// The UDT library gives up a single connect after a few seconds; the server
// may still be setting up its UDT listener, so we try again until the
// session's timeout has passed.
constexpr Millis kUdtRetryPause{200};

class TcpDataLink final : public DataLink {
public:
    explicit TcpDataLink(int fd) : fd_(fd) {}
    ~TcpDataLink() override { ::close(fd_); }

    ReadResult readSome(uint8_t* buffer, size_t length, Millis wait) override
    {
        const int ready = waitReadable(fd_, wait);
        if (ready == 0)
            return {ReadStatus::Idle, 0};
        const ssize_t got = ready < 0 ? -1 : ::recv(fd_, buffer, length, 0);
        if (got > 0)
            return {ReadStatus::Data, size_t(got)};
        if (got < 0 && errno == EINTR)
            return {ReadStatus::Idle, 0};
        error_ = got == 0 ? "the server closed the data connection" : std::strerror(errno);
        return {got == 0 ? ReadStatus::Closed : ReadStatus::Failed, 0};
    }

    std::string lastError() const override { return error_; }

private:
    int fd_;
    std::string error_;
};

class UdtDataLink final : public DataLink {
public:
    explicit UdtDataLink(UDTSOCKET socket) : socket_(socket) {}
    ~UdtDataLink() override { UDT::close(socket_); }

    ReadResult readSome(uint8_t* buffer, size_t length, Millis wait) override
    {
        setWait(wait);
        const int got = UDT::recv(socket_, reinterpret_cast<char*>(buffer), int(length), 0);
        if (got > 0)
            return {ReadStatus::Data, size_t(got)};
        const int code = UDT::getlasterror_code();
        if (got == 0 || code == CUDTException::ETIMEOUT)
            return {ReadStatus::Idle, 0};
        error_ = UDT::getlasterror_desc();
        const bool lost = code == CUDTException::ECONNLOST || code == CUDTException::ENOCONN;
        return {lost ? ReadStatus::Closed : ReadStatus::Failed, 0};
    }

    std::string lastError() const override { return error_; }

private:
    void setWait(Millis wait)
    {
        // UDT takes 0 as "do not wait at all", which would spin.
        const int milliseconds = int(std::max<long long>(1, wait.count()));
        if (milliseconds == waitMs_)
            return;
        UDT::setsockopt(socket_, 0, UDT_RCVTIMEO, &milliseconds, sizeof milliseconds);
        waitMs_ = milliseconds;
    }

    UDTSOCKET socket_;
    int waitMs_ = -1;
    std::string error_;
};

std::unique_ptr<DataLink> connectUdt(const sockaddr_in& address, Millis timeout, std::string& error)
{
    const auto deadline = Clock::now() + timeout;
    const auto* target = reinterpret_cast<const sockaddr*>(&address);
    for (;;) {
        const UDTSOCKET socket = UDT::socket(AF_INET, SOCK_STREAM, 0);
        if (socket == UDT::INVALID_SOCK) {
            error = UDT::getlasterror_desc();
            return nullptr;
        }
        if (UDT::connect(socket, target, sizeof address) != UDT::ERROR)
            return std::make_unique<UdtDataLink>(socket);
        error = UDT::getlasterror_desc();
        UDT::close(socket);
        if (Clock::now() + kUdtRetryPause >= deadline)
            return nullptr;
        std::this_thread::sleep_for(kUdtRetryPause);
    }
}

std::unique_ptr<DataLink> connectData(const SessionSettings& settings, Session& session,
                                      sockaddr_in address, std::string& error)
{
    if (settings.transportByte == kTransportUdt) {
        session.udt = std::make_unique<UdtRuntime>();
        address.sin_port = htons(uint16_t(settings.basePort + kUdtPortOffset));
        return connectUdt(address, settings.timeout, error);
    }
    address.sin_port = htons(uint16_t(settings.basePort));
    const int fd = connectTcp(address, settings.timeout, error);
    return fd < 0 ? nullptr : std::make_unique<TcpDataLink>(fd);
}

std::string endpoint(const SessionSettings& settings, int port)
{
    return settings.host + ":" + std::to_string(port);
}

bool negotiate(const SessionSettings& settings, Session& session, std::string& error)
{
    const uint8_t transport = settings.transportByte;
    uint8_t answer = 0;
    if (!session.control.sendAll(std::span(&transport, 1))
        || !session.control.receiveExact(std::span(&answer, 1), settings.timeout)) {
        error = "transport negotiation failed: " + session.control.error();
        return false;
    }
    if (answer != kNegotiationAck) {
        error = "transport negotiation failed: the server answered " + hexCode(answer)
            + " instead of 0x01";
        return false;
    }
    return true;
}

}  // namespace

UdtRuntime::UdtRuntime()
{
    UDT::startup();
}

UdtRuntime::~UdtRuntime()
{
    UDT::cleanup();
}

bool Session::markerExpected() const
{
    return transportByte == kTransportTcp;
}

bool openSession(const SessionSettings& settings, Session& session, std::string& error)
{
    session.transportByte = settings.transportByte;
    session.timeout = settings.timeout;
    const int controlPort = settings.basePort + kControlPortOffset;
    sockaddr_in address{};
    if (!resolveHost(settings.host, controlPort, address, error))
        return false;
    if (!session.control.connect(address, settings.timeout)) {
        error = "cannot connect to the control port " + endpoint(settings, controlPort) + ": "
            + session.control.error();
        return false;
    }
    if (!negotiate(settings, session, error))
        return false;
    std::string reason;
    session.data = connectData(settings, session, address, reason);
    if (!session.data) {
        const bool udt = settings.transportByte == kTransportUdt;
        const int port = settings.basePort + (udt ? kUdtPortOffset : 0);
        error = std::string("cannot open the ") + (udt ? "UDT" : "TCP") + " data connection to "
            + endpoint(settings, port) + ": " + reason;
        return false;
    }
    return true;
}

}  // namespace handheld
