#pragma once
// The control connection's wire format: 2-byte request headers with fixed
// payload sizes, 42-byte replies.

#include <cstddef>
#include <cstdint>

constexpr uint8_t kMarker = 0xAA;
constexpr uint8_t kRefused = 0xFF;
constexpr size_t kReplySize = 42;
constexpr size_t kReplyBodySize = 40;
constexpr size_t kFileInfoRecordSize = 584;
constexpr uint8_t kDataMarker[4] = {0xAA, 0xBB, 0xCC, 0xDD};
constexpr uint8_t kServerCompatibility[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x18};

enum Command : uint8_t {
    kModifySchedule = 0x81,
    kDeleteSchedule = 0x82,
    kAddSchedule = 0x83,
    kListSchedules = 0x84,
    kLogin = 0xAC,
    kListSubtitleFolder = 0xBC,
    kGetFileInfo = 0xBE,
    kListMediaFolder = 0xBF,
    kListChannels = 0xC3,
    kGetChannel0 = 0xCD,
    kSetCaptions = 0xCE,
    kSetMediaFile = 0xD2,
    kStartFileStream = 0xD3,
    kStartLiveStream = 0xD4,
    kSetSubtitleFile = 0xD6,
    kStartMonitoring = 0xDB,
    kStartRecording = 0xDC,
    kStopRecording = 0xDD,
    kClearRecordingFlag = 0xDE,
    kReserved = 0xE2,
    kGetMotionStatus = 0xEA,
    kDisconnect = 0xEC,
    kStopStream = 0xED,
    kGetRecordingStatus = 0xEE,
};

// Payload sizes of the stream-start and login requests.
constexpr size_t kStreamStartSize = 52;
constexpr size_t kLoginSize = 96;
constexpr size_t kPathSize = 256;

// Login payload: the name and the password, each masked by eight bytes
// (the name's from 64, the password's from 71, so byte 71 serves both),
// then the handheld's compatibility mask.
constexpr size_t kLoginFieldSize = 32;
constexpr size_t kLoginNameOffset = 0;
constexpr size_t kLoginPasswordOffset = 32;
constexpr size_t kLoginNameMaskOffset = 64;
constexpr size_t kLoginPasswordMaskOffset = 71;
constexpr size_t kLoginMaskLength = 8;
constexpr size_t kLoginCompatibilityOffset = 80;
static_assert(kLoginCompatibilityOffset + sizeof kServerCompatibility == kLoginSize);

// Stream-start payload (live and file streams alike).
constexpr size_t kStreamChannelOffset = 0;        // i32
constexpr size_t kStreamStartOffset = 4;          // i32, seconds into a file
constexpr size_t kStreamBitRateOffset = 8;        // i32, custom kbit/s
constexpr size_t kStreamProfileOffset = 12;       // u8: size level << 4 | bit-rate level
constexpr size_t kStreamWidthOffset = 16;         // u16, custom size level only
constexpr size_t kStreamHeightOffset = 18;        // u16
constexpr size_t kStreamCaptionsOffset = 45;      // u8
constexpr size_t kStreamCodecOffset = 46;         // u8, video codec selector
constexpr size_t kStreamAudioFormatOffset = 47;   // u8, echoed in the header
constexpr size_t kStreamVideoNumberOffset = 48;   // i8, file streams: -1 automatic
constexpr size_t kStreamAudioNumberOffset = 49;   // i8
constexpr size_t kStreamSubtitleNumberOffset = 50;  // i8, -1 none
static_assert(kStreamSubtitleNumberOffset < kStreamStartSize);

