#include "record/recording_repair.h"

#include "platform/av_owned.h"
#include "platform/log.h"

#include <dirent.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace {

// The AVI writer puts this in the RIFF size until its trailer patches it.
constexpr uint32_t kOpenSizePlaceholder = 0xFFFFFFFF;
constexpr char kRepairSuffix[] = ".repairing";
// "RIFF" size "AVI " "LIST" size "hdrl", then the main header "avih" size,
// whose fifth field is the total frame count.
constexpr size_t kMainHeaderOffset = 24;
constexpr size_t kTotalFramesOffset = kMainHeaderOffset + 8 + 16;
constexpr long kFirstRiffLimit = 1L << 30;

struct CloseFile {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

// The repaired copy: hidden beside the original, so that the rename over it
// stays on one file system.
std::string RepairPath(const std::string& path)
{
    const size_t slash = path.rfind('/');
    const size_t nameAt = slash == std::string::npos ? 0 : slash + 1;
    return path.substr(0, nameAt) + "." + path.substr(nameAt) + kRepairSuffix;
}

bool OpenOutput(const std::string& path, const AVFormatContext& input, OutputFormatPtr& output, std::string& error)
{
    AVFormatContext* context = nullptr;
    int code = avformat_alloc_output_context2(&context, nullptr, "avi", path.c_str());
    if (code < 0) {
        error = FfmpegError(code);
        return false;
    }
    output.reset(context);
    for (unsigned i = 0; i < input.nb_streams; ++i) {
        AVStream* stream = avformat_new_stream(context, nullptr);
        if (!stream || avcodec_parameters_copy(stream->codecpar, input.streams[i]->codecpar) < 0) {
            error = "cannot copy stream " + std::to_string(i);
            return false;
        }
        stream->time_base = input.streams[i]->time_base;
    }
    code = avio_open(&context->pb, path.c_str(), AVIO_FLAG_WRITE);
    if (code >= 0)
        code = avformat_write_header(context, nullptr);
    if (code < 0) {
        avio_closep(&context->pb);
        error = FfmpegError(code);
        return false;
    }
    return true;
}

// Copies every packet that can be read; the unfinished last one of a cut
// file ends the copy without failing it.
bool CopyPackets(AVFormatContext& input, AVFormatContext& output, std::string& error)
{
    PacketPtr packet(av_packet_alloc());
    if (!packet) {
        error = "out of memory";
        return false;
    }
    while (av_read_frame(&input, packet.get()) >= 0) {
        const AVStream* from = input.streams[packet->stream_index];
        av_packet_rescale_ts(packet.get(), from->time_base, output.streams[packet->stream_index]->time_base);
        const int code = av_interleaved_write_frame(&output, packet.get());
        if (code < 0) {
            error = FfmpegError(code);
            return false;
        }
    }
    const int code = av_write_trailer(&output);
    if (code < 0) {
        error = FfmpegError(code);
        return false;
    }
    return true;
}

bool Remux(const std::string& from, const std::string& to, std::string& error)
{
    InputFormatPtr input;
    OutputFormatPtr output;
    if (!OpenRecordingInput(from, input, error) || !OpenOutput(to, *input, output, error))
        return false;
    const bool copied = CopyPackets(*input, *output, error);
    const int closed = avio_closep(&output->pb);
    if (copied && closed < 0)
        error = FfmpegError(closed);
    return copied && closed >= 0;
}

// The repaired copy must read back as a closed AVI with a length.
bool ReadsBack(const std::string& path, double& seconds, std::string& error)
{
    InputFormatPtr input;
    if (!OpenRecordingInput(path, input, error))
        return false;
    if (input->duration <= 0 || IsUnclosedRecording(path)) {
        error = "the repaired copy has no length";
        return false;
    }
    seconds = double(input->duration) / AV_TIME_BASE;
    return true;
}

std::vector<std::string> FolderEntries(const std::string& folder)
{
    std::vector<std::string> names;
    std::unique_ptr<DIR, int (*)(DIR*)> listing(::opendir(folder.c_str()), ::closedir);
    if (!listing)
        return names;
    while (const dirent* entry = ::readdir(listing.get()))
        names.emplace_back(entry->d_name);
    return names;
}

bool EndsWith(const std::string& text, const std::string& end)
{
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

} // namespace

bool OpenRecordingInput(const std::string& path, InputFormatPtr& input, std::string& error)
{
    AVFormatContext* context = nullptr;
    int code = avformat_open_input(&context, path.c_str(), nullptr, nullptr);
    if (code < 0) {
        error = FfmpegError(code);
        return false;
    }
    input.reset(context);
    code = avformat_find_stream_info(context, nullptr);
    if (code < 0) {
        error = FfmpegError(code);
        return false;
    }
    return true;
}

// Past a gigabyte the writer closes the first RIFF chunk as it goes, so
// only the main header's frame count, written at the close, tells.
bool IsUnclosedRecording(const std::string& path)
{
    std::unique_ptr<std::FILE, CloseFile> file(std::fopen(path.c_str(), "rb"));
    std::array<unsigned char, kTotalFramesOffset + 4> head{};
    if (!file || std::fread(head.data(), 1, head.size(), file.get()) != head.size())
        return false;
    auto le32 = [&head](size_t at) {
        return head[at] | head[at + 1] << 8 | head[at + 2] << 16 | uint32_t(head[at + 3]) << 24;
    };
    if (std::memcmp(head.data(), "RIFF", 4) != 0 || std::memcmp(head.data() + 8, "AVI ", 4) != 0)
        return false;
    // A sound-only recording keeps a frame count of 0 when closed.
    const bool mainHeader = std::memcmp(head.data() + kMainHeaderOffset, "avih", 4) == 0;
    const bool pastFirstChunk = std::fseek(file.get(), 0, SEEK_END) == 0 && std::ftell(file.get()) > kFirstRiffLimit;
    return le32(4) == kOpenSizePlaceholder || (mainHeader && pastFirstChunk && le32(kTotalFramesOffset) == 0);
}

bool RepairRecording(const std::string& path, double& seconds, std::string& error)
{
    const std::string repaired = RepairPath(path);
    if (!Remux(path, repaired, error) || !ReadsBack(repaired, seconds, error)) {
        std::remove(repaired.c_str());
        return false;
    }
    if (std::rename(repaired.c_str(), path.c_str()) != 0) {
        error = std::strerror(errno);
        std::remove(repaired.c_str());
        return false;
    }
    return true;
}

void RepairUnclosedRecordings(const std::string& folder)
{
    for (const std::string& name : FolderEntries(folder)) {
        const std::string path = folder + "/" + name;
        if (name[0] == '.' && EndsWith(name, kRepairSuffix)) {
            std::remove(path.c_str());
            continue;
        }
        if (name.rfind("Rec_", 0) != 0 || !EndsWith(name, ".avi") || !IsUnclosedRecording(path))
            continue;
        double seconds = 0;
        std::string error;
        if (RepairRecording(path, seconds, error)) {
            char length[32];
            std::snprintf(length, sizeof length, "%.1f", seconds);
            Log("The recording " + path + " was left open by an interrupted run; it is repaired and lasts " +
                length + " s.");
        } else {
            Log("The recording " + path + " was left open by an interrupted run and could not be repaired (" +
                error + "); it is kept as it was.");
        }
    }
}
