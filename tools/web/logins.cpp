#include "logins.h"

#include "platform/login_delay.h"

#include <QList>
#include <QRandomGenerator>

namespace web {

namespace {

constexpr int kFirstDelayMs = 1000;
constexpr int kTokenWords = 4;

}  // namespace

std::optional<int> Logins::begin(const QString& address)
{
    std::lock_guard lock(mutex_);
    if (answering_.contains(address))
        return std::nullopt;
    answering_.insert(address);
    return LoginDelayMs(failures_.value(address), kFirstDelayMs);
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
