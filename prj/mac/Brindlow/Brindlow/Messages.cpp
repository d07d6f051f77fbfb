#include "Messages.h"

#include "MessageRes.h"
#include "TokenDefs.h"
#include "TokenManagerError.h"
#include "UIString.h"

QString messageText(int code) {
    return brindlow::ui::stringFromEucKr(
        MessageRes::getMessage(static_cast<MessageRes::MessageResCode>(code)));
}

QString reasonText(int reason) {
    // The table's longest text with a detail number fits many times over.
    char text[1024] = {};
    int code = 0;
    TokenManagerError::getReason(static_cast<TokenManagerError::TokenManagerErrorCode>(reason),
                                 &code, text, 0);
    return brindlow::ui::stringFromEucKr(text, sizeof text);
}

QString asciiOnlyText() {
    return QStringLiteral("새 암호에는 영문자, 숫자와 키보드의 특수문자만 사용할 수 있습니다.");
}

QString passwordTooLongText() {
    return QStringLiteral("암호는 127바이트를 넘을 수 없습니다.");
}

bool isNotSupported(int tokenResult) {
    return tokenResult == TOKEN_ERR_INIT_NOT_SUPPORTED || tokenResult == TOKEN_ERR_NOT_SUPPORTED ||
           tokenResult == TOKEN_ERR_SETPIN_NOT_SUPPORTED;
}

QString notSupportedText() {
    return QStringLiteral("이 매체에서는 지원하지 않는 기능입니다.");
}

QString unsupportedProtectionText() {
    return QStringLiteral(
        "이 파일의 보호 방식은 지원하지 않습니다. SHA-1과 Triple DES로 보호하여 "
        "내보낸 파일은 가져올 수 있습니다.");
}

QString storedNewerText() {
    return QStringLiteral("대상 매체에 같은 사용자의 더 최근 인증서가 있어 복사하지 않았습니다.");
}
