// Request payloads the handheld builds and the reply layouts it decodes.
// Nothing here touches the network.
#pragma once

#include "protocol.h"

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace handheld {

using Bytes = std::vector<uint8_t>;
using LoginMask = std::array<uint8_t, kLoginMaskCount>;
using CompatMask = std::array<uint8_t, kCompatMaskSize>;

LoginMask randomLoginMask();
Bytes buildLoginPayload(const std::string& user, const std::string& password, const LoginMask& mask,
                        const CompatMask& compat);

// A NUL-terminated UTF-8 path in a 256-byte field; the caller has checked
// that it leaves room for the terminator.
Bytes buildPathPayload(const std::string& path);

Bytes buildInt32Payload(int32_t value);

struct StreamRequest {
    int32_t channel = 0;
    int32_t startSeconds = 0;
    int32_t bitrateKbps = 0;
    uint8_t profile = 0;
    uint16_t width = 0;
    uint16_t height = 0;
    uint8_t captions = 0;
    uint8_t codec = kCodecMpeg4;
    uint8_t audioFormat = 0;
    int8_t videoNumber = -1;
    int8_t audioNumber = -1;
    int8_t subtitleNumber = -1;
};
Bytes buildStreamPayload(const StreamRequest& request);

// Schedule fields are sent as given, without calendar checks, so that the
// server's own range checks can be exercised.
struct ScheduleTime {
    uint16_t year = 0;
    uint16_t month = 0;
    uint16_t day = 0;
    uint16_t hour = 0;
    uint16_t minute = 0;
};

struct ScheduleRequest {
    uint16_t channel = 0;
    uint16_t row = 0;
    ScheduleTime start;
    ScheduleTime end;
};
Bytes buildSchedulePayload(const ScheduleRequest& request);
Bytes buildRowPayload(uint16_t row);
const char* scheduleResultText(int8_t result);

struct StreamHeader {
    int32_t format = 0;
    uint8_t stereo = 0;
    uint8_t codec = 0;
    uint8_t frameRate = 0;
    uint8_t audioFormat = 0;
    int32_t videoBitrate = 0;
    int32_t sampleRate = 0;
    int32_t bytesPerSample = 0;
    int32_t audioBitrate = 0;
    int32_t durationMs = 0;
    int32_t ratioWidth = 0;
    int32_t ratioHeight = 0;
    int32_t subtitleKind = 0;

    bool hasVideo() const { return codec != kStreamAbsent; }
    bool hasAudio() const { return audioFormat != kStreamAbsent; }
};
StreamHeader decodeStreamHeader(std::span<const uint8_t, kReplyBodySize> body);

struct ListingEntry {
    char type;
    std::string name;
};
bool parseListing(std::span<const uint8_t> block, std::vector<ListingEntry>& entries,
                  std::string& error);

// Inflates one zlib stream that must yield exactly `rawSize` bytes.
bool inflateExact(std::span<const uint8_t> compressed, size_t rawSize, Bytes& raw,
                  std::string& error);

struct ChannelEntry {
    uint16_t index;
    bool scheduled;
    std::string description;
};
std::vector<ChannelEntry> decodeChannels(std::span<const uint8_t> entries);

struct FileInfoStream {
    float frameRate;
    std::string text;
};

struct FileInfo {
    int32_t size = 0;
    uint8_t hours = 0;
    uint8_t minutes = 0;
    uint8_t seconds = 0;
    uint8_t hundredths = 0;
    int32_t bitrateKbps = 0;
    uint8_t streamCount = 0;
    std::vector<FileInfoStream> streams;
    std::string artist;
    std::string album;
    std::string genre;
};
FileInfo decodeFileInfo(std::span<const uint8_t, kFileInfoSize> record);

}  // namespace handheld
