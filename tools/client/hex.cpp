#include "hex.h"

namespace handheld {

std::string hexBytes(std::span<const uint8_t> bytes)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (const uint8_t b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

std::string hexCode(uint8_t code)
{
    return "0x" + hexBytes(std::span(&code, 1));
}

}  // namespace handheld
