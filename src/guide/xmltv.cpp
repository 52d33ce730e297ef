#include "guide/xmltv.h"

#include <charconv>
#include <cstdio>
#include <ctime>

namespace {

// Days from 1970-01-01 to the given date of the proleptic Gregorian calendar.
int64_t DaysFromCivil(int64_t year, int month, int day)
{
    year -= month <= 2;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const int64_t yearOfEra = year - era * 400;
    const int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

bool Digits(std::string_view text, size_t at, size_t count, int& value)
{
    if (text.size() < at + count)
        return false;
    for (size_t i = at; i < at + count; ++i)
        if (text[i] < '0' || text[i] > '9')
            return false;
    std::from_chars(text.data() + at, text.data() + at + count, value);
    return true;
}

std::string_view Trimmed(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

// A local wall-clock time of the PC's zone in UTC seconds; where summer
// time repeats an hour, the zone's library picks one of the two.
int64_t FromLocal(int year, int month, int day, int hour, int minute, int second)
{
    std::tm fields{};
    fields.tm_year = year - 1900;
    fields.tm_mon = month - 1;
    fields.tm_mday = day;
    fields.tm_hour = hour;
    fields.tm_min = minute;
    fields.tm_sec = second;
    fields.tm_isdst = -1;
    return static_cast<int64_t>(std::mktime(&fields));
}

std::string Text(QStringView text)
{
    return text.toString().toStdString();
}

// No title, name or description of a guide is longer; a longer one is cut,
// so that a hostile file cannot grow one programme without bound.
constexpr size_t kFieldLimit = 16 * 1024;
constexpr size_t kDisplayNamesLimit = 16;

} // namespace

std::optional<int64_t> ParseXmltvTime(std::string_view text, bool* hadOffset)
{
    text = Trimmed(text);
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    if (!Digits(text, 0, 4, year) || !Digits(text, 4, 2, month) || !Digits(text, 6, 2, day))
        return std::nullopt;
    size_t at = 8;
    for (int* field : {&hour, &minute, &second}) {
        if (!Digits(text, at, 2, *field))
            break;
        at += 2;
    }
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60)
        return std::nullopt;
    const std::string_view zone = Trimmed(text.substr(at));
    if (hadOffset)
        *hadOffset = !zone.empty();
    if (zone.empty())
        return FromLocal(year, month, day, hour, minute, second);
    int offsetHours = 0, offsetMinutes = 0;
    if (zone.size() != 5 || (zone[0] != '+' && zone[0] != '-') || !Digits(zone, 1, 2, offsetHours) ||
        !Digits(zone, 3, 2, offsetMinutes) || offsetMinutes > 59)
        return std::nullopt;
    const int64_t offset = (offsetHours * 3600 + offsetMinutes * 60) * (zone[0] == '-' ? -1 : 1);
    return DaysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second - offset;
}

std::string FormatXmltvTime(int64_t at)
{
    const std::time_t time = static_cast<std::time_t>(at);
    std::tm fields{};
    gmtime_r(&time, &fields);
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%d%H%M%S +0000", &fields);
    return text;
}

std::string LocalTimeText(int64_t at, const char* format)
{
    const std::time_t time = static_cast<std::time_t>(at);
    std::tm fields{};
    localtime_r(&time, &fields);
    char text[64];
    std::strftime(text, sizeof text, format, &fields);
    return text;
}

std::string EpisodeFromXmltvNs(std::string_view text)
{
    // "season.episode.part", each counted from 0 and each "n/total" or empty.
    const size_t firstDot = text.find('.');
    if (firstDot == std::string_view::npos)
        return {};
    const size_t secondDot = text.find('.', firstDot + 1);
    auto number = [](std::string_view part) {
        part = Trimmed(part.substr(0, part.find('/')));
        int value = -1;
        if (part.empty() || std::from_chars(part.data(), part.data() + part.size(), value).ptr != part.data() + part.size())
            return -1;
        return value;
    };
    const int season = number(text.substr(0, firstDot));
    const int episode = number(text.substr(firstDot + 1, secondDot == std::string_view::npos ? text.npos
                                                                                              : secondDot - firstDot - 1));
    if (episode < 0 || episode > 9998 || season > 9998)
        return {};
    char formatted[24];
    if (season >= 0)
        std::snprintf(formatted, sizeof formatted, "S%02dE%02d", season + 1, episode + 1);
    else
        std::snprintf(formatted, sizeof formatted, "E%02d", episode + 1);
    return formatted;
}

bool XmltvReader::Feed(const char* data, size_t size)
{
    if (!valid_)
        return false;
    xml_.addData(QByteArray(data, static_cast<qsizetype>(size)));
    return ReadAvailable();
}

bool XmltvReader::Finish()
{
    if (!valid_)
        return false;
    // Whatever is left is all there is: an unfinished document is malformed.
    if (!xml_.atEnd() && !ReadAvailable())
        return false;
    if (xml_.error() == QXmlStreamReader::PrematureEndOfDocumentError || !xml_.atEnd()) {
        valid_ = false;
        return false;
    }
    return true;
}

std::string XmltvReader::Error() const
{
    if (valid_)
        return {};
    if (xml_.error() == QXmlStreamReader::PrematureEndOfDocumentError || xml_.error() == QXmlStreamReader::NoError)
        return "line " + std::to_string(xml_.lineNumber()) + ": the guide ends before its last element is closed";
    return "line " + std::to_string(xml_.lineNumber()) + ": " + xml_.errorString().toStdString();
}

bool XmltvReader::ReadAvailable()
{
    while (!xml_.atEnd()) {
        switch (xml_.readNext()) {
        case QXmlStreamReader::StartElement:
            StartElement();
            break;
        case QXmlStreamReader::EndElement:
            EndElement();
            break;
        case QXmlStreamReader::Characters:
            if (std::string* target = FieldText(); target && target->size() < kFieldLimit)
                target->append(Text(xml_.text()).substr(0, kFieldLimit - target->size()));
            break;
        case QXmlStreamReader::Invalid:
            if (xml_.error() == QXmlStreamReader::PrematureEndOfDocumentError)
                return true;  // waits for more
            valid_ = false;
            return false;
        default:
            break;
        }
    }
    return true;
}

std::string* XmltvReader::FieldText()
{
    switch (field_) {
    case Field::None: return nullptr;
    case Field::DisplayName:
    case Field::EpisodeXmltvNs:
    case Field::EpisodeOnScreen: return &text_;
    case Field::Title: return &programme_.title;
    case Field::SubTitle: return &programme_.subTitle;
    case Field::Description: return &programme_.description;
    }
    return nullptr;
}

void XmltvReader::StartElement()
{
    const QStringView name = xml_.name();
    if (name == u"channel" && !inProgramme_) {
        inChannel_ = true;
        channel_ = GuideChannel{Text(xml_.attributes().value("id")), {}};
    } else if (name == u"programme" && !inChannel_) {
        StartProgramme();
    } else if (inChannel_ && name == u"display-name") {
        field_ = Field::DisplayName;
        text_.clear();
    } else if (inProgramme_ && field_ == Field::None) {
        // Only the first of several titles or descriptions (one per
        // language) is kept.
        if (name == u"title" && programme_.title.empty())
            field_ = Field::Title;
        else if (name == u"sub-title" && programme_.subTitle.empty())
            field_ = Field::SubTitle;
        else if (name == u"desc" && programme_.description.empty())
            field_ = Field::Description;
        else if (name == u"previously-shown")
            programme_.previouslyShown = true;
        else if (name == u"episode-num") {
            const QStringView system = xml_.attributes().value("system");
            field_ = system == u"xmltv_ns" ? Field::EpisodeXmltvNs
                     : system == u"onscreen" ? Field::EpisodeOnScreen
                                             : Field::None;
            text_.clear();
        }
    }
}

void XmltvReader::StartProgramme()
{
    const QXmlStreamAttributes attributes = xml_.attributes();
    programme_ = GuideProgramme{};
    onScreenEpisode_.clear();
    programme_.channelId = Text(attributes.value("channel"));
    bool startHadZone = true;
    bool stopHadZone = true;
    std::optional<int64_t> start = ParseXmltvTime(Text(attributes.value("start")), &startHadZone);
    const std::string stopText = Text(attributes.value("stop"));
    std::optional<int64_t> stop;
    if (!stopText.empty() && !(stop = ParseXmltvTime(stopText, &stopHadZone)))
        start.reset();
    inProgramme_ = true;
    if (!start || programme_.channelId.empty()) {
        ++skipped_;
        programme_.channelId.clear();
        return;
    }
    timesWithoutZone_ += !startHadZone || !stopHadZone;
    programme_.start = *start;
    programme_.stop = stop;
}

void XmltvReader::EndElement()
{
    const QStringView name = xml_.name();
    if (field_ == Field::DisplayName && name == u"display-name") {
        if (!text_.empty() && channel_.displayNames.size() < kDisplayNamesLimit)
            channel_.displayNames.push_back(text_);
    } else if (field_ == Field::EpisodeXmltvNs && name == u"episode-num") {
        if (programme_.episode.empty())
            programme_.episode = EpisodeFromXmltvNs(text_);
    } else if (field_ == Field::EpisodeOnScreen && name == u"episode-num") {
        onScreenEpisode_ = text_;
    } else if (name == u"channel" && inChannel_) {
        inChannel_ = false;
        if (!channel_.id.empty())
            sink_.Channel(channel_);
    } else if (name == u"programme" && inProgramme_) {
        inProgramme_ = false;
        if (programme_.episode.empty())
            programme_.episode = onScreenEpisode_;
        if (!programme_.channelId.empty())
            sink_.Programme(programme_);
    }
    const bool endsField = (field_ == Field::DisplayName && name == u"display-name") ||
                           (field_ == Field::Title && name == u"title") ||
                           (field_ == Field::SubTitle && name == u"sub-title") ||
                           (field_ == Field::Description && name == u"desc") ||
                           ((field_ == Field::EpisodeXmltvNs || field_ == Field::EpisodeOnScreen) &&
                            name == u"episode-num");
    if (endsField)
        field_ = Field::None;
}
