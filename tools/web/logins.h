// Who may watch: the session cookies handed out at login, and the slowdown
// of repeated wrong passwords, which follows the server's own schedule.
#pragma once

#include <QByteArray>
#include <QHash>
#include <QSet>
#include <QString>

#include <mutex>
#include <optional>

namespace web {

inline constexpr char kCookieName[] = "orvandel_session";

enum class LoginOutcome { Accepted, Refused, Unanswered };

// Wrong passwords are counted for each address, so that one guesser cannot
// lock everybody out, and an address gets one answer at a time, so that it
// cannot guess in parallel past the slowdown.
class Logins {
public:
    // Starts an attempt from the address: the milliseconds to wait before
    // answering it, or nothing while another attempt from there is open.
    std::optional<int> begin(const QString& address);
    // Ends it: a refusal counts, an acceptance clears the count.
    void end(const QString& address, LoginOutcome outcome);
    // A new random session token.
    QByteArray open();
    // Whether a Cookie header carries a token handed out here.
    bool admits(const QByteArray& cookieHeader) const;

    // The Set-Cookie value for a token; Secure when served over TLS.
    static QByteArray setCookie(const QByteArray& token, bool secure);

private:
    mutable std::mutex mutex_;
    QHash<QString, int> failures_;
    QSet<QString> answering_;
    QSet<QByteArray> tokens_;
};

}  // namespace web
