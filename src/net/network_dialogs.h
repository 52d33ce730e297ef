#pragma once
// The network settings dialogs of the Settings menu. What they validate and
// store lives in net/network_settings.h.

#include <QDialog>

class QLineEdit;

class CNetworkSetupDlg : public QDialog {
    Q_OBJECT
public:
    explicit CNetworkSetupDlg(QWidget* parent = nullptr);
    void accept() override;

private:
    QLineEdit* basePort_;
    QLineEdit* controlPort_;
};

class CAdvNetworkSetupDlg : public QDialog {
    Q_OBJECT
public:
    explicit CAdvNetworkSetupDlg(QWidget* parent = nullptr);
    void accept() override;

private:
    QLineEdit* nicAddress_;
};

// Shows the network settings modally: IDOK or IDCANCEL.
int RunNetworkSetupDialog(QWidget* parent);
