#include "app/ListEditing.h"

#include "diagnostics/Desktop.h"
#include "diagnostics/Failure.h"
#include "window/CursorFile.h"
#include "window/Form1.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QTreeWidget>

namespace parcelon {

using namespace Qt::StringLiterals;

namespace {

QTreeWidgetItem* itemAt(const Form1& form, const QPersistentModelIndex& index)
{
    return index.isValid() ? form.ListView1->topLevelItem(index.row()) : nullptr;
}

QPersistentModelIndex selectedIndex(const Form1& form)
{
    const QModelIndexList selected = form.ListView1->selectionModel()->selectedRows();
    return selected.isEmpty() ? QPersistentModelIndex() : QPersistentModelIndex(selected.front());
}

// After a swap near the top or the bottom of the screen, the neighbour
// beyond the moved text comes into view.
void scrollOnAfterSwap(Form1& form, int row)
{
    const int screenRow = form.desktop().pointerScreenRow();
    QTreeWidget* list = form.ListView1;
    if (screenRow < kScrollUpBelowRow) {
        if (row > 0)
            list->scrollToItem(list->topLevelItem(row - 1));
    } else if (screenRow >= kScrollDownFromRow) {
        if (QTreeWidgetItem* below = list->topLevelItem(row + 1))
            list->scrollToItem(below);
    }
}

} // namespace

void ListView1_MouseDown(Form1& form, QMouseEvent& event)
{
    form.DragActive = true;
    form.PressedButton = event.button();
    // A press beside the items selects nothing, as in a Windows list.
    if (!form.ListView1->indexAt(event.position().toPoint()).isValid())
        form.ListView1->clearSelection();
}

void ListView1_ItemClick(Form1& form)
{
    if (form.PressedButton != Qt::LeftButton)
        return;
    QCursor image(Qt::ClosedHandCursor);
    try {
        image = readCursorFile(form.environment().programFile(u"drag.ico"));
    } catch (const Failure&) {
        // Without its image the drag shows a closed hand.
    }
    form.setListPointer(ListPointer::Custom, image);
    form.ListView1->setDragEnabled(false);
    form.DraggedItem = selectedIndex(form);
}

void ListView1_MouseMove(Form1& form, QMouseEvent& event)
{
    if (!form.isBusy())
        form.setMousePointer(MousePointer::Default);
    if (!form.DragActive)
        return;
    form.ItemUnderPointer = QPersistentModelIndex(form.ListView1->indexAt(event.position().toPoint()));
    QTreeWidgetItem* under = itemAt(form, form.ItemUnderPointer);
    QTreeWidgetItem* dragged = itemAt(form, form.DraggedItem);
    if (under && dragged && under->text(0) != dragged->text(0)) {
        const QString moved = dragged->text(0);
        dragged->setText(0, under->text(0));
        under->setText(0, moved);
        // Selected without becoming current, which would scroll it.
        form.ListView1->selectionModel()->select(form.ItemUnderPointer,
                                                 QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        form.DraggedItem = form.ItemUnderPointer;
        scrollOnAfterSwap(form, form.ItemUnderPointer.row());
    }
    form.ItemUnderPointer = QPersistentModelIndex();
}

void ListView1_MouseUp(Form1& form, QMouseEvent&)
{
    form.DragActive = false;
    form.setListPointer(ListPointer::Arrow);
}

void ListView1_DblClick(Form1& form, QMouseEvent& event)
{
    if (event.button() == Qt::LeftButton)
        removeSelectedSource(form);
}

void ListView1_KeyDown(Form1& form, QKeyEvent& event)
{
    if (event.key() == Qt::Key_Delete)
        removeSelectedSource(form);
}

void removeSelectedSource(Form1& form)
{
    if (form.isBusy())
        return;
    QTreeWidget* list = form.ListView1;
    if (list->topLevelItemCount() == 0)
        return;
    const QPersistentModelIndex selected = selectedIndex(form);
    if (!selected.isValid())
        return;
    delete list->takeTopLevelItem(selected.row());
    // The list would select the next item in its place; nothing else changes.
    list->clearSelection();
}

} // namespace parcelon
