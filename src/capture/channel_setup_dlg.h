#pragma once
// The "Capture Options" dialog of one channel record: the video input route,
// the tuner's channel, country code and antenna or cable, motion detection,
// and the tuner scan that fills the records from this one on.

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
    void ShowTuning();
    // The controls' values into the model and the record.
    void StoreControls();
    void OnAutoTune();

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
