#include "ui/list_ctrl_ex.h"

#include <QApplication>
#include <QComboBox>
#include <QHeaderView>
#include <QHelpEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QStyledItemDelegate>
#include <QToolTip>

#include <algorithm>

namespace {

constexpr int kEditTextLimit = 254;
constexpr int kToolTipLimit = 79;

bool IsCheckOnlyCell(const QModelIndex& index)
{
    return index.data(Qt::CheckStateRole).isValid() && index.data(Qt::DisplayRole).toString().isEmpty();
}

QStyle* StyleOf(const QStyleOptionViewItem& option)
{
    return option.widget ? option.widget->style() : QApplication::style();
}

// A lone check box sits in the middle of its cell, as the column heading does.
QRect CheckRect(const QStyleOptionViewItem& option)
{
    QStyle* style = StyleOf(option);
    const QSize size(style->pixelMetric(QStyle::PM_IndicatorWidth, &option, option.widget),
                     style->pixelMetric(QStyle::PM_IndicatorHeight, &option, option.widget));
    return QStyle::alignedRect(option.direction, Qt::AlignCenter, size, option.rect);
}

} // namespace

// Opens the editor its list asks for, paints row colours and centred check
// boxes, and shows each cell's text as its tip.
class CListCtrlExDelegate : public QStyledItemDelegate {
public:
    explicit CListCtrlExDelegate(CListCtrlEx* list) : QStyledItemDelegate(list), list_(list) {}

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem&, const QModelIndex& index) const override
    {
        if (list_->nextEditor_ == CListCtrlEx::Editor::Text)
            return list_->editor_ = new QLineEdit(parent);
        auto* combo = new QComboBox(parent);
        list_->editor_ = combo;
        combo->addItems(list_->ComboCell(index.row(), index.column())->options.split('$'));
        const int row = index.row();
        const int column = index.column();
        connect(combo, &QComboBox::activated, list_,
                [list = list_, combo, row, column](int entry) { list->FinishDropDown(combo, row, column, entry); });
        return combo;
    }

    void setEditorData(QWidget* editor, const QModelIndex& index) const override
    {
        const QString text = index.data(Qt::DisplayRole).toString();
        if (auto* combo = qobject_cast<QComboBox*>(editor)) {
            if (combo->findText(text, Qt::MatchExactly) < 0)
                combo->addItem(text);
            combo->setCurrentIndex(combo->findText(text, Qt::MatchExactly));
        } else if (auto* edit = qobject_cast<QLineEdit*>(editor)) {
            edit->setText(text.left(kEditTextLimit));
            edit->selectAll();
        }
    }

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        if (!IsCheckOnlyCell(index)) {
            QStyledItemDelegate::paint(painter, option, index);
            return;
        }
        QStyleOptionViewItem cell(option);
        initStyleOption(&cell, index);
        cell.features &= ~QStyleOptionViewItem::HasCheckIndicator;
        QStyle* style = StyleOf(cell);
        style->drawControl(QStyle::CE_ItemViewItem, &cell, painter, cell.widget);
        QStyleOptionViewItem box(cell);
        box.rect = CheckRect(cell);
        box.state &= ~QStyle::State_HasFocus;
        box.state |= cell.checkState == Qt::Checked ? QStyle::State_On : QStyle::State_Off;
        style->drawPrimitive(QStyle::PE_IndicatorItemViewItemCheck, &box, painter, cell.widget);
    }

    bool editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                     const QModelIndex& index) override
    {
        const bool click = event->type() == QEvent::MouseButtonRelease || event->type() == QEvent::MouseButtonDblClick;
        if (!click || !IsCheckOnlyCell(index))
            return QStyledItemDelegate::editorEvent(event, model, option, index);
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() != Qt::LeftButton || !CheckRect(option).contains(mouse->position().toPoint()))
            return false;
        if (event->type() == QEvent::MouseButtonDblClick)
            return true;
        const bool checked = index.data(Qt::CheckStateRole).toInt() == Qt::Checked;
        return model->setData(index, checked ? Qt::Unchecked : Qt::Checked, Qt::CheckStateRole);
    }

    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override
    {
        if (event->type() != QEvent::ToolTip)
            return QStyledItemDelegate::helpEvent(event, view, option, index);
        const QString tip = index.data(Qt::DisplayRole).toString().left(kToolTipLimit);
        if (tip.isEmpty())
            QToolTip::hideText();
        else
            QToolTip::showText(event->globalPos(), tip, view->viewport(), view->visualRect(index));
        return true;
    }

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        const SColoredRow* colors = list_->RowColor(index.row());
        option->palette.setColor(QPalette::Text, colors ? colors->text : QColor(Qt::black));
        option->backgroundBrush = colors ? colors->background : QColor(Qt::white);
    }

private:
    CListCtrlEx* list_;
};

CListCtrlEx::CListCtrlEx(QWidget* parent) : QTableWidget(parent)
{
    setItemDelegate(new CListCtrlExDelegate(this));
    setEditTriggers(NoEditTriggers);
    setSelectionBehavior(SelectRows);
    setSelectionMode(SingleSelection);
    setShowGrid(true);
    setWordWrap(false);
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 10);
    horizontalHeader()->setHighlightSections(false);
    connect(model(), &QAbstractItemModel::dataChanged, this,
            [this](const QModelIndex& first, const QModelIndex& last, const QList<int>& roles) {
                if (!roles.contains(Qt::CheckStateRole))
                    return;
                for (int row = first.row(); row <= last.row(); ++row)
                    emit itemStateChanged(row, first.column());
            });
}

void CListCtrlEx::InsertColumn(const QString& heading, Qt::Alignment alignment)
{
    const int column = columnCount();
    insertColumn(column);
    auto* header = new QTableWidgetItem(heading);
    header->setTextAlignment(alignment | Qt::AlignVCenter);
    setHorizontalHeaderItem(column, header);
    alignments_.push_back(alignment);
}

void CListCtrlEx::SetEditableCell(int row, int column)
{
    editableCells_.push_back({row, column});
}

void CListCtrlEx::SetComboCell(int row, int column, const QStringList& options)
{
    const QString joined = options.join('$');
    for (SComboCell& cell : comboCells_) {
        if (cell.row == row && cell.column == column) {
            cell.options = joined;
            return;
        }
    }
    comboCells_.push_back({row, column, joined});
}

void CListCtrlEx::SetRowColor(int row, const QColor& text, const QColor& background)
{
    auto found = std::find_if(coloredRows_.begin(), coloredRows_.end(),
                              [row](const SColoredRow& entry) { return entry.row == row; });
    if (found != coloredRows_.end())
        *found = {row, text, background};
    else
        coloredRows_.push_back({row, text, background});
    viewport()->repaint();
}

QString CListCtrlEx::CellText(int row, int column) const
{
    const QTableWidgetItem* cell = item(row, column);
    return cell ? cell->text() : QString();
}

void CListCtrlEx::SetCellText(int row, int column, const QString& text)
{
    if (QTableWidgetItem* cell = item(row, column)) {
        cell->setText(text);
        return;
    }
    auto* cell = new QTableWidgetItem(text);
    if (column < static_cast<int>(alignments_.size()))
        cell->setTextAlignment(alignments_[column] | Qt::AlignVCenter);
    setItem(row, column, cell);
}

bool CListCtrlEx::IsChecked(int row) const
{
    const QTableWidgetItem* cell = item(row, 0);
    return cell && cell->checkState() == Qt::Checked;
}

void CListCtrlEx::SetChecked(int row, bool checked)
{
    if (!item(row, 0))
        SetCellText(row, 0, QString());
    item(row, 0)->setCheckState(checked ? Qt::Checked : Qt::Unchecked);
}

void CListCtrlEx::EndEdit()
{
    if (!editor_ || state() != EditingState)
        return;
    commitData(editor_);
    closeEditor(editor_, QAbstractItemDelegate::NoHint);
}

int CListCtrlEx::SelectionMark() const
{
    const QModelIndexList rows = selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.first().row();
}

void CListCtrlEx::mousePressEvent(QMouseEvent* event)
{
    QTableWidget::mousePressEvent(event);
    const QModelIndex index = indexAt(event->position().toPoint());
    if (!index.isValid())
        return;
    const bool combo = ComboCell(index.row(), index.column()) != nullptr;
    if (event->button() == Qt::LeftButton && combo)
        OpenEditor(index.row(), index.column(), Editor::DropDown);
    else if (event->button() == Qt::LeftButton && IsEditableCell(index.row(), index.column()))
        OpenEditor(index.row(), index.column(), Editor::Text);
    else if (event->button() == Qt::RightButton && combo)
        OpenEditor(index.row(), index.column(), Editor::Text);
}

// An editor must not drift away from its cell: scrolling ends the edit.
void CListCtrlEx::scrollContentsBy(int dx, int dy)
{
    setFocus();
    QTableWidget::scrollContentsBy(dx, dy);
}

// The pick is in the cell before the parent hears of it.
void CListCtrlEx::FinishDropDown(QWidget* editor, int row, int column, int entry)
{
    commitData(editor);
    emit comboSelected(row, column, entry);
    closeEditor(editor, QAbstractItemDelegate::NoHint);
}

bool CListCtrlEx::IsEditableCell(int row, int column) const
{
    return std::any_of(editableCells_.begin(), editableCells_.end(), [row, column](const SEditableCell& cell) {
        return (cell.row == -1 || cell.row == row) && (cell.column == -1 || cell.column == column);
    });
}

const SComboCell* CListCtrlEx::ComboCell(int row, int column) const
{
    for (const SComboCell& cell : comboCells_)
        if (cell.row == row && cell.column == column)
            return &cell;
    return nullptr;
}

const SColoredRow* CListCtrlEx::RowColor(int row) const
{
    for (const SColoredRow& entry : coloredRows_)
        if (entry.row == row)
            return &entry;
    return nullptr;
}

void CListCtrlEx::OpenEditor(int row, int column, Editor editor)
{
    if (!item(row, column))
        SetCellText(row, column, QString());
    EndEdit();
    nextEditor_ = editor;
    edit(model()->index(row, column));
}
