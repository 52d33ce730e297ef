#include "record/schedule_dialogs.h"

#include "config/settings.h"
#include "platform/messages.h"
#include "record/schedule_slots.h"

#include <QDateEdit>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QTimeEdit>
#include <QVBoxLayout>

namespace {

constexpr int kMaxChannel = kChannelCount - 1;
// The columns' shares of the list's width.
constexpr int kWidthShares[3] = {10, 24, 24};
constexpr int kAllShares = 58;

QDate DateOf(const SystemTime& time)
{
    return QDate(time.year, time.month, time.day);
}

QTime TimeOf(const SystemTime& time)
{
    return QTime(time.hour, time.minute, time.second, time.milliseconds);
}

SystemTime FromQt(const QDate& date, const QTime& time)
{
    SystemTime value{};
    value.year = static_cast<uint16_t>(date.year());
    value.month = static_cast<uint16_t>(date.month());
    value.day = static_cast<uint16_t>(date.day());
    value.dayOfWeek = static_cast<uint16_t>(date.dayOfWeek() % 7);
    value.hour = static_cast<uint16_t>(time.hour());
    value.minute = static_cast<uint16_t>(time.minute());
    value.second = static_cast<uint16_t>(time.second());
    value.milliseconds = static_cast<uint16_t>(time.msec());
    return value;
}

// A schedule's slot as the last list mapped its row.
const ScheduleSlot* SlotOfRow(int row)
{
    if (row < 0 || row >= kScheduleSlots)
        return nullptr;
    const int slot = gSettings.record.scheduleRowToSlot[row];
    return slot >= 0 && slot < kScheduleSlots ? &gSettings.record.schedules[slot] : nullptr;
}

} // namespace

std::vector<ScheduleRow> ScheduleListRows()
{
    std::vector<ScheduleRow> rows;
    const int count = MapUpcomingSchedules();
    for (int row = 0; row < count; ++row) {
        const ScheduleSlot& slot = *SlotOfRow(row);
        rows.push_back({std::to_string(slot.channel), ScheduleTimeText(slot.start), ScheduleTimeText(slot.end)});
    }
    return rows;
}

void ClearAllSchedules()
{
    for (int row = 0; row < kScheduleSlots; ++row)
        DeleteScheduleRow(row);
}

SystemTime CombineDateAndTime(const SystemTime& date, const SystemTime& time)
{
    SystemTime combined = date;
    combined.hour = time.hour;
    combined.minute = time.minute;
    combined.second = time.second;
    combined.milliseconds = time.milliseconds;
    return combined;
}

CRecSchedulerDlg::CRecSchedulerDlg(int row, QWidget* parent) : QDialog(parent), row_(row)
{
    setWindowTitle("Schedule a Recording");
    auto* form = new QFormLayout(this);
    startDate_ = new QDateEdit;
    startTime_ = new QTimeEdit;
    endDate_ = new QDateEdit;
    endTime_ = new QTimeEdit;
    for (QTimeEdit* time : {startTime_, endTime_})
        time->setDisplayFormat("HH:mm:ss");
    for (QDateEdit* date : {startDate_, endDate_})
        date->setCalendarPopup(true);
    channel_ = new QSpinBox;
    // It wraps: up from 999 is 0, down from 0 is 999.
    channel_->setRange(0, kMaxChannel);
    channel_->setWrapping(true);
    auto* startRow = new QHBoxLayout;
    startRow->addWidget(startDate_);
    startRow->addWidget(startTime_);
    auto* endRow = new QHBoxLayout;
    endRow->addWidget(endDate_);
    endRow->addWidget(endTime_);
    form->addRow("Start time:", startRow);
    form->addRow("End time:", endRow);
    form->addRow("Channel:", channel_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    form->addRow(buttons);
    const ScheduleSlot* slot = row_ >= 0 ? SlotOfRow(row_) : nullptr;
    if (slot)
        Show(slot->start, slot->end, slot->channel);
    else
        Show(GetLocalTime(), GetLocalTime(), 0);
}

void CRecSchedulerDlg::Show(const SystemTime& start, const SystemTime& end, int channel)
{
    startDate_->setDate(DateOf(start));
    startTime_->setTime(TimeOf(start));
    endDate_->setDate(DateOf(end));
    endTime_->setTime(TimeOf(end));
    channel_->setValue(channel);
}

void CRecSchedulerDlg::accept()
{
    const SystemTime start = CombineDateAndTime(FromQt(startDate_->date(), {}), FromQt({}, startTime_->time()));
    const SystemTime end = CombineDateAndTime(FromQt(endDate_->date(), {}), FromQt({}, endTime_->time()));
    const bool editing = row_ >= 0;
    if (ValidateAndStoreSchedule(channel_->value(), row_, start, end, editing ? 1 : 0, 1) == kScheduleStored)
        QDialog::accept();
}

CRecScheduleListDlg::CRecScheduleListDlg(QWidget* parent) : QDialog(parent)
{
    setWindowTitle("Scheduled Recordings");
    auto* layout = new QVBoxLayout(this);
    table_ = new QTableWidget(0, 3);
    table_->setHorizontalHeaderLabels({"Channel", "Start Time", "End Time"});
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::SingleSelection);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setShowGrid(true);
    table_->verticalHeader()->hide();
    layout->addWidget(table_);
    auto* buttons = new QHBoxLayout;
    const std::pair<const char*, void (CRecScheduleListDlg::*)()> actions[] = {
        {"Add Schedule...", &CRecScheduleListDlg::OnAdd},
        {"Delete Schedule", &CRecScheduleListDlg::OnDelete},
        {"Edit Schedule", &CRecScheduleListDlg::OnEdit},
        {"Clear All", &CRecScheduleListDlg::OnClearAll}};
    for (const auto& [text, action] : actions) {
        auto* button = new QPushButton(text);
        connect(button, &QPushButton::clicked, this, action);
        buttons->addWidget(button);
    }
    auto* ok = new QPushButton("OK");
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    buttons->addWidget(ok);
    layout->addLayout(buttons);
    resize(640, 320);
    Fill();
}

void CRecScheduleListDlg::Fill()
{
    const std::vector<ScheduleRow> rows = ScheduleListRows();
    table_->setRowCount(static_cast<int>(rows.size()));
    for (int row = 0; row < static_cast<int>(rows.size()); ++row) {
        const ScheduleRow& entry = rows[static_cast<size_t>(row)];
        int column = 0;
        for (const std::string* text : {&entry.channel, &entry.start, &entry.end}) {
            auto* item = new QTableWidgetItem(QString::fromStdString(*text));
            item->setToolTip(item->text());
            table_->setItem(row, column++, item);
        }
    }
}

void CRecScheduleListDlg::resizeEvent(QResizeEvent* event)
{
    QDialog::resizeEvent(event);
    const int width = table_->viewport()->width() - 2;
    for (int column = 0; column < 3; ++column)
        table_->setColumnWidth(column, width * kWidthShares[column] / kAllShares);
}

int CRecScheduleListDlg::RowCount() const
{
    return table_->rowCount();
}

int CRecScheduleListDlg::SelectedRow() const
{
    const int row = table_->currentRow();
    return row >= 0 && row < table_->rowCount() ? row : -1;
}

void CRecScheduleListDlg::OnAdd()
{
    CRecSchedulerDlg(-1, this).exec();
    Fill();
}

void CRecScheduleListDlg::OnEdit()
{
    if (const int row = SelectedRow(); row >= 0)
        CRecSchedulerDlg(row, this).exec();
    Fill();
}

void CRecScheduleListDlg::OnDelete()
{
    if (AskConfirm(kDeleteScheduleText) == IDOK && SelectedRow() >= 0)
        DeleteScheduleRow(SelectedRow());
    Fill();
}

void CRecScheduleListDlg::OnClearAll()
{
    if (AskConfirm(kClearSchedulesText) == IDOK)
        ClearAllSchedules();
    Fill();
}

void CRecScheduleListDlg::accept()
{
    SaveSettings();
    QDialog::accept();
}
