#include "encode/live_encoder.h"

#include "app/resources.h"
#include "app/server_state.h"
#include "encode/live_params.h"
#include "encode/live_setup.h"
#include "encode/stream_buffers.h"
#include "platform/messages.h"

#include <algorithm>
#include <cstring>
#include <mutex>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

VideoSample gLatestVideoSample;
int32_t gLivePcmFill;
int32_t gRecorderPcmFill;
std::atomic<int> gEncoderSlotInUse{0};
LiveEncoder gLiveEncoder;

namespace {

// Converts the bottom-up B,G,R sample straight into the branch's YUV
// picture: the scaler reads the rows from the last one upwards, so no
// intermediate copy or byte reordering is needed.
bool ScaleSample(SwsContext* scaler, AVFrame* target)
{
    const int stride = gCaptureWidth * 3;
    if (!scaler || !gLatestVideoSample.bytes || gLatestVideoSample.length < stride * gCaptureHeight)
        return false;
    const uint8_t* lastRow = gLatestVideoSample.bytes + static_cast<ptrdiff_t>(stride) * (gCaptureHeight - 1);
    const uint8_t* source[4] = {lastRow, nullptr, nullptr, nullptr};
    const int sourceStride[4] = {-stride, 0, 0, 0};
    return sws_scale(scaler, source, sourceStride, 0, gCaptureHeight, target->data, target->linesize) > 0;
}

// Feeds one frame to the encoder and appends every packet it gives back to
// the video ring. Returns whether the encoder took the frame.
bool EncodeLivePicture(double sampleTime)
{
    LiveEncoder& encoder = gLiveEncoder;
    encoder.livePicture->pts = encoder.framesEncoded;
    if (avcodec_send_frame(encoder.video, encoder.livePicture) < 0)
        return false;
    // A frame the encoder keeps for look-ahead still counts as encoded: its
    // bytes follow, and the picture clock must keep advancing.
    ++encoder.framesEncoded;
    while (avcodec_receive_packet(encoder.video, encoder.packet) == 0) {
        gStream.video.lastTime = std::max(sampleTime, 0.0);
        AppendVideo(encoder.packet->data, encoder.packet->size);
        av_packet_unref(encoder.packet);
    }
    return true;
}

void EncodeLiveVideoCopy(double sampleTime)
{
    std::lock_guard hold(gBufferMutex);
    if (gState.streaming && gStream.video.fullness < kLiveProducerLimit &&
        ScaleSample(gLiveEncoder.liveScaler, gLiveEncoder.livePicture))
        EncodeLivePicture(sampleTime);
    PostAppMessage(MessageTarget::View, kMsgRefresh);
}

// Encodes one codec frame of staged PCM; its packets go behind the bytes
// already gathered in the audio output buffer.
void EncodeLiveAudioFrame(const uint8_t* pcm)
{
    LiveEncoder& encoder = gLiveEncoder;
    if (av_frame_make_writable(encoder.audioFrame) < 0)
        return;
    const uint8_t* input[1] = {pcm};
    swr_convert(encoder.resampler, encoder.audioFrame->data, encoder.audioFrameSize, input, encoder.audioFrameSize);
    encoder.audioFrame->pts = encoder.audioSamplesEncoded;
    encoder.audioSamplesEncoded += encoder.audioFrameSize;
    if (avcodec_send_frame(encoder.audio, encoder.audioFrame) < 0)
        return;
    while (avcodec_receive_packet(encoder.audio, encoder.packet) == 0) {
        const int room = kAudioOutputSize - encoder.audioOutputFill;
        if (encoder.packet->size <= room) {
            std::memcpy(encoder.audioOutput + encoder.audioOutputFill, encoder.packet->data, encoder.packet->size);
            encoder.audioOutputFill += encoder.packet->size;
        }
        av_packet_unref(encoder.packet);
    }
}

} // namespace

int PacingCopies(double lag)
{
    if (lag < -1.1)
        return 0;
    if (lag > 1.1)
        return static_cast<int>(std::nearbyint(lag));  // the default rounding: nearest, ties to even
    return 1;
}

void EncodeVideoSample(double sampleTime)
{
    LiveEncoder& encoder = gLiveEncoder;
    if (!encoder.video)
        return;
    const double frameRate = gLiveParams.frameRate;
    if (encoder.firstVideoCall) {
        encoder.startOffset = frameRate * sampleTime;
        encoder.firstVideoCall = false;
    }
    const int copies = PacingCopies(frameRate * sampleTime - encoder.framesEncoded - encoder.startOffset);
    for (int copy = 0; copy < copies; ++copy)
        EncodeLiveVideoCopy(sampleTime);
}

void EncodeAudioSamples(double sampleTime)
{
    LiveEncoder& encoder = gLiveEncoder;
    if (!encoder.audio)
        return;
    std::lock_guard hold(gBufferMutex);
    if (!gState.streaming || gStream.audio.fullness >= kLiveProducerLimit)
        return;
    const int32_t frameBytes = encoder.audioFrameSize * encoder.audio->ch_layout.nb_channels * 2;
    int32_t consumed = 0;
    encoder.audioOutputFill = 0;
    while (gLivePcmFill - consumed >= frameBytes && gState.streaming) {
        EncodeLiveAudioFrame(gBuffers.livePcm + consumed);
        consumed += frameBytes;
    }
    gStream.audio.lastTime = std::max(sampleTime, 0.0);
    AppendAudio(encoder.audioOutput, encoder.audioOutputFill);
    PostAppMessage(MessageTarget::View, kMsgRefresh);
    std::memmove(gBuffers.livePcm, gBuffers.livePcm + consumed, static_cast<size_t>(gLivePcmFill - consumed));
    gLivePcmFill -= consumed;
}
