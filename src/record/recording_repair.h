#pragma once
// Recordings that a crash, a kill or a power cut left open: their AVI
// header still holds the size placeholder and they have no index, so most
// players refuse them or cannot tell their length. Each is remuxed in place
// with the FFmpeg libraries; the original stays until the repaired copy has
// been read back.

#include "platform/av_owned.h"

#include <string>

// Opens a recording and reads its streams; false with FFmpeg's words.
bool OpenRecordingInput(const std::string& path, InputFormatPtr& input, std::string& error);

// Whether the file is an AVI whose writer never closed it.
bool IsUnclosedRecording(const std::string& path);

// Remuxes one file in place. On success `seconds` is its length.
bool RepairRecording(const std::string& path, double& seconds, std::string& error);

// Repairs every unclosed recording in the folder and logs each; a file that
// cannot be repaired is kept as it is. Also removes what an interrupted
// repair left behind.
void RepairUnclosedRecordings(const std::string& folder);
