#include "net/update_dialog.h"

#include "config/settings.h"
#include "net/web_host.h"
#include "platform/log.h"
#include "platform/messages.h"

#include <QCheckBox>
#include <QDesktopServices>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

CUpgradeDlg::CUpgradeDlg(QWidget* parent) : QDialog(parent), doNotAsk_(new QCheckBox("Do not ask again", this))
{
    setWindowTitle("Info");
    doNotAsk_->setObjectName("doNotAsk");
    doNotAsk_->setChecked(gSettings.record.dontAskNewVersion != 0);
    auto* yes = new QPushButton("Yes", this);
    auto* no = new QPushButton("No", this);
    yes->setObjectName("yes");
    no->setObjectName("no");
    connect(yes, &QPushButton::clicked, this, &CUpgradeDlg::OnYes);
    connect(no, &QPushButton::clicked, this, &CUpgradeDlg::OnNo);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(yes);
    buttons->addWidget(no);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(kNewVersionText, this));
    layout->addWidget(doNotAsk_);
    layout->addLayout(buttons);
}

void CUpgradeDlg::OnYes()
{
    const std::string page = WebUrl(kDownloadPagePath);
    if (!QDesktopServices::openUrl(QUrl(QString::fromStdString(page))))
        Log("The download page " + page + " could not be opened.");
    StoreDoNotAsk();
    accept();
}

void CUpgradeDlg::OnNo()
{
    StoreDoNotAsk();
    reject();
}

void CUpgradeDlg::StoreDoNotAsk()
{
    gSettings.record.dontAskNewVersion = doNotAsk_->isChecked() ? 1 : 0;
}

void ShowUpdateNotice(UpdateNotice notice, QWidget* parent, bool withWindow)
{
    switch (notice) {
    case UpdateNotice::Nothing:
        return;
    case UpdateNotice::ConnectionError:
        ShowMessage(kUpdateConnectionErrorText, 1, 1);
        return;
    case UpdateNotice::NoNewVersion:
        ShowInfo(kNoNewVersionText, 1);
        return;
    case UpdateNotice::NewVersion:
        Log("Version " + LastPublishedVersion() + " of Orvandel is published; this is " + kOwnVersion + ". It is at " +
            WebUrl(kDownloadPagePath) + ".");
        if (withWindow) {
            CUpgradeDlg dialog(parent);
            dialog.exec();
        }
        return;
    }
}
