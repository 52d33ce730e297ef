#pragma once
// "Scheduled Recordings" (the list) and "Schedule a Recording" (the editor),
// opened from the recording settings. What they show and what their buttons
// do are the plain functions below, which tests drive without a window.

#include "platform/clock.h"

#include <QDialog>

#include <string>
#include <vector>

class QDateEdit;
class QSpinBox;
class QTableWidget;
class QTimeEdit;

constexpr char kDeleteScheduleText[] =
    "This will delete the selected schedule and will stop the associated recording if it is active. Continue?";
constexpr char kClearSchedulesText[] =
    "This will delete all scheduled recordings and will stop any currently active one. Continue?";

struct ScheduleRow {
    std::string channel;
    std::string start;
    std::string end;
};

// The upcoming schedules, earliest start first, as the list shows them;
// the settings' row map is rewritten to match.
std::vector<ScheduleRow> ScheduleListRows();

// "Clear All": every listed schedule deleted, an active recording stopped.
void ClearAllSchedules();

// A picker pair's time: the date of one, the time of day of the other.
SystemTime CombineDateAndTime(const SystemTime& date, const SystemTime& time);

class CRecSchedulerDlg : public QDialog {
    Q_OBJECT
public:
    // Adds a schedule (row -1), or edits the one shown in row of the list.
    explicit CRecSchedulerDlg(int row, QWidget* parent = nullptr);
    // Stores the schedule and closes, or stays open after telling why not.
    void accept() override;

private:
    void Show(const SystemTime& start, const SystemTime& end, int channel);

    int row_;
    QDateEdit* startDate_;
    QTimeEdit* startTime_;
    QDateEdit* endDate_;
    QTimeEdit* endTime_;
    QSpinBox* channel_;
};

class CRecScheduleListDlg : public QDialog {
    Q_OBJECT
public:
    explicit CRecScheduleListDlg(QWidget* parent = nullptr);
    // Saves the settings and closes.
    void accept() override;

    // The rows on show.
    int RowCount() const;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void Fill();
    int SelectedRow() const;
    void OnAdd();
    void OnEdit();
    void OnDelete();
    void OnClearAll();

    QTableWidget* table_;
};
