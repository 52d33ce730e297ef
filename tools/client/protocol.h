// Every wire constant of the client lives here, so that each byte it sends or
// expects can be checked against the server side in one place.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace handheld {

// Users configure one base port P; control is on P+1, TCP data on P and UDT
// data on P+2.
inline constexpr int kDefaultBasePort = 7000;
inline constexpr int kControlPortOffset = 1;
inline constexpr int kUdtPortOffset = 2;
inline constexpr int kMaxBasePort = 65535 - kUdtPortOffset;

// Transport byte sent first on the control connection. Any nonzero value
// selects TCP, but only exactly 1 makes the server write the data marker.
inline constexpr uint8_t kTransportUdt = 0x00;
inline constexpr uint8_t kTransportTcp = 0x01;
inline constexpr uint8_t kTransportTcpNoMarker = 0xFF;
inline constexpr uint8_t kNegotiationAck = 0x01;

// Requests are 0xAA, command byte, payload; replies are 0xAA, code, 40 body
// bytes. Nothing carries a length, so one wrong size desynchronises the
// session for good.
inline constexpr uint8_t kFrameMarker = 0xAA;
inline constexpr uint8_t kRefusedCode = 0xFF;
inline constexpr size_t kReplyBodySize = 40;
inline constexpr size_t kReplySize = 2 + kReplyBodySize;

namespace command {
inline constexpr uint8_t ModifySchedule = 0x81;
inline constexpr uint8_t DeleteSchedule = 0x82;
inline constexpr uint8_t AddSchedule = 0x83;
inline constexpr uint8_t ListSchedules = 0x84;
inline constexpr uint8_t Login = 0xAC;
inline constexpr uint8_t ListSubtitleFolder = 0xBC;
inline constexpr uint8_t GetFileInfo = 0xBE;
inline constexpr uint8_t ListMediaFolder = 0xBF;
inline constexpr uint8_t ListChannels = 0xC3;
inline constexpr uint8_t GetChannel0 = 0xCD;
inline constexpr uint8_t SetCaptions = 0xCE;
inline constexpr uint8_t SetMediaFile = 0xD2;
inline constexpr uint8_t StartFileStream = 0xD3;
inline constexpr uint8_t StartLiveStream = 0xD4;
inline constexpr uint8_t SetSubtitleFile = 0xD6;
inline constexpr uint8_t StartMonitoring = 0xDB;
inline constexpr uint8_t StartRecording = 0xDC;
inline constexpr uint8_t StopRecording = 0xDD;
inline constexpr uint8_t ClearRecordingFlag = 0xDE;
inline constexpr uint8_t GetMotionStatus = 0xEA;
inline constexpr uint8_t Disconnect = 0xEC;
inline constexpr uint8_t StopStream = 0xED;
inline constexpr uint8_t GetRecordingStatus = 0xEE;
}  // namespace command

// Payload sizes, fixed per command: the server has no length field.
inline constexpr size_t kPathPayloadSize = 256;
inline constexpr size_t kLoginPayloadSize = 96;
inline constexpr size_t kStreamPayloadSize = 52;
inline constexpr size_t kSchedulePayloadSize = 32;
inline constexpr size_t kRowPayloadSize = 2;
inline constexpr size_t kChannelPayloadSize = 4;
inline constexpr size_t kCaptionsPayloadSize = 1;

// Login payload layout. The name is masked with bytes 64..71 and the
// password with bytes 71..78, so byte 71 serves both.
inline constexpr size_t kLoginFieldSize = 32;
inline constexpr size_t kLoginNameOffset = 0;
inline constexpr size_t kLoginPasswordOffset = 32;
inline constexpr size_t kLoginMaskOffset = 64;
inline constexpr size_t kLoginMaskCount = 15;
inline constexpr size_t kLoginNameMaskBase = 64;
inline constexpr size_t kLoginPasswordMaskBase = 71;
inline constexpr size_t kLoginCompatOffset = 80;
inline constexpr size_t kCompatMaskSize = 16;
inline constexpr std::array<uint8_t, kCompatMaskSize> kDefaultCompatMask = {
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x18};

inline constexpr size_t kStreamChannelOffset = 0;
inline constexpr size_t kStreamStartOffset = 4;
inline constexpr size_t kStreamBitrateOffset = 8;
inline constexpr size_t kStreamProfileOffset = 12;
inline constexpr size_t kStreamWidthOffset = 16;
inline constexpr size_t kStreamHeightOffset = 18;
inline constexpr size_t kStreamCaptionsOffset = 45;
inline constexpr size_t kStreamCodecOffset = 46;
inline constexpr size_t kStreamAudioFormatOffset = 47;
inline constexpr size_t kStreamVideoNumberOffset = 48;
inline constexpr size_t kStreamAudioNumberOffset = 49;
inline constexpr size_t kStreamSubtitleNumberOffset = 50;

// The one size class that reads width and height from the payload.
inline constexpr int kSizeClassCustom = 4;

// Video codec selectors; the server treats every other value as H.263.
inline constexpr uint8_t kCodecMpeg4 = 0;
inline constexpr uint8_t kCodecH263 = 1;
inline constexpr uint8_t kCodecH264 = 2;
// Codec or audio format byte of a stream header whose stream is absent.
inline constexpr uint8_t kStreamAbsent = 0xFF;
inline constexpr int32_t kStreamHeaderFormat = 3;

// Written on a TCP data connection after each stream-start reply when the
// transport byte was exactly 1.
inline constexpr std::array<uint8_t, 4> kDataMarker = {0xAA, 0xBB, 0xCC, 0xDD};

// Media stream packets: a 32-bit little-endian header whose top byte tells
// the kind, then a fixed-size chunk (video, audio) or a sized record.
inline constexpr size_t kPacketHeaderSize = 4;
inline constexpr size_t kVideoChunkSize = 8384;
inline constexpr size_t kAudioChunkSize = 4190;
inline constexpr uint8_t kSubtitleTag = 0xCC;
inline constexpr uint8_t kEndTag = 0xFF;
inline constexpr uint8_t kVideoBit = 0x80;
inline constexpr uint32_t kPacketFieldMask = 0x00FFFFFF;

// Upper bounds the server never exceeds; larger values in a reply mean a
// corrupt reply rather than a big catalogue.
inline constexpr size_t kMaxListingSize = 128000;
inline constexpr int kMaxChannels = 1000;
inline constexpr int kScheduleSlots = 20;

inline constexpr size_t kChannelEntrySize = 36;
inline constexpr size_t kChannelDescriptionOffset = 3;
inline constexpr size_t kChannelDescriptionSize = 32;
inline constexpr size_t kScheduleRecordSize = 38;

// The file information record follows every GetFileInfo reply, refusals
// included, so its size must be known even when nothing in it is used.
inline constexpr size_t kFileInfoSize = 584;
inline constexpr size_t kFileInfoStreamCount = 6;
inline constexpr size_t kFileInfoStreamOffset = 16;
inline constexpr size_t kFileInfoStreamSize = 68;
inline constexpr size_t kFileInfoStreamTextSize = 64;
inline constexpr size_t kFileInfoArtistOffset = 424;
inline constexpr size_t kFileInfoAlbumOffset = 488;
inline constexpr size_t kFileInfoGenreOffset = 552;
inline constexpr size_t kFileInfoTagSize = 64;
inline constexpr size_t kFileInfoGenreSize = 32;
// The description that names a video file's companion subtitle file.
inline constexpr char kCompanionSubtitlePrefix[] = "Subtitle: srt: ";

}  // namespace handheld
