#pragma once
// The program's one main window: a small fixed-size frame with menus, a
// toolbar carrying the channel number box, a status bar and a tray icon.

#include <QMainWindow>

class CChildView;
class Tuner;
class CTrueColorToolBar;
class QAction;
class QLabel;
class QMenu;
class QSystemTrayIcon;

class CMainFrame : public QMainWindow {
    Q_OBJECT
public:
    // The tuner lives as long as the program, longer than the frame.
    CMainFrame(Tuner& tuner, bool silent);
    ~CMainFrame() override;

    // The frame's creation steps; -1 when the program must end.
    int OnCreate();

    CChildView* View() const { return view_; }
    void ShowChannelNumber(int channel);
    QString ChannelNumberText() const;
    QString StatusBarText() const;
    // Enables and checks the commands as the program's state says.
    void RefreshCommandStates();

    // Fixes the frame's size so that its view is width x height beside the
    // menu, tool and status bars.
    void ResizeFrameToClient(int width, int height);

protected:
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void CreateMenus();
    QMenu* AddMenu(const QString& title);
    void CreateToolBar();
    void CreateStatusBar();
    void CreateTrayIcon();
    void OnAppMessage(unsigned message, uintptr_t wParam, intptr_t lParam);
    void RestoreFromTray();

    Tuner& tuner_;
    CChildView* view_;
    CTrueColorToolBar* toolBar_ = nullptr;
    QLabel* statusPane_ = nullptr;
    QSystemTrayIcon* tray_ = nullptr;
    QAction* startAction_ = nullptr;
    QAction* stopAction_ = nullptr;
    QAction* recordAction_ = nullptr;
    QAction* lineupAction_ = nullptr;
    QAction* statisticsAction_ = nullptr;
    QAction* helpAction_ = nullptr;
    QAction* previewAction_ = nullptr;
    QAction* muteAction_ = nullptr;
    QAction* autostartAction_ = nullptr;
};
