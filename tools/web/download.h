// A file gathered from the server for a viewer to keep. The stream goes
// into a fragmented MP4 in a folder of the download's own as it arrives,
// as fast as the server sends it, and is then written out as an ordinary
// MP4 that every player opens.
#pragma once

#include "live_remuxer.h"
#include "stream_receiver.h"

#include <QPointer>
#include <QString>
#include <QTemporaryDir>
#include <QWebSocket>

#include <chrono>
#include <functional>
#include <memory>
#include <string>

namespace web {

// Gathers a stream into the file at `path` on the receiving thread;
// `progress` hears the seconds gathered so far, at most twice a second.
std::unique_ptr<handheld::StreamSink> makeGatheringSink(const StreamFormat& format, const std::string& path,
                                                        std::function<void(double)> progress);

class Download {
public:
    // lengthSeconds 0 keeps the whole film from its start.
    Download(quint64 id, QPointer<QWebSocket> viewer, const std::string& path, double lengthSeconds);

    quint64 id() const { return id_; }
    // The viewer who asked; null once it has gone.
    const QPointer<QWebSocket>& viewer() const { return viewer_; }
    // The name the browser saves it under: the film's, ending in ".mp4".
    const QString& name() const { return name_; }
    // The finished file, once written.
    QString file() const { return folder_.filePath("download.mp4"); }
    bool usable(QString& error) const;
    // Notes how far the stream has got: whether that is all that was asked
    // for, so that the rest of the film is not waited for.
    bool reached(double seconds)
    {
        complete_ = length_ > 0 && seconds >= length_;
        return complete_;
    }
    bool complete() const { return complete_; }
    // Set on the Qt thread once the MP4 is written: only then is it served.
    void markWritten() { written_ = true; }
    bool written() const { return written_; }

    // Where the stream is gathered, as a fragmented MP4.
    std::string gathered() const { return folder_.filePath("gathered.mp4").toStdString(); }
    // Writes the ordinary MP4 from what was gathered; on a worker thread,
    // once the stream has ended. False with the reason.
    bool writeFile(std::string& error) const;
    // Seconds since the download began.
    double seconds() const;

private:
    quint64 id_;
    QPointer<QWebSocket> viewer_;
    QString name_;
    double length_;
    bool complete_ = false;
    bool written_ = false;
    QTemporaryDir folder_;
    std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
};

}  // namespace web
