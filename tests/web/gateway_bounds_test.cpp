// What the gateway lets in: requests within their limits, and session
// tokens that end with Log out or a month unused.

#include "http_request.h"
#include "logins.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using web::HttpParse;
using web::ParseHttpRequest;

TEST(HttpRequestTest, RequestsAreReadWholeAndRefusedFromTheirHeadWhenPastALimit)
{
    const web::HttpLimits limits{.headBytes = 256, .headerCount = 4, .bodyBytes = 16};
    const std::string login = "POST /api/login?x=1 HTTP/1.1\r\nHost: tv:8080\r\nContent-Type: application/json\r\n"
                              "Content-Length: 5\r\n\r\n{\"a\":";
    const std::string next = "GET / HTTP/1.1\r\n\r\n";
    // Every cut short of the body's end waits for more.
    for (size_t cut = 0; cut < login.size(); ++cut)
        EXPECT_EQ(HttpParse::Incomplete, ParseHttpRequest(login.substr(0, cut), limits).outcome) << cut;
    const auto parsed = ParseHttpRequest(login + next, limits);
    ASSERT_EQ(HttpParse::Complete, parsed.outcome);
    EXPECT_EQ(login.size(), parsed.consumed);
    EXPECT_EQ("/api/login", parsed.request.path);
    EXPECT_EQ("x=1", parsed.request.query);
    EXPECT_EQ("tv:8080", parsed.request.header("host"));
    EXPECT_EQ("{\"a\":", parsed.request.body);
    EXPECT_TRUE(parsed.request.keepAlive);

    const auto refusal = [&](const std::string& bytes) { return ParseHttpRequest(bytes, limits).status; };
    // A length past the limit is refused before any of the body comes.
    EXPECT_EQ(413, refusal("POST / HTTP/1.1\r\nContent-Length: 9000000000\r\n\r\n"));
    EXPECT_EQ(413, refusal("POST / HTTP/1.1\r\nContent-Length: 99999999999999999999999\r\n\r\n"));
    EXPECT_EQ(411, refusal("POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n"));
    EXPECT_EQ(400, refusal("POST / HTTP/1.1\r\nContent-Length: 1\r\nContent-Length: 2\r\n\r\n"));
    EXPECT_EQ(400, refusal("POST / HTTP/1.1\r\nContent-Length: -1\r\n\r\n"));
    // A head that never ends, or has too many lines, before it ends.
    EXPECT_EQ(431, refusal("GET / HTTP/1.1\r\nX: " + std::string(300, 'a')));
    EXPECT_EQ(431, refusal("GET / HTTP/1.1\r\nA: 1\r\nB: 1\r\nC: 1\r\nD: 1\r\nE: 1\r\n"));
    EXPECT_EQ(400, refusal("GET / HTTP/1.1\r\nNo colon\r\n\r\n"));
    EXPECT_EQ(400, refusal("GET / HTTP/1.1\r\n folded: line\r\n\r\n"));
    EXPECT_EQ(400, refusal("GET noslash HTTP/1.1\r\n\r\n"));
    EXPECT_EQ(400, refusal("GET / extra HTTP/1.1\r\n\r\n"));
    EXPECT_EQ(505, refusal("GET / HTTP/2.0\r\n\r\n"));

    const auto upgrade = ParseHttpRequest("GET /stream HTTP/1.1\r\nUpgrade: WebSocket\r\n"
                                          "Connection: keep-alive, Upgrade\r\n\r\n", limits);
    EXPECT_TRUE(upgrade.request.upgradesToWebSocket());
    EXPECT_FALSE(ParseHttpRequest("GET / HTTP/1.0\r\n\r\n", limits).request.keepAlive);
    EXPECT_FALSE(ParseHttpRequest("GET / HTTP/1.1\r\nConnection: close\r\n\r\n", limits).request.keepAlive);
}

TEST(LoginsTest, TokensEndWithLogOutOrAMonthUnusedAndFailuresSlowDownEachAddressLikeTheServer)
{
    using namespace std::chrono_literals;
    web::Logins logins;
    const auto start = std::chrono::system_clock::now();
    const QByteArray token = logins.open(start);
    const QByteArray cookie = QByteArray(web::kCookieName) + "=" + token;
    EXPECT_TRUE(logins.admit("theme=dark; " + cookie, start));
    EXPECT_FALSE(logins.admit(cookie + "x", start));
    EXPECT_FALSE(logins.admit("other=" + token, start));
    EXPECT_TRUE(web::Logins::setCookie(token, false).contains("HttpOnly; SameSite=Strict"));
    EXPECT_TRUE(web::Logins::setCookie(token, true).endsWith("; Secure"));
    // Each use keeps a token for another month; a month unused ends it.
    EXPECT_TRUE(logins.admit(cookie, start + 29 * 24h));
    EXPECT_TRUE(logins.admit(cookie, start + 58 * 24h));
    EXPECT_FALSE(logins.admit(cookie, start + 89 * 24h));
    const QByteArray other = QByteArray(web::kCookieName) + "=" + logins.open(start);
    EXPECT_EQ(web::Logins::tokenIn(other), logins.close(other));
    EXPECT_FALSE(logins.admit(other, start));
    // A flood of logins keeps the newest tokens.
    const QByteArray kept = QByteArray(web::kCookieName) + "=" + logins.open(start + 1h);
    for (int i = 0; i < web::Logins::kMostTokens * 2; ++i)
        logins.open(start);
    EXPECT_TRUE(logins.admit(kept, start + 1h));

    const QString guesser = "192.0.2.7";
    std::vector<int> delays;
    for (int failure = 0; failure < 12; ++failure) {
        delays.push_back(logins.begin(guesser).value_or(-1));
        // One answer at a time for an address.
        EXPECT_FALSE(logins.begin(guesser));
        logins.end(guesser, web::LoginOutcome::Refused);
    }
    EXPECT_EQ(delays, (std::vector<int>{0, 0, 0, 0, 0, 1000, 2000, 4000, 8000, 16000, 30000, 30000}));
    // Nobody else waits for the guesser; an unanswered login does not count.
    EXPECT_EQ(0, logins.begin("192.0.2.8"));
    logins.end("192.0.2.8", web::LoginOutcome::Unanswered);
    EXPECT_EQ(30000, logins.begin(guesser));
    logins.end(guesser, web::LoginOutcome::Accepted);
    EXPECT_EQ(0, logins.begin(guesser));
}

}  // namespace
