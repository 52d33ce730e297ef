// The page's requests that the server answers in one reply: recording,
// the schedules and monitoring. Each page message becomes the server's
// request, and the server's answer becomes the message the page reads.
#pragma once

#include "server_link.h"

#include <QJsonArray>
#include <QJsonObject>

#include <functional>
#include <optional>

namespace web {

struct ViewerRequest {
    uint8_t command = 0;
    handheld::Bytes payload;
    // The page's message for the server's answer.
    std::function<QJsonObject(const Answer&)> toMessage;
};

// The server's schedule list as the page reads it: {row, channel, start,
// end}, the times as "2026-12-09T18:30" in the server's local time.
QJsonArray scheduleRows(const handheld::Bytes& block);

// The request for a page message, or none when its type is not one of these
// or a field is missing or out of range.
std::optional<ViewerRequest> viewerRequest(const QJsonObject& message);

}  // namespace web
