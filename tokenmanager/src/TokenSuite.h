// What the tokens that hold certificate suites in memory (the disk token, the PKCS #12 file
// token and the in-memory NPKI token) do alike with a suite: its parts, its identifier, what its
// signing certificate tells of the key, and signing with its key file.
#pragma once

#include <cstddef>
#include <string>

#include "SGBinary.h"
#include "SGRSA.h"
#include "ItemId.h"
#include "Token.h"
#include "TokenLog.h"

namespace brindlow::token::suites {

inline bool hasBytes(const SGBinary* part) {
    return part && part->data && part->length;
}

// No suite for the item id of the operation: logged, 1309.
inline int missingSuite(Logger* logger, const char* operation) {
    TOKEN_FATAL(logger, "%s - find cert failed...(%d)()", operation, TOKEN_ERR_NO_CERTIFICATE);
    return TOKEN_ERR_NO_CERTIFICATE;
}

// 40 upper-case hex digits of the SHA-1 of the bytes; empty when the digest cannot be made.
std::string sha1Identifier(const char* data, size_t length);

// Releases a heap part; one that held a key is wiped first.
void releasePart(SGBinary*& part, bool secret);
// Releases a suite of the disk or in-memory NPKI token: path text, buffers, the record.
void releaseSuite(CertificateSuite* suite);

// The size in bytes of the signing certificate's public key: 0; 1301.
int certificateKeySize(const SGBinary* signCert, unsigned long* size);
// The length in bytes of the signing certificate's RSA modulus, or of the prime p of a KCDSA
// key's domain, failures logged as getKeyLength's: 0; 1301.
int certificateModulusLength(Logger* logger, const SGBinary* signCert, int* length);

// getKeySize and getKeyLength for the suite an item id found (null: 1309, logged).
template <class Suite>
int suiteKeySize(Logger* logger, const Suite* suite, unsigned long* size) {
    if (!suite) return missingSuite(logger, "getKeySize");
    return certificateKeySize(suite->signCert, size);
}

template <class Suite>
int suiteKeyLength(Logger* logger, const Suite* suite, int* length) {
    if (!suite) return missingSuite(logger, "getKeyLength");
    return certificateModulusLength(logger, suite->signCert, length);
}

// The key-management key and certificate item ids of a suite's item id, as getKMID hands them
// out (the identifier cut to 122 characters): 0; 1315.
int kmItemIds(const char* itemId, char** kmKeyId, char** kmCertId);

// getKMID for the suite an item id found: the outputs set on entry (null); 1309 (logged) without
// a suite; 1311 without the key-management pair.
template <class Suite>
int suiteKmIds(Logger* logger, const Suite* suite, const char* itemId, char** kmKeyId,
               char** kmCertId) {
    if (kmKeyId) *kmKeyId = nullptr;
    if (kmCertId) *kmCertId = nullptr;
    if (!suite) return missingSuite(logger, "getKMID");
    if (!kmKeyId || !kmCertId) return TOKEN_ERR_INVALID_DATA;
    if (!hasBytes(suite->kmCert) || !hasBytes(suite->kmKey)) return TOKEN_ERR_NO_KM_PAIR;
    return kmItemIds(itemId, kmKeyId, kmCertId);
}

// Hands out a copy of the identity-check random a key opening left in vid (nothing for an empty
// one) and wipes vid: 0; 1315.
int handOutRandom(SGBinary& vid, unsigned char** random, unsigned long* length);

// PKCS #1 v1.5 decryption of the input (1 to 2^32-1 bytes) with an opened RSA key into a buffer
// from allocMemory, failures logged as decrypt's: 0; 1315; the crypto layer's code.
int pkcs1Decrypt(Logger* logger, SGRSAPrivateKey* key, unsigned char* in, unsigned long inLength,
                 unsigned char** out, unsigned long* outLength);

// Empties the outputs of an export (each that is given).
void clearOutputs(unsigned char** key, unsigned long* keyLength, unsigned char** certificate,
                  unsigned long* certificateLength);

// Copies of the key and the certificate in the outputs: 0, or 1315 with the outputs empty.
int handOut(const SGBinary& keyBytes, const SGBinary& certBytes, unsigned char** key,
            unsigned long* keyLength, unsigned char** certificate,
            unsigned long* certificateLength);

// The pair of a suite that a pair item id names: "1"/"2" signing, "3"/"4" key-management (with
// strict, only "1" and "3"), both parts with bytes: 0, 1309, 1310 or 1316, logged as operation.
template <class Suite>
int selectPair(Logger* logger, const char* operation, const Suite* suite, const char* pairItemId,
               bool strict, const SGBinary** cert, const SGBinary** key) {
    if (!suite) {
        TOKEN_FATAL(logger, "%s - find cert failed1...(%d)()", operation, TOKEN_ERR_NO_CERTIFICATE);
        return TOKEN_ERR_NO_CERTIFICATE;
    }
    const char digit = lastCharacter(pairItemId);
    const bool sign = digit == TOKEN_ITEM_SIGN_CERT || (!strict && digit == TOKEN_ITEM_SIGN_KEY);
    const bool km = digit == TOKEN_ITEM_KM_CERT || (!strict && digit == TOKEN_ITEM_KM_KEY);
    *cert = sign ? suite->signCert : km ? suite->kmCert : nullptr;
    *key = sign ? suite->signKey : km ? suite->kmKey : nullptr;
    if (!*cert) {
        TOKEN_FATAL(logger, "%s - find cert failed2...(%d)()", operation, TOKEN_ERR_NO_CERTIFICATE);
        return TOKEN_ERR_NO_CERTIFICATE;
    }
    if (!*key) {
        TOKEN_FATAL(logger, "%s - find privateKey failed...(%d)()", operation,
                    TOKEN_ERR_NO_PRIVATE_KEY);
        return TOKEN_ERR_NO_PRIVATE_KEY;
    }
    if (!(*cert)->data || !(*cert)->length || !(*key)->data || !(*key)->length)
        return TOKEN_ERR_EXPORT_EMPTY;
    return 0;
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
