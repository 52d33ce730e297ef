#pragma once
// Media files, shortcuts and listings for the tests of the media library and
// of the catalogue requests. Clips are made with the ffmpeg tool while the
// test runs, and kept tiny so that making them stays fast.

#include "support/process.h"
#include "support/temp_config.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

struct ListedEntry {
    char type;
    std::string name;
    bool operator==(const ListedEntry&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const ListedEntry& entry)
{
    return out << entry.type << ':' << entry.name;
}

// The entries of a listing block; a malformed block yields an entry of type '!'.
inline std::vector<ListedEntry> ParseListing(const uint8_t* block, size_t length)
{
    std::vector<ListedEntry> entries;
    size_t at = 0;
    while (at < length && block[at] != 0) {
        const auto* zero = static_cast<const uint8_t*>(std::memchr(block + at, 0, length - at));
        const size_t nameEnd = zero ? static_cast<size_t>(zero - block) : length;
        if (nameEnd + 1 >= length) {
            entries.push_back({'!', "entry without a type letter"});
            return entries;
        }
        entries.push_back({static_cast<char>(block[nameEnd + 1]),
                           std::string(reinterpret_cast<const char*>(block + at), nameEnd - at)});
        at = nameEnd + 2;
    }
    if (at + 1 != length)
        entries.push_back({'!', "block does not end with its closing zero"});
    return entries;
}

// Runs the ffmpeg tool quietly with the arguments; true when it succeeded.
inline bool MakeClip(const std::vector<std::string>& arguments)
{
    std::vector<std::string> argv = {"/usr/bin/ffmpeg", "-nostdin", "-v", "error", "-y"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return RunProcess(argv, 60000).exitCode == 0;
}

// What the ffmpeg tool finds in one stream of a file, copied out as it is.
inline std::string ElementaryStream(const std::string& clip, const std::string& stream, const std::string& out)
{
    std::vector<std::string> arguments = {"-i", clip, "-map", stream, "-c", "copy"};
    if (stream == "0:a")
        arguments.insert(arguments.end(), {"-write_xing", "0", "-id3v2_version", "0", "-f", "mp3"});
    else
        arguments.insert(arguments.end(), {"-f", "m4v"});
    arguments.push_back(out);
    EXPECT_TRUE(MakeClip(arguments));
    return ReadFileBytes(out);
}

// Whether received holds every byte of the source, followed only by the
// padding of the end packet, which is always a whole chunk.
inline ::testing::AssertionResult CarriesTheStream(const std::string& source, const std::string& received, size_t chunk)
{
    const size_t common = std::min(source.size(), received.size());
    if (source.compare(0, common, received, 0, common) != 0)
        return ::testing::AssertionFailure() << "the bytes differ within the first " << common;
    if (received.size() < source.size() || received.size() >= source.size() + chunk)
        return ::testing::AssertionFailure() << received.size() << " bytes arrived of " << source.size();
    return ::testing::AssertionSuccess();
}

// A Windows shell link whose link information names basePath + suffix.
inline std::string ShellLinkBytes(const std::string& basePath, const std::string& suffix = "")
{
    auto le32 = [](std::string& bytes, uint32_t value) {
        for (int i = 0; i < 4; ++i)
            bytes += static_cast<char>(value >> (8 * i));
    };
    std::string header;
    le32(header, 0x4C);
    header += std::string("\x01\x14\x02\x00\x00\x00\x00\x00\xC0\x00\x00\x00\x00\x00\x00\x46", 16);
    le32(header, 0x03);  // has an item list and link information
    header.resize(0x4C, '\0');
    const std::string itemList("\x02\x00\x00\x00", 4);  // list size 2, then the closing zero item
    const std::string volume("\x10\x00\x00\x00\x03\x00\x00\x00\x00\x00\x00\x00\x10\x00\x00\x00", 16);
    const uint32_t baseOffset = 0x1C + static_cast<uint32_t>(volume.size());
    const uint32_t suffixOffset = baseOffset + static_cast<uint32_t>(basePath.size()) + 1;
    const uint32_t infoSize = suffixOffset + static_cast<uint32_t>(suffix.size()) + 1;
    std::string info;
    for (uint32_t field : {infoSize, 0x1Cu, 0x01u, 0x1Cu, baseOffset, 0u, suffixOffset})
        le32(info, field);
    info += volume + basePath + '\0' + suffix + '\0';
    return header + itemList + info + std::string(4, '\0');
}
