#pragma once
// Capture facts that other subsystems read.

#include <atomic>

// Set while a capture graph runs.
extern std::atomic<int> gCaptureRunning;
