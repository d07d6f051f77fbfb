// The password change dialog of one certificate: checks the new password and its
// confirmation, changes the password of the certificate's keys through its token and shows the
// outcome. It ends with 0 after a change and -1 when cancelled; a refused entry keeps it open.
// A new password must be printable ASCII: other programs that open the same key files read the
// password in other code sets.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "WindowController.h"

class QLineEdit;

namespace Ui {
class ChangeCertPassWindow;
}

class ChangeCertPassController : public brindlow::ui::ModalWindowController {
    Q_OBJECT

  public:
    ChangeCertPassController(uint32_t tokenID, std::string certID, QWidget* parent = nullptr);
    ~ChangeCertPassController() override;

    QLineEdit* pass() const;
    QLineEdit* newpass1() const;
    QLineEdit* newpass2() const;

  public slots:
    void confirm();
    void cancel();

  protected:
    // However the dialog ends, the entered passwords do not stay in its fields.
    void hideEvent(QHideEvent* event) override;

  private:
    // Shows the text of a reason of the error-reason table and keeps the dialog open.
    void refuse(int reason, const QString& note = QString());

    std::unique_ptr<Ui::ChangeCertPassWindow> ui_;
    uint32_t tokenID_;
    std::string certID_;
};
