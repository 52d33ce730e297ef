#include "platform/capture/channel_tables.h"
#include "platform/capture/frame_convert.h"
#include "platform/capture/hardware_devices.h"
#include "platform/log.h"
#include "platform/sync.h"
#include "platform/thread.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <linux/videodev2.h>
#include <poll.h>
#include <string>
#include <string_view>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr int kVideoNodes = 64;
constexpr int kBufferCount = 4;
constexpr int kPollMs = 100;
constexpr int kSettleMs = 150;
constexpr FrameSize kStandardSizes[] = {{320, 240}, {352, 288}, {640, 480}, {720, 480}, {720, 576}};
constexpr uint32_t kPreferredFormats[] = {V4L2_PIX_FMT_YUYV,  V4L2_PIX_FMT_UYVY,  V4L2_PIX_FMT_YUV420,
                                          V4L2_PIX_FMT_NV12,  V4L2_PIX_FMT_BGR24, V4L2_PIX_FMT_RGB24,
                                          V4L2_PIX_FMT_GREY};

int Ioctl(int fd, unsigned long request, void* argument)
{
    int result;
    do
        result = ::ioctl(fd, request, argument);
    while (result == -1 && errno == EINTR);
    return result;
}

std::string Text(const uint8_t* bytes, size_t size)
{
    return std::string(reinterpret_cast<const char*>(bytes), strnlen(reinterpret_cast<const char*>(bytes), size));
}

// An open device node shared by the filters of one device.
struct DeviceNode {
    explicit DeviceNode(std::string nodePath)
        : path(std::move(nodePath)), fd(::open(path.c_str(), O_RDWR | O_NONBLOCK)), openError(fd < 0 ? errno : 0)
    {
    }
    ~DeviceNode()
    {
        if (fd >= 0)
            ::close(fd);
    }
    DeviceNode(const DeviceNode&) = delete;
    DeviceNode& operator=(const DeviceNode&) = delete;
    std::string path;
    int fd;
    int openError;  // errno of a failed open, kept before anything else can change it
};

// Logs what failed on the device, with the system's reason (errno unless
// given); returns -1 for the caller to pass on.
int LogFailure(const std::string& path, std::string_view what, int error = errno)
{
    Log(path + ": " + std::string(what) + " failed: " + std::strerror(error));
    return -1;
}

// An ioctl whose failure is a fault, not the end of a list: logged with
// the request's name.
int Call(const DeviceNode& node, unsigned long request, void* argument, const char* requestName)
{
    return Ioctl(node.fd, request, argument) == 0 ? 0 : LogFailure(node.path, requestName);
}

uint32_t DeviceCaps(const DeviceNode& node, std::string* card)
{
    v4l2_capability capability{};
    if (Call(node, VIDIOC_QUERYCAP, &capability, "VIDIOC_QUERYCAP") != 0)
        return 0;
    if (card)
        *card = Text(capability.card, sizeof capability.card);
    return capability.capabilities & V4L2_CAP_DEVICE_CAPS ? capability.device_caps : capability.capabilities;
}

std::string SysfsDevice(const std::string& node)
{
    std::string link = "/sys/class/video4linux/" + node.substr(node.rfind('/') + 1) + "/device";
    char resolved[PATH_MAX];
    return ::realpath(link.c_str(), resolved) ? resolved : "";
}

int LowestBit(uint32_t set)
{
    return set ? __builtin_ctz(set) : -1;
}

class V4l2Crossbar : public CrossbarFilter {
public:
    V4l2Crossbar(std::shared_ptr<DeviceNode> node, std::vector<v4l2_input> inputs, bool audio)
        : node_(std::move(node)), inputs_(std::move(inputs))
    {
        for (size_t i = 0; i < inputs_.size(); ++i)
            pins_.push_back(&AddPin(PinDirection::Input, MediaType::AnalogVideo));
        if (audio)
            for (size_t i = 0; i < inputs_.size(); ++i)
                pins_.push_back(&AddPin(PinDirection::Input, MediaType::AnalogAudio));
        outputs_.push_back(&AddPin(PinDirection::Output, MediaType::AnalogVideo));
        if (audio)
            outputs_.push_back(&AddPin(PinDirection::Output, MediaType::AnalogAudio));
    }

    int InputCount() const override { return static_cast<int>(pins_.size()); }
    int OutputCount() const override { return static_cast<int>(outputs_.size()); }
    CapturePin& InputPin(int index) override { return *pins_.at(index); }
    CapturePin& OutputPin(int index) override { return *outputs_.at(index); }

    int PinInfo(bool input, int index, int& related, int& physicalType) const override
    {
        const int count = VideoCount();
        const bool audio = OutputCount() == 2;
        if (!input) {
            if (index < 0 || index >= OutputCount())
                return -1;
            related = audio ? 1 - index : -1;
            physicalType = index == 0 ? kPhysVideoDecoder : kPhysAudioDecoder;
            return 0;
        }
        if (index < 0 || index >= InputCount())
            return -1;
        const v4l2_input& source = inputs_[index % count];
        int video = V4l2InputPhysicalType(source.type, Text(source.name, sizeof source.name));
        related = !audio ? -1 : index < count ? index + count : index - count;
        physicalType = index < count ? video : video == kPhysVideoTuner ? kPhysAudioTuner : kPhysAudioLine;
        return 0;
    }

    int CanRoute(int output, int input) const override
    {
        const int count = VideoCount();
        if (output == 0 && input >= 0 && input < count)
            return 0;
        bool audio = output == 1 && OutputCount() == 2 && input >= count && input < InputCount();
        return audio && inputs_[input - count].audioset ? 0 : -1;
    }

    int Route(int output, int input) override
    {
        if (CanRoute(output, input) != 0)
            return -1;
        if (output == 0) {
            int index = static_cast<int>(inputs_[input].index);
            return Call(*node_, VIDIOC_S_INPUT, &index, "VIDIOC_S_INPUT");
        }
        v4l2_audio audio{};
        audio.index = static_cast<uint32_t>(LowestBit(inputs_[input - VideoCount()].audioset));
        return Call(*node_, VIDIOC_S_AUDIO, &audio, "VIDIOC_S_AUDIO");
    }

    int RoutedInput(int output) const override
    {
        if (output == 0) {
            int index = -1;
            if (Call(*node_, VIDIOC_G_INPUT, &index, "VIDIOC_G_INPUT") != 0)
                return -1;
            for (int i = 0; i < VideoCount(); ++i)
                if (static_cast<int>(inputs_[i].index) == index)
                    return i;
            return -1;
        }
        v4l2_audio audio{};
        if (output != 1 || OutputCount() != 2 || Call(*node_, VIDIOC_G_AUDIO, &audio, "VIDIOC_G_AUDIO") != 0)
            return -1;
        for (int i = 0; i < VideoCount(); ++i)
            if (inputs_[i].audioset & (1u << audio.index))
                return VideoCount() + i;
        return -1;
    }

private:
    int VideoCount() const { return static_cast<int>(inputs_.size()); }

    std::shared_ptr<DeviceNode> node_;
    std::vector<v4l2_input> inputs_;
    std::vector<CapturePin*> pins_;
    std::vector<CapturePin*> outputs_;
};

class V4l2Tuner : public TvTuner {
public:
    V4l2Tuner(std::shared_ptr<DeviceNode> node, uint32_t index, bool lowUnits)
        : node_(std::move(node)), index_(index), lowUnits_(lowUnits)
    {
    }

    int ChannelMinMax(int& minimum, int& maximum) const override
    {
        return PlanChannelRange(PlanFor(country_, inputType_), minimum, maximum);
    }
    int SetInputType(int input, int type) override
    {
        if (input != 0 || (type != 0 && type != 1))
            return -1;
        inputType_ = type;
        return 0;
    }
    int SetCountryCode(int country) override
    {
        if (PlanFor(country, inputType_) == ChannelPlan::None)
            return -1;
        country_ = country;
        return 0;
    }
    int SetChannel(int channel, int, int) override
    {
        int khz = ChannelFrequencyKhz(PlanFor(country_, inputType_), channel);
        if (khz < 0)
            return -1;
        v4l2_frequency frequency{};
        frequency.tuner = index_;
        frequency.type = V4L2_TUNER_ANALOG_TV;
        frequency.frequency = TunerUnitsOfKhz(khz, lowUnits_);
        if (Call(*node_, VIDIOC_S_FREQUENCY, &frequency, "VIDIOC_S_FREQUENCY") != 0)
            return -1;
        channel_ = channel;
        return 0;
    }
    int Channel() const override { return channel_; }
    int AutoTune(int channel, bool& found) override
    {
        found = false;
        if (SetChannel(channel, -2, -2) != 0)
            return -1;
        // The tuner's PLL needs a moment before it reports the signal.
        std::this_thread::sleep_for(std::chrono::milliseconds(kSettleMs));
        v4l2_tuner tuner{};
        tuner.index = index_;
        if (Call(*node_, VIDIOC_G_TUNER, &tuner, "VIDIOC_G_TUNER") != 0)
            return -1;
        found = tuner.signal > 0;
        return 0;
    }
    // Channels are tuned from the plan's table, so nothing found needs keeping.
    int StoreAutoTune() override { return 0; }

private:
    std::shared_ptr<DeviceNode> node_;
    uint32_t index_;
    bool lowUnits_;
    std::atomic<int> channel_{-1};
    std::atomic<int> inputType_{1};
    std::atomic<int> country_{1};
};

class V4l2CaptureFilter : public CaptureFilter, public VideoStreamConfig {
public:
    V4l2CaptureFilter(std::shared_ptr<DeviceNode> node, const std::string& path);
    ~V4l2CaptureFilter() override { StopStreaming(); }

    int SetState(FilterState state, const StreamClock& clock) override;
    TvTuner* Tuner() override { return tuner_.get(); }
    VideoStreamConfig* VideoConfig() override { return this; }

    int CapabilityCount() const override { return static_cast<int>(sizes_.size()); }
    int Capability(int index, FrameSize& size) const override;
    int GetFormat(VideoFormat& format) const override;
    int SetFormat(const VideoFormat& format) override;
    std::vector<std::string> Details() const override;

private:
    void ChooseFormat();
    void ListSizes();
    void AddInputs();
    void OpenCaptionNode(const std::string& path);
    int StartStreaming(const StreamClock& clock);
    int MapBuffers(uint32_t count);
    int StartThreads(const StreamClock& clock);
    void StopStreaming();
    void ReleaseBuffers();
    int StreamPictures(StreamClock clock);
    int StreamCaptions(StreamClock clock);

    std::shared_ptr<DeviceNode> node_;
    std::shared_ptr<DeviceNode> captionNode_;
    std::shared_ptr<V4l2Crossbar> crossbar_;
    std::unique_ptr<V4l2Tuner> tuner_;
    CapturePin* videoOut_ = nullptr;
    CapturePin* captionOut_ = nullptr;
    uint32_t fourcc_ = 0;
    std::vector<FrameSize> sizes_;
    v4l2_pix_format current_{};
    std::vector<std::pair<void*, size_t>> buffers_;
    std::vector<uint8_t> frame_;
    FrameConverter converter_;
    WorkerThread pictureThread_;
    WorkerThread captionThread_;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> paused_{false};
    bool streaming_ = false;
};

V4l2CaptureFilter::V4l2CaptureFilter(std::shared_ptr<DeviceNode> node, const std::string& path)
    : node_(std::move(node))
{
    ChooseFormat();
    ListSizes();
    AddInputs();
    videoOut_ = &AddPin(PinDirection::Output, MediaType::Video, PinCategory::Capture);
    OpenCaptionNode(path);
}

void V4l2CaptureFilter::ChooseFormat()
{
    std::vector<uint32_t> offered;
    v4l2_fmtdesc description{};
    description.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    for (; Ioctl(node_->fd, VIDIOC_ENUM_FMT, &description) == 0; ++description.index)
        offered.push_back(description.pixelformat);
    for (uint32_t fourcc : kPreferredFormats)
        if (std::find(offered.begin(), offered.end(), fourcc) != offered.end()) {
            fourcc_ = fourcc;
            return;
        }
}

std::vector<std::string> V4l2CaptureFilter::Details() const
{
    std::vector<std::string> details = {"node: " + node_->path};
    std::string formats;
    v4l2_fmtdesc description{};
    description.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    for (; Ioctl(node_->fd, VIDIOC_ENUM_FMT, &description) == 0; ++description.index)
        formats += (formats.empty() ? "" : ", ") + Text(description.description, sizeof description.description) +
                   (description.pixelformat == fourcc_ ? " (used)" : "");
    details.push_back("formats: " + (formats.empty() ? std::string("none listed") : formats));
    std::string standards;
    v4l2_standard standard{};
    for (; Ioctl(node_->fd, VIDIOC_ENUMSTD, &standard) == 0; ++standard.index)
        standards += (standards.empty() ? "" : ", ") + Text(standard.name, sizeof standard.name);
    if (!standards.empty())
        details.push_back("standards: " + standards);
    return details;
}

void V4l2CaptureFilter::ListSizes()
{
    v4l2_frmsizeenum size{};
    size.pixel_format = fourcc_;
    for (; Ioctl(node_->fd, VIDIOC_ENUM_FRAMESIZES, &size) == 0; ++size.index) {
        if (size.type == V4L2_FRMSIZE_TYPE_DISCRETE) {
            sizes_.push_back({static_cast<int>(size.discrete.width), static_cast<int>(size.discrete.height)});
            continue;
        }
        for (FrameSize standard : kStandardSizes)
            if (standard.width >= static_cast<int>(size.stepwise.min_width) &&
                standard.width <= static_cast<int>(size.stepwise.max_width) &&
                standard.height >= static_cast<int>(size.stepwise.min_height) &&
                standard.height <= static_cast<int>(size.stepwise.max_height))
                sizes_.push_back(standard);
        break;
    }
    // Drivers of analog cards rarely list sizes; they scale to what is asked.
    if (sizes_.empty() && fourcc_)
        sizes_.assign(std::begin(kStandardSizes), std::end(kStandardSizes));
}

void V4l2CaptureFilter::AddInputs()
{
    std::vector<v4l2_input> inputs;
    v4l2_input input{};
    for (; Ioctl(node_->fd, VIDIOC_ENUMINPUT, &input) == 0; input.index = input.index + 1)
        inputs.push_back(input);
    v4l2_audio audio{};
    const bool hasAudio = Ioctl(node_->fd, VIDIOC_ENUMAUDIO, &audio) == 0;
    auto tunerInput = std::find_if(inputs.begin(), inputs.end(),
                                   [](const v4l2_input& each) { return each.type == V4L2_INPUT_TYPE_TUNER; });
    if (tunerInput != inputs.end()) {
        v4l2_tuner tuner{};
        tuner.index = tunerInput->tuner;
        if (Call(*node_, VIDIOC_G_TUNER, &tuner, "VIDIOC_G_TUNER") == 0)
            tuner_ = std::make_unique<V4l2Tuner>(node_, tuner.index, tuner.capability & V4L2_TUNER_CAP_LOW);
    }
    // A single camera input has nothing to switch: no crossbar, as on a webcam.
    if (inputs.size() < 2 && tunerInput == inputs.end())
        return;
    CapturePin& analogIn = AddPin(PinDirection::Input, MediaType::AnalogVideo, PinCategory::AnalogVideoIn);
    crossbar_ = std::make_shared<V4l2Crossbar>(node_, std::move(inputs), hasAudio);
    ConnectPins(crossbar_->OutputPin(0), analogIn);
}

void V4l2CaptureFilter::OpenCaptionNode(const std::string& path)
{
    const std::string device = SysfsDevice(path);
    for (int n = 0; n < kVideoNodes && !device.empty(); ++n) {
        std::string vbi = "/dev/vbi" + std::to_string(n);
        if (SysfsDevice(vbi) != device)
            continue;
        auto node = std::make_shared<DeviceNode>(vbi);
        if (node->fd < 0) {
            LogFailure(vbi, "opening the caption node", node->openError);
            return;
        }
        v4l2_format format{};
        format.type = V4L2_BUF_TYPE_SLICED_VBI_CAPTURE;
        format.fmt.sliced.service_set = V4L2_SLICED_CAPTION_525;
        if ((DeviceCaps(*node, nullptr) & V4L2_CAP_SLICED_VBI_CAPTURE) &&
            Call(*node, VIDIOC_S_FMT, &format, "VIDIOC_S_FMT (sliced captions)") == 0 &&
            (format.fmt.sliced.service_set & V4L2_SLICED_CAPTION_525)) {
            captionNode_ = std::move(node);
            captionOut_ = &AddPin(PinDirection::Output, MediaType::Line21, PinCategory::Vbi);
        }
        return;
    }
}

int V4l2CaptureFilter::Capability(int index, FrameSize& size) const
{
    if (index < 0 || index >= CapabilityCount())
        return -1;
    size = sizes_[index];
    return 0;
}

int V4l2CaptureFilter::GetFormat(VideoFormat& format) const
{
    v4l2_format current{};
    current.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (Call(*node_, VIDIOC_G_FMT, &current, "VIDIOC_G_FMT") != 0)
        return -1;
    format.width = static_cast<int>(current.fmt.pix.width);
    format.height = static_cast<int>(current.fmt.pix.height);
    v4l2_streamparm parameters{};
    parameters.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    const v4l2_fract& perFrame = parameters.parm.capture.timeperframe;
    bool known = Ioctl(node_->fd, VIDIOC_G_PARM, &parameters) == 0 && perFrame.denominator > 0;
    format.frameInterval = known ? int64_t{perFrame.numerator} * kUnitsPerSecond / perFrame.denominator : 0;
    return 0;
}

int V4l2CaptureFilter::SetFormat(const VideoFormat& format)
{
    v4l2_format wanted{};
    wanted.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    wanted.fmt.pix.width = static_cast<uint32_t>(format.width);
    wanted.fmt.pix.height = static_cast<uint32_t>(format.height);
    wanted.fmt.pix.pixelformat = fourcc_;
    wanted.fmt.pix.field = V4L2_FIELD_INTERLACED;
    if (streaming_) {
        Log(node_->path + ": the picture format cannot change while the device streams");
        return -1;
    }
    if (!fourcc_) {
        Log(node_->path + ": offers no picture format this program converts");
        return -1;
    }
    if (Call(*node_, VIDIOC_S_FMT, &wanted, "VIDIOC_S_FMT") != 0)
        return -1;
    if (wanted.fmt.pix.pixelformat != fourcc_) {
        Log(node_->path + ": VIDIOC_S_FMT gave another pixel format than the one asked for");
        return -1;
    }
    v4l2_streamparm parameters{};
    parameters.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    parameters.parm.capture.timeperframe = {static_cast<uint32_t>(format.frameInterval),
                                            static_cast<uint32_t>(kUnitsPerSecond)};
    // Many analog drivers have a fixed rate: the picture still comes.
    if (format.frameInterval > 0)
        Call(*node_, VIDIOC_S_PARM, &parameters, "VIDIOC_S_PARM (frame rate)");
    return 0;
}

int V4l2CaptureFilter::SetState(FilterState state, const StreamClock& clock)
{
    paused_ = state != FilterState::Running;
    if (state == FilterState::Stopped) {
        StopStreaming();
        return 0;
    }
    return state == FilterState::Paused || streaming_ ? 0 : StartStreaming(clock);
}

int V4l2CaptureFilter::StartStreaming(const StreamClock& clock)
{
    v4l2_format format{};
    format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    v4l2_requestbuffers request{};
    request.count = kBufferCount;
    request.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    request.memory = V4L2_MEMORY_MMAP;
    if (Call(*node_, VIDIOC_G_FMT, &format, "VIDIOC_G_FMT") != 0 ||
        Call(*node_, VIDIOC_REQBUFS, &request, "VIDIOC_REQBUFS") != 0)
        return -1;
    current_ = format.fmt.pix;
    stopping_ = false;
    streaming_ = true;
    int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    frame_.assign(static_cast<size_t>(current_.width) * current_.height * 3 + kSamplePadding, 0);
    if (MapBuffers(request.count) != 0 || Call(*node_, VIDIOC_STREAMON, &type, "VIDIOC_STREAMON") != 0 ||
        StartThreads(clock) != 0) {
        StopStreaming();
        return -1;
    }
    return 0;
}

int V4l2CaptureFilter::MapBuffers(uint32_t count)
{
    for (uint32_t i = 0; i < count; ++i) {
        v4l2_buffer buffer{};
        buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        buffer.memory = V4L2_MEMORY_MMAP;
        buffer.index = i;
        if (Call(*node_, VIDIOC_QUERYBUF, &buffer, "VIDIOC_QUERYBUF") != 0)
            return -1;
        void* start = ::mmap(nullptr, buffer.length, PROT_READ | PROT_WRITE, MAP_SHARED, node_->fd, buffer.m.offset);
        if (start == MAP_FAILED)
            return LogFailure(node_->path, "mmap of a capture buffer");
        buffers_.emplace_back(start, buffer.length);
        if (Call(*node_, VIDIOC_QBUF, &buffer, "VIDIOC_QBUF") != 0)
            return -1;
    }
    return 0;
}

int V4l2CaptureFilter::StartThreads(const StreamClock& clock)
{
    if (!pictureThread_.Start([this, clock] { return StreamPictures(clock); }))
        return LogFailure(node_->path, "starting the picture thread");
    if (captionOut_ && captionOut_->connected && !captionThread_.Start([this, clock] { return StreamCaptions(clock); }))
        return LogFailure(captionNode_->path, "starting the caption thread");
    return 0;
}

void V4l2CaptureFilter::StopStreaming()
{
    if (!streaming_)
        return;
    stopping_ = true;
    pictureThread_.Wait(kInfinite);
    captionThread_.Wait(kInfinite);
    int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    Ioctl(node_->fd, VIDIOC_STREAMOFF, &type);
    ReleaseBuffers();
    streaming_ = false;
}

void V4l2CaptureFilter::ReleaseBuffers()
{
    for (auto [start, length] : buffers_)
        ::munmap(start, length);
    buffers_.clear();
    v4l2_requestbuffers none{};
    none.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    none.memory = V4L2_MEMORY_MMAP;
    Ioctl(node_->fd, VIDIOC_REQBUFS, &none);
}

int V4l2CaptureFilter::StreamPictures(StreamClock clock)
{
    pollfd ready{node_->fd, POLLIN, 0};
    int lastError = 0;
    while (!stopping_) {
        if (::poll(&ready, 1, kPollMs) <= 0)
            continue;
        v4l2_buffer buffer{};
        buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        buffer.memory = V4L2_MEMORY_MMAP;
        if (Ioctl(node_->fd, VIDIOC_DQBUF, &buffer) != 0) {
            // A device that is gone stays gone; any other failure is said
            // once, not for every picture it repeats on.
            if (errno == ENODEV)
                return LogFailure(node_->path, "VIDIOC_DQBUF (the device went away)");
            if (errno != EAGAIN && errno != lastError) {
                lastError = errno;
                LogFailure(node_->path, "VIDIOC_DQBUF");
            }
            continue;
        }
        const auto* picture = static_cast<const uint8_t*>(buffers_[buffer.index].first);
        const int width = static_cast<int>(current_.width);
        const int height = static_cast<int>(current_.height);
        if (!paused_ && videoOut_->connected &&
            converter_.Convert(fourcc_, width, height, static_cast<int>(current_.bytesperline), picture,
                               buffer.bytesused, frame_.data()) == 0) {
            MediaSample sample;
            sample.time = clock.Now();
            sample.bytes = frame_.data();
            sample.length = static_cast<int>(frame_.size()) - kSamplePadding;
            sample.width = width;
            sample.height = height;
            Deliver(*videoOut_, sample);
        }
        Ioctl(node_->fd, VIDIOC_QBUF, &buffer);
    }
    return 0;
}

int V4l2CaptureFilter::StreamCaptions(StreamClock clock)
{
    v4l2_sliced_vbi_data lines[16];
    pollfd ready{captionNode_->fd, POLLIN, 0};
    while (!stopping_) {
        if (::poll(&ready, 1, kPollMs) <= 0)
            continue;
        ssize_t got = ::read(captionNode_->fd, lines, sizeof lines);
        if (got < 0 && errno == ENODEV)
            return LogFailure(captionNode_->path, "reading captions (the device went away)");
        for (ssize_t i = 0; !paused_ && i < got / static_cast<ssize_t>(sizeof lines[0]); ++i) {
            if (!(lines[i].id & V4L2_SLICED_CAPTION_525) || lines[i].field != 0)
                continue;
            MediaSample sample;
            sample.time = clock.Now();
            sample.bytes = lines[i].data;
            sample.length = 2;
            Deliver(*captionOut_, sample);
        }
    }
    return 0;
}

class V4l2Moniker : public DeviceMoniker {
public:
    V4l2Moniker(std::string path, std::string card) : path_(std::move(path)), card_(std::move(card)) {}
    std::string FriendlyName() const override { return card_; }
    std::shared_ptr<CaptureFilter> Bind() const override
    {
        auto node = std::make_shared<DeviceNode>(path_);
        if (node->fd < 0) {
            LogFailure(path_, "opening the capture device", node->openError);
            return nullptr;
        }
        return std::make_shared<V4l2CaptureFilter>(node, path_);
    }

private:
    std::string path_;
    std::string card_;
};

bool Contains(const std::string& text, const char* word)
{
    return std::search(text.begin(), text.end(), word, word + std::strlen(word),
                       [](char a, char b) { return std::tolower(a) == std::tolower(b); }) != text.end();
}

} // namespace

int V4l2InputPhysicalType(uint32_t inputType, const std::string& name)
{
    if (inputType == V4L2_INPUT_TYPE_TUNER || Contains(name, "tuner") || Contains(name, "television"))
        return kPhysVideoTuner;
    if (Contains(name, "s-video") || Contains(name, "svideo") || Contains(name, "s video") || Contains(name, "y/c"))
        return kPhysVideoSVideo;
    if (Contains(name, "component") || Contains(name, "ypbpr"))
        return kPhysVideoYRYBY;
    if (Contains(name, "hdmi") || Contains(name, "sdi") || Contains(name, "dvi"))
        return kPhysVideoSerialDigital;
    if (Contains(name, "composite") || Contains(name, "cvbs") || Contains(name, "camera") || Contains(name, "video"))
        return kPhysVideoComposite;
    return kPhysVideoAux;
}

uint32_t TunerUnitsOfKhz(int khz, bool lowUnits)
{
    return lowUnits ? static_cast<uint32_t>(khz) * 16 : static_cast<uint32_t>(khz * 16 / 1000);
}

std::vector<std::shared_ptr<DeviceMoniker>> V4l2Devices()
{
    std::vector<std::shared_ptr<DeviceMoniker>> devices;
    for (int n = 0; n < kVideoNodes; ++n) {
        std::string path = "/dev/video" + std::to_string(n);
        DeviceNode node(path);
        std::string card;
        if (node.fd < 0) {
            // A node that exists but cannot be opened is a device the user
            // would miss: most often the video group's permission.
            if (node.openError != ENOENT)
                LogFailure(path, "opening", node.openError);
            continue;
        }
        uint32_t caps = DeviceCaps(node, &card);
        if ((caps & V4L2_CAP_VIDEO_CAPTURE) && (caps & V4L2_CAP_STREAMING) && !card.empty())
            devices.push_back(std::make_shared<V4l2Moniker>(path, card));
    }
    return devices;
}
