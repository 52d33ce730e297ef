#pragma once
// Subtitle files (SRT) loaded for the file transcoder, which sends each
// entry's text while the video time lies between its start and end.

#include <cstddef>
#include <cstdint>
#include <string>

constexpr int32_t kMaxSubtitleEntries = 8192;
constexpr size_t kSubtitleTextSize = 512;
// The subtitle kind of the stream header for a loaded subtitle file.
constexpr int32_t kSubtitleKindFile = 1;

struct SubtitleEntry {
    int32_t startMs;
    int32_t endMs;
    char text[kSubtitleTextSize];  // from the timing line to the end of the block
};

struct SubtitleTable {
    int32_t count;
    SubtitleEntry entries[kMaxSubtitleEntries];
};

extern SubtitleTable gSubtitles;

// Reads the timing line at the start of text ("00:01:02,500 --> 00:01:04,000",
// optionally followed by X1:.. X2:.. Y1:.. Y2:.. positions, which are ignored).
// Returns the position after the timing line, or nullptr when it does not parse.
const char* ParseSubtitleTiming(const char* text, int32_t& startMs, int32_t& endMs);

// Splits text into blocks at blank lines (which are overwritten with zeros)
// and adds one entry for each block that has a timing line, up to
// kMaxSubtitleEntries. The last byte of text must be 0. Returns the count.
int32_t FillSubtitleTable(char* text, size_t size, SubtitleTable& table);

// Replaces gSubtitles with the entries of an SRT file and sets the stream's
// subtitle kind to kSubtitleKindFile. The file's last byte is taken as its
// terminator. 0, or -1 (table untouched) when the file cannot be read whole.
int LoadSubtitleFile(const std::string& path);
