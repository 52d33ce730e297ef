#include "requests.h"

#include "bytes.h"

#include <zlib.h>

#include <algorithm>
#include <random>

namespace handheld {

namespace {

void putMasked(Bytes& payload, size_t offset, const std::string& text, size_t maskBase)
{
    for (size_t i = 0; i < kLoginFieldSize; ++i) {
        const uint8_t plain = i < text.size() ? uint8_t(text[i]) : 0;
        payload[offset + i] = plain ^ payload[maskBase + (offset + i) % 8];
    }
}

void putScheduleTime(uint8_t* words, const ScheduleTime& time)
{
    putBe16(words, time.minute);
    putBe16(words + 2, time.hour);
    putBe16(words + 4, time.day);
    putBe16(words + 6, time.month);
    putBe16(words + 8, time.year);
}

}  // namespace

LoginMask randomLoginMask()
{
    std::random_device source;
    LoginMask mask;
    for (auto& byte : mask)
        byte = uint8_t(source());
    return mask;
}

Bytes buildLoginPayload(const std::string& user, const std::string& password, const LoginMask& mask,
                        const CompatMask& compat)
{
    Bytes payload(kLoginPayloadSize, 0);
    std::copy(mask.begin(), mask.end(), payload.begin() + kLoginMaskOffset);
    std::copy(compat.begin(), compat.end(), payload.begin() + kLoginCompatOffset);
    putMasked(payload, kLoginNameOffset, user, kLoginNameMaskBase);
    putMasked(payload, kLoginPasswordOffset, password, kLoginPasswordMaskBase);
    return payload;
}

Bytes buildPathPayload(const std::string& path)
{
    Bytes payload(kPathPayloadSize, 0);
    std::copy_n(path.begin(), std::min(path.size(), kPathPayloadSize - 1), payload.begin());
    return payload;
}

Bytes buildInt32Payload(int32_t value)
{
    Bytes payload(kChannelPayloadSize, 0);
    putLe32(payload.data(), uint32_t(value));
    return payload;
}

Bytes buildStreamPayload(const StreamRequest& request)
{
    Bytes payload(kStreamPayloadSize, 0);
    putLe32(&payload[kStreamChannelOffset], uint32_t(request.channel));
    putLe32(&payload[kStreamStartOffset], uint32_t(request.startSeconds));
    putLe32(&payload[kStreamBitrateOffset], uint32_t(request.bitrateKbps));
    payload[kStreamProfileOffset] = request.profile;
    putLe16(&payload[kStreamWidthOffset], request.width);
    putLe16(&payload[kStreamHeightOffset], request.height);
    payload[kStreamCaptionsOffset] = request.captions;
    payload[kStreamCodecOffset] = request.codec;
    payload[kStreamAudioFormatOffset] = request.audioFormat;
    payload[kStreamVideoNumberOffset] = uint8_t(request.videoNumber);
    payload[kStreamAudioNumberOffset] = uint8_t(request.audioNumber);
    payload[kStreamSubtitleNumberOffset] = uint8_t(request.subtitleNumber);
    return payload;
}

Bytes buildSchedulePayload(const ScheduleRequest& request)
{
    Bytes payload(kSchedulePayloadSize, 0);
    putBe16(&payload[0], request.channel);
    putBe16(&payload[2], request.row);
    putScheduleTime(&payload[6], request.start);
    putScheduleTime(&payload[20], request.end);
    return payload;
}

Bytes buildRowPayload(uint16_t row)
{
    Bytes payload(kRowPayloadSize, 0);
    putBe16(payload.data(), row);
    return payload;
}

const char* scheduleResultText(int8_t result)
{
    switch (result) {
    case 0: return "stored";
    case -2: return "all slots are in use";
    case -3: return "the start time is in the past";
    case -4: return "the end time is not later than the start time";
    case -5: return "the time range overlaps another schedule";
    case -6: return "the channel is not set up or enabled";
    case -7: return "the schedule to modify no longer exists";
    case -8: return "a date field is out of range";
    default: return "unknown result";
    }
}

StreamHeader decodeStreamHeader(std::span<const uint8_t, kReplyBodySize> body)
{
    const uint8_t* b = body.data();
    StreamHeader header;
    header.format = getLeInt32(b);
    header.stereo = b[4];
    header.codec = b[5];
    header.frameRate = b[6];
    header.audioFormat = b[7];
    header.videoBitrate = getLeInt32(b + 8);
    header.sampleRate = getLeInt32(b + 12);
    header.bytesPerSample = getLeInt32(b + 16);
    header.audioBitrate = getLeInt32(b + 20);
    header.durationMs = getLeInt32(b + 24);
    header.ratioWidth = getLeInt32(b + 28);
    header.ratioHeight = getLeInt32(b + 32);
    header.subtitleKind = getLeInt32(b + 36);
    return header;
}

bool parseListing(std::span<const uint8_t> block, std::vector<ListingEntry>& entries,
                  std::string& error)
{
    size_t at = 0;
    while (at < block.size() && block[at] != 0) {
        const auto nul = std::find(block.begin() + long(at), block.end(), uint8_t(0));
        const size_t nameEnd = size_t(nul - block.begin());
        if (nameEnd + 1 >= block.size()) {
            error = "listing entry without a type letter at byte " + std::to_string(at);
            return false;
        }
        entries.push_back({char(block[nameEnd + 1]),
                           std::string(block.begin() + long(at), block.begin() + long(nameEnd))});
        at = nameEnd + 2;
    }
    if (at >= block.size()) {
        error = "listing block lacks its closing zero byte";
        return false;
    }
    return true;
}

bool inflateExact(std::span<const uint8_t> compressed, size_t rawSize, Bytes& raw,
                  std::string& error)
{
    raw.assign(rawSize, 0);
    uLongf produced = uLongf(rawSize);
    const int code = ::uncompress(raw.data(), &produced, compressed.data(), uLong(compressed.size()));
    if (code != Z_OK || produced != rawSize) {
        error = "cannot inflate the data block (zlib code " + std::to_string(code) + ", "
            + std::to_string(produced) + " of " + std::to_string(rawSize) + " bytes)";
        return false;
    }
    return true;
}

std::vector<ChannelEntry> decodeChannels(std::span<const uint8_t> entries)
{
    std::vector<ChannelEntry> channels;
    for (size_t at = 0; at + kChannelEntrySize <= entries.size(); at += kChannelEntrySize) {
        const uint8_t* e = entries.data() + at;
        channels.push_back({uint16_t(e[0] | e[1] << 8), e[2] != 0,
                            fixedText(e + kChannelDescriptionOffset, kChannelDescriptionSize)});
    }
    return channels;
}

FileInfo decodeFileInfo(std::span<const uint8_t, kFileInfoSize> record)
{
    const uint8_t* r = record.data();
    FileInfo info;
    info.size = getLeInt32(r);
    info.hours = r[4];
    info.minutes = r[5];
    info.seconds = r[6];
    info.hundredths = r[7];
    info.bitrateKbps = getLeInt32(r + 8);
    info.streamCount = r[12];
    const size_t shown = std::min<size_t>(info.streamCount, kFileInfoStreamCount);
    for (size_t i = 0; i < shown; ++i) {
        const uint8_t* s = r + kFileInfoStreamOffset + i * kFileInfoStreamSize;
        info.streams.push_back({getLeFloat(s), fixedText(s + 4, kFileInfoStreamTextSize)});
    }
    info.artist = fixedText(r + kFileInfoArtistOffset, kFileInfoTagSize);
    info.album = fixedText(r + kFileInfoAlbumOffset, kFileInfoTagSize);
    info.genre = fixedText(r + kFileInfoGenreOffset, kFileInfoGenreSize);
    return info;
}

}  // namespace handheld
