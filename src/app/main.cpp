// Orvandel: streams live TV and media files to a handheld.

#include "app/main_frame.h"
#include "capture/tuner.h"
#include "app/qt_message_sink.h"
#include "app/startup.h"
#include "server/encode_file_dialog.h"

#include <QApplication>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};

void OnTerminationSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] ssize_t ignored = ::write(signalPipe[1], &byte, 1);
}

// SIGTERM and SIGINT close the main window, so that a service manager or a
// Ctrl+C ends the program as the user closing it would: settings saved,
// threads ended.
void CloseOnTerminationSignals(CMainFrame& frame)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0)
        return;
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &frame);
    QObject::connect(notifier, &QSocketNotifier::activated, &frame, [&frame, notifier] {
        char byte;
        [[maybe_unused]] ssize_t ignored = ::read(signalPipe[0], &byte, 1);
        notifier->setEnabled(false);
        frame.close();
    });
    struct sigaction action {};
    action.sa_handler = OnTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
}

bool HasSilentSwitch(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i)
        if (std::strstr(argv[i], "/u"))
            return true;
    return false;
}

// A service or a login over ssh may have no XDG_RUNTIME_DIR; Qt then warns
// on standard error before it uses a folder of its own. The same folder is
// made here, for the user alone, so that a headless start prints no fault.
void ProvideRuntimeDir()
{
    if (std::getenv("XDG_RUNTIME_DIR"))
        return;
    const std::string folder = "/tmp/runtime-" + std::to_string(::getuid());
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        return;
    struct stat status {};
    if (::stat(folder.c_str(), &status) == 0 && status.st_uid == ::getuid() && (status.st_mode & 077) == 0)
        ::setenv("XDG_RUNTIME_DIR", folder.c_str(), 0);
}

} // namespace

int main(int argc, char** argv)
{
    ProvideRuntimeDir();
    QApplication app(argc, argv);
    QApplication::setApplicationName("Orvandel");
    QApplication::setQuitOnLastWindowClosed(false);
    // Without a screen nobody could answer a box: messages go to standard
    // error and questions are taken as consent.
    QtMessageSink messageSink;
    SetHeadless(QGuiApplication::platformName() == "offscreen");
    if (!RunningHeadless())
        SetMessageSink(&messageSink);

    const bool silent = HasSilentSwitch(argc, argv);
    int exitCode = 1;
    {
        Tuner tuner;
        CMainFrame frame(tuner, silent);
        if (frame.OnCreate() != 0) {
            SetMessageSink(nullptr);
            return 1;
        }
        CloseOnTerminationSignals(frame);
        if (silent)
            frame.showMinimized();
        else
            frame.show();
        exitCode = app.exec();
        // A .tvs file being encoded is finished, shorter but whole, while
        // the buffers its threads use still exist.
        qDeleteAll(frame.findChildren<CFileOutput*>());
        ShutdownProcess(tuner);
    }
    SetMessageSink(nullptr);
    return exitCode;
}
