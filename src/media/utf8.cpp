#include "media/utf8.h"

#include <cstdint>
#include <cstring>

namespace {

bool IsContinuation(unsigned char byte)
{
    return (byte & 0xC0) == 0x80;
}

// The length of the character that starts with lead, and the smallest code
// point that may use that length; 0 for a byte that cannot start one.
size_t SequenceLength(unsigned char lead, uint32_t& smallest)
{
    if (lead < 0x80) {
        smallest = 0;
        return 1;
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
        smallest = 0x80;
        return 2;
    }
    if (lead >= 0xE0 && lead <= 0xEF) {
        smallest = 0x800;
        return 3;
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        smallest = 0x10000;
        return 4;
    }
    return 0;
}

} // namespace

bool IsValidUtf8(const char* text, size_t length)
{
    const auto* bytes = reinterpret_cast<const unsigned char*>(text);
    for (size_t at = 0; at < length;) {
        uint32_t smallest = 0;
        const size_t count = SequenceLength(bytes[at], smallest);
        if (count == 0 || count > length - at)
            return false;
        uint32_t point = count == 1 ? bytes[at] : bytes[at] & (0x7F >> count);
        for (size_t i = 1; i < count; ++i) {
            if (!IsContinuation(bytes[at + i]))
                return false;
            point = point << 6 | (bytes[at + i] & 0x3F);
        }
        // Over-long forms, UTF-16 surrogates and points past U+10FFFF.
        if (point < smallest || (point >= 0xD800 && point <= 0xDFFF) || point > 0x10FFFF)
            return false;
        at += count;
    }
    return true;
}

void CopyText(char* destination, size_t size, const char* text)
{
    size_t length = strnlen(text, size);
    if (length == size) {
        length = size - 1;
        while (length > 0 && IsContinuation(static_cast<unsigned char>(text[length])))
            --length;
    }
    std::memcpy(destination, text, length);
    destination[length] = 0;
}
