#pragma once
// "Statistics" of the View menu: a modeless window showing the stream buffers
// and the stream being sent. It has no timer; the view refreshes it whenever
// a worker reports progress.

#include "server/statistics.h"

#include <QDialog>

class QLineEdit;

class CStatsDlg : public QDialog {
    Q_OBJECT
public:
    // Deletes itself when closed.
    explicit CStatsDlg(QWidget* parent = nullptr);

    // Reads the counters now and shows them.
    void Refresh();
    // Shows the counters given, as a refresh would.
    void Refresh(const StatsCounters& counters);

    const StatsValues& Shown() const { return shown_; }

private:
    QLineEdit* AddField(class QFormLayout* form, const char* name, const QString& label);
    void Transfer();

    StatsValues shown_;
    QLineEdit* videoFullness_;
    QLineEdit* videoPercent_;
    QLineEdit* audioFullness_;
    QLineEdit* audioPercent_;
    QLineEdit* videoSent_;
    QLineEdit* audioSent_;
    QLineEdit* frameRate_;
    QLineEdit* videoTimestamp_;
    QLineEdit* audioTimestamp_;
    QLineEdit* frameCount_;
    QLineEdit* videoBitrate_;
    QLineEdit* audioBitrate_;
    QLineEdit* streamBitrate_;
};
