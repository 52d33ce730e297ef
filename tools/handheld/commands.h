// Requests on the control connection and the subcommands built on them.
#pragma once

#include "links.h"
#include "options.h"
#include "report.h"

#include <array>
#include <span>
#include <string_view>

namespace handheld {

struct Reply {
    uint8_t code = 0;
    std::array<uint8_t, kReplyBodySize> body{};
};

// One request and its 42-byte reply. Network and framing failures are
// reported on stderr; the caller only learns that the exchange failed.
class Commander {
public:
    explicit Commander(Session& session) : session_(session) {}

    bool exchange(uint8_t command, std::span<const uint8_t> payload, Reply& reply);
    // The same, waiting at least minimumWait for the reply.
    bool exchange(uint8_t command, std::span<const uint8_t> payload, Reply& reply, Millis minimumWait);
    // The data block that some replies announce.
    bool receiveBlock(size_t size, Bytes& block);
    Session& session() { return session_; }

private:
    bool send(uint8_t command, std::span<const uint8_t> payload);

    Session& session_;
};

// Prints "<key>_code=0x.." and tells whether the server accepted the request.
Status checkCode(std::string_view key, const Reply& reply, uint8_t command);
// A request whose reply carries nothing but its code.
Status simpleRequest(Commander& commander, std::string_view key, uint8_t command,
                     std::span<const uint8_t> payload);

Status login(Commander& commander, const Options& options);
Status runStep(Commander& commander, const Options& options, const Step& step);
void disconnect(Commander& commander);

}  // namespace handheld
