// The interface through which a token asks its caller for passwords.
#ifndef INPUT_PIN_HANDLER_H
#define INPUT_PIN_HANDLER_H

#include "TokenDefs.h"

// The token hands over zeroed 128-byte buffers, so a password has at most 127 bytes; the handler
// writes NUL-terminated text into them. Each operation returns 0 when a password was supplied and
// 1 when the user cancelled.
class TOKEN_EXPORT InputPINHandler {
  public:
    // The kind of token that asks.
    enum TokenType : int { TOKEN_TYPE_DISK = 3, TOKEN_TYPE_PKCS12 = 7, TOKEN_TYPE_PFX_NPKI = 9 };

    // What the password is for.
    enum InputPINPurpose : int {
        PURPOSE_PRIVATE_KEY = 6,        // open a private key before using it
        PURPOSE_VID_RANDOM = 9,         // read the identity-check random from the key
        PURPOSE_CHANGE_PIN = 10,        // the current and a new password
        PURPOSE_COPY_DESTINATION = 11,  // store a copied key on the destination
        PURPOSE_IMPORT = 13,            // store imported keys
        PURPOSE_EXPORT_KEY = 15,        // open a key before exporting it
        PURPOSE_EXPORT_PFX = 16         // protect a PKCS #12 file to be written
    };

    virtual int inputPIN(char* out, TokenType type, InputPINPurpose purpose) = 0;
    virtual int inputDoublePin(char* out, TokenType type, InputPINPurpose purpose) = 0;
    virtual int inputTriplePin(char* oldOut, char* newOut, TokenType type,
                               InputPINPurpose purpose) = 0;
    virtual int inputTokenPIN(char* out, const char* prompt, TokenType type,
                              InputPINPurpose purpose) = 0;

  protected:
    // Handlers are owned by their callers through the concrete type; deleting one through this
    // interface is not provided for (it has no virtual destructor).
    ~InputPINHandler() = default;
};

#endif
