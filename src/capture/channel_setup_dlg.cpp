#include "capture/channel_setup_dlg.h"

#include "capture/auto_tune_dlg.h"
#include "capture/capture_graph.h"
#include "capture/crossbar_router.h"
#include "capture/source_list.h"
#include "capture/tuner.h"
#include "platform/messages.h"
#include "shared/server_state.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPixmap>
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

CChannelSetupDlg::CChannelSetupDlg(QWidget* parent, int channel, Tuner& tuner)
    : QDialog(parent), channel_(channel), tuner_(tuner), videoInput_(NamedCombo(this, "videoInput")),
      videoOutput_(NamedCombo(this, "videoOutput")), audioInput_(NamedCombo(this, "audioInput")),
      audioOutput_(NamedCombo(this, "audioOutput")), channelBox_(new BoundedSpinBox(this)),
      countryBox_(new BoundedSpinBox(this)), inputType_(new QButtonGroup(this)),
      motion_(new QCheckBox("Enable motion detection", this)), autoTune_(new QPushButton("Auto Tune", this)),
      sources_(new QListWidget(this)), sourceName_(new QLineEdit(this)), sourceUrl_(new QLineEdit(this)),
      testSource_(new QPushButton("Test", this)), sourceResult_(new QLabel(this))
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
    layout->addWidget(MakeSourcesBox());
    layout->addWidget(buttons);

    LoadChannelSetup(gSettings.channels[channel_], model_);
    ShowModel();
}

CChannelSetupDlg::~CChannelSetupDlg()
{
    sourceTestStop_ = true;
    sourceTest_.Wait(kInfinite);
}

// The list, a name and a URL for a new one, and what Test found.
QWidget* CChannelSetupDlg::MakeSourcesBox()
{
    auto* box = new QGroupBox("Network sources", this);
    sources_->setObjectName("sources");
    sourceName_->setObjectName("sourceName");
    sourceUrl_->setObjectName("sourceUrl");
    testSource_->setObjectName("testSource");
    sourceResult_->setObjectName("sourceResult");
    sourceName_->setPlaceholderText("Garden camera");
    sourceUrl_->setPlaceholderText("rtsp://192.168.1.20/stream");
    sourceResult_->setWordWrap(true);
    sources_->setMaximumHeight(90);
    auto* add = new QPushButton("Add", box);
    auto* remove = new QPushButton("Remove", box);
    add->setObjectName("addSource");
    remove->setObjectName("removeSource");
    connect(add, &QPushButton::clicked, this, &CChannelSetupDlg::OnAddSource);
    connect(remove, &QPushButton::clicked, this, &CChannelSetupDlg::OnRemoveSource);
    connect(testSource_, &QPushButton::clicked, this, &CChannelSetupDlg::OnTestSource);
    auto* form = new QFormLayout(box);
    form->addRow(sources_);
    form->addRow("Name:", sourceName_);
    form->addRow("URL:", sourceUrl_);
    auto* row = new QHBoxLayout;
    for (QPushButton* button : {add, remove, testSource_})
        row->addWidget(button);
    form->addRow(row);
    form->addRow(sourceResult_);
    ShowSources();
    return box;
}

void CChannelSetupDlg::ShowSources()
{
    sources_->clear();
    for (const NetworkSourceDescription& source : LoadNetworkSources())
        sources_->addItem(QString::fromStdString(source.name + ": " + source.url));
}

void CChannelSetupDlg::OnAddSource()
{
    const std::string problem =
        AddNetworkSource({sourceName_->text().trimmed().toStdString(), sourceUrl_->text().trimmed().toStdString(), true});
    if (!problem.empty()) {
        ShowMessage(problem.c_str(), 1, 1);
        return;
    }
    sourceName_->clear();
    sourceUrl_->clear();
    ShowSources();
    sources_->setCurrentRow(sources_->count() - 1);
}

void CChannelSetupDlg::OnRemoveSource()
{
    const int row = sources_->currentRow();
    const std::vector<NetworkSourceDescription> sources = LoadNetworkSources();
    if (row < 0 || row >= static_cast<int>(sources.size()))
        return;
    if (const std::string problem = RemoveNetworkSource(sources[row].name); !problem.empty())
        ShowMessage(problem.c_str(), 1, 1);
    else if (!ChannelsOnDevice(sources[row].name).empty())
        ShowMessage(("Some channels still use \"" + sources[row].name + "\": put them on another device.").c_str(), 1, 1);
    ShowSources();
}

// Opens the chosen source (or the URL typed) on a worker thread, within its
// time limits, and shows what came back.
void CChannelSetupDlg::OnTestSource()
{
    const int row = sources_->currentRow();
    const std::vector<NetworkSourceDescription> sources = LoadNetworkSources();
    const std::string url = row >= 0 && row < static_cast<int>(sources.size()) ? sources[row].url
                                                                               : sourceUrl_->text().trimmed().toStdString();
    if (url.empty() || sourceTest_.Registered())
        return;
    testSource_->setEnabled(false);
    sourceResult_->setText("Opening the source...");
    const bool started = sourceTest_.Start([this, url] {
        const SourceProbe probe = ProbeNetworkSource(url, {320, 240}, sourceTestStop_);
        QMetaObject::invokeMethod(this, [this, probe] { ShowSourceProbe(probe); }, Qt::QueuedConnection);
        return 0;
    });
    if (!started) {
        testSource_->setEnabled(true);
        sourceResult_->setText("No thread could be started for the test.");
    }
}

void CChannelSetupDlg::ShowSourceProbe(const SourceProbe& probe)
{
    sourceTest_.Wait(kInfinite);
    testSource_->setEnabled(true);
    if (!probe.failure.empty()) {
        sourceResult_->setText(QString::fromStdString("The source could not be opened: " + probe.failure + "."));
        return;
    }
    if (probe.picture.empty()) {
        sourceResult_->setText(QString::fromStdString("Sound only: " + probe.description));
        return;
    }
    // The picture is bottom-up: mirrored, it stands the right way up.
    const QImage picture = QImage(probe.picture.data(), probe.size.width, probe.size.height, probe.size.width * 3,
                                  QImage::Format_BGR888)
                               .mirrored(false, true);
    sourceResult_->setPixmap(QPixmap::fromImage(picture));
    sourceResult_->setToolTip(QString::fromStdString(probe.description));
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
    // Meanwhile the window thread still serves a handheld's requests: the
    // hold keeps them from rebuilding the graph under the scan.
    if (const TunerAnswer held = tuner_.Hold(TunerUse::Scan, channel_, 0); !held.Granted()) {
        ShowFailure(held.reason.c_str());
        return;
    }
    if (StartCapture() != 0) {
        tuner_.Release(TunerUse::Scan);
        return;
    }
    ClearAutoTuneFoundCount();
    RunAutoTuneDialog(this, channel_, *tuner);
    tuner_.Release(TunerUse::Scan);
    model_.channel = record.tunerChannel;
    model_.country = record.tunerCountry;
    model_.antenna = record.tunerInputType != 0;
    StopCapture();
    ShowTuning();
}

int RunChannelSetupDialog(QWidget* parent, int channel, Tuner& tuner)
{
    if (channel < 0 || channel >= kChannelCount)
        return IDCANCEL;
    CChannelSetupDlg dialog(parent, channel, tuner);
    return dialog.exec() == QDialog::Accepted ? IDOK : IDCANCEL;
}
