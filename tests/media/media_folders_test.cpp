// The shared folders: the slots as the dialog edits them, and the
// Streaming Media Folders dialog driven on the offscreen platform.

#include "config/settings.h"
#include "media/media_folder_dialog.h"
#include "media/media_folders.h"
#include "platform/messages.h"
#include "platform/recording_sink.h"
#include "support/temp_config.h"

#include "support/test_application.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDeadlineTimer>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QListView>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>

#include <filesystem>

namespace fs = std::filesystem;

namespace {

class MediaFoldersTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetDefaultSettings();
        SetMessageSink(&sink);
    }
    void TearDown() override { SetMessageSink(nullptr); }

    TempConfig config;
    RecordingMessageSink sink;
};

TEST_F(MediaFoldersTest, SixtyFourFoldersAndNoMore)
{
    for (int i = 0; i < kMediaFolderSlots; ++i)
        ASSERT_EQ(0, AddMediaFolder("/videos/" + std::to_string(i)));
    EXPECT_TRUE(sink.Entries().empty());
    EXPECT_EQ(-1, AddMediaFolder("/videos/one too many"));
    ASSERT_EQ(1u, sink.Entries().size());
    EXPECT_EQ("error", sink.Entries()[0].kind);
    EXPECT_EQ("Maxiumum number of media folders reached. Please remove some folders from the list.",
              sink.Entries()[0].text);
    EXPECT_TRUE(sink.Entries()[0].blocking);
    EXPECT_EQ("/videos/63", AssignMediaFolderRows().back());

    // A path cut to the slot would share something else.
    gSettings.record.mediaFolders[10].used = 0;
    sink.Clear();
    EXPECT_EQ(-1, AddMediaFolder("/" + std::string(255, 'x')));
    EXPECT_TRUE(sink.Saw(kMediaFolderTooLongText));
    EXPECT_EQ(0, AddMediaFolder("/" + std::string(254, 'x')));
    EXPECT_EQ(std::string(254, 'x'), gSettings.record.mediaFolders[10].path + 1);
}

TEST_F(MediaFoldersTest, RowsFollowSlotsAndRemovalAsksFirst)
{
    for (const char* path : {"/a", "/b", "/c"})
        AddMediaFolder(path);
    gSettings.record.mediaFolders[0] = {};
    EXPECT_EQ((std::vector<std::string>{"/b", "/c"}), AssignMediaFolderRows());
    EXPECT_EQ(1, gSettings.record.mediaFolders[2].flag);

    sink.ScriptAnswers({false, true});
    EXPECT_EQ(-1, RemoveMediaFolderRow(1));
    EXPECT_EQ(0, RemoveMediaFolderRow(1));
    EXPECT_EQ(std::vector<std::string>(2, kRemoveMediaFolderText), sink.Texts());
    EXPECT_EQ(std::vector<std::string>{"/b"}, AssignMediaFolderRows());
    EXPECT_EQ(-1, RemoveMediaFolderRow(5));

    sink.Clear();
    sink.ScriptAnswers({false, true});
    EXPECT_EQ(-1, RemoveAllMediaFolders());
    EXPECT_EQ(std::vector<std::string>{"/b"}, AssignMediaFolderRows());
    EXPECT_EQ(0, RemoveAllMediaFolders());
    EXPECT_TRUE(AssignMediaFolderRows().empty());
    EXPECT_EQ(std::vector<std::string>(2, kRemoveAllMediaFoldersText), sink.Texts());
}

template <typename Widget>
Widget* VisibleWindow()
{
    for (QWidget* window : QApplication::topLevelWidgets())
        if (auto* found = qobject_cast<Widget*>(window); found && found->isVisible())
            return found;
    return nullptr;
}

// Moves the browser's cursor to an entry as a click would; the browser reads
// folders in the background, so the entry may take a moment to appear.
void HighlightEntry(QFileDialog* browser, const QString& name)
{
    auto* view = browser->findChild<QListView*>("listView");
    const QDeadlineTimer deadline(5000);
    while (!deadline.hasExpired()) {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        QAbstractItemModel* model = view->model();
        for (int row = 0; row < model->rowCount(view->rootIndex()); ++row) {
            const QModelIndex index = model->index(row, 0, view->rootIndex());
            if (index.data().toString() == name) {
                view->setCurrentIndex(index);
                return;
            }
        }
    }
}

QStringList Rows(QTableWidget* list)
{
    QStringList rows;
    for (int row = 0; row < list->rowCount(); ++row)
        rows << list->item(row, 0)->text();
    return rows;
}

TEST_F(MediaFoldersTest, DialogAddsRemovesAndSaves)
{
    Application();
    const std::string chosen = config.Root() + "/home/Videos";
    fs::create_directories(chosen);
    AddMediaFolder("/srv/shared");
    QString statusSeen;
    QTimer::singleShot(0, [&] {
        auto* dialog = VisibleWindow<CMediaFolderDlg>();
        ASSERT_NE(nullptr, dialog);
        EXPECT_EQ("Streaming Media Folders", dialog->windowTitle());
        auto* list = dialog->findChild<QTableWidget*>("folderList");
        EXPECT_EQ("Folder Path", list->horizontalHeaderItem(0)->text());
        EXPECT_EQ(QStringList{"/srv/shared"}, Rows(list));

        QTimer::singleShot(0, [&] {
            auto* browser = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            ASSERT_NE(nullptr, browser);
            EXPECT_EQ("Current Selection", browser->windowTitle());
            browser->setDirectory(QString::fromStdString(config.Root() + "/home"));
            HighlightEntry(browser, "Videos");
            statusSeen = browser->findChild<QLabel*>("folderStatus")->text();
            browser->setDirectory(QString::fromStdString(chosen));
            QMetaObject::invokeMethod(browser, "accept");
        });
        dialog->findChild<QPushButton*>("addFolder")->click();
        EXPECT_EQ((QStringList{"/srv/shared", QString::fromStdString(chosen)}), Rows(list));

        list->selectRow(0);
        sink.ScriptAnswers({true});
        dialog->findChild<QPushButton*>("removeFolder")->click();
        EXPECT_EQ(QStringList{QString::fromStdString(chosen)}, Rows(list));
        dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
    });
    EXPECT_EQ(IDOK, RunMediaFolderDialog(nullptr));
    EXPECT_EQ(FolderStatusText(QString::fromStdString(chosen)), statusSeen);

    SetDefaultSettings();
    ASSERT_EQ(0, LoadSettings());
    EXPECT_EQ(std::vector<std::string>{chosen}, AssignMediaFolderRows());
}

TEST_F(MediaFoldersTest, BrowserStatusLineIsCutAfter35Characters)
{
    EXPECT_EQ("/home/viewer/Videos", FolderStatusText("/home/viewer/Videos"));
    const QString exact(35, 'p');
    EXPECT_EQ(exact, FolderStatusText(exact));
    EXPECT_EQ(exact + "...", FolderStatusText(exact + "q"));
}

} // namespace
