#pragma once
// What the window thread shows once an update check has ended: the
// new-version dialog ("Info") and the check's boxes.

#include "net/update_check.h"

#include <QDialog>

class QCheckBox;

class CUpgradeDlg : public QDialog {
    Q_OBJECT
public:
    explicit CUpgradeDlg(QWidget* parent = nullptr);

    // Yes opens the download page; both buttons keep "Do not ask again".
    void OnYes();
    void OnNo();

private:
    void StoreDoNotAsk();

    QCheckBox* doNotAsk_;
};

// Tells the user what the check found: boxes and the dialog with a window,
// the log alone without one.
void ShowUpdateNotice(UpdateNotice notice, QWidget* parent, bool withWindow);
