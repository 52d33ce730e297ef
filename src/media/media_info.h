#pragma once
// The description of one media file that the handheld shows before it plays
// the file, and that the Encode File dialog shows too.

#include <cstddef>
#include <cstdint>
#include <string>

constexpr int kMediaInfoStreams = 6;

struct StreamDescription {
    float frameRate;  // video streams only
    char text[64];    // one line, zero-terminated
};
static_assert(sizeof(StreamDescription) == 68);

// Sent to the handheld as it is: little-endian, every byte defined.
struct MediaInfoRecord {
    uint32_t fileSize;
    uint8_t hours;
    uint8_t minutes;
    uint8_t seconds;
    uint8_t hundredths;
    int32_t bitRateKbps;
    uint8_t streamCount;
    uint8_t reserved13[3];
    StreamDescription streams[kMediaInfoStreams];
    char artist[64];
    char album[64];
    char genre[32];
};
static_assert(offsetof(MediaInfoRecord, hours) == 4);
static_assert(offsetof(MediaInfoRecord, minutes) == 5);
static_assert(offsetof(MediaInfoRecord, seconds) == 6);
static_assert(offsetof(MediaInfoRecord, hundredths) == 7);
static_assert(offsetof(MediaInfoRecord, bitRateKbps) == 8);
static_assert(offsetof(MediaInfoRecord, streamCount) == 12);
static_assert(offsetof(MediaInfoRecord, streams) == 16);
static_assert(offsetof(MediaInfoRecord, artist) == 424);
static_assert(offsetof(MediaInfoRecord, album) == 488);
static_assert(offsetof(MediaInfoRecord, genre) == 552);
static_assert(sizeof(MediaInfoRecord) == 584);

// Describes a media file: size, duration, bit rate, up to six streams and
// the artist, album and genre tags. For a file with video it also looks for
// a companion subtitle file (the same path ending in "srt"), which becomes
// the session's subtitle file path when it exists; otherwise that path is
// cleared. 0, or -1 when FFmpeg cannot open the file (the record then holds
// at most the file size).
int GetMediaInfo(const std::string& path, MediaInfoRecord& record);

// The media file and the subtitle file the handheld chose for its next file
// stream. GetMediaInfo puts a companion ".srt" file here.
struct MediaSelection {
    char mediaFilePath[256] = {};
    char subtitleFilePath[288] = {};
};
extern MediaSelection gMediaSelection;
