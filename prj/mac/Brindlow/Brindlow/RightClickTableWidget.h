// The application's table: one row per item, whole rows selected one at a time. A right click
// first selects the row under the pointer (or clears the selection over empty space) and then
// opens the table's menu, so every menu action works on the row that was clicked. Clicks and
// double-clicks report the row they hit, -1 over empty space.
#pragma once

#include <QTableWidget>

class QMenu;

namespace brindlow::ui {

class RightClickTableWidget : public QTableWidget {
    Q_OBJECT

  public:
    explicit RightClickTableWidget(QWidget* parent = nullptr);

    // The context menu (not owned).
    void setMenu(QMenu* menu) { menu_ = menu; }
    QMenu* menu() const { return menu_; }

    // The selected row, -1 when none is.
    int selectedRow() const;
    // The row hit by the last click, double-click or right click, -1 for empty space.
    int clickedRow() const { return clickedRow_; }

    // Selects row alone; -1 (or a row out of range) clears the selection.
    void selectRowAlone(int row);

  signals:
    // A click anywhere in the table, with the row it hit.
    void clickAction(int row);
    // A double-click anywhere in the table, with the row it hit.
    void doubleAction(int row);

  protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

  private:
    int rowUnder(const QPoint& viewportPoint) const;

    QMenu* menu_ = nullptr;
    int clickedRow_ = -1;
};

}  // namespace brindlow::ui
