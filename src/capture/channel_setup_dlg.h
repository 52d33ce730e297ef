#pragma once
// The "Capture Options" dialog of one channel record: the video input route,
// the tuner's channel, country code and antenna or cable, and motion
// detection.

#include "capture/channel_setup.h"

#include <QDialog>

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QPushButton;
class QSpinBox;

class CChannelSetupDlg : public QDialog {
    Q_OBJECT
public:
    CChannelSetupDlg(QWidget* parent, int channel);

    void accept() override;

private:
    void ShowModel();

    int channel_;
    ChannelSetupModel model_;
    QComboBox* videoInput_;
    QComboBox* videoOutput_;
    QComboBox* audioInput_;
    QComboBox* audioOutput_;
    QSpinBox* channelBox_;
    QSpinBox* countryBox_;
    QButtonGroup* inputType_;
    QCheckBox* motion_;
    QPushButton* autoTune_;
};

// Opens the dialog for a channel record; IDOK when the values were stored.
int RunChannelSetupDialog(QWidget* parent, int channel);
