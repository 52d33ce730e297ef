// The gateway's one handheld session with the server, on a thread of its
// own: login, the channel list, starting and stopping a channel's or a
// film's stream, the catalogue and the other requests of the page, and
// getting the session back after the server went away.
#pragma once

#include "catalogue.h"
#include "commander.h"
#include "stream_receiver.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace web {

enum class LinkState {
    Offline,      // no account yet: nobody has logged in
    Connecting,
    Ready,        // logged in, nothing streaming
    Playing,
    Unreachable,  // the server is down; trying again with a backoff
    TakenOver,    // another handheld has the session; waiting for a viewer
    StartFailed,  // the server refused the channel or the file
    Ended,        // a file played to its end
};

inline constexpr int kCompanionSubtitles = -2;

// What the viewers asked to watch: a live channel, or a file from a position.
struct StreamSource {
    int channel = -1;  // -1 for a file
    std::string file{};  // the path as the server's listings name it
    int startSeconds = 0;
    uint8_t profile = 0x11;
    // A download: the file the stream is gathered into instead of played.
    std::string gatherInto{};
    bool captions = false;  // a channel's closed captions drawn into its picture
    // A file's streams: the file's own numbers, or -1 for the server's choice
    // of sound and no subtitles; kCompanionSubtitles for the companion file
    // when there is one, and subtitleFile for another subtitle file.
    int audioStream = -1;
    int subtitleStream = kCompanionSubtitles;
    std::string subtitleFile{};

    bool isFile() const { return channel < 0; }
    bool isDownload() const { return !gatherInto.empty(); }
    // For the log: channel 5, or the file's path in quotes.
    std::string name() const { return isFile() ? "\"" + file + "\"" : "channel " + std::to_string(channel); }
    bool operator==(const StreamSource&) const = default;
};

enum class LoginAnswer { Accepted, Refused, Unreachable };

struct Account {
    std::string user;
    std::string password;
};

// Called on the link's threads; the receiver calls the stream sink on its own.
struct LinkEvents {
    // The channel is -1 while a file plays.
    std::function<void(LinkState, int channel, const std::string& detail)> state;
    std::function<void(const std::vector<handheld::ChannelEntry>&)> channels;
    // A sink for the stream about to start; none refuses the stream.
    std::function<std::unique_ptr<handheld::StreamSink>(const StreamSource&, const handheld::StreamHeader&)> streamSink;
};

// A folder's listing or a file's description, or why there is none.
struct FolderAnswer {
    std::string error;  // empty when the listing came
    std::vector<handheld::ListingEntry> entries{};
};
struct FileAnswer {
    std::string error;  // empty when the description came
    handheld::FileInfo info{};
};

// The server's answer to one request, or why there is none.
struct Answer {
    std::string error;  // empty when the server answered
    handheld::Reply reply{};
    handheld::Bytes block{};  // the schedule list that follows its reply
};

struct LinkSettings {
    std::string host = "127.0.0.1";
    int basePort = handheld::kDefaultBasePort;
};

class ServerLink {
public:
    ServerLink(LinkSettings settings, LinkEvents events);
    ServerLink(const ServerLink&) = delete;
    ServerLink& operator=(const ServerLink&) = delete;
    ~ServerLink();

    // The first login opens the session with the account; later ones are
    // checked against it. The answer comes on the link's thread, or at once
    // as unreachable once the link has closed.
    void login(const Account& account, std::function<void(LoginAnswer)> answer);
    // Streams a channel or a file (with the subtitles and sound chosen) for
    // the viewers: a change of source or quality is a StopStream and a new
    // start. Also takes a lost session back.
    void play(StreamSource source);
    void stop();
    // The media catalogue, for the films' browser. The answer comes on the
    // link's thread; none comes when the link closes first.
    // With `subtitles`, the folders and subtitle files instead of media.
    void browse(std::string path, bool subtitles, std::function<void(FolderAnswer)> answer);
    void describe(std::string path, std::function<void(FileAnswer)> answer);
    // Any other request (recording, schedules, monitoring), answered on the
    // link's thread; none comes when the link closes first.
    void ask(uint8_t command, handheld::Bytes payload, std::function<void(Answer)> answer);
    // Ends the session and the thread; logins still waiting, and any asked
    // for later, are answered as unreachable. The destructor closes too.
    void close();

private:
    struct Command;
    using Clock = std::chrono::steady_clock;

    void run();
    void post(Command command);
    void handle(Command& command);
    void handleCatalogue(Command& command);
    void handleAsk(Command& command);
    void handleLogin(const Account& account, const std::function<void(LoginAnswer)>& answer);
    LoginAnswer openSession(const Account& account);
    bool fetchChannels();
    void startStream();
    // Each asks the server for the wanted stream: its reply, or none when
    // the session was lost or the server refused (the state says which).
    std::optional<handheld::Reply> requestChannel(handheld::StreamRequest request);
    std::optional<handheld::Reply> requestFile(handheld::StreamRequest request);
    void chooseSubtitles(const handheld::FileInfo& info, handheld::StreamRequest& request) const;
    void stopStream(handheld::Millis quiet);
    void checkSession();
    // By value: the reason often lives in what is torn down here.
    void sessionLost(std::string reason);
    void reconnectWhenDue();
    void setState(LinkState state, const std::string& detail = {});
    void log(const std::string& text) const;

    LinkSettings settings_;
    LinkEvents events_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Command> commands_;
    bool stopping_ = false;

    // Owned by the link thread alone.
    std::optional<Account> account_;
    std::unique_ptr<handheld::Session> session_;
    std::unique_ptr<handheld::Commander> commander_;
    std::unique_ptr<handheld::StreamSink> sink_;
    std::unique_ptr<handheld::StreamReceiver> receiver_;
    std::optional<StreamSource> wanted_;
    LinkState state_ = LinkState::Offline;
    handheld::Millis backoff_{0};
    Clock::time_point nextAttempt_{};
    std::thread thread_;
};

}  // namespace web
