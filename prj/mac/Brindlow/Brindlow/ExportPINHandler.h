// The password handler of a PKCS #12 export: hands the certificate's password to the request
// that opens its key (inputPIN) and the new file's password to the request that protects the
// file (inputDoublePin). Every other request is answered as cancelled.
#pragma once

#include "InputPINHandler.h"

class ExportPINHandler : public InputPINHandler {
  public:
    ExportPINHandler() = default;
    virtual ~ExportPINHandler();
    ExportPINHandler(const ExportPINHandler&) = delete;
    ExportPINHandler& operator=(const ExportPINHandler&) = delete;

    // Keeps a copy of each (NUL-terminated) text; earlier copies are wiped first. False when a
    // text is missing, too long for a token's 128-byte buffer, or memory is short: nothing is
    // kept then, and every request is answered as cancelled.
    bool setPassword(const char* certificatePassword, const char* filePassword);

    // The certificate's password with its terminator: 0; 1 (cancelled) without one.
    int inputPIN(char* out, TokenType type, InputPINPurpose purpose) override;
    // The file's password with its terminator: 0; 1 (cancelled) without one.
    int inputDoublePin(char* out, TokenType type, InputPINPurpose purpose) override;
    // Not asked by an export: 1 (cancelled), nothing written.
    int inputTriplePin(char* oldOut, char* newOut, TokenType type,
                       InputPINPurpose purpose) override;
    int inputTokenPIN(char* out, const char* prompt, TokenType type,
                      InputPINPurpose purpose) override;
    virtual int changePin(char* oldOut, char* newOut, TokenType type, InputPINPurpose purpose);

  private:
    void release();

    char* certificatePassword_ = nullptr;
    char* filePassword_ = nullptr;
};
