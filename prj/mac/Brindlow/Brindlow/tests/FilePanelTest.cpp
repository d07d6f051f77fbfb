#include <gtest/gtest.h>

#include <QFileDialog>
#include <QTest>
#include <QWidget>

#include "DesktopTestSupport.h"
#include "FilePanel.h"

using namespace brindlow::ui;
using brindlow::test::whenModal;

TEST(FilePanelTest, SeamAnswersTheNextPanels) {
    FilePanelSeam::reset();
    FilePanelSeam::nextFileName(QStringLiteral("/tmp/a.pfx"));
    FilePanelSeam::nextFileName(QString());
    EXPECT_EQ(runOpenPanel(nullptr), QStringLiteral("/tmp/a.pfx"));
    EXPECT_TRUE(runSavePanel(nullptr, QStringLiteral("/home/x/Desktop/kim.pfx")).isEmpty());
    EXPECT_EQ(FilePanelSeam::lastSuggestedPath(), QStringLiteral("/home/x/Desktop/kim.pfx"));
    FilePanelSeam::reset();
}

TEST(FilePanelTest, OpenPanelRunsAsASheetAndGivesTheChosenFile) {
    const std::string folder = brindlow::test::makeTempFolder("panel");
    const QString file = QString::fromStdString(folder + "/cert.p12");
    QFile(file).open(QIODevice::WriteOnly);
    QWidget window;
    window.show();

    whenModal<QFileDialog>([&](QFileDialog* panel) {
        EXPECT_EQ(panel->windowModality(), Qt::WindowModal);
        EXPECT_EQ(panel->parentWidget(), &window);
        panel->selectFile(file);
        static_cast<QDialog*>(panel)->accept();
    });
    EXPECT_EQ(runOpenPanel(&window), file);

    whenModal<QFileDialog>([](QFileDialog* panel) { panel->reject(); });
    EXPECT_TRUE(runOpenPanel(&window).isEmpty());
}

TEST(FilePanelTest, SavePanelStartsAtTheSuggestedPath) {
    const std::string folder = brindlow::test::makeTempFolder("panel");
    const QString suggested = QString::fromStdString(folder + "/kim.pfx");
    whenModal<QFileDialog>([&](QFileDialog* panel) {
        EXPECT_EQ(panel->acceptMode(), QFileDialog::AcceptSave);
        ASSERT_FALSE(panel->selectedFiles().isEmpty());
        EXPECT_EQ(panel->selectedFiles().first(), suggested);
        static_cast<QDialog*>(panel)->accept();
    });
    EXPECT_EQ(runSavePanel(nullptr, suggested), suggested);
}
