#pragma once
// The main frame's client area. It owns the user's commands; the frame
// routes every menu and toolbar action here.

#include <QWidget>

class CMainFrame;

class CChildView : public QWidget {
    Q_OBJECT
public:
    explicit CChildView(CMainFrame* frame);

public slots:
    void OnStart();
    void OnStop();
    void OnChannelUp();
    void OnChannelDown();
    void OnAutostart();
    void OnAbout();

private:
    void StepAndShowChannel(int step);

    CMainFrame* frame_;
};
