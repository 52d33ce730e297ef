#pragma once
// The "Capture Options" dialog of one channel record: the video input route,
// the tuner's channel, country code and antenna or cable, motion detection,
// the tuner scan that fills the records from this one on, and the network
// sources, each of which can be tested for its first picture.

#include "capture/channel_setup.h"
#include "platform/capture/network_source.h"
#include "platform/thread.h"

#include <QDialog>

#include <atomic>

class Tuner;

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QSpinBox;

class CChannelSetupDlg : public QDialog {
    Q_OBJECT
public:
    // Its scan holds tuner.
    CChannelSetupDlg(QWidget* parent, int channel, Tuner& tuner);
    // Stops a source test that still runs, and waits for it to end.
    ~CChannelSetupDlg() override;

    void accept() override;

private:
    void ShowModel();
    void ShowTuning();
    // The controls' values into the model and the record.
    void StoreControls();
    void OnAutoTune();
    QWidget* MakeSourcesBox();
    void ShowSources();
    void OnAddSource();
    void OnRemoveSource();
    void OnTestSource();
    void ShowSourceProbe(const SourceProbe& probe);

    int channel_;
    Tuner& tuner_;
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
    QListWidget* sources_;
    QLineEdit* sourceName_;
    QLineEdit* sourceUrl_;
    QPushButton* testSource_;
    QLabel* sourceResult_;
    WorkerThread sourceTest_;
    std::atomic<bool> sourceTestStop_{false};
};

// Opens the dialog for a channel record; IDOK when the values were stored.
int RunChannelSetupDialog(QWidget* parent, int channel, Tuner& tuner);
