#include "commander.h"

#include "bytes.h"
#include "hex.h"

#include <algorithm>

namespace handheld {

namespace {

std::string commandLabel(uint8_t command)
{
    return "request " + hexCode(command);
}

// Channel entries may come deflated or, when deflating does not pay, plain.
bool channelEntries(Commander& commander, size_t rawSize, size_t dataSize, Bytes& entries,
                    std::string& error)
{
    Bytes data;
    if (!commander.receiveBlock(dataSize, data)) {
        error = "channel list: the entries did not arrive";
        return false;
    }
    if (inflateExact(data, rawSize, entries, error))
        return true;
    if (dataSize == rawSize) {
        entries = std::move(data);
        return true;
    }
    error = "channel list: " + error;
    return false;
}

}  // namespace

bool Commander::send(uint8_t command, std::span<const uint8_t> payload)
{
    Bytes request{kFrameMarker, command};
    request.insert(request.end(), payload.begin(), payload.end());
    if (session_.control.sendAll(request))
        return true;
    report_(commandLabel(command) + ": " + session_.control.error());
    return false;
}

bool Commander::exchange(uint8_t command, std::span<const uint8_t> payload, Reply& reply)
{
    return exchange(command, payload, reply, Millis{0});
}

bool Commander::exchange(uint8_t command, std::span<const uint8_t> payload, Reply& reply, Millis minimumWait)
{
    std::array<uint8_t, kReplySize> frame{};
    if (!send(command, payload))
        return false;
    if (!session_.control.receiveExact(frame, std::max(session_.timeout, minimumWait))) {
        report_(commandLabel(command) + ": " + session_.control.error());
        return false;
    }
    if (frame[0] != kFrameMarker) {
        report_(commandLabel(command) + ": reply starts with " + hexCode(frame[0]) + " instead of 0xAA");
        return false;
    }
    reply.code = frame[1];
    std::copy(frame.begin() + 2, frame.end(), reply.body.begin());
    return true;
}

bool Commander::receiveBlock(size_t size, Bytes& block)
{
    block.assign(size, 0);
    if (session_.control.receiveExact(block, session_.timeout))
        return true;
    report_("data block of " + std::to_string(size) + " bytes: " + session_.control.error());
    return false;
}

const char* loginResultText(int8_t result)
{
    switch (result) {
    case 0: return "accepted";
    case -2: return "wrong user name or password";
    case -7: return "client not compatible";
    default: return "unknown result";
    }
}

bool receiveChannels(Commander& commander, const Reply& reply, std::vector<ChannelEntry>& channels,
                     std::string& error)
{
    const int32_t count = getLeInt32(reply.body.data());
    const int32_t length = getLeInt32(reply.body.data() + 4);
    const size_t rawSize = size_t(count) * kChannelEntrySize;
    if (count < 0 || count > kMaxChannels || length < 0 || size_t(length) > rawSize
        || (count > 0) != (length > 0)) {
        error = "channel list: inconsistent count and length in the reply";
        return false;
    }
    Bytes entries;
    if (count > 0 && !channelEntries(commander, rawSize, size_t(length), entries, error))
        return false;
    channels = decodeChannels(entries);
    return true;
}

}  // namespace handheld
