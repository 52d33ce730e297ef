#include "server/link_rate.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double kTickSeconds = 0.25;
constexpr double kRateWindowSeconds = 1.0;
// A backlog past this is a link that does not keep up.
constexpr double kBehindSeconds = 0.6;
// Past this, lowering the rate cannot bring the handheld back near live
// soon enough: the backlog is cut.
constexpr double kCatchUpSeconds = 1.5;
// Below this for a while, the link keeps up and the rate may rise.
constexpr double kCalmSeconds = 0.25;
constexpr double kCalmBeforeRaise = 2.0;
constexpr double kLeastSecondsBetweenChanges = 2.0;
constexpr double kRaiseStep = 2.0;
// After a lowering, the link had no room for the rate before it: raising
// again any sooner would mostly find that out once more.
constexpr double kHoldAfterLowering = 6.0;
// The share of the measured drain rate the stream aims at.
constexpr double kHeadroom = 0.8;
// The connection holds at most this much of the link's time.
constexpr double kQueueSeconds = 0.25;
constexpr int64_t kLeastQueue = 4096;

} // namespace

LinkRateControl::LinkRateControl(int requestedVideoBitRate, int audioBitRate, double startSeconds)
    : requested_(requestedVideoBitRate), audio_(audioBitRate), floor_(requestedVideoBitRate / 4),
      videoBitRate_(requestedVideoBitRate), drainRate_((requestedVideoBitRate + audioBitRate) / 8.0),
      lastTick_(startSeconds), lastChange_(startSeconds), lastLowering_(startSeconds - kHoldAfterLowering),
      calmSince_(startSeconds)
{
}

int64_t LinkRateControl::QueueLimit() const
{
    return std::max(kLeastQueue, static_cast<int64_t>(drainRate_ * kQueueSeconds));
}

LinkDecision LinkRateControl::Update(const LinkSample& sample)
{
    heldBack_ = heldBack_ || sample.heldBack;
    const double elapsed = sample.seconds - lastTick_;
    if (elapsed < kTickSeconds)
        return {};
    const uint64_t delivered = sample.written - static_cast<uint64_t>(std::max<int64_t>(sample.queued, 0));
    lastTick_ = sample.seconds;
    deliveries_.push_back({sample.seconds, delivered});
    while (deliveries_.size() > 2 && sample.seconds - deliveries_[1].seconds >= kRateWindowSeconds)
        deliveries_.pop_front();
    const Delivery& first = deliveries_.front();
    const double span = sample.seconds - first.seconds;
    const double rate = span > 0 ? static_cast<double>(delivered - std::min(delivered, first.bytes)) / span : 0;
    // Only while the connection held data back does what went through tell
    // how fast the link is; otherwise it only tells how fast the stream was
    // made, and the link may be faster. Data waiting in the rings alone is
    // no slow link: the sender may just not have come round to it.
    const bool linkLimited = heldBack_;
    heldBack_ = false;
    linkLimited_ = linkLimited;
    if (linkLimited)
        drainRate_ = 0.5 * drainRate_ + 0.5 * rate;
    else
        drainRate_ = std::max(drainRate_, rate);
    drainRate_ = std::max(drainRate_, 1000.0);
    backlogSeconds_ = linkLimited
        ? static_cast<double>(sample.waiting + std::max<int64_t>(sample.queued, 0)) / drainRate_
        : 0;
    return Decide(sample.seconds, linkLimited);
}

int LinkRateControl::Lowered() const
{
    const double carried = kHeadroom * drainRate_ * 8 - audio_;
    return std::clamp(static_cast<int>(carried), floor_, videoBitRate_);
}

LinkDecision LinkRateControl::Decide(double now, bool linkLimited)
{
    LinkDecision decision;
    decision.catchUp = backlogSeconds_ > kCatchUpSeconds;
    if (backlogSeconds_ >= kCalmSeconds || linkLimited)
        calmSince_ = now;
    const bool mayChange = now - lastChange_ >= kLeastSecondsBetweenChanges;
    const bool behind = backlogSeconds_ > kBehindSeconds && (mayChange || decision.catchUp);
    const bool calm = mayChange && now - calmSince_ >= kCalmBeforeRaise && now - lastLowering_ >= kHoldAfterLowering;
    if (behind && videoBitRate_ == floor_ && !halfPictures_)
        ShareOfPictures(true, now, decision);
    else if (behind)
        ChangeRate(Lowered(), now, decision);
    if (decision.pictureShare == 2 || (decision.videoBitRate > 0 && behind))
        lastLowering_ = now;
    else if (calm && (halfPictures_ || videoBitRate_ < requested_)) {
        if (halfPictures_)
            ShareOfPictures(false, now, decision);
        ChangeRate(std::min(requested_, static_cast<int>(std::lround(videoBitRate_ * kRaiseStep))), now, decision);
    }
    return decision;
}

void LinkRateControl::ChangeRate(int wanted, double now, LinkDecision& decision)
{
    // Small changes are not worth the key frame a new encoder starts with.
    if (std::abs(wanted - videoBitRate_) * 10 < videoBitRate_)
        return;
    videoBitRate_ = wanted;
    decision.videoBitRate = wanted;
    lastChange_ = now;
}

void LinkRateControl::ShareOfPictures(bool half, double now, LinkDecision& decision)
{
    halfPictures_ = half;
    decision.pictureShare = half ? 2 : 1;
    lastChange_ = now;
}
