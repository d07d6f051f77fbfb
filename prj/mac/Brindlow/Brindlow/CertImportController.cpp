#include "CertImportController.h"

#include <QCheckBox>
#include <QHideEvent>
#include <QLineEdit>

#include <cstring>

#include "Alert.h"
#include "CertManagerController.h"
#include "FilePanel.h"
#include "Messages.h"
#include "PasswordEntry.h"
#include "SGPKCS12.h"
#include "SGPKCS7.h"
#include "SGPKCSError.h"
#include "SGServiceTable.h"
#include "Token.h"
#include "TokenManagerUtil.h"
#include "Util.h"
#include "ui_CertImportWindow.h"

using brindlow::ui::PasswordEntry;

namespace {

// What the notice after a failed import adds: the medium cannot import, or could not write.
QString failureNote(int result) {
    if (isNotSupported(result)) return notSupportedText();
    if (result == TOKEN_ERR_WRITE || result == TOKEN_ERR_WRITE_FILE ||
        result == TOKEN_ERR_WRITE_REFUSED)
        return messageText(kMsgFileNotSaved);
    return {};
}

// Whether the PKCS #12 library refuses the file for a protection it does not implement (a MAC
// other than HMAC-SHA-1, safes under an encryption it does not know, such as PBES2). The
// token's import reports that as it reports every other refusal, so the library is asked
// itself, with the bytes and the password the import had; what it decodes is wiped again at
// once. The library answers the same for a key of an algorithm it does not know, which this
// cannot tell apart.
bool protectionUnsupported(const QByteArray& file, const PasswordEntry& password) {
    if (Service[SGServiceSlot_SGPKCS12PFX_Decode] == nullptr ||
        Service[SGServiceSlot_SGPKCS12PFX_Clear] == nullptr || file.isEmpty())
        return false;
    // The import reads the password up to its first NUL, so this does too.
    const std::size_t length = ::strnlen(password.bytes.data(), password.bytes.size());
    const SGBinary pin{reinterpret_cast<unsigned char*>(const_cast<char*>(password.bytes.data())),
                       static_cast<uint32_t>(length)};
    const SGBinary der{reinterpret_cast<unsigned char*>(const_cast<char*>(file.constData())),
                       static_cast<uint32_t>(file.size())};
    SGPKCS12PFX pfx{};
    const int rc = SG_SERVICE_FN(Service, SGPKCS12PFX_Decode)(&pfx, &der, &pin);
    SG_SERVICE_FN(Service, SGPKCS12PFX_Clear)(&pfx);
    return rc == SG_PKI_ERR_UNKNOWN_ALGORITHM || rc == SG_PKI_ERR_NOT_IMPLEMENTED ||
           rc == SG_PKCS7_ERR_ALGORITHM;
}

// The file's bytes are wiped when they go: they hold the keys, if only encrypted.
struct FileBytes {
    ~FileBytes() {
        if (!bytes.isEmpty()) wipeBytes(bytes.data(), static_cast<std::size_t>(bytes.size()));
    }
    QByteArray bytes;
};

}  // namespace

CertImportController::CertImportController(uint32_t tokenID, QWidget* parent)
    : brindlow::ui::ModalWindowController(parent),
      ui_(std::make_unique<Ui::CertImportWindow>()),
      tokenID_(tokenID) {
    ui_->setupUi(this);
    useSamePassword_ = false;
}

CertImportController::~CertImportController() = default;

QLineEdit* CertImportController::pfxPassTextField() const {
    return ui_->pfxPassTextField;
}
QLineEdit* CertImportController::pass1TextField() const {
    return ui_->pass1TextField;
}
QLineEdit* CertImportController::pass2TextField() const {
    return ui_->pass2TextField;
}
QLineEdit* CertImportController::pathTextField() const {
    return ui_->pathTextField;
}
QCheckBox* CertImportController::useSamePasswordCheckBox() const {
    return ui_->useSamePasswordCheckBox;
}

bool CertImportController::readImportFile(const QString& path, QByteArray* bytes) {
    bytes->clear();
    const QByteArray name = path.toUtf8();
    if (name.contains('\0')) return false;
    unsigned char* data = nullptr;
    unsigned int length = 0;
    if (Util::readChosenFile(name.toStdString(), Util::kMaxPFXFileSize, &data, &length) !=
        Util::MEDIA_OK)
        return false;
    bytes->append(reinterpret_cast<const char*>(data), static_cast<qsizetype>(length));
    // The copy is what stays; the token's buffer holds the keys too and goes wiped.
    Token::freeMemory(data, length);
    return true;
}

void CertImportController::refuse(int reason, const QString& note) {
    brindlow::ui::showNotice(this, reasonText(reason), note);
}

void CertImportController::hideEvent(QHideEvent* event) {
    if (!event->spontaneous()) {
        ui_->pfxPassTextField->clear();
        ui_->pass1TextField->clear();
        ui_->pass2TextField->clear();
    }
    brindlow::ui::ModalWindowController::hideEvent(event);
}

void CertImportController::setCheckBox() {
    const bool same = ui_->useSamePasswordCheckBox->isChecked();
    ui_->pass1TextField->setEnabled(!same);
    ui_->pass2TextField->setEnabled(!same);
    useSamePassword_ = same;
}

void CertImportController::selectFile() {
    const QString path = brindlow::ui::runOpenPanel(this);
    if (!path.isEmpty()) ui_->pathTextField->setText(path);
}

void CertImportController::confirm() {
    PasswordEntry filePassword(ui_->pfxPassTextField);
    PasswordEntry pass1(ui_->pass1TextField);
    PasswordEntry pass2(ui_->pass2TextField);

    if (filePassword.empty()) {
        brindlow::ui::showNotice(this, messageText(kMsgImportPasswordMissing));
        return;
    }
    if (filePassword.tooLong()) {
        refuse(kReasonInvalidInput, passwordTooLongText());
        return;
    }

    // The password the keys are stored under.
    PasswordEntry* storage = &pass1;
    if (useSamePassword_) {
        storage = &filePassword;
    } else {
        const int reason =
            TokenManagerUtil::checkPIN(pass1.data(), pass1.length(), pass2.data(), pass2.length());
        if (reason != 0) {
            refuse(reason);
            return;
        }
    }
    if (storage->tooLong()) {
        refuse(kReasonInvalidInput, passwordTooLongText());
        return;
    }
    if (!brindlow::ui::printableAscii(storage->bytes)) {
        refuse(kReasonInvalidInput, asciiOnlyText());
        return;
    }

    Token* token = CertManagerController::tokenWithID(tokenID_);
    FileBytes file;
    if (!readImportFile(ui_->pathTextField->text(), &file.bytes)) {
        brindlow::ui::showNotice(this, messageText(kMsgCertificateFileNotRead));
        stopModalWithCode(0);
        return;
    }

    // The token keeps the storage password for the keys it writes until importFinal. When it
    // cannot open an import, nothing is imported.
    const int opened = token != nullptr
                           ? token->importInit(storage->udata(), storage->bytes.size(), nullptr,
                                               InputPINHandler::PURPOSE_IMPORT)
                           : static_cast<int>(TOKEN_ERR_NO_TOKEN);
    if (opened != 0) {
        brindlow::ui::showNotice(this, messageText(kMsgImportFailed), failureNote(opened));
        stopModalWithCode(0);
        return;
    }
    const int result = token->importPFX(filePassword.udata(), filePassword.bytes.size(),
                                        reinterpret_cast<unsigned char*>(file.bytes.data()),
                                        static_cast<unsigned long>(file.bytes.size()), 0);
    if (result == 0)
        brindlow::ui::showNotice(this, messageText(kMsgImportDone));
    else if (result == TOKEN_ERR_PFX_INTEGRITY)
        brindlow::ui::showNotice(this, messageText(kMsgImportWrongPassword));
    else if (result == TOKEN_ERR_PFX_REJECTED && protectionUnsupported(file.bytes, filePassword))
        brindlow::ui::showNotice(this, messageText(kMsgNotCertificateFile),
                                 unsupportedProtectionText());
    else
        brindlow::ui::showNotice(this, messageText(kMsgNotCertificateFile), failureNote(result));
    token->importFinal();
    stopModalWithCode(0);
}

void CertImportController::cancel() {
    stopModalWithCode(kCancelCode);
}
