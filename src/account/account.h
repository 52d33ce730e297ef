#pragma once
// What the account dialogs check, ask the account service and store, apart
// from the widgets. Texts are the bytes that would be stored (UTF-8 from the
// dialogs), so a length check always matches what fits in the record.

#include <string>

constexpr size_t kEmailFieldSize = 128;
constexpr size_t kUserNameFieldSize = 32;
constexpr size_t kPasswordFieldSize = 32;

struct AccountFields {
    std::string email;
    std::string userName;
    std::string password;
    std::string retypedPassword;
};

struct PasswordChangeFields {
    std::string userName;
    std::string oldPassword;
    std::string newPassword;
    std::string retypedPassword;
};

// The account service's answers.
constexpr int kAccountOk = 0;
constexpr int kAccountRefused = 1;
constexpr int kAccountServiceError = 2;
constexpr int kAccountNoAnswer = -1;

// The request texts; empty when a text cannot be encoded.
std::string CreateAccountUrl(const std::string& email, const std::string& userName, const std::string& password);
std::string ChangePasswordUrl(const std::string& userName, const std::string& oldPassword,
                              const std::string& newPassword);

// "Register": true once the service created the account and it is stored and
// saved; false after telling the user why not (or, for an unknown answer,
// silently), with the stored account untouched.
bool RegisterAccount(const AccountFields& fields);

// "I already have an account": stores the texts without asking the service.
bool RecordExistingAccount(const AccountFields& fields);

// The password dialog's OK: true once the service changed the password and
// the new one is stored and saved.
bool ChangeAccountPassword(const PasswordChangeFields& fields);

// The stored texts in plain form, as the password dialog opens with them.
std::string StoredUserName();
std::string StoredPassword();
