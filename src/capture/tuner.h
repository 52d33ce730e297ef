#pragma once
// Who may use the one capture graph, for what, and on which channel. The
// live stream, a recording, motion monitoring and a tuner scan each hold the
// tuner while they run; the capture runs while anyone holds it. Here alone a
// channel's graph is built, the capture stopped once nobody needs it, and
// the remembered current channel written. Made once at start-up and passed
// by reference. Hold and Release run on the window thread; the questions
// may be asked from any thread.

#include "platform/start_result.h"

#include <array>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

struct ChannelRecord;

enum class TunerUse : uint8_t { Live, Recording, Monitoring, Scan };
constexpr int kTunerUses = 4;
// The channel of a stream whose pictures come from a file: it holds the
// one stream, but no graph.
constexpr int kNoTunerChannel = -1;

// What a use asking for the tuner meets in one that holds it.
enum class TunerMeets : uint8_t {
    Shares,   // both use the graph as it runs
    Takes,    // the holder is let go, and the graph is built for the asker
    Waits,    // the asker may ask again once the holder has let go
    Refused,  // the asker is turned away
};

struct TunerRule {
    TunerMeets sameChannel;
    TunerMeets otherChannel;
};

// The rules, by the use that asks and then the one that holds.
TunerRule TunerRuleFor(TunerUse asking, TunerUse holding);

// What asking came to: granted (shared or taken), or why not, in words for
// the log and the user.
struct TunerAnswer {
    TunerMeets meets = TunerMeets::Shares;
    std::string reason;

    bool Granted() const { return meets == TunerMeets::Shares || meets == TunerMeets::Takes; }
};

// Which uses hold the tuner now, and the channel it is on.
struct TunerActivity {
    std::array<bool, kTunerUses> held{};
    int channel = -1;

    bool Holds(TunerUse use) const { return held[static_cast<int>(use)]; }
    bool Idle() const { return !held[0] && !held[1] && !held[2] && !held[3]; }
};

class Tuner {
public:
    Tuner() = default;
    Tuner(const Tuner&) = delete;
    Tuner& operator=(const Tuner&) = delete;

    // How a holder is made to let go when another use takes the tuner: its
    // owner stops it, and releases its hold on the way.
    void OnTaken(TunerUse use, std::function<void()> letGo);

    // What asking for the tuner on channel would meet now; changes nothing.
    TunerAnswer Ask(TunerUse use, int channel) const;

    // Asks, and when granted: lets go the holders taken from, remembers the
    // channel, and unless a stream or a recording shares the graph builds
    // and tunes it for the channel, asking the device for frameRate pictures
    // a second; the capture is then stopped, for the holder to start once
    // its branch is ready. A scan holds the graph the capture options have
    // built and builds none.
    TunerAnswer Hold(TunerUse use, int channel, int frameRate);

    // The use lets go; the capture stops once nobody holds the tuner.
    void Release(TunerUse use);

    TunerActivity Activity() const;
    bool Holds(TunerUse use) const { return Activity().Holds(use); }

    // The channel the desktop's box or a channel step chose. Whoever holds
    // the tuner keeps it; the choice applies to the next start.
    void Choose(int channel);

private:
    void LetGoHoldersTakenBy(TunerUse use, int channel);
    StartResult BuildGraph(TunerUse use, int channel, int frameRate);
    void Remember(int channel);

    mutable std::mutex lock_;
    TunerActivity activity_;
    std::array<std::function<void()>, kTunerUses> letGo_;
};

// The words for a use, for messages: "A stream", "A recording"...
const char* TunerUseName(TunerUse use);

// The channel's record when it names a device to capture from.
const ChannelRecord* ChannelWithDevices(int channel);
