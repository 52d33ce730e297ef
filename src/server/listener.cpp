#include "server/listener.h"

#include "shared/resources.h"
#include "shared/server_state.h"
#include "config/settings.h"
#include "encode/pipeline.h"
#include "net/connectivity.h"
#include "net/port_mapping_policy.h"
#include "platform/log.h"
#include "platform/messages.h"
#include "platform/sync.h"
#include "platform/socket_wait.h"
#include "server/net_state.h"
#include "server/sender.h"
#include "server/session_state.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <string>
#include <utility>
#include <vector>
#include <sys/socket.h>
#include <udt/udt.h>
#include <unistd.h>

namespace {

constexpr char kSupportAddress[] = "https://support.vantorel.net";
constexpr int kListenResultRestart = -2;
// A mapping run always ends, but a router that stalls every request can make
// it long: the start-up waits in slices, so that a stopping server is seen,
// and then goes on without the mappings.
constexpr int kPortMappingSliceMs = 500;
constexpr auto kPortMappingLimit = std::chrono::seconds(60);

int BasePort()
{
    return gSettings.record.basePort;
}

bool DirectoryEnabled()
{
    return gSettings.record.directoryDisabled == 0;
}

void SetIntOption(int socket, int level, int option)
{
    const int on = 1;
    ::setsockopt(socket, level, option, &on, sizeof on);
}

sockaddr_in SocketAddress(int port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = ListenAddress();
    address.sin_port = htons(static_cast<uint16_t>(port));
    return address;
}

void ShowConnectionTestFailure()
{
    const bool behindNat = gReachability.behindNat != 0;
    const int port = BasePort();
    std::string text = "Remote connection test failed!\r\n";
    text += behindNat ? "While you may still be able to connect from your mobile device within your LAN (e.g., via "
                        "Wifi), you may not be able to connect remotely (e.g., via 3G).\r\n\r\n"
                      : "You may not be able to connect to your PC from your mobile device.\r\n\r\n";
    char piece[1024];
    std::snprintf(piece, sizeof piece,
                  "Please configure any possible active firewall software on your PC to allow connections on ports "
                  "%d and %d or turn off the firewall.\r\n\r\n",
                  port, port + 1);
    text += piece;
    if (behindNat) {
        std::snprintf(piece, sizeof piece,
                      "In addition, your PC seems to be behind a router. Refer to your router's user manual to enable "
                      "UPNP or manually setup port forwarding on your router for IP address: %s and TCP ports: %d "
                      "and %d\r\n\r\n",
                      LocalAddress().c_str(), port, port + 1);
        text += piece;
    }
    text += "Once this is setup, restart Orvandel to repeat the connection test. If you need assistance, please "
            "contact us at ";
    text += kSupportAddress;
    if (text.size() > 1023)
        text.resize(1023);
    ShowMessage(text.c_str(), 1, 0);
}

// The control listening socket on P+1, or -1 after telling the user why not.
int OpenControlListener()
{
    int socket = ::socket(AF_INET, SOCK_STREAM, 0);
    if (socket < 0) {
        ShowMessage("Cannot open command socket.", 1, 0);
        return -1;
    }
    SetIntOption(socket, SOL_SOCKET, SO_REUSEADDR);
    SetIntOption(socket, IPPROTO_TCP, TCP_NODELAY);
    sockaddr_in address = SocketAddress(BasePort() + 1);
    if (::bind(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(socket);
        ShowMessage("Cannot bind command socket. Please verify that the selected connection ports are not already in "
                    "use. This may be the case if another version of Orvandel is already running.",
                    1, 0);
        return -1;
    }
    if (::listen(socket, 1) != 0) {
        ::close(socket);
        ShowMessage("Cannot listen on command socket.", 1, 0);
        return -1;
    }
    return socket;
}

int OpenTcpDataListener()
{
    int socket = ::socket(AF_INET, SOCK_STREAM, 0);
    if (socket < 0)
        return -1;
    SetIntOption(socket, SOL_SOCKET, SO_REUSEADDR);
    // The accepted connection inherits it. Without it, each chunk written
    // while the last one is unacknowledged waits for the handheld's delayed
    // acknowledgement: a fifth of a second on every live chunk.
    SetIntOption(socket, IPPROTO_TCP, TCP_NODELAY);
    sockaddr_in address = SocketAddress(BasePort());
    if (::bind(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(socket, 1) != 0) {
        Log("The TCP data port " + std::to_string(BasePort()) + " could not be opened for a handheld: " +
            std::strerror(errno));
        ::close(socket);
        return -1;
    }
    return socket;
}

// libudt keeps a just-closed listener's port busy, for binding and for
// listening: its collector frees the port on a one-second pass once three
// seconds have gone, so up to about six seconds, and far more on a busy
// machine. So the UDT data listener is opened at the first UDT negotiation
// and kept, unaccepting, until the listener ends: a handheld that reconnects
// never meets that hold. Only a new Start may, so the opening is tried again
// for well beyond it.
int TryOpenUdtDataListener()
{
    UDTSOCKET socket = UDT::socket(AF_INET, SOCK_STREAM, 0);
    if (socket == UDT::INVALID_SOCK)
        return -1;
    sockaddr_in address = SocketAddress(BasePort() + 2);
    const bool nonBlocking = false;
    if (UDT::bind(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) == UDT::ERROR ||
        UDT::listen(socket, 1) == UDT::ERROR ||
        UDT::setsockopt(socket, 0, UDT_RCVSYN, &nonBlocking, sizeof nonBlocking) == UDT::ERROR) {
        UDT::close(socket);
        return -1;
    }
    return socket;
}

int OpenUdtDataListener()
{
    constexpr auto kPortReleaseWait = std::chrono::seconds(12);
    const auto deadline = std::chrono::steady_clock::now() + kPortReleaseWait;
    int socket = TryOpenUdtDataListener();
    while (socket < 0 && IsServerRunning() && std::chrono::steady_clock::now() < deadline) {
        Sleep(100);
        socket = TryOpenUdtDataListener();
    }
    if (socket < 0)
        Log("The UDT data port " + std::to_string(BasePort() + 2) + " could not be opened for a handheld: " +
            UDT::getlasterror().getErrorMessage());
    return socket;
}

// The kept UDT data listener; only the listener thread touches it.
int udtDataListener = kInvalidSocket;

// The UDT data listener, ready for this negotiation: connections that came
// while nobody negotiated belong to no handheld and are closed.
int UdtDataListenerForNegotiation()
{
    if (udtDataListener == kInvalidSocket) {
        udtDataListener = OpenUdtDataListener();
        return udtDataListener;
    }
    for (UDTSOCKET stale; (stale = UDT::accept(udtDataListener, nullptr, nullptr)) != UDT::INVALID_SOCK;)
        UDT::close(stale);
    return udtDataListener;
}

void CloseUdtDataListener()
{
    if (udtDataListener != kInvalidSocket)
        UDT::close(std::exchange(udtDataListener, kInvalidSocket));
}

// Accepts the handheld's UDT data connection within the connection wait.
int AcceptUdt(int listener)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(ConnectionWaitSeconds());
    while (IsServerRunning() && std::chrono::steady_clock::now() < deadline) {
        UDTSOCKET accepted = UDT::accept(listener, nullptr, nullptr);
        if (accepted != UDT::INVALID_SOCK) {
            // Reads block as the session expects; the sender's writes must not,
            // so that it sees its stop flag while the handheld does not read,
            // and closing must not wait for such a handheld either.
            const bool blocking = true;
            const bool nonBlocking = false;
            const linger noLinger{0, 0};
            UDT::setsockopt(accepted, 0, UDT_RCVSYN, &blocking, sizeof blocking);
            UDT::setsockopt(accepted, 0, UDT_SNDSYN, &nonBlocking, sizeof nonBlocking);
            UDT::setsockopt(accepted, 0, UDT_LINGER, &noLinger, sizeof noLinger);
            return accepted;
        }
        if (UDT::getlasterror_code() != CUDTException::EASYNCRCV)
            return -1;
        Sleep(20);
    }
    return -1;
}

// Waits for a listening socket to become readable within timeoutMs, in
// short slices so that a Stop is seen at once: above 0 when ready.
int WaitWhileRunning(int socket, int timeoutMs)
{
    constexpr int kSliceMs = 250;
    for (int waited = 0; waited < timeoutMs && IsServerRunning(); waited += kSliceMs)
        if (int ready = WaitForSocket(socket, POLLIN, std::min(kSliceMs, timeoutMs - waited)); ready != 0)
            return ready;
    return 0;
}

int AcceptTcp(int listener)
{
    if (WaitWhileRunning(listener, ConnectionWaitSeconds() * 1000) <= 0)
        return -1;
    return ::accept(listener, nullptr, nullptr);
}

enum class Negotiation { Accepted, Retry, TestFailed };

// Opens the data connection in the transport the handheld chose.
Negotiation OpenDataConnection(int control, int& data)
{
    const bool udt = gNet.transport == kTransportUdt;
    const int listener = udt ? UdtDataListenerForNegotiation() : OpenTcpDataListener();
    if (listener < 0)
        return Negotiation::Retry;
    if (!udt)
        gNet.dataListenSocket = listener;
    const uint8_t ready = 0x01;
    if (SendAll(control, false, &ready, 1) != 0)
        return Negotiation::Retry;
    data = udt ? AcceptUdt(listener) : AcceptTcp(listener);
    if (data >= 0)
        return Negotiation::Accepted;
    Log("A handheld did not open its data connection in time.");
    return gNet.testPending && DirectoryEnabled() ? Negotiation::TestFailed : Negotiation::Retry;
}

void CloseTcpDataListener()
{
    CloseTcpSocket(TakeShared(gNet.dataListenSocket));
}

void StartSession(Tuner& tuner, int control, int data)
{
    if (!gNet.testPending) {
        SetConnected(true);
        UpdateStatusText();
    }
    gNet.sessionExit = 0;
    gNet.dataSocket = data;
    gNet.controlSocket = control;
    SetMessagesShown(false);
    if (!gNet.sessionThread.Start([&tuner] { return RunCommandSession(tuner); })) {
        Log("No thread could be started for the handheld's session.");
        CloseSessionSockets();
    } else if (!IsServerRunning()) {
        // A Stop that came during the negotiation found no session to end:
        // this one ends at once.
        EndSession();
    }
    gNet.testPending = 0;
    SetTesting(false);
    CloseTcpDataListener();
}

// When an unattended server may try the directory service again.
std::chrono::steady_clock::time_point nextDirectoryTry{};

bool DirectoryTryDue()
{
    return IsDirectoryUnreached() && std::chrono::steady_clock::now() >= nextDirectoryTry;
}

// An unattended server that found no directory service goes on serving the
// LAN, says so in its status line, and tries again a while later.
int CarryOnWithoutDirectory()
{
    if (!IsDirectoryUnreached())
        Log("The directory service could not be reached, so handhelds outside this network cannot find the server. "
            "Handhelds on this network connect by its address; the service is tried again every " +
            std::to_string(DirectoryRetrySeconds()) + " seconds.");
    SetDirectoryUnreached(true);
    SetTesting(false);
    SetInitializing(false);
    nextDirectoryTry = std::chrono::steady_clock::now() + std::chrono::seconds(DirectoryRetrySeconds());
    UpdateStatusText();
    return 0;
}

// Registers with the directory service and, when a connectivity test is
// due, waits for the tester. 0 to go on, or the listener's result.
int PrepareForHandheld(int controlListener)
{
    if (!DirectoryEnabled())
        return 0;
    // An empty user name would register nobody.
    if (!UserNameIsStored()) {
        static std::atomic<bool> told{false};
        if (!told.exchange(true))
            Log("No account is stored, so the server is not registered with the directory service. Record one with "
                "\"orvandel-setup account --user NAME --password-stdin --email ADDRESS\".");
        return 0;
    }
    if (IsDirectoryUnreached() && std::chrono::steady_clock::now() < nextDirectoryTry)
        return 0;
    (gNet.testPending ? SetTesting : SetInitializing)(true);
    UpdateStatusText();
    if (RegisterWithDirectory(gNet.testPending) != 0) {
        if (IsUnattended())
            return CarryOnWithoutDirectory();
        ShowMessage("Could not connect to Vantorel directory service. Please check your internet connection and then "
                    "select Start from Stream menu or press the antenna icon on the toolbar to retry the connection. "
                    "If you would like to run the server offline, disable Directory service from Networks "
                    "Settings->Advanced",
                    1, 0);
        return -1;
    }
    if (ClearDirectoryUnreached())
        Log("The directory service is reached again.");
    if (!gNet.testPending) {
        SetInitializing(false);
        UpdateStatusText();
        return 0;
    }
    if (WaitWhileRunning(controlListener, ConnectionWaitSeconds() * 1000) <= 0) {
        ShowConnectionTestFailure();
        gNet.testPending = 0;
        return kListenResultRestart;
    }
    return 0;
}

// Takes the newest handheld: it replaces the session in progress.
void ReplaceSession()
{
    if (gNet.controlSocket != kInvalidSocket || gNet.dataSocket != kInvalidSocket)
        EndSession();
    gNet.sessionThread.WaitForExit();
}

// Control connections accepted but not yet negotiated. Each has the
// connection wait to send its transport byte; meanwhile the listener keeps
// accepting, so a silent connection neither cuts off the session in
// progress nor keeps the next handheld out.
class WaitingConnections {
public:
    ~WaitingConnections()
    {
        for (const Waiting& waiting : waiting_)
            CloseTcpSocket(waiting.socket);
    }

    // The first connection to send its transport byte, or -1 when the
    // listener should look at its flags again (four times a second).
    int NextNegotiating(int listener, int8_t& transport)
    {
        std::vector<pollfd> watched{{listener, POLLIN, 0}};
        for (const Waiting& waiting : waiting_)
            watched.push_back({waiting.socket, POLLIN, 0});
        const int ready = ::poll(watched.data(), watched.size(), kSliceMs);
        if (ready > 0 && watched[0].revents)
            AcceptOne(listener);
        const int chosen = ready > 0 ? TakeReady(watched, transport) : -1;
        DropExpired();
        return chosen;
    }

private:
    struct Waiting {
        int socket;
        std::chrono::steady_clock::time_point deadline;
    };
    static constexpr int kSliceMs = 250;

    void AcceptOne(int listener)
    {
        const int control = ::accept(listener, nullptr, nullptr);
        if (control < 0) {
            if (IsServerRunning())
                Log(std::string("A control connection could not be accepted: ") + std::strerror(errno));
            Sleep(100);
            return;
        }
        SetIntOption(control, IPPROTO_TCP, TCP_NODELAY);
        waiting_.push_back({control, std::chrono::steady_clock::now() + std::chrono::seconds(ConnectionWaitSeconds())});
    }

    // Reads the byte of the first readable connection; one that closed or
    // failed instead is dropped.
    int TakeReady(const std::vector<pollfd>& watched, int8_t& transport)
    {
        for (size_t i = 1; i < watched.size(); ++i) {
            if (!watched[i].revents)
                continue;
            const int socket = watched[i].fd;
            std::erase_if(waiting_, [socket](const Waiting& waiting) { return waiting.socket == socket; });
            if (::recv(socket, &transport, 1, MSG_DONTWAIT) == 1)
                return socket;
            CloseTcpSocket(socket);
        }
        return -1;
    }

    void DropExpired()
    {
        const auto now = std::chrono::steady_clock::now();
        std::erase_if(waiting_, [now](const Waiting& waiting) {
            if (waiting.deadline > now)
                return false;
            Log("A control connection that sent nothing was closed.");
            CloseTcpSocket(waiting.socket);
            return true;
        });
    }

    std::vector<Waiting> waiting_;
};

// Hands a connection that has chosen its transport the session, after the
// last one ended. The address watcher does not register meanwhile.
Negotiation TakeHandheld(Tuner& tuner, int control, int8_t transport)
{
    std::lock_guard hold(gReachability.lock);
    ReplaceSession();
    gNet.transport = transport;
    int data = kInvalidSocket;
    const Negotiation negotiation = OpenDataConnection(control, data);
    if (negotiation == Negotiation::Accepted) {
        StartSession(tuner, control, data);
        return negotiation;
    }
    CloseTcpSocket(control);
    CloseTcpDataListener();
    if (negotiation == Negotiation::TestFailed) {
        ShowConnectionTestFailure();
        gNet.testPending = 0;
    }
    return negotiation;
}

int ServeHandhelds(Tuner& tuner, int controlListener)
{
    WaitingConnections waiting;
    while (IsServerRunning()) {
        {
            // The registration and the directory's connectivity test are
            // not interrupted by the address watcher's own registration.
            std::lock_guard hold(gReachability.lock);
            if (int prepared = PrepareForHandheld(controlListener); prepared != 0)
                return prepared;
        }
        int8_t transport = 0;
        int control = -1;
        while (IsServerRunning() && (control = waiting.NextNegotiating(controlListener, transport)) < 0 &&
               !DirectoryTryDue()) {
        }
        if (control < 0 && IsServerRunning())
            continue;
        if (control < 0)
            break;
        // Only a connection that has chosen its transport replaces the session.
        const Negotiation negotiation = TakeHandheld(tuner, control, transport);
        if (negotiation == Negotiation::TestFailed)
            return kListenResultRestart;
        if (negotiation != Negotiation::Accepted)
            Sleep(100);
    }
    return 0;
}

int ListenOnce(Tuner& tuner)
{
    int controlListener = OpenControlListener();
    if (controlListener < 0)
        return -1;
    gNet.controlListenSocket = controlListener;
    // Stop clears the flag before it closes the listening sockets: either it
    // closed this one, or the server is seen stopping here.
    if (!IsServerRunning()) {
        CloseTcpSocket(TakeShared(gNet.controlListenSocket));
        return 0;
    }
    SetTesting(false);
    SetConnected(false);
    int result = ServeHandhelds(tuner, controlListener);
    CloseTcpDataListener();
    CloseUdtDataListener();
    CloseTcpSocket(TakeShared(gNet.controlListenSocket));
    if (result == -1 && (gNet.controlSocket != kInvalidSocket || gNet.dataSocket != kInvalidSocket))
        EndSession();
    return result;
}

// Has the router forward the server's ports before the listener opens them.
void MapPortsOnRouter()
{
    gReachability.mappingEnded.Reset();
    PortMapping().StartPortMapping();
    const auto deadline = std::chrono::steady_clock::now() + kPortMappingLimit;
    bool ended = false;
    while (!ended && IsServerRunning() && std::chrono::steady_clock::now() < deadline)
        ended = gReachability.mappingEnded.Wait(kPortMappingSliceMs);
    if (!ended && IsServerRunning())
        Log("UPnP: the router took too long to map the ports; the server starts without waiting further.");
}

// With a server address set in the advanced settings, handhelds can only
// reach the server there: that address is also the one registered.
int ChooseServerAddress(std::string& local)
{
    const uint32_t configured = gSettings.record.listenAddress;
    if (configured == 0)
        return ChooseLocalAddress(local);
    const in_addr address{htonl(configured)};
    char text[INET_ADDRSTRLEN] = "";
    inet_ntop(AF_INET, &address, text, sizeof text);
    local = text;
    return IsPrivateAddress(local) ? 0 : 1;
}

} // namespace

void EndSession()
{
    // Shutting the connections down wakes the session's reads and fails the
    // sender's writes; the session thread closes them once it has ended.
    if (gNet.transport != kTransportUdt)
        ShutdownShared(gNet.dataSocket);
    ShutdownShared(gNet.controlSocket);
    // The stream is over from here, though the session thread stops its
    // pipeline only once it has woken.
    MarkStreamOver();
    StopHandheldSender();
    SetConnected(false);
    UpdateStatusText();
    gNet.sessionExit = 1;
}

uint32_t ListenAddress()
{
    // "Any" means every address, loopback included, so that a client on the
    // same PC reaches the server. The chosen local address is still what the
    // directory service and the router are told.
    return htonl(gSettings.record.listenAddress != 0 ? gSettings.record.listenAddress : INADDR_ANY);
}

int RunNetworkStartup(Tuner& tuner)
{
    SetDisconnected(false);
    UpdateStatusText();
    std::string local;
    {
        std::lock_guard hold(gReachability.lock);
        gReachability.behindNat = ChooseServerAddress(local) ? 0 : 1;
        SetLocalAddress(local);
    }
    if (gReachability.behindNat && !local.empty() && DirectoryEnabled())
        MapPortsOnRouter();
    if (gReachability.behindNat && local.empty() && DirectoryEnabled()) {
        std::string text = "Your PC does not seem to have an internet connection or Vantorel directory service server "
                           "is down.\r\nPlease check your connection settings and restart Orvandel.\r\nIf the problem "
                           "persists, please contact us at ";
        ShowMessage((text + kSupportAddress).c_str(), 1, 0);
        SetDisconnected(true);
        UpdateStatusText();
        return -1;
    }
    int result;
    while ((result = ListenOnce(tuner)) == kListenResultRestart) {
    }
    if (result == -1) {
        SetDisconnected(true);
        UpdateStatusText();
    }
    return result;
}
