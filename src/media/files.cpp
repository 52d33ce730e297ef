#include "media/files.h"

extern "C" {
#include <libavformat/avformat.h>
}

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Reads count bytes from the start of an open file; 0, or -1 when fewer
// arrive (a file that shrank while being read counts as unreadable).
int ReadStart(int file, size_t count, std::string& contents)
{
    contents.resize(count);
    size_t got = 0;
    while (got < count) {
        const ssize_t now = ::read(file, contents.data() + got, count - got);
        if (now < 0 && errno == EINTR)
            continue;
        if (now <= 0)
            break;
        got += static_cast<size_t>(now);
    }
    if (got == count)
        return 0;
    contents.clear();
    return -1;
}

// Opens path and reads its first bytes: all of a file of at most limit
// bytes, else limit bytes when wholeOnly is false.
int ReadFile(const std::string& path, size_t limit, bool wholeOnly, std::string& contents)
{
    contents.clear();
    const int file = OpenRegularFile(path);
    if (file < 0)
        return -1;
    struct stat info;
    int result = -1;
    if (::fstat(file, &info) == 0) {
        const size_t size = static_cast<size_t>(info.st_size);
        if (size <= limit || !wholeOnly)
            result = ReadStart(file, std::min(size, limit), contents);
    }
    ::close(file);
    return result;
}

} // namespace

int OpenRegularFile(const std::string& path)
{
    const int file = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (file < 0)
        return -1;
    struct stat info;
    if (::fstat(file, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(file);
        return -1;
    }
    return file;
}

int ReadRegularFile(const std::string& path, size_t limit, std::string& contents)
{
    return ReadFile(path, limit, true, contents);
}

int ReadFileStart(const std::string& path, size_t limit, std::string& contents)
{
    return ReadFile(path, limit, false, contents);
}

InputFormatPtr OpenMediaFile(const std::string& path, const AVIOInterruptCB* interrupt)
{
    AVFormatContext* format = avformat_alloc_context();
    if (!format)
        return nullptr;
    if (interrupt)
        format->interrupt_callback = *interrupt;
    AVDictionary* options = nullptr;
    av_dict_set(&options, "protocol_whitelist", "file", 0);
    const std::string url = "file:" + path;
    // On failure the context is freed by the call itself.
    const int result = avformat_open_input(&format, url.c_str(), nullptr, &options);
    av_dict_free(&options);
    return InputFormatPtr(result < 0 ? nullptr : format);
}
