#include "stream_files.h"

#include "protocol.h"
#include "report.h"

#include <cerrno>
#include <cstring>
#include <string_view>

namespace handheld {

namespace {

const char* extensionFor(uint8_t codec)
{
    if (codec == kStreamAbsent)
        return ".video";
    if (codec == kCodecMpeg4)
        return ".m4v";
    return codec == kCodecH264 ? ".h264" : ".h263";
}

void closeFile(std::FILE* file)
{
    if (file)
        std::fclose(file);
}

}  // namespace

StreamFiles::StreamFiles(std::string prefix, uint8_t videoCodec)
    : prefix_(std::move(prefix)), videoExtension_(extensionFor(videoCodec))
{
}

StreamFiles::~StreamFiles()
{
    closeFile(video_);
    closeFile(audio_);
    closeFile(subtitles_);
}

bool StreamFiles::video(uint32_t, std::span<const uint8_t> bytes)
{
    return write(video_, videoExtension_, bytes);
}

bool StreamFiles::audio(uint32_t, std::span<const uint8_t> bytes)
{
    return write(audio_, ".mp3", bytes);
}

bool StreamFiles::subtitle(std::span<const uint8_t> text)
{
    const std::string_view raw(reinterpret_cast<const char*>(text.data()), text.size());
    const std::string line = escapeText(raw) + '\n';
    return write(subtitles_, ".subs",
                 std::span(reinterpret_cast<const uint8_t*>(line.data()), line.size()));
}

bool StreamFiles::write(std::FILE*& file, const char* extension, std::span<const uint8_t> bytes)
{
    if (prefix_.empty())
        return true;
    const std::string name = prefix_ + extension;
    if (!file)
        file = std::fopen(name.c_str(), "wb");
    if (file && std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size())
        return true;
    error_ = "cannot write " + name + ": " + std::strerror(errno);
    return false;
}

}  // namespace handheld
