#include "capture/channel_setup_dlg.h"

#include "capture/auto_tune_dlg.h"
#include "capture/capture_graph.h"
#include "capture/crossbar_router.h"
#include "platform/messages.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace {

// Shows the record's value, -1 included, but steps only within 0 to 1000.
class BoundedSpinBox : public QSpinBox {
public:
    explicit BoundedSpinBox(QWidget* parent) : QSpinBox(parent) { setRange(-1, kSpinMaximum); }

    void stepBy(int steps) override { setValue(StepSpinValue(value(), steps)); }

protected:
    StepEnabled stepEnabled() const override
    {
        StepEnabled enabled = StepNone;
        if (value() < kSpinMaximum)
            enabled |= StepUpEnabled;
        if (value() > kSpinMinimum)
            enabled |= StepDownEnabled;
        return enabled;
    }
};

QComboBox* NamedCombo(QWidget* parent, const char* name)
{
    auto* box = new QComboBox(parent);
    box->setObjectName(name);
    return box;
}

} // namespace

CChannelSetupDlg::CChannelSetupDlg(QWidget* parent, int channel)
    : QDialog(parent), channel_(channel), videoInput_(NamedCombo(this, "videoInput")),
      videoOutput_(NamedCombo(this, "videoOutput")), audioInput_(NamedCombo(this, "audioInput")),
      audioOutput_(NamedCombo(this, "audioOutput")), channelBox_(new BoundedSpinBox(this)),
      countryBox_(new BoundedSpinBox(this)), inputType_(new QButtonGroup(this)),
      motion_(new QCheckBox("Enable motion detection", this)), autoTune_(new QPushButton("Auto Tune", this))
{
    setWindowTitle("Capture Options");
    channelBox_->setObjectName("channel");
    countryBox_->setObjectName("country");
    motion_->setObjectName("motion");
    autoTune_->setObjectName("autoTune");
    auto* antenna = new QRadioButton("Antenna", this);
    auto* cable = new QRadioButton("Cable", this);
    antenna->setObjectName("antenna");
    cable->setObjectName("cable");
    inputType_->addButton(antenna, 0);
    inputType_->addButton(cable, 1);

    auto* routing = new QGroupBox("Crossbar", this);
    auto* routingForm = new QFormLayout(routing);
    routingForm->addRow("Video input:", videoInput_);
    routingForm->addRow("Video output:", videoOutput_);
    routingForm->addRow("Audio input:", audioInput_);
    routingForm->addRow("Audio output:", audioOutput_);

    auto* tuning = new QGroupBox("TV Tuner", this);
    auto* tuningForm = new QFormLayout(tuning);
    tuningForm->addRow("Channel:", channelBox_);
    tuningForm->addRow("Country code:", countryBox_);
    auto* radios = new QHBoxLayout;
    radios->addWidget(antenna);
    radios->addWidget(cable);
    tuningForm->addRow(radios);
    tuningForm->addRow(autoTune_);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(autoTune_, &QPushButton::clicked, this, &CChannelSetupDlg::OnAutoTune);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(routing);
    layout->addWidget(tuning);
    layout->addWidget(motion_);
    layout->addWidget(buttons);

    LoadChannelSetup(gSettings.channels[channel_], model_);
    ShowModel();
}

void CChannelSetupDlg::ShowModel()
{
    for (const std::string& name : model_.routeNames)
        videoInput_->addItem(QString::fromStdString(name));
    videoInput_->setCurrentIndex(model_.videoInput);
    ShowTuning();
    motion_->setChecked(model_.motion);
    for (QWidget* control : {static_cast<QWidget*>(channelBox_), static_cast<QWidget*>(countryBox_),
                             static_cast<QWidget*>(inputType_->button(0)), static_cast<QWidget*>(inputType_->button(1)),
                             static_cast<QWidget*>(autoTune_)})
        control->setEnabled(model_.tunerFound);
}

void CChannelSetupDlg::ShowTuning()
{
    channelBox_->setValue(model_.channel);
    countryBox_->setValue(model_.country);
    inputType_->button(model_.antenna ? 0 : 1)->setChecked(true);
}

void CChannelSetupDlg::StoreControls()
{
    model_.videoInput = videoInput_->currentIndex();
    model_.channel = channelBox_->value();
    model_.country = countryBox_->value();
    model_.antenna = inputType_->checkedId() == 0;
    model_.motion = motion_->isChecked();
    StoreChannelSetup(model_, gSettings.channels[channel_]);
}

void CChannelSetupDlg::accept()
{
    StoreControls();
    QDialog::accept();
}

// The scan writes records from this one on, starting from what the controls
// show; afterwards they show the first channel it found.
void CChannelSetupDlg::OnAutoTune()
{
    TvTuner* tuner = model_.tunerFound ? FindTuner() : nullptr;
    if (!tuner)
        return;
    StoreControls();
    const ChannelRecord& record = gSettings.channels[channel_];
    tuner->SetInputType(0, record.tunerInputType);
    tuner->SetCountryCode(record.tunerCountry);
    if (StartCapture() != 0)
        return;
    ClearAutoTuneFoundCount();
    SetScanningTuner(true);
    RunAutoTuneDialog(this, channel_, *tuner);
    SetScanningTuner(false);
    model_.channel = record.tunerChannel;
    model_.country = record.tunerCountry;
    model_.antenna = record.tunerInputType != 0;
    StopCapture();
    ShowTuning();
}

int RunChannelSetupDialog(QWidget* parent, int channel)
{
    if (channel < 0 || channel >= kChannelCount)
        return IDCANCEL;
    CChannelSetupDlg dialog(parent, channel);
    return dialog.exec() == QDialog::Accepted ? IDOK : IDCANCEL;
}
