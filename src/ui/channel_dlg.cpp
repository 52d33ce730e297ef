#include "ui/channel_dlg.h"

#include "capture/auto_tune.h"
#include "capture/channel_setup_dlg.h"
#include "capture/devices.h"
#include "config/settings.h"
#include "platform/messages.h"
#include "ui/channel_lineup.h"
#include "ui/list_ctrl_ex.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

QStringList NameList(const std::vector<std::string>& names)
{
    QStringList list;
    for (const std::string& name : names)
        list << QString::fromStdString(name);
    return list;
}

QString EntryName(const std::vector<std::string>& names, int deviceIndex)
{
    return QString::fromStdString(DeviceName(names, deviceIndex));
}

QString DescriptionText(const ChannelRecord& channel)
{
    return QString::fromUtf8(channel.description, qstrnlen(channel.description, sizeof channel.description));
}

} // namespace

CChannelDlg::CChannelDlg(Tuner& tuner, QWidget* parent) : QDialog(parent), list_(new CListCtrlEx(this)), tuner_(tuner)
{
    setWindowTitle("Channel Lineup");
    list_->setObjectName("lineup");
    list_->InsertColumn("Enable", Qt::AlignCenter);
    list_->InsertColumn("Channel", Qt::AlignCenter);
    list_->InsertColumn("Video Device", Qt::AlignCenter);
    list_->InsertColumn("Audio Device", Qt::AlignCenter);
    list_->InsertColumn("Description", Qt::AlignLeft);
    FillRows();

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(list_);
    AddButtons();
    resize(660, 440);

    connect(list_, &CListCtrlEx::cellPressed, this, &CChannelDlg::OnListPressed);
    connect(list_, &CListCtrlEx::comboSelected, this, &CChannelDlg::OnDeviceChosen);
    // Queued, so that the check mark may be taken back once its own change
    // has run its course.
    connect(
        list_, &CListCtrlEx::itemStateChanged, this, [this](int row, int) { OnItemStateChanged(row); },
        Qt::QueuedConnection);
}

void CChannelDlg::AddButtons()
{
    captureOptions_ = new QPushButton("Capture Options...", this);
    captureOptions_->setObjectName("captureOptions");
    captureOptions_->setEnabled(false);
    auto* deleteChannel = new QPushButton("Delete Channel", this);
    deleteChannel->setObjectName("deleteChannel");
    auto* clearList = new QPushButton("Clear List", this);
    clearList->setObjectName("clearList");
    auto* ok = new QPushButton("OK", this);
    ok->setObjectName("ok");
    ok->setDefault(true);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(captureOptions_);
    buttons->addWidget(deleteChannel);
    buttons->addWidget(clearList);
    buttons->addStretch();
    buttons->addWidget(ok);
    static_cast<QVBoxLayout*>(layout())->addLayout(buttons);

    connect(captureOptions_, &QPushButton::clicked, this, &CChannelDlg::OnCaptureOptions);
    connect(deleteChannel, &QPushButton::clicked, this, &CChannelDlg::OnDeleteChannel);
    connect(clearList, &QPushButton::clicked, this, &CChannelDlg::OnClearList);
    connect(ok, &QPushButton::clicked, this, &CChannelDlg::accept);
}

void CChannelDlg::FillRows()
{
    list_->setRowCount(kChannelCount);
    list_->SetEditableCell(-1, kColumnDescription);
    FillDeviceChoices();
    for (int row = 0; row < kChannelCount; ++row) {
        const ChannelRecord& channel = gSettings.channels[row];
        list_->SetChecked(row, channel.enabled != 0);
        list_->SetCellText(row, kColumnChannel, QString::number(row));
        ShowDevices(row, EntryName(gDeviceNames.video, channel.videoDevice),
                    EntryName(gDeviceNames.audio, channel.audioDevice));
        list_->SetCellText(row, kColumnDescription, DescriptionText(channel));
    }
}

// Every row's device choices: the capture options may have added or removed
// a network source.
void CChannelDlg::FillDeviceChoices()
{
    const QStringList videoNames = NameList(gDeviceNames.video);
    const QStringList audioNames = NameList(gDeviceNames.audio);
    for (int row = 0; row < kChannelCount; ++row) {
        list_->SetComboCell(row, kColumnVideo, videoNames);
        list_->SetComboCell(row, kColumnAudio, audioNames);
    }
}

void CChannelDlg::ShowDevices(int row, const QString& video, const QString& audio)
{
    list_->SetCellText(row, kColumnVideo, video);
    list_->SetCellText(row, kColumnAudio, audio);
}

void CChannelDlg::OnListPressed(int row, int column)
{
    clickedRow_ = row;
    clickedColumn_ = column;
    captureOptions_->setEnabled(RowHasDevice(list_->CellText(row, kColumnVideo).toStdString(),
                                             list_->CellText(row, kColumnAudio).toStdString()));
}

void CChannelDlg::OnDeviceChosen(int row, int column, int entry)
{
    if (column != kColumnVideo && column != kColumnAudio)
        return;
    ChannelRecord& channel = gSettings.channels[row];
    channel.editSelection = ChooseDevice(channel.editSelection, column, entry);
    captureOptions_->setEnabled(entry > 0);
}

void CChannelDlg::OnItemStateChanged(int row)
{
    if (RefuseCheckedRow(list_->IsChecked(row), list_->CellText(row, kColumnVideo).toStdString(),
                         list_->CellText(row, kColumnAudio).toStdString()))
        list_->SetChecked(row, false);
}

void CChannelDlg::OnCaptureOptions()
{
    if (CaptureOptionsGuard() != 0)
        return;
    RunChannelSetupDialog(this, clickedRow_, tuner_);
    FillDeviceChoices();
    ShowAutoTunedRows(clickedRow_, TakeAutoTuneFoundCount());
}

// The records a tuner scan wrote from the clicked row on: the pending device
// choice they were given, their new description, and checked.
void CChannelDlg::ShowAutoTunedRows(int first, int count)
{
    for (int row = std::max(first, 0); row < first + count && row < kChannelCount; ++row) {
        const ChannelRecord& channel = gSettings.channels[row];
        ShowDevices(row, EntryName(gDeviceNames.video, (channel.editSelection >> 8) & 0xFF),
                    EntryName(gDeviceNames.audio, channel.editSelection & 0xFF));
        list_->SetCellText(row, kColumnChannel, QString::number(row));
        list_->SetCellText(row, kColumnDescription, DescriptionText(channel));
        list_->SetChecked(row, true);
    }
}

void CChannelDlg::OnClearList()
{
    if (AskConfirm("This will clear the channel lineup. Continue?") == IDCANCEL)
        return;
    for (int row = 0; row < kChannelCount; ++row)
        ClearRow(row);
    ClearAllChannelRecords();
}

void CChannelDlg::OnDeleteChannel()
{
    const int first = list_->SelectionMark();
    if (first < 0 || AskConfirm("Would you like to delete the selected channel?") == IDCANCEL)
        return;
    DeleteChannelRecord(first);
    for (int row = first; row < kChannelCount - 1; ++row)
        CopyRow(row + 1, row);
    ClearRow(kChannelCount - 1);
}

void CChannelDlg::ClearRow(int row)
{
    ShowDevices(row, kNoDeviceName, kNoDeviceName);
    list_->SetCellText(row, kColumnDescription, QString());
    list_->SetChecked(row, false);
}

// The check mark comes last: it is judged by the devices of its own row.
void CChannelDlg::CopyRow(int from, int to)
{
    ShowDevices(to, list_->CellText(from, kColumnVideo), list_->CellText(from, kColumnAudio));
    list_->SetCellText(to, kColumnDescription, list_->CellText(from, kColumnDescription));
    list_->SetChecked(to, list_->IsChecked(from));
}

void CChannelDlg::accept()
{
    // Enter in a description box accepts the dialog: its text counts too.
    list_->EndEdit();
    std::vector<LineupRow> rows(kChannelCount);
    for (int row = 0; row < kChannelCount; ++row)
        rows[row] = {list_->IsChecked(row), list_->CellText(row, kColumnDescription).toStdString()};
    StoreLineup(rows);
    QDialog::accept();
}

void CChannelDlg::resizeEvent(QResizeEvent* event)
{
    QDialog::resizeEvent(event);
    LayOutColumns();
}

// Fixed shares of the list's width; the description takes the rest, but
// never less than the width the settings ask for.
void CChannelDlg::LayOutColumns()
{
    const int width = list_->width() - 2;
    const int shares[] = {10, 10, 24, 24};
    int used = 0;
    for (int column = 0; column < 4; ++column) {
        const int share = width * shares[column] / 112;
        list_->setColumnWidth(column, share);
        used += share;
    }
    list_->setColumnWidth(kColumnDescription, std::max(width - used, int(gSettings.record.descriptionMinWidth)));
}

int RunChannelLineupDialog(QWidget* parent, Tuner& tuner)
{
    CChannelDlg dialog(tuner, parent);
    return dialog.exec() == QDialog::Accepted ? IDOK : IDCANCEL;
}
