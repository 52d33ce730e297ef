// The page's programme guide and recording rules, read from and written to
// the guide's database of the Orvandel on this PC, as the setup tool does:
// the server's schedule thread sees a new rule within a second and records
// its programmes through its schedule slots. Nothing of it crosses the
// server's wire. Every input is bounded: a title's length, channel numbers,
// the number of rules, and the length of what a list sends.
#pragma once

#include "guide/recording_rules.h"

#include <QJsonObject>

#include <cstdint>
#include <memory>
#include <string>

namespace web {

class GuideDesk {
public:
    // The guide's database at path (empty: this user's, beside Orvandel's
    // settings), opened at the first request.
    explicit GuideDesk(std::string databasePath = {}) : databasePath_(std::move(databasePath)) {}

    // Whether a page message of this type is the guide's: "guidenow",
    // "guideday", "rules", "addrule", "editrule", "deleterule", "preferrule".
    static bool handles(const QString& type);
    // The answer to a guide message at the moment now (UTC seconds).
    QJsonObject answer(const QJsonObject& request, int64_t now);
    // Whether the server or the setup tool changed the guide's database
    // since the last call.
    bool changedElsewhere() { return store() && store_->ChangedElsewhere(); }
    // The title of the guide's recording on channel that starts within
    // the minute from `minute` (UTC seconds); empty for none.
    std::string titleRecordedFrom(int channel, int64_t minute);

private:
    GuideStore* store();
    QJsonObject onNow(int64_t now);
    QJsonObject day(const QJsonObject& request, int64_t now);
    QJsonObject rules(int64_t now, const QString& result = {});
    QJsonObject addRule(const QJsonObject& request, int64_t now);
    QJsonObject changeRule(const QJsonObject& request, int64_t now, bool remove);
    QJsonObject editRule(const QJsonObject& request, int64_t now);

    std::string databasePath_;
    std::unique_ptr<GuideStore> store_;
    bool toldUnopened_ = false;
};

}  // namespace web
