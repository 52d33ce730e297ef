#include "media/shell_link.h"

#include <cstring>

namespace {

// The fixed header: its own size, the class id, then the link flags.
constexpr size_t kHeaderSize = 0x4C;
constexpr size_t kClassIdOffset = 4;
constexpr size_t kFlagsOffset = 20;
constexpr uint8_t kShellLinkClassId[16] = {0x01, 0x14, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                                           0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
constexpr uint32_t kHasTargetIdList = 0x01;
constexpr uint32_t kHasLinkInfo = 0x02;

// The link information block: offsets count from its start.
constexpr size_t kLinkInfoMinimum = 0x1C;
constexpr size_t kLinkInfoFlagsOffset = 8;
constexpr size_t kLocalBasePathOffset = 16;
constexpr size_t kCommonPathSuffixOffset = 24;
constexpr uint32_t kHasLocalBasePath = 0x01;

uint32_t Le32(const uint8_t* p)
{
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

uint16_t Le16(const uint8_t* p)
{
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

// The zero-terminated string at offset inside a block of size bytes; false
// when it starts or runs past the block's end.
bool StringAt(const uint8_t* block, size_t size, uint32_t offset, std::string& text)
{
    if (offset >= size)
        return false;
    const void* zero = std::memchr(block + offset, 0, size - offset);
    if (!zero)
        return false;
    text.assign(reinterpret_cast<const char*>(block + offset), static_cast<const uint8_t*>(zero) - (block + offset));
    return true;
}

} // namespace

int ParseShellLink(const uint8_t* data, size_t size, std::string& target)
{
    target.clear();
    if (size < kHeaderSize || Le32(data) != kHeaderSize ||
        std::memcmp(data + kClassIdOffset, kShellLinkClassId, sizeof kShellLinkClassId) != 0)
        return -1;
    const uint32_t flags = Le32(data + kFlagsOffset);
    if (!(flags & kHasLinkInfo))
        return -1;
    size_t at = kHeaderSize;
    if (flags & kHasTargetIdList) {
        if (size - at < 2)
            return -1;
        at += 2 + Le16(data + at);
    }
    if (at > size || size - at < kLinkInfoMinimum)
        return -1;
    const uint8_t* info = data + at;
    const uint32_t infoSize = Le32(info);
    if (infoSize < kLinkInfoMinimum || infoSize > size - at || !(Le32(info + kLinkInfoFlagsOffset) & kHasLocalBasePath))
        return -1;
    std::string base;
    std::string suffix;
    if (!StringAt(info, infoSize, Le32(info + kLocalBasePathOffset), base) ||
        !StringAt(info, infoSize, Le32(info + kCommonPathSuffixOffset), suffix) || base.empty())
        return -1;
    target = base + suffix;
    return 0;
}
