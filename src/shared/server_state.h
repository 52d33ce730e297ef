#pragma once
// The server's state flags, readable and writable from any thread, and the
// status line built from them.

#include <atomic>
#include <string>

struct ServerState {
    std::atomic<int> streaming{0};
    // Set while the file transcoder writes a .tvs file instead of a stream.
    std::atomic<int> fileEncoding{0};
    std::atomic<int> connected{0};
    std::atomic<int> disconnected{1};
    std::atomic<int> configuringPorts{0};
    std::atomic<int> testing{0};
    std::atomic<int> initializing{0};
    std::atomic<int> recording{0};
    // Set when the recording's file stopped it (full disk, write error);
    // cleared by the next recording's start.
    std::atomic<int> recordingStoppedEarly{0};
    std::atomic<int> monitoring{0};
    // Comparison periods still to wait before checks start: 10 at the start.
    std::atomic<int> monitoringCountdown{0};
    // Set by a detection; cleared when a handheld starts monitoring.
    std::atomic<int> motionDetected{0};
    std::atomic<int> running{0};
    std::atomic<int> firstRun{0};
    // The "show" argument that capture, tuning and encoder code pass to
    // ShowMessage: 0 after a silent start and during handheld sessions.
    std::atomic<int> showMessages{1};
    // The user's own choice, to which showMessages returns after a session.
    std::atomic<int> userShowMessages{1};
    // The main view's preview window and its audio.
    std::atomic<int> previewVisible{0};
    std::atomic<int> previewMuted{1};
    // Set while a capture graph runs.
    std::atomic<int> captureRunning{0};
    // Set while auto-tune scans the tuner of the capture options' graph: no
    // stream, recording or monitoring may rebuild that graph meanwhile.
    std::atomic<int> scanningTuner{0};
    // Started silent or without a screen: nobody sees a message or presses
    // Start again, so the server must carry on by itself.
    std::atomic<int> unattended{0};
    // The directory service could not be reached; the server serves the LAN
    // meanwhile and keeps trying.
    std::atomic<int> directoryUnreached{0};
};

extern ServerState gState;

// Back to the start-up state: stopped, nothing running.
void ResetServerState();

// Tells the user why a set-up step failed, through the message-display
// switch (and always in the log, tagged with the caller's subsystem);
// returns -1 for the caller to pass on.
int ShowFailure(const char* text, const char* callerFile = __builtin_FILE());

constexpr size_t kStatusTextSize = 128;

// Rebuilds the status line and tells the main frame it changed.
void UpdateStatusText();
std::string StatusText();
