// The password prompt of a copy: ends with 0 and the entry in the caller's buffer, or with -1.
#pragma once

#include <QString>

#include <memory>

#include "WindowController.h"

class QLineEdit;

namespace Ui {
class ManagerInputPINWindow;
}

class ManagerInputPINWindowController : public brindlow::ui::ModalWindowController {
    Q_OBJECT

  public:
    // buffer receives the entry on confirm; the caller keeps it alive while the prompt runs.
    explicit ManagerInputPINWindowController(QString* buffer, QWidget* parent = nullptr);
    ~ManagerInputPINWindowController() override;

    QLineEdit* pin() const;

  public slots:
    void click();
    void cancel();

  private:
    std::unique_ptr<Ui::ManagerInputPINWindow> ui_;
    QString* buffer_;
};
