#include "app/child_view.h"

#include "app/main_frame.h"
#include "app/server_state.h"
#include "app/view_commands.h"
#include "server/server_control.h"

#include <QMessageBox>

CChildView::CChildView(CMainFrame* frame) : QWidget(frame), frame_(frame)
{
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Base);
}

void CChildView::StepAndShowChannel(int step)
{
    int channel = StepChannel(step);
    if (channel >= 0)
        frame_->ShowChannelNumber(channel);
}

void CChildView::OnStart()
{
    StartServer();
    UpdateStatusText();
}

void CChildView::OnStop()
{
    StopServer();
}

void CChildView::OnChannelUp()
{
    StepAndShowChannel(+1);
}

void CChildView::OnChannelDown()
{
    StepAndShowChannel(-1);
}

void CChildView::OnAutostart()
{
    ToggleAutostart();
    frame_->RefreshCommandStates();
}

void CChildView::OnAbout()
{
    QMessageBox::about(frame_, "About Orvandel",
                       "<b>Orvandel</b><br>Live TV and your media folders on your handheld.<br><br>"
                       "Captures a TV tuner or capture card, encodes it live and streams it, "
                       "with closed captions, over TCP or UDT.");
}
