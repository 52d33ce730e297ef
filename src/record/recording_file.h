#pragma once
// The file a recording is written to. The muxer hands it each packet as it
// is made; a thread of its own writes them out at least once a second and
// has the file system keep them, so that a crash or a power cut loses at
// most the last two seconds. Room for closing the file is set aside ahead
// of what is written, so that a full disk still leaves a playable file, and
// every write error, a full disk or a vanished folder is reported once, to
// stop the recording.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct AVIOContext;

class RecordingFile {
public:
    // Told once, on the writer's thread, why the recording must stop.
    using FailureReport = std::function<void(const std::string& reason)>;

    RecordingFile() = default;
    RecordingFile(const RecordingFile&) = delete;
    RecordingFile& operator=(const RecordingFile&) = delete;
    ~RecordingFile();

    // Creates the file (never over an existing one) and starts the writer.
    // False with the system's reason in `error`.
    bool Open(const std::string& path, FailureReport report, std::string& error);
    // The muxer's output; it lives as long as the file is open.
    AVIOContext* Io() const { return io_; }
    // Writes everything out, gives back the room set aside and closes.
    // False when something could not be written; `error` says why.
    bool Close(std::string& error);

private:
    static int WritePacket(void* opaque, uint8_t* data, int size);
    static int64_t Seek(void* opaque, int64_t offset, int whence);
    void Run();
    bool WriteOut(std::vector<uint8_t>& bytes);
    void KeepRoomAhead();
    void CheckStillThere();
    bool WaitUntilWritten();
    void Fail(const std::string& reason);

    std::string path_;
    int fd_ = -1;
    AVIOContext* io_ = nullptr;
    FailureReport report_;

    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable written_;
    std::vector<uint8_t> pending_;
    bool writing_ = false;
    bool drain_ = false;
    bool stop_ = false;

    // The writer's own; read by Close after the thread has ended.
    int64_t position_ = 0;
    int64_t reservedEnd_ = 0;
    bool reserving_ = true;
    std::string writeError_;
    std::atomic<bool> failed_{false};
    std::thread thread_;
};
