// Password entries of the dialogs as byte strings, and the rules every password that protects
// keys or a file follows before it reaches a token.
#pragma once

#include <QLineEdit>

#include <algorithm>
#include <cstddef>
#include <string>

#include "Password.h"

namespace brindlow::ui {

// The longest password a token's 128-byte buffer holds with its terminator.
constexpr std::size_t kMaxPasswordBytes = 127;

// An entry as UTF-8 bytes, wiped when it goes.
struct PasswordEntry {
    explicit PasswordEntry(const QLineEdit* field) : bytes(field->text().toStdString()) {}
    ~PasswordEntry() { wipeBytes(bytes.data(), bytes.size()); }
    PasswordEntry(const PasswordEntry&) = delete;
    PasswordEntry& operator=(const PasswordEntry&) = delete;
    int length() const { return static_cast<int>(bytes.size()); }
    bool empty() const { return bytes.empty(); }
    bool tooLong() const { return bytes.size() > kMaxPasswordBytes; }
    char* data() { return bytes.data(); }
    unsigned char* udata() { return reinterpret_cast<unsigned char*>(bytes.data()); }
    std::string bytes;
};

// Keys and files are opened by other programs that read the password in other code sets: a
// password that protects them is printable ASCII.
inline bool printableAscii(const std::string& text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c <= 0x7E; });
}

}  // namespace brindlow::ui
