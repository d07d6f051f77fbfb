// The PKCS #12 import dialog: reads a file the user chose, opens it with its password and
// stores its certificates and keys on the medium listed in the main window, under a storage
// password (or the file's own with "same password"). It ends with 0 after an attempt, whatever
// its outcome, and -1 when cancelled; a refused entry keeps it open.
#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <memory>

#include "Util.h"
#include "WindowController.h"

class QCheckBox;
class QLineEdit;
class QPushButton;

namespace Ui {
class CertImportWindow;
}

class CertImportController : public brindlow::ui::ModalWindowController {
    Q_OBJECT

  public:
    // The largest file the dialog reads: PKCS #12 files of a certificate with its keys are a
    // few kilobytes.
    static constexpr qint64 kMaxFileSize = Util::kMaxPFXFileSize;

    explicit CertImportController(uint32_t tokenID, QWidget* parent = nullptr);
    ~CertImportController() override;

    QLineEdit* pfxPassTextField() const;
    QLineEdit* pass1TextField() const;
    QLineEdit* pass2TextField() const;
    QLineEdit* pathTextField() const;
    QCheckBox* useSamePasswordCheckBox() const;
    bool useSamePassword() const { return useSamePassword_; }
    uint32_t tokenID() const { return tokenID_; }

    // The bytes of a regular file of at most kMaxFileSize bytes; false for anything else (no
    // such file, a folder, a device or pipe, a larger file).
    static bool readImportFile(const QString& path, QByteArray* bytes);

  public slots:
    void setCheckBox();
    void selectFile();
    void confirm();
    void cancel();

  protected:
    // However the dialog ends, the entered passwords do not stay in its fields.
    void hideEvent(QHideEvent* event) override;

  private:
    void refuse(int reason, const QString& note = QString());

    std::unique_ptr<Ui::CertImportWindow> ui_;
    uint32_t tokenID_;
    bool useSamePassword_ = false;
};
