#include "encode/live_encoder.h"

#include "capture/caption_style.h"
#include "capture/captions.h"
#include "capture/rendering_surface.h"
#include "config/settings.h"
#include "encode/live_setup.h"
#include "encode/stream_buffers.h"
#include "platform/clock.h"
#include "platform/messages.h"
#include "shared/live_params.h"
#include "shared/resources.h"
#include "shared/server_state.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libswresample/swresample.h>
}

VideoSample gLatestVideoSample;
LiveEncoder gLiveEncoder;
RecordingOutput gRecorder;

namespace {

std::atomic<bool> captionsOnVideo{false};

// The picture both branches encode, top row first, for one sample.
struct PreparedPicture {
    const uint8_t* topRow = nullptr;
    int stride = 0;
};

// The video callback's thread prepares the picture; the window thread sets
// the style only while no capture runs.
PreparedPicture preparedPicture;
CaptionStyle captionStyle;

// Copies the bottom-up sample into the rendering surface, top row first,
// and draws the captions over it. False when the surface does not fit the
// picture: it then goes out without captions.
bool DrawCaptionsOnSample(const uint8_t* lastRow, int stride)
{
    QImage& surface = RenderingSurface();
    if (surface.width() != gCapture.format.width || surface.height() != gCapture.format.height)
        return false;
    for (int row = 0; row < gCapture.format.height; ++row)
        std::memcpy(surface.scanLine(row), lastRow - static_cast<ptrdiff_t>(stride) * row, static_cast<size_t>(stride));
    DrawCaptions(surface, captionStyle);
    return true;
}

// Without captions the scaler reads the bottom-up B,G,R sample itself, from
// its last row upwards: no copy at all.
PreparedPicture PreparePicture()
{
    const int stride = gCapture.format.width * 3;
    if (!gLatestVideoSample.bytes || gLatestVideoSample.length < stride * gCapture.format.height)
        return {};
    const uint8_t* lastRow = gLatestVideoSample.bytes + static_cast<ptrdiff_t>(stride) * (gCapture.format.height - 1);
    if (captionsOnVideo && DrawCaptionsOnSample(lastRow, stride)) {
        const QImage& surface = RenderingSurface();
        return {surface.constBits(), static_cast<int>(surface.bytesPerLine())};
    }
    return {lastRow, -stride};
}

// Converts the prepared picture into the branch's YUV picture.
bool ScaleSample(const EncoderBranch& branch)
{
    return branch.converter.Convert(preparedPicture.topRow, preparedPicture.stride, branch.picture.get());
}

// Converts one codec frame of interleaved PCM into the branch's audio frame
// and hands it to the encoder.
bool SendAudioFrame(EncoderBranch& branch, const uint8_t* pcm)
{
    if (av_frame_make_writable(branch.audioFrame.get()) < 0)
        return false;
    const uint8_t* input[1] = {pcm};
    swr_convert(branch.resampler.get(), branch.audioFrame->data, branch.audioFrameSize, input, branch.audioFrameSize);
    branch.audioFrame->pts = branch.audioSamplesEncoded;
    branch.audioSamplesEncoded += branch.audioFrameSize;
    return avcodec_send_frame(branch.audio.get(), branch.audioFrame.get()) >= 0;
}

bool RingHasRoom(const StreamRing& ring)
{
    std::lock_guard hold(gStream.lock);
    return ring.fullness < kLiveProducerLimit;
}

// While the link to the handheld carries less than the stream, the sender
// asks for a lower video bit rate, and for the request again once the link
// recovers.
void FollowLinkBitRate()
{
    const int32_t wanted = gLiveEncoder.linkVideoBitRate;
    // A rate the encoder refused is not tried again for every picture.
    if (wanted > 0 && wanted != gLiveEncoder.videoBitRate && ReopenLiveVideo(wanted) != 0)
        gLiveEncoder.linkVideoBitRate = 0;
}

// After a catch-up cut the stream goes on from a key frame.
bool KeyFrameAwaited()
{
    std::lock_guard hold(gStream.lock);
    return gStream.video.awaitingKeyFrame;
}

// A still picture encodes to a few dozen bytes, and a chunk goes to the
// handheld only once full: a still channel's first picture would wait
// seconds, and stay that far behind. A chunk whose oldest byte has waited
// this long is completed with the codec's filler, as far as the stream's
// bit rate leaves room.
constexpr double kChunkPatience = 0.2;

void CompleteStalledChunk(double sampleTime, int32_t pictureBytes)
{
    const AVCodecContext* video = gLiveEncoder.branch.video.get();
    FillerAllowance& allowance = gLiveEncoder.fillerAllowance;
    allowance.Update(sampleTime, gLiveEncoder.videoBitRate, pictureBytes);
    std::lock_guard hold(gStream.lock);
    int32_t missing = StalledVideoShortfall(sampleTime, kChunkPatience);
    // Too little room for one piece of filler: it completes the next chunk too.
    if (missing > 0 && missing < kSmallestFiller)
        missing += kVideoChunk;
    if (missing == 0 || !allowance.Take(missing))
        return;
    std::vector<uint8_t> filler;
    if (AppendCodecFiller(video->codec_id, missing, filler))
        AppendVideo(filler.data(), missing);
}

// Feeds one picture to the live encoder and appends every packet it gives
// back to the video ring. Scaling and encoding run outside the buffer
// mutex: it is held only for the append. Returns whether the encoder took
// the picture.
bool EncodeLivePicture(double sampleTime)
{
    EncoderBranch& branch = gLiveEncoder.branch;
    FollowLinkBitRate();
    // A repeated picture is the one still in the branch's picture.
    const bool repeated = gLiveEncoder.linkHalfPictures && gLiveEncoder.framesEncoded % 2 == 1;
    if (!repeated && !ScaleSample(branch))
        return false;
    branch.picture->pts = gLiveEncoder.framesEncoded;
    branch.picture->pict_type = KeyFrameAwaited() ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
    if (avcodec_send_frame(branch.video.get(), branch.picture.get()) < 0)
        return false;
    // A picture the encoder keeps for look-ahead still counts as encoded: its
    // bytes follow, and the picture clock must keep advancing.
    ++gLiveEncoder.framesEncoded;
    int32_t pictureBytes = 0;
    while (avcodec_receive_packet(branch.video.get(), branch.videoPacket.get()) == 0) {
        {
            std::lock_guard hold(gStream.lock);
            gStream.video.lastTime = std::max(sampleTime, 0.0);
            if (AppendLivePicture(branch.videoPacket->data, branch.videoPacket->size,
                                  (branch.videoPacket->flags & AV_PKT_FLAG_KEY) != 0))
                pictureBytes += branch.videoPacket->size;
        }
        av_packet_unref(branch.videoPacket.get());
    }
    CompleteStalledChunk(std::max(sampleTime, 0.0), pictureBytes);
    return true;
}

bool EncodeLiveVideoCopy(double sampleTime)
{
    // The flag first: the window thread opens and closes the branch only
    // while the flag is clear.
    const bool encoded = IsStreaming() && gLiveEncoder.branch.video && RingHasRoom(gStream.video) &&
                         EncodeLivePicture(sampleTime);
    PostAppMessage(MessageTarget::View, kMsgRefresh);
    return encoded;
}

// Writes the recorder's pending packets of one stream into the file. The
// encoder lock keeps video and audio packets from entering the writer at
// the same time; a packet whose recording ended meanwhile is dropped.
void WriteRecordedPackets(AVCodecContext* codec, AVPacket* packet, int streamIndex, bool countAudioFrames)
{
    EncoderBranch& branch = gRecorder.branch;
    AVStream* stream = branch.output->streams[streamIndex];
    while (avcodec_receive_packet(codec, packet) == 0) {
        gRecorder.recordedBytes += static_cast<uint32_t>(packet->size);
        if (countAudioFrames) {
            ++gRecorder.recordedAudioFrames;
            packet->flags |= AV_PKT_FLAG_KEY;
        }
        av_packet_rescale_ts(packet, codec->time_base, stream->time_base);
        packet->stream_index = streamIndex;
        {
            std::lock_guard hold(gRecorder.writeLock);
            if (IsRecording())
                av_write_frame(branch.output.get(), packet);
        }
        av_packet_unref(packet);
    }
}

int StreamIndexOf(const AVCodecContext* codec)
{
    const AVFormatContext* output = gRecorder.branch.output.get();
    for (unsigned i = 0; i < output->nb_streams; ++i)
        if (output->streams[i]->codecpar->codec_type == codec->codec_type)
            return static_cast<int>(i);
    return 0;
}

// Asks for the recording to stop once it has run out of time or room.
void CheckRecordingLimits()
{
    const SettingsRecord& record = gSettings.record;
    gRecorder.elapsedSeconds = (GetTickCount() - gRecorder.startTick) / 1000;
    const bool timeUp = record.limitRecordingTime &&
                        gRecorder.elapsedSeconds > static_cast<uint32_t>(std::max(record.recordingTimeLimit, 0));
    const bool full = record.limitRecordingSize && static_cast<uint64_t>(gRecorder.recordedBytes) >=
                                                       static_cast<uint64_t>(std::max(record.recordingSizeLimitMb, 0)) *
                                                           1048576;
    if (timeUp || full)
        PostAppMessage(MessageTarget::Recorder, kMsgStopRecording);
}

void EncodeRecordedPicture(int32_t framesBefore)
{
    EncoderBranch& branch = gRecorder.branch;
    if (!ScaleSample(branch))
        return;
    if (gRecorder.firstLiveFrame < 0)
        gRecorder.firstLiveFrame = framesBefore;
    branch.picture->pts = framesBefore - gRecorder.firstLiveFrame;
    if (avcodec_send_frame(branch.video.get(), branch.picture.get()) < 0)
        return;
    if (gLiveEncoder.framesEncoded == framesBefore)
        ++gLiveEncoder.framesEncoded;
    WriteRecordedPackets(branch.video.get(), branch.videoPacket.get(), StreamIndexOf(branch.video.get()), false);
    CheckRecordingLimits();
}

void EncodeLiveAudio(double sampleTime)
{
    EncoderBranch& branch = gLiveEncoder.branch;
    if (!IsStreaming() || !branch.audio || !RingHasRoom(gStream.audio))
        return;
    const int32_t frameBytes = branch.audioFrameSize * branch.audio->ch_layout.nb_channels * 2;
    int32_t consumed = 0;
    gLiveEncoder.audioOutputFill = 0;
    while (gLiveEncoder.pcmFill - consumed >= frameBytes && IsStreaming()) {
        if (SendAudioFrame(branch, gBuffers.livePcm + consumed)) {
            AVPacket* packet = branch.audioPacket.get();
            while (avcodec_receive_packet(branch.audio.get(), packet) == 0) {
                if (packet->size <= kAudioOutputSize - gLiveEncoder.audioOutputFill) {
                    std::memcpy(gLiveEncoder.audioOutput.get() + gLiveEncoder.audioOutputFill, packet->data, packet->size);
                    gLiveEncoder.audioOutputFill += packet->size;
                }
                av_packet_unref(packet);
            }
        }
        consumed += frameBytes;
    }
    {
        std::lock_guard hold(gStream.lock);
        gStream.audio.lastTime = std::max(sampleTime, 0.0);
        AppendAudio(gLiveEncoder.audioOutput.get(), gLiveEncoder.audioOutputFill);
    }
    PostAppMessage(MessageTarget::View, kMsgRefresh);
    std::memmove(gBuffers.livePcm, gBuffers.livePcm + consumed, static_cast<size_t>(gLiveEncoder.pcmFill - consumed));
    gLiveEncoder.pcmFill -= consumed;
}

void EncodeRecordedAudio()
{
    EncoderBranch& branch = gRecorder.branch;
    if (!IsRecording() || !branch.audio)
        return;
    const int32_t frameBytes = branch.audioFrameSize * branch.audio->ch_layout.nb_channels * 2;
    int32_t consumed = 0;
    while (gRecorder.pcmFill - consumed >= frameBytes && IsRecording()) {
        if (SendAudioFrame(branch, gBuffers.recorderPcm + consumed))
            WriteRecordedPackets(branch.audio.get(), branch.audioPacket.get(), StreamIndexOf(branch.audio.get()), true);
        consumed += frameBytes;
    }
    CheckRecordingLimits();
    std::memmove(gBuffers.recorderPcm, gBuffers.recorderPcm + consumed,
                 static_cast<size_t>(gRecorder.pcmFill - consumed));
    gRecorder.pcmFill -= consumed;
}

// A block that does not fit whole is dropped whole.
void Stage(uint8_t* staging, int32_t& fill, const uint8_t* block, int length)
{
    if (length < 0 || fill + static_cast<int64_t>(length) > static_cast<int64_t>(kPcmStagingSize))
        return;
    std::memcpy(staging + fill, block, static_cast<size_t>(length));
    fill += length;
}

class EncodeSteps : public SampleConsumer {
public:
    void VideoSample(double sampleTime, const uint8_t* picture, int length) override
    {
        gLatestVideoSample = {picture, length};
        EncodeVideoSample(sampleTime);
    }

    void AudioSamples(double sampleTime, const uint8_t* pcm, int length) override
    {
        if (IsStreaming())
            Stage(gBuffers.livePcm, gLiveEncoder.pcmFill, pcm, length);
        if (IsRecording())
            Stage(gBuffers.recorderPcm, gRecorder.pcmFill, pcm, length);
        EncodeAudioSamples(sampleTime);
    }
};

EncodeSteps encodeSteps;

} // namespace

void CountStreamedPicture()
{
    if (!IsRecording())
        ++gLiveEncoder.framesEncoded;
}

SampleConsumer& LiveEncodeSteps()
{
    return encodeSteps;
}

namespace {

// A font is made only when the stored choice changed: one made at every
// start was seen to grow the program by some 150 kB a start.
void TakeCaptionStyle()
{
    static LogFont takenFont{};
    static uint32_t takenColour = 0;
    static bool taken = false;
    const SettingsRecord& record = gSettings.record;
    if (taken && std::memcmp(&takenFont, &record.captionFont, sizeof takenFont) == 0 &&
        takenColour == record.captionColor)
        return;
    captionStyle = CaptionStyleFromSettings();
    takenFont = record.captionFont;
    takenColour = record.captionColor;
    taken = true;
}

} // namespace

void PrepareCaptionOverlay()
{
    // Without a surface the pictures go out only without captions.
    if (gStream.video.present)
        CreateRenderingSurface();
    TakeCaptionStyle();
}

int PacingCopies(double lag)
{
    if (lag < -1.1)
        return 0;
    if (lag > 1.1)
        return static_cast<int>(std::nearbyint(lag));  // the default rounding: nearest, ties to even
    return 1;
}

void DrawCaptionsOnVideo(bool on)
{
    captionsOnVideo = on;
}

void EncodeVideoSample(double sampleTime)
{
    // Each branch is looked at only while its flag is set: the window thread
    // opens and closes a branch while its flag is clear.
    LiveEncoder& encoder = gLiveEncoder;
    const bool recordingVideo = IsRecording() && gRecorder.branch.video;
    if (!(IsStreaming() && encoder.branch.video) && !recordingVideo)
        return;
    const double frameRate = gLiveParams.frameRate;
    if (encoder.firstVideoCall) {
        encoder.startOffset = frameRate * sampleTime;
        encoder.firstVideoCall = false;
    }
    const int copies = PacingCopies(frameRate * sampleTime - encoder.framesEncoded - encoder.startOffset);
    if (copies > 0)
        preparedPicture = PreparePicture();
    for (int copy = 0; copy < copies; ++copy) {
        const int32_t framesBefore = encoder.framesEncoded;
        EncodeLiveVideoCopy(sampleTime);
        if (recordingVideo && IsRecording())
            EncodeRecordedPicture(framesBefore);
    }
}

void EncodeAudioSamples(double sampleTime)
{
    EncodeLiveAudio(sampleTime);
    EncodeRecordedAudio();
}
