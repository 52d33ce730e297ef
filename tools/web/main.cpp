// orvandel-web: live TV from an Orvandel server in any browser.
#include "platform/log.h"
#include "options.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int gSignalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(gSignalPipe[1], &byte, 1);
}

// SIGTERM and Ctrl+C end the event loop, so that the server session ends
// with a StopStream and a Disconnect rather than a dropped connection.
void quitOnSignals(QCoreApplication& application)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, gSignalPipe) != 0)
        return;
    auto* notifier = new QSocketNotifier(gSignalPipe[0], QSocketNotifier::Read, &application);
    QObject::connect(notifier, &QSocketNotifier::activated, &application, &QCoreApplication::quit);
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    web::GatewaySettings settings;
    QString error;
    switch (web::parseArguments(application.arguments(), settings, error)) {
    case web::ParseResult::Help:
        std::fputs(web::usageText(), stdout);
        return 0;
    case web::ParseResult::Error:
        std::fprintf(stderr, "orvandel-web: %s\n", qPrintable(error));
        return 2;
    case web::ParseResult::Run:
        break;
    }
    quitOnSignals(application);
    web::Gateway gateway(settings);
    if (!gateway.listen(error)) {
        Log(error.toStdString());
        return 1;
    }
    const char* scheme = settings.certificateFile.isEmpty() ? "http" : "https";
    Log(std::string("serving ") + scheme + " on port " + std::to_string(gateway.port()) + " for the server at "
                 + settings.server.host + ":" + std::to_string(settings.server.basePort));
    return application.exec();
}
