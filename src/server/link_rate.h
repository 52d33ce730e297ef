#pragma once
// Keeps a live stream near live on a link slower than the stream. The
// sender reports what it handed to the connection and what still waits;
// from that this estimates how fast the link drains and decides:
// - how much the connection may hold, so that a backlog stays in the
//   rings, where it can be measured and cut, not in a socket buffer;
// - the video bit rate the live encoder should make: lowered towards what
//   the link carries, never below a quarter of the request, and raised
//   again in steps while the link keeps up;
// - at that floor, whether every other picture repeats the one before: a
//   repeated picture costs an encoder next to nothing, where some codecs
//   cannot make a moving picture any cheaper;
// - when the backlog has grown past what lowering the rate can absorb, a
//   catch-up cut.
// Plain arithmetic on the samples it is given, so that it can be tested.

#include <cstdint>
#include <deque>

struct LinkSample {
    double seconds = 0;     // a steady clock
    uint64_t written = 0;   // bytes handed to the connection since the start
    int64_t queued = 0;     // of them, still in the connection's queue
    int64_t waiting = 0;    // bytes of complete chunks not yet handed over
    bool heldBack = false;  // the connection took less than it was offered
};

struct LinkDecision {
    int videoBitRate = 0;   // the rate to change to; 0 to keep it
    int pictureShare = 0;   // 1: every picture, 2: every other; 0 to keep it
    bool catchUp = false;   // cut the backlog
};

class LinkRateControl {
public:
    LinkRateControl(int requestedVideoBitRate, int audioBitRate, double startSeconds);

    LinkDecision Update(const LinkSample& sample);

    // What the connection may hold before the sender waits.
    int64_t QueueLimit() const;
    double DrainBytesPerSecond() const { return drainRate_; }
    double BacklogSeconds() const { return backlogSeconds_; }
    // The connection held data back when the control last looked: the link,
    // not the stream, set the pace.
    bool LinkLimited() const { return linkLimited_; }
    int VideoBitRate() const { return videoBitRate_; }
    bool HalfPictures() const { return halfPictures_; }

private:
    LinkDecision Decide(double now, bool linkLimited);
    int Lowered() const;
    void ChangeRate(int wanted, double now, LinkDecision& decision);
    void ShareOfPictures(bool half, double now, LinkDecision& decision);

    int requested_;
    int audio_;
    int floor_;
    int videoBitRate_;
    bool halfPictures_ = false;
    double drainRate_;            // bytes a second, while the link was the limit
    double backlogSeconds_ = 0;
    bool linkLimited_ = false;
    double lastTick_;
    double lastChange_;
    double lastLowering_;
    double calmSince_;
    bool heldBack_ = false;         // since the last look
    struct Delivery {
        double seconds;
        uint64_t bytes;
    };
    std::deque<Delivery> deliveries_;  // over the last second: a rate over a
                                       // shorter time is mostly the link's bursts
};
