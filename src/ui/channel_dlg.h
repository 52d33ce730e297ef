#pragma once
// The channel lineup: which of the 1,000 channels are on, which capture
// devices each one uses and what it is called.

#include <QDialog>

class Tuner;

class CListCtrlEx;
class QPushButton;

class CChannelDlg : public QDialog {
    Q_OBJECT
public:
    // Its channels' capture options scan on tuner.
    explicit CChannelDlg(Tuner& tuner, QWidget* parent = nullptr);

    // OK: stores the lineup, saves the settings and closes.
    void accept() override;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void AddButtons();
    void FillRows();
    void FillDeviceChoices();
    void ShowDevices(int row, const QString& video, const QString& audio);
    void OnListPressed(int row, int column);
    void OnDeviceChosen(int row, int column, int entry);
    void OnItemStateChanged(int row);
    void OnCaptureOptions();
    void ShowAutoTunedRows(int first, int count);
    void OnClearList();
    void OnDeleteChannel();
    void ClearRow(int row);
    void CopyRow(int from, int to);
    void LayOutColumns();

    CListCtrlEx* list_;
    Tuner& tuner_;
    QPushButton* captureOptions_ = nullptr;
    int clickedRow_ = -1;
    int clickedColumn_ = -1;
};

// Shows the lineup modally: IDOK or IDCANCEL.
int RunChannelLineupDialog(QWidget* parent, Tuner& tuner);
