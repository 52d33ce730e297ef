#include "http_front.h"

#include "platform/log.h"

#include <QFile>
#include <QHostAddress>
#include <QSslSocket>
#include <QTimer>
#include <QWebSocket>

#include <sys/socket.h>
#include <unistd.h>

namespace web {

namespace {

using namespace std::chrono_literals;

// A refusal is written and the connection read a moment longer, so that a
// client still sending its body gets the answer rather than a reset.
constexpr auto kRefusalLinger = 1s;
constexpr auto kClosingLimit = 10s;
constexpr qint64 kFilePiece = 64 * 1024;
// More of a file, or the next request's answer, waits until the client has
// taken what is queued for it down to this.
constexpr qint64 kMostUnsentAnswerBytes = 256 * 1024;
constexpr int kWebSocketSendBuffer = 256 * 1024;

// The peer as its limits count it and the log names it: 127.0.0.1, not
// ::ffff:127.0.0.1. An IPv6 host picks any address of its /64 at will, so
// the /64 is one peer.
QString peerOf(qintptr descriptor)
{
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (::getpeername(int(descriptor), reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return {};
    QHostAddress host(reinterpret_cast<const sockaddr*>(&address));
    bool mapped = false;
    const quint32 ipv4 = host.toIPv4Address(&mapped);
    if (mapped)
        return QHostAddress(ipv4).toString();
    if (host.protocol() != QAbstractSocket::IPv6Protocol || host.isLoopback())
        return host.toString();
    Q_IPV6ADDR bytes = host.toIPv6Address();
    std::fill(std::begin(bytes.c) + 8, std::end(bytes.c), quint8(0));
    return QHostAddress(bytes).toString() + "/64";
}

QByteArray head(const HttpResponse& response, qint64 length, bool keepAlive, const HttpHeaders& common)
{
    QByteArray text = "HTTP/1.1 " + QByteArray::number(response.status) + ' ' + HttpStatusText(response.status)
                      + "\r\nContent-Length: " + QByteArray::number(length) + "\r\n";
    if (!response.contentType.isEmpty())
        text += "Content-Type: " + response.contentType + "\r\n";
    for (const auto& headers : {std::cref(common), std::cref(response.headers)})
        for (const auto& [name, value] : headers.get())
            text += name + ": " + value + "\r\n";
    if (!keepAlive)
        text += "Connection: close\r\n";
    return text + "\r\n";
}

}  // namespace

HttpResponse HttpResponse::text(int status, const QByteArray& sentence)
{
    return HttpResponse{.status = status, .contentType = "text/plain; charset=utf-8", .body = sentence + '\n'};
}

// One browser connection until it is answered for the last time or
// upgraded: reads one request at a time, never more than the limits hold.
class HttpConnection : public QObject {
public:
    HttpConnection(QTcpSocket* socket, QString peer, HttpFront& front)
        : QObject(&front), socket_(socket), peer_(std::move(peer)), front_(front)
    {
        socket_->setParent(this);
        const HttpLimits& limits = front_.settings().request;
        socket_->setReadBufferSize(qint64(limits.headBytes + limits.bodyBytes) + 1);
        connect(socket_, &QTcpSocket::readyRead, this, &HttpConnection::readRequest);
        connect(socket_, &QTcpSocket::bytesWritten, this, &HttpConnection::onBytesWritten);
        connect(socket_, &QTcpSocket::disconnected, this, &QObject::deleteLater);
        deadline_.setSingleShot(true);
        connect(&deadline_, &QTimer::timeout, this, &HttpConnection::onDeadline);
        deadline_.start(front_.settings().requestDeadline);
    }

    void respond(quint64 serial, HttpResponse response)
    {
        if (serial != serial_ || !answering_)
            return;
        socket_->skip(std::exchange(requestBytes_, 0));
        if (!response.file.isEmpty()) {
            file_ = std::make_unique<QFile>(response.file);
            if (!file_->open(QIODevice::ReadOnly)) {
                Log("cannot send " + response.file.toStdString() + " to " + peer_.toStdString() + ": "
                    + file_->errorString().toStdString());
                file_.reset();
                response = HttpResponse::text(500, "The file cannot be read");
            }
        }
        const qint64 length = file_ ? file_->size() : response.body.size();
        socket_->write(head(response, length, keepAlive_, front_.settings().commonHeaders));
        if (file_)
            return sendFile();
        socket_->write(response.body);
        finishAnswer();
    }

    void upgrade(quint64 serial)
    {
        if (serial != serial_ || !answering_)
            return;
        deadline_.stop();
        socket_->disconnect(this);
        QTcpSocket* socket = std::exchange(socket_, nullptr);
        front_.handOver(socket);
        deleteLater();
    }

private:
    void readRequest()
    {
        if (!socket_)
            return;
        if (refused_) {
            socket_->readAll();
            return;
        }
        // A client that sends requests without reading the answers waits
        // until it has read them.
        if (answering_ || socket_->bytesToWrite() > kMostUnsentAnswerBytes)
            return;
        // A body that comes a byte at a time is not read again each time.
        if (socket_->bytesAvailable() < neededBytes_)
            return;
        const HttpLimits& limits = front_.settings().request;
        const QByteArray bytes = socket_->peek(qint64(limits.headBytes + limits.bodyBytes));
        HttpParseResult parsed = ParseHttpRequest(std::string_view(bytes.constData(), size_t(bytes.size())), limits);
        neededBytes_ = qint64(parsed.needed);
        if (parsed.outcome == HttpParse::Incomplete)
            return;
        if (parsed.outcome == HttpParse::Refused)
            return refuse(parsed.status, parsed.reason);
        // The request stays in the socket until it is answered: an upgrade
        // hands it to the WebSocket server as it came.
        requestBytes_ = qint64(parsed.consumed);
        deadline_.stop();
        answering_ = true;
        keepAlive_ = parsed.request.keepAlive;
        front_.handle(parsed.request, HttpExchange(this, ++serial_, peer_));
    }

    void refuse(int status, const std::string& reason)
    {
        Log("refused a request from " + peer_.toStdString() + " (" + std::to_string(status) + "): " + reason);
        refused_ = true;
        answering_ = false;
        keepAlive_ = false;
        deadline_.stop();
        socket_->write(head(HttpResponse{.status = status}, 0, false, front_.settings().commonHeaders));
        socket_->readAll();
        QTimer::singleShot(kRefusalLinger, this, &HttpConnection::closeGently);
    }

    // Once what is queued has gone; a peer that never takes it loses the
    // connection anyway.
    void closeGently()
    {
        if (!socket_)
            return;
        socket_->disconnectFromHost();
        QTimer::singleShot(kClosingLimit, this, [this] {
            if (socket_)
                socket_->abort();
        });
    }

    // A browser keeps an idle connection open for its next request, and
    // may open one in advance: those go quietly. A request begun and not
    // finished in time is a fault of the peer's, and logged.
    void onDeadline()
    {
        const std::string seconds = std::to_string(front_.settings().requestDeadline.count() / 1000);
        if (socket_->bytesToWrite() > 0)
            Log("closed a connection from " + peer_.toStdString() + ": it took nothing for " + seconds + " s");
        else if (socket_->bytesAvailable() > 0)
            Log("closed a connection from " + peer_.toStdString() + ": no complete request within " + seconds + " s");
        else
            return closeGently();
        socket_->abort();
    }

    void onBytesWritten()
    {
        if (file_)
            sendFile();
        else if (!answering_ && socket_ && socket_->bytesAvailable() > 0)
            readRequest();
    }

    // The request's time becomes the time the client has to take each
    // piece.
    void sendFile()
    {
        if (!file_ || !socket_)
            return;
        deadline_.start(front_.settings().requestDeadline);
        while (socket_->bytesToWrite() < kMostUnsentAnswerBytes && !file_->atEnd()) {
            const QByteArray piece = file_->read(kFilePiece);
            if (piece.isEmpty()) {
                Log("sending " + file_->fileName().toStdString() + " to " + peer_.toStdString() + " failed: "
                    + file_->errorString().toStdString());
                socket_->abort();
                return;
            }
            socket_->write(piece);
        }
        if (file_->atEnd()) {
            file_.reset();
            finishAnswer();
        }
    }

    // The next request is read once this one is answered, and gets the
    // same time.
    void finishAnswer()
    {
        answering_ = false;
        if (!keepAlive_)
            return closeGently();
        deadline_.start(front_.settings().requestDeadline);
        if (socket_->bytesAvailable() > 0)
            QTimer::singleShot(0, this, &HttpConnection::readRequest);
    }

    QTcpSocket* socket_;
    QString peer_;
    HttpFront& front_;
    QTimer deadline_;
    quint64 serial_ = 0;
    qint64 requestBytes_ = 0;
    qint64 neededBytes_ = 0;
    bool answering_ = false;
    bool keepAlive_ = true;
    bool refused_ = false;
    std::unique_ptr<QFile> file_;
};

HttpExchange::HttpExchange(HttpConnection* connection, quint64 serial, QString peer)
    : connection_(connection), serial_(serial), peer_(std::move(peer))
{
}

void HttpExchange::respond(HttpResponse response) const
{
    if (connection_)
        connection_->respond(serial_, std::move(response));
}

void HttpExchange::upgrade() const
{
    if (connection_)
        connection_->upgrade(serial_);
}

HttpFront::HttpFront(HttpFrontSettings settings, Handler handler, WebSocketHandler webSocketHandler)
    : settings_(std::move(settings)), handler_(std::move(handler)), webSocketHandler_(std::move(webSocketHandler)),
      webSockets_("orvandel-web", QWebSocketServer::NonSecureMode),
      occupancy_(std::make_shared<Occupancy>(Occupancy{.limit = settings_.connections}))
{
    connect(&webSockets_, &QWebSocketServer::newConnection, this, &HttpFront::acceptWebSockets);
}

void HttpFront::incomingConnection(qintptr descriptor)
{
    const QString peer = peerOf(descriptor);
    Occupancy& occupancy = *occupancy_;
    const int fromPeer = occupancy.perAddress.value(peer);
    if (fromPeer >= settings_.connectionsPerAddress) {
        if (occupancy.refused[peer]++ == 0)
            Log("refusing connections from " + peer.toStdString() + ": " + std::to_string(fromPeer)
                + " open from there");
        ::close(int(descriptor));
        return;
    }
    if (occupancy.open >= settings_.connections) {
        if (occupancy.refusedWhenFull++ == 0)
            Log("refusing connections from everywhere: " + std::to_string(occupancy.open) + " open");
        ::close(int(descriptor));
        return;
    }
    std::unique_ptr<QTcpSocket> socket;
    if (settings_.tls) {
        auto secure = std::make_unique<QSslSocket>();
        secure->setSslConfiguration(*settings_.tls);
        socket = std::move(secure);
    } else {
        socket = std::make_unique<QTcpSocket>();
    }
    if (!socket->setSocketDescriptor(descriptor)) {
        Log("cannot take a connection from " + peer.toStdString() + ": " + socket->errorString().toStdString());
        ::close(int(descriptor));
        return;
    }
    ++occupancy.perAddress[peer];
    ++occupancy.open;
    connect(socket.get(), &QObject::destroyed, [occupancy = occupancy_, peer] { occupancy->release(peer); });
    if (auto* secure = qobject_cast<QSslSocket*>(socket.get()))
        secure->startServerEncryption();
    new HttpConnection(socket.release(), peer, *this);
}

void HttpFront::Occupancy::release(const QString& peer)
{
    if (open-- == limit && refusedWhenFull > 0) {
        Log(std::to_string(std::exchange(refusedWhenFull, 0)) + " connections were refused while "
            + std::to_string(limit) + " were open");
    }
    if (--perAddress[peer] > 0)
        return;
    perAddress.remove(peer);
    if (const int count = refused.take(peer))
        Log(std::to_string(count) + " connections from " + peer.toStdString()
            + " were refused while it was at its limit");
}

// The WebSocket server answers the handshake that is still in the socket,
// and deletes the socket once it disconnects; the WebSocket made of it
// follows that.
void HttpFront::handOver(QTcpSocket* socket)
{
    socket->setParent(this);
    socket->setReadBufferSize(settings_.webSocketMessageBytes + 1024);
    // A live stream gains nothing from megabytes queued in the kernel for
    // a viewer who has stopped reading; it only notices later.
    socket->setSocketOption(QAbstractSocket::SendBufferSizeSocketOption, kWebSocketSendBuffer);
    webSockets_.handleConnection(socket);
}

void HttpFront::acceptWebSockets()
{
    while (webSockets_.hasPendingConnections()) {
        std::unique_ptr<QWebSocket> webSocket(webSockets_.nextPendingConnection());
        webSocket->setParent(nullptr);
        webSocket->setMaxAllowedIncomingMessageSize(quint64(settings_.webSocketMessageBytes));
        webSocket->setMaxAllowedIncomingFrameSize(quint64(settings_.webSocketMessageBytes));
        webSocketHandler_(std::move(webSocket));
    }
}

}  // namespace web
