#include "ChangeCertPassController.h"

#include <QHideEvent>
#include <QLineEdit>

#include <algorithm>

#include "Alert.h"
#include "Messages.h"
#include "Password.h"
#include "Token.h"
#include "TokenManagerUtil.h"
#include "TokenMaster.h"
#include "ui_ChangeCertPassWindow.h"

namespace {

// An entry as UTF-8 bytes, wiped when it goes.
struct Entry {
    explicit Entry(const QLineEdit* field) : bytes(field->text().toStdString()) {}
    ~Entry() { wipeBytes(bytes.data(), bytes.size()); }
    Entry(const Entry&) = delete;
    Entry& operator=(const Entry&) = delete;
    int length() const { return static_cast<int>(bytes.size()); }
    std::string bytes;
};

bool printableAscii(const std::string& text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c <= 0x7E; });
}

// What notice 22 adds about a failed change: a wrong current password is the user's to correct,
// a file that could not be read or written is not.
QString failureNote(int result) {
    switch (result) {
        case TOKEN_ERR_WRONG_PIN:
        case TOKEN_ERR_KM_WRONG_PIN:
        case TOKEN_ERR_KEY_DECRYPT:
            return reasonText(kReasonWrongPassword);
        case TOKEN_ERR_WRITE_FILE:
            return messageText(kMsgFileNotSaved);
        case TOKEN_ERR_READ_FILE:
            return messageText(kMsgCertificateFileNotRead);
        default:
            return isNotSupported(result) ? notSupportedText() : QString();
    }
}

}  // namespace

ChangeCertPassController::ChangeCertPassController(uint32_t tokenID, std::string certID,
                                                   QWidget* parent)
    : brindlow::ui::ModalWindowController(parent),
      ui_(std::make_unique<Ui::ChangeCertPassWindow>()),
      tokenID_(tokenID),
      certID_(std::move(certID)) {
    ui_->setupUi(this);
}

ChangeCertPassController::~ChangeCertPassController() = default;

QLineEdit* ChangeCertPassController::pass() const {
    return ui_->pass;
}
QLineEdit* ChangeCertPassController::newpass1() const {
    return ui_->newpass1;
}
QLineEdit* ChangeCertPassController::newpass2() const {
    return ui_->newpass2;
}

void ChangeCertPassController::refuse(int reason, const QString& note) {
    brindlow::ui::showNotice(this, reasonText(reason), note);
}

void ChangeCertPassController::hideEvent(QHideEvent* event) {
    // A window the system merely hides (minimised) keeps its entries.
    if (!event->spontaneous()) {
        ui_->pass->clear();
        ui_->newpass1->clear();
        ui_->newpass2->clear();
    }
    brindlow::ui::ModalWindowController::hideEvent(event);
}

void ChangeCertPassController::confirm() {
    Token* token = nullptr;
    try {
        TokenMaster* master = TokenManagerUtil::getTokenMaster();
        if (master == nullptr || master->getToken(tokenID_, &token) != 0) token = nullptr;
    } catch (...) {
        token = nullptr;
    }

    Entry current(ui_->pass);
    Entry fresh(ui_->newpass1);
    Entry again(ui_->newpass2);
    auto zero = [&] {
        TokenManagerUtil::zeroMemory(current.bytes.data(), current.length(), fresh.bytes.data(),
                                     fresh.length(), again.bytes.data(), again.length());
    };

    int reason = TokenManagerUtil::checkPIN(fresh.bytes.data(), fresh.length(), again.bytes.data(),
                                            again.length());
    if (reason == 0 && !printableAscii(fresh.bytes)) {
        zero();
        refuse(kReasonInvalidInput, asciiOnlyText());
        return;
    }
    if (reason == 0 && current.bytes == fresh.bytes) reason = kReasonSamePassword;
    if (reason != 0) {
        zero();
        refuse(reason);
        return;
    }

    int result = TOKEN_ERR_NO_TOKEN;
    if (token != nullptr)
        result = token->setCertificatePIN(
            certID_.c_str(), reinterpret_cast<unsigned char*>(current.bytes.data()),
            current.bytes.size(), reinterpret_cast<unsigned char*>(fresh.bytes.data()),
            fresh.bytes.size());
    zero();
    if (result == 0) {
        brindlow::ui::showNotice(this, messageText(kMsgPasswordChanged));
        stopModalWithCode(0);
    } else {
        brindlow::ui::showNotice(this, messageText(kMsgPasswordChangeFailed), failureNote(result));
    }
}

void ChangeCertPassController::cancel() {
    stopModalWithCode(kCancelCode);
}
