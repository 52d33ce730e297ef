#include "server/sender.h"

#include "shared/resources.h"
#include "shared/server_state.h"
#include "encode/stream_buffers.h"
#include "platform/messages.h"
#include "platform/sync.h"
#include "platform/socket_wait.h"
#include "server/net_state.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <tuple>
#include <utility>
#include <mutex>
#include <poll.h>
#include <sys/socket.h>
#include <udt/udt.h>

SenderState gSender;

namespace {

// Started by the session for each stream; StopSender waits for it on
// streamerExit.
WorkerThread senderThread;

void UpdateSeekIndex(const TakenPacket& packet)
{
    const uint32_t time = packet.header & 0xFFFFFF;
    if (gSender.seekNextTime == 0)
        gSender.seekNextTime = time;
    if (time >= gSender.seekNextTime) {
        if (gSender.seekCount < kSeekIndexLength)
            gSender.seekIndex[gSender.seekCount++] = gSender.seekRunningOffset;
        gSender.seekNextTime += 1000;
    }
    gSender.seekRunningOffset += 4 + packet.payloadSize;
}

using Clock = std::chrono::steady_clock;

// The longest the sender waits for data or for a writable socket before it
// looks at its stop flag again.
constexpr int kWaitSliceMs = 250;

// What the sender knows of the stream it is cutting into batches.
struct Batches {
    explicit Batches(SenderPacing streamPacing) : pacing(streamPacing) {}

    SenderPacing pacing;
    int32_t pending = 0;          // unsent bytes at the start of the staging buffer
    bool ended = false;           // every stream's end packet has been taken
    // The pauses of the pacing are the least time between writes, and
    // between the end of a batch and the next gathering.
    Clock::time_point nextWrite;
    Clock::time_point nextGather;

    // Every batch goes once past the threshold, which keeps it within the
    // staging buffer.
    bool Full() const { return pending > pacing.threshold; }
};

void PauseUntil(Clock::time_point due)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(due - Clock::now()).count();
    if (left > 0)
        Sleep(static_cast<int>(left));
}

// One write attempt of the destination: the bytes it moved, 0 when none.
// Socket writes never block (the UDT data socket is non-blocking), so the
// stop flag is seen within one wait slice even when the handheld stops
// reading.
long WriteOnce(const uint8_t* bytes, size_t count)
{
    if (gSender.writeToFile)
        return gSender.file ? static_cast<long>(std::fwrite(bytes, 1, count, gSender.file)) : 0;
    const int socket = gNet.dataSocket;
    if (socket == kInvalidSocket)
        return 0;
    long moved;
    if (gNet.transport == kTransportUdt)
        moved = UDT::send(socket, reinterpret_cast<const char*>(bytes), static_cast<int>(count), 0);
    else if (WaitForSocket(socket, POLLOUT, kWaitSliceMs) > 0)
        moved = ::send(socket, bytes, count, MSG_NOSIGNAL | MSG_DONTWAIT);
    else
        moved = 0;
    return std::max(moved, 0L);
}

void NoteTaken(Batches& batches, const TakenChunks& taken)
{
    for (int i = 0; i < taken.count; ++i) {
        const uint32_t header = taken.packets[i].header;
        UpdateSeekIndex(taken.packets[i]);
        gSender.lastChunkTime = header & 0xFFFFFF;
    }
}

// Gathers packets behind the unsent bytes until the batch is full or the
// stream has ended, sleeping until the producers complete a chunk. False
// when the sender is to stop.
bool Gather(Batches& batches)
{
    uint8_t* staging = gBuffers.senderStaging;
    std::unique_lock hold(gBufferMutex);
    while (!batches.Full() && !batches.ended && !gSender.stop) {
        TakenChunks taken;
        const size_t written = TakeChunk(staging + batches.pending, taken);
        if (written == 0 && batches.pending > 0 && batches.pacing.sendWhatIsReady)
            break;
        if (written == 0)
            WaitForStreamData(hold, kWaitSliceMs);
        batches.pending += static_cast<int32_t>(written);
        NoteTaken(batches, taken);
        batches.ended = AllStreamsEnded();
    }
    return !gSender.stop;
}

void SendBatch(Batches& batches)
{
    uint8_t* staging = gBuffers.senderStaging;
    int32_t sent = 0;
    while (sent < batches.pending && !gSender.stop) {
        PauseUntil(batches.nextWrite);
        long moved = WriteOnce(staging + sent, static_cast<size_t>(batches.pending - sent));
        batches.nextWrite = Clock::now() + std::chrono::milliseconds(batches.pacing.pauseAfterWriteMs);
        if (moved > 0) {
            sent += static_cast<int32_t>(moved);
            PostAppMessage(MessageTarget::View, kMsgRefresh);
        }
    }
    batches.pending -= sent;
    std::memmove(staging, staging + sent, static_cast<size_t>(batches.pending));
    batches.nextGather = Clock::now() + std::chrono::milliseconds(batches.pacing.pauseBeforeGatherMs);
}

// The queued records not yet sent: the producer only appends behind them, so
// the bytes can be written without holding the sender mutex.
std::pair<const uint8_t*, int32_t> PendingSubtitles()
{
    std::lock_guard hold(gSenderMutex);
    return {gStream.subtitleQueue + gStream.subtitleRead, gStream.subtitlePending};
}

void MarkSubtitlesSent(long count)
{
    // In a .tvs file the records sit between the packets, and the seek
    // index counts every byte before a packet.
    if (gSender.writeToFile)
        gSender.seekRunningOffset += static_cast<uint32_t>(count);
    std::lock_guard hold(gSenderMutex);
    gStream.subtitleRead += static_cast<int32_t>(count);
    gStream.subtitlePending -= static_cast<int32_t>(count);
}

void SendSubtitles()
{
    for (auto [bytes, count] = PendingSubtitles(); count > 0 && !gSender.stop; std::tie(bytes, count) = PendingSubtitles()) {
        if (long moved = WriteOnce(bytes, static_cast<size_t>(count)); moved > 0)
            MarkSubtitlesSent(moved);
        else
            Sleep(1);
    }
}

// After its end packets a file stream only has subtitle records left to
// send: sleep until one comes or the sender is stopped.
void WaitAfterEnd()
{
    if (PendingSubtitles().second > 0)
        return;
    std::unique_lock hold(gBufferMutex);
    if (!gSender.stop)
        WaitForStreamData(hold, kWaitSliceMs);
}

int RunSender(SenderPacing pacing)
{
    Batches batches(pacing);
    while (!gSender.stop) {
        if (batches.ended)
            WaitAfterEnd();
        PauseUntil(batches.nextGather);
        if (!Gather(batches))
            break;
        SendBatch(batches);
        SendSubtitles();
        if (gSender.writeToFile && !gSender.endWritten && batches.ended) {
            gSender.endWritten = 1;
            PostAppMessage(MessageTarget::View, kMsgRefresh);
        }
    }
    gEvents.streamerExit.Set();
    return 0;
}

} // namespace

SenderPacing ChooseSenderPacing(bool toFile, bool udt, int quality)
{
    const int threshold = toFile || quality > 1 || quality < 0 ? 64000 : quality == 0 ? 16000 : 32000;
    if (toFile)
        return {threshold, 5, 5, false};
    if (!udt)
        return {threshold, 5, 5, true};
    return {threshold, 50, quality == 0 ? 25 : 20, true};
}

int StartSender(int quality)
{
    SenderPacing pacing = ChooseSenderPacing(gSender.writeToFile != 0, gNet.transport == kTransportUdt, quality);
    return senderThread.Start([pacing] { return RunSender(pacing); }) ? 0 : -1;
}

void StopSender()
{
    gState.streaming = 0;
    gSender.stop = 1;
    NotifyStreamConsumer();
    senderThread.WaitForExit(gEvents.streamerExit);
}

void StopHandheldSender()
{
    if (!gSender.writeToFile)
        StopSender();
}

void ResetSeekIndex()
{
    std::memset(gSender.seekIndex, 0, sizeof gSender.seekIndex);
    gSender.seekCount = 0;
    gSender.seekRunningOffset = 0;
    gSender.seekNextTime = 0;
}
