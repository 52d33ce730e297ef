#include "media/media_folder_dialog.h"

#include "config/settings.h"
#include "media/media_folders.h"
#include "platform/messages.h"

#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {

constexpr int kStatusLength = 35;

QPushButton* AddButton(QWidget* parent, QLayout* layout, const char* text, const char* name)
{
    auto* button = new QPushButton(text, parent);
    button->setObjectName(name);
    layout->addWidget(button);
    return button;
}

// Qt's own folder browser, so that it can carry the status line and be
// driven without a desktop. Empty when cancelled.
QString ChooseFolder(QWidget* parent)
{
    QFileDialog browser(parent, "Current Selection");
    browser.setFileMode(QFileDialog::Directory);
    browser.setOptions(QFileDialog::ShowDirsOnly | QFileDialog::DontUseNativeDialog);
    auto* status = new QLabel(&browser);
    status->setObjectName("folderStatus");
    if (auto* grid = qobject_cast<QGridLayout*>(browser.layout()))
        grid->addWidget(status, grid->rowCount(), 0, 1, -1);
    QObject::connect(&browser, &QFileDialog::currentChanged, status,
                     [status](const QString& path) { status->setText(FolderStatusText(path)); });
    if (browser.exec() != QDialog::Accepted || browser.selectedFiles().isEmpty())
        return QString();
    return browser.selectedFiles().first();
}

} // namespace

QString FolderStatusText(const QString& path)
{
    return path.size() > kStatusLength ? path.left(kStatusLength) + "..." : path;
}

CMediaFolderDlg::CMediaFolderDlg(QWidget* parent) : QDialog(parent), list_(new QTableWidget(0, 1, this))
{
    setWindowTitle("Streaming Media Folders");
    list_->setObjectName("folderList");
    list_->setHorizontalHeaderLabels({"Folder Path"});
    list_->horizontalHeader()->setStretchLastSection(true);
    list_->verticalHeader()->hide();
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list_->setShowGrid(true);

    auto* buttons = new QHBoxLayout;
    QPushButton* add = AddButton(this, buttons, "Add Folder...", "addFolder");
    QPushButton* remove = AddButton(this, buttons, "Remove Folder", "removeFolder");
    QPushButton* removeAll = AddButton(this, buttons, "Remove All", "removeAll");
    auto* ok = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(list_);
    layout->addLayout(buttons);
    layout->addWidget(ok);

    connect(add, &QPushButton::clicked, this, &CMediaFolderDlg::OnAddFolder);
    connect(remove, &QPushButton::clicked, this, &CMediaFolderDlg::OnRemoveFolder);
    connect(removeAll, &QPushButton::clicked, this, &CMediaFolderDlg::OnRemoveAll);
    connect(ok, &QDialogButtonBox::accepted, this, &QDialog::accept);
    FillList();
}

void CMediaFolderDlg::accept()
{
    SaveSettings();
    QDialog::accept();
}

void CMediaFolderDlg::FillList()
{
    const std::vector<std::string> paths = AssignMediaFolderRows();
    list_->setRowCount(static_cast<int>(paths.size()));
    for (int row = 0; row < list_->rowCount(); ++row) {
        const QString path = QFile::decodeName(QByteArray::fromStdString(paths[static_cast<size_t>(row)]));
        auto* item = new QTableWidgetItem(path);
        item->setToolTip(path);
        list_->setItem(row, 0, item);
    }
}

void CMediaFolderDlg::OnAddFolder()
{
    const QString folder = ChooseFolder(this);
    if (folder.isEmpty())
        return;
    if (AddMediaFolder(QFile::encodeName(folder).toStdString()) == 0)
        FillList();
}

void CMediaFolderDlg::OnRemoveFolder()
{
    const QModelIndexList selected = list_->selectionModel()->selectedRows();
    if (!selected.isEmpty() && RemoveMediaFolderRow(selected.first().row()) == 0)
        FillList();
}

void CMediaFolderDlg::OnRemoveAll()
{
    if (RemoveAllMediaFolders() == 0)
        FillList();
}

int RunMediaFolderDialog(QWidget* parent)
{
    CMediaFolderDlg dialog(parent);
    return dialog.exec() == QDialog::Accepted ? IDOK : IDCANCEL;
}
