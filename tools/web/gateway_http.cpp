// The gateway's HTTP side: the page's files, login and logout, the stream's
// upgrade and the downloads, behind the bounded front.
#include "gateway.h"

#include "platform/log.h"

#include <QFile>
#include <QJsonDocument>
#include <QSslCertificate>
#include <QSslKey>
#include <QTimer>
#include <QWebSocket>

namespace web {

namespace {

struct PageFile {
    const char* name;
    const char* mimeType;
};

constexpr PageFile kPageFiles[] = {
    {"index.html", "text/html; charset=utf-8"},
    {"app.js", "text/javascript; charset=utf-8"},
    {"films.js", "text/javascript; charset=utf-8"},
    {"guide.js", "text/javascript; charset=utf-8"},
    {"player.js", "text/javascript; charset=utf-8"},
    {"recorder.js", "text/javascript; charset=utf-8"},
    {"schedules.js", "text/javascript; charset=utf-8"},
    {"subtitles.js", "text/javascript; charset=utf-8"},
    {"style.css", "text/css; charset=utf-8"},
    {"icon.svg", "image/svg+xml"},
};

HttpResponse json(int status, const QJsonObject& object)
{
    return HttpResponse{.status = status,
                        .contentType = "application/json",
                        .body = QJsonDocument(object).toJson(QJsonDocument::Compact)};
}

HttpResponse error(int status, const char* sentence)
{
    return json(status, QJsonObject{{"error", sentence}});
}

QByteArray bytes(std::string_view text)
{
    return QByteArray(text.data(), qsizetype(text.size()));
}

// A header as the log shows it: anyone may send one of 16 KB.
std::string forLog(std::string_view header)
{
    constexpr size_t kMostShown = 100;
    return header.size() <= kMostShown ? std::string(header) : std::string(header.substr(0, kMostShown)) + "...";
}

// The page posts JSON; a form of another site can only post text or form
// fields, so anything else is refused before the Origin is even looked at.
bool isJson(std::string_view contentType)
{
    const std::string_view type = contentType.substr(0, contentType.find(';'));
    return type == "application/json";
}

std::optional<QSslConfiguration> loadTls(const GatewaySettings& settings, QString& error)
{
    if (settings.certificateFile.isEmpty())
        return std::nullopt;
    QFile certificateFile(settings.certificateFile);
    QFile keyFile(settings.keyFile);
    for (QFile* file : {&certificateFile, &keyFile}) {
        if (!file->open(QIODevice::ReadOnly)) {
            error = "cannot read " + file->fileName() + ": " + file->errorString();
            return std::nullopt;
        }
    }
    const QSslCertificate certificate(&certificateFile, QSsl::Pem);
    const QByteArray keyText = keyFile.readAll();
    QSslKey key(keyText, QSsl::Rsa, QSsl::Pem);
    if (key.isNull())
        key = QSslKey(keyText, QSsl::Ec, QSsl::Pem);
    if (certificate.isNull() || key.isNull()) {
        error = "no PEM certificate in " + settings.certificateFile + " or no PEM key in " + settings.keyFile;
        return std::nullopt;
    }
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.setLocalCertificate(certificate);
    tls.setPrivateKey(key);
    tls.setPeerVerifyMode(QSslSocket::VerifyNone);
    return tls;
}

}  // namespace

bool Gateway::listen(QString& error)
{
    HttpFrontSettings front;
    front.tls = loadTls(settings_, error);
    if (!error.isEmpty())
        return false;
    front.commonHeaders = {
        {"Content-Security-Policy", "default-src 'self'; media-src 'self' blob:; img-src 'self' data:; "
                                    "connect-src 'self'; frame-ancestors 'none'"},
        {"X-Content-Type-Options", "nosniff"},
        {"Cache-Control", "no-store"},
    };
    front_ = std::make_unique<HttpFront>(
        std::move(front), [this](const HttpRequest& request, const HttpExchange& exchange) { route(request, exchange); },
        [this](std::unique_ptr<QWebSocket> socket) { acceptViewer(std::move(socket)); });
    if (!front_->listen(settings_.listenAddress, settings_.port)) {
        error = "cannot listen on " + settings_.listenAddress.toString() + " port " + QString::number(settings_.port)
                + ": " + front_->errorString();
        return false;
    }
    port_ = front_->serverPort();
    return true;
}

void Gateway::route(const HttpRequest& request, const HttpExchange& exchange)
{
    const std::string_view path = request.path;
    const bool get = request.method == "GET";
    const bool post = request.method == "POST";
    if (path == "/api/login" && post)
        return login(request, exchange);
    if (path == "/stream" && get)
        return upgrade(request, exchange);
    HttpResponse response = HttpResponse::text(405, "Method Not Allowed");
    if (path == "/api/logout" && post)
        response = logout(request);
    else if (path == "/api/session" && get)
        response = HttpResponse{.status = logins_.admit(bytes(request.header("cookie")), std::chrono::system_clock::now())
                                              ? 204 : 401};
    else if (path.starts_with("/downloads/") && get)
        response = downloadFile(path.substr(std::string_view("/downloads/").size()), request);
    else if (get)
        response = page(path == "/" ? "index.html" : path.substr(1));
    exchange.respond(std::move(response));
}

HttpResponse Gateway::page(std::string_view name) const
{
    for (const PageFile& file : kPageFiles) {
        if (name != file.name)
            continue;
        QFile resource(QStringLiteral(":/page/") + file.name);
        if (!resource.open(QIODevice::ReadOnly))
            break;
        return HttpResponse{.contentType = file.mimeType, .body = resource.readAll()};
    }
    return HttpResponse::text(404, "Not Found");
}

bool Gateway::fromOwnPage(const HttpRequest& request) const
{
    const std::string scheme = secure() ? "https://" : "http://";
    const std::string_view host = request.header("host");
    return !host.empty() && request.header("origin") == scheme + std::string(host);
}

// The answer waits for the slowdown after wrong passwords on a timer, and
// for the server on the link's thread: nothing that waits holds a thread
// that another login needs.
void Gateway::login(const HttpRequest& request, const HttpExchange& exchange)
{
    const QString& peer = exchange.peer();
    if (!isJson(request.header("content-type")) || !fromOwnPage(request)) {
        Log("refused a login from " + peer.toStdString() + ": not the page's own JSON (origin \""
            + forLog(request.header("origin")) + "\")");
        return exchange.respond(error(403, "Log in from the page."));
    }
    const QJsonObject body = QJsonDocument::fromJson(bytes(request.body)).object();
    const Account account{body.value("user").toString().toStdString(),
                          body.value("password").toString().toStdString()};
    const std::optional<int> delayMs = logins_.begin(peer);
    if (!delayMs)
        return exchange.respond(error(429, "A login from here is still being checked; try again in a moment."));
    QTimer::singleShot(*delayMs, this, [this, account, exchange] {
        link_->login(account, [this, user = account.user, exchange](LoginAnswer answer) {
            QMetaObject::invokeMethod(this, [=, this] { finishLogin(user, exchange, answer); });
        });
    });
}

void Gateway::finishLogin(const std::string& user, const HttpExchange& exchange, LoginAnswer answer)
{
    logins_.end(exchange.peer(), answer == LoginAnswer::Accepted  ? LoginOutcome::Accepted
                                 : answer == LoginAnswer::Refused ? LoginOutcome::Refused
                                                                  : LoginOutcome::Unanswered);
    if (answer == LoginAnswer::Unreachable)
        return exchange.respond(error(503, "The server is not reachable"));
    if (answer == LoginAnswer::Refused) {
        Log("a login from " + exchange.peer().toStdString() + " failed: wrong user name or password");
        return exchange.respond(error(401, "Wrong user name or password."));
    }
    HttpResponse response = json(200, QJsonObject{{"user", QString::fromStdString(user)}});
    response.headers.emplace_back("Set-Cookie", Logins::setCookie(logins_.open(std::chrono::system_clock::now()), secure()));
    exchange.respond(std::move(response));
}

// The token ends here, and so do the streams opened with it.
HttpResponse Gateway::logout(const HttpRequest& request)
{
    if (!fromOwnPage(request))
        return error(403, "Log out from the page.");
    const QByteArray token = logins_.close(bytes(request.header("cookie")));
    if (!token.isEmpty())
        for (auto& viewer : viewers_)
            if (viewer->token == token)
                closeViewer(*viewer, "logged out");
    HttpResponse response{.status = 204};
    response.headers.emplace_back("Set-Cookie", Logins::setCookie("", secure())
                                                    + "; Max-Age=0");
    return response;
}

// Only pages of this gateway, logged in: a page of another site cannot
// open the stream with the viewer's cookie.
void Gateway::upgrade(const HttpRequest& request, const HttpExchange& exchange)
{
    const bool admitted = request.upgradesToWebSocket() && fromOwnPage(request)
                          && logins_.admit(bytes(request.header("cookie")), std::chrono::system_clock::now());
    if (admitted)
        return exchange.upgrade();
    Log("refused a stream connection from " + exchange.peer().toStdString() + " (origin \""
        + forLog(request.header("origin")) + "\"): not logged in, or from another site");
    exchange.respond(HttpResponse::text(403, "Log in first"));
}

HttpResponse Gateway::downloadFile(std::string_view id, const HttpRequest& request)
{
    if (!logins_.admit(bytes(request.header("cookie")), std::chrono::system_clock::now()))
        return HttpResponse::text(401, "Log in first");
    if (!download_ || id != std::to_string(download_->id()) || !download_->written())
        return HttpResponse::text(404, "Not Found");
    HttpResponse response{.contentType = "video/mp4", .file = download_->file()};
    // A film's name may hold anything; the header gets a safe copy.
    QByteArray name = download_->name().toUtf8();
    for (char& byte : name)
        if (byte == '"' || byte == '\\' || (byte >= 0 && byte < 0x20) || byte == 0x7f)
            byte = '_';
    response.headers.emplace_back("Content-Disposition", "attachment; filename=\"" + name + "\"");
    return response;
}

}  // namespace web
