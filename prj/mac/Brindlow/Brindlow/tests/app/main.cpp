// Test runner of the application delegate: one QApplication without a display, a temporary home
// folder with certificates and a daemon configuration on a free port, the watched bundle in a
// temporary applications folder, images and the module from the build's bundle.
#include <gtest/gtest.h>

#include <QApplication>

#include <cstdio>
#include <cstdlib>

#include "Alert.h"
#include "Bundle.h"
#include "ShellTestSupport.h"
#include "ShellTestEnvironment.h"

namespace brindlow::apptest {

AppFolders& testFolders() {
    static AppFolders folders;
    return folders;
}

}  // namespace brindlow::apptest

int main(int argc, char** argv) {
    using namespace brindlow::apptest;
    testing::InitGoogleTest(&argc, argv);
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    if (!GTEST_FLAG_GET(list_tests)) {
        testFolders() = makeAppFolders();
        if (testFolders().root.empty()) {
            std::fprintf(stderr, "cannot build the test home folder with openssl\n");
            return 1;
        }
        setenv("HOME", testFolders().home.c_str(), 1);
        setenv("BRINDLOW_APPLICATIONS", testFolders().applications.c_str(), 1);
        setenv("BRINDLOW_VOLUMES", testFolders().volumes.c_str(), 1);
    }
    brindlow::platform::setMainBundleResources(BRINDLOW_APP_RESOURCES);

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Brindlow"));
    QApplication::setQuitOnLastWindowClosed(false);
    // A test that forgets to answer an alert gets the first button instead of a hang.
    brindlow::ui::AlertSeam::setDefaultAnswer(0);

    const int result = RUN_ALL_TESTS();
    removeFolders(testFolders());
    return result;
}
