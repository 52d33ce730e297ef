#pragma once
// Reading an XMLTV programme guide in one streaming pass: the document is
// fed in pieces as they are read or unpacked, and each channel and
// programme is handed on as soon as it is complete, so that a guide of any
// size takes only the memory of one programme.

#include <QXmlStreamReader>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct GuideChannel {
    std::string id;
    std::vector<std::string> displayNames;
};

struct GuideProgramme {
    std::string channelId;
    int64_t start = 0;  // seconds since 1970, UTC
    std::optional<int64_t> stop;
    std::string title;
    std::string subTitle;
    std::string description;
    std::string episode;  // "S01E02", or as the guide shows it on screen
    bool previouslyShown = false;
};

// An XMLTV time, "YYYYMMDDhhmmss +hhmm"; seconds, minutes and the offset may
// be left out. Without an offset the time is taken in the PC's own zone
// (hadOffset says so). Nothing for a text that is no such time.
std::optional<int64_t> ParseXmltvTime(std::string_view text, bool* hadOffset = nullptr);

// The same form for a UTC time, with "+0000".
std::string FormatXmltvTime(int64_t at);

// A time in the PC's zone, in strftime's format: how the guide's times are
// shown.
std::string LocalTimeText(int64_t at, const char* format);

// "S01E02" from an xmltv_ns episode number ("0.1.0/1", counted from 0);
// empty when it names no episode.
std::string EpisodeFromXmltvNs(std::string_view text);

class XmltvReader {
public:
    class Sink {
    public:
        virtual ~Sink() = default;
        virtual void Channel(const GuideChannel& channel) = 0;
        virtual void Programme(const GuideProgramme& programme) = 0;
    };

    explicit XmltvReader(Sink& sink) : sink_(sink) {}

    // The next bytes of the document. False once it is malformed.
    bool Feed(const char* data, size_t size);
    // After the last bytes: false unless the document was whole and well formed.
    bool Finish();
    // Why it failed: "line N: what", in the XML reader's words.
    std::string Error() const;
    // Programmes whose times named no zone, and were read in the PC's.
    int TimesWithoutZone() const { return timesWithoutZone_; }
    // Programmes left out because a time was missing or unreadable.
    int Skipped() const { return skipped_; }

private:
    enum class Field { None, DisplayName, Title, SubTitle, Description, EpisodeXmltvNs, EpisodeOnScreen };

    bool ReadAvailable();
    void StartElement();
    void EndElement();
    void StartProgramme();
    std::string* FieldText();

    Sink& sink_;
    QXmlStreamReader xml_;
    bool inChannel_ = false;
    bool inProgramme_ = false;
    bool valid_ = true;
    Field field_ = Field::None;
    std::string text_;
    GuideChannel channel_;
    GuideProgramme programme_;
    std::string onScreenEpisode_;
    int timesWithoutZone_ = 0;
    int skipped_ = 0;
};
