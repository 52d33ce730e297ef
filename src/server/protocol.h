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

// The client-to-server payload size of a command; -1 for an unknown byte.
int PayloadSize(uint8_t command);
