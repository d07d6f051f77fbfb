// The certificate manager in a real X server: clicks go through the X server with xdotool, the
// alerts and sheets are the real ones, and screenshots of the screen are kept as artifacts.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QFileInfo>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QImage>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QTest>

#include <cstdlib>

#include "Alert.h"
#include "CertManagerController.h"
#include "CertViewController.h"
#include "DesktopTestSupport.h"
#include "MediumSelectController.h"
#include "RightClickTableWidget.h"

using namespace brindlow::ui;
using brindlow::test::whenModal;

namespace {

bool run(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(30000)) {
        process.kill();
        process.waitForFinished();
        return false;
    }
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

// Moves the pointer to a point of widget and clicks there through the X server. The server
// handles the requests in order, so the click lands where the pointer was moved to. (Waiting for
// the move with --sync would wait for good when the pointer is there already.)
void clickAt(QWidget* widget, const QPoint& point, int clicks = 1) {
    const QPoint global = widget->mapToGlobal(point);
    ASSERT_TRUE(
        run(QStringLiteral("xdotool"),
            {QStringLiteral("mousemove"), QString::number(global.x()), QString::number(global.y()),
             QStringLiteral("click"), QStringLiteral("--repeat"), QString::number(clicks),
             QStringLiteral("--delay"), QStringLiteral("60"), QStringLiteral("1")}));
}

void clickWidget(QWidget* widget, int clicks = 1) {
    clickAt(widget, widget->rect().center(), clicks);
}

// A screenshot of the whole screen into the artifacts folder.
QString screenshot(const QString& name) {
    const char* folder = std::getenv("BRINDLOW_E2E_ARTIFACTS");
    const QString path = QString::fromLocal8Bit(folder != nullptr ? folder : ".") + '/' + name;
    QApplication::processEvents();
    EXPECT_TRUE(
        run(QStringLiteral("import"), {QStringLiteral("-window"), QStringLiteral("root"), path}))
        << path.toStdString();
    return path;
}

// The screenshot exists, has the screen's size, and shows more than one flat colour.
void expectPicture(const QString& path) {
    QImage image(path);
    ASSERT_FALSE(image.isNull()) << path.toStdString();
    EXPECT_EQ(image.size(), QSize(1280, 1024));
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); y += 7)
        for (int x = 0; x < image.width(); x += 7) colours.insert(image.pixel(x, y));
    EXPECT_GT(colours.size(), 20) << path.toStdString();
}

QPushButton* buttonTitled(QWidget* parent, const QString& title) {
    for (QPushButton* b : parent->findChildren<QPushButton*>())
        if (b->text() == title) return b;
    return nullptr;
}

}  // namespace

TEST(EndToEnd, CertManagerWindowUnderX) {
    if (QGuiApplication::platformName() != QStringLiteral("xcb"))
        GTEST_SKIP() << "needs an X server: run through tests/run_end_to_end.sh";
    // Hangul has to render: a font with Korean glyphs is installed.
    ASSERT_FALSE(QFontDatabase::families(QFontDatabase::Korean).isEmpty());

    AlertSeam::reset();
    AlertSeam::startRecording();
    CertManagerController manager;
    manager.move(40, 40);
    manager.resize(640, 720);
    manager.show();
    manager.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&manager));
    auto* table = manager.certTableView();
    ASSERT_EQ(table->rowCount(), 8);
    expectPicture(screenshot(QStringLiteral("01-home-folder.png")));

    // A click selects a row; a double-click opens its detail window.
    const QRect row1 = table->visualRect(table->model()->index(1, 0));
    clickAt(table->viewport(), row1.center());
    ASSERT_TRUE(QTest::qWaitFor([&] { return table->selectedRow() == 1; }, 10000));
    clickAt(table->viewport(), row1.center(), 2);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return manager.certView() != nullptr && manager.certView()->isVisible(); }, 10000));
    CertViewController* view = manager.certView();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(view));
    EXPECT_TRUE(view->certInfo()[6].startsWith(QStringLiteral("CN=박민수()0042")));
    expectPicture(screenshot(QStringLiteral("02-detail-view.png")));
    view->close();

    // Below the last row: the selection clears, and "보기" answers with message 20 in a real
    // alert with its one button.
    const QPoint empty(30, table->viewport()->height() - 6);
    ASSERT_EQ(table->rowAt(empty.y()), -1);
    clickAt(table->viewport(), empty);
    ASSERT_TRUE(QTest::qWaitFor([&] { return table->selectedRow() == -1; }, 10000));
    bool alertSeen = false;
    whenModal<QMessageBox>([&](QMessageBox* box) {
        alertSeen = true;
        EXPECT_EQ(box->text(), QStringLiteral("인증서를 선택하십시오."));
        EXPECT_EQ(box->buttons().size(), 1);
        EXPECT_TRUE(QTest::qWaitForWindowExposed(box));
        expectPicture(screenshot(QStringLiteral("03-select-a-certificate.png")));
        clickWidget(buttonTitled(box, QStringLiteral("확인")));
    });
    QPushButton* showButton = buttonTitled(&manager, QStringLiteral("보기"));
    ASSERT_NE(showButton, nullptr);
    clickWidget(showButton);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return alertSeen && QApplication::activeModalWidget() == nullptr; }, 15000));
    const auto records = AlertSeam::takeRecords();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].buttons, QStringList{QStringLiteral("확인")});

    // The removable disk: the real sheet, its row and its confirm button clicked in turn.
    bool sheetSeen = false;
    whenModal<USBSelectController>([&](USBSelectController* sheet) {
        sheetSeen = true;
        EXPECT_TRUE(QTest::qWaitForWindowExposed(sheet));
        int usb = -1;
        for (int row = 0; row < sheet->rows().size(); ++row)
            if (sheet->rows()[row].name == QStringLiteral("USBDISK")) usb = row;
        if (usb < 0) {
            ADD_FAILURE() << "no USBDISK row";
            sheet->close();
            return;
        }
        auto* rows = sheet->tableView();
        clickAt(rows->viewport(), rows->visualRect(rows->model()->index(usb, 0)).center());
        EXPECT_TRUE(QTest::qWaitFor([&] { return rows->selectedRow() == usb; }, 10000));
        expectPicture(screenshot(QStringLiteral("04-removable-disk-sheet.png")));
        clickWidget(sheet->confirmButton());
    });
    clickWidget(manager.viewWithTag(2));
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return sheetSeen && manager.selectedButtonTag() == 2; }, 15000));
    ASSERT_EQ(table->rowCount(), 1);
    EXPECT_TRUE(manager.certArray()[0].displayText.startsWith(QStringLiteral("이영희()0077\n")));
    expectPicture(screenshot(QStringLiteral("05-removable-disk.png")));
}
