#include "server/sender.h"

#include "shared/resources.h"
#include "shared/server_state.h"
#include "encode/stream_buffers.h"
#include "platform/messages.h"
#include "platform/sync.h"
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

bool IsEndPacket(uint32_t header)
{
    return header >= kEndMarker;
}

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

// One write attempt of the destination: the bytes it moved, 0 when none.
// Socket writes never block (the UDT data socket is non-blocking), so the
// stop flag is seen within one pause even when the handheld stops reading.
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
    else if (WaitForSocket(socket, POLLOUT, 10) > 0)
        moved = ::send(socket, bytes, count, MSG_NOSIGNAL | MSG_DONTWAIT);
    else
        moved = 0;
    return std::max(moved, 0L);
}

// Gathers packets behind the unsent bytes until the batch passes the
// threshold, the stream has ended or nothing at all is pending.
void Gather(const SenderPacing& pacing, int32_t& pending, uint32_t& lastHeader)
{
    uint8_t* staging = gBuffers.senderStaging;
    while (pending <= pacing.threshold && !gSender.stop && !IsEndPacket(lastHeader)) {
        TakenChunks taken;
        size_t written;
        {
            std::lock_guard hold(gBufferMutex);
            written = TakeChunk(staging + pending, taken);
        }
        pending += static_cast<int32_t>(written);
        for (int i = 0; i < taken.count; ++i) {
            UpdateSeekIndex(taken.packets[i]);
            lastHeader = taken.packets[i].header;
            gSender.lastChunkTime = lastHeader & 0xFFFFFF;
        }
        if (written == 0) {
            if (pending == 0)
                return;
            // Part of a batch is here: wait for the rest without burning a core.
            Sleep(1);
        }
    }
}

void SendBatch(const SenderPacing& pacing, int32_t& pending)
{
    uint8_t* staging = gBuffers.senderStaging;
    int32_t sent = 0;
    while (sent < pending && !gSender.stop) {
        long moved = WriteOnce(staging + sent, static_cast<size_t>(pending - sent));
        if (moved > 0) {
            sent += static_cast<int32_t>(moved);
            PostAppMessage(MessageTarget::View, kMsgRefresh);
        }
        Sleep(pacing.pauseAfterWriteMs);
    }
    pending -= sent;
    std::memmove(staging, staging + sent, static_cast<size_t>(pending));
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
        Sleep(1);
    }
}

int RunSender(SenderPacing pacing)
{
    int32_t pending = 0;
    uint32_t lastHeader = 0;
    while (!gSender.stop) {
        Sleep(pacing.pauseBeforeGatherMs);
        Gather(pacing, pending, lastHeader);
        if (pending < pacing.threshold && !IsEndPacket(lastHeader))
            continue;
        SendBatch(pacing, pending);
        SendSubtitles();
        if (gSender.writeToFile && !gSender.endWritten && IsEndPacket(lastHeader)) {
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
    if (toFile || !udt)
        return {threshold, 5, 5};
    return {threshold, 50, quality == 0 ? 25 : 20};
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
