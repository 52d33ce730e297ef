#pragma once
// Window messages posted from any thread and handled on the GUI thread, and
// the one place through which every user-visible message box goes.

#include <cstdint>
#include <functional>
#include <string>

constexpr unsigned WM_APP = 0x8000;
constexpr unsigned kMsgRefresh = WM_APP + 3;
constexpr unsigned kMsgStartRecording = WM_APP + 6;
constexpr unsigned kMsgStopRecording = WM_APP + 7;
constexpr unsigned kMsgStatusText = WM_APP + 8;
constexpr unsigned kMsgAutoTuneDone = WM_APP + 9;
constexpr unsigned kMsgTrayIcon = WM_APP + 10;
// The current channel changed: show it in the channel number box.
constexpr unsigned kMsgChannelChanged = WM_APP + 12;
// The UPnP port-forwarding engine reports: wParam the notification code,
// lParam the progress value or the result.
constexpr unsigned kMsgPortForward = WM_APP + 14;
// An update check ended: the window thread tells the user what it found.
constexpr unsigned kMsgUpdateCheckDone = WM_APP + 13;

// The main frame, its view, and the recorder, which takes the requests to
// start (wParam: the channel) and stop a recording.
enum class MessageTarget { Frame, View, Recorder };

using MessageHandler = std::function<void(unsigned message, uintptr_t wParam, intptr_t lParam)>;

// Installs (or with an empty handler removes) the handler of a target. Call
// on the GUI thread.
void SetMessageHandler(MessageTarget target, MessageHandler handler);

// Queues a message for the target's handler on the GUI thread. Returns false
// when no GUI event loop exists to deliver it.
bool PostAppMessage(MessageTarget target, unsigned message, uintptr_t wParam = 0, intptr_t lParam = 0);

// Runs job on the GUI thread and waits for it: at once when called there
// (or when there is no GUI event loop at all), otherwise queued for it.
// False, with the job not run, when the GUI thread is closing or has not
// taken the job within timeoutMs.
bool CallOnWindowThread(std::function<void()> job, int timeoutMs);

// Hands a message to the target's handler on the GUI thread and waits until
// the handler has returned, within timeoutMs. False, with the message not
// handled, when the GUI thread is closing or did not take it in time: a
// request given up is never handled later.
bool SendAppMessage(MessageTarget target, unsigned message, uintptr_t wParam, intptr_t lParam, int timeoutMs);

// Runs work on a thread of its own and returns its result. Called on the
// GUI thread, that thread goes on serving events (timers, repaints, other
// threads' calls) until work has returned; elsewhere work simply runs.
int RunServingEvents(std::function<int()> work);

// Runs the queued calls that other threads wait for. The GUI thread calls it
// while it waits for another thread itself, so that neither waits for ever.
void ServeWindowThreadCalls();

// At shutdown: from now on calls are refused, and callers already waiting
// are released.
void CloseWindowThreadCalls();
bool WindowThreadClosing();

// Whether the calling thread is the GUI thread.
bool OnWindowThread();

// What a message box is made of; the program shows boxes, tests record them.
class MessageSink {
public:
    virtual ~MessageSink() = default;
    // An "Error!" box. A blocking box returns once dismissed; otherwise the
    // caller does not wait.
    virtual void Error(const std::string& text, bool blocking) = 0;
    virtual void Info(const std::string& text) = 0;
    // True for OK, false for Cancel.
    virtual bool Confirm(const std::string& text) = 0;
};

// The sink used from now on; nullptr restores the default, which only logs
// and consents to every question.
void SetMessageSink(MessageSink* sink);

constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;

// Shows text in an "Error!" box when show is nonzero; direct boxes block the
// caller, others are shown without waiting (the text is cut to 1023 chars).
// Every text is logged, shown or not.
void ShowMessage(const char* text, int show, int direct,
                 const char* callerFile = __builtin_FILE());
void ShowInfo(const char* text, int show, const char* callerFile = __builtin_FILE());
// IDOK or IDCANCEL.
int AskConfirm(const char* text, const char* callerFile = __builtin_FILE());
