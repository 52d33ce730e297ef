#include "download.h"

#include "plain_mp4.h"

#include <QFileInfo>

#include <fstream>

namespace web {

namespace {

constexpr auto kProgressPeriod = std::chrono::milliseconds(500);

// Writes the remuxer's initialisation segment and fragments one after
// another: together they are a fragmented MP4 file.
class GatheringSink final : public handheld::StreamSink {
public:
    GatheringSink(const StreamFormat& format, const std::string& path, std::function<void(double)> progress)
        : file_(path, std::ios::binary), progress_(std::move(progress)),
          remuxer_(format, 0.0, RemuxOutput{[this](InitSegment init) { write(init.bytes); },
                                            [this](Fragment fragment) { write(fragment.bytes); }})
    {
        if (!file_)
            error_ = "cannot create " + path;
    }

    bool video(uint32_t timeMs, std::span<const uint8_t> bytes) override
    {
        return added(remuxer_.addVideo(timeMs, bytes));
    }
    bool audio(uint32_t timeMs, std::span<const uint8_t> bytes) override
    {
        return added(remuxer_.addAudio(timeMs, bytes));
    }
    // A downloaded film plays wherever it is kept; subtitle records stay out.
    bool subtitle(std::span<const uint8_t>) override { return true; }
    std::string error() const override { return error_.empty() ? remuxer_.error() : error_; }

private:
    void write(const Bytes& bytes)
    {
        if (!file_.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size())) && error_.empty())
            error_ = "the download could not be written";
    }

    bool added(bool remuxed)
    {
        const auto now = std::chrono::steady_clock::now();
        if (now - lastProgress_ >= kProgressPeriod) {
            lastProgress_ = now;
            progress_(remuxer_.endSeconds());
        }
        return remuxed && error_.empty();
    }

    std::ofstream file_;
    std::function<void(double)> progress_;
    std::string error_;
    std::chrono::steady_clock::time_point lastProgress_{};
    // Last: made after the file it writes into, and gone before it.
    LiveRemuxer remuxer_;
};

}  // namespace

Download::Download(quint64 id, QPointer<QWebSocket> viewer, const std::string& path, double lengthSeconds)
    : id_(id), viewer_(std::move(viewer)), name_(QFileInfo(QString::fromStdString(path)).completeBaseName() + ".mp4"),
      length_(lengthSeconds)
{
}

bool Download::usable(QString& error) const
{
    if (!folder_.isValid())
        error = folder_.errorString();
    return folder_.isValid();
}

std::unique_ptr<handheld::StreamSink> makeGatheringSink(const StreamFormat& format, const std::string& path,
                                                        std::function<void(double)> progress)
{
    return std::make_unique<GatheringSink>(format, path, std::move(progress));
}

bool Download::writeFile(std::string& error) const
{
    return writePlainMp4(gathered(), file().toStdString(), length_, error);
}

double Download::seconds() const
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
}

}  // namespace web
