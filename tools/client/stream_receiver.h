// Receives the media stream on the data connection in a thread of its own,
// so that the control connection stays free for StopStream.
#pragma once

#include "links.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

namespace handheld {

// Where the receiver puts each packet's payload, in the order of arrival. An
// end packet's payload comes whole: nothing marks where its stream's last
// bytes stop. A false return ends the stream with the sink's error.
class StreamSink {
public:
    virtual ~StreamSink() = default;
    virtual bool video(uint32_t timeMs, std::span<const uint8_t> bytes) = 0;
    virtual bool audio(uint32_t timeMs, std::span<const uint8_t> bytes) = 0;
    virtual bool subtitle(std::span<const uint8_t> text) = 0;
    virtual std::string error() const = 0;
    // From another thread when the receiver ends: a sink that holds the
    // stream back (to play a file in time, say) lets go at once.
    virtual void stop() {}
};

// After StopStream is acknowledged the server writes nothing more; on a
// local network what is still in flight arrives well within this silence.
inline constexpr Millis kQuietAfterStop{500};

struct StreamLayout {
    bool video = false;
    bool audio = false;
    bool markerExpected = false;
};

struct KindTotals {
    uint64_t packets = 0;
    uint64_t bytes = 0;
    uint32_t firstMs = 0;
    uint32_t lastMs = 0;
    uint64_t backwards = 0;

    void add(uint32_t timeMs, size_t size);
};

struct StreamTotals {
    KindTotals video;
    KindTotals audio;
    uint64_t subtitlePackets = 0;
    uint64_t subtitleBytes = 0;
    int endPackets = 0;
    bool videoEnded = false;
    bool audioEnded = false;
    uint32_t videoEndMs = 0;
    uint32_t audioEndMs = 0;
    uint64_t packetsAfterEnd = 0;
    uint64_t dataBytes = 0;
    uint64_t partialBytes = 0;
    std::optional<bool> markerOk;
};

enum class StreamEnd {
    Running,
    AllEnds,       // every stream present has delivered its end packet
    EndThenQuiet,  // one end packet, then silence
    Stopped,       // we asked for the end
    Closed,
    TimedOut,
    Failed,
};

enum class Fill { Ready, Idle, Stopped, Closed, Failed };

// Buffers the data connection so that a packet can be looked at before it
// is complete, which telling the two kinds of end packet apart needs.
class PacketSource {
public:
    PacketSource(DataLink& link, const std::atomic<bool>& stop);

    // Makes `count` bytes available; gives up after `idleLimit` of silence.
    Fill fill(size_t count, Millis idleLimit);
    const uint8_t* data() const { return buffer_.data() + begin_; }
    size_t available() const { return end_ - begin_; }
    void consume(size_t count) { begin_ += count; }
    uint64_t received() const { return received_; }
    // Set before the stop flag; read by the receiving thread once it sees it.
    void setQuietAfterStop(Millis quiet) { quietAfterStop_ = quiet; }
    std::string error() const { return link_.lastError(); }

private:
    void makeRoom(size_t count);

    DataLink& link_;
    const std::atomic<bool>& stop_;
    std::vector<uint8_t> buffer_;
    size_t begin_ = 0;
    size_t end_ = 0;
    uint64_t received_ = 0;
    Millis quietAfterStop_{0};
};

class StreamReceiver {
public:
    StreamReceiver(DataLink& link, const StreamLayout& layout, StreamSink& sink, Millis timeout);
    StreamReceiver(const StreamReceiver&) = delete;
    StreamReceiver& operator=(const StreamReceiver&) = delete;
    ~StreamReceiver();

    void start();
    // Waits until the stream has ended or failed, or until `deadline`.
    StreamEnd waitUntil(std::chrono::steady_clock::time_point deadline);
    // Reads what the server sent before it acknowledged StopStream, until
    // the data connection has been silent for `quiet`, then ends the
    // thread; totals and outcome are final afterwards.
    void finish(Millis quiet = kQuietAfterStop);

    StreamEnd outcome() const;
    const StreamTotals& totals() const { return totals_; }
    const std::string& error() const { return error_; }

private:
    void run();
    bool receiveMarker();
    bool receivePacket();
    Fill waitForHeader();
    std::optional<size_t> payloadSize(uint32_t header);
    std::optional<size_t> endPayloadSize();
    size_t guessEndOfBoth();
    bool looksLikeHeaderAfterAudioEnd(uint32_t header) const;
    bool handlePacket(uint32_t header, const uint8_t* payload, size_t size);
    bool handleEnd(uint32_t header, const uint8_t* payload, size_t size);
    bool endOfData(Fill fill);
    void conclude(StreamEnd end, const std::string& error = {});
    bool anyEnded() const { return totals_.videoEnded || totals_.audioEnded; }

    StreamLayout layout_;
    StreamSink& sink_;
    Millis timeout_;
    std::atomic<bool> stop_{false};
    PacketSource source_;
    StreamTotals totals_;
    std::string error_;
    mutable std::mutex mutex_;
    std::condition_variable concluded_;
    StreamEnd outcome_ = StreamEnd::Running;
    std::thread thread_;
};

}  // namespace handheld
