#pragma once
// Opening and closing the live encoders, and the choice of their parameters
// from the handheld's request.

#include <atomic>
#include <cstdint>
#include <string>

#include "capture/capture_graph.h"
#include "encode/chunk_filler.h"
#include "platform/av_owned.h"
#include "encode/picture_converter.h"
#include "platform/sync.h"

constexpr int kAudioOutputSize = 524288;

// The encoders of one branch: the live stream's, or the recording's. The
// live branch's context is never written to a file: it only holds the
// streams whose encoders produce the raw elementary streams.
struct EncoderBranch {
    OutputFormatPtr output;
    CodecContextPtr video;
    CodecContextPtr audio;
    FramePtr picture;
    PictureConverter converter;  // kept across starts
    FramePtr audioFrame;
    ResamplerPtr resampler;
    // One packet for each stream: the video and audio steps run on two threads.
    PacketPtr videoPacket;
    PacketPtr audioPacket;
    int audioFrameSize = 0;        // samples per channel in one codec frame
    int64_t audioSamplesEncoded = 0;
};

struct LiveEncoder {
    EncoderBranch branch;
    AvBytesPtr audioOutput;
    int32_t audioOutputFill = 0;
    // Also the next picture's presentation time; read by the statistics.
    std::atomic<int32_t> framesEncoded{0};
    // The video bit rate the link to the handheld carries, set by the
    // sender; 0 until it asks for one. The video step follows it and
    // keeps the rate the encoder was opened with.
    std::atomic<int32_t> linkVideoBitRate{0};
    int32_t videoBitRate = 0;
    // Set by the sender when even the lowest rate is too much for the
    // link: every other picture repeats the one before.
    std::atomic<bool> linkHalfPictures{false};
    // Kept by the video step alone.
    FillerAllowance fillerAllowance;
    double startOffset = 0;        // in frames
    bool firstVideoCall = true;
    // The stream's picture size, chosen from the request.
    int32_t outputWidth = 320;
    int32_t outputHeight = 240;
    // PCM staged in the live branch's 800,000-byte buffer, interleaved
    // signed 16-bit samples waiting for a whole codec frame: the audio
    // callback appends, the audio step consumes.
    int32_t pcmFill = 0;
};

extern LiveEncoder gLiveEncoder;

// The recording output: an AVI file with WMV2 video and WMA audio. The
// recorder opens and closes it; the encode steps write into it while the
// recording flag is set.
struct RecordingOutput {
    EncoderBranch branch;
    bool headerWritten = false;
    // Updated by the encode steps; the handheld is told the elapsed seconds.
    std::atomic<uint32_t> recordedBytes{0};
    std::atomic<uint32_t> elapsedSeconds{0};
    uint32_t recordedAudioFrames = 0;
    // The live picture count at the file's first picture, -1 before it: a
    // recording that joins a running stream starts its file at zero.
    int32_t firstLiveFrame = -1;
    uint32_t startTick = 0;
    // The recorder's PCM staging, as the live encoder's.
    int32_t pcmFill = 0;
    // Taken by the video and audio encode steps around each write into the
    // file, so that the two never enter the writer at once.
    CriticalSection writeLock;
};

extern RecordingOutput gRecorder;

// Fills the live parameters from the stream profile byte (low nibble: bit
// rate level, high nibble: size level) and the custom bit rate in kbit/s.
// What a built capture graph delivers becomes the stream's and the
// recording's frame rate and sound format: the encoders pace and convert by
// them, and the handheld is told them.
void AdoptCaptureFormat(const CaptureFormat& format);

void ChooseLiveParameters(uint8_t profile, int32_t customKbps, uint16_t customWidth, uint16_t customHeight,
                          bool hasVideo);

// The video step, while streaming: opens the live video encoder anew at
// another bit rate, so that the change takes at once, for every codec. Its
// first picture is a key frame. On failure the old encoder stays.
int ReopenLiveVideo(int bitRate);

// The encoder name for a codec selector: "mpeg4", "libx264" or "h263".
const char* VideoEncoderName(uint8_t selector);

// The largest picture size the H.263 encoder accepts inside width x height;
// 128x96 when none fits.
void FitH263Size(int& width, int& height);

// The encoder settings of the live stream, which file streams share: bit
// rate, size, rate, a key frame every 60 pictures, and for H.264 the x264
// options of the handheld's profile.
void ConfigureVideoEncoder(AVCodecContext* context, const AVCodec* codec, int bitRate, int width, int height,
                           AVRational rate);
void SetH264Options(AVCodecContext* context);
void ConfigureAudioEncoder(AVCodecContext* context, const AVCodec* codec, int bitRate, int sampleRate, bool stereo);

// The encoder by name, when it exists and encodes the given media type.
const AVCodec* FindEncoder(const char* name, AVMediaType type);

// Makes the branch's AVI context (the live branch gives no path) and its
// packet. 0, or -1 after telling the user why.
int OpenOutputContext(EncoderBranch& branch, const std::string& path);

// Adds a video stream to the branch's context and opens its encoder, its
// picture and its scaler from the capture size. 0, or -1 after telling the
// user why.
int OpenVideoBranch(EncoderBranch& branch, const AVCodec* codec, int bitRate, int width, int height, int frameRate);
// Adds an audio stream and opens its encoder and the conversion from
// interleaved 16-bit PCM.
int OpenAudioBranch(EncoderBranch& branch, const AVCodec* codec, int bitRate, int sampleRate, bool stereo);
// Frees the encoders, pictures and streams; the context and the scaler stay.
void CloseBranchEncoders(EncoderBranch& branch);

// Opens the live encoders for the devices present. 0, or -1 after telling
// the user why (through the message-display switch).
int OpenLiveEncoder(bool hasVideo, bool hasAudio);
// Closes whatever is open; safe on a partly opened encoder.
void CloseLiveEncoder();

// Clears the pacing state for a new start.
void ResetVideoPacing();

// How many times a sample lagging the picture clock by lag frames is encoded:
// 0 when it is early, round(lag) when late, else once.
int PacingCopies(double lag);
