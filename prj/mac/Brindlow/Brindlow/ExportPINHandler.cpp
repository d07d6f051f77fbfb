#include "ExportPINHandler.h"

#include <cstring>

#include "SGBaseTable.h"
#include "SGMemory.h"

namespace {

constexpr std::size_t kMaxPassword = 127;  // a token's buffer holds 128 bytes

char* copyOf(const char* text) {
    const std::size_t length = std::strlen(text);
    auto* copy = static_cast<char*>(SG_BASE_FN(Base, SGMemory_calloc)(length + 1, 1));
    if (copy != nullptr) std::memcpy(copy, text, length);
    return copy;
}

void wipeAndFree(char*& text) {
    if (text == nullptr) return;
    SG_BASE_FN(Base, SGMemory_cleanse)(text, std::strlen(text));
    SG_BASE_FN(Base, SGMemory_free)(text);
    text = nullptr;
}

int hand(const char* kept, char* out) {
    if (kept == nullptr || out == nullptr) return 1;
    std::memcpy(out, kept, std::strlen(kept) + 1);
    return 0;
}

}  // namespace

ExportPINHandler::~ExportPINHandler() {
    release();
}

void ExportPINHandler::release() {
    wipeAndFree(certificatePassword_);
    wipeAndFree(filePassword_);
}

bool ExportPINHandler::setPassword(const char* certificatePassword, const char* filePassword) {
    release();
    if (certificatePassword == nullptr || filePassword == nullptr ||
        std::strlen(certificatePassword) > kMaxPassword || std::strlen(filePassword) > kMaxPassword)
        return false;
    certificatePassword_ = copyOf(certificatePassword);
    filePassword_ = copyOf(filePassword);
    if (certificatePassword_ == nullptr || filePassword_ == nullptr) {
        release();
        return false;
    }
    return true;
}

int ExportPINHandler::inputPIN(char* out, TokenType, InputPINPurpose) {
    return hand(certificatePassword_, out);
}

int ExportPINHandler::inputDoublePin(char* out, TokenType, InputPINPurpose) {
    return hand(filePassword_, out);
}

int ExportPINHandler::inputTriplePin(char*, char*, TokenType, InputPINPurpose) {
    return 1;
}

int ExportPINHandler::inputTokenPIN(char*, const char*, TokenType, InputPINPurpose) {
    return 1;
}

int ExportPINHandler::changePin(char*, char*, TokenType, InputPINPurpose) {
    return 1;
}
