// The web side of orvandel-web: the page and its login over HTTP, the
// viewers' WebSockets, one stream (a channel or a film) shared by every
// viewer, and downloads. Lives on the Qt main thread; the server link, the
// stream's receiver and the download writer post into it.
#pragma once

#include "download.h"
#include "fragment_cache.h"
#include "guide_desk.h"
#include "http_front.h"
#include "logins.h"
#include "server_link.h"

#include <QHostAddress>
#include <QJsonArray>
#include <QJsonObject>
#include <QPointer>
#include <QThreadPool>
#include <QTimer>
#include <QWebSocket>

#include <atomic>
#include <chrono>
#include <deque>
#include <memory>
#include <set>
#include <vector>

namespace web {

struct GatewaySettings {
    LinkSettings server;
    QHostAddress listenAddress = QHostAddress::Any;
    quint16 port = 8080;
    QString certificateFile;
    QString keyFile;
};

// The qualities a viewer picks from, as stream profile bytes: the size class
// in the high nibble, the quality in the low one.
inline constexpr uint8_t kQualityProfiles[] = {0x10, 0x11, 0x12, 0x22};

class Gateway : public QObject {
    Q_OBJECT

public:
    explicit Gateway(GatewaySettings settings);
    ~Gateway() override;

    // Binds the HTTP port (and loads the TLS files); false with the reason.
    bool listen(QString& error);
    quint16 port() const { return port_; }

private:
    using Clock = std::chrono::steady_clock;

    struct Viewer {
        std::unique_ptr<QWebSocket> socket;
        // The session token it was let in with: Log out ends it.
        QByteArray token;
        // Left, or let go; its entry goes once nothing walks the viewers.
        bool gone = false;
        bool visible = true;
        Clock::time_point hiddenSince{};
        bool hasInit = false;
        bool waitsForKey = true;
        Clock::time_point stuckSince = Clock::now();
        // Logged its requests' refusal already.
        bool refusing = false;
        Clock::time_point guideWindowStart{};
        int guideRequests = 0;
    };

    // The HTTP side.
    void route(const HttpRequest& request, const HttpExchange& exchange);
    HttpResponse page(std::string_view name) const;
    void login(const HttpRequest& request, const HttpExchange& exchange);
    void finishLogin(const std::string& user, const HttpExchange& exchange, LoginAnswer answer);
    HttpResponse logout(const HttpRequest& request);
    void upgrade(const HttpRequest& request, const HttpExchange& exchange);
    // Whether the request comes from a page of this gateway, not another site.
    bool fromOwnPage(const HttpRequest& request) const;
    // Served over TLS: the Origin's scheme, and Secure cookies.
    bool secure() const { return !settings_.certificateFile.isEmpty(); }
    HttpResponse downloadFile(std::string_view id, const HttpRequest& request);

    void acceptViewer(std::unique_ptr<QWebSocket> socket);
    void onViewerMessage(Viewer& viewer, const QString& text);
    // Asks the server for a viewer, a few requests of its login at a time:
    // the answers come in order, and one login must not keep the others
    // waiting.
    bool admitsRequest(Viewer& viewer);
    bool admitsGuideRequest(Viewer& viewer);
    void play(Viewer& viewer, StreamSource source, int quality);
    void startDownload(Viewer& viewer, const QString& path, int start, double length, int quality);
    void cancelDownload();
    bool gathering() const { return download_ && wanted_.isDownload(); }
    void endGathering(bool complete);
    void onDownloadProgress(const QString& gathered, double seconds);
    void onDownloadWritten(quint64 id, bool written, const QString& error);
    // Hands a message to the viewer on the Qt thread, from any thread;
    // nothing reaches a viewer who has left meanwhile.
    std::function<void(QJsonObject)> replyTo(const Viewer& viewer);
    void answer(const QPointer<QWebSocket>& socket, const QJsonObject& message);
    Viewer* viewerOf(const QWebSocket* socket);
    // A viewer leaves at once, but its entry goes only once nothing walks
    // the viewers: a socket's farewell may come in the middle of a send.
    void dropViewer(QWebSocket* socket);
    void sweepViewers();
    void closeViewer(Viewer& viewer, const std::string& reason);

    std::unique_ptr<handheld::StreamSink> makeSink(const StreamSource& source, const handheld::StreamHeader& header);
    void onLinkState(LinkState state, int channel, const QString& detail);
    void onChannels(const QJsonArray& channels);
    void onInit(quint64 stream, const QJsonObject& described, const InitSegment& init);
    void onSubtitle(quint64 stream, const QJsonObject& message);
    void onFragment(quint64 stream, const Fragment& fragment);

    void sendStream(Viewer& viewer);
    void sendFragment(Viewer& viewer, const Fragment& fragment);
    void sendText(Viewer& viewer, const QJsonObject& message);
    void broadcast(const QJsonObject& message);
    void checkViewers();
    void handOverToRecordings();
    void sendStats();

    GatewaySettings settings_;
    std::unique_ptr<HttpFront> front_;
    quint16 port_ = 0;
    Logins logins_;
    std::vector<std::unique_ptr<Viewer>> viewers_;
    // Requests waiting for the server, for each login: its pages share them.
    QHash<QByteArray, int> pendingRequests_;
    FragmentCache cache_;
    QJsonObject streamMessage_;
    QJsonObject stateMessage_;
    QJsonArray channels_;
    GuideDesk guide_;
    // The server's schedules as last read, while a channel streams.
    QJsonArray schedules_;
    bool askingSchedules_ = false;
    bool schedulesChanged_ = false;
    Clock::time_point schedulesAsked_{};
    Clock::time_point playAsked_{};
    // The recordings (channel and start) the viewers were taken to.
    std::set<QString> handedOver_;
    quint64 stream_ = 0;
    StreamSource wanted_;
    // Shared with the worker that writes its file.
    std::shared_ptr<Download> download_;
    quint64 downloadCounter_ = 0;
    QJsonArray subtitles_;
    quint64 subtitlesStream_ = 0;
    int quality_ = 1;
    bool streamWanted_ = false;
    Clock::time_point unwatchedSince_ = Clock::now();
    qint64 bytesThisSecond_ = 0;
    std::deque<qint64> bytesPerSecond_;
    QTimer viewerCheck_;

    // Shared with the stream's receiving thread.
    std::atomic<quint64> streamCounter_{0};
    std::atomic<double> timelineEnd_{0};
    std::atomic<double> delaySeconds_{0};

    // Writes downloads; waits for the last one before the rest goes.
    QThreadPool writePool_;
    // Last, so that it stops before anything it posts into goes.
    std::unique_ptr<ServerLink> link_;
};

}  // namespace web
