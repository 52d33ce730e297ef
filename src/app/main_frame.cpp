#include "app/main_frame.h"

#include "account/account_dialogs.h"
#include "app/child_view.h"
#include "shared/server_state.h"
#include "app/startup.h"
#include "app/view_commands.h"
#include "capture/capture_graph.h"
#include "config/settings.h"
#include "encode/pipeline.h"
#include "net/port_mapping_policy.h"
#include "net/update_dialog.h"
#include "platform/log.h"
#include "platform/messages.h"
#include "server/session_state.h"
#include "ui/toolbar_icons.h"
#include "ui/true_color_toolbar.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QMenuBar>
#include <QSpinBox>
#include <QStatusBar>
#include <QSystemTrayIcon>


namespace {

QAction* AddCheckable(QMenu* menu, const QString& text)
{
    QAction* action = menu->addAction(text);
    action->setCheckable(true);
    return action;
}

} // namespace

CMainFrame::CMainFrame(Tuner& tuner, bool silent) : tuner_(tuner), view_(new CChildView(this, tuner))
{
    SetMessagesShown(!silent);
    SetUserMessagesShown(MessagesShown());
    SetUnattended(silent || RunningHeadless());
    setWindowTitle("Orvandel");
    setWindowIcon(PaintedIcon(ProgramIcon::Program));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setCentralWidget(view_);
    CreateMenus();
    CreateToolBar();
    CreateStatusBar();
    RefreshCommandStates();
    SetFrameResizer([this](int width, int height) { ResizeFrameToClient(width, height); });
}

CMainFrame::~CMainFrame()
{
    SetFrameResizer(nullptr);
    SetMessageHandler(MessageTarget::Frame, {});
}

int CMainFrame::OnCreate()
{
    if (!RunInitialisationSequence(tuner_))
        return -1;
    SetMessageHandler(MessageTarget::Frame,
                      [this](unsigned message, uintptr_t wParam, intptr_t lParam) { OnAppMessage(message, wParam, lParam); });
    ShowChannelNumber(gSettings.record.currentChannel);
    if (AccountIsStored()) {
        SetFirstRun(false);
    } else {
        // Headless, no one could answer the dialog; the account stays empty
        // and the next start asks again.
        if (!RunningHeadless())
            RunAccountSetupDialog(this, AccountDialogMode::StartUp);
        SetFirstRun(true);
    }
    if (RunningHeadless())
        LogMissingSetUp();
    view_->OnStart();
    CreateTrayIcon();
    RefreshCommandStates();
    UpdateStatusText();
    ApplyPreviewVisibility();
    return 0;
}

QMenu* CMainFrame::AddMenu(const QString& title)
{
    QMenu* menu = menuBar()->addMenu(title);
    connect(menu, &QMenu::aboutToShow, this, &CMainFrame::RefreshCommandStates);
    return menu;
}

void CMainFrame::CreateMenus()
{
    QMenu* file = AddMenu("&File");
    file->addAction("&Encode File...", view_, &CChildView::OnEncodeFile);
    file->addSeparator();
    file->addAction("E&xit", this, &QWidget::close);

    QMenu* view = AddMenu("&View");
    QAction* toolbar = AddCheckable(view, "&Toolbar");
    toolbar->setChecked(true);
    connect(toolbar, &QAction::toggled, this, [this](bool on) { toolBar_->setVisible(on); });
    QAction* statusBarAction = AddCheckable(view, "&Status Bar");
    statusBarAction->setChecked(true);
    connect(statusBarAction, &QAction::toggled, this, [this](bool on) { statusBar()->setVisible(on); });
    view->addSeparator();
    statisticsAction_ = view->addAction(PaintedIcon(ProgramIcon::Statistics), "St&atistics", view_,
                                        &CChildView::OnStatistics);
    previewAction_ = AddCheckable(view, "&Preview Window");
    connect(previewAction_, &QAction::triggered, view_, &CChildView::OnPreviewWindow);

    QMenu* settings = AddMenu("&Settings");
    settings->addAction("Network &Settings...", view_, &CChildView::OnNetworkSettings);
    settings->addAction("&Recording Options...", view_, &CChildView::OnRecordingOptions);
    settings->addAction("Select Media Folders...", view_, &CChildView::OnMediaFolders);
    settings->addAction("Closed Captions...", view_, &CChildView::OnClosedCaptions);
    settings->addSeparator();
    settings->addAction("Change &Password...", view_, &CChildView::OnChangePassword);
    settings->addAction("New &Account...", view_, &CChildView::OnNewAccount);
    settings->addSeparator();
    muteAction_ = AddCheckable(settings, "&Mute Preview Audio");
    connect(muteAction_, &QAction::triggered, view_, &CChildView::OnMutePreviewAudio);
    autostartAction_ = AddCheckable(settings, "Start automatically after boot");
    connect(autostartAction_, &QAction::triggered, view_, &CChildView::OnAutostart);

    QMenu* channel = AddMenu("&Channel");
    lineupAction_ = channel->addAction(PaintedIcon(ProgramIcon::Lineup), "Channel &Lineup...", view_,
                                       &CChildView::OnChannelLineup);
    lineupAction_->setToolTip("Channel Lineup");
    channel->addSeparator();
    channel->addAction("Channel &Up", view_, &CChildView::OnChannelUp);
    channel->addAction("Channel &Down", view_, &CChildView::OnChannelDown);

    QMenu* stream = AddMenu("St&ream");
    startAction_ = stream->addAction(PaintedIcon(ProgramIcon::Start), "&Start", view_, &CChildView::OnStart);
    stopAction_ = stream->addAction(PaintedIcon(ProgramIcon::Stop), "S&top", view_, &CChildView::OnStop);

    recordAction_ = new QAction(PaintedIcon(ProgramIcon::Record), "Record", this);
    recordAction_->setCheckable(true);
    connect(recordAction_, &QAction::triggered, view_, &CChildView::OnRecord);

    QMenu* help = AddMenu("&Help");
    helpAction_ = help->addAction(PaintedIcon(ProgramIcon::Help), "Contents", view_, &CChildView::OnHelpContents);
    helpAction_->setToolTip("Help");
    help->addAction("Troubleshooting", view_, &CChildView::OnTroubleshooting);
    help->addSeparator();
    help->addAction("Check for Updates", view_, &CChildView::OnCheckForUpdates);
    help->addSeparator();
    help->addAction("&About Orvandel...", view_, &CChildView::OnAbout);
}

// The two places after the separator hold the channel label and box.
void CMainFrame::CreateToolBar()
{
    toolBar_ = new CTrueColorToolBar(
        {startAction_, stopAction_, recordAction_, lineupAction_, statisticsAction_, helpAction_}, tuner_, this);
    addToolBar(toolBar_);
}

void CMainFrame::CreateStatusBar()
{
    statusPane_ = new QLabel(QString::fromStdString(StatusText()), this);
    statusBar()->addWidget(statusPane_, 1);
    statusBar()->setSizeGripEnabled(false);
}

void CMainFrame::CreateTrayIcon()
{
    // Headless there is no tray, and Qt would warn on standard error that
    // it cannot make one.
    if (RunningHeadless())
        return;
    tray_ = new QSystemTrayIcon(windowIcon(), this);
    tray_->setToolTip("Orvandel");
    connect(tray_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger)
            RestoreFromTray();
    });
    tray_->show();
}

void CMainFrame::RestoreFromTray()
{
    showNormal();
    raise();
    activateWindow();
    view_->setFocus();
}

void CMainFrame::ShowChannelNumber(int channel)
{
    toolBar_->ShowChannel(channel);
}

QString CMainFrame::ChannelNumberText() const
{
    return toolBar_->ChannelBox()->text();
}

QString CMainFrame::StatusBarText() const
{
    return statusPane_->text();
}

void CMainFrame::RefreshCommandStates()
{
    const ServerCommandStates states = CurrentServerCommandStates();
    startAction_->setEnabled(states.startEnabled);
    stopAction_->setEnabled(states.stopEnabled);
    recordAction_->setChecked(states.recordChecked);
    previewAction_->setChecked(IsPreviewVisible());
    muteAction_->setChecked(IsPreviewMuted());
    autostartAction_->setChecked(gSettings.record.autostart != 0);
}

void CMainFrame::ResizeFrameToClient(int width, int height)
{
    int bars = menuBar()->sizeHint().height();
    for (const QWidget* bar : {static_cast<QWidget*>(toolBar_), static_cast<QWidget*>(statusBar())})
        bars += bar->isHidden() ? 0 : bar->sizeHint().height();
    setFixedSize(width, height + bars);
}

void CMainFrame::OnAppMessage(unsigned message, uintptr_t wParam, intptr_t lParam)
{
    switch (message) {
    case kMsgStatusText:
        statusPane_->setText(QString::fromStdString(StatusText()));
        RefreshCommandStates();
        break;
    case kMsgChannelChanged:
        ShowChannelNumber(gSettings.record.currentChannel);
        break;
    case kMsgPortForward:
        PortMapping().OnEngineNotification(wParam, lParam);
        break;
    case kMsgUpdateCheckDone:
        ShowUpdateNotice(TakeUpdateNotice(), this, !RunningHeadless());
        break;
    }
}

void CMainFrame::changeEvent(QEvent* event)
{
    QMainWindow::changeEvent(event);
    // Minimised, the program lives in the tray; without a tray the window
    // stays in the task bar so that it can still be reached.
    if (event->type() == QEvent::WindowStateChange && isMinimized() && tray_ &&
        QSystemTrayIcon::isSystemTrayAvailable())
        QMetaObject::invokeMethod(this, &QWidget::hide, Qt::QueuedConnection);
}

void CMainFrame::closeEvent(QCloseEvent* event)
{
    // A mapping step may still be talking to the router: it gets a moment,
    // within the bounded shutdown, and is otherwise left to end with the
    // program.
    PortMapping().Engine().WaitWhileBusy(kPortMappingCloseWaitMs);
    PortMapping().Engine().StopListening();
    if (tray_)
        tray_->hide();
    event->accept();
    qApp->quit();
}
