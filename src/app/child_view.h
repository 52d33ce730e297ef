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
    void OnRecord();
    void OnChannelUp();
    void OnChannelDown();
    void OnChannelLineup();
    void OnPreviewWindow();
    void OnMutePreviewAudio();
    void OnAutostart();
    void OnNetworkSettings();
    void OnMediaFolders();
    void OnRecordingOptions();
    void OnClosedCaptions();
    void OnHelpContents();
    void OnTroubleshooting();
    void OnAbout();

private:
    void RunFirstRunDialogs();
    void StepAndShowChannel(int step);
    void OpenHelpPage(const QString& page);

    CMainFrame* frame_;
};
