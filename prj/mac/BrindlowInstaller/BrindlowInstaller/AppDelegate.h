// The installer: one fixed sequence that replaces the installed application, registers it as a
// login item, installs the authorities' certificates and starts it.
#pragma once

#include <sys/types.h>

#include <QObject>
#include <QPointer>
#include <QWidget>

#include <string>

#include "RootCAHashWindowController.h"

class CRootCertManager;

class AppDelegate : public QObject {
    Q_OBJECT

  public:
    AppDelegate();
    ~AppDelegate() override;

    // The installation sequence; returns once it has finished or stopped at a notice.
    void applicationDidFinishLaunching();
    void applicationWillTerminate() {}

    // True when the installed bundle is, or has now been made, one of the user's login items.
    bool registerLoginItem();
    // Fills manager with the two KISA roots the installer carries.
    void setRootCertManager(CRootCertManager& manager);
    // Shows the fingerprint text for confirmation; true when the user confirmed.
    bool showRootCAHashWindow(const QString& text);

    QWidget* window() const { return window_; }
    void setWindow(QWidget* window) { window_ = window; }
    RootCAHashWindowController* rootCAHashWindowController() const { return hashWindow_; }
    void setRootCAHashWindowController(RootCAHashWindowController* c) { hashWindow_ = c; }

    // The application started at the end (-1 when none was).
    pid_t launchedPid() const { return launchedPid_; }

    static std::wstring NSStringToStringW(const QString& text);
    static QString StringWToNSString(const std::wstring& text);

  private:
    bool replaceInstalledBundle(const std::string& source, const std::string& target);

    QPointer<QWidget> window_;
    QPointer<RootCAHashWindowController> hashWindow_;
    pid_t launchedPid_ = -1;
};

// Where application bundles are installed: $BRINDLOW_APPLICATIONS, else "/Applications".
std::string installerApplicationsFolder();
