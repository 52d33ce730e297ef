#pragma once
// The stream sender: the one consumer of the stream buffers. It gathers
// time-ordered chunks into batches and writes them to the handheld's data
// connection, or to a .tvs file, followed by any pending subtitle records.

#include <atomic>
#include <cstdint>
#include <cstdio>

constexpr int kSeekIndexLength = 14400;  // four hours, one entry a second

struct SenderState {
    std::atomic<int> writeToFile{0};
    FILE* file = nullptr;
    std::atomic<int> endWritten{0};
    // The low 24 bits of the newest chunk's header: its stream time in ms.
    std::atomic<uint32_t> lastChunkTime{0};
    // Byte offset within the media stream of the first packet of each second.
    uint32_t seekIndex[kSeekIndexLength] = {};
    int32_t seekCount = 0;
    uint32_t seekRunningOffset = 0;
    uint32_t seekNextTime = 0;
};

extern SenderState gSender;

// Batch size and pauses for one stream. A batch to a handheld goes as soon
// as no further chunk is ready, so that each chunk reaches it within a
// fraction of a second; the threshold caps a batch when chunks wait (a file
// stream, or a link that fell behind). A .tvs file is written in whole
// batches.
struct SenderPacing {
    int threshold;
    int pauseBeforeGatherMs;
    int pauseAfterWriteMs;
    bool sendWhatIsReady;
};

SenderPacing ChooseSenderPacing(bool toFile, bool udt, int quality);

// Starts the sender thread for the data connection (or the file, with the
// write-to-file flag set).
int StartSender(int quality);

// Clears the streaming flag, asks the sender to stop and waits for it.
void StopSender();
// The same for a handheld's stream. A sender writing a .tvs file belongs to
// the Encode File window and goes on: a handheld that comes, goes or stops
// its stream meanwhile must not cut that file short.
void StopHandheldSender();

// Empties the seek index, as at program start.
void ResetSeekIndex();
