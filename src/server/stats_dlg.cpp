#include "server/stats_dlg.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLineEdit>
#include <QVBoxLayout>

CStatsDlg::CStatsDlg(QWidget* parent) : QDialog(parent)
{
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle("Statistics");
    setModal(false);

    auto* buffersBox = new QGroupBox("Buffers", this);
    auto* buffers = new QFormLayout(buffersBox);
    videoFullness_ = AddField(buffers, "videoFullness", "Video buffer fullness (bytes):");
    videoPercent_ = AddField(buffers, "videoPercent", "Video buffer fullness (%):");
    audioFullness_ = AddField(buffers, "audioFullness", "Audio buffer fullness (bytes):");
    audioPercent_ = AddField(buffers, "audioPercent", "Audio buffer fullness (%):");

    auto* streamBox = new QGroupBox("Stream", this);
    auto* stream = new QFormLayout(streamBox);
    videoSent_ = AddField(stream, "videoSent", "Total video bytes sent:");
    audioSent_ = AddField(stream, "audioSent", "Total audio bytes sent:");
    frameRate_ = AddField(stream, "frameRate", "Stream frame rate:");
    videoTimestamp_ = AddField(stream, "videoTimestamp", "Video timestamp:");
    audioTimestamp_ = AddField(stream, "audioTimestamp", "Audio timestamp:");
    frameCount_ = AddField(stream, "frameCount", "Stream frame count:");
    videoBitrate_ = AddField(stream, "videoBitrate", "Video bitrate (kbps):");
    audioBitrate_ = AddField(stream, "audioBitrate", "Audio bitrate (kbps):");
    streamBitrate_ = AddField(stream, "streamBitrate", "Stream bitrate (kbps):");

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(buffersBox);
    layout->addWidget(streamBox);
    layout->addWidget(buttons);

    Refresh();
}

QLineEdit* CStatsDlg::AddField(QFormLayout* form, const char* name, const QString& label)
{
    auto* field = new QLineEdit(form->parentWidget());
    field->setObjectName(name);
    field->setReadOnly(true);
    field->setAlignment(Qt::AlignRight);
    form->addRow(label, field);
    return field;
}

void CStatsDlg::Refresh()
{
    Refresh(ReadStatsCounters());
}

void CStatsDlg::Refresh(const StatsCounters& counters)
{
    shown_ = ComputeStats(counters, shown_, StatisticsRateMemory());
    Transfer();
}

void CStatsDlg::Transfer()
{
    videoFullness_->setText(QString::number(shown_.videoFullness));
    videoPercent_->setText(QString::number(shown_.videoPercent));
    audioFullness_->setText(QString::number(shown_.audioFullness));
    audioPercent_->setText(QString::number(shown_.audioPercent));
    videoSent_->setText(QString::number(shown_.videoSent));
    audioSent_->setText(QString::number(shown_.audioSent));
    frameRate_->setText(QString::number(shown_.frameRate));
    videoTimestamp_->setText(QString::number(shown_.videoTimestamp));
    audioTimestamp_->setText(QString::number(shown_.audioTimestamp));
    frameCount_->setText(QString::number(shown_.frameCount));
    videoBitrate_->setText(QString::number(shown_.videoKbps));
    audioBitrate_->setText(QString::number(shown_.audioKbps));
    streamBitrate_->setText(QString::number(shown_.streamKbps));
}
