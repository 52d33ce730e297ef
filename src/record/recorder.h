#pragma once
// The recording output: an AVI file with WMV2 video and WMA audio, into which
// the encode steps write while the recording flag is set.

#include "encode/live_setup.h"

#include <string>

// "Rec_ch%d_%d%s%d_%02d_%02d_%02d.avi" for the channel and the local time now.
std::string RecordingFileName(int channel);

// Opens the file in the recording folder, its encoders and its header. 0, or
// -1 after telling the user why (through the message-display switch).
int OpenRecorder();
// Finishes the file and frees the output; safe when nothing is open.
void CloseRecorder();
