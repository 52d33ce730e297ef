#pragma once
// A report list whose cells may open an editor where they are clicked: a
// drop-down of fixed entries or a line of free text. Rows may carry their own
// colours, and every cell shows its text as its tool tip.

#include <QColor>
#include <QPointer>
#include <QTableWidget>

#include <vector>

// The cells that open a text editor; -1 stands for every row or every column.
struct SEditableCell {
    int row;
    int column;
};

struct SColoredRow {
    int row;
    QColor text;
    QColor background;
};

// The cells that open a drop-down; options holds the entries joined by "$".
struct SComboCell {
    int row;
    int column;
    QString options;
};

class CListCtrlEx : public QTableWidget {
    Q_OBJECT
public:
    explicit CListCtrlEx(QWidget* parent = nullptr);

    // Appends a column; the cells made for it later take its alignment.
    void InsertColumn(const QString& heading, Qt::Alignment alignment);
    void SetEditableCell(int row, int column);
    void SetComboCell(int row, int column, const QStringList& options);
    // Replaces the row's colours or gives it some, and repaints at once.
    void SetRowColor(int row, const QColor& text, const QColor& background);

    QString CellText(int row, int column) const;
    void SetCellText(int row, int column, const QString& text);
    bool IsChecked(int row) const;
    void SetChecked(int row, bool checked);

    // Writes an open editor's text into its cell and closes it.
    void EndEdit();

    // The row of the selection, -1 without one.
    int SelectionMark() const;

signals:
    // The user picked entry `entry` in the drop-down of a cell.
    void comboSelected(int row, int column, int entry);
    // A row's check mark changed.
    void itemStateChanged(int row, int column);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    friend class CListCtrlExDelegate;
    enum class Editor { DropDown, Text };

    bool IsEditableCell(int row, int column) const;
    const SComboCell* ComboCell(int row, int column) const;
    const SColoredRow* RowColor(int row) const;
    void OpenEditor(int row, int column, Editor editor);
    void FinishDropDown(QWidget* editor, int row, int column, int entry);

    std::vector<SEditableCell> editableCells_;
    std::vector<SColoredRow> coloredRows_;
    std::vector<SComboCell> comboCells_;
    std::vector<Qt::Alignment> alignments_;
    Editor nextEditor_ = Editor::Text;
    QPointer<QWidget> editor_;
};
