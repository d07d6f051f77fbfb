// BrindlowInstaller: installs the application bundle it carries and the authorities'
// certificates, then starts the application.
#include <QApplication>

#include "AppDelegate.h"
#include "NPKITable.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(false);
    InitUserKisaNpkiPath();
    AppDelegate delegate;
    // Every step runs in its own modal loop; the installer ends when the sequence returns, after
    // the user has dismissed its last notice.
    delegate.applicationDidFinishLaunching();
    delegate.applicationWillTerminate();
    return 0;
}
