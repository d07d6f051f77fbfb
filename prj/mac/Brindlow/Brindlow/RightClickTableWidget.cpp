#include "RightClickTableWidget.h"

#include <QContextMenuEvent>
#include <QHeaderView>
#include <QMenu>
#include <QMouseEvent>

namespace brindlow::ui {

RightClickTableWidget::RightClickTableWidget(QWidget* parent) : QTableWidget(parent) {
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setContextMenuPolicy(Qt::DefaultContextMenu);
}

int RightClickTableWidget::selectedRow() const {
    if (selectionModel() == nullptr) return -1;
    const QModelIndexList rows = selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.first().row();
}

void RightClickTableWidget::selectRowAlone(int row) {
    if (row < 0 || row >= rowCount()) {
        clearSelection();
        return;
    }
    selectRow(row);
}

int RightClickTableWidget::rowUnder(const QPoint& viewportPoint) const {
    if (!viewport()->rect().contains(viewportPoint)) return -1;
    return rowAt(viewportPoint.y());
}

void RightClickTableWidget::contextMenuEvent(QContextMenuEvent* event) {
    setFocus(Qt::MouseFocusReason);
    int row = -1;
    QPoint global = event->globalPos();
    if (event->reason() == QContextMenuEvent::Keyboard) {
        // From the keyboard the menu is for the row already selected.
        row = selectedRow();
        if (row >= 0) global = viewport()->mapToGlobal(visualRect(model()->index(row, 0)).center());
    } else {
        row = rowUnder(event->pos());
    }
    clickedRow_ = row;
    selectRowAlone(row);
    event->accept();
    if (menu_ != nullptr) menu_->popup(global);
}

void RightClickTableWidget::mousePressEvent(QMouseEvent* event) {
    const int row = rowUnder(event->position().toPoint());
    clickedRow_ = row;
    QTableWidget::mousePressEvent(event);
    if (event->button() == Qt::LeftButton) {
        // A click below the last row clears the selection, as over any empty space.
        if (row < 0) clearSelection();
        emit clickAction(row);
    }
}

void RightClickTableWidget::mouseDoubleClickEvent(QMouseEvent* event) {
    const int row = rowUnder(event->position().toPoint());
    clickedRow_ = row;
    QTableWidget::mouseDoubleClickEvent(event);
    if (event->button() == Qt::LeftButton) emit doubleAction(row);
}

}  // namespace brindlow::ui
