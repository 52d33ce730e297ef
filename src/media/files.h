#pragma once
// Reading files whose names come from the handheld or from a folder listing:
// only regular files are opened, so a FIFO or a device never blocks a thread.

#include "platform/av_owned.h"

#include <cstddef>
#include <string>

// A descriptor open for reading, or -1 when path is no readable regular file.
int OpenRegularFile(const std::string& path);

// Reads a whole regular file of at most limit bytes. 0, or -1.
int ReadRegularFile(const std::string& path, size_t limit, std::string& contents);

// Reads the first limit bytes of a regular file, all of it when smaller. 0, or -1.
int ReadFileStart(const std::string& path, size_t limit, std::string& contents);

// Opens a media file for FFmpeg as a file and nothing else: a name like
// "concat:..." or "http:..." from the handheld must not reach another
// protocol. An interrupt, when given, ends the opening and every later
// blocking read. Empty when FFmpeg cannot open it.
InputFormatPtr OpenMediaFile(const std::string& path, const AVIOInterruptCB* interrupt = nullptr);
