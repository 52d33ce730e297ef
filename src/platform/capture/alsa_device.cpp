#include "platform/capture/hardware_devices.h"
#include "platform/log.h"
#include "platform/sync.h"
#include "platform/thread.h"

#include <alsa/asoundlib.h>

namespace {

constexpr int kBlocksPerSecond = 20;
constexpr unsigned kLatencyUs = 500000;
constexpr int kWaitMs = 100;

// Sound cards are asked for what the encoder takes best; the plug layer
// converts whatever the hardware has.
constexpr AudioFormat kCaptureFormat{2, 44100, 16};

// Logs what failed on the device, with ALSA's reason; returns -1 for the
// caller to pass on.
int LogFailure(const std::string& device, const char* call, int error)
{
    Log(device + ": " + call + " failed: " + snd_strerror(error));
    return -1;
}

class AlsaCaptureFilter : public CaptureFilter, public AudioStreamConfig {
public:
    explicit AlsaCaptureFilter(std::string device) : device_(std::move(device)),
        output_(AddPin(PinDirection::Output, MediaType::Audio, PinCategory::Capture))
    {
    }
    ~AlsaCaptureFilter() override { StopStreaming(); }

    AudioStreamConfig* AudioConfig() override { return this; }
    int GetFormat(AudioFormat& format) const override
    {
        format = kCaptureFormat;
        return 0;
    }

    int SetState(FilterState state, const StreamClock& clock) override
    {
        paused_ = state != FilterState::Running;
        if (state == FilterState::Stopped) {
            StopStreaming();
            return 0;
        }
        return state == FilterState::Paused || pcm_ ? 0 : StartStreaming(clock);
    }

private:
    int StartStreaming(const StreamClock& clock)
    {
        if (int error = snd_pcm_open(&pcm_, device_.c_str(), SND_PCM_STREAM_CAPTURE, 0); error < 0) {
            pcm_ = nullptr;
            return LogFailure(device_, "snd_pcm_open", error);
        }
        stopping_ = false;
        // The plug layer converts whatever the card has to this format.
        if (int error = snd_pcm_set_params(pcm_, SND_PCM_FORMAT_S16_LE, SND_PCM_ACCESS_RW_INTERLEAVED,
                                           kCaptureFormat.channels, kCaptureFormat.sampleRate, 1, kLatencyUs);
            error < 0) {
            StopStreaming();
            return LogFailure(device_, "snd_pcm_set_params (S16_LE, 2 channels, 44100 Hz)", error);
        }
        if (!thread_.Start([this, clock] { return StreamSound(clock); })) {
            StopStreaming();
            Log(device_ + ": the sound thread could not be started");
            return -1;
        }
        return 0;
    }

    void StopStreaming()
    {
        stopping_ = true;
        thread_.Wait(kInfinite);
        if (pcm_)
            snd_pcm_close(pcm_);
        pcm_ = nullptr;
    }

    int StreamSound(StreamClock clock)
    {
        const snd_pcm_uframes_t frames = kCaptureFormat.sampleRate / kBlocksPerSecond;
        std::vector<int16_t> block(frames * kCaptureFormat.channels);
        while (!stopping_) {
            // Waiting in slices lets a stop get through a silent device.
            if (snd_pcm_wait(pcm_, kWaitMs) == 0)
                continue;
            snd_pcm_sframes_t got = snd_pcm_readi(pcm_, block.data(), frames);
            // An overrun is recovered silently; what cannot be recovered
            // ends the sound.
            if (got < 0 && snd_pcm_recover(pcm_, static_cast<int>(got), 1) < 0)
                return LogFailure(device_, "snd_pcm_readi", static_cast<int>(got));
            if (got <= 0 || paused_)
                continue;
            MediaSample sample;
            sample.time = clock.Now() - static_cast<double>(got) / kCaptureFormat.sampleRate;
            sample.bytes = reinterpret_cast<const uint8_t*>(block.data());
            sample.length = static_cast<int>(got * kCaptureFormat.channels * sizeof(int16_t));
            sample.rate = kCaptureFormat.sampleRate;
            Deliver(output_, sample);
        }
        return 0;
    }

    std::string device_;
    CapturePin& output_;
    snd_pcm_t* pcm_ = nullptr;
    WorkerThread thread_;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> paused_{false};
};

class AlsaMoniker : public DeviceMoniker {
public:
    AlsaMoniker(std::string device, std::string name) : device_(std::move(device)), name_(std::move(name)) {}
    std::string FriendlyName() const override { return name_; }
    std::shared_ptr<CaptureFilter> Bind() const override { return std::make_shared<AlsaCaptureFilter>(device_); }

private:
    std::string device_;
    std::string name_;
};

void AddCardDevices(int card, std::vector<std::shared_ptr<DeviceMoniker>>& devices)
{
    snd_ctl_t* control = nullptr;
    const std::string cardName = "hw:" + std::to_string(card);
    if (int error = snd_ctl_open(&control, cardName.c_str(), 0); error < 0) {
        LogFailure(cardName, "snd_ctl_open", error);
        return;
    }
    snd_ctl_card_info_t* cardInfo;
    snd_pcm_info_t* pcmInfo;
    snd_ctl_card_info_alloca(&cardInfo);
    snd_pcm_info_alloca(&pcmInfo);
    if (int error = snd_ctl_card_info(control, cardInfo); error < 0)
        LogFailure(cardName, "snd_ctl_card_info", error);
    else {
        for (int device = -1; snd_ctl_pcm_next_device(control, &device) == 0 && device >= 0;) {
            snd_pcm_info_set_device(pcmInfo, static_cast<unsigned>(device));
            snd_pcm_info_set_subdevice(pcmInfo, 0);
            snd_pcm_info_set_stream(pcmInfo, SND_PCM_STREAM_CAPTURE);
            if (snd_ctl_pcm_info(control, pcmInfo) < 0)
                continue;
            std::string name = std::string(snd_ctl_card_info_get_name(cardInfo)) + ": " + snd_pcm_info_get_name(pcmInfo);
            std::string id = "plughw:" + std::to_string(card) + "," + std::to_string(device);
            devices.push_back(std::make_shared<AlsaMoniker>(id, name));
        }
    }
    snd_ctl_close(control);
}

} // namespace

std::vector<std::shared_ptr<DeviceMoniker>> AlsaCaptureDevices()
{
    std::vector<std::shared_ptr<DeviceMoniker>> devices;
    for (int card = -1; snd_card_next(&card) == 0 && card >= 0;)
        AddCardDevices(card, devices);
    return devices;
}
