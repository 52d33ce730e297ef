// Where the received elementary streams go: PREFIX plus an extension that
// tells the stream's format. Files are opened on their first write, so a
// stream that sends nothing of a kind leaves no empty file behind.
#pragma once

#include "stream_receiver.h"

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>

namespace handheld {

class StreamFiles final : public StreamSink {
public:
    // An empty prefix writes nothing.
    StreamFiles(std::string prefix, uint8_t videoCodec);
    StreamFiles(const StreamFiles&) = delete;
    StreamFiles& operator=(const StreamFiles&) = delete;
    ~StreamFiles() override;

    // Chunk times are not kept: the files hold the elementary streams.
    bool video(uint32_t timeMs, std::span<const uint8_t> bytes) override;
    bool audio(uint32_t timeMs, std::span<const uint8_t> bytes) override;
    // One record per line; the text is escaped so that it cannot break lines.
    bool subtitle(std::span<const uint8_t> text) override;
    std::string error() const override { return error_; }

private:
    bool write(std::FILE*& file, const char* extension, std::span<const uint8_t> bytes);

    std::string prefix_;
    const char* videoExtension_;
    std::FILE* video_ = nullptr;
    std::FILE* audio_ = nullptr;
    std::FILE* subtitles_ = nullptr;
    std::string error_;
};

}  // namespace handheld
