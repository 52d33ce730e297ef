#include "capture/auto_tune.h"

#include "config/settings.h"

#include <cstdio>

namespace {
std::atomic<int> foundCount{0};
} // namespace

int AutoTuneFoundCount()
{
    return foundCount;
}

void ClearAutoTuneFoundCount()
{
    foundCount = 0;
}

int TakeAutoTuneFoundCount()
{
    return foundCount.exchange(0);
}


TunerChannelRange AutoTuneChannelRange(const TvTuner& tuner)
{
    TunerChannelRange range;
    if (tuner.ChannelMinMax(range.minimum, range.maximum) != 0)
        range = {};
    return range;
}

void WriteFoundChannel(int baseIndex, int recordIndex, int channel)
{
    const ChannelRecord& base = gSettings.channels[baseIndex];
    ChannelRecord& record = gSettings.channels[recordIndex];
    std::snprintf(record.description, sizeof record.description, "TV Channel %d", channel);
    record.tunerChannel = channel;
    record.autoTuneWork = 0;
    // The first record found is the base record itself: these copies leave it as it is.
    record.editSelection = base.editSelection;
    record.videoCrossbarIn = base.videoCrossbarIn;
    record.videoCrossbarOut = base.videoCrossbarOut;
    record.audioCrossbarIn = base.audioCrossbarIn;
    record.audioCrossbarOut = base.audioCrossbarOut;
    record.tunerInputType = base.tunerInputType;
    record.tunerCountry = base.tunerCountry;
    record.profile = base.profile;
}

bool AutoTuneScan::RecordLeft() const
{
    const int next = baseIndex_ + foundCount;
    return baseIndex_ >= 0 && next < kChannelCount;
}

int AutoTuneScan::Run(AutoTuneObserver& observer)
{
    const TunerChannelRange range = AutoTuneChannelRange(tuner_);
    observer.RangeKnown(range);
    foundCount = 0;
    for (int channel = range.minimum; channel <= range.maximum && !cancelled_ && RecordLeft(); ++channel) {
        observer.Scanning(channel);
        bool found = false;
        if (tuner_.AutoTune(channel, found) == 0 && found) {
            observer.Found(channel);
            WriteFoundChannel(baseIndex_, baseIndex_ + foundCount, channel);
            ++foundCount;
        }
        observer.Scanned(channel);
    }
    tuner_.StoreAutoTune();
    return foundCount;
}
