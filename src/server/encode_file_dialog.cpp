#include "server/encode_file_dialog.h"

#include "platform/messages.h"

#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTextEdit>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdio>

namespace {

constexpr size_t kInformationLimit = 1024;
constexpr int kMaxHours = 99;

QSpinBox* TimeSpin(int maximum)
{
    auto* spin = new QSpinBox;
    // At its limit a field stays: no wrapping.
    spin->setRange(0, maximum);
    spin->setWrapping(false);
    return spin;
}

void SetTime(QSpinBox* const (&spins)[3], const TimeFields& time)
{
    spins[0]->setValue(time.hours);
    spins[1]->setValue(time.minutes);
    spins[2]->setValue(time.seconds);
}

TimeFields TimeOf(QSpinBox* const (&spins)[3])
{
    return {spins[0]->value(), spins[1]->value(), spins[2]->value()};
}

int Checked(QRadioButton* const (&buttons)[3])
{
    for (int i = 0; i < 3; ++i)
        if (buttons[i]->isChecked())
            return i;
    return 1;
}

} // namespace

std::string MediaInformationText(const MediaInfoRecord& record)
{
    char line[128];
    std::snprintf(line, sizeof line, "Bitrate: %d kb/s\n", record.bitRateKbps);
    std::string text = line;
    for (int k = 0; k < std::min<int>(record.streamCount, kMediaInfoStreams); ++k) {
        const StreamDescription& stream = record.streams[k];
        std::snprintf(line, sizeof line, "\nStream #%d:\n", k);
        text += line;
        text += "Codec: " + std::string(stream.text, strnlen(stream.text, sizeof stream.text)) + "\n";
        if (stream.frameRate > 0) {
            std::snprintf(line, sizeof line, "Framerate: %2.2f fps\n", static_cast<double>(stream.frameRate));
            text += line;
        }
    }
    return text.substr(0, kInformationLimit);
}

bool ChooseInput(EncodeFileForm& form, const std::string& path, std::string& information)
{
    form.input = path;
    MediaInfoRecord record{};
    if (GetMediaInfo(path, record) != 0)
        return false;
    form.start = {};
    form.end = {std::min<int>(record.hours, kMaxHours), record.minutes, record.seconds};
    information = MediaInformationText(record);
    return true;
}

TvsRequest RequestOf(const EncodeFileForm& form)
{
    TvsRequest request;
    request.inputPath = form.input;
    request.outputPath = form.output;
    request.resolution = form.resolution;
    request.bitRate = form.bitRate;
    request.startSeconds = form.start.Seconds();
    request.endSeconds = form.end.Seconds();
    return request;
}

CFileOutput::CFileOutput(QWidget* parent) : QDialog(parent)
{
    setWindowTitle("Encoder Settings");
    setAttribute(Qt::WA_DeleteOnClose);
    setModal(false);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(MakeFilesBox());
    layout->addWidget(MakeQualityBox());
    layout->addWidget(MakeTimingBox());
    information_ = new QTextEdit;
    information_->setReadOnly(true);
    layout->addWidget(information_);
    layout->addWidget(MakeProgressBox());
    auto* buttons = new QHBoxLayout;
    startButton_ = new QPushButton("Start Encoding");
    closeButton_ = new QPushButton("Cancel");
    buttons->addStretch();
    buttons->addWidget(startButton_);
    buttons->addWidget(closeButton_);
    layout->addLayout(buttons);
    connect(startButton_, &QPushButton::clicked, this, [this] {
        ReadControls();
        StartEncoding(form_);
    });
    connect(closeButton_, &QPushButton::clicked, this, &CFileOutput::reject);
    ShowForm();
    ShowProgress(false);
}

CFileOutput::~CFileOutput() = default;

QWidget* CFileOutput::MakeFilesBox()
{
    auto* box = new QGroupBox("Files");
    auto* grid = new QGridLayout(box);
    input_ = new QLineEdit;
    output_ = new QLineEdit;
    auto* browseInput = new QPushButton("Browse...");
    auto* browseOutput = new QPushButton("Browse...");
    grid->addWidget(new QLabel("Input file:"), 0, 0);
    grid->addWidget(input_, 0, 1);
    grid->addWidget(browseInput, 0, 2);
    grid->addWidget(new QLabel("Output file:"), 1, 0);
    grid->addWidget(output_, 1, 1);
    grid->addWidget(browseOutput, 1, 2);
    connect(browseInput, &QPushButton::clicked, this, &CFileOutput::BrowseInput);
    connect(browseOutput, &QPushButton::clicked, this, &CFileOutput::BrowseOutput);
    // A path typed by hand is described as soon as it is complete.
    connect(input_, &QLineEdit::editingFinished, this, [this] {
        std::string information;
        if (input_->text().toStdString() != form_.input && ChooseInput(form_, input_->text().toStdString(), information)) {
            information_->setPlainText(QString::fromStdString(information));
            ShowForm();
        }
    });
    return box;
}

QWidget* CFileOutput::MakeQualityBox()
{
    auto* box = new QGroupBox("Quality");
    auto* grid = new QGridLayout(box);
    const char* resolutions[3] = {"Low", "Medium", "High"};
    const char* bitRates[3] = {"High", "Medium", "Low"};
    auto* resolutionGroup = new QWidget;
    auto* resolutionRow = new QHBoxLayout(resolutionGroup);
    auto* bitRateGroup = new QWidget;
    auto* bitRateRow = new QHBoxLayout(bitRateGroup);
    for (int i = 0; i < 3; ++i) {
        resolutions_[i] = new QRadioButton(resolutions[i]);
        resolutionRow->addWidget(resolutions_[i]);
        bitRates_[i] = new QRadioButton(bitRates[i]);
        bitRateRow->addWidget(bitRates_[i]);
    }
    grid->addWidget(new QLabel("Resolution:"), 0, 0);
    grid->addWidget(resolutionGroup, 0, 1);
    grid->addWidget(new QLabel("Bit rate:"), 1, 0);
    grid->addWidget(bitRateGroup, 1, 1);
    return box;
}

QWidget* CFileOutput::MakeTimingBox()
{
    auto* box = new QGroupBox("Timing");
    auto* grid = new QGridLayout(box);
    const int maxima[3] = {kMaxHours, 59, 59};
    grid->addWidget(new QLabel("Start (h:m:s):"), 0, 0);
    grid->addWidget(new QLabel("Duration (h:m:s):"), 1, 0);
    for (int i = 0; i < 3; ++i) {
        start_[i] = TimeSpin(maxima[i]);
        end_[i] = TimeSpin(maxima[i]);
        grid->addWidget(start_[i], 0, i + 1);
        grid->addWidget(end_[i], 1, i + 1);
    }
    return box;
}

QWidget* CFileOutput::MakeProgressBox()
{
    auto* box = new QGroupBox("Progress");
    auto* row = new QHBoxLayout(box);
    progress_ = new QProgressBar;
    progress_->setTextVisible(false);
    progressText_ = new QLabel;
    row->addWidget(progress_);
    row->addWidget(progressText_);
    progressBox_ = box;
    return box;
}

void CFileOutput::BrowseInput()
{
    const QString path = QFileDialog::getOpenFileName(this, "Input file", input_->text(), kInputFileFilter);
    if (path.isEmpty())
        return;
    std::string information;
    ReadControls();
    ChooseInput(form_, path.toStdString(), information);
    information_->setPlainText(QString::fromStdString(information));
    ShowForm();
}

void CFileOutput::BrowseOutput()
{
    const QString path = QFileDialog::getSaveFileName(this, "Output file", output_->text(), kOutputFileFilter);
    if (!path.isEmpty())
        output_->setText(path);
}

void CFileOutput::ReadControls()
{
    form_.input = input_->text().toStdString();
    form_.output = output_->text().toStdString();
    form_.resolution = Checked(resolutions_);
    form_.bitRate = Checked(bitRates_);
    form_.start = TimeOf(start_);
    form_.end = TimeOf(end_);
}

void CFileOutput::ShowForm()
{
    input_->setText(QString::fromStdString(form_.input));
    output_->setText(QString::fromStdString(form_.output));
    resolutions_[form_.resolution]->setChecked(true);
    bitRates_[form_.bitRate]->setChecked(true);
    SetTime(start_, form_.start);
    SetTime(end_, form_.end);
}

void CFileOutput::ShowProgress(bool visible)
{
    progressBox_->setVisible(visible);
}

void CFileOutput::StartEncoding(const EncodeFileForm& form)
{
    form_ = form;
    ShowForm();
    TvsRequest request = RequestOf(form_);
    const TvsCheck check = CheckTvsRequest(request, [](const char* question) { return AskConfirm(question) == IDOK; });
    if (!check.go) {
        if (!check.refusal.empty())
            ShowMessage(check.refusal.c_str(), 1, 1);
        return;
    }
    form_.output = request.outputPath;
    output_->setText(QString::fromStdString(form_.output));
    if (const std::string refusal = encoding_.Start(request, check.durationSeconds); !refusal.empty()) {
        ShowMessage(refusal.c_str(), 1, 1);
        return;
    }
    progress_->setRange(0, std::max(0, check.durationSeconds - 1));
    progress_->setValue(0);
    progressText_->setText("0.00%");
    ShowProgress(true);
    startButton_->setEnabled(false);
    closeButton_->setText("Cancel");
}

void CFileOutput::UpdateProgress()
{
    if (!encoding_.Running())
        return;
    progress_->setValue(std::min(encoding_.PositionSeconds(), progress_->maximum()));
    progressText_->setText(QString::asprintf("%0.2f%%", encoding_.Percent()));
    if (!encoding_.Done())
        return;
    encoding_.Finish();
    progressText_->setText("Done");
    startButton_->setEnabled(true);
    closeButton_->setText("Close");
}

void CFileOutput::reject()
{
    encoding_.Finish();
    ShowProgress(false);
    QDialog::reject();
}
