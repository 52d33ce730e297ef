#include "commands.h"

#include "bytes.h"
#include "catalogue.h"
#include "hex.h"
#include "streaming.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>

namespace handheld {

namespace {

Status listChannels(Commander& commander)
{
    Reply reply;
    if (!commander.exchange(command::ListChannels, {}, reply))
        return kFailed;
    if (const Status status = checkCode("channels", reply, command::ListChannels); status != kOk)
        return status;
    const int32_t count = getLeInt32(reply.body.data());
    const int32_t length = getLeInt32(reply.body.data() + 4);
    printNumber("channels_count", count);
    printNumber("channels_length", length);
    std::vector<ChannelEntry> channels;
    std::string error;
    if (!receiveChannels(commander, reply, channels, error)) {
        printError(error);
        return kFailed;
    }
    for (const ChannelEntry& channel : channels) {
        const std::string key = "channel_" + std::to_string(channel.index);
        printText(key, channel.description);
        printNumber(key + "_scheduled", channel.scheduled);
    }
    return kOk;
}

Status getChannel0(Commander& commander)
{
    Reply reply;
    if (!commander.exchange(command::GetChannel0, {}, reply))
        return kFailed;
    if (const Status status = checkCode("channel0", reply, command::GetChannel0); status != kOk)
        return status;
    printNumber("channel0_scheduled", reply.body[2]);
    printText("channel0_description",
              fixedText(reply.body.data() + kChannelDescriptionOffset, kChannelDescriptionSize));
    return kOk;
}

// Type letters become part of a key, so a corrupt one must not break the line.
std::string entryKey(char type)
{
    if (type >= 'a' && type <= 'z')
        return std::string("entry_") + type;
    return "entry_" + hexCode(uint8_t(type));
}

Status listFolder(Commander& commander, std::string_view key, uint8_t command, const std::string& path)
{
    Reply reply;
    if (!commander.exchange(command, buildPathPayload(folderRequest(path)), reply))
        return kFailed;
    if (const Status status = checkCode(key, reply, command); status != kOk)
        return status;
    const int32_t rawLength = getLeInt32(reply.body.data());
    const int32_t dataLength = getLeInt32(reply.body.data() + 4);
    printNumber("listing_raw_length", rawLength);
    printNumber("listing_data_length", dataLength);
    Bytes block;
    std::vector<ListingEntry> entries;
    std::string error;
    if (!receiveListing(commander, rawLength, dataLength, block, error)) {
        printError("listing: " + error);
        return kFailed;
    }
    if (!block.empty() && !parseListing(block, entries, error)) {
        printError("listing: " + error);
        return kFailed;
    }
    printNumber("listing_compressed", dataLength < rawLength);
    printNumber("entry_count", long(entries.size()));
    for (const ListingEntry& entry : entries)
        printText(entryKey(entry.type), entry.name);
    return kOk;
}

void printFileInfo(const FileInfo& info)
{
    char duration[32];
    std::snprintf(duration, sizeof duration, "%02u:%02u:%02u.%02u", unsigned(info.hours),
                  unsigned(info.minutes), unsigned(info.seconds), unsigned(info.hundredths));
    const long long seconds = (info.hours * 60LL + info.minutes) * 60 + info.seconds;
    printNumber("file_size", info.size);
    printText("duration", duration);
    printNumber("duration_ms", seconds * 1000 + info.hundredths * 10);
    printNumber("bitrate_kbps", info.bitrateKbps);
    printNumber("stream_count", info.streamCount);
    for (size_t i = 0; i < info.streams.size(); ++i) {
        char rate[32];
        std::snprintf(rate, sizeof rate, "%.3f", double(info.streams[i].frameRate));
        const std::string key = "stream_" + std::to_string(i);
        printText(key, info.streams[i].text);
        printText(key + "_frame_rate", rate);
    }
    printText("artist", info.artist);
    printText("album", info.album);
    printText("genre", info.genre);
}

// The record follows the reply whatever its code, so it is always read.
Status getFileInfo(Commander& commander, const std::string& path)
{
    Reply reply;
    Bytes record;
    if (!commander.exchange(command::GetFileInfo, buildPathPayload(path), reply)
        || !commander.receiveBlock(kFileInfoSize, record))
        return kFailed;
    const Status status = checkCode("info", reply, command::GetFileInfo);
    const FileInfo info = decodeFileInfo(std::span<const uint8_t, kFileInfoSize>(record));
    if (info.streamCount > kFileInfoStreamCount)
        printError("file info: stream count " + std::to_string(info.streamCount) + " exceeds 6");
    printFileInfo(info);
    return status;
}

Status listSchedules(Commander& commander)
{
    Reply reply;
    if (!commander.exchange(command::ListSchedules, {}, reply))
        return kFailed;
    if (const Status status = checkCode("schedules", reply, command::ListSchedules); status != kOk)
        return status;
    const int32_t length = getLeInt32(reply.body.data());
    printNumber("schedules_length", length);
    if (length < 0 || length > int32_t(kScheduleRecordSize * kScheduleSlots)
        || length % int32_t(kScheduleRecordSize) != 0) {
        printError("schedule list: length is not a whole number of records");
        return kFailed;
    }
    Bytes text;
    if (!commander.receiveBlock(size_t(length), text))
        return kFailed;
    const size_t count = text.size() / kScheduleRecordSize;
    printNumber("schedule_count", long(count));
    for (size_t row = 0; row < count; ++row)
        printText("schedule_" + std::to_string(row),
                  fixedText(text.data() + row * kScheduleRecordSize, kScheduleRecordSize));
    return kOk;
}

Status changeSchedule(Commander& commander, std::string_view key, uint8_t command,
                      const ScheduleRequest& request)
{
    Reply reply;
    if (!commander.exchange(command, buildSchedulePayload(request), reply))
        return kFailed;
    const Status status = checkCode(key, reply, command);
    const auto result = int8_t(reply.body[0]);
    printNumber("schedule_result", result);
    printText("schedule_result_text", scheduleResultText(result));
    return status == kOk && result != 0 ? kRefused : status;
}

Status recordingStatus(Commander& commander)
{
    Reply reply;
    if (!commander.exchange(command::GetRecordingStatus, {}, reply))
        return kFailed;
    const Status status = checkCode("status", reply, command::GetRecordingStatus);
    if (status == kOk) {
        printNumber("recording_seconds", reply.body[0] | reply.body[1] << 8 | reply.body[2] << 16);
        printNumber("recording", reply.body[3]);
    }
    return status;
}

Status motionStatus(Commander& commander)
{
    Reply reply;
    if (!commander.exchange(command::GetMotionStatus, {}, reply))
        return kFailed;
    const Status status = checkCode("motion", reply, command::GetMotionStatus);
    if (status == kOk)
        printNumber("motion", reply.body[0]);
    return status;
}

// Raw bytes need not follow the framing, so the answer is whatever arrives
// before the server falls silent.
Status sendRaw(Commander& commander, const Options& options, const Bytes& bytes)
{
    ControlLink& control = commander.session().control;
    if (!control.sendAll(bytes)) {
        printError("raw: " + control.error());
        return kFailed;
    }
    bool closed = false;
    const Bytes answer =
        control.receiveUntilQuiet(Millis(options.rawWaitMs), commander.session().timeout, closed);
    printNumber("raw_sent", long(bytes.size()));
    printNumber("raw_received", long(answer.size()));
    printText("raw_hex", hexBytes(answer));
    printNumber("raw_closed", closed);
    return kOk;
}

}  // namespace

Status checkCode(std::string_view key, const Reply& reply, uint8_t command)
{
    printCode(std::string(key) + "_code", reply.code);
    // Refusals are always 0xFF; any other foreign code means the two sides
    // disagree about the framing, which the caller's status alone would hide.
    if (reply.code != command && reply.code != kRefusedCode)
        printError(std::string(key) + ": reply code " + hexCode(reply.code) + " is neither "
                   + hexCode(command) + " nor 0xFF");
    return reply.code == command ? kOk : kRefused;
}

Status simpleRequest(Commander& commander, std::string_view key, uint8_t command,
                     std::span<const uint8_t> payload)
{
    Reply reply;
    if (!commander.exchange(command, payload, reply))
        return kFailed;
    return checkCode(key, reply, command);
}

Status login(Commander& commander, const Options& options)
{
    const Bytes payload =
        buildLoginPayload(options.user, options.password, randomLoginMask(), options.compat);
    Reply reply;
    // After repeated failures a server waits up to 30 s before it answers.
    if (!commander.exchange(command::Login, payload, reply, kThrottledLoginWait))
        return kFailed;
    const Status status = checkCode("login", reply, command::Login);
    const auto result = int8_t(reply.body[0]);
    printNumber("login_result", result);
    printText("login_result_text", loginResultText(result));
    if (status == kOk && result != 0)
        printError(std::string("the server refused the login: ") + loginResultText(result));
    return status == kOk && result != 0 ? kRefused : status;
}

Status runStep(Commander& commander, const Options& options, const Step& step)
{
    const StreamOptions& stream = options.stream;
    switch (step.kind) {
    case StepKind::Login: return login(commander, options);
    case StepKind::Channels: return listChannels(commander);
    case StepKind::Channel0: return getChannel0(commander);
    case StepKind::ListMedia:
        return listFolder(commander, "ls", command::ListMediaFolder, step.path);
    case StepKind::ListSubtitles:
        return listFolder(commander, "subs", command::ListSubtitleFolder, step.path);
    case StepKind::FileInfo: return getFileInfo(commander, step.path);
    case StepKind::Live: return runLiveStream(commander, stream, step.number);
    case StepKind::File: return runFileStream(commander, stream, step.path);
    case StepKind::Record:
        return simpleRequest(commander, "record", command::StartRecording,
                             buildInt32Payload(step.number));
    case StepKind::StopRecord:
        return simpleRequest(commander, "stop_record", command::StopRecording, {});
    case StepKind::ClearRecord:
        return simpleRequest(commander, "clear_record", command::ClearRecordingFlag, {});
    case StepKind::Status: return recordingStatus(commander);
    case StepKind::Monitor:
        return simpleRequest(commander, "monitor", command::StartMonitoring,
                             buildInt32Payload(step.number));
    case StepKind::Motion: return motionStatus(commander);
    case StepKind::Schedules: return listSchedules(commander);
    case StepKind::AddSchedule:
        return changeSchedule(commander, "add_schedule", command::AddSchedule, step.schedule);
    case StepKind::ModifySchedule:
        return changeSchedule(commander, "modify_schedule", command::ModifySchedule, step.schedule);
    case StepKind::DeleteSchedule:
        return simpleRequest(commander, "delete_schedule", command::DeleteSchedule,
                             buildRowPayload(uint16_t(step.number)));
    case StepKind::Captions:
        return simpleRequest(commander, "captions", command::SetCaptions,
                             Bytes(kCaptionsPayloadSize, uint8_t(step.number)));
    case StepKind::Raw: return sendRaw(commander, options, step.raw);
    case StepKind::Wait:
        // The session stays open meanwhile: monitoring, for one, lasts as long.
        std::this_thread::sleep_for(std::chrono::seconds(step.number));
        return kOk;
    }
    return kUsage;
}

void disconnect(Commander& commander)
{
    // Disconnect gets no reply, and a failed send only means the server has
    // already closed the session, so nothing is checked.
    const uint8_t request[] = {kFrameMarker, command::Disconnect};
    commander.session().control.sendAll(request);
}

}  // namespace handheld
