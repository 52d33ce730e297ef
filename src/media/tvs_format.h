#pragma once
// The .tvs file, which the handheld plays offline: the stream parameters,
// the packet stream exactly as the sender sends it, and a seek index.
//
//   0   the 48-byte header below
//   48  packets: a 4-byte time header and 8,384 video or 4,190 audio bytes,
//       and subtitle records after each batch
//   indexOffset  one 32-bit offset per second of stream time: the first
//       packet at or after that second, counted from byte 48

#include "shared/live_params.h"

#include <cstddef>
#include <cstdint>

struct TvsHeader {
    // As the stream header, except that it carries bits per sample (16)
    // where the handheld's stream header has bytes, and that at the end
    // aspectWidth is overwritten with the time in ms of the last packet.
    LiveEncodingParams params;
    uint32_t indexOffset;  // 0 until the file is finished
    uint32_t indexCount;
};
static_assert(offsetof(TvsHeader, params) == 0);
static_assert(offsetof(TvsHeader, indexOffset) == 40);
static_assert(offsetof(TvsHeader, indexCount) == 44);
static_assert(sizeof(TvsHeader) == 48);

constexpr uint32_t kTvsPacketsStart = sizeof(TvsHeader);
constexpr uint32_t kTvsLastTimeOffset = offsetof(TvsHeader, params) + offsetof(LiveEncodingParams, aspectWidth);
