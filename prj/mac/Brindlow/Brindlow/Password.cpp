#include "Password.h"

#include <cstring>

void wipeBytes(void* data, std::size_t length) {
    volatile auto* bytes = static_cast<volatile unsigned char*>(data);
    for (std::size_t i = 0; i < length; ++i) bytes[i] = 0;
}

Password::Password(std::string password) : password_(std::move(password)) {}

Password::~Password() {
    wipeBytes(password_.data(), password_.size());
}

int Password::copyTo(char* out) const {
    if (out == nullptr || password_.size() > kMaxLength) return 1;
    std::memcpy(out, password_.c_str(), password_.size() + 1);
    return 0;
}

int Password::inputPIN(char* out, TokenType, InputPINPurpose) {
    return copyTo(out);
}

int Password::inputDoublePin(char* out, TokenType, InputPINPurpose) {
    return copyTo(out);
}

int Password::inputTriplePin(char*, char*, TokenType, InputPINPurpose) {
    return 1;
}

int Password::inputTokenPIN(char*, const char*, TokenType, InputPINPurpose) {
    return 1;
}
