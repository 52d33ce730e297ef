#pragma once
// The main frame's client area. It owns the user's commands; the frame
// routes every menu and toolbar action here.

#include <QPointer>
#include <QWidget>

#include <cstdint>

class CMainFrame;
class Tuner;
class CFileOutput;
class CStatsDlg;

class CChildView : public QWidget {
    Q_OBJECT
public:
    CChildView(CMainFrame* frame, Tuner& tuner);
    ~CChildView() override;

    // The open statistics window, or nullptr.
    CStatsDlg* StatsWindow() const;

public slots:
    void OnStart();
    void OnStop();
    void OnRecord();
    void OnChannelUp();
    void OnChannelDown();
    void OnChannelLineup();
    void OnStatistics();
    void OnEncodeFile();
    void OnPreviewWindow();
    void OnMutePreviewAudio();
    void OnAutostart();
    void OnNetworkSettings();
    void OnNewAccount();
    void OnChangePassword();
    void OnMediaFolders();
    void OnRecordingOptions();
    void OnClosedCaptions();
    void OnHelpContents();
    void OnTroubleshooting();
    void OnAbout();
    void OnCheckForUpdates();

private:
    void RunFirstRunDialogs();
    void StepAndShowChannel(int step);
    void OpenHelpPage(const QString& page);
    void OnAppMessage(unsigned message, uintptr_t wParam, intptr_t lParam);

    CMainFrame* frame_;
    Tuner& tuner_;
    // Cleared by Qt when the window closes and deletes itself.
    QPointer<CStatsDlg> statsDlg_;
    QPointer<CFileOutput> encodeDlg_;
};
