// The web client against real loopback servers: the stand-in of the web
// services, and canned answers for what no well-behaved server sends.

#include "canned_server.h"
#include "net/web_client.h"
#include "support/web_standin_process.h"

#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <cstring>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

const char kOkHead[] = "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n\r\n";
const char kVersionPath[] = "/site/demos/Orvandel/update2.xml";

std::string ExpectedRequest(const std::string& line, const std::string& host)
{
    return line + "\r\nHost: " + host +
           "\r\nAccept: image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, application/x-shockwave-flash, "
           "application/vnd.ms-excel, application/vnd.ms-powerpoint, application/msword, */*\r\n"
           "Accept-Language: en-us\r\nAccept-Charset: ISO-8859-1,utf-8;q=0.7,*;q=0.7\r\nConnection: close\r\n\r\n";
}

// HttpGet into a heap buffer of exactly size bytes, so that the sanitizer
// sees any write past it.
struct Fetched {
    int result;
    size_t received;
    std::vector<char> buffer;
};

Fetched Fetch(const std::string& url, size_t size = kWebResponseSize, int version = kHttp11)
{
    Fetched fetched{0, 0, std::vector<char>(size)};
    fetched.result = HttpGet(url, version, fetched.buffer, &fetched.received);
    return fetched;
}

long long MillisecondsSince(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

std::string Extract(const std::string& text, const char* pattern, const char* stops, const char* skips,
                    int digitsOnly, size_t outputSize = 64, size_t* end = nullptr)
{
    std::vector<char> output(outputSize);
    const TextExtraction what{.startPattern = pattern, .stopStrings = stops, .skipStrings = skips,
                              .digitsOnly = digitsOnly != 0};
    int result = ExtractText(text, output, what, end);
    return result == 0 ? std::string(output.data()) : "(not found)";
}

class WebClientTest : public ::testing::Test {
protected:
    void SetUp() override { SetHttpReadLimit(2000); }
    void TearDown() override { SetHttpReadLimit(30000); }
};

TEST_F(WebClientTest, SendsTheExactRequestInBothVersions)
{
    CannedServer server(std::string(kOkHead) + "hello");
    const std::string host = server.Url("");
    Fetched eleven = Fetch("http://" + server.Url("/a/b?c=d"), kWebResponseSize, kHttp11);
    Fetched ten = Fetch(server.Url("/x"), kWebResponseSize, kHttp10);

    ASSERT_EQ(eleven.result, 0);
    EXPECT_STREQ(eleven.buffer.data(), (std::string(kOkHead) + "hello").c_str());
    EXPECT_EQ(eleven.received, std::strlen(kOkHead) + 5);
    ASSERT_EQ(ten.result, 0);
    ASSERT_EQ(server.Requests().size(), 2u);
    EXPECT_EQ(server.Requests()[0], ExpectedRequest("GET /a/b?c=d HTTP/1.1", host));
    EXPECT_EQ(server.Requests()[1], ExpectedRequest("GET /x HTTP/1.0", host));
}

TEST_F(WebClientTest, FetchesTheSameDocumentWithOrWithoutTheScheme)
{
    WebStandin standin;
    ASSERT_GT(standin.Port(), 0);
    Fetched withScheme = Fetch("http://" + standin.Host() + kVersionPath);
    Fetched withoutScheme = Fetch(standin.Host() + kVersionPath);

    ASSERT_EQ(withScheme.result, 0);
    ASSERT_EQ(withoutScheme.result, 0);
    EXPECT_NE(std::strstr(withScheme.buffer.data(), "version=1.1.4"), nullptr);
    EXPECT_STREQ(withScheme.buffer.data(), withoutScheme.buffer.data());
    EXPECT_TRUE(standin.WaitForLines(std::string("GET ") + kVersionPath, 2, 3000));
}

TEST_F(WebClientTest, MalformedUrlsFailWithoutTraffic)
{
    CannedServer server(std::string(kOkHead) + "ok");
    const std::string port = server.Url("").substr(std::strlen("127.0.0.1"));
    const std::vector<std::string> malformed = {
        server.Url(""), "http://" + server.Url(""), "", "http://", "http:///path", "127.0.0.1:/x",
        "127.0.0.1:99999/x", "127.0.0.1:12ab/x", "127.0.0.1:0/x", port + "/x"};
    for (const std::string& url : malformed) {
        EXPECT_EQ(Fetch(url).result, -1) << url;
        EXPECT_EQ(HttpGet(url, kHttp11), -1) << url;
    }
    size_t received = 7;
    EXPECT_EQ(HttpGet(server.Url("/x"), kHttp11, {}, &received), -1);
    EXPECT_EQ(received, 0u);

    ASSERT_EQ(Fetch(server.Url("/after")).result, 0);
    ASSERT_EQ(server.Requests().size(), 1u);
    EXPECT_EQ(server.Requests()[0].rfind("GET /after ", 0), 0u);
}

TEST_F(WebClientTest, SendOnlyFormReturnsOnceTheRequestIsOut)
{
    CannedServer server(std::string(kOkHead) + "ignored");
    EXPECT_EQ(HttpGet("http://" + server.Url("/cgi-bin/x?y=1"), kHttp11), 0);
    ASSERT_TRUE(server.WaitForRequests(1, 2000));
    EXPECT_EQ(server.Requests()[0], ExpectedRequest("GET /cgi-bin/x?y=1 HTTP/1.1", server.Url("")));
}

TEST_F(WebClientTest, LongResponsesAreCutToTheBufferAndTerminated)
{
    std::string answer = kOkHead;
    for (int i = 0; answer.size() < 5000; ++i)
        answer += static_cast<char>('a' + i % 26);
    CannedServer server(answer);
    for (size_t size : {kWebResponseSize, size_t{1500}, size_t{10}, size_t{2}}) {
        Fetched fetched = Fetch(server.Url("/long"), size);
        ASSERT_EQ(fetched.result, 0) << size;
        EXPECT_EQ(fetched.received, size - 1);
        EXPECT_EQ(fetched.buffer[size - 1], '\0');
        EXPECT_EQ(std::string(fetched.buffer.data()), answer.substr(0, size - 1));
    }
    EXPECT_EQ(Fetch(server.Url("/long"), 1).result, -1);
}

TEST_F(WebClientTest, ASilentServerIsGivenUpAfterTheReadLimit)
{
    SetHttpReadLimit(300);
    CannedServer silent("", CannedServer::After::HoldOpen);
    auto start = Clock::now();
    EXPECT_EQ(Fetch(silent.Url("/silent")).result, -1);
    EXPECT_GE(MillisecondsSince(start), 250);
    EXPECT_LT(MillisecondsSince(start), 3000);

    CannedServer stalled(std::string(kOkHead) + "partial", CannedServer::After::HoldOpen);
    start = Clock::now();
    Fetched fetched = Fetch(stalled.Url("/stalled"));
    EXPECT_LT(MillisecondsSince(start), 3000);
    EXPECT_EQ(fetched.result, 0);
    EXPECT_STREQ(fetched.buffer.data(), (std::string(kOkHead) + "partial").c_str());
}

TEST_F(WebClientTest, UnreachableServersFail)
{
    EXPECT_EQ(Fetch("http://nohost.invalid/x").result, -1);
    EXPECT_EQ(HttpGet("nohost.invalid/x", kHttp11), -1);
    const std::string refused = "127.0.0.1:" + std::to_string(UnusedLoopbackPort()) + "/x";
    auto start = Clock::now();
    EXPECT_EQ(Fetch(refused).result, -1);
    EXPECT_EQ(HttpGet(refused, kHttp11), -1);
    EXPECT_LT(MillisecondsSince(start), 3000);
    EXPECT_EQ(QueryStatus(refused), -1);
}

TEST_F(WebClientTest, QueryStatusReadsTheAccountScriptsAnswer)
{
    WebStandin standin({"--create-status", "1", "--change-status", "5"});
    ASSERT_GT(standin.Port(), 0);
    const std::string script = "http://" + standin.Host() + "/cgi-bin/Orvandelsession.cgi";
    EXPECT_EQ(QueryStatus(script + "?email=YQ==&user=Yg==&pass=Yw==&req=1&status=96"), 1);
    EXPECT_EQ(QueryStatus(script + "?user=Yg==&oldp=Yw==&pass=ZA==&req=3&status=96"), 5);
    EXPECT_EQ(QueryStatus(standin.Host() + kVersionPath), -1);
    EXPECT_EQ(QueryStatus("http://nohost.invalid/cgi-bin/Orvandelsession.cgi"), -1);
}

struct OddAnswer {
    const char* name;
    std::string answer;
    int status;
};

void PrintTo(const OddAnswer& answer, std::ostream* out)
{
    *out << answer.name;
}

class QueryStatusOddAnswers : public ::testing::TestWithParam<OddAnswer> {};

TEST_P(QueryStatusOddAnswers, NeverReadPastTheResponse)
{
    CannedServer server(GetParam().answer);
    EXPECT_EQ(QueryStatus(server.Url("/cgi-bin/Orvandelsession.cgi")), GetParam().status);
}

std::string Padded(size_t length, const std::string& tail)
{
    return std::string(length, 'x') + tail;
}

INSTANTIATE_TEST_SUITE_P(
    Answers, QueryStatusOddAnswers,
    ::testing::Values(OddAnswer{"Empty", "", -1}, OddAnswer{"TruncatedStatusLine", "HTTP/1.1 20", -1},
                      OddAnswer{"Plain", std::string(kOkHead) + "status=7\n", 7},
                      OddAnswer{"Negative", std::string(kOkHead) + "status=-3x", -3},
                      OddAnswer{"NoDigits", std::string(kOkHead) + "status=", 0},
                      OddAnswer{"Huge", std::string(kOkHead) + "status=99999999999999", INT_MAX},
                      OddAnswer{"Garbage", std::string("\0\xff\x01\x80status=5", 12), 5},
                      OddAnswer{"ValueAtLastPlace", Padded(2037, "status=9"), 9},
                      OddAnswer{"ValueTooLate", Padded(2038, "status=9"), -1},
                      OddAnswer{"Oversized", Padded(100000, "status=1"), -1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ExtractTextTest, ReadsThePortOfTheBrokerList)
{
    WebStandin standin;
    ASSERT_GT(standin.Port(), 0);
    Fetched list = Fetch(standin.Host() + "/site/demos/Orvandel/brokers.xml");
    ASSERT_EQ(list.result, 0);
    char port[6];
    size_t end = 0;
    ASSERT_EQ(ExtractText({list.buffer.data(), list.received}, port, {.startPattern = "<port>", .stopStrings = "</port>\0"},
                          &end),
              0);
    EXPECT_STREQ(port, std::to_string(standin.Port()).c_str());
    EXPECT_EQ(std::strncmp(list.buffer.data() + end, "</port>", 7), 0);
}

TEST(ExtractTextTest, DecodesEntitiesAndReferences)
{
    EXPECT_EQ(Extract("<t>&lt;&gt;&amp;&#65;</t>", "<t>", "</t>\0", nullptr, 0), "<>&A");
    EXPECT_EQ(Extract("&lt;&gt;&amp;&#65;", nullptr, nullptr, nullptr, 0), "<>&A");
    EXPECT_EQ(Extract("&quot;&apos;&#065;&#97;", nullptr, nullptr, nullptr, 0), "\"'Aa");
    EXPECT_EQ(Extract("&#5;&#1234;&#65&bogus;&amp", nullptr, nullptr, nullptr, 0), "&#5;&#1234;&#65&bogus;&amp");
}

TEST(ExtractTextTest, FollowsPatternStopSkipAndDigitRules)
{
    const char* none = nullptr;
    EXPECT_EQ(Extract("12a3", none, none, none, 1), "123");
    EXPECT_EQ(Extract("<a>1</a><b>2</b>", "<a>*<b>", "</b>\0", none, 0), "2");
    EXPECT_EQ(Extract("<a>1</a><b>2</b>", "*</a>*", "<b>\0", none, 0), "");
    EXPECT_EQ(Extract("<a>1</a>", "<a>*<c>", none, none, 0), "(not found)");
    EXPECT_EQ(Extract("<a>1</a>", "<c>", none, none, 0), "(not found)");
    EXPECT_EQ(Extract("x=1\r\n2\r\n\r\n3;", "x=", ";\0", "\r\n\0", 0), "123");
    EXPECT_EQ(Extract("v=1 2 3 ", "v=", " 3\0", " \0", 1), "12");

    size_t end = 0;
    EXPECT_EQ(Extract("abcdef", none, none, none, 0, 3, &end), "ab");
    EXPECT_EQ(end, 2u);
    char output[8];
    EXPECT_EQ(ExtractText("abc", output, {.startOffset = 10}, &end), 0);
    EXPECT_STREQ(output, "");
    EXPECT_EQ(ExtractText("abc", std::span<char>(output, 0), {}), -1);
}

TEST(EncodeBase64UrlTest, UsesTheUrlSafeAlphabetWithPaddingAndRefusesHighBytes)
{
    EXPECT_EQ(EncodeBase64Url(""), "");
    EXPECT_EQ(EncodeBase64Url("f"), "Zg==");
    EXPECT_EQ(EncodeBase64Url("fo"), "Zm8=");
    EXPECT_EQ(EncodeBase64Url("foo"), "Zm9v");
    EXPECT_EQ(EncodeBase64Url("foob"), "Zm9vYg==");
    EXPECT_EQ(EncodeBase64Url("fooba"), "Zm9vYmE=");
    EXPECT_EQ(EncodeBase64Url("foobar"), "Zm9vYmFy");
    EXPECT_EQ(EncodeBase64Url("~~~???"), "fn5-Pz8_");
    EXPECT_EQ(EncodeBase64Url("jos\xc3\xa9"), "");
    EXPECT_EQ(EncodeBase64Url("\x7f"), "fw==");
}

} // namespace
