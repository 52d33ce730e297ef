#include "server/sender.h"

#include "shared/resources.h"
#include "shared/live_params.h"
#include "encode/live_setup.h"
#include "encode/stream_buffers.h"
#include "platform/log.h"
#include "platform/messages.h"
#include "platform/sync.h"
#include "platform/socket_wait.h"
#include "platform/thread.h"
#include "server/link_rate.h"
#include "server/net_state.h"
#include "server/session_state.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <linux/sockios.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <udt/udt.h>

SenderState gSender;

namespace {

// The one sender: started for each stream, by the session or the Encode
// File job, and stopped before the next.
class StreamSender {
public:
    bool Start(std::function<int()> body)
    {
        stop_ = 0;
        return thread_.Start(std::move(body));
    }

    // Asks the thread to stop, wakes its waits and joins it; at once when
    // none runs.
    void Stop()
    {
        stop_ = 1;
        NotifyStreamConsumer();
        thread_.WaitForExit();
    }

    bool Stopping() const { return stop_ != 0; }

private:
    WorkerThread thread_;
    std::atomic<int> stop_{0};
};

StreamSender sender;

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

double SecondsNow()
{
    return std::chrono::duration<double>(Clock::now().time_since_epoch()).count();
}

// A live stream's link to the handheld: what was handed to it, and the
// control that keeps the stream near live on it.
struct LiveLink {
    explicit LiveLink(const LinkRateControl& rateControl) : control(rateControl) {}

    LinkRateControl control;
    uint64_t written = 0;
    bool heldBack = false;  // since the control last looked
    // The UDT connection's rate limit in bytes a second, -1 for none; empty
    // until this stream sets it, since the last stream may have left one.
    std::optional<int64_t> udtPace;
};

// What the sender knows of the stream it is cutting into batches.
struct Batches {
    explicit Batches(SenderPacing streamPacing) : pacing(streamPacing) {}

    SenderPacing pacing;
    std::optional<LiveLink> link;  // empty for a file stream or a .tvs file
    int32_t pending = 0;          // unsent bytes at the start of the staging buffer
    bool ended = false;           // every stream's end packet has been taken
    // The pauses of the pacing are the least time between writes, and
    // between the end of a batch and the next gathering.
    Clock::time_point nextWrite;
    Clock::time_point nextGather;

    // Every batch goes once past the threshold, which keeps it within the
    // staging buffer. On a live link that fell behind, a batch holds no
    // more than the connection may: what is not yet gathered can still be
    // cut to catch up.
    bool Full() const
    {
        const int64_t limit = link ? std::min<int64_t>(pacing.threshold, link->control.QueueLimit()) : pacing.threshold;
        return pending > limit;
    }
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

// The bytes the data connection still holds: on TCP those not yet
// acknowledged, on UDT its buffer, which counts packets of one payload each.
int64_t QueuedOnConnection()
{
    const int socket = gNet.dataSocket;
    if (socket == kInvalidSocket)
        return 0;
    if (gNet.transport != kTransportUdt) {
        int queued = 0;
        return ioctl(socket, SIOCOUTQ, &queued) == 0 ? queued : 0;
    }
    constexpr int kUdpAndUdtHeaders = 28 + 16;
    int32_t packets = 0;
    int32_t segment = 0;
    int size = sizeof packets;
    int segmentSize = sizeof segment;
    if (UDT::getsockopt(socket, 0, UDT_SNDDATA, &packets, &size) != 0 ||
        UDT::getsockopt(socket, 0, UDT_MSS, &segment, &segmentSize) != 0)
        return 0;
    return int64_t{packets} * (segment - kUdpAndUdtHeaders);
}

std::string Kbits(double bitsPerSecond)
{
    return std::to_string(static_cast<int>(bitsPerSecond / 1000 + 0.5)) + " kbit/s";
}

std::string Seconds(double seconds)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", seconds);
    return text;
}

// Has the live encoder follow a decision, and says so in the log.
void FollowDecision(const LinkRateControl& control, const LinkDecision& decision)
{
    const std::string drains = "The link to the handheld drains " + Kbits(control.DrainBytesPerSecond() * 8);
    if (decision.pictureShare > 0) {
        gLiveEncoder.linkHalfPictures = decision.pictureShare == 2;
        Log(drains + (decision.pictureShare == 2 ? ": every other live picture now repeats the one before."
                                                 : ": every live picture is new again."));
    }
    if (decision.videoBitRate > 0) {
        gLiveEncoder.linkVideoBitRate = decision.videoBitRate;
        Log(drains + ": live video now at " + Kbits(decision.videoBitRate) + " (asked for " +
            Kbits(gLiveParams.videoBitRate) + ").");
    }
}

void CatchUp(const LinkRateControl& control)
{
    int64_t cut;
    {
        std::lock_guard hold(gStream.lock);
        cut = DropLiveBacklog();
    }
    if (cut > 0)
        Log("The live stream was " + Seconds(control.BacklogSeconds()) + " behind on its link: " +
            std::to_string(cut) + " bytes of it were dropped to catch up.");
}

// libudt's own control raises its rate until the link's queue overflows,
// and every loss then holds each later packet back until it is sent again.
// While the link is the limit, the UDT connection is paced to twice what the
// link drains: the link's queue stays short, and the pace still leaves room
// to find a faster link. (At 1.1 times the drain, the drain measured under
// the pace fell with it and the delay grew; at 1.5 times, a link that
// recovered took 10 s to get the full rate back, against 4 s unpaced.)
void PaceUdtToTheLink(LiveLink& link)
{
    constexpr double kPaceOverDrain = 2.0;
    const int socket = gNet.dataSocket;
    if (gNet.transport != kTransportUdt || socket == kInvalidSocket)
        return;
    const int64_t pace = link.control.LinkLimited()
                             ? static_cast<int64_t>(link.control.DrainBytesPerSecond() * kPaceOverDrain)
                             : -1;
    if (link.udtPace == pace)
        return;
    link.udtPace = pace;
    if (UDT::setsockopt(socket, 0, UDT_MAXBW, &pace, sizeof pace) != 0)
        Log(std::string("The UDT connection's pace could not be set: ") + UDT::getlasterror().getErrorMessage());
}

// Lets the link control look at the link, which it does at most four times
// a second, and carries out what it decides.
void FollowTheLink(Batches& batches, int32_t unsentInStaging)
{
    if (!batches.link)
        return;
    LiveLink& link = *batches.link;
    LinkSample sample{SecondsNow(), link.written, QueuedOnConnection(), unsentInStaging, link.heldBack};
    link.heldBack = false;
    {
        std::lock_guard hold(gStream.lock);
        sample.waiting += ChunkBytesWaiting();
    }
    const LinkDecision decision = link.control.Update(sample);
    PaceUdtToTheLink(link);
    FollowDecision(link.control, decision);
    if (decision.catchUp)
        CatchUp(link.control);
}

void NoteTaken(const TakenChunks& taken)
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
    std::unique_lock hold(gStream.lock);
    while (!batches.Full() && !batches.ended && !sender.Stopping()) {
        TakenChunks taken;
        const size_t written = TakeChunk(staging + batches.pending, taken);
        if (written == 0 && batches.pending > 0 && batches.pacing.sendWhatIsReady)
            break;
        if (written == 0)
            WaitForStreamData(hold, kWaitSliceMs);
        batches.pending += static_cast<int32_t>(written);
        NoteTaken(taken);
        batches.ended = AllStreamsEnded();
    }
    return !sender.Stopping();
}

// How much of the unsent bytes to offer the connection now: on a live link,
// no more than it may hold, so that a backlog waits where it can be cut.
size_t Room(const Batches& batches, int32_t unsent)
{
    if (!batches.link)
        return static_cast<size_t>(unsent);
    // Bytes on their way count too: on a slow link they are what stands
    // between a new chunk and the handheld.
    const int64_t room = batches.link->control.QueueLimit() - QueuedOnConnection();
    return static_cast<size_t>(std::clamp<int64_t>(room, 0, unsent));
}

void SendBatch(Batches& batches)
{
    uint8_t* staging = gBuffers.senderStaging;
    int32_t sent = 0;
    while (sent < batches.pending && !sender.Stopping()) {
        PauseUntil(batches.nextWrite);
        const int32_t unsent = batches.pending - sent;
        FollowTheLink(batches, unsent);
        const size_t offered = Room(batches, unsent);
        const long moved = offered > 0 ? WriteOnce(staging + sent, offered) : 0;
        batches.nextWrite = Clock::now() + std::chrono::milliseconds(batches.pacing.pauseAfterWriteMs);
        if (batches.link) {
            batches.link->written += static_cast<uint64_t>(moved);
            // Held back: the connection was full, or took less than offered.
            batches.link->heldBack = batches.link->heldBack || offered == 0 || moved < static_cast<long>(offered);
        }
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
    std::lock_guard hold(gStream.subtitleLock);
    return {gStream.subtitleQueue + gStream.subtitleRead, gStream.subtitlePending};
}

void MarkSubtitlesSent(long count)
{
    // In a .tvs file the records sit between the packets, and the seek
    // index counts every byte before a packet.
    if (gSender.writeToFile)
        gSender.seekRunningOffset += static_cast<uint32_t>(count);
    std::lock_guard hold(gStream.subtitleLock);
    gStream.subtitleRead += static_cast<int32_t>(count);
    gStream.subtitlePending -= static_cast<int32_t>(count);
}

void SendSubtitles()
{
    for (auto [bytes, count] = PendingSubtitles(); count > 0 && !sender.Stopping(); std::tie(bytes, count) = PendingSubtitles()) {
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
    std::unique_lock hold(gStream.lock);
    if (!sender.Stopping())
        WaitForStreamData(hold, kWaitSliceMs);
}

int RunSender(SenderPacing pacing, bool live)
{
    Batches batches(pacing);
    if (live)
        batches.link.emplace(LinkRateControl(gLiveParams.videoBitRate, gLiveParams.audioBitRate, SecondsNow()));
    while (!sender.Stopping()) {
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
    // Only a live stream with pictures adapts to its link: a file is not
    // made in real time, and sound keeps its rate.
    const bool live = !gSender.writeToFile && !gSession.fileMode && gStream.video.present;
    return sender.Start([pacing, live] { return RunSender(pacing, live); }) ? 0 : -1;
}

void StopSender()
{
    sender.Stop();
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
