#pragma once
// A picture of a finished recording for lists of recordings: "NAME.jpg"
// beside "NAME.avi" (the name media centres look for), 320 pixels wide,
// from a third of the way in and at most a minute in, where the picture has
// settled. Made once, when the recording ends.

#include <string>

// The picture's path for a recording's.
std::string ThumbnailPath(const std::string& recordingPath);

// Writes it; false with FFmpeg's or the file system's words. A recording
// without pictures (sound only) has none.
bool WriteRecordingThumbnail(const std::string& recordingPath, std::string& error);
