#include "StatusItem.h"

#include <QCloseEvent>
#include <QCursor>
#include <QGuiApplication>
#include <QMenu>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

const QString kTitle = QStringLiteral("Brindlow");
constexpr int kMargin = 8;  // from the screen's corner

}  // namespace

StatusFallbackWindow::StatusFallbackWindow(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint |
                          Qt::WindowTitleHint),
      button_(new QToolButton(this)) {
    setObjectName(QStringLiteral("statusFallbackWindow"));
    setWindowTitle(kTitle);
    button_->setObjectName(QStringLiteral("statusButton"));
    button_->setToolTip(kTitle);
    button_->setIconSize(QSize(32, 32));
    button_->setAutoRaise(true);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addWidget(button_);
    connect(button_, &QToolButton::clicked, this,
            [this] { emit menuRequested(button_->mapToGlobal(QPoint(0, button_->height()))); });
}

void StatusFallbackWindow::closeEvent(QCloseEvent* event) {
    event->ignore();
}

StatusItem::StatusItem(QObject* parent) : QObject(parent) {
    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        trayIcon_ = new QSystemTrayIcon(this);
        trayIcon_->setToolTip(kTitle);
        // The tray opens a context menu on a right click by itself; a left click opens the same
        // menu where the pointer is.
        connect(trayIcon_, &QSystemTrayIcon::activated, this,
                [this](QSystemTrayIcon::ActivationReason reason) {
                    if (reason == QSystemTrayIcon::Trigger) popUpMenu(QCursor::pos());
                });
        return;
    }
    fallbackWindow_ = new StatusFallbackWindow;
    connect(fallbackWindow_, &StatusFallbackWindow::menuRequested, this, &StatusItem::popUpMenu);
}

StatusItem::~StatusItem() {
    delete fallbackWindow_;
}

void StatusItem::setImage(const QIcon& image) {
    if (trayIcon_) {
        trayIcon_->setIcon(image);
        // The tray shows an item only once it has an icon.
        trayIcon_->show();
        return;
    }
    fallbackWindow_->button()->setIcon(image);
    fallbackWindow_->adjustSize();
    // Top right, where a menu-bar item would be.
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        fallbackWindow_->move(area.right() - fallbackWindow_->frameGeometry().width() - kMargin,
                              area.top() + kMargin);
    }
    fallbackWindow_->show();
}

void StatusItem::setMenu(QMenu* menu) {
    menu_ = menu;
    if (trayIcon_) trayIcon_->setContextMenu(menu);
}

void StatusItem::popUpMenu(const QPoint& at) {
    if (!menu_) return;
    menu_->popup(at);
    menu_->activateWindow();
}
