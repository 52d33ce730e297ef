#include "viewer_requests.h"

#include "bytes.h"

#include <QDateTime>
#include <QJsonArray>
#include <QRegularExpression>

namespace web {

using namespace handheld;

namespace {

std::optional<int32_t> channelOf(const QJsonObject& message)
{
    const int channel = message.value("channel").toInt(-1);
    if (channel < 0 || channel >= kMaxChannels)
        return std::nullopt;
    return channel;
}

// "2026-12-09T18:30", as a date and time picker gives it.
std::optional<ScheduleTime> timeOf(const QJsonValue& value)
{
    const QDateTime when = QDateTime::fromString(value.toString(), Qt::ISODate);
    if (!when.isValid())
        return std::nullopt;
    const QDate date = when.date();
    const QTime time = when.time();
    return ScheduleTime{uint16_t(date.year()), uint16_t(date.month()), uint16_t(date.day()), uint16_t(time.hour()),
                        uint16_t(time.minute())};
}

// Every answer names what it answers; a request the server never answered
// says so instead.
QJsonObject answered(const char* type, const Answer& answer, QJsonObject fields)
{
    fields["type"] = type;
    if (!answer.error.empty())
        fields = QJsonObject{{"type", type}, {"error", "The server did not answer"}};
    return fields;
}

std::optional<ViewerRequest> scheduleChange(const QJsonObject& message)
{
    const auto channel = channelOf(message);
    const auto start = timeOf(message.value("start"));
    const auto end = timeOf(message.value("end"));
    const int row = message.value("row").toInt(-1);
    if (!channel || !start || !end || row >= kScheduleSlots)
        return std::nullopt;
    const bool modify = row >= 0;
    ScheduleRequest request{uint16_t(*channel), uint16_t(modify ? row : 0), *start, *end};
    return ViewerRequest{modify ? command::ModifySchedule : command::AddSchedule, buildSchedulePayload(request),
                         [](const Answer& answer) {
                             return answered("schedule", answer, {{"result", int(int8_t(answer.reply.body[0]))}});
                         }};
}

}  // namespace

// A list record reads "Ch005>12/09/26(18:30)-12/09/26(19:00)": month, day,
// year within the century, hour and minute of the start, then of the end.
QJsonArray scheduleRows(const handheld::Bytes& block)
{
    static const QRegularExpression record(
        R"(^Ch(\d+)>(\d\d)/(\d\d)/(\d\d)\((\d\d):(\d\d)\)-(\d\d)/(\d\d)/(\d\d)\((\d\d):(\d\d)\))");
    QJsonArray rows;
    for (size_t at = 0; at + kScheduleRecordSize <= block.size(); at += kScheduleRecordSize) {
        const QString text = QString::fromLatin1(reinterpret_cast<const char*>(block.data() + at), kScheduleRecordSize);
        const QRegularExpressionMatch match = record.match(text);
        if (!match.hasMatch())
            continue;
        auto when = [&match](int first) {
            return QString("20%1-%2-%3T%4:%5")
                .arg(match.captured(first + 2), match.captured(first), match.captured(first + 1),
                     match.captured(first + 3), match.captured(first + 4));
        };
        rows.append(QJsonObject{{"row", int(at / kScheduleRecordSize)}, {"channel", match.captured(1).toInt()},
                                {"start", when(2)}, {"end", when(7)}});
    }
    return rows;
}

std::optional<ViewerRequest> viewerRequest(const QJsonObject& message)
{
    const QString type = message.value("type").toString();
    auto accepted = [](uint8_t command) {
        return [command](const Answer& answer) { return answer.reply.code == command; };
    };
    if (type == "record" || type == "monitor") {
        const auto channel = channelOf(message);
        if (!channel)
            return std::nullopt;
        const uint8_t command = type == "record" ? command::StartRecording : command::StartMonitoring;
        const char* answerType = type == "record" ? "recording" : "monitoring";
        return ViewerRequest{command, buildInt32Payload(*channel), [answerType, ok = accepted(command)](const Answer& answer) {
                                 return answered(answerType, answer, {{"started", ok(answer)}});
                             }};
    }
    if (type == "stoprecord")
        return ViewerRequest{command::StopRecording, {}, [](const Answer& answer) {
                                 return answered("recording", answer, {{"stopped", true}});
                             }};
    if (type == "recordingstatus")
        return ViewerRequest{command::GetRecordingStatus, {}, [](const Answer& answer) {
                                 const auto& body = answer.reply.body;
                                 const int seconds = body[0] | body[1] << 8 | body[2] << 16;
                                 return answered("recordingstatus", answer,
                                                 {{"seconds", seconds}, {"running", body[3] != 0}});
                             }};
    if (type == "motionstatus")
        return ViewerRequest{command::GetMotionStatus, {}, [](const Answer& answer) {
                                 return answered("motion", answer, {{"seen", answer.reply.body[0] != 0}});
                             }};
    if (type == "schedules")
        return ViewerRequest{command::ListSchedules, {}, [](const Answer& answer) {
                                 return answered("schedules", answer, {{"rows", scheduleRows(answer.block)}});
                             }};
    if (type == "addschedule")
        return scheduleChange(message);
    if (type == "deleteschedule") {
        const int row = message.value("row").toInt(-1);
        if (row < 0 || row >= kScheduleSlots)
            return std::nullopt;
        return ViewerRequest{command::DeleteSchedule, buildRowPayload(uint16_t(row)),
                             [ok = accepted(command::DeleteSchedule)](const Answer& answer) {
                                 return answered("schedule", answer, {{"deleted", ok(answer)}});
                             }};
    }
    return std::nullopt;
}

}  // namespace web
