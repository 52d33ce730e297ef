#pragma once
// "Encoder Settings" (File > Encode File...): a modeless window that turns a
// media file into a .tvs file. What its fields mean and what its buttons
// check are plain functions below, which tests drive without a window.

#include "media/media_info.h"
#include "server/tvs_encoding.h"

#include <QDialog>

#include <string>

class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QTextEdit;
class QWidget;

constexpr char kInputFileFilter[] =
    "Video Files (*.avi *.mpg *.mp4 *.m4v *.mov *.wmv *.ogm *.mkv *.3gp *.3g2 *.vob *.asf *.ts *.mts *.m2ts *.rm "
    "*.rmvb *.divx *.wtv);;Audio Files (*.mp3 *.mp2 *.wma *.ogg *.wav *.m4a *.aac *.amr *.3ga *.flac *.ape);;"
    "All Files (*.*)";
constexpr char kOutputFileFilter[] = "Tavisko File (*.tvs)";

struct TimeFields {
    int hours = 0;    // 0..99
    int minutes = 0;  // 0..59
    int seconds = 0;  // 0..59
    int Seconds() const { return hours * 3600 + minutes * 60 + seconds; }
};

struct EncodeFileForm {
    std::string input;
    std::string output;
    int resolution = 1;
    int bitRate = 1;
    TimeFields start;
    TimeFields end;  // the duration fields: the end position in the clip
};

// The information box for a file's description.
std::string MediaInformationText(const MediaInfoRecord& record);

// Choosing an input: on success the start goes to 0:00:00, the duration
// fields to the file's length, and information gets the description.
bool ChooseInput(EncodeFileForm& form, const std::string& path, std::string& information);

TvsRequest RequestOf(const EncodeFileForm& form);

class CFileOutput : public QDialog {
    Q_OBJECT
public:
    // Deletes itself when closed; closing finishes a running encoding.
    explicit CFileOutput(QWidget* parent = nullptr);
    ~CFileOutput() override;

    // On every refresh of the main view: the progress, and the end.
    void UpdateProgress();

    // "Start Encoding" with the form shown in the fields.
    void StartEncoding(const EncodeFileForm& form);
    const TvsEncoding& Encoding() const { return encoding_; }

protected:
    void reject() override;

private:
    QWidget* MakeFilesBox();
    QWidget* MakeQualityBox();
    QWidget* MakeTimingBox();
    QWidget* MakeProgressBox();
    void BrowseInput();
    void BrowseOutput();
    void ReadControls();
    void ShowForm();
    void ShowProgress(bool visible);

    EncodeFileForm form_;
    TvsEncoding encoding_;
    QLineEdit* input_;
    QLineEdit* output_;
    QRadioButton* resolutions_[3];
    QRadioButton* bitRates_[3];
    QSpinBox* start_[3];
    QSpinBox* end_[3];
    QTextEdit* information_;
    QWidget* progressBox_;
    QProgressBar* progress_;
    QLabel* progressText_;
    QPushButton* startButton_;
    QPushButton* closeButton_;
};
