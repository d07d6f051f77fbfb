#include "CertExportController.h"

#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QHideEvent>
#include <QLineEdit>
#include <QSaveFile>
#include <QStandardPaths>

#include <sys/stat.h>

#include <vector>

#include "Alert.h"
#include "CertManagerController.h"
#include "ExportPINHandler.h"
#include "FilePanel.h"
#include "Messages.h"
#include "PasswordEntry.h"
#include "SGBaseTable.h"
#include "SGServiceTable.h"
#include "SGX509Certificate.h"
#include "Token.h"
#include "TokenManagerUtil.h"
#include "UIString.h"
#include "ui_CertExportWindow.h"

using brindlow::ui::PasswordEntry;

namespace {

// The longest file name most file systems take, in bytes.
constexpr qsizetype kMaxFileNameBytes = 255;
constexpr size_t kSubjectBufferSize = 8192;

// The subject text of the certificate with that item id; empty when it cannot be read.
QString subjectOf(Token* token, const std::string& certID) {
    if (token == nullptr) return {};
    unsigned char* der = nullptr;
    unsigned long length = 0;
    if (token->getCertificate(certID.c_str(), &der, &length) != 0 || der == nullptr ||
        length == 0 || length > UINT32_MAX) {
        Token::freeMemory(der, length);
        return {};
    }
    QString subject;
    if (Service[SGServiceSlot_SGX509Certificate_FromBinary] != nullptr) {
        SGX509Certificate certificate = {};
        SGBinary bytes = {der, static_cast<uint32_t>(length)};
        const int decoded =
            SG_SERVICE_FN(Service, SGX509Certificate_FromBinary)(&certificate, &bytes);
        // Room for a long subject: a 260-byte text left long common names without a default
        // path; the file name is cut to its own limit afterwards.
        std::vector<char> text(kSubjectBufferSize, '\0');
        if (decoded == 0) SG_SERVICE_FN(Service, SGX509Certificate_GetEntry)
        (&certificate, text.data(), static_cast<unsigned int>(text.size()), SG_X509_ENTRY_SUBJECT,
         0);
        text.back() = '\0';
        SG_SERVICE_FN(Service, SGX509Certificate_Clear)(&certificate);
        // A text cut by the buffer loses its last, partial character.
        subject = brindlow::ui::stringFromUtf8Field(text.data(), text.size());
    }
    Token::freeMemory(der, length);
    return subject;
}

// What notice 41 adds: a wrong password is the user's to correct, a file that could not be
// written is not.
QString failureNote(int result, bool written) {
    if (result == 0 && !written) return messageText(kMsgFileNotSaved);
    if (result == TOKEN_ERR_WRONG_PIN || result == TOKEN_ERR_KM_WRONG_PIN ||
        result == TOKEN_ERR_KEY_DECRYPT)
        return reasonText(kReasonWrongPassword);
    return isNotSupported(result) ? notSupportedText() : QString();
}

}  // namespace

CertExportController::CertExportController(uint32_t tokenID, std::string certID, QWidget* parent)
    : brindlow::ui::ModalWindowController(parent),
      ui_(std::make_unique<Ui::CertExportWindow>()),
      tokenID_(tokenID),
      certID_(std::move(certID)) {
    ui_->setupUi(this);
    useSamePassword_ = false;
    windowDidLoad();
}

CertExportController::~CertExportController() = default;

QLineEdit* CertExportController::passTextField() const {
    return ui_->passTextField;
}
QLineEdit* CertExportController::pfxPass1TextField() const {
    return ui_->pfxPass1TextField;
}
QLineEdit* CertExportController::pfxPass2TextField() const {
    return ui_->pfxPass2TextField;
}
QLineEdit* CertExportController::pathTextField() const {
    return ui_->pathTextField;
}
QCheckBox* CertExportController::useSamePasswordCheckBox() const {
    return ui_->useSamePasswordCheckBox;
}

QString CertExportController::desktopFolder() {
    const QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    if (!desktop.isEmpty() && QFileInfo(desktop).isDir()) return desktop;
    return QDir::homePath();
}

QString CertExportController::defaultFileName(const QString& subject) {
    const qsizetype equals = subject.indexOf(QLatin1Char('='));
    QString name = equals < 0 ? subject : subject.mid(equals + 1);
    const qsizetype comma = name.indexOf(QLatin1Char(','));
    if (comma >= 0) name.truncate(comma);

    // One name inside the folder: no separators, no control characters.
    QString safe;
    for (QChar c : name) {
        const bool hostile = c == QLatin1Char('/') || c == QLatin1Char('\\') ||
                             c.unicode() < 0x20 || c.unicode() == 0x7F ||
                             c.category() == QChar::Other_Format || c.isSurrogate();
        safe += hostile ? QLatin1Char('_') : c;
    }
    name = safe.trimmed();
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
        name = QStringLiteral("인증서");

    // At most 255 bytes with the extension, cut at a whole character.
    const QString extension = QStringLiteral(".pfx");
    while (name.toUtf8().size() + extension.size() > kMaxFileNameBytes) name.chop(1);
    return name + extension;
}

bool CertExportController::writeOwnerOnlyFile(const QString& path, const unsigned char* bytes,
                                              unsigned long length) {
    if (path.isEmpty() || bytes == nullptr || length == 0) return false;
    QSaveFile file(path);
    // Written beside the target and renamed over it on commit; never written in place.
    file.setDirectWriteFallback(false);
    // Unbuffered: QSaveFile does not see a failure of the flush that closes a buffered file,
    // and would rename a short file over the old one.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) return false;
    // The temporary takes over an old file's permissions; the keys are the owner's alone.
    if (::fchmod(file.handle(), S_IRUSR | S_IWUSR) != 0) {
        file.cancelWriting();
        return false;
    }
    unsigned long written = 0;
    while (written < length) {
        const qint64 n = file.write(reinterpret_cast<const char*>(bytes) + written,
                                    static_cast<qint64>(length - written));
        if (n <= 0) {
            file.cancelWriting();
            return false;
        }
        written += static_cast<unsigned long>(n);
    }
    return file.commit();
}

void CertExportController::windowDidLoad() {
    const QString subject = subjectOf(CertManagerController::tokenWithID(tokenID_), certID_);
    if (subject.isEmpty()) return;  // the interface file's path stays
    ui_->pathTextField->setText(desktopFolder() + QLatin1Char('/') + defaultFileName(subject));
}

void CertExportController::refuse(int reason, const QString& note) {
    brindlow::ui::showNotice(this, reasonText(reason), note);
}

void CertExportController::hideEvent(QHideEvent* event) {
    if (!event->spontaneous()) {
        ui_->passTextField->clear();
        ui_->pfxPass1TextField->clear();
        ui_->pfxPass2TextField->clear();
    }
    brindlow::ui::ModalWindowController::hideEvent(event);
}

void CertExportController::setCheckBox() {
    const bool same = ui_->useSamePasswordCheckBox->isChecked();
    ui_->pfxPass1TextField->setEnabled(!same);
    ui_->pfxPass2TextField->setEnabled(!same);
    useSamePassword_ = same;
}

void CertExportController::selectFile() {
    const QString path = brindlow::ui::runSavePanel(this, ui_->pathTextField->text());
    if (!path.isEmpty()) ui_->pathTextField->setText(path);
}

void CertExportController::confirm() {
    PasswordEntry certificatePassword(ui_->passTextField);
    PasswordEntry pfxPass1(ui_->pfxPass1TextField);
    PasswordEntry pfxPass2(ui_->pfxPass2TextField);

    if (certificatePassword.empty()) {
        brindlow::ui::showNotice(this, messageText(kMsgExportPasswordMissing));
        return;
    }
    if (certificatePassword.tooLong()) {
        refuse(kReasonInvalidInput, passwordTooLongText());
        return;
    }
    // The password that protects the file.
    PasswordEntry* filePassword = &pfxPass1;
    if (useSamePassword_) {
        filePassword = &certificatePassword;
    } else {
        const int reason = TokenManagerUtil::checkPIN(pfxPass1.data(), pfxPass1.length(),
                                                      pfxPass2.data(), pfxPass2.length());
        if (reason != 0) {
            refuse(reason);
            return;
        }
    }
    if (filePassword->tooLong()) {
        refuse(kReasonInvalidInput, passwordTooLongText());
        return;
    }
    if (!brindlow::ui::printableAscii(filePassword->bytes)) {
        refuse(kReasonInvalidInput, asciiOnlyText());
        return;
    }

    Token* token = CertManagerController::tokenWithID(tokenID_);
    ExportPINHandler handler;
    int result = TOKEN_ERR_NO_TOKEN;
    unsigned char* pfx = nullptr;
    unsigned long pfxLength = 0;
    if (!handler.setPassword(certificatePassword.data(), filePassword->data()))
        result = TOKEN_ERR_MEMORY;
    else if (token != nullptr)
        result =
            token->exportPFX(&pfx, &pfxLength, &handler, certID_.c_str(), certID_.c_str(), false);
    const bool written =
        result == 0 && writeOwnerOnlyFile(ui_->pathTextField->text(), pfx, pfxLength);
    if (written)
        brindlow::ui::showNotice(this, messageText(kMsgExportDone));
    else
        brindlow::ui::showNotice(this, messageText(kMsgPkcs12Failed), failureNote(result, written));
    // The token's bytes are overwritten before they are freed.
    Token::freeMemory(pfx, pfxLength);
    stopModalWithCode(0);
}

void CertExportController::cancel() {
    stopModalWithCode(kCancelCode);
}
