#include "server/session_state.h"

#include "config/settings.h"
#include "encode/live_setup.h"
#include "encode/live_encoder.h"
#include "encode/pipeline.h"
#include "encode/stream_buffers.h"
#include "media/access.h"
#include "media/media_info.h"
#include "platform/log.h"
#include "platform/login_delay.h"
#include "platform/messages.h"
#include "platform/sync.h"
#include "record/recording_control.h"
#include "shared/live_params.h"
#include "shared/resources.h"
#include "shared/server_state.h"
#include "server/catalogue.h"
#include "server/net_state.h"
#include "server/protocol.h"
#include "server/sender.h"

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <cstring>
#include <mutex>
#include <netinet/in.h>
#include <sys/socket.h>

SessionState gSession;
namespace {

std::atomic<int> failedLogins{0};
std::atomic<int> loginDelayBaseMs{1000};

using Payload = const uint8_t*;

enum class Outcome { Continue, Disconnect };

// A command as the session received it, for its handler.
struct Request {
    uint8_t command;
    Payload payload;
    bool& loggedIn;
    Tuner& tuner;
};

struct Reply {
    uint8_t code;
    uint8_t body[kReplyBodySize] = {};
};

int32_t IntAt(Payload payload, size_t offset)
{
    int32_t value;
    std::memcpy(&value, payload + offset, sizeof value);
    return value;
}

int ControlSocket()
{
    return gNet.controlSocket;
}

// Send failures are not reported: the next header read fails and ends the session.
void SendReply(const Reply& reply)
{
    uint8_t bytes[kReplySize] = {kMarker, reply.code};
    std::memcpy(bytes + 2, reply.body, kReplyBodySize);
    SendAll(ControlSocket(), false, bytes, sizeof bytes);
}

void SendCode(uint8_t code)
{
    SendReply(Reply{code});
}

// The file transcoder answers from its own thread once the file is open;
// when it does not in time, the stop after the refusal cancels it.
constexpr int kFileStartLimitMs = 30000;

// Empty: the pipeline's own StartStream.
StreamStarter streamStarter;

void RestoreMessageSwitch()
{
    SetMessagesShown(UserMessagesShown());
}

constexpr int kLoginDelaySliceMs = 50;

// Guessing the password is slowed down, and since a correct login waits as
// long, the wait says nothing about the guess. A session that is ended
// meanwhile stops waiting, so neither the listener nor the next handheld
// waits for it.
void WaitBeforeLoginAnswer()
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(LoginDelayMs(failedLogins, loginDelayBaseMs));
    while (std::chrono::steady_clock::now() < until && !gNet.sessionExit)
        Sleep(kLoginDelaySliceMs);
}

std::string PeerAddress()
{
    sockaddr_in peer{};
    socklen_t size = sizeof peer;
    char text[INET_ADDRSTRLEN] = "?";
    if (::getpeername(ControlSocket(), reinterpret_cast<sockaddr*>(&peer), &size) == 0)
        ::inet_ntop(AF_INET, &peer.sin_addr, text, sizeof text);
    return text;
}

void CountLogin(int result)
{
    if (result != -2) {
        failedLogins = 0;
        return;
    }
    const int failures = ++failedLogins;
    Log("A login from " + PeerAddress() + " failed (" + std::to_string(failures) + " in a row).");
}

int LoginResult(Payload payload)
{
    char name[kLoginFieldSize];
    char password[kLoginFieldSize];
    for (size_t i = 0; i < kLoginFieldSize; ++i) {
        name[i] = static_cast<char>(payload[kLoginNameOffset + i] ^
                                    payload[kLoginNameMaskOffset + (kLoginNameOffset + i) % kLoginMaskLength]);
        password[i] = static_cast<char>(payload[kLoginPasswordOffset + i] ^
                                        payload[kLoginPasswordMaskOffset + (kLoginPasswordOffset + i) % kLoginMaskLength]);
    }
    name[kLoginFieldSize - 1] = password[kLoginFieldSize - 1] = 0;
    const SettingsRecord& record = gSettings.record;
    if (!UserNameIsStored()) {
        Log(kNoAccountText);
        return -2;
    }
    if (ReadScrambled(record.userName, sizeof record.userName) != name ||
        ReadScrambled(record.password, sizeof record.password) != password)
        return -2;
    for (size_t i = 0; i < sizeof kServerCompatibility; ++i)
        if (payload[kLoginCompatibilityOffset + i] & kServerCompatibility[i])
            return 0;
    return -7;
}

Reply StreamHeaderReply(uint8_t code)
{
    LiveEncodingParams header = gLiveParams;
    if (!gSession.fileMode || header.aspectWidth == 0 || header.aspectHeight == 0)
        header.aspectWidth = header.aspectHeight = 1;
    // The handheld is told bytes per sample where the encoder keeps bits.
    header.audioSampleBits /= 8;
    Reply reply{code};
    std::memcpy(reply.body, &header, sizeof header);
    return reply;
}

// The stream-start reply, followed on a TCP data connection with transport
// byte 1 by the data marker.
void SendStreamHeader(uint8_t code)
{
    SendReply(StreamHeaderReply(code));
    if (gNet.transport == 1)
        SendAll(gNet.dataSocket, false, kDataMarker, sizeof kDataMarker);
}

void StoreStreamRequest(Payload payload, bool fileStream)
{
    StreamRequest& request = gSession.request;
    request.startSeconds = IntAt(payload, kStreamStartOffset);
    request.customBitRateKbps = IntAt(payload, kStreamBitRateOffset);
    request.profile = payload[kStreamProfileOffset];
    if ((request.profile >> 4) == kSizeLevelCustom) {
        std::memcpy(&request.customWidth, payload + kStreamWidthOffset, sizeof request.customWidth);
        std::memcpy(&request.customHeight, payload + kStreamHeightOffset, sizeof request.customHeight);
    }
    request.captionsOnVideo = payload[kStreamCaptionsOffset];
    request.videoCodec = payload[kStreamCodecOffset];
    request.audioFormat = payload[kStreamAudioFormatOffset];
    if (fileStream) {
        request.videoStream = static_cast<int8_t>(payload[kStreamVideoNumberOffset]);
        request.audioStream = static_cast<int8_t>(payload[kStreamAudioNumberOffset]);
        request.subtitleStream = static_cast<int8_t>(payload[kStreamSubtitleNumberOffset]);
    }
}

// Stores the request, or refuses one the encoders cannot take before
// anything is allocated.
bool StoreFittingRequest(Payload payload, bool fileStream)
{
    StoreStreamRequest(payload, fileStream);
    if (StreamRequestFits(gSession.request))
        return true;
    Log("A stream request with a picture size or bit rate the encoders cannot take was refused.");
    SendCode(kRefused);
    return false;
}

bool ChannelIsEnabled(int32_t channel)
{
    return channel >= 0 && channel < kChannelCount && gSettings.channels[channel].enabled;
}

// Starts the pipeline and, when it runs, the sender, and answers with the
// stream header.
void StartPipelineAndReply(Tuner& tuner, uint8_t code, bool fileMode)
{
    {
        std::lock_guard hold(gStream.lock);
        gStream.video.encodedTotal = gStream.audio.encodedTotal = 0;
        gStream.video.sentSinceStart = gStream.audio.sentSinceStart = 0;
    }
    gSession.fileMode = fileMode ? 1 : 0;
    const StartResult started = streamStarter ? streamStarter(gSession.request, fileMode, kFileStartLimitMs)
                                              : StartStream(tuner, gSession.request, fileMode, kFileStartLimitMs);
    if (!started.Succeeded()) {
        Log("A handheld's stream did not start: " + started.Reason());
        SendCode(kRefused);
        StopStreaming(tuner);
        return;
    }
    UpdateStatusText();
    gSender.writeToFile = 0;
    // The data marker goes first on the data connection: a sender started
    // before it could put a chunk ahead of it.
    SendStreamHeader(code);
    if (!gNet.sessionExit)
        StartSender(gSession.request.profile & 0x0F);
    // A file stream's producer starts once the handheld has the header.
    LetFileProducerGo();
}

// There is one pipeline: while the Encode File window writes a .tvs file
// with it, a handheld's stream is refused before anything of it is touched.
bool RefusedWhileEncodingAFile()
{
    if (!gSender.writeToFile)
        return false;
    Log("A stream request was refused: a .tvs file is being encoded.");
    SendCode(kRefused);
    return true;
}

// The first steps of every stream start: a running stream is answered with
// its header again, and a .tvs encoding refuses. False when the start goes
// no further. (The stream takes the tuner from a recording or monitoring.)
bool PrepareStreamStart(uint8_t code)
{
    if (IsStreaming()) {
        SendStreamHeader(code);
        return false;
    }
    return !RefusedWhileEncodingAFile();
}

void StartLiveStream(const Request& request)
{
    const Payload payload = request.payload;
    if (!PrepareStreamStart(kStartLiveStream))
        return;
    const int32_t channel = IntAt(payload, kStreamChannelOffset);
    if (!ChannelIsEnabled(channel)) {
        SendCode(kRefused);
        return;
    }
    if (!StoreFittingRequest(payload, false))
        return;
    gSession.request.channel = channel;
    StartPipelineAndReply(request.tuner, kStartLiveStream, false);
}

void StartFileStream(const Request& request)
{
    const Payload payload = request.payload;
    if (!PrepareStreamStart(kStartFileStream))
        return;
    if (!StoreFittingRequest(payload, true))
        return;
    StartPipelineAndReply(request.tuner, kStartFileStream, true);
}

void StartRecordingOnRequest(const Request& request)
{
    const Payload payload = request.payload;
    if (IsRecording()) {
        SendCode(kStartRecording);
        return;
    }
    const int32_t channel = IntAt(payload, kStreamChannelOffset);
    if (!ChannelIsEnabled(channel)) {
        SendCode(kRefused);
        return;
    }
    const StartResult started = StartRecording(request.tuner, channel);
    if (!started.Succeeded())
        Log("A handheld's recording did not start: " + started.Reason());
    SendCode(started.Succeeded() ? static_cast<uint8_t>(kStartRecording) : kRefused);
}

void StartMonitoringOnRequest(const Request& request)
{
    const Payload payload = request.payload;
    const int32_t channel = IntAt(payload, kStreamChannelOffset);
    SetMotionDetected(false);
    if (!ChannelIsEnabled(channel) || !gSettings.channels[channel].motionDetection) {
        SendCode(kRefused);
        return;
    }
    if (IsMonitoring() && IsCaptureRunning() && channel == gSettings.record.currentChannel) {
        SendCode(kStartMonitoring);
        return;
    }
    const StartResult started = StartMonitoring(request.tuner, channel);
    if (!started.Succeeded())
        Log("A handheld's monitoring did not start: " + started.Reason());
    SendCode(started.Succeeded() ? static_cast<uint8_t>(kStartMonitoring) : kRefused);
}

void StopStream(const Request& request)
{
    StopMonitoring(request.tuner);
    StopHandheldSender();
    StopStreaming(request.tuner);
    SendCode(kStopStream);
    UpdateStatusText();
}

// A path outside what is shared is refused and forgotten, so that no later
// stream can open it.
void StoreServedPath(char* destination, size_t size, Payload payload, Reply& reply)
{
    std::memset(destination, 0, size);
    std::memcpy(destination, payload, kPathSize - 1);
    if (!IsServedPath(destination)) {
        std::memset(destination, 0, size);
        reply.code = kRefused;
    }
    SendReply(reply);
}

// A command refused before login: its payload has been read, so the
// framing stays intact.
void Refuse(uint8_t command)
{
    SendCode(kRefused);
    if (command == kGetFileInfo) {
        const uint8_t emptyRecord[kFileInfoRecordSize] = {};
        SendAll(ControlSocket(), false, emptyRecord, sizeof emptyRecord);
    }
}

Outcome Login(const Request& request)
{
    WaitBeforeLoginAnswer();
    // A session taken over during the wait ends here: its login is neither
    // checked nor counted, so it tells nobody anything and does not
    // lengthen the next handheld's wait.
    if (gNet.sessionExit)
        return Outcome::Continue;
    const int result = LoginResult(request.payload);
    CountLogin(result);
    request.loggedIn = request.loggedIn || result == 0;
    Reply reply{request.command};
    reply.body[0] = static_cast<uint8_t>(result);
    SendReply(reply);
    return Outcome::Continue;
}

void SetCaptions(const Request& request)
{
    gSession.request.captionsOnVideo = request.payload[0];
    DrawCaptionsOnVideo(request.payload[0] != 0);
    SendCode(request.command);
}

void SendMotionStatus(const Request& request)
{
    Reply reply{request.command};
    reply.body[0] = static_cast<uint8_t>(IsMotionDetected());
    SendReply(reply);
}

void SendRecordingStatus(const Request& request)
{
    const uint32_t seconds = gRecorder.elapsedSeconds;
    Reply reply{request.command};
    reply.body[0] = seconds & 0xFF;
    reply.body[1] = (seconds >> 8) & 0xFF;
    reply.body[2] = (seconds >> 16) & 0xFF;
    reply.body[3] = static_cast<uint8_t>(IsRecording());
    SendReply(reply);
}

void ClearRecordingFlag(const Request& request)
{
    SetRecording(false);
    SendCode(request.command);
    UpdateStatusText();
}

using Handler = Outcome (*)(const Request&);

// Wraps a handler that always lets the session go on.
template <void (*handle)(const Request&)>
Outcome Continuing(const Request& request)
{
    handle(request);
    return Outcome::Continue;
}

void StopRecordingAndReply(const Request& request)
{
    StopRecording(request.tuner);
    SendCode(request.command);
}

void SetMediaFile(const Request& request)
{
    Reply reply{request.command};
    StoreServedPath(gMediaSelection.mediaFilePath, sizeof gMediaSelection.mediaFilePath, request.payload, reply);
}

void SetSubtitleFile(const Request& request)
{
    Reply reply{request.command};
    StoreServedPath(gMediaSelection.subtitleFilePath, sizeof gMediaSelection.subtitleFilePath, request.payload,
                    reply);
}

void ServeCatalogue(const Request& request)
{
    ServeCatalogueRequest(request.command, request.payload);
}

Outcome Ignore(const Request&)
{
    return Outcome::Continue;
}

Outcome EndOnRequest(const Request&)
{
    return Outcome::Disconnect;
}

struct CommandEntry {
    uint8_t command;
    int payloadSize;
    bool beforeLogin;
    Handler handle;
};

// Every command the session knows. Login, Disconnect and the reserved
// command are all a handheld may send before its login is accepted.
constexpr CommandEntry kCommands[] = {
    {kLogin, static_cast<int>(kLoginSize), true, Login},
    {kDisconnect, 0, true, EndOnRequest},
    {kReserved, 2, true, Ignore},
    {kSetCaptions, 1, false, Continuing<SetCaptions>},
    {kSetMediaFile, static_cast<int>(kPathSize), false, Continuing<SetMediaFile>},
    {kSetSubtitleFile, static_cast<int>(kPathSize), false, Continuing<SetSubtitleFile>},
    {kStartLiveStream, static_cast<int>(kStreamStartSize), false, Continuing<StartLiveStream>},
    {kStartFileStream, static_cast<int>(kStreamStartSize), false, Continuing<StartFileStream>},
    {kStartMonitoring, 4, false, Continuing<StartMonitoringOnRequest>},
    {kStopStream, 0, false, Continuing<StopStream>},
    {kStartRecording, 4, false, Continuing<StartRecordingOnRequest>},
    {kStopRecording, 0, false, Continuing<StopRecordingAndReply>},
    {kGetMotionStatus, 0, false, Continuing<SendMotionStatus>},
    {kGetRecordingStatus, 0, false, Continuing<SendRecordingStatus>},
    {kClearRecordingFlag, 0, false, Continuing<ClearRecordingFlag>},
    {kListMediaFolder, static_cast<int>(kPathSize), false, Continuing<ServeCatalogue>},
    {kListSubtitleFolder, static_cast<int>(kPathSize), false, Continuing<ServeCatalogue>},
    {kGetFileInfo, static_cast<int>(kPathSize), false, Continuing<ServeCatalogue>},
    {kListChannels, 0, false, Continuing<ServeCatalogue>},
    {kGetChannel0, 0, false, Continuing<ServeCatalogue>},
    {kListSchedules, 0, false, Continuing<ServeCatalogue>},
    {kAddSchedule, 32, false, Continuing<ServeCatalogue>},
    {kModifySchedule, 32, false, Continuing<ServeCatalogue>},
    {kDeleteSchedule, 2, false, Continuing<ServeCatalogue>},
};

const CommandEntry* FindCommand(uint8_t command)
{
    for (const CommandEntry& entry : kCommands)
        if (entry.command == command)
            return &entry;
    return nullptr;
}

Outcome Dispatch(const CommandEntry& entry, Payload payload, bool& loggedIn, Tuner& tuner)
{
    if (!loggedIn && !entry.beforeLogin) {
        Refuse(entry.command);
        return Outcome::Continue;
    }
    return entry.handle(Request{entry.command, payload, loggedIn, tuner});
}

int EndOfSession(Tuner& tuner)
{
    StopMonitoring(tuner);
    EndSession();
    UpdateStatusText();
    RestoreMessageSwitch();
    SetConnected(false);
    return 0;
}

int ServeCommands(Tuner& tuner)
{
    bool loggedIn = false;
    uint8_t payload[kPathSize];
    for (;;) {
        if (gNet.sessionExit) {
            StopMonitoring(tuner);
            RestoreMessageSwitch();
            return 0;
        }
        uint8_t header[2];
        if (ReceiveExact(ControlSocket(), false, header, sizeof header) != 0)
            return EndOfSession(tuner);
        const CommandEntry* entry = FindCommand(header[1]);
        if (header[0] != kMarker || !entry)
            continue;
        if (ReceiveExact(ControlSocket(), false, payload, static_cast<size_t>(entry->payloadSize)) != 0)
            return EndOfSession(tuner);
        if (Dispatch(*entry, payload, loggedIn, tuner) == Outcome::Disconnect)
            return EndOfSession(tuner);
    }
}

} // namespace

int FailedLoginsInARow()
{
    return failedLogins;
}

void SetLoginThrottle(int baseDelayMs, int failuresInARow)
{
    loginDelayBaseMs = baseDelayMs;
    failedLogins = failuresInARow;
}

void SetStreamStarter(StreamStarter starter)
{
    streamStarter = std::move(starter);
}

int RunCommandSession(Tuner& tuner)
{
    const int result = ServeCommands(tuner);
    // Whoever ended the session, its stream ends with it: a sender started
    // just after someone else's stop must not outlive it.
    StopHandheldSender();
    StopStreaming(tuner);
    // Only now, with the sender stopped and this thread done with them, may
    // the sockets be closed: a number closed earlier could be reused by a new
    // connection while still being written to.
    CloseSessionSockets();
    return result;
}
