#include "gateway.h"

#include "platform/log.h"
#include "viewer_requests.h"

#include <QFileInfo>
#include <QJsonDocument>
#include <QWebSocket>
#include <QtConcurrent/QtConcurrentRun>

#include <condition_variable>
#include <mutex>
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
// Requests of one viewer waiting for the server.
constexpr int kMostPendingRequests = 16;
constexpr char kBusy[] = "Too many requests at once; try again in a moment";
constexpr double kTimelineGap = 0.5;
// A file comes faster than it plays: the gateway reads it only this far
// ahead of the pictures' own time, so that no viewer has to skip.
constexpr double kFileLeadSeconds = 5.0;
constexpr size_t kRateWindowSeconds = 5;

QJsonObject message(const char* type)
{
    return QJsonObject{{"type", type}};
}

const char* stateName(LinkState state)
{
    switch (state) {
    case LinkState::Offline: return "offline";
    case LinkState::Connecting: return "connecting";
    case LinkState::Ready: return "ready";
    case LinkState::Playing: return "playing";
    case LinkState::Unreachable: return "unreachable";
    case LinkState::TakenOver: return "takenover";
    case LinkState::StartFailed: return "failed";
    case LinkState::Ended: return "ended";
    }
    return "offline";
}

// The page shows these as they stand; a refused file comes with its own.
QString stateText(LinkState state, const QString& detail)
{
    switch (state) {
    case LinkState::Unreachable: return "The server is not reachable";
    case LinkState::TakenOver: return "Another handheld took over";
    case LinkState::StartFailed: return detail.isEmpty() ? "The channel could not be started" : detail;
    default: return detail;
    }
}

// Reads one chunk after another into the remuxer on the receiving thread
// and posts what comes out to the gateway. A file comes faster than it
// plays, and is held back.
class RemuxSink final : public handheld::StreamSink {
public:
    RemuxSink(const StreamFormat& format, double start, RemuxOutput output, std::atomic<double>& delay,
              std::atomic<double>& timelineEnd, const StreamSource& source,
              std::function<void(std::string, double)> subtitle)
        : remuxer_(format, start, std::move(output)), delay_(delay), timelineEnd_(timelineEnd),
          started_(std::chrono::steady_clock::now()), start_(start), file_(source.isFile()),
          subtitle_(std::move(subtitle))
    {
    }

    bool video(uint32_t timeMs, std::span<const uint8_t> bytes) override
    {
        // What of a file comes after the stop is dropped, not played.
        if (file_ && stopped_)
            return true;
        // How far a live chunk arrives behind the stream's own clock.
        const std::chrono::duration<double> sinceStart = std::chrono::steady_clock::now() - started_;
        delay_.store(file_ ? 0.0 : sinceStart.count() - timeMs / 1000.0);
        const bool added = noteEnd(remuxer_.addVideo(timeMs, bytes));
        if (file_)
            holdBackFile();
        return added;
    }
    bool audio(uint32_t timeMs, std::span<const uint8_t> bytes) override
    {
        if (file_ && stopped_)
            return true;
        const bool added = noteEnd(remuxer_.addAudio(timeMs, bytes));
        if (file_)
            holdBackFile();
        return added;
    }
    bool subtitle(std::span<const uint8_t> text) override
    {
        // Where the stream has got to: a record without times of its own
        // belongs about there.
        subtitle_(std::string(text.begin(), text.end()), remuxer_.endSeconds());
        return true;
    }
    std::string error() const override { return remuxer_.error(); }
    void stop() override
    {
        {
            std::lock_guard lock(mutex_);
            stopped_ = true;
        }
        wake_.notify_all();
    }

private:
    // The next stream starts after the end of everything written, sound
    // included, on this thread: the viewers' timeline never goes back.
    bool noteEnd(bool added)
    {
        timelineEnd_.store(remuxer_.endSeconds());
        return added;
    }

    void holdBackFile()
    {
        const auto ahead = std::chrono::duration<double>(remuxer_.endSeconds() - start_ - kFileLeadSeconds);
        std::unique_lock lock(mutex_);
        wake_.wait_until(lock, started_ + std::chrono::duration_cast<std::chrono::steady_clock::duration>(ahead),
                         [this] { return stopped_.load(); });
    }

    LiveRemuxer remuxer_;
    std::atomic<double>& delay_;
    std::atomic<double>& timelineEnd_;
    std::chrono::steady_clock::time_point started_;
    double start_;
    bool file_;
    std::function<void(std::string, double)> subtitle_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::atomic<bool> stopped_ = false;
};

QJsonObject folderMessage(const QString& path, const FolderAnswer& folder)
{
    QJsonArray entries;
    for (const handheld::ListingEntry& entry : folder.entries)
        entries.append(QJsonObject{{"type", QString(QChar(entry.type))}, {"name", QString::fromStdString(entry.name)}});
    return {{"type", "folder"}, {"path", path}, {"error", QString::fromStdString(folder.error)}, {"entries", entries}};
}

QJsonObject fileMessage(const QString& path, const FileAnswer& file)
{
    const handheld::FileInfo& info = file.info;
    QJsonArray streams;
    for (const handheld::FileInfoStream& stream : info.streams)
        streams.append(QString::fromStdString(stream.text));
    const double seconds = (info.hours * 60.0 + info.minutes) * 60.0 + info.seconds + info.hundredths / 100.0;
    return {{"type", "file"},
            {"path", path},
            {"error", QString::fromStdString(file.error)},
            {"size", info.size},
            {"duration", seconds},
            {"kbps", info.bitrateKbps},
            {"streams", streams},
            {"artist", QString::fromStdString(info.artist)},
            {"album", QString::fromStdString(info.album)},
            {"genre", QString::fromStdString(info.genre)}};
}

}  // namespace

Gateway::Gateway(GatewaySettings settings) : settings_(std::move(settings))
{
    stateMessage_ = message("state");
    stateMessage_["state"] = "offline";
    connect(&viewerCheck_, &QTimer::timeout, this, [this] {
        checkViewers();
        sendStats();
    });
    viewerCheck_.start(1000);
    LinkEvents events;
    events.state = [this](LinkState state, int channel, const std::string& detail) {
        QMetaObject::invokeMethod(this, [=, this] { onLinkState(state, channel, QString::fromStdString(detail)); });
    };
    events.channels = [this](const std::vector<handheld::ChannelEntry>& entries) {
        QJsonArray channels;
        for (const auto& entry : entries)
            channels.append(QJsonObject{{"number", entry.index},
                                        {"name", QString::fromStdString(entry.description)},
                                        {"scheduled", entry.scheduled}});
        QMetaObject::invokeMethod(this, [=, this] { onChannels(channels); });
    };
    events.streamSink = [this](const StreamSource& source, const handheld::StreamHeader& header) {
        return makeSink(source, header);
    };
    link_ = std::make_unique<ServerLink>(settings_.server, std::move(events));
}

// The link answers the logins still waiting before anything goes; the
// viewers' sockets say goodbye as they go, to nobody.
Gateway::~Gateway()
{
    link_->close();
    for (auto& viewer : viewers_)
        viewer->socket->disconnect(this);
}

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

void Gateway::onViewerMessage(Viewer& viewer, const QString& text)
{
    const QJsonObject request = QJsonDocument::fromJson(text.toUtf8()).object();
    const QString type = request.value("type").toString();
    const int quality = request.value("quality").toInt(quality_);
    const QString path = request.value("path").toString();
    if (auto asked = viewerRequest(request)) {
        if (!admitsRequest(viewer))
            return sendText(viewer, asked->toMessage(Answer{.error = kBusy}));
        link_->ask(asked->command, std::move(asked->payload),
                   [reply = replyTo(viewer), toMessage = asked->toMessage](Answer answer) { reply(toMessage(answer)); });
    } else if (type == "play") {
        const int channel = request.value("channel").toInt(-1);
        if (channel >= 0 && channel < handheld::kMaxChannels)
            play(viewer, StreamSource{.channel = channel, .captions = request.value("captions").toBool()}, quality);
    } else if (type == "playfile") {
        StreamSource source{.file = path.toStdString(),
                            .startSeconds = request.value("start").toInt(-1),
                            .audioStream = request.value("audio").toInt(-1),
                            .subtitleStream = request.value("subtitle").toInt(kCompanionSubtitles),
                            .subtitleFile = request.value("subtitleFile").toString().toStdString()};
        if (!source.file.empty() && source.startSeconds >= 0 && source.audioStream >= -1 && source.audioStream < 128
            && source.subtitleStream >= kCompanionSubtitles && source.subtitleStream < 128)
            play(viewer, std::move(source), quality);
    } else if (type == "download") {
        startDownload(viewer, path, request.value("start").toInt(0),
                      request.value("length").toDouble(0), quality);
    } else if (type == "canceldownload") {
        cancelDownload();
    } else if (type == "browse") {
        const bool subtitles = request.value("subtitles").toBool();
        auto toMessage = [path, subtitles](const FolderAnswer& folder) {
            QJsonObject message = folderMessage(path, folder);
            message["subtitles"] = subtitles;
            return message;
        };
        if (!admitsRequest(viewer))
            return sendText(viewer, toMessage(FolderAnswer{.error = kBusy}));
        link_->browse(path.toStdString(), subtitles,
                      [reply = replyTo(viewer), toMessage](FolderAnswer folder) { reply(toMessage(folder)); });
    } else if (type == "describe") {
        if (!admitsRequest(viewer))
            return sendText(viewer, fileMessage(path, FileAnswer{.error = kBusy}));
        link_->describe(path.toStdString(),
                        [reply = replyTo(viewer), path](FileAnswer file) { reply(fileMessage(path, file)); });
    } else if (type == "visible") {
        viewer.visible = request.value("visible").toBool(true);
        viewer.hiddenSince = Clock::now();
    }
}

void Gateway::play(Viewer& viewer, StreamSource source, int quality)
{
    if (quality < 0 || quality >= int(std::size(kQualityProfiles)))
        return;
    source.profile = kQualityProfiles[quality];
    viewer.visible = true;
    if (gathering()) {
        sendText(viewer, stateMessage_);
        return;
    }
    const QString state = stateMessage_.value("state").toString();
    const bool same = streamWanted_ && source == wanted_;
    if (same && state != "takenover" && state != "failed" && state != "ended") {
        if (cache_.init() && !viewer.hasInit)
            sendStream(viewer);
        return;
    }
    streamWanted_ = true;
    wanted_ = source;
    quality_ = quality;
    link_->play(source);
}

// The download takes the server's session as a stream would: the viewers
// see that it runs, and play again once it has ended or was cancelled.
void Gateway::startDownload(Viewer& viewer, const QString& path, int start, double length, int quality)
{
    if (path.isEmpty() || start < 0 || length < 0 || quality < 0 || quality >= int(std::size(kQualityProfiles)))
        return;
    if (gathering()) {
        sendText(viewer, QJsonObject{{"type", "download"}, {"error", "Another download is in progress"}});
        return;
    }
    auto download = std::make_shared<Download>(++downloadCounter_, viewer.socket.get(), path.toStdString(), length);
    QString error;
    if (!download->usable(error)) {
        Log("no folder for a download: " + error.toStdString());
        sendText(viewer, QJsonObject{{"type", "download"}, {"error", "The gateway has no room for downloads"}});
        return;
    }
    download_ = std::move(download);
    Log("download of \"" + path.toStdString() + "\" begins");
    streamWanted_ = true;
    wanted_ = StreamSource{.file = path.toStdString(), .startSeconds = start, .profile = kQualityProfiles[quality],
                           .gatherInto = download_->gathered()};
    cache_.clear();
    for (auto& each : viewers_)
        each->hasInit = false;
    sendText(viewer, QJsonObject{{"type", "download"}, {"state", "started"}, {"name", download_->name()}});
    link_->play(wanted_);
}

void Gateway::cancelDownload()
{
    if (!gathering())
        return;
    Log("download of \"" + wanted_.file + "\" cancelled");
    answer(download_->viewer(), QJsonObject{{"type", "download"}, {"error", "Cancelled"}});
    download_.reset();
    streamWanted_ = false;
    link_->stop();
}

void Gateway::onDownloadProgress(const QString& gathered, double seconds)
{
    if (!gathering() || gathered.toStdString() != download_->gathered())
        return;
    answer(download_->viewer(), QJsonObject{{"type", "download"}, {"state", "progress"}, {"seconds", seconds}});
    // The part asked for is in: the stream stops, and once the link says so
    // the download is done.
    if (!download_->complete() && download_->reached(seconds))
        link_->stop();
}

// Complete when the file's end came; the MP4 is then written on a worker
// thread, since a film's copy takes a moment.
void Gateway::endGathering(bool complete)
{
    streamWanted_ = false;
    wanted_.gatherInto.clear();
    if (!complete) {
        Log("download of \"" + wanted_.file + "\" failed: " + stateMessage_.value("message").toString().toStdString());
        answer(download_->viewer(), QJsonObject{{"type", "download"}, {"error", "The download failed"}});
        download_.reset();
        // The link forgets it too, or a session taken back would start it again.
        link_->stop();
        return;
    }
    answer(download_->viewer(), QJsonObject{{"type", "download"}, {"state", "writing"}});
    std::shared_ptr<const Download> download = download_;
    (void)QtConcurrent::run(&writePool_, [this, download] {
        std::string error;
        const bool written = download->writeFile(error);
        QMetaObject::invokeMethod(this, [=, this] { onDownloadWritten(download->id(), written, QString::fromStdString(error)); });
    });
}

void Gateway::onDownloadWritten(quint64 id, bool written, const QString& error)
{
    if (!download_ || download_->id() != id)
        return;
    if (!written) {
        Log("download of " + download_->name().toStdString() + " could not be written: " + error.toStdString());
        answer(download_->viewer(), QJsonObject{{"type", "download"}, {"error", "The download failed"}});
        download_.reset();
        return;
    }
    download_->markWritten();
    const qint64 bytes = QFileInfo(download_->file()).size();
    Log("download of " + download_->name().toStdString() + ": " + std::to_string(bytes) + " bytes in "
        + std::to_string(download_->seconds()) + " s");
    answer(download_->viewer(), QJsonObject{{"type", "download"}, {"state", "ready"}, {"name", download_->name()},
                                            {"url", QString("downloads/%1").arg(id)}, {"bytes", bytes},
                                            {"seconds", download_->seconds()}});
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

std::function<void(QJsonObject)> Gateway::replyTo(Viewer& viewer)
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

std::unique_ptr<handheld::StreamSink> Gateway::makeSink(const StreamSource& source, const handheld::StreamHeader& header)
{
    if (!header.hasVideo() && !header.hasAudio())
        return nullptr;
    StreamFormat format;
    format.video = header.hasVideo();
    format.audio = header.hasAudio();
    format.frameRate = header.frameRate > 0 ? header.frameRate : 15;
    format.sampleRate = header.sampleRate > 0 ? header.sampleRate : 44100;
    format.stereo = header.stereo != 0;
    format.startMs = source.isFile() ? uint32_t(std::max(0, source.startSeconds)) * 1000 : 0;
    const quint64 stream = ++streamCounter_;
    if (source.isDownload()) {
        const QString gathered = QString::fromStdString(source.gatherInto);
        return makeGatheringSink(format, source.gatherInto, [this, gathered](double seconds) {
            QMetaObject::invokeMethod(this, [=, this] { onDownloadProgress(gathered, seconds); });
        });
    }
    const double start = timelineEnd_.load() + kTimelineGap;
    QJsonObject described{{"channel", source.channel}, {"start", start}};
    if (source.isFile()) {
        described["file"] = QString::fromStdString(source.file);
        described["startSeconds"] = source.startSeconds;
        described["duration"] = header.durationMs / 1000.0;
    }
    RemuxOutput output;
    output.init = [this, stream, described](InitSegment init) {
        QMetaObject::invokeMethod(this, [=, this] { onInit(stream, described, init); });
    };
    output.fragment = [this, stream](Fragment fragment) {
        QMetaObject::invokeMethod(this, [=, this] { onFragment(stream, fragment); });
    };
    auto subtitle = [this, stream](std::string text, double at) {
        const QJsonObject message{{"type", "subtitle"}, {"text", QString::fromStdString(text)}, {"at", at}};
        QMetaObject::invokeMethod(this, [=, this] { onSubtitle(stream, message); });
    };
    return std::make_unique<RemuxSink>(format, start, std::move(output), delaySeconds_, timelineEnd_, source,
                                       std::move(subtitle));
}

void Gateway::onLinkState(LinkState state, int channel, const QString& detail)
{
    stateMessage_ = message("state");
    stateMessage_["state"] = stateName(state);
    stateMessage_["channel"] = channel;
    stateMessage_["message"] = stateText(state, detail);
    if (state != LinkState::Playing && state != LinkState::Connecting)
        cache_.clear();
    if (gathering()) {
        // A session taken back on the way passes through Ready before the
        // download's stream starts again; the download ends on its own end,
        // on the part asked for, or when the link gives up. The viewers are
        // then free to play again.
        const bool ended = state == LinkState::Ended || (state == LinkState::Ready && download_->complete());
        const bool failed = state == LinkState::StartFailed || state == LinkState::Unreachable
                            || state == LinkState::TakenOver || state == LinkState::Offline;
        if (ended || failed) {
            endGathering(ended);
            stateMessage_["state"] = "ready";
            stateMessage_["message"] = "";
        } else {
            stateMessage_["message"] = "A download is in progress";
        }
    }
    broadcast(stateMessage_);
}

void Gateway::onChannels(const QJsonArray& channels)
{
    channels_ = channels;
    broadcast(QJsonObject{{"type", "channels"}, {"channels", channels_}});
}

void Gateway::onInit(quint64 stream, const QJsonObject& described, const InitSegment& init)
{
    if (stream != streamCounter_.load())
        return;
    stream_ = stream;
    cache_.start(init);
    streamMessage_ = described;
    streamMessage_["type"] = "stream";
    streamMessage_["quality"] = quality_;
    streamMessage_["codecs"] = QString::fromStdString(init.codecs);
    streamMessage_["width"] = init.width;
    streamMessage_["height"] = init.height;
    for (auto& viewer : viewers_)
        sendStream(*viewer);
}

// A subtitle may come before the stream's first picture; it goes out with
// the stream's start then, and to a viewer who joins later the same way.
void Gateway::onSubtitle(quint64 stream, const QJsonObject& message)
{
    if (stream != streamCounter_.load())
        return;
    if (subtitlesStream_ != stream) {
        subtitlesStream_ = stream;
        subtitles_ = QJsonArray();
    }
    subtitles_.append(message);
    if (stream != stream_)
        return;
    for (auto& viewer : viewers_)
        if (viewer->hasInit)
            sendText(*viewer, message);
}

void Gateway::onFragment(quint64 stream, const Fragment& fragment)
{
    if (stream != stream_)
        return;
    cache_.add(fragment);
    for (auto& viewer : viewers_)
        if (viewer->hasInit)
            sendFragment(*viewer, fragment);
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
    QJsonObject stats = message("stats");
    stats["kbps"] = double(bytes * 8) / 1000.0 / double(bytesPerSecond_.size());
    stats["delay"] = delaySeconds_.load();
    if (streamWanted_)
        broadcast(stats);
}

}  // namespace web
