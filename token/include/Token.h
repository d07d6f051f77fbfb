// The abstract token: one certificate store (a disk with NPKI and GPKI folders, a PKCS #12 blob,
// an in-memory store) behind a fixed table of virtual operations, with the records that cross
// between the token manager and its callers.
#ifndef TOKEN_H
#define TOKEN_H

#include <string>

#include "InputPINHandler.h"
#include "SGBinary.h"
#include "TokenDefs.h"

class Logger;
class TokenLocalKeyStorage;

// One listed certificate as fixed-size NUL-terminated UTF-8 texts (1680 bytes). A listing hands
// out one zeroed array of these; the caller releases it with Token::freeMemory.
struct TOKEN_EXPORT ShortCertificate {
    char subject[256];           // subject DN text, backslashes removed
    char issuer[256];            // issuer DN text, backslashes removed
    char serialNumber[100];      // serial number in hexadecimal
    char validFrom[20];          // start of validity, "%Y%m%d%H%M%S"
    char validTo[20];            // end of validity, "%Y%m%d%H%M%S"
    char policyID[256];          // certificate-policy OID
    char policyUserNotice[256];  // policy user-notice text
    char signCertID[128];        // identifier + "1"
    char signKeyID[128];         // identifier + "2"
    char kmCertID[128];          // identifier + "3", or a copy of signCertID
    char kmKeyID[128];           // identifier + "4", or a copy of signKeyID
    int pkiType;                 // PKIType
};

// One certificate with its files in memory, owned by the token that holds it. A part whose file
// is absent is null.
struct TOKEN_EXPORT CertificateSuite {
    char* path;  // folder (NPKI) or base path (GPKI) of the files
    SGBinary* signCert;
    SGBinary* signKey;  // the key file's bytes, still encrypted
    SGBinary* kmCert;
    SGBinary* kmKey;
    SGBinary* caPubs;  // "CaPubs" bytes
    int pkiType;       // PKIType
};

// One certificate from a PKCS #12 blob; path and caPubs stay null.
struct TOKEN_EXPORT PFXCertificateSuite {
    char* path;
    SGBinary* signCert;
    SGBinary* signKey;
    SGBinary* kmCert;
    SGBinary* kmKey;
    SGBinary* caPubs;
    char password[128];  // the password that opened the blob
};

// One software key pair (DER).
struct TOKEN_EXPORT LocalKeySet {
    SGBinary publicKey;
    SGBinary privateKey;
};

// Filled by the caller of Token::generateSignature (48 bytes).
struct TOKEN_EXPORT TokenGenerateSignatureParameters {
    char* hashName;            // "sha1..." selects SHA-1, anything else SHA-256
    bool pkcs1Raw;             // PKCS #1 raw mode
    bool cmsSignerBySubject;   // CMS: name the signer by its subject
    bool cmsBareSignedData;    // CMS: SignedData without ContentInfo
    bool cmsDetached;          // CMS: detached content
    bool cmsSignedAttributes;  // CMS: add signed attributes
    int signInputType;
    int inputLimitMiB;            // longer input is refused with 1029
    unsigned char* dsParameters;  // the signing key's domain parameters (DER)
    unsigned long dsParametersLength;
    bool verifyAfterSigning;
};

struct TOKEN_EXPORT TokenGenerateKeyPairParameters {
    unsigned char reserved[8];  // not read
    unsigned int keySize;       // RSA modulus length in bits
};

// Handed to decrypt; no operation reads it.
struct TOKEN_EXPORT TokenDecryptParameters {
    void* reserved;
};

class TOKEN_EXPORT Token {
  public:
    Token(const char* name, const char* kind, InputPINHandler::TokenType type);
    Token(const Token&) = delete;
    Token& operator=(const Token&) = delete;

    // The virtual operations in their fixed order: modules loaded into the process call them by
    // position, so the order never changes.
    virtual ~Token();
    virtual int initToken(unsigned char* pin, unsigned long pinLength, unsigned char* label) = 0;
    virtual int setPIN(unsigned char* oldPin, unsigned long oldPinLength, unsigned char* newPin,
                       unsigned long newPinLength) = 0;
    virtual int setCertificatePIN(const char* itemId, unsigned char* oldPin,
                                  unsigned long oldPinLength, unsigned char* newPin,
                                  unsigned long newPinLength) = 0;
    virtual int verifyPin(const char* itemId, unsigned char* pin, unsigned long pinLength) = 0;
    virtual int finalizeToken() = 0;
    virtual int generateKeyPair(char** keyId, unsigned char** publicKey,
                                unsigned long* publicKeyLength, InputPINHandler* handler,
                                TokenGenerateKeyPairParameters* parameters);
    virtual int getTokenGrade() = 0;
    virtual int getTokenStatus() = 0;
    virtual int getCertificateList(ShortCertificate** list, unsigned int* count, int filter,
                                   InputPINHandler* handler, const char* argument) = 0;
    virtual int getCertificate(const char* itemId, unsigned char** der, unsigned long* length) = 0;
    virtual int getPrivateKey(const char* itemId, unsigned char** key, unsigned long* length,
                              InputPINHandler* handler) = 0;
    virtual int getPath(const char* itemId, unsigned char** path, unsigned long* length) = 0;
    virtual int decrypt(unsigned char** out, unsigned long* outLength, unsigned char* in,
                        unsigned long inLength, InputPINHandler* handler, const char* keyId,
                        TokenDecryptParameters* parameters);
    virtual int pushCertificate(InputPINHandler* handler, const char* itemId,
                                const unsigned char* data, unsigned long length,
                                const unsigned char* data2, unsigned long length2);
    virtual int deleteCertificate(const char* itemId, InputPINHandler* handler) = 0;
    virtual int copyCertificate(const char* itemId, InputPINHandler* handler, Token* destination,
                                unsigned int flags);
    virtual int changeCertificatePIN(const char* itemId, InputPINHandler* handler) = 0;
    virtual int exportCertificateAndEncryptPrivateKey(unsigned char** key, unsigned long* keyLength,
                                                      unsigned char** certificate,
                                                      unsigned long* certificateLength,
                                                      const char* suiteItemId,
                                                      const char* pairItemId,
                                                      InputPINHandler* handler);
    virtual int importEncryptedPrivateKeyInfo(unsigned char* signKey, unsigned long signKeyLength,
                                              unsigned char* signCert, unsigned long signCertLength,
                                              unsigned char* kmKey, unsigned long kmKeyLength,
                                              unsigned char* kmCert, unsigned long kmCertLength,
                                              InputPINHandler* handler) = 0;
    // Pure; Token's own body (reached by a qualified call) guards against a nested import.
    virtual int importInit(unsigned char* pin, unsigned long pinLength, InputPINHandler* handler,
                           InputPINHandler::InputPINPurpose purpose) = 0;
    virtual int getPhysicalBasePath(std::wstring& out, unsigned char* certificate,
                                    const unsigned long& certificateLength);
    virtual bool checkNPKI(const char* itemId);
    virtual int import(char* keyId, unsigned char* certificate, unsigned long certificateLength,
                       unsigned char* vidRandom, unsigned long vidRandomLength,
                       const bool& keepNewer);
    virtual int import(unsigned char* privateKey, unsigned long privateKeyLength,
                       unsigned char* certificate, unsigned long certificateLength,
                       unsigned char* vidRandom, unsigned long vidRandomLength,
                       unsigned char* dsParameters, unsigned long dsParametersLength,
                       unsigned int keepNewer, const bool& replaceKM) = 0;
    virtual int importCAPubs(unsigned char* data, unsigned long length) = 0;
    virtual int importFinal();
    virtual int setTokenOptions(void* options) = 0;
    virtual int exportCertificateAndKey(unsigned char** key, unsigned long* keyLength,
                                        unsigned char** certificate,
                                        unsigned long* certificateLength, InputPINHandler* handler,
                                        const char* suiteItemId, const char* pairItemId);
    virtual int getVIDRandom(unsigned char** random, unsigned long* length,
                             InputPINHandler* handler, const char* itemId) = 0;
    virtual int getKMID(char** kmKeyId, char** kmCertId, const char* itemId) = 0;
    virtual char* getNPKIRoot();
    virtual int certificateSynchronize(const char* itemId, unsigned char* signPin,
                                       unsigned long signPinLength, unsigned char* kmPin,
                                       unsigned long kmPinLength) = 0;
    virtual int enableToken(const char* caName);
    virtual int accessCert(const char* itemId);
    virtual int getKeySize(unsigned long* size, InputPINHandler* handler, const char* keyId);
    virtual int generateSignatureRAW(unsigned char* out, unsigned long* outLength,
                                     InputPINHandler* handler, unsigned char* in,
                                     unsigned long inLength, const char* keyId, const char* itemId,
                                     TokenGenerateSignatureParameters* parameters) = 0;

    // Memory handed out by tokens: zeroed on allocation, wiped (when a length is given) and
    // freed on release. Null when memory is short.
    static unsigned char* allocMemory(unsigned int length);
    static void freeMemory(void* pointer, unsigned long length);
    static unsigned char* duplicateMemory(unsigned char* pointer, unsigned int length);

    // The error slot, for callers; no token operation writes it.
    void getError(int* code, const char** message);
    void setError(int code, const char* message);
    void clearError();

    void setRequirePINWhenInitToken();

    // The last error text: a reader gets its own copy (released with freeMemory), after which the
    // stored text reads empty.
    void setLastTokenErrorMessage(char* text);
    void getLastTokenErrorMessage(char** out);

    // Text forms of three virtual operations: Base64 of the bytes, or the path as text. The
    // texts are released with freeMemory.
    int getCertificate(const char* itemId, char** base64);
    int getPrivateKey(const char* itemId, char** base64, InputPINHandler* handler);
    int getPath(const char* itemId, char** text);

    // Password quality: 0 or 1023 to 1027.
    int checkPIN(unsigned char* pin, unsigned long length);

    // The seven text fields of a listed certificate from a parsed certificate (an
    // SGX509Certificate*); the second argument is not read.
    int generateShortCertificate(ShortCertificate* out, void* certificate, void* second);
    int generateShortCertificateFromBinary(ShortCertificate* out, unsigned char* signCert,
                                           unsigned long signCertLength, unsigned char* kmCert,
                                           unsigned long kmCertLength);

  protected:
    friend struct TokenLayout;  // checks the field offsets

    Logger* logger;  // the token manager's logger, not owned
    int errorCode;
    char errorMessage[1024];

  public:
    char name[256];  // display name
    char kind[256];  // "DISK DRIVE", "PKCS#12 TOKEN" or "PFX NPKI"

  protected:
    bool requirePINWhenInitToken;
    bool importing;  // set between the guarded importInit and importFinal
    InputPINHandler::TokenType tokenType;
    TokenLocalKeyStorage* localKeyStorage;
    char* lastErrorMessage;
};

#endif
