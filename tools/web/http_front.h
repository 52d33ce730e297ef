// The gateway's door to the home network: it accepts the browsers'
// connections, reads their requests within bounds and hands each complete
// one to a handler, and hands WebSocket upgrades to Qt's WebSocket server.
// Anyone on the network reaches it, so it limits what one address and all
// of them together may hold: connections, bytes and time.
#pragma once

#include "http_request.h"

#include <QByteArray>
#include <QHash>
#include <QPointer>
#include <QSslConfiguration>
#include <QString>
#include <QTcpServer>
#include <QWebSocketServer>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

class QWebSocket;

namespace web {

using HttpHeaders = std::vector<std::pair<QByteArray, QByteArray>>;

struct HttpResponse {
    int status = 200;
    QByteArray contentType{};
    QByteArray body{};
    // Sent from disk, a piece at a time, instead of the body.
    QString file{};
    HttpHeaders headers{};

    static HttpResponse text(int status, const QByteArray& sentence);
};

struct HttpFrontSettings {
    HttpLimits request{};
    int connectionsPerAddress = 32;
    int connections = 512;
    // From a connection's start, or the end of its previous answer, to the
    // end of the next request.
    std::chrono::milliseconds requestDeadline{10000};
    // A WebSocket message, text or binary, and each of its frames.
    qint64 webSocketMessageBytes = 64 * 1024;
    HttpHeaders commonHeaders{};
    std::optional<QSslConfiguration> tls{};
};

class HttpConnection;

// A request being answered. Answer it once, at once or later on the Qt
// thread; nothing is sent when its connection has gone meanwhile.
class HttpExchange {
public:
    HttpExchange(HttpConnection* connection, quint64 serial, QString peer);
    void respond(HttpResponse response) const;
    // Hands the connection to the WebSocket server, which answers the
    // upgrade itself.
    void upgrade() const;
    // The address the request came from, as the log names it.
    const QString& peer() const { return peer_; }

private:
    QPointer<HttpConnection> connection_;
    quint64 serial_;
    QString peer_;
};

class HttpFront : public QTcpServer {
    Q_OBJECT

public:
    using Handler = std::function<void(const HttpRequest&, const HttpExchange&)>;
    using WebSocketHandler = std::function<void(std::unique_ptr<QWebSocket>)>;

    HttpFront(HttpFrontSettings settings, Handler handler, WebSocketHandler webSocketHandler);

    const HttpFrontSettings& settings() const { return settings_; }
    void handle(const HttpRequest& request, const HttpExchange& exchange) { handler_(request, exchange); }
    void handOver(QTcpSocket* socket);

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    // Who holds how many connections. Shared with each socket's farewell,
    // which may come while this front is being torn down.
    struct Occupancy {
        QHash<QString, int> perAddress{};
        // Connections refused to an address since it reached its limit;
        // only addresses that hold connections have an entry.
        QHash<QString, int> refused{};
        int open = 0;
        int refusedWhenFull = 0;
        int limit = 0;

        void release(const QString& peer);
    };

    void acceptWebSockets();

    HttpFrontSettings settings_;
    Handler handler_;
    WebSocketHandler webSocketHandler_;
    QWebSocketServer webSockets_;
    std::shared_ptr<Occupancy> occupancy_;
};

}  // namespace web
