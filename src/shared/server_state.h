#pragma once
// The server's state flags, readable and writable from any thread, and the
// status line built from them.

#include <cstddef>
#include <string>

// Each flag is set by the one that starts or stops what it names, and read
// from any thread.

// The connection to the handheld and the server's own start, which the
// status line shows first.
bool IsServerRunning();
void SetServerRunning(bool on);
bool IsConnected();
void SetConnected(bool on);
bool IsDisconnected();
void SetDisconnected(bool on);
bool IsConfiguringPorts();
void SetConfiguringPorts(bool on);
bool IsTesting();
void SetTesting(bool on);
bool IsInitializing();
void SetInitializing(bool on);
// The directory service could not be reached; the server serves the LAN
// meanwhile and keeps trying.
bool IsDirectoryUnreached();
void SetDirectoryUnreached(bool on);
// Clears it: whether it was set.
bool ClearDirectoryUnreached();

// What the capture pipeline does.
bool IsStreaming();
void SetStreaming(bool on);
// Set while the file transcoder writes a .tvs file instead of a stream.
bool IsFileEncoding();
void SetFileEncoding(bool on);
bool IsRecording();
void SetRecording(bool on);
// Set when the recording's file stopped it (full disk, write error);
// cleared by the next recording's start.
bool IsRecordingStoppedEarly();
void SetRecordingStoppedEarly(bool on);
bool IsMonitoring();
void SetMonitoring(bool on);
// Comparison periods still to wait before checks start: 10 at the start.
int MonitoringCountdown();
void SetMonitoringCountdown(int periods);
void CountDownMonitoring();
// Set by a detection; cleared when a handheld starts monitoring.
bool IsMotionDetected();
void SetMotionDetected(bool on);
// Sets it: whether it was set already.
bool MarkMotionDetected();
// Set while a capture graph runs.
bool IsCaptureRunning();
void SetCaptureRunning(bool on);

// The desktop's side.
// The "show" argument that capture, tuning and encoder code pass to
// ShowMessage: off after a silent start and during handheld sessions.
bool MessagesShown();
void SetMessagesShown(bool on);
// The user's own choice, to which MessagesShown returns after a session.
bool UserMessagesShown();
void SetUserMessagesShown(bool on);
// Started silent or without a screen: nobody sees a message or presses
// Start again, so the server must carry on by itself.
bool IsUnattended();
void SetUnattended(bool on);

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
