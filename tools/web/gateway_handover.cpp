// A page left open must not cost a recording. With one tuner, a recording
// of another channel waits while a stream runs, as the server's rule has
// it for a handheld; but the gateway's stream is only the pages' viewers.
// So while it streams a channel, the gateway reads the server's schedules
// every 30 s, and at once when the guide's database changed (a rule took a
// slot), and a recording of another channel that is due within seconds, or
// waits already, takes the viewers to its channel: the tuner then serves
// the recording and the stream together, and the viewers are told why.
// The server pauses its link for a second after a schedule list, so the
// list is not asked for within 10 s of a channel change: a viewer zapping
// through the channels never waits for it.
#include "gateway.h"

#include "platform/log.h"
#include "viewer_requests.h"

#include <QDateTime>

#include <ctime>

namespace web {

namespace {

using namespace std::chrono_literals;

constexpr auto kScheduleLook = 30s;
constexpr auto kQuietAfterPlay = 10s;
// How long before its start a recording takes the viewers along.
constexpr qint64 kLeadSeconds = 10;

QString scheduleKey(const QJsonObject& row)
{
    return QString::number(row.value("channel").toInt()) + "@" + row.value("start").toString();
}

}  // namespace

void Gateway::handOverToRecordings()
{
    if (!streamWanted_ || wanted_.isFile() || gathering())
        return;
    const auto now = Clock::now();
    schedulesChanged_ = guide_.changedElsewhere() || schedulesChanged_;
    const bool due = schedulesChanged_ || now - schedulesAsked_ >= kScheduleLook;
    if (!askingSchedules_ && due && now - playAsked_ >= kQuietAfterPlay) {
        schedulesChanged_ = false;
        askingSchedules_ = true;
        schedulesAsked_ = now;
        link_->ask(handheld::command::ListSchedules, {}, [this](Answer answer) {
            QMetaObject::invokeMethod(this, [this, answer = std::move(answer)] {
                askingSchedules_ = false;
                if (!answer.error.empty())
                    return;
                schedules_ = scheduleRows(answer.block);
                // Only what is still scheduled is remembered.
                std::set<QString> listed;
                for (const QJsonValue& row : schedules_)
                    listed.insert(scheduleKey(row.toObject()));
                std::erase_if(handedOver_, [&listed](const QString& key) { return !listed.contains(key); });
            });
        });
    }
    const QDateTime wall = QDateTime::currentDateTime();
    for (const QJsonValue& value : schedules_) {
        const QJsonObject row = value.toObject();
        const int channel = row.value("channel").toInt(-1);
        const QDateTime start = QDateTime::fromString(row.value("start").toString(), Qt::ISODate);
        const QDateTime end = QDateTime::fromString(row.value("end").toString(), Qt::ISODate);
        // The list gives whole minutes: a recording may end within the
        // minute its end names.
        if (channel < 0 || channel == wanted_.channel || !start.isValid() || wall.secsTo(start) > kLeadSeconds
            || end.addSecs(60) <= wall || !handedOver_.insert(scheduleKey(row)).second)
            continue;
        const std::string title = guide_.titleRecordedFrom(channel, start.toSecsSinceEpoch());
        const QString notice = title.empty() ? QString("Recording %1 starts now").arg(channel)
                                             : QString("Recording %1: %2 starts now").arg(channel).arg(QString::fromStdString(title));
        Log("a recording of channel " + std::to_string(channel) + " is due: the viewers of " + wanted_.name()
            + " go along to its channel");
        broadcast(QJsonObject{{"type", "notice"}, {"text", notice}});
        wanted_.channel = channel;
        playAsked_ = now;
        link_->play(wanted_);
        return;
    }
}

}  // namespace web
