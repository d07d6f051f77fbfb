// The password handler of a copy: hands one fixed password to every request for one password,
// and answers requests for three passwords or for the medium's own password as cancelled.
#pragma once

#include <string>

#include "InputPINHandler.h"

class Password : public InputPINHandler {
  public:
    // The longest password a token's 128-byte buffer holds with its terminator.
    static constexpr std::size_t kMaxLength = 127;

    explicit Password(std::string password);
    ~Password();
    Password(const Password&) = delete;
    Password& operator=(const Password&) = delete;

    // Copy the password with its terminator into out: 0. A password too long for the token's
    // buffer is not copied: 1, as if cancelled.
    int inputPIN(char* out, TokenType type, InputPINPurpose purpose) override;
    int inputDoublePin(char* out, TokenType type, InputPINPurpose purpose) override;
    // Always 1 (cancelled); the buffers are left as they are.
    int inputTriplePin(char* oldOut, char* newOut, TokenType type,
                       InputPINPurpose purpose) override;
    int inputTokenPIN(char* out, const char* prompt, TokenType type,
                      InputPINPurpose purpose) override;

  private:
    int copyTo(char* out) const;

    std::string password_;
};

// Overwrites the bytes so that the optimiser cannot drop the writes.
void wipeBytes(void* data, std::size_t length);
