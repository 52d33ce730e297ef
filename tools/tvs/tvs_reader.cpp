#include "tvs_reader.h"

#include "encode/stream_buffers.h"
#include "server/sender.h"

#include <cinttypes>
#include <sys/stat.h>

namespace tvs {

namespace {

constexpr uint32_t kTopByteVideo = 0x80;
constexpr uint32_t kTopByteAudio = 0x00;
constexpr uint32_t kTopByteSubtitle = kSubtitleHeader >> 24;
constexpr uint32_t kTopByteEnd = kEndMarker >> 24;
constexpr int32_t kHeaderFormat = 3;

std::string Hex(uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08" PRIX32, value);
    return text;
}

} // namespace

bool Reader::Fail(const std::string& text)
{
    error_ = text;
    return false;
}

bool Reader::Open(const std::string& path)
{
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return Fail(path + " is no file that can be read");
    file_.reset(std::fopen(path.c_str(), "rb"));
    if (!file_)
        return Fail(path + " cannot be opened");
    size_ = static_cast<uint64_t>(info.st_size);
    if (size_ < sizeof header_ || !ReadAt(0, &header_, sizeof header_))
        return Fail("the file is shorter than the 48-byte header");
    if (header_.params.headerFormat != kHeaderFormat)
        return Fail("the header format is " + std::to_string(header_.params.headerFormat) + ", not 3: no .tvs file");
    if (header_.indexOffset == 0)
        return Fail("the file was never finished: it has no seek index");
    if (header_.indexOffset < kTvsPacketsStart || header_.indexCount > kSeekIndexLength ||
        header_.indexOffset + uint64_t{header_.indexCount} * 4 > size_)
        return Fail("the seek index (" + std::to_string(header_.indexCount) + " entries at offset " +
                    std::to_string(header_.indexOffset) + ") does not fit in the file of " + std::to_string(size_) +
                    " bytes");
    return true;
}

bool Reader::ReadAt(uint64_t offset, void* bytes, size_t count)
{
    return std::fseek(file_.get(), static_cast<long>(offset), SEEK_SET) == 0 &&
           std::fread(bytes, 1, count, file_.get()) == count;
}

bool Reader::LooksLikePacketAt(uint64_t offset)
{
    if (offset == header_.indexOffset)
        return true;
    uint32_t header = 0;
    if (offset + 4 > header_.indexOffset || !ReadAt(offset, &header, 4))
        return false;
    const uint32_t top = header >> 24;
    return top == kTopByteVideo || top == kTopByteAudio || top == kTopByteSubtitle || top == kTopByteEnd;
}

// An end packet says not whether it ends the video or the sound; what
// follows it does.
size_t Reader::EndPayloadSize(uint64_t offset, bool& video)
{
    for (const int32_t size : {kVideoChunk, kAudioChunk}) {
        if (LooksLikePacketAt(offset + 4 + static_cast<uint64_t>(size))) {
            video = size == kVideoChunk;
            return static_cast<size_t>(size);
        }
    }
    return 0;
}

bool Reader::Next(Packet& packet)
{
    if (position_ == header_.indexOffset)
        return false;
    if (position_ + 4 > header_.indexOffset || !ReadAt(position_, &packet.header, 4))
        return Fail("the packets run past the seek index at offset " + std::to_string(position_));
    packet.offset = position_;
    packet.endOfVideo = false;
    const uint32_t top = packet.header >> 24;
    size_t size = 0;
    if (top == kTopByteVideo) {
        packet.kind = PacketKind::Video;
        size = kVideoChunk;
    } else if (top == kTopByteAudio) {
        packet.kind = PacketKind::Audio;
        size = kAudioChunk;
    } else if (top == kTopByteSubtitle) {
        packet.kind = PacketKind::Subtitle;
        size = packet.header & 0xFFFFFF;
    } else if (top == kTopByteEnd) {
        packet.kind = PacketKind::End;
        size = EndPayloadSize(position_, packet.endOfVideo);
        if (size == 0)
            return Fail("the end packet at offset " + std::to_string(position_) + " is followed by no packet");
    } else {
        return Fail("unknown packet header " + Hex(packet.header) + " at offset " + std::to_string(position_));
    }
    if (position_ + 4 + size > header_.indexOffset)
        return Fail("the packet at offset " + std::to_string(position_) + " runs past the seek index");
    packet.payload.resize(size);
    if (size > 0 && !ReadAt(position_ + 4, packet.payload.data(), size))
        return Fail("the packet at offset " + std::to_string(position_) + " cannot be read");
    position_ += 4 + size;
    return true;
}

std::vector<uint32_t> Reader::ReadIndex()
{
    std::vector<uint32_t> index(header_.indexCount);
    if (!index.empty() && !ReadAt(header_.indexOffset, index.data(), index.size() * 4))
        index.clear();
    return index;
}

} // namespace tvs
