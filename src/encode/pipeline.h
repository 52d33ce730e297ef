#pragma once
// Start and stop of the whole live pipeline: capture graph, live encoders and
// the flags the capture callbacks obey, or, for a media file, the file
// transcoder's thread. Only the window thread starts and stops it; a call
// from another thread is handed to the window thread and waited for.

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

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

// The producer of file streams lives in the media library, which sits above
// this layer, so the program names it at start-up: on the window thread it
// makes the body of the producer's thread for a request. That thread polls
// gFileStreamCancel at least every 100 ms, signals "StreamerStart" itself
// and "EncoderThreadExit" as it ends.
using FileStreamProducer = std::function<int()> (*)(const StreamRequest& request);
void SetFileStreamProducer(FileStreamProducer producer);

// Set by StopStreaming (and by the Encode File dialog) to end the file
// producer; cleared for each start.
extern std::atomic<int> gFileStreamCancel;

// Whether the encoders can take the request's picture size and bit rate;
// a request they cannot take is refused before anything is allocated.
bool StreamRequestFits(const StreamRequest& request);

// On the main window's thread, when the command session asks for a stream
// (fileMode 1 for a media file). A live start signals "StreamerStart" when
// done; a file start leaves that to the producer's thread. The session
// learns success from the streaming flag. 0, or -1 with nothing left half
// started.
int StartLiveStreaming(int fileMode, const StreamRequest& request);

// On the main window's thread, when the command session asks for motion
// monitoring while nothing else captures: builds and starts the current
// channel's graph without encoders, sets the monitoring flag with ten
// priming periods to go, and signals "StreamerStart" in every case. 0, or -1.
int StartMonitoringGraph();

// Stops a graph that runs for monitoring alone, so that a reset of the
// stream buffers never runs under its callbacks.
void StopMonitoringCapture();

// True, after logging that what was refused, while auto-tune scans the
// tuner of the capture options' graph: nothing may rebuild that graph.
bool RefusedWhileScanningTuner(const std::string& what);

// After the sender has stopped: clears the streaming flag, waits for the
// capture callbacks to leave the encoders, stops capture unless a recording
// needs it, and closes the encoders. A file stream's producer is cancelled
// and waited for instead.
void StopStreaming();

// The Encode File job's own file producer, which writes a .tvs file
// through the sender; on the window thread. No stream starts while it runs,
// and StopStreaming leaves it alone. False when a stream or another
// encoding holds the producer.
bool StartFileEncoding(std::function<int()> transcoder);
// Cancels it and waits for its end; false when it did not end in time.
bool StopFileEncoding();

// Waits, in short slices, for a grabber callback to report on exitEvent that
// it has seen its flag off. Ends also when the capture no longer runs (no
// callback can come then) or after limitMs. False when it ended by time.
bool WaitForGrabberExit(class AutoResetEvent& exitEvent, int limitMs);
