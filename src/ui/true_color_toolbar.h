#pragma once
// The main window's toolbar: its command buttons, then the channel number
// box, whose spin moves to any channel index unless the channel is in use.

#include <QToolBar>

class QSpinBox;
class Tuner;

// The channel box may change the channel only while it is neither streamed
// nor recorded: 0 when it may, -1 after telling the user.
int ChannelSpinGuard();

class CTrueColorToolBar : public QToolBar {
    Q_OBJECT
public:
    // The channel box chooses the tuner's channel.
    CTrueColorToolBar(const QList<QAction*>& buttons, Tuner& tuner, QWidget* parent);

    void ShowChannel(int channel);
    QSpinBox* ChannelBox() const { return channelBox_; }

private:
    QSpinBox* channelBox_;
};
