#include "record/recording_file.h"

#include "platform/log.h"

extern "C" {
#include <libavformat/avio.h>
#include <libavutil/mem.h>
}

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

namespace {

using namespace std::chrono_literals;

constexpr int kIoBufferSize = 32 * 1024;
// The writer wakes at least this often, so encoded bytes reach the file
// within a second and the disk within the next.
constexpr auto kWritePeriod = 1s;
constexpr size_t kWriteEarly = 256 * 1024;
// Room kept allocated past the end of what is written, for the index (16
// bytes a packet, up to a tenth of a low-rate file) and the headers.
constexpr int64_t kLeastRoomAhead = 8 * 1024 * 1024;
constexpr int64_t kRoomAheadShare = 8;
// Less free space than this beside the room set aside means a full disk.
constexpr uint64_t kFullDiskMargin = 256 * 1024;
constexpr auto kDrainLimit = 10s;

std::string SystemError(int code)
{
    return std::strerror(code);
}

} // namespace

RecordingFile::~RecordingFile()
{
    std::string ignored;
    Close(ignored);
}

bool RecordingFile::Open(const std::string& path, FailureReport report, std::string& error)
{
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd_ < 0) {
        error = SystemError(errno);
        return false;
    }
    auto* buffer = static_cast<unsigned char*>(av_malloc(kIoBufferSize));
    io_ = buffer ? avio_alloc_context(buffer, kIoBufferSize, 1, this, nullptr, WritePacket, Seek) : nullptr;
    if (!io_) {
        av_free(buffer);
        ::close(fd_);
        fd_ = -1;
        ::unlink(path.c_str());
        error = "out of memory";
        return false;
    }
    path_ = path;
    report_ = std::move(report);
    KeepRoomAhead();
    thread_ = std::thread(&RecordingFile::Run, this);
    return true;
}

bool RecordingFile::Close(std::string& error)
{
    if (fd_ < 0)
        return true;
    if (io_)
        avio_flush(io_);
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable())
        thread_.join();
    bool closed = writeError_.empty();
    if (::fdatasync(fd_) != 0 && closed) {
        closed = false;
        writeError_ = SystemError(errno);
    }
    // The room set aside past the end goes back to the disk.
    struct stat status {};
    // A truncation to the same size frees what was set aside past the end
    // (ext4 ignores a hole punched there; tmpfs needs the hole).
    if (reserving_ && ::fstat(fd_, &status) == 0 && reservedEnd_ > status.st_size) {
        ::fallocate(fd_, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, status.st_size, reservedEnd_ - status.st_size);
        [[maybe_unused]] const int ignored = ::ftruncate(fd_, status.st_size);
    }
    if (::close(fd_) != 0 && closed) {
        closed = false;
        writeError_ = SystemError(errno);
    }
    fd_ = -1;
    if (io_) {
        av_freep(&io_->buffer);
        avio_context_free(&io_);
    }
    error = writeError_;
    return closed;
}

int RecordingFile::WritePacket(void* opaque, uint8_t* data, int size)
{
    auto& file = *static_cast<RecordingFile*>(opaque);
    bool early = false;
    {
        std::lock_guard lock(file.mutex_);
        file.pending_.insert(file.pending_.end(), data, data + size);
        early = file.pending_.size() >= kWriteEarly;
    }
    if (early)
        file.wake_.notify_all();
    return size;
}

// The trailer seeks once the recording has stopped, and the writer seeks
// at each gigabyte to close a RIFF chunk: what is queued is written first,
// so that the header patches land after it.
int64_t RecordingFile::Seek(void* opaque, int64_t offset, int whence)
{
    auto& file = *static_cast<RecordingFile*>(opaque);
    if (!file.WaitUntilWritten()) {
        file.Fail("the disk did not take the recording in time");
        return AVERROR(EIO);
    }
    if (whence & AVSEEK_SIZE) {
        struct stat status {};
        return ::fstat(file.fd_, &status) == 0 ? status.st_size : AVERROR(errno);
    }
    const off_t at = ::lseek(file.fd_, offset, whence & ~AVSEEK_FORCE);
    return at < 0 ? AVERROR(errno) : at;
}

bool RecordingFile::WaitUntilWritten()
{
    std::unique_lock lock(mutex_);
    drain_ = true;
    wake_.notify_all();
    return written_.wait_for(lock, kDrainLimit, [this] { return pending_.empty() && !writing_; });
}

void RecordingFile::Run()
{
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait_for(lock, kWritePeriod, [this] { return stop_ || drain_ || pending_.size() >= kWriteEarly; });
        std::vector<uint8_t> bytes;
        bytes.swap(pending_);
        writing_ = true;
        drain_ = false;
        const bool stopping = stop_;
        lock.unlock();
        if (!bytes.empty() && WriteOut(bytes) && ::fdatasync(fd_) != 0) {
            // Linux tells a failed sync once: Close would not hear of it.
            writeError_ = "the file system did not keep the recording: " + SystemError(errno);
            Fail(writeError_);
        }
        KeepRoomAhead();
        CheckStillThere();
        lock.lock();
        writing_ = false;
        written_.notify_all();
        if (stopping && pending_.empty())
            return;
    }
}

bool RecordingFile::WriteOut(std::vector<uint8_t>& bytes)
{
    // After a failed write the rest would only land at the wrong place.
    if (!writeError_.empty())
        return false;
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t wrote = ::write(fd_, bytes.data() + done, bytes.size() - done);
        if (wrote < 0 && errno == EINTR)
            continue;
        if (wrote <= 0) {
            writeError_ = SystemError(wrote < 0 ? errno : EIO);
            Fail(writeError_);
            return false;
        }
        done += size_t(wrote);
    }
    const off_t at = ::lseek(fd_, 0, SEEK_CUR);
    position_ = std::max<int64_t>(position_, at);
    return true;
}

// A disk that cannot give the room ahead is full: the recording stops while
// the room already set aside still holds its index.
void RecordingFile::KeepRoomAhead()
{
    struct statvfs disk {};
    if (::fstatvfs(fd_, &disk) == 0 && uint64_t(disk.f_bavail) * disk.f_frsize < kFullDiskMargin)
        Fail(SystemError(ENOSPC));
    const int64_t room = std::max(kLeastRoomAhead, position_ / kRoomAheadShare);
    if (!reserving_ || reservedEnd_ - position_ >= room / 2)
        return;
    if (::fallocate(fd_, FALLOC_FL_KEEP_SIZE, position_, room) == 0) {
        reservedEnd_ = position_ + room;
        return;
    }
    const int code = errno;
    if (code == EOPNOTSUPP) {
        // A file system that cannot set room aside still records; only a
        // full disk then costs the index, which the next start repairs.
        reserving_ = false;
        Log("The recording folder cannot set room aside for closing " + path_ + "; a full disk will leave it "
            "to be repaired at the next start.");
        return;
    }
    Fail(SystemError(code));
}

// An unplugged disk or an unmounted share may still take writes into the
// open file, which then lands nowhere anyone can see.
void RecordingFile::CheckStillThere()
{
    struct stat named {};
    struct stat open {};
    if (::stat(path_.c_str(), &named) != 0)
        Fail("the file is gone (" + SystemError(errno) + ")");
    else if (::fstat(fd_, &open) == 0 && (named.st_ino != open.st_ino || named.st_dev != open.st_dev))
        Fail("the file was replaced");
}

void RecordingFile::Fail(const std::string& reason)
{
    if (failed_.exchange(true))
        return;
    if (report_)
        report_(reason);
}
