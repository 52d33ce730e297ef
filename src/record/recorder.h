#pragma once
// The recording output: an AVI file with WMV2 video and WMA audio, into which
// the encode steps write while the recording flag is set.

#include "config/settings.h"
#include "encode/live_setup.h"

#include <cstdint>
#include <string>

// The free space a recording needs before it starts: two minutes at the
// profile's bit rate, at least 50 MB.
int64_t RecordingSpaceNeeded(const RecordingProfile& profile);
// Why a recording cannot start in the folder (missing, not writable, too
// little room), or empty when it can.
std::string RecordingFolderRefusal(const std::string& folder);

// "Rec_ch%d_%d%s%d_%02d_%02d_%02d.avi" for the channel and the local time now.
std::string RecordingFileName(int channel);

// Opens the file in the recording folder, its encoders and its header. 0, or
// -1 after telling the user why (through the message-display switch).
// The file is named fileName in the recording folder; without one, after
// the channel and the time (RecordingFileName).
int OpenRecorder(const std::string& fileName = {});
// Finishes the file and frees the output; safe when nothing is open.
void CloseRecorder();

// Why the file asked the recording to stop (a write error, a full disk, a
// vanished folder), once; empty when it did not.
std::string TakeRecordingFailure();
// The path of the recording open now, or of the last one.
const std::string& RecordingPath();
