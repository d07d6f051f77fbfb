// The registry and password entry helpers of TokenManagerUtil.
#include <cstring>
#include <memory>
#include <mutex>

#include "TokenManagerError.h"
#include "TokenManagerUtil.h"
#include "TokenMaster.h"
#include "Util.h"

TokenMaster* TokenManagerUtil::tokenMaster = nullptr;

namespace {

std::once_flag gMasterOnce;

}  // namespace

TokenMaster* TokenManagerUtil::getTokenMaster() {
    // A build that throws leaves the flag unset: the exception reaches the caller and the next
    // call builds again.
    std::call_once(gMasterOnce, [] {
        auto master = std::make_unique<TokenMaster>();
        tokenMaster = master.release();
    });
    return tokenMaster;
}

int TokenManagerUtil::checkPIN(char* pin, int pinLength, char* confirmation,
                               int confirmationLength) {
    initialized = true;
    if (!pin || !confirmation || pinLength <= 0 || confirmationLength <= 0)
        return TokenManagerError::REASON_NO_INPUT;
    if (std::strcmp(pin, confirmation) != 0) return TokenManagerError::REASON_PIN_CONFIRM_MISMATCH;
    switch (Util::checkComplexPassword(reinterpret_cast<unsigned char*>(pin), false, 10)) {
        case 1:
            return TokenManagerError::REASON_PIN_LENGTH;
        case 2:
            return TokenManagerError::REASON_PIN_FORBIDDEN_CHAR;
        case 14:
            return TokenManagerError::REASON_PIN_RULES;
        default:
            // The pattern and character-class rules advise; they do not refuse.
            return 0;
    }
}
