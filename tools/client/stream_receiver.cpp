#include "stream_receiver.h"

#include "bytes.h"
#include "protocol.h"
#include "hex.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace handheld {

namespace {

using Clock = std::chrono::steady_clock;

// Short read slices keep the thread responsive to a stop request.
constexpr Millis kReadSlice{100};
constexpr size_t kReadChunk = 64 * 1024;
// Silence after an end packet that counts as the end of the stream. Also
// bounds the look-ahead that tells the two kinds of end packet apart.
constexpr Millis kEndSettle{2000};
constexpr Millis kNoLimit = std::chrono::hours(24 * 365);
// Subtitle records are lines of text; a longer "length" after an end packet
// is far more likely to be stale chunk bytes.
constexpr uint32_t kLongestSubtitleGuess = 65535;
constexpr long long kVideoTimeToleranceMs = 10000;

}  // namespace

void KindTotals::add(uint32_t timeMs, size_t size)
{
    if (packets == 0)
        firstMs = timeMs;
    else if (timeMs < lastMs)
        ++backwards;
    lastMs = timeMs;
    ++packets;
    bytes += size;
}

PacketSource::PacketSource(DataLink& link, const std::atomic<bool>& stop)
    : link_(link), stop_(stop), buffer_(2 * kReadChunk)
{
}

Fill PacketSource::fill(size_t count, Millis idleLimit)
{
    auto lastData = Clock::now();
    while (available() < count) {
        makeRoom(count);
        const ReadResult read = link_.readSome(buffer_.data() + end_, buffer_.size() - end_, kReadSlice);
        if (read.status == ReadStatus::Closed || read.status == ReadStatus::Failed)
            return read.status == ReadStatus::Closed ? Fill::Closed : Fill::Failed;
        if (read.status == ReadStatus::Data) {
            end_ += read.count;
            received_ += read.count;
            lastData = Clock::now();
            continue;
        }
        const auto silence = Clock::now() - lastData;
        if (stop_.load() && silence >= quietAfterStop_)
            return Fill::Stopped;
        if (silence >= idleLimit)
            return Fill::Idle;
    }
    return Fill::Ready;
}

void PacketSource::makeRoom(size_t count)
{
    const size_t held = available();
    std::memmove(buffer_.data(), buffer_.data() + begin_, held);
    begin_ = 0;
    end_ = held;
    buffer_.resize(std::max(buffer_.size(), count + kReadChunk));
}

StreamReceiver::StreamReceiver(DataLink& link, const StreamLayout& layout, StreamSink& sink,
                               Millis timeout)
    : layout_(layout), sink_(sink), timeout_(timeout), source_(link, stop_)
{
}

StreamReceiver::~StreamReceiver()
{
    finish(Millis(0));
}

void StreamReceiver::start()
{
    thread_ = std::thread(&StreamReceiver::run, this);
}

StreamEnd StreamReceiver::waitUntil(Clock::time_point deadline)
{
    std::unique_lock lock(mutex_);
    concluded_.wait_until(lock, deadline, [this] { return outcome_ != StreamEnd::Running; });
    return outcome_;
}

void StreamReceiver::finish(Millis quiet)
{
    source_.setQuietAfterStop(quiet);
    stop_.store(true);
    sink_.stop();
    if (thread_.joinable())
        thread_.join();
    conclude(StreamEnd::Stopped);
}

StreamEnd StreamReceiver::outcome() const
{
    std::lock_guard lock(mutex_);
    return outcome_;
}

void StreamReceiver::run()
{
    if (!layout_.markerExpected || receiveMarker()) {
        while (receivePacket()) {
        }
    }
    totals_.partialBytes = source_.available();
    totals_.dataBytes = source_.received();
}

bool StreamReceiver::receiveMarker()
{
    const Fill fill = source_.fill(kDataMarker.size(), timeout_);
    if (fill != Fill::Ready)
        return endOfData(fill);
    const std::span<const uint8_t> marker(source_.data(), kDataMarker.size());
    totals_.markerOk = std::equal(marker.begin(), marker.end(), kDataMarker.begin());
    if (!*totals_.markerOk) {
        conclude(StreamEnd::Failed, "the data connection starts with " + hexBytes(marker)
                                        + " instead of the marker AABBCCDD");
        return false;
    }
    source_.consume(kDataMarker.size());
    return true;
}

bool StreamReceiver::receivePacket()
{
    Fill fill = waitForHeader();
    if (fill != Fill::Ready)
        return endOfData(fill);
    const uint32_t header = getLe32(source_.data());
    const std::optional<size_t> size = payloadSize(header);
    if (!size) {
        conclude(StreamEnd::Failed, "end packet after every stream present had ended");
        return false;
    }
    fill = source_.fill(kPacketHeaderSize + *size, timeout_);
    if (fill != Fill::Ready)
        return endOfData(fill);
    const bool handled = handlePacket(header, source_.data() + kPacketHeaderSize, *size);
    source_.consume(kPacketHeaderSize + *size);
    return handled;
}

// Silence is an error while the stream runs, but after an end packet it is
// how the stream finishes: the server sends nothing more until stopped.
Fill StreamReceiver::waitForHeader()
{
    if (!anyEnded())
        return source_.fill(kPacketHeaderSize, timeout_);
    const Fill fill = source_.fill(kPacketHeaderSize, kEndSettle);
    if (fill != Fill::Idle)
        return fill;
    conclude(StreamEnd::EndThenQuiet);
    return source_.fill(kPacketHeaderSize, kNoLimit);
}

std::optional<size_t> StreamReceiver::payloadSize(uint32_t header)
{
    const uint8_t tag = uint8_t(header >> 24);
    if (tag == kSubtitleTag)
        return header & kPacketFieldMask;
    if (tag == kEndTag)
        return endPayloadSize();
    return (tag & kVideoBit) ? kVideoChunkSize : kAudioChunkSize;
}

// Both end packets carry the tag 0xFF; only their size differs. A stream
// absent from the header, or already ended, cannot be the one ending now.
std::optional<size_t> StreamReceiver::endPayloadSize()
{
    const bool videoOpen = layout_.video && !totals_.videoEnded;
    const bool audioOpen = layout_.audio && !totals_.audioEnded;
    if (videoOpen != audioOpen)
        return videoOpen ? kVideoChunkSize : kAudioChunkSize;
    if (!videoOpen)
        return std::nullopt;
    return guessEndOfBoth();
}

// With both streams open, look at what follows a 4,190-byte payload. The
// server sends the audio end first and no chunk after it, so after the
// audio end only subtitle records, the video end packet, or nothing can
// follow; after a video end (from a server that sent it first) come the
// rest of its 8,384 bytes.
size_t StreamReceiver::guessEndOfBoth()
{
    const size_t probe = kPacketHeaderSize + kAudioChunkSize + kPacketHeaderSize;
    if (source_.fill(probe, kEndSettle) != Fill::Ready)
        return kAudioChunkSize;
    const uint32_t next = getLe32(source_.data() + probe - kPacketHeaderSize);
    return looksLikeHeaderAfterAudioEnd(next) ? kAudioChunkSize : kVideoChunkSize;
}

bool StreamReceiver::looksLikeHeaderAfterAudioEnd(uint32_t header) const
{
    const uint8_t tag = uint8_t(header >> 24);
    if (tag == kEndTag)
        return true;
    if (tag == kSubtitleTag)
        return (header & kPacketFieldMask) <= kLongestSubtitleGuess;
    // A server that kept sending video after the audio end would show a
    // time close to the last video chunk; stale payload bytes would not.
    if (!(tag & kVideoBit) || totals_.video.packets == 0)
        return false;
    const long long drift = (long long)(header & kPacketFieldMask) - totals_.video.lastMs;
    return std::llabs(drift) <= kVideoTimeToleranceMs;
}

bool StreamReceiver::handlePacket(uint32_t header, const uint8_t* payload, size_t size)
{
    const uint8_t tag = uint8_t(header >> 24);
    if (tag == kEndTag)
        return handleEnd(header, payload, size);
    const std::span<const uint8_t> bytes(payload, size);
    bool written;
    if (tag == kSubtitleTag) {
        ++totals_.subtitlePackets;
        totals_.subtitleBytes += size;
        written = sink_.subtitle(bytes);
    } else {
        const bool video = tag & kVideoBit;
        totals_.packetsAfterEnd += anyEnded();
        const uint32_t timeMs = header & kPacketFieldMask;
        (video ? totals_.video : totals_.audio).add(timeMs, size);
        written = video ? sink_.video(timeMs, bytes) : sink_.audio(timeMs, bytes);
    }
    if (!written)
        conclude(StreamEnd::Failed, sink_.error());
    return written;
}

bool StreamReceiver::handleEnd(uint32_t header, const uint8_t* payload, size_t size)
{
    const bool video = size == kVideoChunkSize;
    (video ? totals_.videoEnded : totals_.audioEnded) = true;
    const uint32_t timeMs = header & kPacketFieldMask;
    (video ? totals_.videoEndMs : totals_.audioEndMs) = timeMs;
    ++totals_.endPackets;
    const std::span<const uint8_t> bytes(payload, size);
    if (!(video ? sink_.video(timeMs, bytes) : sink_.audio(timeMs, bytes))) {
        conclude(StreamEnd::Failed, sink_.error());
        return false;
    }
    if ((!layout_.video || totals_.videoEnded) && (!layout_.audio || totals_.audioEnded))
        conclude(StreamEnd::AllEnds);
    return true;
}

bool StreamReceiver::endOfData(Fill fill)
{
    if (fill == Fill::Idle)
        conclude(StreamEnd::TimedOut,
                 "no data from the server for " + std::to_string(timeout_.count()) + " ms");
    else if (fill == Fill::Closed && !stop_.load())
        conclude(StreamEnd::Closed, "the server closed the data connection");
    else if (fill == Fill::Failed)
        conclude(StreamEnd::Failed, "data connection: " + source_.error());
    return false;
}

void StreamReceiver::conclude(StreamEnd end, const std::string& error)
{
    std::lock_guard lock(mutex_);
    if (outcome_ != StreamEnd::Running)
        return;
    outcome_ = end;
    error_ = error;
    concluded_.notify_all();
}

}  // namespace handheld
