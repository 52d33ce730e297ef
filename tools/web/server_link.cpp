#include "server_link.h"

#include "bytes.h"
#include "hex.h"
#include "platform/log.h"

#include <arpa/inet.h>
#include <ifaddrs.h>

#include <algorithm>
#include <array>
#include <fstream>
#include <sstream>

namespace web {

using namespace handheld;

namespace {

constexpr Millis kRequestTimeout{10000};
constexpr Millis kIdlePoll{200};
// Between two streams on one data connection the old stream's last bytes
// arrive right behind the StopStream reply; a longer wait only delays the
// next channel.
constexpr Millis kZapQuiet{100};
constexpr Millis kFirstBackoff{500};
constexpr Millis kLongestBackoff{4000};
// A server that shuts down ends its sessions a moment before it closes its
// listening socket; one that only let another handheld in keeps listening.
constexpr Millis kListenerWatch{1500};
constexpr Millis kListenerPoll{100};
constexpr int32_t kRequestedKbps = 256;

// Account texts are compared whole, whatever their content, so that the
// time a login takes says nothing about how much of it was right.
bool sameAccount(const Account& a, const Account& b)
{
    auto fixed = [](const std::string& text) {
        std::array<uint8_t, kLoginFieldSize + 1> field{};
        field[0] = uint8_t(std::min<size_t>(text.size(), 255));
        std::copy_n(text.begin(), std::min(text.size(), kLoginFieldSize), field.begin() + 1);
        return field;
    };
    const auto fields = {std::pair(fixed(a.user), fixed(b.user)), std::pair(fixed(a.password), fixed(b.password))};
    uint8_t difference = 0;
    for (const auto& [left, right] : fields)
        for (size_t i = 0; i < left.size(); ++i)
            difference |= uint8_t(left[i] ^ right[i]);
    return difference == 0;
}

std::vector<in_addr_t> localAddresses()
{
    std::vector<in_addr_t> addresses{htonl(INADDR_LOOPBACK)};
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0)
        return addresses;
    for (const ifaddrs* entry = list; entry; entry = entry->ifa_next)
        if (entry->ifa_addr && entry->ifa_addr->sa_family == AF_INET)
            addresses.push_back(reinterpret_cast<const sockaddr_in*>(entry->ifa_addr)->sin_addr.s_addr);
    ::freeifaddrs(list);
    return addresses;
}

bool listensOn(int port)
{
    // Rows of /proc/net/tcp: "sl local_address rem_address st ...", with the
    // port in hexadecimal after the colon and state 0A for LISTEN.
    std::ifstream table("/proc/net/tcp");
    std::string line;
    std::getline(table, line);
    while (std::getline(table, line)) {
        std::istringstream row(line);
        std::string slot, local, remote, state;
        row >> slot >> local >> remote >> state;
        const auto colon = local.find(':');
        if (state == "0A" && colon != std::string::npos && std::stoi(local.substr(colon + 1), nullptr, 16) == port)
            return true;
    }
    return false;
}

// Whether a TCP socket of this machine listens on the port: tells a server
// that ended our session for another handheld from one that went away,
// without a connection that would end that handheld's session in turn.
std::optional<bool> localListener(const std::string& host, int port)
{
    sockaddr_in address{};
    std::string error;
    if (!resolveHost(host, port, address, error))
        return std::nullopt;
    const auto local = localAddresses();
    if (std::find(local.begin(), local.end(), address.sin_addr.s_addr) == local.end()
        && (ntohl(address.sin_addr.s_addr) >> 24) != 127)
        return std::nullopt;
    return listensOn(port);
}

}  // namespace

struct ServerLink::Command {
    enum Kind { Login, Play, Stop, Browse, Describe, Ask } kind;
    StreamSource source{};
    Account account{};
    std::function<void(LoginAnswer)> loginAnswer{};
    std::string path{};
    std::function<void(FolderAnswer)> folderAnswer{};
    std::function<void(FileAnswer)> fileAnswer{};
    uint8_t request = 0;
    Bytes payload{};
    std::function<void(Answer)> askAnswer{};
};

ServerLink::ServerLink(LinkSettings settings, LinkEvents events)
    : settings_(std::move(settings)), events_(std::move(events)), thread_(&ServerLink::run, this)
{
}

ServerLink::~ServerLink()
{
    close();
}

void ServerLink::close()
{
    {
        std::lock_guard lock(mutex_);
        if (stopping_)
            return;
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
    std::lock_guard lock(mutex_);
    for (Command& command : commands_)
        if (command.loginAnswer)
            command.loginAnswer(LoginAnswer::Unreachable);
    commands_.clear();
}

void ServerLink::login(const Account& account, std::function<void(LoginAnswer)> answer)
{
    post(Command{.kind = Command::Login, .account = account, .loginAnswer = std::move(answer)});
}

void ServerLink::play(StreamSource source)
{
    post(Command{.kind = Command::Play, .source = std::move(source)});
}

void ServerLink::stop()
{
    post(Command{.kind = Command::Stop});
}

void ServerLink::browse(std::string path, bool subtitles, std::function<void(FolderAnswer)> answer)
{
    post(Command{.kind = Command::Browse,
                 .path = std::move(path),
                 .folderAnswer = std::move(answer),
                 .request = subtitles ? command::ListSubtitleFolder : command::ListMediaFolder});
}

void ServerLink::describe(std::string path, std::function<void(FileAnswer)> answer)
{
    post(Command{.kind = Command::Describe, .path = std::move(path), .fileAnswer = std::move(answer)});
}

void ServerLink::ask(uint8_t command, Bytes payload, std::function<void(Answer)> answer)
{
    post(Command{.kind = Command::Ask, .request = command, .payload = std::move(payload), .askAnswer = std::move(answer)});
}

// A login, a channel change or a stop goes before the catalogue's and the
// other requests: a viewer who asks for much must not hold up the others.
// Only the last channel change or stop still waiting counts.
void ServerLink::post(Command command)
{
    const auto isControl = [](const Command& each) {
        return each.kind == Command::Login || each.kind == Command::Play || each.kind == Command::Stop;
    };
    const auto isStream = [](const Command& each) { return each.kind == Command::Play || each.kind == Command::Stop; };
    {
        std::lock_guard lock(mutex_);
        if (!stopping_) {
            if (isStream(command))
                std::erase_if(commands_, isStream);
            const auto at = isControl(command) ? std::find_if_not(commands_.begin(), commands_.end(), isControl)
                                               : commands_.end();
            commands_.insert(at, std::move(command));
            wake_.notify_all();
            return;
        }
    }
    if (command.loginAnswer)
        command.loginAnswer(LoginAnswer::Unreachable);
}

void ServerLink::run()
{
    for (;;) {
        std::optional<Command> command;
        {
            std::unique_lock lock(mutex_);
            wake_.wait_for(lock, kIdlePoll, [this] { return stopping_ || !commands_.empty(); });
            if (stopping_)
                break;
            if (!commands_.empty()) {
                command = std::move(commands_.front());
                commands_.pop_front();
            }
        }
        if (command)
            handle(*command);
        checkSession();
        reconnectWhenDue();
    }
    stopStream(Millis(0));
    if (commander_) {
        const uint8_t request[] = {kFrameMarker, command::Disconnect};
        session_->control.sendAll(request);
    }
}

void ServerLink::handle(Command& command)
{
    switch (command.kind) {
    case Command::Login:
        handleLogin(command.account, command.loginAnswer);
        return;
    case Command::Play:
        wanted_ = command.source;
        if (!session_ && account_)
            openSession(*account_);
        else if (session_)
            startStream();
        return;
    case Command::Stop:
        wanted_.reset();
        stopStream(kZapQuiet);
        if (session_)
            setState(LinkState::Ready);
        return;
    case Command::Browse:
    case Command::Describe:
        handleCatalogue(command);
        return;
    case Command::Ask:
        handleAsk(command);
        return;
    }
}

// The requests go on the session's control connection between the stream's
// own. A request that got no answer loses the session: a late answer would
// be taken for the next request's.
void ServerLink::handleCatalogue(Command& command)
{
    const bool browsing = command.kind == Command::Browse;
    FolderAnswer folder;
    FileAnswer file;
    std::string& error = browsing ? folder.error : file.error;
    Asked asked = Asked::Unanswered;
    if (!commander_)
        error = "the server is not reachable";
    else if (browsing)
        asked = listFolder(*commander_, command.request, command.path, folder.entries, error);
    else
        asked = describeFile(*commander_, command.path, file.info, error);
    if (!error.empty())
        log("\"" + command.path + "\": " + error);
    if (browsing)
        command.folderAnswer(std::move(folder));
    else
        command.fileAnswer(std::move(file));
    if (commander_ && asked == Asked::Unanswered)
        sessionLost(error);
}

void ServerLink::handleAsk(Command& command)
{
    Answer answer;
    if (!commander_) {
        answer.error = "the server is not reachable";
    } else if (!commander_->exchange(command.request, command.payload, answer.reply)) {
        answer.error = "the server did not answer";
    } else if (command.request == command::ListSchedules && answer.reply.code == command::ListSchedules) {
        // The list follows a second after the reply, and not at all when empty.
        const int32_t length = getLeInt32(answer.reply.body.data());
        if (length < 0 || length > int32_t(kScheduleRecordSize * kScheduleSlots))
            answer.error = "the schedule list has a wrong length";
        else if (length > 0 && !commander_->receiveBlock(size_t(length), answer.block))
            answer.error = "the schedule list did not arrive";
    }
    const std::string error = answer.error;
    command.askAnswer(std::move(answer));
    if (error.empty())
        return;
    log("request " + hexCode(command.request) + ": " + error);
    if (commander_)
        sessionLost(error);
}

void ServerLink::handleLogin(const Account& account, const std::function<void(LoginAnswer)>& answer)
{
    if (account_) {
        answer(sameAccount(account, *account_) ? LoginAnswer::Accepted : LoginAnswer::Refused);
        return;
    }
    answer(openSession(account));
}

LoginAnswer ServerLink::openSession(const Account& account)
{
    setState(LinkState::Connecting);
    auto session = std::make_unique<Session>();
    std::string error;
    const SessionSettings settings{settings_.host, settings_.basePort, kTransportTcp, kRequestTimeout};
    if (!handheld::openSession(settings, *session, error)) {
        sessionLost(error);
        return LoginAnswer::Unreachable;
    }
    session_ = std::move(session);
    commander_ = std::make_unique<Commander>(*session_, [this](const std::string& text) { log(text); });
    const Bytes payload = buildLoginPayload(account.user, account.password, randomLoginMask(), kDefaultCompatMask);
    Reply reply;
    if (!commander_->exchange(command::Login, payload, reply, kThrottledLoginWait)) {
        sessionLost("the login got no answer");
        return LoginAnswer::Unreachable;
    }
    const auto result = int8_t(reply.body[0]);
    if (reply.code != command::Login || result != 0) {
        log(std::string("the server refused the login of ") + account.user + ": " + loginResultText(result));
        commander_.reset();
        session_.reset();
        // A password changed on the server: the next viewer's login brings it.
        account_.reset();
        setState(LinkState::Offline, "The server refused the account");
        return LoginAnswer::Refused;
    }
    account_ = account;
    backoff_ = Millis(0);
    if (!fetchChannels())
        return LoginAnswer::Unreachable;
    setState(LinkState::Ready);
    if (wanted_)
        startStream();
    return LoginAnswer::Accepted;
}

bool ServerLink::fetchChannels()
{
    Reply reply;
    std::vector<ChannelEntry> channels;
    std::string error = "the channel list got no answer";
    if (!commander_->exchange(command::ListChannels, {}, reply)
        || (reply.code == command::ListChannels && !receiveChannels(*commander_, reply, channels, error))) {
        sessionLost(error);
        return false;
    }
    events_.channels(channels);
    return true;
}

void ServerLink::startStream()
{
    stopStream(kZapQuiet);
    StreamRequest request;
    request.profile = wanted_->profile;
    request.bitrateKbps = kRequestedKbps;
    request.codec = kCodecH264;
    const std::optional<Reply> reply = wanted_->isFile() ? requestFile(request) : requestChannel(request);
    if (!reply)
        return;
    const StreamHeader header = decodeStreamHeader(reply->body);
    sink_ = events_.streamSink(*wanted_, header);
    if (!sink_) {
        stopStream(kZapQuiet);
        setState(LinkState::StartFailed);
        return;
    }
    const StreamLayout layout{header.hasVideo(), header.hasAudio(), session_->markerExpected()};
    receiver_ = std::make_unique<StreamReceiver>(*session_->data, layout, *sink_, kRequestTimeout);
    receiver_->start();
    setState(LinkState::Playing);
}

std::optional<Reply> ServerLink::requestChannel(StreamRequest request)
{
    request.channel = wanted_->channel;
    request.captions = wanted_->captions ? 1 : 0;
    Reply reply;
    if (!commander_->exchange(command::StartLiveStream, buildStreamPayload(request), reply)) {
        sessionLost("StartLiveStream got no answer");
        return std::nullopt;
    }
    if (reply.code != command::StartLiveStream) {
        log("the server could not start channel " + std::to_string(request.channel));
        setState(LinkState::StartFailed);
        return std::nullopt;
    }
    return reply;
}

// A refusal at any step fails the start; a step that got no answer loses
// the session.
std::optional<Reply> ServerLink::requestFile(StreamRequest request)
{
    const std::string& path = wanted_->file;
    auto refused = [this, &path](const std::string& reason) {
        log("\"" + path + "\" cannot be played: " + reason);
        setState(LinkState::StartFailed, "This file is not available");
        return std::nullopt;
    };
    FileInfo info;
    std::string error;
    if (const Asked asked = describeFile(*commander_, path, info, error); asked != Asked::Answered) {
        if (asked == Asked::Unanswered)
            sessionLost(error);
        return asked == Asked::Refused ? refused(error) : std::nullopt;
    }
    chooseSubtitles(info, request);
    request.audioNumber = int8_t(wanted_->audioStream);
    request.startSeconds = wanted_->startSeconds;
    const std::string& subtitleFile = wanted_->subtitleFile;
    const std::pair<uint8_t, Bytes> steps[] = {
        {command::SetSubtitleFile, buildPathPayload(subtitleFile)},
        {command::SetMediaFile, buildPathPayload(path)},
        {command::StartFileStream, buildStreamPayload(request)},
    };
    Reply reply;
    for (const auto& [step, payload] : steps) {
        if (step == command::SetSubtitleFile && subtitleFile.empty())
            continue;
        if (!commander_->exchange(step, payload, reply)) {
            sessionLost("request " + hexCode(step) + " got no answer");
            return std::nullopt;
        }
        if (reply.code != step)
            return refused("the server refused request " + hexCode(step));
    }
    return reply;
}

// The description has made the companion file, when there is one, the
// server's subtitle file, and another file chosen takes its place: any
// subtitle number then has that file loaded, instead of a stream of the
// file's own.
void ServerLink::chooseSubtitles(const FileInfo& info, StreamRequest& request) const
{
    const StreamSource& source = *wanted_;
    const bool companion = std::any_of(info.streams.begin(), info.streams.end(), [](const FileInfoStream& stream) {
        return stream.text.starts_with(kCompanionSubtitlePrefix);
    });
    if (!source.subtitleFile.empty())
        request.subtitleNumber = 0;
    else if (source.subtitleStream >= 0)
        request.subtitleNumber = int8_t(source.subtitleStream);
    else
        request.subtitleNumber = source.subtitleStream == kCompanionSubtitles && companion ? 0 : -1;
}

void ServerLink::stopStream(Millis quiet)
{
    if (!receiver_)
        return;
    // A sink that holds a file back lets go first: the server's sender,
    // blocked on the full connection meanwhile, would hold up the answer.
    sink_->stop();
    Reply reply;
    if (commander_ && !commander_->exchange(command::StopStream, {}, reply))
        quiet = Millis(0);
    receiver_->finish(quiet);
    if (receiver_->outcome() == StreamEnd::Failed)
        log("the stream ended: " + receiver_->error());
    receiver_.reset();
    sink_.reset();
}

void ServerLink::checkSession()
{
    if (!session_)
        return;
    if (receiver_) {
        const StreamEnd end = receiver_->outcome();
        if (end == StreamEnd::Failed && !session_->control.peerClosed()) {
            // The stream's bytes could not be remuxed; the session is fine.
            log("the stream of " + wanted_->name() + " failed: " + receiver_->error());
            const bool file = wanted_->isFile();
            stopStream(Millis(0));
            setState(LinkState::StartFailed, file ? "This file could not be played" : "");
        } else if (wanted_ && wanted_->isFile() && (end == StreamEnd::AllEnds || end == StreamEnd::EndThenQuiet)) {
            // The server's sender waits for a StopStream after a file's end.
            stopStream(Millis(0));
            wanted_.reset();
            setState(LinkState::Ended);
        } else if (end != StreamEnd::Running) {
            sessionLost(receiver_->error());
        }
        return;
    }
    if (session_->control.peerClosed())
        sessionLost(session_->control.error());
}

void ServerLink::sessionLost(std::string reason)
{
    const bool hadSession = session_ != nullptr;
    if (receiver_)
        receiver_->finish(Millis(0));
    receiver_.reset();
    sink_.reset();
    commander_.reset();
    session_.reset();
    bool listenerStayed = false;
    const int controlPort = settings_.basePort + kControlPortOffset;
    // A server on another machine cannot be watched this way: its session
    // ending is taken as another handheld's, which is never fought over.
    if (hadSession) {
        const auto until = Clock::now() + kListenerWatch;
        std::optional<bool> listening = localListener(settings_.host, controlPort);
        while (listening.value_or(false) && Clock::now() < until) {
            std::this_thread::sleep_for(kListenerPoll);
            listening = localListener(settings_.host, controlPort);
        }
        listenerStayed = listening.value_or(true);
    }
    if (listenerStayed) {
        log("the server ended the session (" + reason + ") but still listens: another handheld took over");
        setState(LinkState::TakenOver);
        return;
    }
    log("the server at " + settings_.host + ":" + std::to_string(settings_.basePort) + " is not reachable: " + reason);
    backoff_ = backoff_.count() == 0 ? kFirstBackoff : std::min(2 * backoff_, kLongestBackoff);
    nextAttempt_ = Clock::now() + backoff_;
    setState(LinkState::Unreachable);
}

void ServerLink::reconnectWhenDue()
{
    if (!session_ && account_ && state_ == LinkState::Unreachable && Clock::now() >= nextAttempt_)
        openSession(*account_);
}

void ServerLink::setState(LinkState state, const std::string& detail)
{
    state_ = state;
    events_.state(state, wanted_ ? wanted_->channel : -1, detail);
}

void ServerLink::log(const std::string& text) const
{
    Log("server link: " + text);
}

}  // namespace web
