#include "net/network_dialogs.h"

#include "config/settings.h"
#include "net/network_settings.h"
#include "platform/messages.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

namespace {

// Up to four fields of 0..255, any of them still blank, as an IP address
// control allows while typing.
const char kNicAddressPattern[] =
    R"(^(((25[0-5]|2[0-4]\d|1\d\d|\d\d?)?\.){0,3}(25[0-5]|2[0-4]\d|1\d\d|\d\d?)?)$)";

void AddOkCancel(QDialog* dialog, QLayout* layout)
{
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    layout->addWidget(buttons);
}

} // namespace

CNetworkSetupDlg::CNetworkSetupDlg(QWidget* parent)
    : QDialog(parent), basePort_(new QLineEdit(this)), controlPort_(new QLineEdit(this))
{
    setWindowTitle("Network Settings");
    basePort_->setObjectName("basePort");
    controlPort_->setObjectName("controlPort");
    controlPort_->setReadOnly(true);
    auto* fields = new QFormLayout;
    fields->addRow("Base data port (TCP):", basePort_);
    fields->addRow("Control port (TCP):", controlPort_);
    auto* advanced = new QPushButton("Advanced...", this);
    advanced->setObjectName("advanced");
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(fields);
    layout->addWidget(advanced, 0, Qt::AlignLeft);
    AddOkCancel(this, layout);

    connect(basePort_, &QLineEdit::textChanged, this, [this](const QString& text) {
        controlPort_->setText(QString::fromStdString(ControlPortText(text.toStdString())));
    });
    connect(advanced, &QPushButton::clicked, this, [this] { CAdvNetworkSetupDlg(this).exec(); });
    basePort_->setText(QString::number(gSettings.record.basePort));
}

void CNetworkSetupDlg::accept()
{
    ApplyNetworkSettings(basePort_->text().toStdString());
    QDialog::accept();
}

CAdvNetworkSetupDlg::CAdvNetworkSetupDlg(QWidget* parent) : QDialog(parent), nicAddress_(new QLineEdit(this))
{
    setWindowTitle("Advanced Network Settings");
    auto* disableDirectory = new QCheckBox("Disable directory service", this);
    disableDirectory->setObjectName("disableDirectory");
    disableDirectory->setChecked(gSettings.record.directoryDisabled != 0);
    nicAddress_->setObjectName("nicAddress");
    nicAddress_->setValidator(new QRegularExpressionValidator(QRegularExpression(kNicAddressPattern), nicAddress_));
    nicAddress_->setText(QString::fromStdString(NicAddressText(gSettings.record.listenAddress)));
    auto* fields = new QFormLayout;
    fields->addRow(disableDirectory);
    fields->addRow("IP address for NIC:", nicAddress_);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(fields);
    AddOkCancel(this, layout);

    connect(disableDirectory, &QCheckBox::clicked, this, [] { ToggleDirectoryService(); });
}

void CAdvNetworkSetupDlg::accept()
{
    if (ApplyAdvancedNetworkSettings(nicAddress_->text().toStdString()) == 0)
        QDialog::accept();
}

int RunNetworkSetupDialog(QWidget* parent)
{
    CNetworkSetupDlg dialog(parent);
    return dialog.exec() == QDialog::Accepted ? IDOK : IDCANCEL;
}
