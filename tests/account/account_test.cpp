// Creating, recording and changing the account against the local stand-in
// of the account service.

#include "../net/canned_server.h"
#include "account/account.h"
#include "config/settings.h"
#include "platform/recording_sink.h"
#include "support/temp_config.h"
#include "support/test_application.h"
#include "support/web_standin_process.h"

#include <gtest/gtest.h>

#include <QTimer>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <thread>

namespace {

const char kAccountGet[] = "GET /cgi-bin/Orvandelsession.cgi?";
const char kNoService[] = "Could not communicate with the Vantorel server.";
const char kStored[] = "Account has been setup successfully!";
const char kChangeFailed[] = "An error occured during changing password. Please try again later.";

class AccountTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetDefaultSettings();
        SetMessageSink(&sink);
        // Until a test chooses its service, every request goes to a loopback
        // port nothing answers on.
        setenv("ORVANDEL_WEB_HOST", ("127.0.0.1:" + std::to_string(UnusedLoopbackPort())).c_str(), 1);
    }
    void TearDown() override
    {
        unsetenv("ORVANDEL_WEB_HOST");
        SetMessageSink(nullptr);
    }

    static void StoreAccount(const std::string& email, const std::string& name, const std::string& password)
    {
        SettingsRecord& record = gSettings.record;
        StoreScrambled(record.email, sizeof record.email, email);
        StoreScrambled(record.userName, sizeof record.userName, name);
        StoreScrambled(record.password, sizeof record.password, password);
    }

    static std::string Stored(const char* field, size_t size) { return ReadScrambled(field, size); }
    static std::string StoredEmail() { return Stored(gSettings.record.email, sizeof gSettings.record.email); }
    static std::string StoredName() { return Stored(gSettings.record.userName, sizeof gSettings.record.userName); }
    static std::string StoredPassword()
    {
        return Stored(gSettings.record.password, sizeof gSettings.record.password);
    }

    // The one box the user saw.
    std::string OnlyText() const
    {
        const auto texts = sink.Texts();
        EXPECT_EQ(1u, texts.size());
        return texts.empty() ? "" : texts.front();
    }

    TempConfig config;
    RecordingMessageSink sink;
};

const AccountFields kFan = {"tv.fan+box@example.com", "sofa?king", "p>w?d~", "p>w?d~"};

TEST_F(AccountTest, RegisterSendsBase64UrlTextsAndStoresTheCreatedAccount)
{
    WebStandin standin({"--create-status", "0"});
    ASSERT_GT(standin.Port(), 0);
    standin.UseAsWebHost();

    EXPECT_TRUE(RegisterAccount(kFan));

    ASSERT_TRUE(standin.WaitForLines(kAccountGet, 1, 3000));
    const auto requests = standin.LinesWith(kAccountGet);
    ASSERT_EQ(1u, requests.size());
    EXPECT_EQ(std::string(kAccountGet) +
                  "email=dHYuZmFuK2JveEBleGFtcGxlLmNvbQ==&user=c29mYT9raW5n&pass=cD53P2R-&req=1&status=96",
              requests.front());
    ASSERT_EQ(1u, sink.Entries().size());
    EXPECT_EQ("info", sink.Entries().front().kind);
    EXPECT_EQ(kStored, sink.Entries().front().text);
    EXPECT_EQ(kFan.email, StoredEmail());
    EXPECT_EQ(kFan.userName, StoredName());
    EXPECT_EQ(kFan.password, StoredPassword());

    SetDefaultSettings();
    LoadSettings();
    EXPECT_EQ(kFan.userName, StoredName()) << "saved to the settings file";
    EXPECT_EQ(kFan.password, StoredPassword());
}

TEST_F(AccountTest, EachRefusalOfTheServiceIsShownAndStoresNothing)
{
    const struct {
        int status;
        const char* text;  // nullptr: nothing is shown
    } answers[] = {
        {1, "The username is in use. Please specify another username."},
        {2, "An error occurred during account generation. Please try again later."},
        {7, nullptr},
        {-1, kNoService},
    };
    for (const auto& answer : answers) {
        SCOPED_TRACE(answer.status);
        WebStandin standin({"--create-status", std::to_string(answer.status)});
        ASSERT_GT(standin.Port(), 0);
        standin.UseAsWebHost();
        sink.Clear();

        EXPECT_FALSE(RegisterAccount(kFan));
        EXPECT_TRUE(standin.WaitForLines(kAccountGet, 1, 3000));
        EXPECT_EQ(1u, standin.CountLines(kAccountGet));
        if (answer.text) {
            ASSERT_EQ(1u, sink.Entries().size());
            EXPECT_EQ("error", sink.Entries().front().kind);
            EXPECT_TRUE(sink.Entries().front().blocking);
            EXPECT_EQ(answer.text, sink.Entries().front().text);
        } else {
            EXPECT_TRUE(sink.Texts().empty());
        }
        EXPECT_EQ("", StoredName());
        EXPECT_EQ("", StoredEmail());
        EXPECT_EQ("", StoredPassword());
    }
}

TEST_F(AccountTest, NoServiceOrAnAnswerWithoutStatusCannotCommunicate)
{
    EXPECT_FALSE(RegisterAccount(kFan)) << "nothing listens";
    EXPECT_EQ(kNoService, OnlyText());

    CannedServer server("HTTP/1.1 200 OK\r\nContent-Length: 6\r\n\r\nhello\n");
    const std::string url = server.Url("/");
    setenv("ORVANDEL_WEB_HOST", url.substr(0, url.size() - 1).c_str(), 1);
    sink.Clear();
    EXPECT_FALSE(RegisterAccount(kFan));
    EXPECT_EQ(1u, server.Requests().size());
    EXPECT_EQ(kNoService, OnlyText());
    EXPECT_EQ("", StoredName());
}

TEST_F(AccountTest, AccentedTextsAreRefusedBeforeRegisteringButRecordedAsExisting)
{
    WebStandin standin;
    ASSERT_GT(standin.Port(), 0);
    standin.UseAsWebHost();
    const std::string accented = "caf\xc3\xa9";
    const struct {
        AccountFields fields;
        const char* text;
    } refusals[] = {
        {{"jos\xc3\xa9@example.com", "sofa", "pw", "pw"}, "Invalid email address. Please enter a valid email address."},
        {{"a@example.com", accented, "pw", "pw"},
         "Invalid username. Please do not use any accented characters in your username."},
        {{"a@example.com", "sofa", accented, accented},
         "Invalid password. Please do not use any accented characters in your password."},
    };
    for (const auto& refusal : refusals) {
        sink.Clear();
        EXPECT_FALSE(RegisterAccount(refusal.fields));
        EXPECT_EQ(refusal.text, OnlyText());
    }
    EXPECT_TRUE(CreateAccountUrl("a@example.com", "sofa", accented).empty());
    EXPECT_EQ(0u, standin.CountLines(kAccountGet)) << "refused before sending";
    EXPECT_EQ("", StoredPassword());

    sink.Clear();
    EXPECT_TRUE(RecordExistingAccount({"a@example.com", "sofa", accented, accented}));
    EXPECT_EQ(kStored, OnlyText());
    EXPECT_EQ(accented, StoredPassword());
    EXPECT_EQ(0u, standin.CountLines(kAccountGet)) << "an existing account is not asked for";
}

TEST_F(AccountTest, RegisterChecksTheFieldsInOrder)
{
    const std::string name31(31, 'n');
    const std::string long32(32, 'x');
    const struct {
        AccountFields fields;
        const char* text;
    } refusals[] = {
        {{"", "", "", ""}, "Please specify a valid email address."},
        {{std::string(128, 'e'), "", "", ""}, "Please specify an email address less than 128 characters long."},
        {{"a@b", "", "", ""}, "Please specify a valid username."},
        {{"a@b", long32, "", ""}, "Please specify a username less than 32 characters long."},
        {{"a@b", name31, "", ""}, "Please specify a valid password."},
        {{"a@b", name31, long32, long32}, "Please specify a password less than 32 characters long."},
        {{"a@b", name31, "pw", "pW"}, "Passwords do not match."},
    };
    for (const auto& refusal : refusals) {
        sink.Clear();
        EXPECT_FALSE(RegisterAccount(refusal.fields));
        EXPECT_EQ(refusal.text, OnlyText());
    }
    EXPECT_EQ("", StoredName());
}

TEST_F(AccountTest, AnExistingAccountHasItsOwnTextsForEmptyFields)
{
    const struct {
        AccountFields fields;
        const char* text;
    } refusals[] = {
        {{"", "", "", ""}, "Please specify your existing account email address."},
        {{std::string(200, 'e'), "", "", ""}, "Please specify an email address less than 128 characters long."},
        {{"a@b", "", "", ""}, "Please specify your existing account username."},
        {{"a@b", std::string(32, 'n'), "", ""}, "Please specify a username less than 32 characters long."},
        {{"a@b", "sofa", "", ""}, "Please specify your existing account password."},
        {{"a@b", "sofa", std::string(40, 'p'), ""}, "Please specify a password less than 32 characters long."},
        {{"a@b", "sofa", "pw", "px"}, "Passwords do not match."},
    };
    for (const auto& refusal : refusals) {
        sink.Clear();
        EXPECT_FALSE(RecordExistingAccount(refusal.fields));
        EXPECT_EQ(refusal.text, OnlyText());
    }
    EXPECT_EQ("", StoredName());

    sink.Clear();
    const std::string email127(127, 'e');
    const std::string name31(31, 'n');
    EXPECT_TRUE(RecordExistingAccount({email127, name31, "pw", "pw"}));
    EXPECT_EQ(email127, StoredEmail());
    EXPECT_EQ(name31, StoredName());
    SetDefaultSettings();
    LoadSettings();
    EXPECT_EQ(name31, StoredName()) << "saved to the settings file";
}

TEST_F(AccountTest, PasswordChangeSendsTheRequestAndStoresTheNewPassword)
{
    WebStandin standin({"--change-status", "0"});
    ASSERT_GT(standin.Port(), 0);
    standin.UseAsWebHost();
    StoreAccount("alice@example.com", "alice", "s3cret");

    EXPECT_TRUE(ChangeAccountPassword({"alice", "s3cret", "n3w>pass?", "n3w>pass?"}));

    ASSERT_TRUE(standin.WaitForLines(kAccountGet, 1, 3000));
    const auto requests = standin.LinesWith(kAccountGet);
    ASSERT_EQ(1u, requests.size());
    EXPECT_EQ(std::string(kAccountGet) + "user=YWxpY2U=&oldp=czNjcmV0&pass=bjN3PnBhc3M_&req=3&status=96",
              requests.front());
    EXPECT_EQ("Password has been changed successfully!", OnlyText());
    EXPECT_EQ("info", sink.Entries().front().kind);
    EXPECT_EQ("n3w>pass?", StoredPassword());
    EXPECT_EQ("alice", StoredName());
    SetDefaultSettings();
    LoadSettings();
    EXPECT_EQ("n3w>pass?", StoredPassword()) << "saved to the settings file";
}

TEST_F(AccountTest, AFailedPasswordChangeKeepsTheOldPassword)
{
    const struct {
        int status;
        const char* text;
    } answers[] = {
        {1, "Username or current password is not valid."},
        {2, kChangeFailed},
        {5, kChangeFailed},
        {-1, kNoService},
    };
    StoreAccount("alice@example.com", "alice", "s3cret");
    for (const auto& answer : answers) {
        SCOPED_TRACE(answer.status);
        WebStandin standin({"--change-status", std::to_string(answer.status)});
        ASSERT_GT(standin.Port(), 0);
        standin.UseAsWebHost();
        sink.Clear();

        EXPECT_FALSE(ChangeAccountPassword({"alice", "s3cret", "fresh", "fresh"}));
        EXPECT_TRUE(standin.WaitForLines(kAccountGet, 1, 3000));
        EXPECT_EQ(1u, standin.CountLines(kAccountGet));
        EXPECT_EQ(answer.text, OnlyText());
        EXPECT_EQ("s3cret", StoredPassword());
    }

    setenv("ORVANDEL_WEB_HOST", ("127.0.0.1:" + std::to_string(UnusedLoopbackPort())).c_str(), 1);
    sink.Clear();
    EXPECT_FALSE(ChangeAccountPassword({"alice", "s3cret", "fresh", "fresh"}));
    EXPECT_EQ(kNoService, OnlyText());
    EXPECT_EQ("s3cret", StoredPassword());
}

TEST_F(AccountTest, PasswordChangeChecksTheFieldsBeforeAsking)
{
    WebStandin standin;
    ASSERT_GT(standin.Port(), 0);
    standin.UseAsWebHost();
    StoreAccount("alice@example.com", "alice", "s3cret");
    const std::string accented = "\xc3\xa9t\xc3\xa9";
    const struct {
        PasswordChangeFields fields;
        const char* text;
    } refusals[] = {
        {{"", "s3cret", "new", "new"}, "Your username is not valid."},
        {{std::string(32, 'n'), "s3cret", "new", "new"}, "Your username is not valid."},
        {{"alice", "", "new", "new"}, "Your old password is not valid."},
        {{"alice", std::string(32, 'o'), "new", "new"}, "Your old password is not valid."},
        {{"alice", "s3cret", "", ""}, "Please specify a valid password."},
        {{"alice", "s3cret", std::string(32, 'p'), ""}, "Please specify a password less than 32 characters long."},
        {{"alice", "s3cret", "new", "New"}, "Passwords do not match."},
        {{accented, "s3cret", "new", "new"}, "Invalid username."},
        {{"alice", accented, "new", "new"}, "Your old password is not valid."},
        {{"alice", "s3cret", accented, accented},
         "Invalid password. Please do not use any accented characters in your new password."},
    };
    for (const auto& refusal : refusals) {
        sink.Clear();
        EXPECT_FALSE(ChangeAccountPassword(refusal.fields));
        EXPECT_EQ(refusal.text, OnlyText());
    }
    EXPECT_EQ(0u, standin.CountLines(kAccountGet));
    EXPECT_EQ("s3cret", StoredPassword());
}

// The window thread keeps serving while the account service is silent: the
// request runs on a thread of its own.
TEST_F(AccountTest, ASilentServiceDoesNotHoldTheWindowThread)
{
    Application();
    auto silent = std::make_unique<CannedServer>("", CannedServer::After::HoldOpen);
    setenv("ORVANDEL_WEB_HOST", silent->Url("").c_str(), 1);
    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&ticks] { ++ticks; });
    timer.start(50);
    // The service gives up after a second and a half.
    std::thread closer([&silent] {
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        silent.reset();
    });
    EXPECT_FALSE(RegisterAccount({"viewer@example.org", "viewer", "secret", "secret"}));
    closer.join();
    EXPECT_GE(ticks, 15) << "the timer fired while the request ran";
    EXPECT_EQ(kNoService, OnlyText());
}

} // namespace
