// Who may watch: the session cookies handed out at login, and the slowdown
// of repeated wrong passwords, which follows the server's own.
#pragma once

#include <QByteArray>
#include <QSet>

#include <mutex>

namespace web {

inline constexpr char kCookieName[] = "orvandel_session";

class Logins {
public:
    // Milliseconds to wait before answering the next login.
    int delayMs() const;
    // Counts a failure, or clears the count after a success.
    void count(bool accepted);
    // A new random session token.
    QByteArray open();
    // Whether a Cookie header carries a token handed out here.
    bool admits(const QByteArray& cookieHeader) const;

    // The Set-Cookie value for a token; Secure when served over TLS.
    static QByteArray setCookie(const QByteArray& token, bool secure);

private:
    mutable std::mutex mutex_;
    int failures_ = 0;
    QSet<QByteArray> tokens_;
};

}  // namespace web
