#include <gtest/gtest.h>

#include <QApplication>
#include <QContextMenuEvent>
#include <QMenu>
#include <QSignalSpy>
#include <QTest>

#include "DesktopTestSupport.h"
#include "RightClickTableWidget.h"

using brindlow::ui::RightClickTableWidget;

namespace {

class RightClickTableWidgetTest : public testing::Test {
  protected:
    void SetUp() override {
        table.setColumnCount(1);
        table.setRowCount(3);
        for (int r = 0; r < 3; ++r) table.setItem(r, 0, new QTableWidgetItem(QString::number(r)));
        table.resize(300, 400);  // room below the last row
        menu.addAction(QStringLiteral("보기"));
        table.setMenu(&menu);
        table.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&table));
    }
    void TearDown() override { menu.hide(); }

    QPoint rowPoint(int row) { return table.visualRect(table.model()->index(row, 0)).center(); }
    QPoint belowLastRow() { return QPoint(20, table.viewport()->height() - 5); }

    void rightClick(const QPoint& p) {
        QContextMenuEvent event(QContextMenuEvent::Mouse, p, table.viewport()->mapToGlobal(p));
        QApplication::sendEvent(table.viewport(), &event);
    }

    RightClickTableWidget table;
    QMenu menu;
};

}  // namespace

TEST_F(RightClickTableWidgetTest, RightClickSelectsTheRowBeforeTheMenuOpens) {
    table.selectRowAlone(0);
    rightClick(rowPoint(2));
    EXPECT_EQ(table.selectedRow(), 2);
    EXPECT_EQ(table.selectionModel()->selectedRows().size(), 1);
    EXPECT_EQ(table.clickedRow(), 2);
    EXPECT_TRUE(menu.isVisible());
    EXPECT_TRUE(table.hasFocus() || QApplication::focusWidget() == nullptr);
}

TEST_F(RightClickTableWidgetTest, RightClickOverEmptySpaceClearsTheSelection) {
    table.selectRowAlone(1);
    ASSERT_GE(table.rowAt(belowLastRow().y()), -1);
    ASSERT_EQ(table.rowAt(belowLastRow().y()), -1);
    rightClick(belowLastRow());
    EXPECT_EQ(table.selectedRow(), -1);
    EXPECT_EQ(table.clickedRow(), -1);
    EXPECT_TRUE(menu.isVisible());
}

TEST_F(RightClickTableWidgetTest, ClicksAndDoubleClicksReportTheRowTheyHit) {
    QSignalSpy doubles(&table, &RightClickTableWidget::doubleAction);
    QSignalSpy clicks(&table, &RightClickTableWidget::clickAction);
    QTest::mouseDClick(table.viewport(), Qt::LeftButton, {}, rowPoint(1));
    QTest::mouseDClick(table.viewport(), Qt::LeftButton, {}, belowLastRow());
    ASSERT_EQ(doubles.size(), 2);
    EXPECT_EQ(doubles[0][0].toInt(), 1);
    EXPECT_EQ(doubles[1][0].toInt(), -1);

    QTest::mouseClick(table.viewport(), Qt::LeftButton, {}, rowPoint(2));
    EXPECT_EQ(table.selectedRow(), 2);
    QTest::mouseClick(table.viewport(), Qt::LeftButton, {}, belowLastRow());
    EXPECT_EQ(table.selectedRow(), -1);
    ASSERT_GE(clicks.size(), 2);
    EXPECT_EQ(clicks[clicks.size() - 2][0].toInt(), 2);
    EXPECT_EQ(clicks.last()[0].toInt(), -1);
}
