#include "capture/tuner.h"

#include "capture/capture_graph.h"
#include "capture/crossbar_router.h"
#include "config/settings.h"
#include "platform/messages.h"

#include <cctype>
#include <utility>

namespace {

using M = TunerMeets;

// What the use of each row meets in the use of each column that holds the
// tuner: {on the same channel, on another channel}. The handheld's live
// stream comes first: it ends a recording or monitoring, and a due
// schedule of another channel waits for it. Nothing disturbs a scan.
constexpr TunerRule kRules[kTunerUses][kTunerUses] = {
    //               held by: Live                   Recording                Monitoring           Scan
    /* Live */       {{M::Refused, M::Refused}, {M::Takes, M::Takes},     {M::Takes, M::Takes}, {M::Refused, M::Refused}},
    /* Recording */  {{M::Shares, M::Waits},    {M::Refused, M::Refused}, {M::Shares, M::Takes}, {M::Refused, M::Refused}},
    /* Monitoring */ {{M::Shares, M::Refused},  {M::Shares, M::Refused},  {M::Shares, M::Takes}, {M::Refused, M::Refused}},
    /* Scan */       {{M::Refused, M::Refused}, {M::Refused, M::Refused}, {M::Takes, M::Takes}, {M::Refused, M::Refused}},
};

// Of what several holders answer, the one that decides.
int Severity(TunerMeets meets)
{
    switch (meets) {
    case M::Shares: return 0;
    case M::Takes: return 1;
    case M::Waits: return 2;
    case M::Refused: return 3;
    }
    return 3;
}

std::string OfChannel(int channel)
{
    return " of channel " + std::to_string(channel);
}

std::string Lowered(const char* name)
{
    std::string text = name;
    text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
    return text;
}

std::string Refusal(TunerUse asking, int channel, TunerUse holding, int heldChannel, TunerMeets meets)
{
    const std::string asker = TunerUseName(asking);
    if (holding == TunerUse::Scan)
        return asker + " was refused: the tuner is being scanned.";
    if (holding == asking)
        return asker + " runs already.";
    const std::string holder = Lowered(TunerUseName(holding)) + OfChannel(heldChannel) + " holds the tuner.";
    return asker + OfChannel(channel) + (meets == M::Waits ? " waits: " : " was refused: ") + holder;
}

} // namespace

const ChannelRecord* ChannelWithDevices(int channel)
{
    if (channel < 0 || channel >= kChannelCount)
        return nullptr;
    const ChannelRecord& record = gSettings.channels[channel];
    return record.videoDevice == kNoDevice && record.audioDevice == kNoDevice ? nullptr : &record;
}

TunerRule TunerRuleFor(TunerUse asking, TunerUse holding)
{
    return kRules[static_cast<int>(asking)][static_cast<int>(holding)];
}

const char* TunerUseName(TunerUse use)
{
    switch (use) {
    case TunerUse::Live: return "A stream";
    case TunerUse::Recording: return "A recording";
    case TunerUse::Monitoring: return "Monitoring";
    case TunerUse::Scan: return "A tuner scan";
    }
    return "A use";
}

void Tuner::OnTaken(TunerUse use, std::function<void()> letGo)
{
    std::lock_guard hold(lock_);
    letGo_[static_cast<int>(use)] = std::move(letGo);
}

TunerAnswer Tuner::Ask(TunerUse use, int channel) const
{
    const TunerActivity now = Activity();
    TunerAnswer answer;
    for (int held = 0; held < kTunerUses; ++held) {
        if (!now.held[held])
            continue;
        const TunerRule rule = TunerRuleFor(use, static_cast<TunerUse>(held));
        const TunerMeets meets = channel == now.channel ? rule.sameChannel : rule.otherChannel;
        if (Severity(meets) <= Severity(answer.meets))
            continue;
        answer.meets = meets;
        if (!answer.Granted())
            answer.reason = Refusal(use, channel, static_cast<TunerUse>(held), now.channel, meets);
    }
    return answer;
}

TunerAnswer Tuner::Hold(TunerUse use, int channel, int frameRate)
{
    TunerAnswer answer = Ask(use, channel);
    if (!answer.Granted())
        return answer;
    if (answer.meets == M::Takes)
        LetGoHoldersTakenBy(use, channel);
    // Encoders hang on the graph of a stream or a recording: it is shared as
    // it runs, and monitoring only watches whatever runs. A graph held for
    // monitoring alone is rebuilt at the rate of a recording that joins it.
    const TunerActivity now = Activity();
    const bool encodersOnGraph = now.Holds(TunerUse::Live) || now.Holds(TunerUse::Recording);
    const bool watchesOnly = use == TunerUse::Monitoring && !now.Idle();
    if (!encodersOnGraph && !watchesOnly) {
        if (const StartResult built = BuildGraph(use, channel, frameRate); !built.Succeeded())
            return {M::Refused, built.Reason()};
    }
    {
        std::lock_guard hold(lock_);
        activity_.held[static_cast<int>(use)] = true;
        activity_.channel = channel;
    }
    Remember(channel);
    return answer;
}

void Tuner::Release(TunerUse use)
{
    bool idle = false;
    {
        std::lock_guard hold(lock_);
        activity_.held[static_cast<int>(use)] = false;
        idle = activity_.Idle();
        if (idle)
            activity_.channel = -1;
    }
    // A scan runs on the capture options' own graph, which they stop.
    if (idle && use != TunerUse::Scan)
        StopCapture();
}

void Tuner::LetGoHoldersTakenBy(TunerUse use, int channel)
{
    const TunerActivity before = Activity();
    for (int held = 0; held < kTunerUses; ++held) {
        const TunerRule rule = TunerRuleFor(use, static_cast<TunerUse>(held));
        if (!before.held[held] || (channel == before.channel ? rule.sameChannel : rule.otherChannel) != M::Takes)
            continue;
        std::function<void()> letGo;
        {
            std::lock_guard hold(lock_);
            letGo = letGo_[held];
        }
        // The holder's owner stops it and lets go on the way; the release
        // here covers an owner that has no stop to make.
        if (letGo)
            letGo();
        Release(static_cast<TunerUse>(held));
    }
}

TunerActivity Tuner::Activity() const
{
    std::lock_guard hold(lock_);
    return activity_;
}

void Tuner::Choose(int channel)
{
    Remember(channel);
}

StartResult Tuner::BuildGraph(TunerUse use, int channel, int frameRate)
{
    if (use == TunerUse::Scan || channel == kNoTunerChannel)
        return StartResult::Started();
    const ChannelRecord* record = ChannelWithDevices(channel);
    if (!record)
        return StartResult::Failed("Channel " + std::to_string(channel) + " has no capture device.");
    if (SelectCaptureDevicesByIndex(record->videoDevice, record->audioDevice, frameRate) != 0)
        return StartResult::Failed("The capture graph for channel " + std::to_string(channel) +
                                   " could not be built.");
    RouteAndTune(*record);
    return StartResult::Started();
}

void Tuner::Remember(int channel)
{
    if (channel == kNoTunerChannel || gSettings.record.currentChannel == channel)
        return;
    gSettings.record.currentChannel = channel;
    PostAppMessage(MessageTarget::Frame, kMsgChannelChanged);
}
