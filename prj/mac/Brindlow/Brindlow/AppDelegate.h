// The application's delegate: at launch it loads the message table, puts the padlock with its
// menu into the system tray, creates the certificate manager window (hidden) and hands the rest
// of the start to a background thread, which starts the local service daemon host and the log
// clean-up, and then ends the application once its installed bundle is gone.
#pragma once

#include <QObject>

#include <string>
#include <thread>

class CertManagerController;
class QMenu;
class StatusItem;

class AppDelegate : public QObject {
    Q_OBJECT

  public:
    // Fixed values of the launch.
    static constexpr const char* kStatusImage = "padlock.png";
    static constexpr const char* kProductName = "Brindlow";
    static constexpr const char* kBundleName =
        "Brindlow";  // watched as <Applications>/Brindlow.app
    static constexpr int kWatchIntervalMs = 3000;

    explicit AppDelegate(QObject* parent = nullptr);
    ~AppDelegate() override;

    // The launch steps, run once the application's event loop runs.
    void applicationDidFinishLaunching();
    // Nothing is torn down: the daemon host's threads end with the process.
    void applicationWillTerminate();

    StatusItem* statusItem() const { return statusItem_; }
    void setStatusItem(StatusItem* item) { statusItem_ = item; }
    CertManagerController* certManager() const { return certManager_; }
    void setCertManager(CertManagerController* manager) { certManager_ = manager; }
    // Declared for the daemon-start thread, which is not kept.
    std::thread* daemonThread() const { return daemonThread_; }
    void setDaemonThread(std::thread* thread) { daemonThread_ = thread; }

    // The status item's menu (owned by the delegate).
    QMenu* statusMenu() const { return statusMenu_; }

    // The daemon-start thread: the daemon host, the log clean-up thread, then the watch of the
    // installed bundle every 3.0 seconds. Never returns. argument is unused.
    static void goDaemon(void* argument);

    // The watched bundle: <Applications>/Brindlow.app.
    static std::string watchedBundlePath();

    // Ends the application from any thread: the request is carried out on the main thread, and
    // ends every modal run as well as the main loop. Ignored once the delegate is gone.
    static void requestTermination();

  public slots:
    void click_Brindlow();
    void click_CertManager();
    void click_InitToken();
    void click_ChangePINToken();
    void click_exit();

  private:
    QMenu* buildMenu();
    // Ends the event loops; main thread only.
    void terminate();

    StatusItem* statusItem_ = nullptr;
    CertManagerController* certManager_ = nullptr;
    std::thread* daemonThread_ = nullptr;
    QMenu* statusMenu_ = nullptr;
};
