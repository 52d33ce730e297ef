#pragma once
// Auto-tune: every channel of the TV tuner is tried, and each one on which
// the tuner finds a signal becomes a channel record, starting with the
// record whose capture options are open. The scan runs on a worker thread
// and reports through an observer; it never touches a window itself.

#include "platform/capture/capture_layer.h"

#include <atomic>

// How many records the last scan wrote. The capture options dialog clears it
// before a scan, the scan counts up, and the lineup refreshes that many rows
// from the scanned record on, taking the count.
int AutoTuneFoundCount();
void ClearAutoTuneFoundCount();
int TakeAutoTuneFoundCount();

struct TunerChannelRange {
    int minimum = 0;
    int maximum = 100;
};

// The tuner's channels; 0 to 100 when it cannot report them.
TunerChannelRange AutoTuneChannelRange(const TvTuner& tuner);

// Makes record recordIndex the found channel: its description, tuner
// channel and auto-tune work value, with the devices' routing, tuning and
// stream profile of the base record. The enabled flag, the device indices
// and names and the motion flag stay as they were.
void WriteFoundChannel(int baseIndex, int recordIndex, int channel);

// What a scan reports as it goes, on the scanning thread.
class AutoTuneObserver {
public:
    virtual ~AutoTuneObserver() = default;
    virtual void RangeKnown(TunerChannelRange) {}
    virtual void Scanning(int /*channel*/) {}
    virtual void Found(int /*channel*/) {}
    virtual void Scanned(int /*channel*/) {}
};

class AutoTuneScan {
public:
    AutoTuneScan(TvTuner& tuner, int baseIndex) : tuner_(tuner), baseIndex_(baseIndex) {}

    // From any thread: the scan ends once the channel being tuned is done.
    void Cancel() { cancelled_ = true; }
    bool Cancelled() const { return cancelled_; }

    // Scans on the calling thread, writing a record for every channel with
    // a signal until the last record is written, and has the tuner keep
    // what it found, cancelled or not. Returns the number of records written.
    int Run(AutoTuneObserver& observer);

private:
    bool RecordLeft() const;

    TvTuner& tuner_;
    const int baseIndex_;
    std::atomic<bool> cancelled_{false};
};
