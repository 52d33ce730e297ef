#include "config/settings.h"
#include "platform/recording_sink.h"
#include "record/recording_setup_dlg.h"
#include "support/temp_config.h"
#include "ui_support.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>

#include <gtest/gtest.h>

#include <memory>

namespace {

class RecordingSetupDlgTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Application();
        SetDefaultSettings();
        SetMessageSink(&sink);
        SettingsRecord& record = gSettings.record;
        record.recordingTimeLimit = 3600 + 2 * 60 + 5;
        record.recordingProfile.videoBitRate = 200000;
        record.recordingSizeIndex = 2;
        dialog = std::make_unique<CRecordingSetupDlg>();
    }
    void TearDown() override
    {
        dialog.reset();
        SetMessageSink(nullptr);
    }

    template <typename T>
    T* Find(const char* name)
    {
        T* widget = dialog->findChild<T*>(name);
        EXPECT_NE(nullptr, widget) << name;
        return widget;
    }

    TempConfig config;
    RecordingMessageSink sink;
    std::unique_ptr<CRecordingSetupDlg> dialog;
};

TEST_F(RecordingSetupDlgTest, OpensWithTheStoredSettings)
{
    EXPECT_EQ(1, Find<QSpinBox>("hours")->value());
    EXPECT_EQ(2, Find<QSpinBox>("minutes")->value());
    EXPECT_EQ(5, Find<QSpinBox>("seconds")->value());
    EXPECT_FALSE(Find<QSpinBox>("hours")->isEnabled()) << "the time limit is off";
    EXPECT_TRUE(Find<QRadioButton>("quality2")->isChecked()) << "Medium";
    EXPECT_EQ("352x288", Find<QComboBox>("pictureSize")->currentText());
    EXPECT_TRUE(Find<QPushButton>("scheduleRecording")->isEnabled());
}

TEST_F(RecordingSetupDlgTest, SpinsWrapAndOkStoresTheChoices)
{
    Find<QCheckBox>("limitTime")->setChecked(true);
    EXPECT_EQ(1, gSettings.record.limitRecordingTime) << "written at once";
    QSpinBox* hours = Find<QSpinBox>("hours");
    EXPECT_TRUE(hours->isEnabled());
    hours->setValue(23);
    hours->stepBy(1);
    EXPECT_EQ(0, hours->value());
    hours->stepBy(-1);
    EXPECT_EQ(23, hours->value());
    QSpinBox* seconds = Find<QSpinBox>("seconds");
    seconds->setValue(0);
    seconds->stepBy(-1);
    EXPECT_EQ(59, seconds->value());
    Find<QRadioButton>("quality3")->setChecked(true);
    Find<QCheckBox>("recordOnMotion")->setChecked(true);
    Find<QComboBox>("pictureSize")->setCurrentIndex(4);
    Find<QLineEdit>("recordingFolder")->setText(QString::fromStdString(config.Root()));
    dialog->accept();

    const SettingsRecord& record = gSettings.record;
    EXPECT_EQ(QDialog::Accepted, dialog->result());
    EXPECT_EQ(23 * 3600 + 2 * 60 + 59, record.recordingTimeLimit);
    EXPECT_EQ(48000, record.recordingProfile.videoBitRate);
    EXPECT_EQ(10, record.recordingProfile.frameRate);
    EXPECT_EQ(1, record.recordOnMotion);
    EXPECT_EQ(4, record.recordingSizeIndex);
    EXPECT_EQ(config.Root(), record.recordingFolder);
}

TEST_F(RecordingSetupDlgTest, ATooLongFolderKeepsTheDialogOpen)
{
    Find<QLineEdit>("recordingFolder")->setText(QString(300, 'x'));
    dialog->setResult(QDialog::Rejected);
    dialog->accept();
    EXPECT_EQ(QDialog::Rejected, dialog->result());
    EXPECT_TRUE(sink.Saw("Path to the recording output file is too long."));
}

} // namespace
