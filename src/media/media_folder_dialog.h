#pragma once
// The "Streaming Media Folders" dialog of the Settings menu. What it stores
// lives in media/media_folders.h.

#include <QDialog>
#include <QString>

class QTableWidget;

class CMediaFolderDlg : public QDialog {
    Q_OBJECT
public:
    explicit CMediaFolderDlg(QWidget* parent = nullptr);
    // Saves the settings, then closes.
    void accept() override;

private:
    void OnAddFolder();
    void OnRemoveFolder();
    void OnRemoveAll();
    void FillList();

    QTableWidget* list_;
};

// Shows the dialog modally: IDOK or IDCANCEL.
int RunMediaFolderDialog(QWidget* parent);

// The folder browser's status line: the highlighted folder, cut to 35
// characters followed by "..." when longer.
QString FolderStatusText(const QString& path);
