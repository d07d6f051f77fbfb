#include "ManagerInputPINWindowController.h"

#include <QLineEdit>

#include "ui_ManagerInputPINWindow.h"

ManagerInputPINWindowController::ManagerInputPINWindowController(QString* buffer, QWidget* parent)
    : brindlow::ui::ModalWindowController(parent),
      ui_(std::make_unique<Ui::ManagerInputPINWindow>()),
      buffer_(buffer) {
    ui_->setupUi(this);
}

ManagerInputPINWindowController::~ManagerInputPINWindowController() = default;

QLineEdit* ManagerInputPINWindowController::pin() const {
    return ui_->pin;
}

void ManagerInputPINWindowController::click() {
    if (buffer_ != nullptr) *buffer_ = ui_->pin->text();
    ui_->pin->clear();
    stopModalWithCode(0);
}

void ManagerInputPINWindowController::cancel() {
    ui_->pin->clear();
    stopModalWithCode(kCancelCode);
}
