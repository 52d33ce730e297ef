#include "logins.h"

#include <QList>
#include <QRandomGenerator>

#include <algorithm>

namespace web {

namespace {

// As on the server: five free tries, then 1 s doubling up to 30 s.
constexpr int kFreeFailures = 5;
constexpr int kFirstDelayMs = 1000;
constexpr int kLongestDelayMs = 30000;
constexpr int kTokenWords = 4;

}  // namespace

std::optional<int> Logins::begin(const QString& address)
{
    std::lock_guard lock(mutex_);
    if (answering_.contains(address))
        return std::nullopt;
    answering_.insert(address);
    const int failures = failures_.value(address);
    if (failures < kFreeFailures)
        return 0;
    const int doublings = std::min(failures - kFreeFailures, 5);
    return std::min(kFirstDelayMs << doublings, kLongestDelayMs);
}

void Logins::end(const QString& address, LoginOutcome outcome)
{
    std::lock_guard lock(mutex_);
    answering_.remove(address);
    if (outcome == LoginOutcome::Accepted)
        failures_.remove(address);
    else if (outcome == LoginOutcome::Refused)
        ++failures_[address];
}

QByteArray Logins::open()
{
    quint32 words[kTokenWords];
    QRandomGenerator::system()->fillRange(words);
    const QByteArray token =
        QByteArray(reinterpret_cast<const char*>(words), sizeof words).toBase64(QByteArray::Base64UrlEncoding);
    std::lock_guard lock(mutex_);
    tokens_.insert(token);
    return token;
}

bool Logins::admits(const QByteArray& cookieHeader) const
{
    const QByteArray prefix = QByteArray(kCookieName) + '=';
    for (const QByteArray& part : cookieHeader.split(';')) {
        const QByteArray cookie = part.trimmed();
        if (!cookie.startsWith(prefix))
            continue;
        std::lock_guard lock(mutex_);
        if (tokens_.contains(cookie.mid(prefix.size())))
            return true;
    }
    return false;
}

QByteArray Logins::setCookie(const QByteArray& token, bool secure)
{
    QByteArray value = QByteArray(kCookieName) + '=' + token + "; Path=/; HttpOnly; SameSite=Strict";
    return secure ? value + "; Secure" : value;
}

}  // namespace web
