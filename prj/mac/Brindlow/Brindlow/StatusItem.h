// The application's item in the system tray: the padlock with the application's menu, which a
// left or a right click opens. Where no system tray exists, a small always-on-top padlock window
// takes its place, and its button opens the same menu.
#pragma once

#include <QIcon>
#include <QMenu>
#include <QObject>
#include <QPointer>
#include <QWidget>

class QSystemTrayIcon;
class QToolButton;

// The window that stands in for the tray.
class StatusFallbackWindow : public QWidget {
    Q_OBJECT

  public:
    explicit StatusFallbackWindow(QWidget* parent = nullptr);

    QToolButton* button() const { return button_; }

  signals:
    // The button was clicked; the point is where the menu should open, in global coordinates.
    void menuRequested(const QPoint& at);

  protected:
    // The window is the only way to the menu, so it cannot be closed on its own.
    void closeEvent(QCloseEvent* event) override;

  private:
    QToolButton* button_;
};

class StatusItem : public QObject {
    Q_OBJECT

  public:
    explicit StatusItem(QObject* parent = nullptr);
    ~StatusItem() override;

    void setImage(const QIcon& image);
    // The menu that the item opens; the caller keeps ownership.
    void setMenu(QMenu* menu);
    QMenu* menu() const { return menu_; }

    // The tray icon, or null where the fallback window is used instead.
    QSystemTrayIcon* trayIcon() const { return trayIcon_; }
    // The fallback window, or null where the tray is used.
    StatusFallbackWindow* fallbackWindow() const { return fallbackWindow_; }

  public slots:
    // Opens the menu at a point in global coordinates.
    void popUpMenu(const QPoint& at);

  private:
    QPointer<QMenu> menu_;
    QSystemTrayIcon* trayIcon_ = nullptr;
    StatusFallbackWindow* fallbackWindow_ = nullptr;
};
