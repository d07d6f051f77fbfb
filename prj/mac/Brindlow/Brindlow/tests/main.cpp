// Test runner of the desktop windows: one QApplication for every test, images from the build's
// bundle, alerts answered through the UI layer's seam instead of being shown.
#include <gtest/gtest.h>

#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "Alert.h"
#include "Bundle.h"
#include "DesktopTestSupport.h"

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    // Widget tests need no display unless the caller chose one (the end-to-end run under Xvfb).
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    // Listing the tests (test discovery) needs no certificates.
    if (!GTEST_FLAG_GET(list_tests) && !brindlow::test::prepareEnvironment()) {
        std::fprintf(stderr, "cannot build the test certificates with openssl\n");
        return 1;
    }
    brindlow::platform::setMainBundleResources(BRINDLOW_APP_RESOURCES);

    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    // A test that forgets to answer an alert gets the first button instead of a hang.
    brindlow::ui::AlertSeam::setDefaultAnswer(0);

    const int result = RUN_ALL_TESTS();
    std::error_code ignored;
    std::filesystem::remove_all(brindlow::test::testRoot(), ignored);
    return result;
}
