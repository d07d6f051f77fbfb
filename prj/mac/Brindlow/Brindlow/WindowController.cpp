#include "WindowController.h"

#include <QGuiApplication>
#include <QScreen>

namespace brindlow::ui {

ModalWindowController::ModalWindowController(QWidget* parent) : QDialog(parent) {}

int ModalWindowController::runModal() {
    endCode_ = kCancelCode;
    setWindowModality(Qt::ApplicationModal);
    runLoop();
    return endCode_;
}

int ModalWindowController::runSheet(QWidget* window, const std::function<void(int)>& didEnd) {
    endCode_ = kCancelCode;
    setWindowModality(window != nullptr ? Qt::WindowModal : Qt::ApplicationModal);
    if (window != nullptr) {
        // Placed once shown, when the window system has settled the frame.
        show();
        centerOf(this, window->window());
    }
    runLoop();
    const int code = endCode_;
    if (didEnd) didEnd(code);
    return code;
}

void ModalWindowController::runLoop() {
    exec();
    // A run ended by the application quitting leaves the window up; the run is over all the
    // same, and nothing may look as if it still waited for input.
    if (isVisible()) hide();
}

void ModalWindowController::stopModalWithCode(int code) {
    endCode_ = code;
    QDialog::done(QDialog::Accepted);
}

void ModalWindowController::reject() {
    endCode_ = kCancelCode;
    QDialog::reject();
}

void centerOf(QWidget* window, const QWidget* other) {
    if (window == nullptr) return;
    const QRect otherFrame = other != nullptr ? other->frameGeometry() : QRect(0, 0, 0, 0);
    const QSize own = window->frameGeometry().size();
    window->move(otherFrame.x() + otherFrame.width() / 2 - own.width() / 2,
                 otherFrame.y() + otherFrame.height() / 2 - own.height() / 2);
}

void centerOnScreen(QWidget* window) {
    if (window == nullptr) return;
    QScreen* screen = window->screen();
    if (screen == nullptr) screen = QGuiApplication::primaryScreen();
    if (screen == nullptr) return;
    const QRect area = screen->availableGeometry();
    const QSize own = window->frameGeometry().size();
    window->move(area.x() + (area.width() - own.width()) / 2,
                 area.y() + (area.height() - own.height()) / 2);
}

}  // namespace brindlow::ui
