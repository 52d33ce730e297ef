#include "app/main_frame.h"

#include "app/child_view.h"
#include "app/server_state.h"
#include "app/startup.h"
#include "config/settings.h"
#include "platform/messages.h"
#include "platform/sync.h"
#include "server/server_control.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QStatusBar>
#include <QStyle>
#include <QSystemTrayIcon>
#include <QToolBar>

CMainFrame* gMainFrame = nullptr;

namespace {

constexpr int kFrameWidth = 340;
constexpr int kHiddenViewHeight = 2;

QIcon StandardIcon(QStyle::StandardPixmap which)
{
    return QApplication::style()->standardIcon(which);
}

} // namespace

CMainFrame::CMainFrame(bool silent) : view_(new CChildView(this))
{
    gState.showMessages = silent ? 0 : 1;
    gState.userShowMessages = gState.showMessages.load();
    gMainFrame = this;
    setWindowTitle("Orvandel");
    setWindowIcon(StandardIcon(QStyle::SP_ComputerIcon));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setCentralWidget(view_);
}

CMainFrame::~CMainFrame()
{
    SetMessageHandler(MessageTarget::Frame, {});
    gMainFrame = nullptr;
}

int CMainFrame::OnCreate()
{
    CreateMenus();
    CreateToolBar();
    CreateStatusBar();
    if (!RunInitialisationSequence())
        return -1;
    SetMessageHandler(MessageTarget::Frame,
                      [this](unsigned message, uintptr_t wParam, intptr_t lParam) { OnAppMessage(message, wParam, lParam); });
    ShowChannelNumber(gSettings.record.currentChannel);
    gState.firstRun = AccountIsStored() ? 0 : 1;
    view_->OnStart();
    CreateTrayIcon();
    RefreshCommandStates();
    UpdateStatusText();
    ResizeFrameToClient(kFrameWidth, kHiddenViewHeight);
    return 0;
}

void CMainFrame::CreateMenus()
{
    QMenu* file = menuBar()->addMenu("&File");
    file->addAction("E&xit", this, &QWidget::close);

    QMenu* view = menuBar()->addMenu("&View");
    QAction* toolbar = view->addAction("&Toolbar");
    toolbar->setCheckable(true);
    toolbar->setChecked(true);
    connect(toolbar, &QAction::toggled, this, [this](bool on) {
        for (QToolBar* bar : findChildren<QToolBar*>())
            bar->setVisible(on);
    });
    QAction* statusBarAction = view->addAction("&Status Bar");
    statusBarAction->setCheckable(true);
    statusBarAction->setChecked(true);
    connect(statusBarAction, &QAction::toggled, this, [this](bool on) { statusBar()->setVisible(on); });

    QMenu* settings = menuBar()->addMenu("&Settings");
    autostartAction_ = settings->addAction("Start automatically after boot", view_, &CChildView::OnAutostart);
    autostartAction_->setCheckable(true);

    QMenu* channel = menuBar()->addMenu("&Channel");
    channel->addAction("Channel &Up", view_, &CChildView::OnChannelUp);
    channel->addAction("Channel &Down", view_, &CChildView::OnChannelDown);

    QMenu* stream = menuBar()->addMenu("St&ream");
    startAction_ = stream->addAction(StandardIcon(QStyle::SP_MediaPlay), "&Start", view_, &CChildView::OnStart);
    stopAction_ = stream->addAction(StandardIcon(QStyle::SP_MediaStop), "S&top", view_, &CChildView::OnStop);

    QMenu* help = menuBar()->addMenu("&Help");
    help->addAction("&About Orvandel...", view_, &CChildView::OnAbout);
}

void CMainFrame::CreateToolBar()
{
    QToolBar* bar = addToolBar("Toolbar");
    bar->setMovable(false);
    bar->setFloatable(false);
    bar->setIconSize(QSize(16, 16));
    bar->addAction(startAction_);
    bar->addAction(stopAction_);
    bar->addAction(StandardIcon(QStyle::SP_ArrowUp), "Channel Up", view_, &CChildView::OnChannelUp);
    bar->addAction(StandardIcon(QStyle::SP_ArrowDown), "Channel Down", view_, &CChildView::OnChannelDown);
    bar->addSeparator();
    channelBox_ = new QLineEdit(bar);
    channelBox_->setReadOnly(true);
    channelBox_->setFixedWidth(48);
    channelBox_->setAlignment(Qt::AlignRight);
    channelBox_->setToolTip("Current channel");
    bar->addWidget(channelBox_);
}

void CMainFrame::CreateStatusBar()
{
    statusPane_ = new QLabel(QString::fromStdString(StatusText()), this);
    statusPane_->setMinimumWidth(kFrameWidth - 20);
    statusBar()->addWidget(statusPane_, 1);
    statusBar()->setSizeGripEnabled(false);
}

void CMainFrame::CreateTrayIcon()
{
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
    channelBox_->setText(QString::number(channel));
}

QString CMainFrame::ChannelNumberText() const
{
    return channelBox_->text();
}

QString CMainFrame::StatusBarText() const
{
    return statusPane_->text();
}

void CMainFrame::RefreshCommandStates()
{
    autostartAction_->setChecked(gSettings.record.autostart != 0);
    startAction_->setEnabled(gState.disconnected != 0);
    stopAction_->setEnabled(gState.disconnected == 0);
}

void CMainFrame::ResizeFrameToClient(int width, int height)
{
    int bars = menuBar()->sizeHint().height() + statusBar()->sizeHint().height();
    for (QToolBar* bar : findChildren<QToolBar*>())
        bars += bar->isVisible() ? bar->sizeHint().height() : 0;
    setFixedSize(width, height + bars);
}

void CMainFrame::OnAppMessage(unsigned message, uintptr_t, intptr_t)
{
    switch (message) {
    case kMsgStatusText:
        statusPane_->setText(QString::fromStdString(StatusText()));
        RefreshCommandStates();
        break;
    case kMsgChannelChanged:
        ShowChannelNumber(gSettings.record.currentChannel);
        break;
    case kMsgStartStream:
        // This build has no live or file pipeline to start: the session
        // learns at once that nothing is streaming and refuses the request.
        NamedEvent("StreamerStart").Set();
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
    if (tray_)
        tray_->hide();
    event->accept();
    qApp->quit();
}
