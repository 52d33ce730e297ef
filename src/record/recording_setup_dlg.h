#pragma once
// "Recording Settings" of the Settings menu: folder, limits, quality, picture
// size and recording on motion. What OK stores lives in recording_setup.h.

#include "record/recording_setup.h"

#include <QDialog>

class QAbstractButton;
class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QSpinBox;

class CRecordingSetupDlg : public QDialog {
    Q_OBJECT
public:
    explicit CRecordingSetupDlg(QWidget* parent = nullptr);
    // Stores the settings and closes, or stays open after telling why not.
    void accept() override;

private:
    QLayout* CreateFolderRow();
    QLayout* CreateTimeRow();
    QLayout* CreateSizeRow();
    QLayout* CreateQualityBox();
    void OnBrowse();
    void OnLimitTime(bool on);
    void OnLimitSize(bool on);
    void Show(const RecordingSetup& setup);
    RecordingSetup Collected() const;

    QLineEdit* folder_;
    QCheckBox* limitTime_;
    QSpinBox* hours_;
    QSpinBox* minutes_;
    QSpinBox* seconds_;
    QCheckBox* limitSize_;
    QSpinBox* sizeLimit_;
    QButtonGroup* quality_;
    QCheckBox* recordOnMotion_;
    QComboBox* pictureSize_;
};

// Shows the dialog modally: IDOK or IDCANCEL.
int RunRecordingSetupDialog(QWidget* parent);
