#include "record/recording_setup_dlg.h"

#include "config/settings.h"
#include "platform/messages.h"
#include "record/guide_rules_dlg.h"
#include "record/schedule_dialogs.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include <climits>
#include <cstdio>

namespace {

// The time spins go round at their ends instead of stopping.
class WrappingSpin : public QSpinBox {
public:
    WrappingSpin(int maximum, QWidget* parent) : QSpinBox(parent) { setRange(0, maximum); }
    void stepBy(int steps) override { setValue(WrapSpinValue(value(), steps, maximum())); }

protected:
    StepEnabled stepEnabled() const override { return StepUpEnabled | StepDownEnabled; }
};

QSpinBox* AddTimeSpin(QHBoxLayout* row, int maximum, const char* name, const char* unit, QWidget* parent)
{
    QSpinBox* spin = new WrappingSpin(maximum, parent);
    spin->setObjectName(name);
    row->addWidget(spin);
    row->addWidget(new QLabel(unit, parent));
    return spin;
}

const char* const kQualityNames[] = {"Best (260 KB/sec)", "High (70 KB/sec)", "Medium (32 KB/sec)",
                                     "Low (10 KB/sec)"};

} // namespace

CRecordingSetupDlg::CRecordingSetupDlg(QWidget* parent) : QDialog(parent)
{
    setWindowTitle("Recording Settings");
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(CreateFolderRow());
    layout->addLayout(CreateTimeRow());
    layout->addLayout(CreateSizeRow());
    layout->addLayout(CreateQualityBox());
    recordOnMotion_ = new QCheckBox("Start recording when motion detected", this);
    recordOnMotion_->setObjectName("recordOnMotion");
    layout->addWidget(recordOnMotion_);
    pictureSize_ = new QComboBox(this);
    pictureSize_->setObjectName("pictureSize");
    pictureSize_->addItems({"320x240", "320x256", "352x288", "640x480", "720x576"});
    auto* sizeRow = new QHBoxLayout;
    sizeRow->addWidget(new QLabel("Picture Size:", this));
    sizeRow->addWidget(pictureSize_);
    layout->addLayout(sizeRow);
    auto* schedule = new QPushButton("Schedule a Recording...", this);
    schedule->setObjectName("scheduleRecording");
    connect(schedule, &QPushButton::clicked, this, [this] { CRecScheduleListDlg(this).exec(); });
    layout->addWidget(schedule);
    auto* guide = new QPushButton("Guide and Rules...", this);
    guide->setObjectName("guideAndRules");
    connect(guide, &QPushButton::clicked, this, [this] { CGuideRulesDlg(this).exec(); });
    layout->addWidget(guide);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    Show(LoadRecordingSetup());
    connect(limitTime_, &QCheckBox::toggled, this, &CRecordingSetupDlg::OnLimitTime);
    connect(limitSize_, &QCheckBox::toggled, this, &CRecordingSetupDlg::OnLimitSize);
}

QLayout* CRecordingSetupDlg::CreateFolderRow()
{
    folder_ = new QLineEdit(this);
    folder_->setObjectName("recordingFolder");
    auto* browse = new QPushButton("...", this);
    browse->setObjectName("browseFolder");
    connect(browse, &QPushButton::clicked, this, &CRecordingSetupDlg::OnBrowse);
    auto* row = new QHBoxLayout;
    row->addWidget(folder_);
    row->addWidget(browse);
    return row;
}

QLayout* CRecordingSetupDlg::CreateTimeRow()
{
    limitTime_ = new QCheckBox("Limit recording time", this);
    limitTime_->setObjectName("limitTime");
    auto* row = new QHBoxLayout;
    row->addWidget(limitTime_);
    hours_ = AddTimeSpin(row, 23, "hours", "h", this);
    minutes_ = AddTimeSpin(row, 59, "minutes", "min", this);
    seconds_ = AddTimeSpin(row, 59, "seconds", "s", this);
    return row;
}

QLayout* CRecordingSetupDlg::CreateSizeRow()
{
    limitSize_ = new QCheckBox("Limit recorded file size", this);
    limitSize_->setObjectName("limitSize");
    sizeLimit_ = new QSpinBox(this);
    sizeLimit_->setObjectName("sizeLimit");
    sizeLimit_->setRange(INT_MIN, INT_MAX);
    auto* row = new QHBoxLayout;
    row->addWidget(limitSize_);
    row->addWidget(new QLabel("Recording size limit (MB):", this));
    row->addWidget(sizeLimit_);
    return row;
}

QLayout* CRecordingSetupDlg::CreateQualityBox()
{
    quality_ = new QButtonGroup(this);
    auto* column = new QVBoxLayout;
    for (int id = 0; id < 4; ++id) {
        auto* radio = new QRadioButton(kQualityNames[id], this);
        radio->setObjectName(QString("quality%1").arg(id));
        quality_->addButton(radio, id);
        column->addWidget(radio);
    }
    return column;
}

void CRecordingSetupDlg::Show(const RecordingSetup& setup)
{
    folder_->setText(QFile::decodeName(QByteArray::fromStdString(setup.folder)));
    limitTime_->setChecked(setup.limitTime);
    hours_->setValue(setup.timeLimit.hours);
    minutes_->setValue(setup.timeLimit.minutes);
    seconds_->setValue(setup.timeLimit.seconds);
    limitSize_->setChecked(setup.limitSize);
    sizeLimit_->setValue(setup.sizeLimitMb);
    quality_->button(static_cast<int>(setup.quality))->setChecked(true);
    recordOnMotion_->setChecked(setup.recordOnMotion);
    pictureSize_->setCurrentIndex(setup.sizeIndex);
    for (QSpinBox* spin : {hours_, minutes_, seconds_})
        spin->setEnabled(setup.limitTime);
    sizeLimit_->setEnabled(setup.limitSize);
}

RecordingSetup CRecordingSetupDlg::Collected() const
{
    RecordingSetup setup;
    setup.folder = QFile::encodeName(folder_->text()).toStdString();
    setup.limitTime = limitTime_->isChecked();
    setup.timeLimit = {hours_->value(), minutes_->value(), seconds_->value()};
    setup.limitSize = limitSize_->isChecked();
    setup.sizeLimitMb = sizeLimit_->value();
    setup.quality = static_cast<RecordingQuality>(quality_->checkedId());
    setup.recordOnMotion = recordOnMotion_->isChecked();
    setup.sizeIndex = pictureSize_->currentIndex();
    return setup;
}

void CRecordingSetupDlg::OnBrowse()
{
    const QString chosen = QFileDialog::getExistingDirectory(this, "Recording Folder", folder_->text());
    if (chosen.isEmpty())
        return;
    char* stored = gSettings.record.recordingFolder;
    std::snprintf(stored, sizeof gSettings.record.recordingFolder, "%s", QFile::encodeName(chosen).constData());
    folder_->setText(QFile::decodeName(stored));
}

void CRecordingSetupDlg::OnLimitTime(bool on)
{
    gSettings.record.limitRecordingTime = on ? 1 : 0;
    for (QSpinBox* spin : {hours_, minutes_, seconds_})
        spin->setEnabled(on);
}

void CRecordingSetupDlg::OnLimitSize(bool on)
{
    gSettings.record.limitRecordingSize = on ? 1 : 0;
    sizeLimit_->setEnabled(on);
}

void CRecordingSetupDlg::accept()
{
    if (ApplyRecordingSetup(Collected()) == 0)
        QDialog::accept();
}

int RunRecordingSetupDialog(QWidget* parent)
{
    CRecordingSetupDlg dialog(parent);
    return dialog.exec() == QDialog::Accepted ? IDOK : IDCANCEL;
}
