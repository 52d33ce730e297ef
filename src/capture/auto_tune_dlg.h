#pragma once
// The "Auto Tuning..." dialog: runs the tuner scan on a worker thread and
// shows its progress, the channel being scanned and the last one found,
// until the worker reports the end with WM_APP + 9.

#include "capture/auto_tune.h"
#include "platform/thread.h"

#include <QDialog>

#include <functional>

class QLineEdit;
class QProgressBar;

class CAutoTuneDlg : public QDialog, private AutoTuneObserver {
    Q_OBJECT
public:
    // The scan from record baseIndex starts when the dialog is first shown;
    // the tuner must outlive the dialog.
    CAutoTuneDlg(QWidget* parent, int baseIndex, TvTuner& tuner);
    ~CAutoTuneDlg() override;

    // Cancel, Escape and the close box: while the scan runs they only ask it
    // to stop after the current channel; the end of the scan closes the
    // dialog. Without a worker the dialog closes at once.
    void reject() override;

protected:
    bool event(QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    int ScanOnWorker();
    void OnScanDone();
    // Queues work for the window thread; the worker never touches a widget.
    void PostToWindow(std::function<void()> work);

    void RangeKnown(TunerChannelRange range) override;
    void Scanning(int channel) override;
    void Found(int channel) override;
    void Scanned(int channel) override;

    AutoTuneScan scan_;
    WorkerThread worker_;
    bool workerStarted_ = false;
    QProgressBar* progress_;
    QLineEdit* lastFound_;
    QLineEdit* beingScanned_;
};

// Runs the dialog modally for the record and the tuner of the running graph;
// IDOK once the scan has ended.
int RunAutoTuneDialog(QWidget* parent, int baseIndex, TvTuner& tuner);
