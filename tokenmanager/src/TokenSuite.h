// What the tokens that hold certificate suites in memory (the disk token, the PKCS #12 file
// token and the in-memory NPKI token) do alike with a suite: its parts, its identifier, what its
// signing certificate tells of the key, and signing with its key file.
#pragma once

#include <cstddef>
#include <string>

#include "SGBinary.h"
#include "Token.h"
#include "TokenLog.h"

namespace brindlow::token::suites {

inline bool hasBytes(const SGBinary* part) {
    return part && part->data && part->length;
}

// 40 upper-case hex digits of the SHA-1 of the bytes; empty when the digest cannot be made.
std::string sha1Identifier(const char* data, size_t length);

// Releases a heap part; one that held a key is wiped first.
void releasePart(SGBinary*& part, bool secret);
// Releases a suite of the disk or in-memory NPKI token: path text, buffers, the record.
void releaseSuite(CertificateSuite* suite);

// The size in bytes of the signing certificate's public key: 0; 1301.
int certificateKeySize(const SGBinary* signCert, unsigned long* size);
// The length in bytes of the signing certificate's RSA modulus, failures logged as
// getKeyLength's: 0; 1301.
int certificateModulusLength(Logger* logger, const SGBinary* signCert, int* length);

// getKeySize and getKeyLength for the suite an item id found (null: 1309, logged).
template <class Suite>
int suiteKeySize(Logger* logger, const Suite* suite, unsigned long* size) {
    if (!suite) {
        TOKEN_FATAL(logger, "%s - find cert failed...(%d)()", "getKeySize",
                    TOKEN_ERR_NO_CERTIFICATE);
        return TOKEN_ERR_NO_CERTIFICATE;
    }
    return certificateKeySize(suite->signCert, size);
}

template <class Suite>
int suiteKeyLength(Logger* logger, const Suite* suite, int* length) {
    if (!suite) {
        TOKEN_FATAL(logger, "%s - find cert failed...(%d)()", "getKeyLength",
                    TOKEN_ERR_NO_CERTIFICATE);
        return TOKEN_ERR_NO_CERTIFICATE;
    }
    return certificateModulusLength(logger, suite->signCert, length);
}

// The domain parameters a GPKI key left in the parameter record, released after a signing.
void releaseDomainParameters(TokenGenerateSignatureParameters* parameters);

// Opens the suite's signing key file with the password into a key record of the suite's kind
// and signs with it; the parameter record is released afterwards.
int signWithKeyFile(Token& token, const CertificateSuite& suite, unsigned char* pin,
                    unsigned long pinLength, unsigned char* out, unsigned long* outLength,
                    unsigned char* in, unsigned long inLength, const char* keyId,
                    const char* itemId, TokenGenerateSignatureParameters* parameters);

}  // namespace brindlow::token::suites
