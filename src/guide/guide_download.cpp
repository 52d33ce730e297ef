#include "guide/guide_download.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <QUrl>

#include <zlib.h>

#include <memory>

namespace {

constexpr int kSilenceLimitMs = 30000;
constexpr int kStopLookMs = 100;
constexpr qint64 kReadBufferBytes = 1 << 20;
constexpr int kInflatedPieceBytes = 64 * 1024;

// Hands the body on to the reader, unpacking it first when its first bytes
// are gzip's.
class BodyUnpacker {
public:
    explicit BodyUnpacker(XmltvReader& reader) : reader_(reader) {}
    ~BodyUnpacker()
    {
        if (inflating_)
            inflateEnd(&stream_);
    }
    BodyUnpacker(const BodyUnpacker&) = delete;
    BodyUnpacker& operator=(const BodyUnpacker&) = delete;

    // False once the body cannot be read: Error() says why.
    bool Feed(const QByteArray& bytes)
    {
        if (decided_)
            return Deliver(bytes);
        // Two bytes tell gzip from XML.
        pending_ += bytes;
        return pending_.size() < 2 || DecideAndDeliver();
    }

    bool Finish()
    {
        if (!decided_ && !DecideAndDeliver())
            return false;
        if (inflating_ && !ended_)
            return Failed("its gzip ends too early");
        return reader_.Finish() || Failed(reader_.Error());
    }

    const std::string& Error() const { return error_; }

private:
    bool DecideAndDeliver()
    {
        decided_ = true;
        const QByteArray bytes = std::move(pending_);
        inflating_ = bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0x1f &&
                     static_cast<unsigned char>(bytes[1]) == 0x8b;
        // 15 + 16: a gzip wrapper around the largest window.
        if (inflating_ && inflateInit2(&stream_, 15 + 16) != Z_OK) {
            inflating_ = false;
            return Failed("zlib could not start");
        }
        return Deliver(bytes);
    }

    bool Deliver(const QByteArray& bytes)
    {
        if (!inflating_)
            return reader_.Feed(bytes.constData(), static_cast<size_t>(bytes.size())) || Failed(reader_.Error());
        stream_.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.constData()));
        stream_.avail_in = static_cast<uInt>(bytes.size());
        char out[kInflatedPieceBytes];
        while (stream_.avail_in > 0 && !ended_) {
            stream_.next_out = reinterpret_cast<Bytef*>(out);
            stream_.avail_out = sizeof out;
            const int inflated = inflate(&stream_, Z_NO_FLUSH);
            if (inflated != Z_OK && inflated != Z_STREAM_END)
                return Failed(std::string("its gzip is damaged: ") + (stream_.msg ? stream_.msg : zError(inflated)));
            ended_ = inflated == Z_STREAM_END;
            if (!reader_.Feed(out, sizeof out - stream_.avail_out))
                return Failed(reader_.Error());
        }
        return true;
    }

    bool Failed(std::string error)
    {
        if (error_.empty())
            error_ = std::move(error);
        return false;
    }

    XmltvReader& reader_;
    z_stream stream_{};
    QByteArray pending_;
    bool decided_ = false;
    bool inflating_ = false;
    bool ended_ = false;
    std::string error_;
};

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

GuideImportResult ImportGuideUrl(GuideStore& store, const std::string& url, const std::vector<LineupChannel>& lineup,
                                 const StopRequest* stop)
{
    QNetworkAccessManager network;
    QNetworkRequest request(QUrl(QString::fromStdString(url)));
    request.setTransferTimeout(kSilenceLimitMs);
    const std::unique_ptr<QNetworkReply> reply(network.get(request));
    reply->setReadBufferSize(kReadBufferBytes);
    GuideStore::Import import(store);
    XmltvReader reader(import);
    BodyUnpacker body(reader);
    QEventLoop loop;
    bool readable = true;
    QObject::connect(reply.get(), &QNetworkReply::readyRead, &loop, [&] {
        if (readable && !body.Feed(reply->readAll())) {
            readable = false;
            reply->abort();
        }
    });
    QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QTimer stopWatch;
    bool stopped = false;
    if (stop) {
        QObject::connect(&stopWatch, &QTimer::timeout, &loop, [&] {
            if (stop->Asked() && !stopped) {
                stopped = true;
                reply->abort();
            }
        });
        stopWatch.start(kStopLookMs);
    }
    if (!reply->isFinished())
        loop.exec();
    if (stopped)
        return ImportFailed(url, kImportStopped);
    if (!readable)
        return ImportFailed(url, body.Error());
    if (reply->error() != QNetworkReply::NoError)
        return ImportFailed(url, ReplyFailure(*reply));
    if (!body.Feed(reply->readAll()) || !body.Finish())
        return ImportFailed(url, body.Error());
    return CommitImport(import, reader, url, lineup);
}
