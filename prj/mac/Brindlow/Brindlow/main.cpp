// Brindlow: a menu-bar application; it has no main window until the menu opens one.
#include <QApplication>
#include <QTimer>

#include "AppDelegate.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Brindlow"));
    QApplication::setQuitOnLastWindowClosed(false);

    AppDelegate delegate;
    // The launch runs inside the event loop, as the application's launch does.
    QTimer::singleShot(0, &delegate, &AppDelegate::applicationDidFinishLaunching);
    const int result = QApplication::exec();
    delegate.applicationWillTerminate();
    return result;
}
