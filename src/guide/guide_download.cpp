#include "guide/guide_download.h"

#include <QDir>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTemporaryFile>
#include <QTimer>
#include <QUrl>

#include <memory>

namespace {

constexpr int kSilenceLimitMs = 30000;
constexpr int kStopLookMs = 100;
constexpr qint64 kReadBufferBytes = 1 << 20;
constexpr qint64 kMostBytes = qint64(1) << 30;

// What went wrong with the reply, in the server's or the network's words.
std::string ReplyFailure(QNetworkReply& reply)
{
    const QVariant status = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (status.isValid() && status.toInt() >= 400)
        return "the server answered HTTP " + std::to_string(status.toInt()) + " " +
               reply.attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString().toStdString();
    return reply.errorString().toStdString();
}

} // namespace

bool IsGuideUrl(const std::string& text)
{
    return text.starts_with("http://") || text.starts_with("https://");
}

GuideImportResult ImportGuideFrom(GuideStore& store, const std::string& source,
                                  const std::vector<LineupChannel>& lineup, const StopRequest* stop)
{
    return IsGuideUrl(source) ? ImportGuideUrl(store, source, lineup, stop)
                              : ImportGuideFile(store, source, lineup, stop);
}

// The body goes to a file first, then into the guide as a file does: the
// guide's database is written only for the moments of the import itself,
// not for as long as a slow server takes.
GuideImportResult ImportGuideUrl(GuideStore& store, const std::string& url, const std::vector<LineupChannel>& lineup,
                                 const StopRequest* stop)
{
    QTemporaryFile body(QDir::tempPath() + "/orvandel-guide-XXXXXX");
    if (!body.open())
        return ImportFailed(url, "no file for its download: " + body.errorString().toStdString());
    QNetworkAccessManager network;
    QNetworkRequest request(QUrl(QString::fromStdString(url)));
    request.setTransferTimeout(kSilenceLimitMs);
    const std::unique_ptr<QNetworkReply> reply(network.get(request));
    reply->setReadBufferSize(kReadBufferBytes);
    QEventLoop loop;
    std::string failure;
    auto giveUp = [&](std::string why) {
        if (failure.empty())
            failure = std::move(why);
        reply->abort();
    };
    QObject::connect(reply.get(), &QNetworkReply::readyRead, &loop, [&] {
        const QByteArray piece = reply->readAll();
        if (body.size() + piece.size() > kMostBytes)
            giveUp("it is larger than 1 GB");
        else if (body.write(piece) != piece.size())
            giveUp("its download cannot be written: " + body.errorString().toStdString());
    });
    QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QTimer stopWatch;
    QObject::connect(&stopWatch, &QTimer::timeout, &loop, [&] {
        if (stop && stop->Asked())
            giveUp(kImportStopped);
    });
    stopWatch.start(kStopLookMs);
    if (!reply->isFinished())
        loop.exec();
    if (!failure.empty())
        return ImportFailed(url, failure);
    if (reply->error() != QNetworkReply::NoError)
        return ImportFailed(url, ReplyFailure(*reply));
    const QByteArray rest = reply->readAll();
    if (body.write(rest) != rest.size() || !body.flush())
        return ImportFailed(url, "its download cannot be written: " + body.errorString().toStdString());
    return ImportGuideFileAs(store, QFile::encodeName(body.fileName()).toStdString(), url, lineup, stop);
}
