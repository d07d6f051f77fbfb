// The PKCS #12 export dialog: writes the selected certificate with its keys into a PKCS #12
// file, asking for the certificate's password and the new file's password (or the certificate's
// own with "same password"). It ends with 0 after an attempt, whatever its outcome, and -1 when
// cancelled; a refused entry keeps it open.
#pragma once

#include <QString>

#include <cstdint>
#include <memory>
#include <string>

#include "WindowController.h"

class QCheckBox;
class QLineEdit;

namespace Ui {
class CertExportWindow;
}

class CertExportController : public brindlow::ui::ModalWindowController {
    Q_OBJECT

  public:
    CertExportController(uint32_t tokenID, std::string certID, QWidget* parent = nullptr);
    ~CertExportController() override;

    QLineEdit* passTextField() const;
    QLineEdit* pfxPass1TextField() const;
    QLineEdit* pfxPass2TextField() const;
    QLineEdit* pathTextField() const;
    QCheckBox* useSamePasswordCheckBox() const;
    bool useSamePassword() const { return useSamePassword_; }

    // The folder a file goes to by default: the desktop folder, else the home folder.
    static QString desktopFolder();
    // The file name of a certificate with this subject text: the value of its first attribute
    // (up to the first ","), made one harmless name of at most 255 bytes with ".pfx".
    static QString defaultFileName(const QString& subject);
    // Writes the bytes to path as an owner-only file that replaces the old one whole or not at
    // all; no temporary stays behind. False when it was not written.
    static bool writeOwnerOnlyFile(const QString& path, const unsigned char* bytes,
                                   unsigned long length);

  public slots:
    void setCheckBox();
    void selectFile();
    void confirm();
    void cancel();

  protected:
    void hideEvent(QHideEvent* event) override;

  private:
    void windowDidLoad();
    void refuse(int reason, const QString& note = QString());

    std::unique_ptr<Ui::CertExportWindow> ui_;
    uint32_t tokenID_;
    std::string certID_;
    bool useSamePassword_ = false;
};
