#include "encode/stream_buffers.h"

#include "shared/resources.h"
#include "encode/pipeline.h"
#include "capture/grabber_callbacks.h"
#include "capture/motion.h"
#include "config/settings.h"
#include "encode/live_encoder.h"
#include "encode/live_setup.h"
#include "shared/live_params.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>

StreamBuffers gStream;

namespace {

const int32_t kRecordingSizes[][2] = {{320, 240}, {320, 256}, {352, 288}, {640, 480}, {720, 576}};

// Signalled under the buffer mutex, so that the sender, which looks for
// chunks under it too, never misses a wake-up.
std::condition_variable_any streamData;

void ResetRing(StreamRing& ring)
{
    uint8_t* bytes = ring.bytes;
    int32_t chunkSize = ring.chunkSize;
    uint64_t sentTotal = ring.sentTotal;
    ring = StreamRing{};
    ring.bytes = bytes;
    ring.chunkSize = chunkSize;
    ring.sentTotal = sentTotal;
    if (bytes)
        std::memset(bytes, 0, kRingSize);
}

// Copies count bytes into the ring at offset, wrapping at its end once.
int32_t CopyIn(StreamRing& ring, int32_t offset, const uint8_t* bytes, int32_t count)
{
    int32_t untilEnd = kRingSize - offset;
    if (count >= untilEnd) {
        std::memcpy(ring.bytes + offset, bytes, untilEnd);
        std::memcpy(ring.bytes, bytes + untilEnd, count - untilEnd);
        return count - untilEnd;
    }
    std::memcpy(ring.bytes + offset, bytes, count);
    return offset + count;
}

int32_t CopyOut(const StreamRing& ring, int32_t offset, uint8_t* out, int32_t count)
{
    int32_t untilEnd = kRingSize - offset;
    if (count >= untilEnd) {
        std::memcpy(out, ring.bytes + offset, untilEnd);
        std::memcpy(out + untilEnd, ring.bytes, count - untilEnd);
        return count - untilEnd;
    }
    std::memcpy(out, ring.bytes + offset, count);
    return offset + count;
}

bool ChunkWaits()
{
    return gStream.video.indexRead != gStream.video.indexWrite || gStream.audio.indexRead != gStream.audio.indexWrite;
}

int Append(StreamRing& ring, const uint8_t* bytes, int32_t count)
{
    if (count < 0 || count > kRingSize)
        return -1;
    const bool startsChunk = ring.chunkCounter == 0;
    ring.writeOffset = CopyIn(ring, ring.writeOffset, bytes, count);
    ring.fullness += count;
    ring.encodedTotal += count;
    ring.chunkCounter += count;
    ring.appended += count;
    ring.appendEnds[ring.appendCount++ % kAppendEnds] = ring.appended;
    const bool completesChunk = ring.chunkCounter >= static_cast<uint32_t>(ring.chunkSize);
    while (ring.chunkCounter >= static_cast<uint32_t>(ring.chunkSize)) {
        ring.index[ring.indexWrite] = TimeStampMs(ring.lastTime);
        ring.indexWrite = (ring.indexWrite + 1) & (kIndexLength - 1);
        ring.chunkCounter -= ring.chunkSize;
    }
    if (startsChunk || completesChunk)
        ring.partialSince = ring.lastTime;
    // A chunk that waited for this stream to reach its time may go now.
    if (completesChunk || ChunkWaits())
        streamData.notify_one();
    return 0;
}

bool Pending(const StreamRing& ring, uint32_t entry)
{
    return (ring.indexRead != ring.indexWrite && ring.fullness >= ring.chunkSize) || entry > 0xFEFFFFFF;
}

bool IsEndEntry(uint32_t entry)
{
    return entry >= kEndMarker;
}

// The time of a ring's next chunk, or, until that chunk is complete, the
// time its stream has reached: the chunk will carry that time or a later
// one. Waiting for the chunk itself would hold the other stream back by up
// to a whole chunk, half a second of sound at 64 kbit/s, on a live stream.
uint32_t NextChunkTime(const StreamRing& ring)
{
    return ring.indexRead != ring.indexWrite ? ring.index[ring.indexRead] : TimeStampMs(ring.lastTime);
}

// Whether a ring's next chunk goes now: it must not run ahead of the other
// stream's time while both flow, unless it is overfull. A stream whose end
// has gone no longer holds the other back. The end packets go audio first,
// then video: both carry the tag 0xFF, and the handheld tells them apart by
// that order. So the audio end waits for the video's end to be next, and the
// video end for the audio end to have gone.
bool MayTake(const StreamRing& ring, uint32_t entry, const StreamRing& other, uint32_t otherEntry)
{
    if (!ring.present || ring.ended || !Pending(ring, entry))
        return false;
    if (!other.present || other.ended)
        return true;
    if (IsEndEntry(entry))
        return &ring == &gStream.audio && IsEndEntry(otherEntry);
    return otherEntry >= entry || ring.fullness > kOverfull;
}

// At a stream's start the first picture chunk need not wait for the first
// sound chunk: that one completes later and, both being stamped from the one
// capture clock, carries the later time. Waiting for it would hold the first
// picture back by a whole sound chunk, a second at 32 kbit/s.
bool FirstPictureChunkMayLead(const StreamRing& video, uint32_t entry, const StreamRing& audio)
{
    return video.present && video.sentSinceStart == 0 && audio.encodedTotal < static_cast<uint64_t>(audio.chunkSize) &&
           !IsEndEntry(entry) && Pending(video, entry);
}

size_t TakeFrom(StreamRing& ring, uint32_t header, uint8_t* out, TakenChunks& taken)
{
    std::memcpy(out, &header, 4);
    ring.indexRead = (ring.indexRead + 1) & (kIndexLength - 1);
    ring.readOffset = CopyOut(ring, ring.readOffset, out + 4, ring.chunkSize);
    ring.fullness = std::max(0, ring.fullness - ring.chunkSize);
    ring.sentTotal += ring.chunkSize;
    ring.sentSinceStart += ring.chunkSize;
    taken.packets[taken.count++] = {header, ring.chunkSize};
    ring.ended = IsEndEntry(header);
    return 4 + static_cast<size_t>(ring.chunkSize);
}

// Cuts the ring back to the first remembered append end at or past what
// was taken. Every chunk boundary lies at a multiple of the chunk size in
// the stream, and what was taken is whole chunks, so the chunks that stay
// keep their index entries. Returns the bytes cut away.
int64_t CutBackToAppendEnd(StreamRing& ring)
{
    const uint32_t remembered = std::min(ring.appendCount, kAppendEnds);
    for (uint32_t i = ring.appendCount - remembered; i != ring.appendCount; ++i) {
        const uint64_t end = ring.appendEnds[i % kAppendEnds];
        if (end < ring.sentSinceStart)
            continue;
        const auto cut = static_cast<int32_t>(ring.appended - end);
        if (cut == 0)
            return 0;
        ring.writeOffset = (ring.writeOffset + kRingSize - cut) % kRingSize;
        ring.fullness -= cut;
        ring.appended = end;
        const uint64_t kept = end - ring.sentSinceStart;
        ring.indexWrite = static_cast<int32_t>((ring.indexRead + kept / ring.chunkSize) & (kIndexLength - 1));
        ring.chunkCounter = static_cast<uint32_t>(kept % ring.chunkSize);
        ring.appendEnds[0] = end;
        ring.appendCount = 1;
        return cut;
    }
    return 0;
}

void MarkEnd(StreamRing& ring)
{
    if (!ring.present)
        return;
    ring.index[ring.indexWrite] = TimeStampMs(ring.lastTime) | kEndMarker;
    ring.indexWrite = (ring.indexWrite + 1) & (kIndexLength - 1);
}

} // namespace

uint32_t TimeStampMs(double seconds)
{
    return static_cast<uint32_t>(static_cast<int64_t>(seconds * 1000));
}

void AttachStreamBuffers()
{
    gStream.video.bytes = gBuffers.videoRing;
    gStream.video.chunkSize = kVideoChunk;
    gStream.audio.bytes = gBuffers.audioRing;
    gStream.audio.chunkSize = kAudioChunk;
    gStream.subtitleQueue = gBuffers.subtitleQueue;
}

void ResetStreamBuffers()
{
    AttachStreamBuffers();
    ResetRing(gStream.video);
    ResetRing(gStream.audio);
    gStream.subtitleWrite = gStream.subtitlePending = gStream.subtitleRead = 0;
    gStream.subtitlesPresent = false;
    if (gStream.subtitleQueue)
        std::memset(gStream.subtitleQueue, 0, kRingSize);
    if (gBuffers.senderStaging)
        std::memset(gBuffers.senderStaging, 0, kStagingSize);
    gLiveEncoder.pcmFill = 0;
    ResetCaptionBuffer();
    RestartMonitoringPeriod();
    // A running recording keeps its staged sound and the picture clock that
    // the live branch shares with it: its callbacks are using them.
    if (!CurrentActivity().recording) {
        gRecorder.pcmFill = 0;
        ResetVideoPacing();
    }
    const SettingsRecord& record = gSettings.record;
    gRecordingParams.profile = record.recordingProfile;
    int sizeIndex = std::clamp(record.recordingSizeIndex, 0, 4);
    gRecordingParams.width = kRecordingSizes[sizeIndex][0];
    gRecordingParams.height = kRecordingSizes[sizeIndex][1];
}

int AppendVideo(const uint8_t* bytes, int32_t count)
{
    return Append(gStream.video, bytes, count);
}

int AppendAudio(const uint8_t* bytes, int32_t count)
{
    return Append(gStream.audio, bytes, count);
}

void MarkEndOfStream()
{
    std::lock_guard hold(gStream.lock);
    MarkEnd(gStream.audio);
    MarkEnd(gStream.video);
    streamData.notify_one();
}

void NotifyStreamConsumer()
{
    std::lock_guard hold(gStream.lock);
    streamData.notify_all();
}

void WaitForStreamData(std::unique_lock<RecursiveTimedMutex>& hold, int timeoutMs)
{
    streamData.wait_for(hold, std::chrono::milliseconds(timeoutMs));
}

size_t TakeChunk(uint8_t* out, TakenChunks& taken)
{
    StreamRing& video = gStream.video;
    StreamRing& audio = gStream.audio;
    taken.count = 0;
    size_t written = 0;
    const uint32_t videoEntry = video.index[video.indexRead];
    const uint32_t audioEntry = audio.index[audio.indexRead];
    if (MayTake(video, videoEntry, audio, NextChunkTime(audio)) || FirstPictureChunkMayLead(video, videoEntry, audio))
        written += TakeFrom(video, videoEntry | kVideoHeaderBit, out, taken);
    if (MayTake(audio, audioEntry, video, NextChunkTime(video)))
        written += TakeFrom(audio, audioEntry, out + written, taken);
    return written;
}

bool AppendLivePicture(const uint8_t* bytes, int32_t count, bool keyFrame)
{
    StreamRing& video = gStream.video;
    if (video.awaitingKeyFrame && !keyFrame)
        return false;
    video.awaitingKeyFrame = false;
    return AppendVideo(bytes, count) == 0;
}

int32_t StalledVideoShortfall(double now, double patience)
{
    const StreamRing& video = gStream.video;
    if (video.awaitingKeyFrame || video.chunkCounter == 0 || now - video.partialSince <= patience)
        return 0;
    return video.chunkSize - static_cast<int32_t>(video.chunkCounter);
}

int64_t ChunkBytesWaiting()
{
    int64_t waiting = 0;
    for (const StreamRing* ring : {&gStream.video, &gStream.audio})
        waiting += int64_t{(ring->indexWrite - ring->indexRead) & (kIndexLength - 1)} * ring->chunkSize;
    return waiting;
}

int64_t DropLiveBacklog()
{
    const int64_t pictures = CutBackToAppendEnd(gStream.video);
    if (pictures > 0)
        gStream.video.awaitingKeyFrame = true;
    return pictures + CutBackToAppendEnd(gStream.audio);
}

bool AllStreamsEnded()
{
    const StreamRing& video = gStream.video;
    const StreamRing& audio = gStream.audio;
    return (video.present || audio.present) && (!video.present || video.ended) && (!audio.present || audio.ended);
}

void AppendSubtitle(std::string_view text, bool timePrefix)
{
    char prefix[32] = "";
    if (timePrefix)
        std::snprintf(prefix, sizeof prefix, "Time#:%u:", TimeStampMs(gStream.video.lastTime));
    const size_t prefixLength = std::strlen(prefix);
    const uint64_t recordSize = 4 + prefixLength + uint64_t{text.size()};
    std::unique_lock hold(gStream.subtitleLock);
    if (recordSize - 4 > 0xFFFFFF || gStream.subtitlePending + recordSize > uint64_t{kRingSize} ||
        gStream.subtitleWrite + recordSize > uint64_t{kRingSize})
        return;
    uint32_t header = kSubtitleHeader | static_cast<uint32_t>(recordSize - 4);
    uint8_t* at = gStream.subtitleQueue + gStream.subtitleWrite;
    std::memcpy(at, &header, 4);
    std::memcpy(at + 4, prefix, prefixLength);
    std::memcpy(at + 4 + prefixLength, text.data(), text.size());
    gStream.subtitleWrite += static_cast<int32_t>(recordSize);
    gStream.subtitlePending += static_cast<int32_t>(recordSize);
    hold.unlock();
    // The two mutexes are never held together.
    NotifyStreamConsumer();
}
