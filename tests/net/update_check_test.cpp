// The update check against the web services' stand-in, and against a server
// that never answers: what the user is told, and one check at a time.

#include "config/settings.h"
#include "net/update_check.h"
#include "net/update_dialog.h"
#include "net/web_client.h"
#include "platform/messages.h"
#include "support/loopback.h"
#include "support/test_application.h"
#include "support/web_standin_process.h"

#include <QCheckBox>
#include <QPushButton>

#include <gtest/gtest.h>

#include <cstdlib>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

TEST(UpdateNoticeTest, AnyDifferenceIsNewAndOnlyTheUserHearsOfFailures)
{
    EXPECT_EQ("1.0.9", PublishedVersion("HTTP/1.1 200 OK\r\n\r\n<o>version=1.0.9</o>version=2"));
    EXPECT_EQ("1.2", PublishedVersion("version=1.2"));
    EXPECT_FALSE(PublishedVersion("<o>1.2</o>"));

    const auto lower = std::optional<std::string>("1.0.9");
    const auto own = std::optional<std::string>(kOwnVersion);
    EXPECT_EQ(UpdateNotice::NewVersion, NoticeFor(true, lower, false, false)) << "a lower version is offered too";
    EXPECT_EQ(UpdateNotice::Nothing, NoticeFor(true, lower, false, true)) << "declined for good at start-up";
    EXPECT_EQ(UpdateNotice::NewVersion, NoticeFor(true, lower, true, true)) << "but not when asked";
    EXPECT_EQ(UpdateNotice::Nothing, NoticeFor(true, own, false, false));
    EXPECT_EQ(UpdateNotice::NoNewVersion, NoticeFor(true, own, true, false));
    EXPECT_EQ(UpdateNotice::Nothing, NoticeFor(false, std::nullopt, false, false));
    EXPECT_EQ(UpdateNotice::ConnectionError, NoticeFor(false, std::nullopt, true, false));
    EXPECT_EQ(UpdateNotice::Nothing, NoticeFor(true, std::nullopt, true, false)) << "no version in the answer";
}

class UpdateCheckTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Application();
        SetDefaultSettings();
        ClearManualUpdateRequest();
        SetMessageHandler(MessageTarget::Frame, [this](unsigned message, uintptr_t, intptr_t) {
            if (message == kMsgUpdateCheckDone)
                notices.push_back(TakeUpdateNotice());
        });
    }
    void TearDown() override
    {
        EXPECT_TRUE(WaitForUpdateCheck(5000));
        SetMessageHandler(MessageTarget::Frame, {});
        unsetenv("ORVANDEL_WEB_HOST");
        SetHttpReadLimit(30000);
    }

    std::vector<UpdateNotice> notices;
};

TEST_F(UpdateCheckTest, APublishedVersionIsOfferedAndDeclinedForGood)
{
    WebStandin standin({"--version", "1.0.9"});
    ASSERT_GT(standin.Port(), 0);
    standin.UseAsWebHost();
    ASSERT_TRUE(StartUpdateCheck(false));
    ASSERT_TRUE(WaitUntil([this] { return !notices.empty(); }));
    EXPECT_EQ(UpdateNotice::NewVersion, notices.back());
    EXPECT_EQ(1u, standin.CountLines("GET /site/demos/Orvandel/update2.xml"));

    CUpgradeDlg dialog;
    dialog.findChild<QCheckBox*>("doNotAsk")->setChecked(true);
    dialog.findChild<QPushButton*>("no")->click();
    EXPECT_EQ(1, gSettings.record.dontAskNewVersion);
    notices.clear();
    ASSERT_TRUE(StartUpdateCheck(false));
    ASSERT_TRUE(WaitUntil([this] { return !notices.empty(); }));
    EXPECT_EQ(UpdateNotice::Nothing, notices.back()) << "the start-up check keeps quiet";
}

// A server that takes the connection and never answers holds the check.
TEST_F(UpdateCheckTest, AskingDuringTheStartUpCheckStartsNoSecondOneAndHearsItsEnd)
{
    int port = 0;
    const int silent = ListenOnLoopback(4, port);
    ASSERT_GE(silent, 0);
    setenv("ORVANDEL_WEB_HOST", ("127.0.0.1:" + std::to_string(port)).c_str(), 1);
    SetHttpReadLimit(1500);

    ASSERT_TRUE(StartUpdateCheck(false));
    EXPECT_FALSE(StartUpdateCheck(true)) << "one check at a time";
    ASSERT_TRUE(WaitUntil([this] { return !notices.empty(); }, 15000));
    EXPECT_EQ(UpdateNotice::ConnectionError, notices.back()) << "the running check became the user's";
    ::close(silent);
}

} // namespace
