#include "live_remuxer.h"

#include "platform/av_owned.h"

#include <algorithm>
#include <cstdio>

extern "C" {
#include <libavutil/opt.h>
}

namespace web {

namespace {

constexpr AVRational kVideoTimeBase{1, 90000};
constexpr int kAacFrameSamples = 1024;
constexpr int kAacBitRate = 96000;
constexpr int kSoundOnlyFragmentFrames = 8;
constexpr size_t kIoBufferSize = 64 * 1024;
// A picture's chunk is completed while the next picture is being encoded;
// a larger gap between the chunk's time and the pictures counted in it
// means pictures were dropped, and the picture clock moves up to close it.
constexpr int64_t kVideoLagToleranceMs = 300;
// Sound that trails the picture by more than this is taken as lost and
// replaced by silence, so the page's buffered range keeps growing.
constexpr double kAudioLagToleranceSeconds = 1.5;

struct FreeParser {
    void operator()(AVCodecParserContext* parser) const { av_parser_close(parser); }
};
using ParserPtr = std::unique_ptr<AVCodecParserContext, FreeParser>;

struct FreeIo {
    void operator()(AVIOContext* io) const
    {
        av_freep(&io->buffer);
        avio_context_free(&io);
    }
};
using IoPtr = std::unique_ptr<AVIOContext, FreeIo>;

std::string ffmpegError(const std::string& what, int code)
{
    return what + ": " + FfmpegError(code);
}

// The NAL units of an Annex B access unit: start code, then payload.
std::vector<std::span<const uint8_t>> nalUnits(std::span<const uint8_t> unit)
{
    std::vector<std::span<const uint8_t>> units;
    size_t start = SIZE_MAX;
    for (size_t i = 0; i + 3 <= unit.size(); ++i) {
        if (unit[i] != 0 || unit[i + 1] != 0 || unit[i + 2] != 1)
            continue;
        if (start != SIZE_MAX)
            units.push_back(unit.subspan(start, i - start - (i > 0 && unit[i - 1] == 0 ? 1 : 0)));
        start = i + 3;
        i += 2;
    }
    if (start != SIZE_MAX && start < unit.size())
        units.push_back(unit.subspan(start));
    return units;
}

int nalType(std::span<const uint8_t> nal)
{
    return nal.empty() ? -1 : nal[0] & 0x1F;
}

// The access unit without the filler (NAL type 12) that completes the
// server's chunks on a still picture: a browser has no use for it.
std::vector<uint8_t> withoutFiller(std::span<const uint8_t> unit)
{
    constexpr int kFiller = 12;
    static constexpr uint8_t kStartCode[] = {0, 0, 0, 1};
    const auto nals = nalUnits(unit);
    if (std::none_of(nals.begin(), nals.end(), [](auto nal) { return nalType(nal) == kFiller; }))
        return {unit.begin(), unit.end()};
    std::vector<uint8_t> kept;
    for (const auto nal : nals) {
        if (nalType(nal) == kFiller)
            continue;
        kept.insert(kept.end(), std::begin(kStartCode), std::end(kStartCode));
        kept.insert(kept.end(), nal.begin(), nal.end());
    }
    return kept;
}

// The codecs parameter's "avc1.PPCCLL" from a sequence parameter set NAL
// unit (header byte included).
std::string avcCodecName(std::span<const uint8_t> sps)
{
    if (sps.size() < 4)
        return "avc1.42E01E";
    char name[16];
    std::snprintf(name, sizeof name, "avc1.%02X%02X%02X", sps[1], sps[2], sps[3]);
    return name;
}

}  // namespace

struct LiveRemuxer::State {
    StreamFormat format;
    double timelineStart = 0;
    RemuxOutput output;
    std::string error;

    ParserPtr videoParser;
    CodecContextPtr videoParseContext;
    Bytes extradata;
    std::string videoCodec;
    int64_t videoFrames = 0;
    int64_t videoOffset = 0;  // in kVideoTimeBase, added by dropped pictures
    bool sawKeyFrame = false;

    ParserPtr audioParser;
    CodecContextPtr audioDecoder;
    CodecContextPtr audioEncoder;
    AudioFifoPtr fifo;
    FramePtr decoded;
    FramePtr toEncode;
    PacketPtr packet;
    int64_t samplesQueued = 0;   // real and silent, fed to the encoder's queue
    int64_t realSamples = 0;     // decoded from the server's sound
    int64_t audioPackets = 0;
    bool realAudioSeen = false;

    OutputFormatPtr muxer;
    IoPtr io;
    Bytes written;
    int videoIndex = -1;
    int audioIndex = -1;
    bool opened = false;
    double endSeconds = 0;

    bool fail(std::string text)
    {
        if (error.empty())
            error = std::move(text);
        return false;
    }

    int64_t frameTicks() const { return kVideoTimeBase.den / std::max(1, format.frameRate); }
    double videoSeconds(int64_t frame) const
    {
        return double(frame * frameTicks() + videoOffset) / kVideoTimeBase.den;
    }

    bool openVideoParser();
    bool openAudio();
    bool parseVideo(std::span<const uint8_t> bytes, uint32_t timeMs);
    bool videoFrame(std::span<const uint8_t> unit, bool key);
    bool takeParameterSets(std::span<const uint8_t> unit);
    bool parseAudio(std::span<const uint8_t> bytes);
    bool decodeAudio(const AVPacket* packet);
    bool queueSamples(const AVFrame& frame);
    bool padSilence(int64_t untilSample);
    bool encodeAudio();
    bool openMuxer();
    bool writePacket(AVPacket* packet, int index, AVRational from);
    bool flushFragment(bool key, double seconds);
    static int collect(void* opaque, uint8_t* data, int size);
};

bool LiveRemuxer::State::openVideoParser()
{
    videoParser.reset(av_parser_init(AV_CODEC_ID_H264));
    const AVCodec* decoder = avcodec_find_decoder(AV_CODEC_ID_H264);
    videoParseContext.reset(decoder ? avcodec_alloc_context3(decoder) : nullptr);
    if (!videoParser || !videoParseContext)
        return fail("the H.264 parser is missing from the FFmpeg libraries");
    return true;
}

bool LiveRemuxer::State::openAudio()
{
    audioParser.reset(av_parser_init(AV_CODEC_ID_MP3));
    const AVCodec* mp3 = avcodec_find_decoder(AV_CODEC_ID_MP3);
    const AVCodec* aac = avcodec_find_encoder(AV_CODEC_ID_AAC);
    if (!audioParser || !mp3 || !aac)
        return fail("the MP3 decoder or the AAC encoder is missing from the FFmpeg libraries");
    audioDecoder.reset(avcodec_alloc_context3(mp3));
    audioEncoder.reset(avcodec_alloc_context3(aac));
    if (!audioDecoder || !audioEncoder)
        return fail("cannot allocate the sound codecs");
    int code = avcodec_open2(audioDecoder.get(), mp3, nullptr);
    if (code < 0)
        return fail(ffmpegError("opening the MP3 decoder", code));
    AVCodecContext& encoder = *audioEncoder;
    encoder.sample_fmt = AV_SAMPLE_FMT_FLTP;
    encoder.sample_rate = format.sampleRate;
    encoder.bit_rate = kAacBitRate;
    encoder.time_base = {1, format.sampleRate};
    av_channel_layout_default(&encoder.ch_layout, format.stereo ? 2 : 1);
    encoder.flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    code = avcodec_open2(&encoder, aac, nullptr);
    if (code < 0)
        return fail(ffmpegError("opening the AAC encoder", code));
    fifo.reset(av_audio_fifo_alloc(AV_SAMPLE_FMT_FLTP, encoder.ch_layout.nb_channels, 4 * kAacFrameSamples));
    decoded.reset(av_frame_alloc());
    toEncode.reset(av_frame_alloc());
    if (!fifo || !decoded || !toEncode)
        return fail("cannot allocate the sound buffers");
    return true;
}

bool LiveRemuxer::State::parseVideo(std::span<const uint8_t> bytes, uint32_t timeMs)
{
    while (!bytes.empty()) {
        uint8_t* unit = nullptr;
        int unitSize = 0;
        const int used = av_parser_parse2(videoParser.get(), videoParseContext.get(), &unit, &unitSize,
                                          bytes.data(), int(bytes.size()), AV_NOPTS_VALUE,
                                          AV_NOPTS_VALUE, 0);
        if (used < 0)
            return fail(ffmpegError("parsing the H.264 stream", used));
        bytes = bytes.subspan(size_t(used));
        if (unitSize > 0 && !videoFrame({unit, size_t(unitSize)}, videoParser->key_frame == 1))
            return false;
    }
    const int64_t lagMs = int64_t(timeMs) - int64_t(videoSeconds(videoFrames) * 1000);
    if (videoFrames > 0 && lagMs > kVideoLagToleranceMs)
        videoOffset += (lagMs - kVideoLagToleranceMs) * kVideoTimeBase.den / 1000;
    return true;
}

bool LiveRemuxer::State::takeParameterSets(std::span<const uint8_t> unit)
{
    static constexpr uint8_t kStartCode[] = {0, 0, 0, 1};
    for (const auto nal : nalUnits(unit)) {
        const int type = nalType(nal);
        if (type != 7 && type != 8)
            continue;
        if (type == 7)
            videoCodec = avcCodecName(nal);
        extradata.insert(extradata.end(), std::begin(kStartCode), std::end(kStartCode));
        extradata.insert(extradata.end(), nal.begin(), nal.end());
    }
    if (videoCodec.empty())
        return fail("the first key frame carries no sequence parameter set");
    return true;
}

bool LiveRemuxer::State::videoFrame(std::span<const uint8_t> unit, bool key)
{
    if (!sawKeyFrame) {
        // A picture before the first key frame cannot be decoded on its own.
        if (!key)
            return true;
        sawKeyFrame = true;
        if (!takeParameterSets(unit) || !openMuxer())
            return false;
    }
    const double seconds = videoSeconds(videoFrames);
    if (audioIndex >= 0) {
        const bool lagging = samplesQueued < int64_t((seconds - kAudioLagToleranceSeconds) * format.sampleRate);
        if ((!realAudioSeen || lagging)
            && !padSilence(int64_t((seconds + 1.0 / format.frameRate) * format.sampleRate)))
            return false;
        if (!encodeAudio())
            return false;
    }
    const std::vector<uint8_t> picture = withoutFiller(unit);
    av_packet_unref(packet.get());
    int code = av_new_packet(packet.get(), int(picture.size()));
    if (code < 0)
        return fail(ffmpegError("allocating a picture packet", code));
    std::copy(picture.begin(), picture.end(), packet->data);
    packet->pts = packet->dts = videoFrames * frameTicks() + videoOffset;
    packet->duration = frameTicks();
    if (key)
        packet->flags |= AV_PKT_FLAG_KEY;
    ++videoFrames;
    return writePacket(packet.get(), videoIndex, kVideoTimeBase) && flushFragment(key, timelineStart + seconds);
}

bool LiveRemuxer::State::parseAudio(std::span<const uint8_t> bytes)
{
    while (!bytes.empty()) {
        uint8_t* frame = nullptr;
        int frameSize = 0;
        const int used = av_parser_parse2(audioParser.get(), audioDecoder.get(), &frame, &frameSize, bytes.data(),
                                          int(bytes.size()), AV_NOPTS_VALUE, AV_NOPTS_VALUE, 0);
        if (used < 0)
            return fail(ffmpegError("parsing the MP3 stream", used));
        bytes = bytes.subspan(size_t(used));
        if (frameSize == 0)
            continue;
        av_packet_unref(packet.get());
        packet->data = frame;
        packet->size = frameSize;
        if (!decodeAudio(packet.get()))
            return false;
    }
    return opened ? encodeAudio() : true;
}

bool LiveRemuxer::State::decodeAudio(const AVPacket* mp3)
{
    int code = avcodec_send_packet(audioDecoder.get(), mp3);
    // A damaged MP3 frame costs its 26 ms of sound, not the stream.
    if (code == AVERROR_INVALIDDATA)
        return true;
    if (code < 0)
        return fail(ffmpegError("decoding the MP3 stream", code));
    while ((code = avcodec_receive_frame(audioDecoder.get(), decoded.get())) >= 0) {
        const bool fits = decoded->format == AV_SAMPLE_FMT_FLTP && decoded->sample_rate == format.sampleRate
            && decoded->ch_layout.nb_channels == audioEncoder->ch_layout.nb_channels;
        if (!fits)
            return fail("the MP3 stream's sound format differs from the stream header's");
        realAudioSeen = true;
        if (!queueSamples(*decoded))
            return false;
        av_frame_unref(decoded.get());
    }
    return code == AVERROR(EAGAIN) || code == AVERROR_EOF ? true : fail(ffmpegError("decoding the MP3 stream", code));
}

// Real sound that silence has already stood in for is dropped, so that the
// sound's time stamps stay those of its samples.
bool LiveRemuxer::State::queueSamples(const AVFrame& frame)
{
    const int64_t skip = std::clamp<int64_t>(samplesQueued - realSamples, 0, frame.nb_samples);
    realSamples += frame.nb_samples;
    const int count = frame.nb_samples - int(skip);
    if (count == 0)
        return true;
    void* planes[AV_NUM_DATA_POINTERS];
    for (int channel = 0; channel < frame.ch_layout.nb_channels; ++channel)
        planes[channel] = reinterpret_cast<float*>(frame.extended_data[channel]) + skip;
    if (av_audio_fifo_write(fifo.get(), planes, count) < count)
        return fail("cannot queue decoded sound");
    samplesQueued += count;
    return true;
}

bool LiveRemuxer::State::padSilence(int64_t untilSample)
{
    static const std::vector<float> silence(kAacFrameSamples, 0.0f);
    void* planes[AV_NUM_DATA_POINTERS];
    for (int channel = 0; channel < audioEncoder->ch_layout.nb_channels; ++channel)
        planes[channel] = const_cast<float*>(silence.data());
    while (samplesQueued < untilSample) {
        const int count = int(std::min<int64_t>(kAacFrameSamples, untilSample - samplesQueued));
        if (av_audio_fifo_write(fifo.get(), planes, count) < count)
            return fail("cannot queue silence");
        samplesQueued += count;
    }
    return true;
}

bool LiveRemuxer::State::encodeAudio()
{
    AVCodecContext& encoder = *audioEncoder;
    while (av_audio_fifo_size(fifo.get()) >= kAacFrameSamples) {
        av_frame_unref(toEncode.get());
        toEncode->nb_samples = kAacFrameSamples;
        toEncode->format = encoder.sample_fmt;
        toEncode->sample_rate = encoder.sample_rate;
        av_channel_layout_copy(&toEncode->ch_layout, &encoder.ch_layout);
        int code = av_frame_get_buffer(toEncode.get(), 0);
        if (code < 0)
            return fail(ffmpegError("allocating a sound frame", code));
        av_audio_fifo_read(fifo.get(), reinterpret_cast<void**>(toEncode->data), kAacFrameSamples);
        code = avcodec_send_frame(&encoder, toEncode.get());
        if (code < 0)
            return fail(ffmpegError("encoding AAC", code));
        while ((code = avcodec_receive_packet(&encoder, packet.get())) >= 0) {
            // The encoder's own stamps lead by its priming delay; the sound
            // is placed by its sample count instead.
            packet->pts = packet->dts = audioPackets++ * kAacFrameSamples;
            packet->duration = kAacFrameSamples;
            if (!writePacket(packet.get(), audioIndex, encoder.time_base))
                return false;
        }
        if (code != AVERROR(EAGAIN))
            return fail(ffmpegError("encoding AAC", code));
    }
    // Sound alone goes out in fragments of a few frames: one each would
    // spend a fifth of the bytes on fragment headers.
    if (videoIndex < 0 && audioPackets > 0 && audioPackets % kSoundOnlyFragmentFrames == 0)
        return flushFragment(true, timelineStart + double(audioPackets * kAacFrameSamples) / format.sampleRate);
    return true;
}

int LiveRemuxer::State::collect(void* opaque, uint8_t* data, int size)
{
    auto& written = static_cast<State*>(opaque)->written;
    written.insert(written.end(), data, data + size);
    return size;
}

bool LiveRemuxer::State::openMuxer()
{
    AVFormatContext* context = nullptr;
    int code = avformat_alloc_output_context2(&context, nullptr, "mp4", nullptr);
    if (code < 0)
        return fail(ffmpegError("creating the MP4 muxer", code));
    muxer.reset(context);
    auto* buffer = static_cast<uint8_t*>(av_malloc(kIoBufferSize));
    io.reset(buffer ? avio_alloc_context(buffer, int(kIoBufferSize), 1, this, nullptr, collect, nullptr) : nullptr);
    if (!io) {
        av_free(buffer);
        return fail("cannot allocate the MP4 muxer's output");
    }
    muxer->pb = io.get();
    muxer->flags |= AVFMT_FLAG_CUSTOM_IO;
    InitSegment init;
    if (format.video) {
        AVStream* stream = avformat_new_stream(context, nullptr);
        if (!stream)
            return fail("cannot add the picture track");
        videoIndex = stream->index;
        stream->time_base = kVideoTimeBase;
        AVCodecParameters& parameters = *stream->codecpar;
        parameters.codec_type = AVMEDIA_TYPE_VIDEO;
        parameters.codec_id = AV_CODEC_ID_H264;
        parameters.width = init.width = videoParser->width;
        parameters.height = init.height = videoParser->height;
        parameters.extradata = static_cast<uint8_t*>(av_mallocz(extradata.size() + AV_INPUT_BUFFER_PADDING_SIZE));
        if (!parameters.extradata)
            return fail("cannot allocate the parameter sets");
        std::copy(extradata.begin(), extradata.end(), parameters.extradata);
        parameters.extradata_size = int(extradata.size());
        init.codecs = videoCodec;
    }
    if (format.audio) {
        AVStream* stream = avformat_new_stream(context, nullptr);
        if (!stream)
            return fail("cannot add the sound track");
        audioIndex = stream->index;
        stream->time_base = audioEncoder->time_base;
        code = avcodec_parameters_from_context(stream->codecpar, audioEncoder.get());
        if (code < 0)
            return fail(ffmpegError("describing the sound track", code));
        init.codecs += init.codecs.empty() ? "mp4a.40.2" : ",mp4a.40.2";
    }
    AVDictionary* options = nullptr;
    av_dict_set(&options, "movflags", "empty_moov+default_base_moof+frag_custom", 0);
    av_dict_set(&options, "use_editlist", "0", 0);
    code = avformat_write_header(context, &options);
    av_dict_free(&options);
    if (code < 0)
        return fail(ffmpegError("writing the initialisation segment", code));
    avio_flush(io.get());
    init.bytes = std::move(written);
    written.clear();
    opened = true;
    output.init(std::move(init));
    return true;
}

bool LiveRemuxer::State::writePacket(AVPacket* packet, int index, AVRational from)
{
    AVStream* stream = muxer->streams[index];
    const double end = double(packet->pts + packet->duration) * from.num / from.den;
    packet->stream_index = index;
    av_packet_rescale_ts(packet, from, stream->time_base);
    const int code = av_write_frame(muxer.get(), packet);
    av_packet_unref(packet);
    if (code < 0)
        return fail(ffmpegError("writing a fragment", code));
    endSeconds = std::max(endSeconds, timelineStart + end);
    return true;
}

bool LiveRemuxer::State::flushFragment(bool key, double seconds)
{
    const int code = av_write_frame(muxer.get(), nullptr);
    if (code < 0)
        return fail(ffmpegError("closing a fragment", code));
    avio_flush(io.get());
    if (written.empty())
        return true;
    output.fragment(Fragment{std::move(written), key, seconds});
    written.clear();
    return true;
}

LiveRemuxer::LiveRemuxer(const StreamFormat& format, double timelineStart, RemuxOutput output)
    : state_(std::make_unique<State>())
{
    State& state = *state_;
    state.format = format;
    state.timelineStart = timelineStart;
    state.endSeconds = timelineStart;
    state.output = std::move(output);
    state.packet.reset(av_packet_alloc());
    if (!state.packet)
        state.fail("cannot allocate a packet");
    else if (format.video)
        state.openVideoParser();
    if (state.error.empty() && format.audio && state.openAudio() && !format.video)
        state.openMuxer();
}

LiveRemuxer::~LiveRemuxer()
{
    // The muxer's context goes before the output it writes to.
    state_->muxer.reset();
}

bool LiveRemuxer::addVideo(uint32_t timeMs, std::span<const uint8_t> bytes)
{
    const uint32_t startMs = state_->format.startMs;
    return state_->error.empty() && state_->videoParser
        && state_->parseVideo(bytes, timeMs > startMs ? timeMs - startMs : 0);
}

bool LiveRemuxer::addAudio(uint32_t, std::span<const uint8_t> bytes)
{
    return state_->error.empty() && state_->audioParser && state_->parseAudio(bytes);
}

const std::string& LiveRemuxer::error() const
{
    return state_->error;
}

double LiveRemuxer::endSeconds() const
{
    return state_->endSeconds;
}

}  // namespace web
