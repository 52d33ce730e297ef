// Who may watch: the session tokens handed out at login, and the slowdown
// of repeated wrong passwords, which follows the server's own schedule.
// Used on the gateway's Qt thread alone.
#pragma once

#include <QByteArray>
#include <QHash>
#include <QSet>
#include <QString>

#include <chrono>
#include <optional>

namespace web {

inline constexpr char kCookieName[] = "orvandel_session";

enum class LoginOutcome { Accepted, Refused, Unanswered };

// Wrong passwords are counted for each address, so that one guesser cannot
// lock everybody out, and an address gets one answer at a time, so that it
// cannot guess in parallel past the slowdown.
class Logins {
public:
    using Time = std::chrono::system_clock::time_point;

    // A token unused for this long is forgotten.
    static constexpr std::chrono::hours kTokenLife{24 * 30};
    // Tokens kept at most; the least recently used goes first.
    static constexpr qsizetype kMostTokens = 256;

    // Starts an attempt from the address: the milliseconds to wait before
    // answering it, or nothing while another attempt from there is open.
    std::optional<int> begin(const QString& address);
    // Ends it: a refusal counts, an acceptance clears the count.
    void end(const QString& address, LoginOutcome outcome);
    // A new random session token, used from now.
    QByteArray open(Time now);
    // Whether a Cookie header carries a live token; its use keeps it alive.
    bool admit(const QByteArray& cookieHeader, Time now);
    // The token a Cookie header names, live or not.
    static QByteArray tokenIn(const QByteArray& cookieHeader);
    // Forgets the header's token (Log out); the token, or empty when it had none.
    QByteArray close(const QByteArray& cookieHeader);

    // The Set-Cookie value for a token; Secure when served over TLS.
    static QByteArray setCookie(const QByteArray& token, bool secure);

private:
    QHash<QString, int> failures_;
    QSet<QString> answering_;
    // Each token with its last use.
    QHash<QByteArray, Time> tokens_;
};

}  // namespace web
