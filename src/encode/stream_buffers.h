#pragma once
// The stream buffers between the producers of compressed data (the live
// encoder or the file transcoder) and the one consumer, the stream sender.
// Video and audio bytes sit in two rings; every completed fixed-size chunk is
// stamped in a time index, and the sender takes the chunks in time order.

#include "platform/sync.h"
#include "shared/resources.h"

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string_view>

constexpr int32_t kVideoChunk = 8384;
constexpr int32_t kAudioChunk = 4190;
constexpr int32_t kIndexLength = 16384;
constexpr int32_t kLiveProducerLimit = 12232500;  // 7/8 of a ring
constexpr int32_t kOverfull = 10485000;           // 3/4 of a ring
constexpr uint32_t kEndMarker = 0xFF000000;
constexpr uint32_t kVideoHeaderBit = 0x80000000;
constexpr uint32_t kSubtitleHeader = 0xCC000000;
// How many appends a ring remembers the end of: ten seconds of live pictures.
constexpr uint32_t kAppendEnds = 256;

struct StreamRing {
    uint8_t* bytes = nullptr;
    int32_t chunkSize = 0;
    int32_t writeOffset = 0;
    int32_t readOffset = 0;
    int32_t fullness = 0;
    uint32_t index[kIndexLength] = {};
    int32_t indexWrite = 0;
    int32_t indexRead = 0;
    uint32_t chunkCounter = 0;
    uint64_t encodedTotal = 0;       // since the last start
    uint64_t sentTotal = 0;          // since program start
    uint64_t sentSinceStart = 0;
    bool present = false;
    bool ended = false;              // its end packet has been taken
    double lastTime = 0;             // seconds, of the newest encoded frame
    double partialSince = 0;         // seconds: the oldest byte of the chunk being filled
    // The stream as the ring holds it, in bytes since the reset: what was
    // appended, less what a catch-up cut away (what was taken is
    // sentSinceStart). Each live append is whole pictures or sound frames,
    // so where the recent ones ended is where a backlog can be cut without
    // breaking one.
    uint64_t appended = 0;
    uint64_t appendEnds[kAppendEnds] = {};
    uint32_t appendCount = 0;
    // After a cut the pictures that followed reference what was cut: none
    // goes in until the encoder delivers a key frame.
    bool awaitingKeyFrame = false;
};

struct StreamBuffers {
    // Guards the rings and their indexes: taken by the live encode steps
    // for each append and by the sender for each take.
    RecursiveTimedMutex lock;
    // Guards the subtitle queue: taken by its producer to append and by the
    // sender to read what is pending; never across a write.
    RecursiveTimedMutex subtitleLock;
    StreamRing video;
    StreamRing audio;
    uint8_t* subtitleQueue = nullptr;
    int32_t subtitleWrite = 0;
    int32_t subtitlePending = 0;
    int32_t subtitleRead = 0;
    bool subtitlesPresent = false;
};

extern StreamBuffers gStream;

// Attaches the rings to the large buffers allocated at start-up.
void AttachStreamBuffers();

// Empties everything for a new start, while no live producer or consumer
// runs; a running recording's own state is kept.
void ResetStreamBuffers();

// Producers, holding the buffer mutex, after setting the stream's lastTime.
// An append larger than a ring is refused (-1).
int AppendVideo(const uint8_t* bytes, int32_t count);
int AppendAudio(const uint8_t* bytes, int32_t count);

// The live video step, holding the buffer mutex: appends one encoded
// picture, unless a catch-up cut waits for a key frame and this is none.
// True when it went in.
bool AppendLivePicture(const uint8_t* bytes, int32_t count, bool keyFrame);

// The live video step, holding the buffer mutex: the bytes that would
// complete the video chunk being filled, once its oldest byte has waited
// longer than patience seconds by the capture clock at now; else 0. None
// while a catch-up cut waits for a key frame.
int32_t StalledVideoShortfall(double now, double patience);

// Consumer, holding the buffer mutex: the bytes of complete chunks not yet
// taken, in both rings.
int64_t ChunkBytesWaiting();

// Consumer, holding the buffer mutex, when a live stream has fallen too far
// behind its link: cuts both rings back to the end of the picture and the
// sound frame that the handheld has begun, and has the pictures wait for a
// key frame. Returns the bytes cut away.
int64_t DropLiveBacklog();

// File transcoder, at the end of its input: audio first, then video.
void MarkEndOfStream();

// One packet as the sender writes it: a 4-byte header and a payload.
struct TakenPacket {
    uint32_t header;
    int32_t payloadSize;
};

struct TakenChunks {
    int count = 0;
    TakenPacket packets[2];
};

// Consumer, holding the buffer mutex: writes at most one video and one audio
// packet (header and payload) at out, which must hold kVideoChunk +
// kAudioChunk + 8 bytes. Returns the bytes written.
size_t TakeChunk(uint8_t* out, TakenChunks& taken);

// Consumer, holding the buffer mutex: whether every stream present has had
// its end packet taken. A file stream is then complete.
bool AllStreamsEnded();

// Wakes the sender: a chunk or an end packet is ready, a subtitle record
// was queued, or the sender must look at its stop flag.
void NotifyStreamConsumer();

// Sender, holding the buffer mutex through hold: releases it until a
// notification comes or timeoutMs pass.
void WaitForStreamData(std::unique_lock<RecursiveTimedMutex>& hold, int timeoutMs);

// File transcoder: queues a subtitle record under the sender mutex,
// optionally prefixed "Time#:%u:" with the current video time. Dropped when
// the queue cannot hold it.
void AppendSubtitle(std::string_view text, bool timePrefix);

// The time stamp of a chunk: the newest frame's time in milliseconds.
uint32_t TimeStampMs(double seconds);
