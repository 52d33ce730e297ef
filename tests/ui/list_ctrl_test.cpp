#include "ui/list_ctrl_ex.h"
#include "ui_support.h"

#include <QComboBox>
#include <QHelpEvent>
#include <QLineEdit>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QToolTip>

#include <gtest/gtest.h>

namespace {

class ListCtrlTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const char* heading : {"Enable", "Device", "Name"})
            list.InsertColumn(heading, Qt::AlignLeft);
        list.setRowCount(40);
        for (int row = 0; row < 40; ++row) {
            list.SetChecked(row, false);
            list.SetCellText(row, 1, "Cam A");
            list.SetCellText(row, 2, QString("Channel %1").arg(row));
        }
        list.resize(400, 300);
        list.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&list));
        list.activateWindow();
    }

    QPoint CellCentre(int row, int column) { return list.visualRect(list.model()->index(row, column)).center(); }

    void Press(int row, int column, Qt::MouseButton button = Qt::LeftButton)
    {
        QTest::mouseClick(list.viewport(), button, {}, CellCentre(row, column));
        Application().processEvents();
    }

    template <typename Editor>
    Editor* OpenEditor()
    {
        return VisibleChild<Editor>(list.viewport());
    }

    QApplication& application = Application();
    CListCtrlEx list;
};

TEST_F(ListCtrlTest, DropDownCellsOfferTheirEntriesAndKeepAStrangerText)
{
    list.SetComboCell(3, 1, {"None", "Cam A", "Cam B"});
    list.SetComboCell(4, 1, {"None", "Cam A", "Cam B"});
    list.SetCellText(4, 1, "Old Cam");
    QSignalSpy picks(&list, &CListCtrlEx::comboSelected);

    Press(4, 1);
    QComboBox* combo = OpenEditor<QComboBox>();
    ASSERT_NE(combo, nullptr);
    EXPECT_EQ(combo->count(), 4);
    EXPECT_EQ(combo->itemText(3), "Old Cam");
    EXPECT_EQ(combo->currentText(), "Old Cam");

    Press(3, 1);
    combo = OpenEditor<QComboBox>();
    ASSERT_NE(combo, nullptr);
    EXPECT_EQ(combo->count(), 3);
    EXPECT_EQ(combo->currentIndex(), 1);
    QTest::keyClick(combo, Qt::Key_Down);
    Application().processEvents();
    EXPECT_EQ(list.CellText(3, 1), "Cam B");
    ASSERT_EQ(picks.count(), 1);
    EXPECT_EQ(picks[0], (QList<QVariant>{3, 1, 2}));
    EXPECT_TRUE(WaitUntil([&] { return OpenEditor<QComboBox>() == nullptr; }));
}

TEST_F(ListCtrlTest, OnlyEditableAndDropDownCellsOpenEditors)
{
    list.SetEditableCell(-1, 2);
    list.SetEditableCell(7, -1);
    list.SetComboCell(5, 1, {"None", "Cam A"});

    Press(2, 1);
    Press(2, 0);
    EXPECT_EQ(OpenEditor<QLineEdit>(), nullptr);
    EXPECT_EQ(OpenEditor<QComboBox>(), nullptr);
    Press(2, 2, Qt::RightButton);
    EXPECT_EQ(OpenEditor<QLineEdit>(), nullptr);

    Press(2, 2);
    QLineEdit* edit = OpenEditor<QLineEdit>();
    ASSERT_NE(edit, nullptr);
    EXPECT_EQ(edit->selectedText(), "Channel 2");
    QTest::keyClicks(edit, "News");
    Press(7, 1);
    EXPECT_EQ(list.CellText(2, 2), "News");
    edit = OpenEditor<QLineEdit>();
    ASSERT_NE(edit, nullptr) << "a row of -1 columns is editable throughout";
    EXPECT_EQ(edit->text(), "Cam A");

    Press(5, 1, Qt::RightButton);
    edit = OpenEditor<QLineEdit>();
    ASSERT_NE(edit, nullptr) << "a right click types free text into a drop-down cell";
    EXPECT_EQ(OpenEditor<QComboBox>(), nullptr);
    QTest::keyClicks(edit, "My own camera");
    list.verticalScrollBar()->setValue(10);
    Application().processEvents();
    EXPECT_EQ(list.CellText(5, 1), "My own camera");
    EXPECT_TRUE(WaitUntil([&] { return OpenEditor<QLineEdit>() == nullptr; })) << "scrolling ends the edit";
}

TEST_F(ListCtrlTest, CheckMarksAreReportedAndOnlyTheBoxTogglesThem)
{
    QSignalSpy changes(&list, &CListCtrlEx::itemStateChanged);
    Press(1, 0);
    EXPECT_TRUE(list.IsChecked(1));
    ASSERT_EQ(changes.count(), 1);
    EXPECT_EQ(changes[0], (QList<QVariant>{1, 0}));

    const QRect cell = list.visualRect(list.model()->index(1, 0));
    QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, QPoint(cell.left() + 2, cell.center().y()));
    EXPECT_TRUE(list.IsChecked(1)) << "beside the box the click only selects";
    list.SetCellText(1, 2, "Renamed");
    list.SetChecked(1, false);
    EXPECT_EQ(changes.count(), 2) << "text changes are no state changes";
}

TEST_F(ListCtrlTest, RowsKeepTheirColoursAndCellsShowTheirTextAsTips)
{
    auto blankOf = [&](int row) {
        const QRect cell = list.visualRect(list.model()->index(row, 2));
        return QPoint(cell.right() - 6, cell.center().y());
    };
    auto colourAt = [&](QPoint point) { return list.viewport()->grab().toImage().pixelColor(point); };
    const QPoint blank = blankOf(1);
    EXPECT_EQ(colourAt(blank), QColor(Qt::white));
    list.SetRowColor(1, Qt::white, QColor(0, 0, 160));
    EXPECT_EQ(colourAt(blank), QColor(0, 0, 160));
    list.SetRowColor(1, Qt::black, QColor(200, 30, 30));
    EXPECT_EQ(colourAt(blank), QColor(200, 30, 30));
    EXPECT_EQ(colourAt(blankOf(2)), QColor(Qt::white));

    const QString longText(100, 'x');
    list.SetCellText(3, 2, longText);
    QHelpEvent tip(QEvent::ToolTip, CellCentre(3, 2), list.viewport()->mapToGlobal(CellCentre(3, 2)));
    QApplication::sendEvent(list.viewport(), &tip);
    EXPECT_EQ(QToolTip::text(), longText.left(79));
}

} // namespace
