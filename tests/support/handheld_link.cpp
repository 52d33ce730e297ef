#include "support/handheld_link.h"

#include "support/loopback.h"

#include <arpa/inet.h>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr uint8_t kMarker = 0xAA;
constexpr uint8_t kLogin = 0xAC;
constexpr size_t kReplySize = 42;

int Connect(int port)
{
    int socket = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(kLoopbackHostOrder);
    address.sin_port = htons(static_cast<uint16_t>(port));
    if (::connect(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(socket);
        return -1;
    }
    return socket;
}

// Name and password in the clear: the login mask is all zeros.
std::vector<uint8_t> LoginPayload(const std::string& user, const std::string& password)
{
    std::vector<uint8_t> payload(96, 0);
    std::memcpy(payload.data(), user.data(), std::min<size_t>(user.size(), 31));
    std::memcpy(payload.data() + 32, password.data(), std::min<size_t>(password.size(), 31));
    payload[95] = 0x18;  // the compatibility bits this server answers to
    return payload;
}

} // namespace

HandheldLink::~HandheldLink()
{
    for (int socket : {control, data})
        if (socket >= 0)
            ::close(socket);
}

bool HandheldLink::Open(int basePort, const std::string& user, const std::string& password)
{
    control = Connect(basePort + 1);
    const uint8_t tcp = 1;
    if (control < 0 || ::send(control, &tcp, 1, MSG_NOSIGNAL) != 1 || ReadBytes(control, 1, 5000).size() != 1)
        return false;
    data = Connect(basePort);
    std::vector<uint8_t> body;
    return data >= 0 && Ask(kLogin, LoginPayload(user, password), 40000, &body) == kLogin && !body.empty() &&
           body[0] == 0;
}

int HandheldLink::Ask(uint8_t command, const std::vector<uint8_t>& payload, int timeoutMs, std::vector<uint8_t>* body)
{
    std::vector<uint8_t> bytes = {kMarker, command};
    bytes.insert(bytes.end(), payload.begin(), payload.end());
    if (::send(control, bytes.data(), bytes.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(bytes.size()))
        return -1;
    std::vector<uint8_t> reply = ReadBytes(control, kReplySize, timeoutMs);
    if (reply.size() != kReplySize || reply[0] != kMarker)
        return -1;
    if (body)
        body->assign(reply.begin() + 2, reply.end());
    return reply[1];
}

std::vector<uint8_t> HandheldLink::LiveRequest(int32_t channel, uint8_t profile, int32_t customKbps, uint16_t width,
                                               uint16_t height, uint8_t codec)
{
    std::vector<uint8_t> payload(52, 0);
    std::memcpy(payload.data(), &channel, 4);
    std::memcpy(payload.data() + 8, &customKbps, 4);
    payload[12] = profile;
    std::memcpy(payload.data() + 16, &width, 2);
    std::memcpy(payload.data() + 18, &height, 2);
    payload[46] = codec;
    return payload;
}

std::vector<uint8_t> HandheldLink::Int32(int32_t value)
{
    std::vector<uint8_t> payload(4);
    std::memcpy(payload.data(), &value, 4);
    return payload;
}

size_t HandheldLink::DrainData(size_t count, int timeoutMs)
{
    return ReadBytes(data, count, timeoutMs).size();
}
