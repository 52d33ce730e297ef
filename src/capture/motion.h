#pragma once
// Motion monitoring: while a handheld leaves the PC watching a channel, one
// picture in 32 is compared with the last compared one. The first ten such
// pictures only prime the reference.

#include <atomic>
#include <cstddef>
#include <cstdint>

// Starts counting a comparison period anew; with the stream buffers.
void RestartMonitoringPeriod();
// The last compared picture, frameBytes long, made by the graph's build
// unless it has one: the next compared picture only primes it, so that a new
// graph's pictures are not compared with an old one's. The teardown releases
// it.
void PrepareMotionReference(int frameBytes);
void ReleaseMotionReference();
bool HasMotionReference();

// Compares a picture with the reference in four bands of length / 4 bytes,
// copying each byte into the reference as it goes. True as soon as one
// band's average absolute difference is above 6 per byte: the rest of the
// reference then keeps its earlier content. Bytes past the last whole band
// are copied but never judged.
bool FrameHasMotion(uint8_t* reference, const uint8_t* picture, size_t length);

// The video callback's monitoring step, for every picture while the current
// channel's motion switch and the monitoring flag are on: primes the
// reference, then compares, remembers motion for the handheld and, when the
// user asked for it, has the window thread start a recording.
void MonitorVideoFrame(const uint8_t* picture, int length);
