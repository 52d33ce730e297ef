// The gateway's core: the server link's events, the viewers' messages, and
// the one stream that every viewer shares. The HTTP side, the viewers and
// the downloads have files of their own (gateway_*.cpp).
#include "gateway.h"

#include "platform/log.h"
#include "viewer_requests.h"

#include <QJsonDocument>
#include <QWebSocket>

#include <ctime>

#include <condition_variable>
#include <mutex>

namespace web {

namespace {

using namespace std::chrono_literals;

constexpr char kBusy[] = "Too many requests at once; try again in a moment";
constexpr double kTimelineGap = 0.5;
// A file comes faster than it plays: the gateway reads it only this far
// ahead of the pictures' own time, so that no viewer has to skip.
constexpr double kFileLeadSeconds = 5.0;

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
        handOverToRecordings();
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

void Gateway::onViewerMessage(Viewer& viewer, const QString& text)
{
    const QJsonObject request = QJsonDocument::fromJson(text.toUtf8()).object();
    const QString type = request.value("type").toString();
    const int quality = request.value("quality").toInt(quality_);
    const QString path = request.value("path").toString();
    if (GuideDesk::handles(type)) {
        // Answered here, at once, but each plans the rules afresh: a page
        // that asks on and on is slowed like one that waits for the server.
        if (!admitsGuideRequest(viewer))
            return sendText(viewer, QJsonObject{{"type", type}, {"error", kBusy}});
        sendText(viewer, guide_.answer(request, static_cast<int64_t>(std::time(nullptr))));
    } else if (auto asked = viewerRequest(request)) {
        schedulesChanged_ = schedulesChanged_ || type == "addschedule";
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
    playAsked_ = Clock::now();
    link_->play(source);
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

}  // namespace web
