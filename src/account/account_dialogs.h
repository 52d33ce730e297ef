#pragma once
// The account dialogs of start-up and the Settings menu. What they check,
// ask the account service and store lives in account/account.h.

#include <QDialog>

class QLineEdit;

enum class AccountDialogMode {
    StartUp,     // Cancel is disabled: the program has no account yet
    NewAccount,  // from the Settings menu
};

class CAccountSetupDlg : public QDialog {
    Q_OBJECT
public:
    explicit CAccountSetupDlg(AccountDialogMode mode, QWidget* parent = nullptr);

private:
    void OnRegister();
    void OnExistingAccount();

    QLineEdit* email_;
    QLineEdit* userName_;
    QLineEdit* password_;
    QLineEdit* retypedPassword_;
};

class CPasswordDlg : public QDialog {
    Q_OBJECT
public:
    explicit CPasswordDlg(QWidget* parent = nullptr);
    // Closes only once the service changed the password.
    void accept() override;

private:
    QLineEdit* userName_;
    QLineEdit* oldPassword_;
    QLineEdit* newPassword_;
    QLineEdit* retypedPassword_;
};

// Show the dialogs modally: IDOK or IDCANCEL.
int RunAccountSetupDialog(QWidget* parent, AccountDialogMode mode);
int RunPasswordDialog(QWidget* parent);
