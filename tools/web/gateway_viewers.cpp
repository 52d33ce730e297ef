// The gateway's viewers: letting them in and out, handing each the stream
// and the answers to its requests within bounds, and letting go of those
// that stop reading or stop watching.
#include "gateway.h"

#include "platform/log.h"

#include <QJsonDocument>

#include <numeric>

namespace web {

namespace {

using namespace std::chrono_literals;

// A page closed for good, or a tab reloading: only the first lets the
// tuner go, and the schedule may want it.
constexpr auto kUnwatchedGrace = 5s;
constexpr auto kHiddenLimit = 60s;
// A viewer whose connection cannot take the stream skips to the next key
// frame instead of falling ever further behind.
constexpr qint64 kMostUnsentBytes = 1 << 20;
constexpr auto kStuckLimit = 30s;
// Answers pile up behind a viewer that reads nothing; past this it goes.
constexpr qint64 kMostUnsentText = 8 << 20;
// Requests of one login waiting for the server.
constexpr int kMostPendingRequests = 16;
// Guide requests of one viewer within a window.
constexpr int kMostGuideRequests = 20;
constexpr auto kGuideWindow = 1s;
constexpr size_t kRateWindowSeconds = 5;

}  // namespace

void Gateway::acceptViewer(std::unique_ptr<QWebSocket> socket)
{
    auto viewer = std::make_unique<Viewer>();
    viewer->socket = std::move(socket);
    viewer->token = Logins::tokenIn(viewer->socket->request().rawHeader("Cookie"));
    QWebSocket* raw = viewer->socket.get();
    connect(raw, &QWebSocket::textMessageReceived, this, [this, raw](const QString& text) {
        if (Viewer* viewer = viewerOf(raw))
            onViewerMessage(*viewer, text);
    });
    connect(raw, &QWebSocket::disconnected, this, [this, raw] { dropViewer(raw); });
    viewers_.push_back(std::move(viewer));
    Viewer& added = *viewers_.back();
    sendText(added, QJsonObject{{"type", "channels"}, {"channels", channels_}});
    sendText(added, stateMessage_);
    if (cache_.init())
        sendStream(added);
}

Gateway::Viewer* Gateway::viewerOf(const QWebSocket* socket)
{
    for (auto& viewer : viewers_)
        if (viewer->socket.get() == socket && !viewer->gone)
            return viewer.get();
    return nullptr;
}

void Gateway::dropViewer(QWebSocket* socket)
{
    Viewer* viewer = viewerOf(socket);
    if (!viewer)
        return;
    viewer->gone = true;
    QMetaObject::invokeMethod(this, &Gateway::sweepViewers, Qt::QueuedConnection);
}

void Gateway::sweepViewers()
{
    std::erase_if(viewers_, [](std::unique_ptr<Viewer>& viewer) {
        if (!viewer->gone)
            return false;
        viewer->socket.release()->deleteLater();
        return true;
    });
}

void Gateway::closeViewer(Viewer& viewer, const std::string& reason)
{
    if (viewer.gone)
        return;
    Log("a viewer from " + viewer.socket->peerAddress().toString().toStdString() + " is let go: " + reason);
    viewer.socket->abort();
    dropViewer(viewer.socket.get());
}

bool Gateway::admitsGuideRequest(Viewer& viewer)
{
    const Clock::time_point now = Clock::now();
    if (now - viewer.guideWindowStart >= kGuideWindow) {
        viewer.guideWindowStart = now;
        viewer.guideRequests = 0;
    }
    if (++viewer.guideRequests <= kMostGuideRequests)
        return true;
    if (viewer.guideRequests == kMostGuideRequests + 1)
        Log("a viewer from " + viewer.socket->peerAddress().toString().toStdString() + " asks the guide over "
            + std::to_string(kMostGuideRequests) + " times a second: further ones are refused");
    return false;
}

bool Gateway::admitsRequest(Viewer& viewer)
{
    int& pending = pendingRequests_[viewer.token];
    if (pending < kMostPendingRequests) {
        ++pending;
        viewer.refusing = false;
        return true;
    }
    if (!std::exchange(viewer.refusing, true))
        Log("a viewer from " + viewer.socket->peerAddress().toString().toStdString() + " has "
            + std::to_string(kMostPendingRequests) + " requests waiting for the server: further ones are refused");
    return false;
}

std::function<void(QJsonObject)> Gateway::replyTo(const Viewer& viewer)
{
    QPointer<QWebSocket> socket(viewer.socket.get());
    return [this, socket, token = viewer.token](QJsonObject message) {
        QMetaObject::invokeMethod(this, [this, socket, token, message] {
            if (--pendingRequests_[token] <= 0)
                pendingRequests_.remove(token);
            if (Viewer* viewer = viewerOf(socket.data()))
                sendText(*viewer, message);
        });
    };
}

void Gateway::answer(const QPointer<QWebSocket>& socket, const QJsonObject& message)
{
    if (Viewer* viewer = viewerOf(socket.data()))
        sendText(*viewer, message);
}

void Gateway::sendStream(Viewer& viewer)
{
    if (viewer.gone)
        return;
    sendText(viewer, streamMessage_);
    if (subtitlesStream_ == stream_)
        for (const QJsonValue& message : subtitles_)
            sendText(viewer, message.toObject());
    const QByteArray init(reinterpret_cast<const char*>(cache_.init()->bytes.data()), qsizetype(cache_.init()->bytes.size()));
    viewer.socket->sendBinaryMessage(init);
    viewer.hasInit = true;
    viewer.waitsForKey = true;
    for (const Fragment& fragment : cache_.sinceKey())
        sendFragment(viewer, fragment);
}

void Gateway::sendFragment(Viewer& viewer, const Fragment& fragment)
{
    if (viewer.gone)
        return;
    if (viewer.socket->bytesToWrite() > kMostUnsentBytes) {
        viewer.waitsForKey = true;
        return;
    }
    if (viewer.waitsForKey && !fragment.key)
        return;
    viewer.waitsForKey = false;
    bytesThisSecond_ += qint64(fragment.bytes.size());
    viewer.socket->sendBinaryMessage(
        QByteArray(reinterpret_cast<const char*>(fragment.bytes.data()), qsizetype(fragment.bytes.size())));
}

void Gateway::sendText(Viewer& viewer, const QJsonObject& message)
{
    if (viewer.gone)
        return;
    if (viewer.socket->bytesToWrite() > kMostUnsentText)
        return closeViewer(viewer, "it has not read the last " + std::to_string(kMostUnsentText >> 20) + " MB");
    viewer.socket->sendTextMessage(QString::fromUtf8(QJsonDocument(message).toJson(QJsonDocument::Compact)));
}

void Gateway::broadcast(const QJsonObject& message)
{
    for (auto& viewer : viewers_)
        sendText(*viewer, message);
}

// The tuner is the schedule's too: nobody watching, or every page hidden
// for a minute, lets it go.
void Gateway::checkViewers()
{
    const auto now = Clock::now();
    // A phone gone from the network leaves a socket that takes nothing: it
    // must not hold the tuner until TCP gives up on it.
    for (auto& viewer : viewers_) {
        const qint64 unsent = viewer->gone ? 0 : viewer->socket->bytesToWrite();
        if (unsent <= kMostUnsentBytes)
            viewer->stuckSince = now;
        else if (now - viewer->stuckSince > kStuckLimit)
            closeViewer(*viewer, "it has taken nothing for " + std::to_string(kStuckLimit.count()) + " s");
        else if (unsent > kMostUnsentText)
            closeViewer(*viewer, "it has not read the last " + std::to_string(unsent >> 20) + " MB");
    }
    const bool watched = std::any_of(viewers_.begin(), viewers_.end(), [now](const auto& viewer) {
        return !viewer->gone && (viewer->visible || now - viewer->hiddenSince < kHiddenLimit);
    });
    if (watched) {
        unwatchedSince_ = now;
        return;
    }
    if (!streamWanted_ || gathering() || now - unwatchedSince_ < kUnwatchedGrace)
        return;
    Log("nobody watches: the stream of " + wanted_.name() + " stops");
    streamWanted_ = false;
    cache_.clear();
    for (auto& viewer : viewers_)
        viewer->hasInit = false;
    link_->stop();
}

void Gateway::sendStats()
{
    // Over a few seconds: the server's batches come about a second apart.
    bytesPerSecond_.push_back(bytesThisSecond_ / qint64(std::max<size_t>(1, viewers_.size())));
    bytesThisSecond_ = 0;
    if (bytesPerSecond_.size() > kRateWindowSeconds)
        bytesPerSecond_.pop_front();
    const qint64 bytes = std::accumulate(bytesPerSecond_.begin(), bytesPerSecond_.end(), qint64(0));
    QJsonObject stats{{"type", "stats"}};
    stats["kbps"] = double(bytes * 8) / 1000.0 / double(bytesPerSecond_.size());
    stats["delay"] = delaySeconds_.load();
    if (streamWanted_)
        broadcast(stats);
}

}  // namespace web
