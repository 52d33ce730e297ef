#pragma once
// A handheld speaking the wire protocol over raw TCP sockets, for tests that
// must hold a session open while something else happens to the server: a
// handheld that stops reading its data, a shutdown in mid-stream.

#include <cstdint>
#include <string>
#include <vector>

class HandheldLink {
public:
    HandheldLink() = default;
    ~HandheldLink();
    HandheldLink(const HandheldLink&) = delete;
    HandheldLink& operator=(const HandheldLink&) = delete;

    // Negotiates TCP with the data marker and logs in; false on any failure.
    bool Open(int basePort, const std::string& user, const std::string& password);

    // Sends a command with its payload and waits up to timeoutMs for the
    // reply code; -1 when none came. The reply's body goes to body if given.
    int Ask(uint8_t command, const std::vector<uint8_t>& payload, int timeoutMs,
            std::vector<uint8_t>* body = nullptr);

    // The 52-byte StartLiveStream payload.
    static std::vector<uint8_t> LiveRequest(int32_t channel, uint8_t profile, int32_t customKbps = 0,
                                            uint16_t width = 0, uint16_t height = 0, uint8_t codec = 0);
    static std::vector<uint8_t> Int32(int32_t value);

    // Reads and drops up to count bytes of the data connection within timeoutMs; what arrived.
    size_t DrainData(size_t count, int timeoutMs);

    int control = -1;
    int data = -1;
};
