#include "platform/capture/capture_layer.h"
#include "platform/capture/virtual_devices.h"

#include <mutex>

namespace {

std::atomic<int> grabbersAllowed{-1};

std::mutex previewLock;
PreviewPicture preview;
const VideoRenderer* previewSource = nullptr;

} // namespace

SampleGrabber::SampleGrabber()
    : input_(AddPin(PinDirection::Input, MediaType::Video)), output_(AddPin(PinDirection::Output, MediaType::Video))
{
}

int SampleGrabber::SetMediaType(MediaType media)
{
    if (input_.connected || output_.connected)
        return -1;
    input_.media = output_.media = media;
    return 0;
}

void SampleGrabber::Receive(const CapturePin&, const MediaSample& sample)
{
    if (GrabberCallback* callback = callback_)
        callback->BufferCB(sample.time, sample.bytes, sample.length);
    Deliver(output_, sample);
}

std::shared_ptr<SampleGrabber> CreateSampleGrabber()
{
    int allowed = grabbersAllowed;
    while (allowed > 0 && !grabbersAllowed.compare_exchange_weak(allowed, allowed - 1)) {
    }
    if (allowed == 0)
        return nullptr;
    return std::make_shared<SampleGrabber>();
}

void LimitSampleGrabbers(int count)
{
    grabbersAllowed = count;
}

VideoRenderer::VideoRenderer()
{
    AddPin(PinDirection::Input, MediaType::Video);
}

VideoRenderer::~VideoRenderer()
{
    Withdraw();
}

void VideoRenderer::SetOwned(bool owned)
{
    owned_ = owned;
    if (!owned)
        Withdraw();
}

void VideoRenderer::SetVisible(bool visible)
{
    visible_ = visible;
    if (!visible)
        Withdraw();
}

// Takes this renderer's picture off the preview.
void VideoRenderer::Withdraw()
{
    std::lock_guard hold(previewLock);
    if (previewSource != this)
        return;
    previewSource = nullptr;
    preview.shown = false;
    ++preview.serial;
}

void VideoRenderer::Receive(const CapturePin&, const MediaSample& sample)
{
    if (!owned_ || !visible_ || sample.width <= 0 || sample.height <= 0)
        return;
    std::lock_guard hold(previewLock);
    previewSource = this;
    preview.shown = true;
    preview.width = sample.width;
    preview.height = sample.height;
    preview.pixels.assign(sample.bytes, sample.bytes + sample.length);
    ++preview.serial;
}

bool TakePreviewPicture(PreviewPicture& picture, uint64_t knownSerial)
{
    std::lock_guard hold(previewLock);
    if (preview.serial == knownSerial)
        return false;
    picture = preview;
    return true;
}

AudioRenderer::AudioRenderer()
{
    AddPin(PinDirection::Input, MediaType::Audio);
}

int AudioRenderer::SetVolume(long volume)
{
    if (volume < kVolumeSilent || volume > kVolumeFull)
        return -1;
    volume_ = volume;
    return 0;
}
