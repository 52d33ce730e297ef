#include "account/account.h"

#include "config/settings.h"
#include "net/web_client.h"
#include "net/web_host.h"
#include "platform/messages.h"

#include <algorithm>
#include <cstdio>

namespace {

constexpr char kCreateAccountFormat[] = "/cgi-bin/Orvandelsession.cgi?email=%s&user=%s&pass=%s&req=%d&status=%d";
constexpr char kChangePasswordFormat[] = "/cgi-bin/Orvandelsession.cgi?user=%s&oldp=%s&pass=%s&req=%d&status=%d";
constexpr int kCreateRequest = 1;
constexpr int kChangeRequest = 3;
constexpr int kRequestStatus = 96;

const char kNoService[] = "Could not communicate with the Vantorel server.";
const char kChangeFailed[] = "An error occured during changing password. Please try again later.";
const char kAccountStored[] = "Account has been setup successfully!";

// Every refusal is a blocking error box; false lets callers return it.
bool Refuse(const char* text)
{
    ShowMessage(text, 1, 1);
    return false;
}

// The services take only what base64url of 7-bit text gives.
bool Encodable(const std::string& text)
{
    return std::none_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
}

std::string RequestUrl(const char* format, const std::string& first, const std::string& second,
                       const std::string& third, int request)
{
    if (!Encodable(first) || !Encodable(second) || !Encodable(third))
        return {};
    const std::string a = EncodeBase64Url(first);
    const std::string b = EncodeBase64Url(second);
    const std::string c = EncodeBase64Url(third);
    const int length = std::snprintf(nullptr, 0, format, a.c_str(), b.c_str(), c.c_str(), request, kRequestStatus);
    std::string path(static_cast<size_t>(length) + 1, '\0');
    std::snprintf(path.data(), path.size(), format, a.c_str(), b.c_str(), c.c_str(), request, kRequestStatus);
    path.pop_back();
    return WebUrl(path);
}

struct FieldTexts {
    const char* emptyEmail;
    const char* emptyUserName;
    const char* emptyPassword;
};

// The checks both account buttons share; only the texts for empty fields differ.
bool CheckAccountFields(const AccountFields& fields, const FieldTexts& texts)
{
    if (fields.email.empty())
        return Refuse(texts.emptyEmail);
    if (fields.email.size() >= kEmailFieldSize)
        return Refuse("Please specify an email address less than 128 characters long.");
    if (fields.userName.empty())
        return Refuse(texts.emptyUserName);
    if (fields.userName.size() >= kUserNameFieldSize)
        return Refuse("Please specify a username less than 32 characters long.");
    if (fields.password.empty())
        return Refuse(texts.emptyPassword);
    if (fields.password.size() >= kPasswordFieldSize)
        return Refuse("Please specify a password less than 32 characters long.");
    if (fields.password != fields.retypedPassword)
        return Refuse("Passwords do not match.");
    return true;
}

void StoreAccount(const AccountFields& fields)
{
    SettingsRecord& record = gSettings.record;
    StoreScrambled(record.email, sizeof record.email, fields.email);
    StoreScrambled(record.userName, sizeof record.userName, fields.userName);
    StoreScrambled(record.password, sizeof record.password, fields.password);
    SaveSettings();
    ShowInfo(kAccountStored, 1);
}

// The service can take its whole connect and read limits, 40 s: the window
// thread goes on serving events meanwhile.
int AskAccountService(const std::string& url)
{
    return RunServingEvents([url] { return QueryStatus(url); });
}

} // namespace

std::string CreateAccountUrl(const std::string& email, const std::string& userName, const std::string& password)
{
    return RequestUrl(kCreateAccountFormat, email, userName, password, kCreateRequest);
}

std::string ChangePasswordUrl(const std::string& userName, const std::string& oldPassword,
                              const std::string& newPassword)
{
    return RequestUrl(kChangePasswordFormat, userName, oldPassword, newPassword, kChangeRequest);
}

bool RegisterAccount(const AccountFields& fields)
{
    if (!CheckAccountFields(fields, {"Please specify a valid email address.", "Please specify a valid username.",
                                     "Please specify a valid password."}))
        return false;
    if (!Encodable(fields.email))
        return Refuse("Invalid email address. Please enter a valid email address.");
    if (!Encodable(fields.userName))
        return Refuse("Invalid username. Please do not use any accented characters in your username.");
    if (!Encodable(fields.password))
        return Refuse("Invalid password. Please do not use any accented characters in your password.");

    switch (AskAccountService(CreateAccountUrl(fields.email, fields.userName, fields.password))) {
    case kAccountOk:
        StoreAccount(fields);
        return true;
    case kAccountRefused:
        return Refuse("The username is in use. Please specify another username.");
    case kAccountServiceError:
        return Refuse("An error occurred during account generation. Please try again later.");
    case kAccountNoAnswer:
        return Refuse(kNoService);
    default:
        // The service's other answers carry no meaning the user could act on.
        return false;
    }
}

bool RecordExistingAccount(const AccountFields& fields)
{
    if (!CheckAccountFields(fields, {"Please specify your existing account email address.",
                                     "Please specify your existing account username.",
                                     "Please specify your existing account password."}))
        return false;
    StoreAccount(fields);
    return true;
}

bool ChangeAccountPassword(const PasswordChangeFields& fields)
{
    if (fields.userName.empty() || fields.userName.size() >= kUserNameFieldSize)
        return Refuse("Your username is not valid.");
    if (fields.oldPassword.empty() || fields.oldPassword.size() >= kPasswordFieldSize)
        return Refuse("Your old password is not valid.");
    if (fields.newPassword.empty())
        return Refuse("Please specify a valid password.");
    if (fields.newPassword.size() >= kPasswordFieldSize)
        return Refuse("Please specify a password less than 32 characters long.");
    if (fields.newPassword != fields.retypedPassword)
        return Refuse("Passwords do not match.");
    if (!Encodable(fields.userName))
        return Refuse("Invalid username.");
    if (!Encodable(fields.oldPassword))
        return Refuse("Your old password is not valid.");
    if (!Encodable(fields.newPassword))
        return Refuse("Invalid password. Please do not use any accented characters in your new password.");

    switch (AskAccountService(ChangePasswordUrl(fields.userName, fields.oldPassword, fields.newPassword))) {
    case kAccountOk: {
        SettingsRecord& record = gSettings.record;
        StoreScrambled(record.password, sizeof record.password, fields.newPassword);
        SaveSettings();
        ShowInfo("Password has been changed successfully!", 1);
        return true;
    }
    case kAccountRefused:
        return Refuse("Username or current password is not valid.");
    case kAccountNoAnswer:
        return Refuse(kNoService);
    default:
        return Refuse(kChangeFailed);
    }
}

std::string StoredUserName()
{
    return ReadScrambled(gSettings.record.userName, sizeof gSettings.record.userName);
}

std::string StoredPassword()
{
    return ReadScrambled(gSettings.record.password, sizeof gSettings.record.password);
}
