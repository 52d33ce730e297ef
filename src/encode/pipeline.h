#pragma once
// Start and stop of the whole live pipeline: capture graph, live encoders and
// the flags the capture callbacks obey, or, for a media file, the file
// transcoder's thread. Only the window thread starts and stops it; a call
// from another thread is handed to the window thread and waited for.

#include "encode/file_producer.h"
#include "platform/start_result.h"

#include <cstdint>
#include <string>

class Tuner;

// The picture size class whose width and height come with the request.
constexpr int kSizeLevelCustom = 4;

// The handheld's stream-start request, as the session stored it.
struct StreamRequest {
    int32_t channel;
    int32_t startSeconds;
    int32_t customBitRateKbps;
    uint8_t profile;          // low nibble: quality; high nibble: picture size class
    uint16_t customWidth;
    uint16_t customHeight;
    uint8_t captionsOnVideo;
    uint8_t videoCodec;       // 0 = MPEG-4 part 2, 2 = H.264, other = H.263
    uint8_t audioFormat;
    int8_t videoStream;       // files: -1 = automatic
    int8_t audioStream;
    int8_t subtitleStream;    // files: -1 = none
};

// What the pipeline is doing, read in one go by the commands that must not
// disturb it: a live or file stream, the recording branch, motion monitoring.
struct PipelineActivity {
    bool streaming = false;
    bool recording = false;
    bool monitoring = false;
};
PipelineActivity CurrentActivity();

// The producer of file streams lives in the media library, which sits above
// this layer, so the program names it at start-up: on the window thread it
// makes the body of the producer's thread for a request.
using FileStreamProducer = FileProducer::Body (*)(const StreamRequest& request);
void SetFileStreamProducer(FileStreamProducer producer);

// Whether the encoders can take the request's picture size and bit rate;
// a request they cannot take is refused before anything is allocated.
bool StreamRequestFits(const StreamRequest& request);

// From any thread: starts a stream of the request's channel, or of the
// chosen media file, on the window thread, and returns once it runs or why
// it does not, with nothing left half started. Either holds the tuner, which
// ends a recording or monitoring. A file stream runs once its producer has
// the file open, within fileOpenLimitMs; it produces once let go.
StartResult StartStream(Tuner& tuner, const StreamRequest& request, bool fileMode, int fileOpenLimitMs);
// Lets the producer of a started file stream (or .tvs encoding) fill the
// buffers, once the consumer's sender runs.
void LetFileProducerGo();

// From any thread: motion monitoring of channel, on the window thread. It
// watches the pictures of a stream or recording of the channel, or holds
// the tuner and starts the channel's graph without encoders, with ten
// priming periods to go.
StartResult StartMonitoring(Tuner& tuner, int channel);
// From any thread: monitoring ends and lets the tuner go.
void StopMonitoring(Tuner& tuner);

// After the sender has stopped: clears the streaming flag, waits for the
// capture callbacks to leave the encoders, lets the tuner go (the capture
// stops unless a recording holds it), and closes the encoders. A file
// stream's producer is cancelled and waited for instead.
void StopStreaming(Tuner& tuner);

// From any thread, when a session ends: the encoders stop filling the
// stream's rings at once, before its thread wakes to call StopStreaming.
void MarkStreamOver();

// The Encode File job's own file producer, which writes a .tvs file
// through the sender; on the window thread. No stream starts while it runs,
// and StopStreaming leaves it alone. Returns once the producer has its file
// open, within openLimitMs, or why it has not: a stream or another encoding
// holds the producer, or the file cannot be transcoded.
StartResult StartFileEncoding(FileProducer::Body transcoder, int openLimitMs);
// Cancels it and waits for its end; false when it did not end in time.
bool StopFileEncoding();

// Waits, in short slices, for a grabber callback to report on exitEvent that
// it has seen its flag off. Ends also when the capture no longer runs (no
// callback can come then) or after limitMs. False when it ended by time.
bool WaitForGrabberExit(class AutoResetEvent& exitEvent, int limitMs);
