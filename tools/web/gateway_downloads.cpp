// The gateway's downloads: a film gathered from the server's stream into a
// file, then written as an MP4 on a worker thread and offered to the
// viewer who asked.
#include "gateway.h"

#include "platform/log.h"

#include <QFileInfo>
#include <QtConcurrent/QtConcurrentRun>

namespace web {

// The download takes the server's session as a stream would: the viewers
// see that it runs, and play again once it has ended or was cancelled.
void Gateway::startDownload(Viewer& viewer, const QString& path, int start, double length, int quality)
{
    if (path.isEmpty() || start < 0 || length < 0 || quality < 0 || quality >= int(std::size(kQualityProfiles)))
        return;
    if (gathering()) {
        sendText(viewer, QJsonObject{{"type", "download"}, {"error", "Another download is in progress"}});
        return;
    }
    auto download = std::make_shared<Download>(++downloadCounter_, viewer.socket.get(), path.toStdString(), length);
    QString error;
    if (!download->usable(error)) {
        Log("no folder for a download: " + error.toStdString());
        sendText(viewer, QJsonObject{{"type", "download"}, {"error", "The gateway has no room for downloads"}});
        return;
    }
    download_ = std::move(download);
    Log("download of \"" + path.toStdString() + "\" begins");
    streamWanted_ = true;
    wanted_ = StreamSource{.file = path.toStdString(), .startSeconds = start, .profile = kQualityProfiles[quality],
                           .gatherInto = download_->gathered()};
    cache_.clear();
    for (auto& each : viewers_)
        each->hasInit = false;
    sendText(viewer, QJsonObject{{"type", "download"}, {"state", "started"}, {"name", download_->name()}});
    link_->play(wanted_);
}

void Gateway::cancelDownload()
{
    if (!gathering())
        return;
    Log("download of \"" + wanted_.file + "\" cancelled");
    answer(download_->viewer(), QJsonObject{{"type", "download"}, {"error", "Cancelled"}});
    download_.reset();
    streamWanted_ = false;
    link_->stop();
}

void Gateway::onDownloadProgress(const QString& gathered, double seconds)
{
    if (!gathering() || gathered.toStdString() != download_->gathered())
        return;
    answer(download_->viewer(), QJsonObject{{"type", "download"}, {"state", "progress"}, {"seconds", seconds}});
    // The part asked for is in: the stream stops, and once the link says so
    // the download is done.
    if (!download_->complete() && download_->reached(seconds))
        link_->stop();
}

// Complete when the file's end came; the MP4 is then written on a worker
// thread, since a film's copy takes a moment.
void Gateway::endGathering(bool complete)
{
    streamWanted_ = false;
    wanted_.gatherInto.clear();
    if (!complete) {
        Log("download of \"" + wanted_.file + "\" failed: " + stateMessage_.value("message").toString().toStdString());
        answer(download_->viewer(), QJsonObject{{"type", "download"}, {"error", "The download failed"}});
        download_.reset();
        // The link forgets it too, or a session taken back would start it again.
        link_->stop();
        return;
    }
    answer(download_->viewer(), QJsonObject{{"type", "download"}, {"state", "writing"}});
    std::shared_ptr<const Download> download = download_;
    (void)QtConcurrent::run(&writePool_, [this, download] {
        std::string error;
        const bool written = download->writeFile(error);
        QMetaObject::invokeMethod(this, [=, this] { onDownloadWritten(download->id(), written, QString::fromStdString(error)); });
    });
}

void Gateway::onDownloadWritten(quint64 id, bool written, const QString& error)
{
    if (!download_ || download_->id() != id)
        return;
    if (!written) {
        Log("download of " + download_->name().toStdString() + " could not be written: " + error.toStdString());
        answer(download_->viewer(), QJsonObject{{"type", "download"}, {"error", "The download failed"}});
        download_.reset();
        return;
    }
    download_->markWritten();
    const qint64 bytes = QFileInfo(download_->file()).size();
    Log("download of " + download_->name().toStdString() + ": " + std::to_string(bytes) + " bytes in "
        + std::to_string(download_->seconds()) + " s");
    answer(download_->viewer(), QJsonObject{{"type", "download"}, {"state", "ready"}, {"name", download_->name()},
                                            {"url", QString("downloads/%1").arg(id)}, {"bytes", bytes},
                                            {"seconds", download_->seconds()}});
}

}  // namespace web
