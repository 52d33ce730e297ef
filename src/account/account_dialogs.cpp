#include "account/account_dialogs.h"

#include "account/account.h"
#include "platform/messages.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <functional>

namespace {

// Field limits leave room for the terminating zero of each stored field.
constexpr int kEmailLimit = static_cast<int>(kEmailFieldSize) - 1;
constexpr int kNameLimit = static_cast<int>(kUserNameFieldSize) - 1;
constexpr int kPasswordLimit = static_cast<int>(kPasswordFieldSize) - 1;

QLineEdit* AddField(QFormLayout* form, const char* label, const char* name, int limit, bool masked, QWidget* parent)
{
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(name);
    edit->setMaxLength(limit);
    if (masked)
        edit->setEchoMode(QLineEdit::Password);
    form->addRow(label, edit);
    return edit;
}

std::string Text(const QLineEdit* edit)
{
    return edit->text().toUtf8().toStdString();
}

QPushButton* AddButton(QHBoxLayout* row, const char* text, const char* name, QWidget* parent)
{
    auto* button = new QPushButton(text, parent);
    button->setObjectName(name);
    button->setAutoDefault(false);
    row->addWidget(button);
    return button;
}

// While the account service is asked the window keeps painting, takes no
// clicks and says what it waits for.
bool WhileAskingTheService(QDialog* dialog, const std::function<bool()>& work)
{
    const QString title = dialog->windowTitle();
    dialog->setWindowTitle(title + " - contacting the account service...");
    dialog->setEnabled(false);
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const bool done = work();
    QApplication::restoreOverrideCursor();
    dialog->setEnabled(true);
    dialog->setWindowTitle(title);
    return done;
}

} // namespace

CAccountSetupDlg::CAccountSetupDlg(AccountDialogMode mode, QWidget* parent) : QDialog(parent)
{
    setWindowTitle("Account Setup");
    auto* layout = new QVBoxLayout(this);
    auto* intro = new QLabel("Please enter a desired username and a password. These will be used to restrict access "
                             "to Orvandel and prevent others from connecting to your computer.",
                             this);
    intro->setWordWrap(true);
    layout->addWidget(intro);
    auto* form = new QFormLayout;
    email_ = AddField(form, "Email:", "email", kEmailLimit, false, this);
    userName_ = AddField(form, "Username:", "userName", kNameLimit, false, this);
    password_ = AddField(form, "Password:", "password", kPasswordLimit, true, this);
    retypedPassword_ = AddField(form, "Re-type Password:", "retypedPassword", kPasswordLimit, true, this);
    layout->addLayout(form);

    auto* row = new QHBoxLayout;
    QPushButton* registerButton = AddButton(row, "Register", "register", this);
    registerButton->setDefault(true);
    QPushButton* existing = AddButton(row, "I already have an account", "existingAccount", this);
    QPushButton* cancel = AddButton(row, "Cancel", "cancel", this);
    // At start-up there is no account to fall back on; the window's close
    // box still lets the user go on without one.
    cancel->setEnabled(mode != AccountDialogMode::StartUp);
    layout->addLayout(row);

    connect(registerButton, &QPushButton::clicked, this, &CAccountSetupDlg::OnRegister);
    connect(existing, &QPushButton::clicked, this, &CAccountSetupDlg::OnExistingAccount);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

void CAccountSetupDlg::OnRegister()
{
    if (WhileAskingTheService(this, [this] {
            return RegisterAccount({Text(email_), Text(userName_), Text(password_), Text(retypedPassword_)});
        }))
        accept();
}

void CAccountSetupDlg::OnExistingAccount()
{
    if (RecordExistingAccount({Text(email_), Text(userName_), Text(password_), Text(retypedPassword_)}))
        accept();
}

CPasswordDlg::CPasswordDlg(QWidget* parent) : QDialog(parent)
{
    setWindowTitle("Change Password");
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    userName_ = AddField(form, "Username:", "userName", kNameLimit, false, this);
    userName_->setReadOnly(true);
    userName_->setText(QString::fromUtf8(StoredUserName()));
    oldPassword_ = AddField(form, "Old Password:", "oldPassword", kPasswordLimit, true, this);
    oldPassword_->setText(QString::fromUtf8(StoredPassword()));
    newPassword_ = AddField(form, "New Password:", "newPassword", kPasswordLimit, true, this);
    retypedPassword_ = AddField(form, "Re-type New Password:", "retypedPassword", kPasswordLimit, true, this);
    layout->addLayout(form);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

void CPasswordDlg::accept()
{
    if (WhileAskingTheService(this, [this] {
            return ChangeAccountPassword({Text(userName_), Text(oldPassword_), Text(newPassword_), Text(retypedPassword_)});
        }))
        QDialog::accept();
}

int RunAccountSetupDialog(QWidget* parent, AccountDialogMode mode)
{
    CAccountSetupDlg dialog(mode, parent);
    return dialog.exec() == QDialog::Accepted ? IDOK : IDCANCEL;
}

int RunPasswordDialog(QWidget* parent)
{
    CPasswordDlg dialog(parent);
    return dialog.exec() == QDialog::Accepted ? IDOK : IDCANCEL;
}
