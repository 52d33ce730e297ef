#include "app/child_view.h"

#include "account/account_dialogs.h"
#include "app/caption_font.h"
#include "app/main_frame.h"
#include "app/startup.h"
#include "shared/server_state.h"
#include "app/view_commands.h"
#include "capture/capture_graph.h"
#include "capture/preview_widget.h"
#include "config/settings.h"
#include "media/media_folder_dialog.h"
#include "net/network_dialogs.h"
#include "net/update_check.h"
#include "record/recording_setup_dlg.h"
#include "platform/messages.h"
#include "server/server_control.h"
#include "server/encode_file_dialog.h"
#include "server/stats_dlg.h"
#include "ui/channel_dlg.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QFileInfo>
#include <QMessageBox>
#include <QUrl>
#include <QVBoxLayout>

CChildView::CChildView(CMainFrame* frame, Tuner& tuner) : QWidget(frame), frame_(frame), tuner_(tuner)
{
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Base);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(GetPreviewWidget(this));
    SetMessageHandler(MessageTarget::View,
                      [this](unsigned message, uintptr_t wParam, intptr_t lParam) { OnAppMessage(message, wParam, lParam); });
}

CChildView::~CChildView()
{
    SetMessageHandler(MessageTarget::View, {});
}

void CChildView::OnAppMessage(unsigned message, uintptr_t, intptr_t)
{
    if (message != kMsgRefresh)
        return;
    if (statsDlg_)
        statsDlg_->Refresh();
    if (encodeDlg_)
        encodeDlg_->UpdateProgress();
}

void CChildView::OnStart()
{
    // Without a display the dialogs are skipped: start-up has logged what
    // is missing.
    if (gSettings.record.enabledChannels == 0 && IsFirstRun() && !RunningHeadless())
        RunFirstRunDialogs();
    StartServer(tuner_);
    UpdateStatusText();
}

// A new user is led through the settings a server cannot do without.
void CChildView::RunFirstRunDialogs()
{
    ShowInfo("Please setup your channel lineup.", 1);
    RunChannelLineupDialog(frame_, tuner_);
    ShowInfo("Please add a media folder that includes media files to be streamed to your handheld.", 1);
    RunMediaFolderDialog(frame_);
    SetFirstRun(false);
}

void CChildView::OnStop()
{
    StopServer(tuner_);
}

// The check mark shows what runs, not the click: it turns on once the
// recording has started.
void CChildView::OnRecord()
{
    ToggleRecording();
    frame_->RefreshCommandStates();
}

void CChildView::StepAndShowChannel(int step)
{
    int channel = StepChannel(tuner_, step);
    if (channel >= 0)
        frame_->ShowChannelNumber(channel);
}

void CChildView::OnChannelUp()
{
    StepAndShowChannel(+1);
}

void CChildView::OnChannelDown()
{
    StepAndShowChannel(-1);
}

void CChildView::OnChannelLineup()
{
    RunChannelLineupDialog(frame_, tuner_);
}

CStatsDlg* CChildView::StatsWindow() const
{
    return statsDlg_;
}

// Modeless and single: a second use only brings the open window forward.
void CChildView::OnStatistics()
{
    if (!statsDlg_)
        statsDlg_ = new CStatsDlg(frame_);
    statsDlg_->show();
    statsDlg_->raise();
    statsDlg_->activateWindow();
}

// One file at a time, never while streaming, and only once the server is ready.
void CChildView::OnEncodeFile()
{
    if (EncodeFileGuard(encodeDlg_ != nullptr) != 0)
        return;
    encodeDlg_ = new CFileOutput(frame_);
    encodeDlg_->show();
}

void CChildView::OnPreviewWindow()
{
    SetPreviewVisible(!IsPreviewVisible());
    ApplyPreviewVisibility();
    frame_->RefreshCommandStates();
}

void CChildView::OnMutePreviewAudio()
{
    TogglePreviewMute();
    frame_->RefreshCommandStates();
}

void CChildView::OnAutostart()
{
    ToggleAutostart();
    frame_->RefreshCommandStates();
}

// New network settings take effect with a fresh listener, whatever the
// dialog's answer.
void CChildView::OnNetworkSettings()
{
    RunNetworkSetupDialog(frame_);
    OnStop();
    OnStart();
}

// The listener and the directory registration must pick up the new account,
// whatever the dialog's answer.
void CChildView::OnNewAccount()
{
    RunAccountSetupDialog(frame_, AccountDialogMode::NewAccount);
    OnStop();
    OnStart();
}

void CChildView::OnChangePassword()
{
    RunPasswordDialog(frame_);
}

void CChildView::OnMediaFolders()
{
    RunMediaFolderDialog(frame_);
}

void CChildView::OnRecordingOptions()
{
    RunRecordingSetupDialog(frame_);
}

void CChildView::OnClosedCaptions()
{
    ChooseCaptionFont(frame_);
}

void CChildView::OpenHelpPage(const QString& page)
{
    // Beside the program in a build, under share/ once installed.
    const QString beside = QCoreApplication::applicationDirPath() + "/help/";
    const QString installed = QCoreApplication::applicationDirPath() + "/../share/orvandel/help/";
    const QString path = (QFileInfo::exists(beside + page) ? beside : installed) + page;
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(path)))
        ShowMessage(("Cannot open the help page " + path.toStdString() + ".").c_str(), 1, 1);
}

void CChildView::OnHelpContents()
{
    OpenHelpPage("index.html");
}

void CChildView::OnTroubleshooting()
{
    OpenHelpPage("troubleshooting.html");
}

// A check already running, the start-up one, reports to the user instead.
void CChildView::OnCheckForUpdates()
{
    StartUpdateCheck(true);
}

void CChildView::OnAbout()
{
    QMessageBox::about(frame_, "About Orvandel",
                       "<b>Orvandel</b><br>Live TV and your media folders on your handheld.<br><br>"
                       "Captures a TV tuner or capture card, encodes it live and streams it, "
                       "with closed captions, over TCP or UDT.");
}
