// The account dialogs driven as a user would, on the offscreen platform,
// against the local stand-in of the account service.

#include "account/account_dialogs.h"
#include "config/settings.h"
#include "platform/recording_sink.h"
#include "support/temp_config.h"
#include "support/web_standin_process.h"
#include "../ui/ui_support.h"

#include <QLineEdit>
#include <QPushButton>

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

const char kAccountGet[] = "GET /cgi-bin/Orvandelsession.cgi?";

class AccountDialogsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Application();
        SetDefaultSettings();
        SetMessageSink(&sink);
    }
    void TearDown() override
    {
        unsetenv("ORVANDEL_WEB_HOST");
        SetMessageSink(nullptr);
    }

    template <typename T>
    static T* Find(QWidget* dialog, const char* name)
    {
        T* widget = dialog->findChild<T*>(name);
        EXPECT_NE(nullptr, widget) << name;
        return widget;
    }

    static void Fill(QWidget* dialog, const char* email, const char* name, const QString& password,
                     const QString& retyped)
    {
        Find<QLineEdit>(dialog, "email")->setText(email);
        Find<QLineEdit>(dialog, "userName")->setText(name);
        Find<QLineEdit>(dialog, "password")->setText(password);
        Find<QLineEdit>(dialog, "retypedPassword")->setText(retyped);
    }

    static std::string StoredName() { return ReadScrambled(gSettings.record.userName, sizeof gSettings.record.userName); }
    static std::string StoredPassword()
    {
        return ReadScrambled(gSettings.record.password, sizeof gSettings.record.password);
    }

    TempConfig config;
    RecordingMessageSink sink;
};

TEST_F(AccountDialogsTest, NewAccountRegistersFromTheModalDialog)
{
    WebStandin standin({"--create-status", "0"});
    ASSERT_GT(standin.Port(), 0);
    standin.UseAsWebHost();

    auto acted = WhenShown<CAccountSetupDlg>([](CAccountSetupDlg* dialog) {
        EXPECT_EQ("Account Setup", dialog->windowTitle());
        EXPECT_TRUE(Find<QPushButton>(dialog, "cancel")->isEnabled());
        EXPECT_EQ(QLineEdit::Password, Find<QLineEdit>(dialog, "password")->echoMode());
        EXPECT_EQ(QLineEdit::Password, Find<QLineEdit>(dialog, "retypedPassword")->echoMode());
        EXPECT_EQ(127, Find<QLineEdit>(dialog, "email")->maxLength());
        EXPECT_EQ(31, Find<QLineEdit>(dialog, "userName")->maxLength());
        Fill(dialog, "alice@example.com", "alice", "s3cret", "s3cret");
        Find<QPushButton>(dialog, "register")->click();
    });
    EXPECT_EQ(IDOK, RunAccountSetupDialog(nullptr, AccountDialogMode::NewAccount));
    EXPECT_TRUE(*acted);

    ASSERT_TRUE(standin.WaitForLines(kAccountGet, 1, 3000));
    EXPECT_EQ(std::string(kAccountGet) + "email=YWxpY2VAZXhhbXBsZS5jb20=&user=YWxpY2U=&pass=czNjcmV0&req=1&status=96",
              standin.LinesWith(kAccountGet).front());
    EXPECT_EQ(std::vector<std::string>{"Account has been setup successfully!"}, sink.Texts());
    EXPECT_EQ("alice", StoredName());
    EXPECT_EQ("s3cret", StoredPassword());
}

TEST_F(AccountDialogsTest, AtStartUpCancelIsOffAndAnUnknownAnswerKeepsTheDialogOpen)
{
    WebStandin standin({"--create-status", "7"});
    ASSERT_GT(standin.Port(), 0);
    standin.UseAsWebHost();
    CAccountSetupDlg dialog(AccountDialogMode::StartUp);
    dialog.show();
    EXPECT_FALSE(Find<QPushButton>(&dialog, "cancel")->isEnabled());

    Fill(&dialog, "alice@example.com", "alice", "s3cret", "s3cret");
    Find<QPushButton>(&dialog, "register")->click();
    EXPECT_TRUE(standin.WaitForLines(kAccountGet, 1, 3000));
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_TRUE(sink.Texts().empty());
    EXPECT_EQ("", StoredName());

    const QString accented = QString::fromUtf8("caf\xc3\xa9");
    Fill(&dialog, "alice@example.com", "alice", accented, accented);
    Find<QPushButton>(&dialog, "register")->click();
    EXPECT_TRUE(sink.Saw("Invalid password. Please do not use any accented characters in your password."));
    EXPECT_TRUE(dialog.isVisible());

    sink.Clear();
    Find<QPushButton>(&dialog, "existingAccount")->click();
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(QDialog::Accepted, dialog.result());
    EXPECT_EQ("caf\xc3\xa9", StoredPassword());
    EXPECT_EQ(1u, standin.CountLines(kAccountGet)) << "an existing account is not asked for";
}

TEST_F(AccountDialogsTest, PasswordDialogOpensWithTheStoredAccountAndChangesThePassword)
{
    StoreScrambled(gSettings.record.userName, sizeof gSettings.record.userName, "alice");
    StoreScrambled(gSettings.record.password, sizeof gSettings.record.password, "s3cret");
    CPasswordDlg dialog;
    dialog.show();
    EXPECT_EQ("Change Password", dialog.windowTitle());
    QLineEdit* name = Find<QLineEdit>(&dialog, "userName");
    EXPECT_EQ("alice", name->text());
    EXPECT_TRUE(name->isReadOnly());
    EXPECT_EQ("s3cret", Find<QLineEdit>(&dialog, "oldPassword")->text());
    for (const char* masked : {"oldPassword", "newPassword", "retypedPassword"})
        EXPECT_EQ(QLineEdit::Password, Find<QLineEdit>(&dialog, masked)->echoMode()) << masked;
    Find<QLineEdit>(&dialog, "newPassword")->setText("fresh");
    Find<QLineEdit>(&dialog, "retypedPassword")->setText("fresh");

    {
        WebStandin refusing({"--change-status", "1"});
        ASSERT_GT(refusing.Port(), 0);
        refusing.UseAsWebHost();
        dialog.accept();
        EXPECT_TRUE(dialog.isVisible());
        EXPECT_EQ(std::vector<std::string>{"Username or current password is not valid."}, sink.Texts());
        EXPECT_EQ("s3cret", StoredPassword());
    }

    WebStandin standin({"--change-status", "0"});
    ASSERT_GT(standin.Port(), 0);
    standin.UseAsWebHost();
    sink.Clear();
    dialog.accept();
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(QDialog::Accepted, dialog.result());
    EXPECT_EQ(std::vector<std::string>{"Password has been changed successfully!"}, sink.Texts());
    EXPECT_EQ("fresh", StoredPassword());
}

} // namespace
