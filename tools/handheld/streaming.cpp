#include "streaming.h"

#include "chunk_timing.h"
#include "stream_files.h"
#include "interrupt.h"
#include "stream_receiver.h"

#include <algorithm>

namespace handheld {

namespace {

constexpr Millis kInterruptPoll{100};

StreamRequest requestFor(const StreamOptions& options)
{
    StreamRequest request;
    request.startSeconds = options.startSeconds;
    request.bitrateKbps = options.bitrateKbps;
    request.profile = options.profile.value_or(uint8_t(options.sizeClass << 4 | options.quality));
    request.width = options.width;
    request.height = options.height;
    request.captions = options.captions ? 1 : 0;
    request.codec = options.codec;
    request.audioFormat = options.audioFormat;
    request.videoNumber = options.videoNumber;
    request.audioNumber = options.audioNumber;
    request.subtitleNumber = options.subtitleNumber;
    return request;
}

void printHeader(const StreamHeader& header)
{
    if (header.format != kStreamHeaderFormat)
        printError("stream header format is " + std::to_string(header.format) + ", expected 3");
    printNumber("header_format", header.format);
    printNumber("header_stereo", header.stereo);
    printNumber("header_video_codec", header.codec);
    printNumber("header_frame_rate", header.frameRate);
    printNumber("header_audio_format", header.audioFormat);
    printNumber("header_video_bitrate", header.videoBitrate);
    printNumber("header_audio_sample_rate", header.sampleRate);
    printNumber("header_audio_bytes_per_sample", header.bytesPerSample);
    printNumber("header_audio_bitrate", header.audioBitrate);
    printNumber("header_duration_ms", header.durationMs);
    printNumber("header_ratio_width", header.ratioWidth);
    printNumber("header_ratio_height", header.ratioHeight);
    printNumber("header_subtitle_kind", header.subtitleKind);
}

const char* endName(StreamEnd end)
{
    switch (end) {
    case StreamEnd::Running: return "running";
    case StreamEnd::AllEnds: return "ends";
    case StreamEnd::EndThenQuiet: return "end_quiet";
    case StreamEnd::Stopped: return "stopped";
    case StreamEnd::Closed: return "closed";
    case StreamEnd::TimedOut: return "timeout";
    case StreamEnd::Failed: return "error";
    }
    return "unknown";
}

// How the wait ended, as reported in stream_end.
std::string awaitEnd(StreamReceiver& receiver, const StreamOptions& options, Clock::time_point started)
{
    using Seconds = std::chrono::duration<double>;
    const auto deadline = options.seconds
        ? started + std::chrono::duration_cast<Clock::duration>(Seconds(*options.seconds))
        : Clock::time_point::max();
    for (;;) {
        const StreamEnd end = receiver.waitUntil(std::min(deadline, Clock::now() + kInterruptPoll));
        if (end != StreamEnd::Running)
            return endName(end);
        if (Clock::now() >= deadline)
            return "seconds";
        if (interruptRequested())
            return "interrupted";
    }
}

void printKind(const std::string& kind, const KindTotals& totals)
{
    const uint32_t span = totals.lastMs > totals.firstMs ? totals.lastMs - totals.firstMs : 0;
    printNumber(kind + "_packets", (long long)totals.packets);
    printNumber(kind + "_bytes", (long long)totals.bytes);
    printNumber(kind + "_first_ms", totals.firstMs);
    printNumber(kind + "_last_ms", totals.lastMs);
    printNumber(kind + "_bitrate_bps", span ? (long long)(totals.bytes * 8 * 1000 / span) : 0);
    printNumber(kind + "_time_backwards", (long long)totals.backwards);
}

void printEnds(const StreamTotals& totals)
{
    printNumber("end_packets", totals.endPackets);
    printNumber("video_end", totals.videoEnded);
    printNumber("audio_end", totals.audioEnded);
    if (totals.videoEnded)
        printNumber("video_end_ms", totals.videoEndMs);
    if (totals.audioEnded)
        printNumber("audio_end_ms", totals.audioEndMs);
    printNumber("packets_after_end", (long long)totals.packetsAfterEnd);
}

void printSummary(const StreamTotals& totals, const std::string& reason, Clock::duration elapsed)
{
    printText("stream_end", reason);
    printNumber("receive_ms", std::chrono::duration_cast<Millis>(elapsed).count());
    if (totals.markerOk)
        printNumber("marker_ok", *totals.markerOk);
    printNumber("data_bytes", (long long)totals.dataBytes);
    printKind("video", totals.video);
    printKind("audio", totals.audio);
    printNumber("subtitle_packets", (long long)totals.subtitlePackets);
    printNumber("subtitle_bytes", (long long)totals.subtitleBytes);
    printEnds(totals);
    printNumber("partial_bytes", (long long)totals.partialBytes);
}

Status receiverStatus(const StreamReceiver& receiver, bool markerExpected)
{
    const StreamEnd end = receiver.outcome();
    if (end == StreamEnd::Closed || end == StreamEnd::TimedOut || end == StreamEnd::Failed) {
        printError(receiver.error());
        return kFailed;
    }
    if (markerExpected && !receiver.totals().markerOk) {
        printError("the data marker never arrived");
        return kFailed;
    }
    return kOk;
}

// StopStream is sent however the stream ended, so that the server is not
// left streaming into a connection nobody reads.
Status receiveStream(Commander& commander, const StreamOptions& options, const StreamHeader& header)
{
    Session& session = commander.session();
    const StreamLayout layout{header.hasVideo(), header.hasAudio(), session.markerExpected()};
    StreamFiles files(options.outPrefix, header.codec);
    const auto started = Clock::now();
    ChunkTiming timing(files, started);
    const InterruptGuard interruptGuard;
    StreamReceiver receiver(*session.data, layout, timing, session.timeout);
    receiver.start();
    const std::string reason = awaitEnd(receiver, options, started);
    const auto stopAsked = Clock::now();
    const Status stopped = simpleRequest(commander, "stop", command::StopStream, {});
    printNumber("stop_answer_ms", std::chrono::duration_cast<Millis>(Clock::now() - stopAsked).count());
    receiver.finish();
    printSummary(receiver.totals(), reason, Clock::now() - started);
    timing.print();
    return worse(stopped, receiverStatus(receiver, layout.markerExpected));
}

Status runStream(Commander& commander, const StreamOptions& options, uint8_t command,
                 const StreamRequest& request)
{
    Reply reply;
    if (!commander.exchange(command, buildStreamPayload(request), reply))
        return kFailed;
    if (const Status status = checkCode("stream", reply, command); status != kOk)
        return status;
    const StreamHeader header = decodeStreamHeader(reply.body);
    printHeader(header);
    return receiveStream(commander, options, header);
}

}  // namespace

Status runLiveStream(Commander& commander, const StreamOptions& options, int32_t channel)
{
    StreamRequest request = requestFor(options);
    request.channel = channel;
    return runStream(commander, options, command::StartLiveStream, request);
}

Status runFileStream(Commander& commander, const StreamOptions& options, const std::string& path)
{
    if (options.subtitleFile) {
        const Status status = simpleRequest(commander, "subtitle_file", command::SetSubtitleFile,
                                            buildPathPayload(*options.subtitleFile));
        if (status != kOk)
            return status;
    }
    const Status status =
        simpleRequest(commander, "media_file", command::SetMediaFile, buildPathPayload(path));
    if (status != kOk)
        return status;
    return runStream(commander, options, command::StartFileStream, requestFor(options));
}

}  // namespace handheld
