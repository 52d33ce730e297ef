// Requests on the control connection: one request and its 42-byte reply,
// the data blocks some replies announce, and the replies both clients read.
#pragma once

#include "links.h"
#include "requests.h"

#include <array>
#include <functional>
#include <span>
#include <string>

namespace handheld {

struct Reply {
    uint8_t code = 0;
    std::array<uint8_t, kReplyBodySize> body{};
};

// Network and framing failures go to the error report with the request they
// belong to; the caller only learns that the exchange failed.
class Commander {
public:
    using ErrorReport = std::function<void(const std::string&)>;

    Commander(Session& session, ErrorReport report) : session_(session), report_(std::move(report)) {}

    bool exchange(uint8_t command, std::span<const uint8_t> payload, Reply& reply);
    // The same, waiting at least minimumWait for the reply.
    bool exchange(uint8_t command, std::span<const uint8_t> payload, Reply& reply, Millis minimumWait);
    bool receiveBlock(size_t size, Bytes& block);
    Session& session() { return session_; }

private:
    bool send(uint8_t command, std::span<const uint8_t> payload);

    Session& session_;
    ErrorReport report_;
};

// After repeated failures a server waits up to 30 s before it answers a login.
inline constexpr Millis kThrottledLoginWait{35000};

const char* loginResultText(int8_t result);

// The channel entries announced by an accepted ListChannels reply.
bool receiveChannels(Commander& commander, const Reply& reply, std::vector<ChannelEntry>& channels,
                     std::string& error);

}  // namespace handheld
