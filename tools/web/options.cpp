#include "options.h"

namespace web {

namespace {

// PORT, or ADDRESS:PORT; also used for HOST[:BASEPORT] with a default port.
bool splitHostPort(const QString& text, QString& host, int& port, QString& error)
{
    const int colon = text.lastIndexOf(':');
    host = colon < 0 ? text : text.left(colon);
    if (colon < 0)
        return true;
    bool ok = false;
    port = text.mid(colon + 1).toInt(&ok);
    if (!ok || port <= 0 || port > 65535) {
        error = "\"" + text.mid(colon + 1) + "\" is not a port number";
        return false;
    }
    return true;
}

bool parseServer(const QString& text, LinkSettings& server, QString& error)
{
    QString host;
    int port = server.basePort;
    if (!splitHostPort(text, host, port, error))
        return false;
    if (host.isEmpty() || port > handheld::kMaxBasePort) {
        error = "--server wants HOST or HOST:BASEPORT with a base port up to "
            + QString::number(handheld::kMaxBasePort);
        return false;
    }
    server.host = host.toStdString();
    server.basePort = port;
    return true;
}

bool parseListen(const QString& text, GatewaySettings& settings, QString& error)
{
    bool isPort = false;
    const int port = text.toInt(&isPort);
    if (isPort && port > 0 && port <= 65535) {
        settings.port = quint16(port);
        return true;
    }
    QString host;
    int listenPort = 0;
    if (!splitHostPort(text, host, listenPort, error))
        return false;
    if (listenPort == 0 || settings.listenAddress.setAddress(host) == false) {
        error = "--listen wants PORT or ADDRESS:PORT, not \"" + text + "\"";
        return false;
    }
    settings.port = quint16(listenPort);
    return true;
}

}  // namespace

const char* usageText()
{
    return "Usage: orvandel-web [--server HOST[:BASEPORT]] [--listen [ADDRESS:]PORT]\n"
           "                    [--cert FILE --key FILE]\n"
           "\n"
           "Serves a web page that plays live TV from an Orvandel server in any\n"
           "browser, a phone's included. Toward the server it is a handheld: it logs\n"
           "in with the account the first viewer enters and streams over the\n"
           "handheld protocol. Every viewer shares that one session and its stream.\n"
           "\n"
           "  --server HOST[:BASEPORT]  the Orvandel server (default 127.0.0.1:7000)\n"
           "  --listen [ADDRESS:]PORT   where browsers connect (default port 8080 on\n"
           "                            every address)\n"
           "  --cert FILE --key FILE    serve HTTPS with this PEM certificate and key\n"
           "  --help                    this text\n"
           "\n"
           "Open http://THIS-PC:8080/ on the phone, log in with the Orvandel\n"
           "account, and pick a channel; #live/N in the address plays channel N.\n";
}

ParseResult parseArguments(const QStringList& arguments, GatewaySettings& settings, QString& error)
{
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& option = arguments[i];
        if (option == "--help" || option == "-h")
            return ParseResult::Help;
        const bool takesValue = option == "--server" || option == "--listen" || option == "--cert" || option == "--key";
        if (!takesValue) {
            error = "unknown option \"" + option + "\" (see --help)";
            return ParseResult::Error;
        }
        if (i + 1 >= arguments.size()) {
            error = option + " needs a value";
            return ParseResult::Error;
        }
        const QString& value = arguments[++i];
        bool ok = true;
        if (option == "--server")
            ok = parseServer(value, settings.server, error);
        else if (option == "--listen")
            ok = parseListen(value, settings, error);
        else if (option == "--cert")
            settings.certificateFile = value;
        else
            settings.keyFile = value;
        if (!ok)
            return ParseResult::Error;
    }
    if (settings.certificateFile.isEmpty() != settings.keyFile.isEmpty()) {
        error = "--cert and --key go together";
        return ParseResult::Error;
    }
    return ParseResult::Run;
}

}  // namespace web
