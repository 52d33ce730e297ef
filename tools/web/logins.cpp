#include "logins.h"

#include "platform/login_delay.h"

#include <QList>
#include <QRandomGenerator>

#include <algorithm>

namespace web {

namespace {

constexpr int kFirstDelayMs = 1000;
constexpr int kTokenWords = 4;

}  // namespace

std::optional<int> Logins::begin(const QString& address)
{
    if (answering_.contains(address))
        return std::nullopt;
    answering_.insert(address);
    return LoginDelayMs(failures_.value(address), kFirstDelayMs);
}

void Logins::end(const QString& address, LoginOutcome outcome)
{
    answering_.remove(address);
    if (outcome == LoginOutcome::Accepted)
        failures_.remove(address);
    else if (outcome == LoginOutcome::Refused)
        ++failures_[address];
}

QByteArray Logins::open(Time now)
{
    quint32 words[kTokenWords];
    QRandomGenerator::system()->fillRange(words);
    const QByteArray token =
        QByteArray(reinterpret_cast<const char*>(words), sizeof words).toBase64(QByteArray::Base64UrlEncoding);
    if (tokens_.size() >= kMostTokens) {
        const auto oldest = std::min_element(tokens_.constKeyValueBegin(), tokens_.constKeyValueEnd(),
                                             [](const auto& a, const auto& b) { return a.second < b.second; });
        tokens_.remove(oldest->first);
    }
    tokens_.insert(token, now);
    return token;
}

bool Logins::admit(const QByteArray& cookieHeader, Time now)
{
    const auto found = tokens_.find(tokenIn(cookieHeader));
    if (found == tokens_.end())
        return false;
    if (now - found.value() > kTokenLife) {
        tokens_.erase(found);
        return false;
    }
    found.value() = std::max(found.value(), now);
    return true;
}

QByteArray Logins::tokenIn(const QByteArray& cookieHeader)
{
    const QByteArray prefix = QByteArray(kCookieName) + '=';
    for (const QByteArray& part : cookieHeader.split(';')) {
        const QByteArray cookie = part.trimmed();
        if (cookie.startsWith(prefix) && cookie.size() > prefix.size())
            return cookie.mid(prefix.size());
    }
    return {};
}

QByteArray Logins::close(const QByteArray& cookieHeader)
{
    const QByteArray token = tokenIn(cookieHeader);
    return tokens_.remove(token) ? token : QByteArray();
}

QByteArray Logins::setCookie(const QByteArray& token, bool secure)
{
    QByteArray value = QByteArray(kCookieName) + '=' + token + "; Path=/; HttpOnly; SameSite=Strict";
    return secure ? value + "; Secure" : value;
}

}  // namespace web
