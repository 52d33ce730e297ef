#pragma once
// The file transcoder's outputs: the picture and the sound of the chosen
// input streams, sent on as they are or decoded, scaled or resampled, and
// encoded into the raw elementary streams the handheld plays.

#include "platform/av_owned.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <vector>

// Where the encoded packets go: the stream rings, each packet stamped with
// the stream time of its frame and appended only when it fits whole.
class RingWriter {
public:
    RingWriter(int startSeconds, int frameRate, int sampleRate);

    void Video(const uint8_t* bytes, int size);
    void Audio(const uint8_t* bytes, int size, int samples);

    // The stream time of the newest video packet, in seconds.
    double VideoSeconds() const { return videoSeconds_; }

private:
    void Refresh();

    const int startSeconds_;
    const int frameRate_;
    const int sampleRate_;
    int64_t videoPackets_ = 0;
    int64_t audioSamples_ = 0;
    double videoSeconds_;
    std::chrono::steady_clock::time_point lastRefresh_{};
};

// Where a stream's time starts: its time base, and the file time (container
// start plus start offset) that becomes stream time 0.
struct FileTimeline {
    AVRational timeBase;
    double originSeconds;

    // Seconds in stream time of a time stamp that is not AV_NOPTS_VALUE.
    double Seconds(int64_t timestamp) const { return timestamp * av_q2d(timeBase) - originSeconds; }
};

struct VideoSettings {
    const AVCodec* codec;
    int bitRate;
    int width;
    int height;
    int frameRate;
    int64_t maxFrames;  // the duration limit in pictures
};

class VideoTranscode {
public:
    VideoTranscode(RingWriter& sink, const std::atomic<int>& cancel) : sink_(sink), cancel_(cancel) {}

    // Sends the stream's packets as they are, H.264 in start-code form.
    bool OpenCopy(const AVStream* input, int64_t maxFrames);
    // Decodes, scales to the output size, keeps the rate constant by
    // dropping or repeating pictures, and encodes.
    bool OpenEncode(const AVStream* input, const FileTimeline& timeline, const VideoSettings& settings);

    void Process(AVPacket* packet);
    // At the end of the input: what the decoder and the encoder still hold.
    void Flush();

private:
    void Copy(AVPacket* packet);
    void CopyInStartCodes(AVPacket* packet);
    void Pace(const AVFrame* decoded);
    bool Scale(const AVFrame* decoded);
    void Drain();
    void DecodeAll();

    RingWriter& sink_;
    const std::atomic<int>& cancel_;
    FileTimeline timeline_{};
    int frameRate_ = 0;
    int64_t maxFrames_ = 0;
    int64_t nextPicture_ = 0;
    CodecContextPtr decoder_;
    CodecContextPtr encoder_;
    ScalerPtr scaler_;
    FramePtr decoded_;
    FramePtr picture_;
    PacketPtr encoded_;
    BitstreamFilterPtr startCodes_;
    std::vector<uint8_t> firstPacketHeader_;
};

struct AudioSettings {
    const AVCodec* codec;
    int bitRate;
    int sampleRate;
    int64_t maxSamples;  // the duration limit in samples
};

class AudioTranscode {
public:
    explicit AudioTranscode(RingWriter& sink) : sink_(sink) {}

    // Sends the stream's packets as they are, each one codec frame long.
    bool OpenCopy(const AVStream* input);
    // Decodes, resamples to the output rate in stereo, gathers whole codec
    // frames and encodes.
    bool OpenEncode(const AVStream* input, const FileTimeline& timeline, const AudioSettings& settings);

    void Process(AVPacket* packet);
    void Flush();

private:
    bool Resample(const AVFrame* decoded);
    bool PrepareResampler(const AVFrame* decoded);
    void EncodeWholeFrames(bool last);
    void Drain();
    void DecodeAll();

    RingWriter& sink_;
    FileTimeline timeline_{};
    int copyFrameSamples_ = 0;
    int64_t maxSamples_ = 0;
    int64_t samplesEncoded_ = 0;
    CodecContextPtr decoder_;
    CodecContextPtr encoder_;
    ResamplerPtr resampler_;
    AVSampleFormat resamplerFormat_ = AV_SAMPLE_FMT_NONE;
    int resamplerRate_ = 0;
    int resamplerChannels_ = 0;
    AudioFifoPtr fifo_;
    FramePtr decoded_;
    FramePtr converted_;
    FramePtr frame_;
    PacketPtr encoded_;
};

// A decoder for a stream's codec, opened; null when there is none.
CodecContextPtr OpenDecoder(const AVStream* stream, int threads);
