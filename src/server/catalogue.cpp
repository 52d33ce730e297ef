#include "server/catalogue.h"

#include "config/settings.h"
#include "media/access.h"
#include "media/listing.h"
#include "media/media_info.h"
#include "record/schedule_slots.h"
#include "server/net_state.h"

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <new>
#include <thread>
#include <zlib.h>

static_assert(sizeof(MediaInfoRecord) == kFileInfoRecordSize);

// The schedule list's text block follows its reply a second later: that is
// the timing the handheld player was built against, and nothing says it
// copes with the block arriving together with the reply.
namespace {
std::atomic<int> scheduleListPauseMs{1000};
} // namespace

void SetScheduleListPause(int milliseconds)
{
    scheduleListPauseMs = milliseconds;
}

namespace {

constexpr int kDeflateLevel = 9;
constexpr size_t kScheduleRecordSize = 38;

struct ChannelListEntry {
    uint16_t index;
    uint8_t scheduled;
    char description[32];
    uint8_t zero;
};
static_assert(offsetof(ChannelListEntry, scheduled) == 2);
static_assert(offsetof(ChannelListEntry, description) == 3);
static_assert(offsetof(ChannelListEntry, zero) == 35);
static_assert(sizeof(ChannelListEntry) == 36);

// AddSchedule and ModifySchedule: sixteen big-endian words.
struct ScheduleWireTime {
    uint16_t minute;
    uint16_t hour;
    uint16_t day;
    uint16_t month;
    uint16_t year;
};
static_assert(sizeof(ScheduleWireTime) == 10);

struct ScheduleRequest {
    uint16_t channel;
    uint16_t row;
    uint16_t unused4;
    ScheduleWireTime start;
    uint16_t unused16[2];
    ScheduleWireTime end;
    uint16_t unused30;
};
static_assert(offsetof(ScheduleRequest, row) == 2);
static_assert(offsetof(ScheduleRequest, start) == 6);
static_assert(offsetof(ScheduleRequest, end) == 20);
static_assert(sizeof(ScheduleRequest) == 32);

void PutInt(uint8_t* at, int32_t value)
{
    std::memcpy(at, &value, sizeof value);
}

// Deflated when that makes the data smaller, else the data as it is: the
// handheld tells the two apart by comparing the lengths.
std::vector<uint8_t> PackForSending(const uint8_t* raw, size_t length)
{
    std::unique_ptr<uint8_t[]> packed(new (std::nothrow) uint8_t[length]);
    size_t packedLength = length;
    if (packed && CompressBuffer(raw, length, packed.get(), packedLength, kDeflateLevel) == 0 && packedLength > 0 &&
        packedLength < length)
        return std::vector<uint8_t>(packed.get(), packed.get() + packedLength);
    return std::vector<uint8_t>(raw, raw + length);
}

// Paths arrive in a 256-byte field that need not hold a terminator; the
// last byte is never part of one.
std::string ReadPath(const uint8_t* payload)
{
    const char* text = reinterpret_cast<const char*>(payload);
    return std::string(text, strnlen(text, kPathSize - 1));
}

CatalogueAnswer AnswerListing(uint8_t command, const uint8_t* payload)
{
    const std::string path = ReadPath(payload);
    std::unique_ptr<uint8_t[]> listing(new (std::nothrow) uint8_t[kListingSize]);
    int32_t length = 0;
    CatalogueAnswer answer(command);
    if (listing && ListFolder(path, listing.get(), length, command == kListSubtitleFolder) == 0 && length > 0)
        answer.data = PackForSending(listing.get(), static_cast<size_t>(length));
    PutInt(answer.body, length);
    PutInt(answer.body + 4, static_cast<int32_t>(answer.data.size()));
    return answer;
}

// The record follows refusals too, so that the handheld's framing holds.
CatalogueAnswer AnswerFileInfo(const uint8_t* payload)
{
    const std::string path = ReadPath(payload);
    // Outside what is shared the record stays empty: not even the size
    // tells that the file exists.
    MediaInfoRecord record{};
    const bool described = IsServedPath(path) && GetMediaInfo(path, record) == 0;
    CatalogueAnswer answer(described ? uint8_t{kGetFileInfo} : kRefused);
    const auto* bytes = reinterpret_cast<const uint8_t*>(&record);
    answer.data.assign(bytes, bytes + sizeof record);
    return answer;
}

bool ChannelIsScheduled(int channel)
{
    for (const ScheduleSlot& slot : gSettings.record.schedules)
        if (slot.used && slot.channel == channel)
            return true;
    return false;
}

CatalogueAnswer AnswerChannels()
{
    std::vector<ChannelListEntry> entries;
    for (int channel = 0; channel < kChannelCount; ++channel) {
        const ChannelRecord& record = gSettings.channels[channel];
        if (!record.enabled)
            continue;
        ChannelListEntry entry{static_cast<uint16_t>(channel), ChannelIsScheduled(channel), {}, 0};
        std::memcpy(entry.description, record.description, sizeof entry.description);
        entries.push_back(entry);
    }
    CatalogueAnswer answer(kListChannels);
    if (entries.empty())
        return answer;
    answer.data = PackForSending(reinterpret_cast<const uint8_t*>(entries.data()), entries.size() * sizeof entries[0]);
    PutInt(answer.body, static_cast<int32_t>(entries.size()));
    PutInt(answer.body + 4, static_cast<int32_t>(answer.data.size()));
    return answer;
}

CatalogueAnswer AnswerChannel0()
{
    const ChannelRecord& channel = gSettings.channels[0];
    if (!channel.enabled)
        return CatalogueAnswer(kRefused);
    CatalogueAnswer answer(kGetChannel0);
    answer.body[2] = ChannelIsScheduled(0);
    std::memcpy(answer.body + 3, channel.description, sizeof channel.description);
    return answer;
}

// Out-of-range fields can make the text longer than its 38-byte field.
void AppendScheduleRecord(const ScheduleSlot& slot, std::vector<uint8_t>& text)
{
    char formatted[96];
    std::snprintf(formatted, sizeof formatted, "Ch%03d>%02d/%02d/%02d(%02d:%02d)-%02d/%02d/%02d(%02d:%02d)", slot.channel,
                  slot.start.month, slot.start.day, slot.start.year % 100, slot.start.hour, slot.start.minute,
                  slot.end.month, slot.end.day, slot.end.year % 100, slot.end.hour, slot.end.minute);
    char record[kScheduleRecordSize] = {};
    std::memcpy(record, formatted, strnlen(formatted, sizeof record - 1));
    text.insert(text.end(), record, record + sizeof record);
}

CatalogueAnswer AnswerSchedules()
{
    CatalogueAnswer answer(kListSchedules);
    const int rows = MapUpcomingSchedules();
    for (int row = 0; row < rows; ++row)
        AppendScheduleRecord(gSettings.record.schedules[gSettings.record.scheduleRowToSlot[row]], answer.data);
    PutInt(answer.body, static_cast<int32_t>(answer.data.size()));
    answer.pauseMs = scheduleListPauseMs;
    return answer;
}

ScheduleWireTime HostOrder(const ScheduleWireTime& time)
{
    return {ntohs(time.minute), ntohs(time.hour), ntohs(time.day), ntohs(time.month), ntohs(time.year)};
}

// Minute 60 and hour 24 pass, as the handheld has always been allowed to send them.
bool InRange(const ScheduleWireTime& time)
{
    return time.minute <= 60 && time.hour <= 24 && time.month <= 12 && time.year > 2008;
}

SystemTime ScheduleTime(const ScheduleWireTime& time)
{
    const SystemTime date{time.year, time.month, 0, time.day, 0, 0, 0, 0};
    const uint16_t weekday = LinearToSystemTime(SystemTimeToLinear(date)).dayOfWeek;
    return SystemTime{time.year, time.month, weekday, time.day, time.hour, time.minute, 0, 0};
}

int ChangeSchedule(uint8_t command, const uint8_t* payload)
{
    ScheduleRequest request;
    std::memcpy(&request, payload, sizeof request);
    const ScheduleWireTime start = HostOrder(request.start);
    const ScheduleWireTime end = HostOrder(request.end);
    if (!InRange(start) || !InRange(end))
        return kScheduleDateOutOfRange;
    return ValidateAndStoreSchedule(ntohs(request.channel), ntohs(request.row), ScheduleTime(start), ScheduleTime(end),
                                    command == kModifySchedule ? 1 : 0, 0);
}

CatalogueAnswer AnswerScheduleChange(uint8_t command, const uint8_t* payload)
{
    const int result = ChangeSchedule(command, payload);
    CatalogueAnswer answer(result == kScheduleStored ? command : kRefused);
    answer.body[0] = static_cast<uint8_t>(result);
    return answer;
}

CatalogueAnswer AnswerScheduleDelete(const uint8_t* payload)
{
    const int row = payload[0] << 8 | payload[1];
    return CatalogueAnswer(DeleteScheduleRow(row) == 0 ? uint8_t{kDeleteSchedule} : kRefused);
}

} // namespace

CatalogueAnswer AnswerCatalogueRequest(uint8_t command, const uint8_t* payload)
{
    switch (command) {
    case kListMediaFolder:
    case kListSubtitleFolder:
        return AnswerListing(command, payload);
    case kGetFileInfo:
        return AnswerFileInfo(payload);
    case kListChannels:
        return AnswerChannels();
    case kGetChannel0:
        return AnswerChannel0();
    case kListSchedules:
        return AnswerSchedules();
    case kAddSchedule:
    case kModifySchedule:
        return AnswerScheduleChange(command, payload);
    case kDeleteSchedule:
        return AnswerScheduleDelete(payload);
    default:
        return CatalogueAnswer();
    }
}

// Send failures are not reported: the next header read fails and ends the session.
void ServeCatalogueRequest(uint8_t command, const uint8_t* payload)
{
    const CatalogueAnswer answer = AnswerCatalogueRequest(command, payload);
    uint8_t reply[kReplySize] = {kMarker, answer.code};
    std::memcpy(reply + 2, answer.body, sizeof answer.body);
    const int control = gNet.controlSocket;
    SendAll(control, false, reply, sizeof reply);
    if (answer.pauseMs > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(answer.pauseMs));
    if (!answer.data.empty())
        SendAll(control, false, answer.data.data(), answer.data.size());
}

int CompressBuffer(const uint8_t* input, size_t inputLength, uint8_t* output, size_t& outputSize, int level)
{
    const size_t capacity = outputSize;
    outputSize = 0;
    z_stream stream{};
    if (deflateInit(&stream, level) != Z_OK)
        return -1;
    stream.next_in = const_cast<Bytef*>(input);
    stream.avail_in = static_cast<uInt>(inputLength);
    stream.next_out = output;
    stream.avail_out = static_cast<uInt>(capacity);
    int result;
    do {
        result = deflate(&stream, Z_FINISH);
    } while (result == Z_OK && stream.avail_out > 0);
    const bool whole = result == Z_STREAM_END;
    if (whole)
        outputSize = stream.total_out;
    deflateEnd(&stream);
    return whole ? 0 : -1;
}
