// Feeds arbitrary bytes to the XMLTV reader, split in two as reads split a
// file anywhere, and the times and episode numbers it reads to their
// parsers.

#include "guide/xmltv.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace {

class Discard : public XmltvReader::Sink {
public:
    void Channel(const GuideChannel& channel) override { names += channel.displayNames.size(); }
    void Programme(const GuideProgramme& programme) override { titles += programme.title.size(); }

    size_t names = 0;
    size_t titles = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const char* text = reinterpret_cast<const char*>(data);
    Discard sink;
    XmltvReader reader(sink);
    const size_t half = size / 2;
    if (reader.Feed(text, half) && reader.Feed(text + half, size - half))
        reader.Finish();
    reader.Error();
    const std::string_view field(text, size < 64 ? size : 64);
    ParseXmltvTime(field);
    EpisodeFromXmltvNs(field);
    return 0;
}
