#pragma once
// Reads a .tvs file packet by packet, checking its layout as it goes: a
// damaged file gives an error naming what is wrong, never a crash.

#include "media/tvs_format.h"
#include "platform/owned_file.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tvs {

enum class PacketKind { Video, Audio, Subtitle, End };

struct Packet {
    PacketKind kind = PacketKind::Video;
    uint32_t header = 0;
    uint64_t offset = 0;   // in the file
    bool endOfVideo = false;
    std::vector<uint8_t> payload;

    uint32_t TimeMs() const { return header & 0xFFFFFF; }
};

class Reader {
public:
    bool Open(const std::string& path);
    const TvsHeader& Header() const { return header_; }
    uint64_t FileSize() const { return size_; }

    // The next packet; false at the seek index, or with Error() set.
    bool Next(Packet& packet);
    std::vector<uint32_t> ReadIndex();
    const std::string& Error() const { return error_; }

private:
    bool Fail(const std::string& text);
    bool ReadAt(uint64_t offset, void* bytes, size_t count);
    bool LooksLikePacketAt(uint64_t offset);
    size_t EndPayloadSize(uint64_t offset, bool& video);

    FilePtr file_;
    TvsHeader header_{};
    uint64_t size_ = 0;
    uint64_t position_ = kTvsPacketsStart;
    std::string error_;
};

} // namespace tvs
