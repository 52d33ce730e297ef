// Byte-order helpers: the protocol mixes little-endian integers with the
// big-endian words of the schedule requests, so every access is explicit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace handheld {

inline uint32_t getLe32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

inline int32_t getLeInt32(const uint8_t* p)
{
    return static_cast<int32_t>(getLe32(p));
}

inline void putLe32(uint8_t* p, uint32_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}

inline void putLe16(uint8_t* p, uint16_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}

inline void putBe16(uint8_t* p, uint16_t v)
{
    p[0] = uint8_t(v >> 8);
    p[1] = uint8_t(v);
}

inline float getLeFloat(const uint8_t* p)
{
    const uint32_t bits = getLe32(p);
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

// Text of a fixed-size field that may fill its whole width without a NUL.
inline std::string fixedText(const uint8_t* p, size_t width)
{
    const void* nul = std::memchr(p, 0, width);
    const size_t length = nul ? static_cast<const uint8_t*>(nul) - p : width;
    return std::string(reinterpret_cast<const char*>(p), length);
}

}  // namespace handheld
