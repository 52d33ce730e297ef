#pragma once
// orvandel-setup probe: captures a few seconds from one capture device into
// a Matroska file (MPEG-4 pictures, 16-bit PCM sound) and prints what worked
// and what did not, for a user whose card fails to send one report.

#include <string>

// The device is the entry of the video device list; its own sound is taken
// when the audio list has it. Returns the number of steps that failed.
int ProbeCaptureDevice(int videoEntry, const std::string& outPath, int seconds);
