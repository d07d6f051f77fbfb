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

// How a signature is made (Token::generateSignature): 0 PKCS #1 of the data's digest; 1 CMS with
// the signer named by subject, as a bare SignedData; 2 CMS; 3 PKCS #1 in raw mode; 4 CMS with
// detached content; any other value CMS.
typedef int SignType;
// What the input of the text-level entries is: 2 a Base64 file path whose content is signed; 4
// as 2, the file's name, "^" and its content; any other value Base64 data. In CMS signing 1
// (a DigestInfo) and 3 (a finished digest) also set the content mode.
typedef int SignInputType;

// Where Token::encryptVIDRandom puts the identity-check random: 1 a PKCS #7 EnvelopedData; any
// other value a HashContent under a fresh SEED key, the key RSA-encrypted before it.
typedef int VIDEnvelopeType;

// Key-decoding modes of Token::decryptPrivateKeyFromPKCS8.
enum TokenKeyMode : int { TOKEN_KEY_RECORD = 0, TOKEN_KEY_OCTETS = 1, TOKEN_KEY_INFO = 2 };

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
    // Copies the item's certificate with its key (and its key-management pair) to the
    // destination: the destination's import opened with the handler's password (purpose 11),
    // each pair exported with the same handler (purpose 15) and imported, the signing pair with
    // keepNewer, the import closed in every case once opened. 0; the first failure's code.
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

    // ---- Import and copy ----------------------------------------------------------------------
    //
    // One certificate with its plain PrivateKeyInfo through the kind's ten-argument import (the
    // KISA random and, for KCDSA keys, the domain parameters handed on). 0; 1327 the key does
    // not decode; import's codes.
    int importPrivateKeyInfo(unsigned char* privateKeyInfo, unsigned long length,
                             unsigned char* certificate, unsigned long certificateLength,
                             unsigned int keepNewer);
    // The same for an EncryptedPrivateKeyInfo opened with the password: 1017 not one; 1328 the
    // password does not open it; 1315; import's codes.
    int importEncryptedPrivateKeyInfo(unsigned char* password, unsigned long passwordLength,
                                      unsigned char* encryptedPrivateKeyInfo, unsigned long length,
                                      unsigned char* certificate, unsigned long certificateLength);
    // Every certificate with its key of a PKCS #12 file, through the common import step; the
    // caller brackets it with importInit and importFinal. Every pair is read and checked before
    // the first is written; a holder's signing pair goes first and replaces its earlier
    // key-management pair; a failure takes back what the open import wrote (the disk token's
    // import undoes the open import when it fails). 0 only when at least one pair was imported;
    // 1031 wrong password; 1032 not DER; 1030 any other PKCS #12 failure, a file without any
    // certificate with its key, pairs that would take the same file names, or an RSA key whose
    // modulus or public exponent is not its certificate's (KCDSA keys are not checked); 1327 a
    // key that is no PrivateKeyInfo; import's codes.
    int importPFX(unsigned char* password, unsigned long passwordLength, unsigned char* pfx,
                  unsigned long pfxLength, unsigned int keepNewer);
    // The pair of pairItemId (and, for a signing pair, its key-management pair) as a PKCS #12
    // file under a password asked with purpose 16 (inputPIN when askOnce, else inputDoublePin):
    // each pair with its own 10-byte random localKeyId, certificates in a triple-DES
    // EncryptedData, keys shrouded, SHA-1 MAC. 0 always with bytes; 1302 cancelled; 1305 no
    // handler, or an empty or over-long file password; 1315; 1316; 1317; 1319; the kind's
    // export codes (1022 a wrong key password). On failure *out is null and *outLength 0.
    int exportPFX(unsigned char** out, unsigned long* outLength, InputPINHandler* handler,
                  const char* suiteItemId, const char* pairItemId, bool askOnce);
    // The Base64 form of the virtual pushCertificate: the decoding's code, or its result.
    int pushCertificate(InputPINHandler* handler, const char* itemId, const char* base64Data,
                        const char* base64Data2);

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

    // ---- Stored keys and local signing ----------------------------------------------------
    //
    // Opens a stored key: an EncryptedPrivateKeyInfo decrypted with the password, or a plain
    // PrivateKeyInfo (no password needed). Every output may be null. The key output by mode:
    //   TOKEN_KEY_RECORD  a zeroed key record of the kind keyRecord names: an SGRSAPrivateKey for
    //                     PKI_TYPE_NPKI (RSA keys only), an SGDSKey for PKI_TYPE_GPKI (KCDSA keys
    //                     only, decoded as a KCDSA private key); with both parameter outputs, a
    //                     copy of the KCDSA domain parameters (released with freeMemory)
    //   TOKEN_KEY_OCTETS  an empty SGBinary that receives the private-key octets
    //   TOKEN_KEY_INFO    an empty SGPKCS8PrivateKeyInfo that receives the whole decoded record,
    //                     then the caller's (SGPKCS8PrivateKeyInfo_Cleanse); nothing else is set
    // random (modes 0 and 1): an empty SGBinary that receives a copy of the randomNum attribute.
    // The form without keyRecord names PKI_TYPE_NPKI. On failure no output holds anything.
    // 0; 1017 neither form of PKCS #8; 1307 a key algorithm or encryption the library lacks, a
    // key of another kind than the record, an unknown mode or record; 1312 a key that does not
    // decode into its record, or damaged encryption parameters; 1315 memory; 1328 the password
    // does not open the key (or what it opens is no PrivateKeyInfo).
    int decryptPrivateKeyFromPKCS8(void* key, void* random, unsigned char** parameters,
                                   unsigned long* parametersLength, unsigned char* data,
                                   unsigned long length, unsigned char* password,
                                   unsigned long passwordLength, int mode);
    int decryptPrivateKeyFromPKCS8(void* key, void* random, unsigned char** parameters,
                                   unsigned long* parametersLength, unsigned char* data,
                                   unsigned long length, unsigned char* password,
                                   unsigned long passwordLength, int mode, PKIType keyRecord);

    // Signs data as given (a DigestInfo, a whole PKCS #1 block, or for KCDSA the message) with
    // the key record (an SGRSAPrivateKey for PKI_TYPE_NPKI, an SGDSKey for PKI_TYPE_GPKI), or
    // with the local key pair of keyId when key is null. PKCS #1 v1.5 for NPKI; KCDSA with
    // SHA-256 and the domain parameters of the parameters record for GPKI. A null output asks
    // the signature's length. An output shorter than the signature is refused before signing
    // (557, the needed length reported). 0; 1300 no local pair; 1307 another PKIType; 1312
    // missing length; the crypto layer's codes.
    int generateSignatureLocal(unsigned char* out, unsigned long* outLength, unsigned char* data,
                               unsigned long length, void* key, const char* keyId,
                               const char* itemId, TokenGenerateSignatureParameters* parameters,
                               PKIType pkiType);

    // ---- Signatures ---------------------------------------------------------------------------
    //
    // Text level: the input by the parameters' input type (Base64 data, or a Base64 file path),
    // refused with 1029 beyond the parameters' limit in MiB, signed by the byte level; a
    // signature handed back (also with a non-zero code) comes out as Base64 text, released with
    // freeMemory.
    int generateSignature(char** out, InputPINHandler* handler, char* input, const char* keyId,
                          const char* certificateId, TokenGenerateSignatureParameters* parameters,
                          SignType type);
    // Byte level, by type. The type's options are applied to a copy: the caller's record is
    // never changed. With the verify flag, a signature of type 0, 2 or 4 that was made is
    // verified: 1500 when it does not hold, the signature still handed out.
    int generateSignature(unsigned char** out, unsigned long* outLength, InputPINHandler* handler,
                          unsigned char* data, unsigned long length, const char* keyId,
                          const char* certificateId, TokenGenerateSignatureParameters* parameters,
                          SignType type);
    // PKCS #1 v1.5 of the data's SHA-1 or SHA-256 DigestInfo (raw mode: SHA-256 with the fixed
    // 10-byte parameters) through generateSignatureRAW; a GPKI key signs the data itself. A null
    // *out receives a buffer of the key size.
    int generateSignaturePKCS1(unsigned char** out, unsigned long* outLength,
                               InputPINHandler* handler, unsigned char* data, unsigned long length,
                               const char* keyId, const char* unused,
                               TokenGenerateSignatureParameters* parameters);
    // CMS SignedData (SHA-256) with the certificate of certificateId, the key staying in the
    // token behind the key callbacks. A cancelled password gives the token's 1302.
    int generateSignatureCMS(unsigned char** out, unsigned long* outLength,
                             InputPINHandler* handler, unsigned char* data, unsigned long length,
                             const char* keyId, const char* certificateId,
                             TokenGenerateSignatureParameters* parameters);
    // Type 0: the PKCS #1 signature with the key id's certificate and the hash it was made
    // with; 2: a CMS signature with its content; 4: a detached CMS signature over the data.
    // Other types 0. -1 without key id (0) or data (4), -2 without certificate.
    int verifySignature(unsigned char* signature, unsigned long length, unsigned char* data,
                        unsigned long dataLength, const char* keyId,
                        TokenGenerateSignatureParameters* parameters, SignType type);
    // The signed data of a Base64 file path: the content (type 2) or name "^" content.
    // -1 path not Base64; 1340 not read; 1342 reading refused.
    int readPlainFromFile(unsigned char** out, unsigned long* outLength, char* base64Path,
                          SignInputType type);
    // Writes the signature (Base64-decoded, or the text itself when plain) to the Base64 path.
    // 1341 not Base64 or not written; 1343 writing refused.
    int writeSignature(char* base64Path, char* signature, bool plainText);

    // ---- Envelopes and the identity-check random ---------------------------------------------
    //
    // A PKCS #7 EnvelopedData (SEED-CBC) of the input (Base64 data, or for input types 2 and 4
    // a Base64 file path) for the certificate's holder, as Base64 text. 1320 the certificate
    // does not decode; 1321 enveloping failed; the decoder's or file's code.
    int envelope(char** out, unsigned char* certificate, unsigned long certificateLength,
                 unsigned char* input, unsigned long inputLength, SignInputType type);
    // The same for the certificate of the item id.
    int envelope(char** out, const char* itemId, unsigned char* input, unsigned long inputLength);
    // Opens an EnvelopedData with the key id's key, which stays in the token; the content as
    // Base64 text. Type 6: a bare EnvelopedData, and the content key as Base64 in keyOut; type
    // 7: the input is the raw DER of a bare EnvelopedData. A cancelled password gives 1302.
    int deenvelope(char** out, const char* keyId, InputPINHandler* handler, unsigned char* input,
                   unsigned long inputLength, char** keyOut, SignInputType type);
    // The item's identity-check random for the server certificate's holder: type 1 an
    // EnvelopedData of it; otherwise the RSA PKCS #1 v1.5 encryption of a fresh 16-byte SEED key
    // followed by the SEED-CBC encryption (zero IV) of HashContent { "", random }. An empty
    // random gives an empty output and 0.
    int encryptVIDRandom(unsigned char** out, unsigned long* outLength, InputPINHandler* handler,
                         const char* itemId, unsigned char* serverCertificate,
                         unsigned long serverCertificateLength, VIDEnvelopeType type);
    int encryptVIDRandom(char** out, InputPINHandler* handler, const char* itemId,
                         unsigned char* serverCertificate, unsigned long serverCertificateLength,
                         VIDEnvelopeType type);

    // The certificate's CRL and its CA's authority revocation list, fetched over LDAP from the
    // first LDAP URI of each distribution-point extension, each kept as "cert.crl" in a folder
    // named by its point ("ou=..." and "cn=..." up to a "?") below the NPKI folder's
    // "Lindsign/CRL" (created first, owner-only). A list is written only when its issuer is the
    // CA (the CA's issuer) of the certificate's chain and it verifies with that key.
    // 0; 1312 the certificate, a point or a list is unusable; 1336 a folder or file not made;
    // 1615 no CA in the chain.
    int writeCRL(unsigned char* certificate, unsigned long length);

    // ---- Certificate checks ------------------------------------------------------------------
    //
    // The file name of one certificate file: NPKI "signCert.der", "kmCert.der", "signPri.key",
    // "kmPri.key"; GPKI base + "_sig.cer", "_env.cer", "_sig.key", "_env.key".
    std::wstring getCertFileName(const bool& npki, const bool& certificate, const bool& signing,
                                 const std::wstring& base);
    // The subject text without backslashes, cut to at most 1023 bytes at a character boundary;
    // empty when the certificate does not decode or has no subject.
    std::string getDNByCert(unsigned char* certificate, const unsigned long& length);
    // False only when the subject's O= value is exactly "Government of Korea".
    bool IsNPKI(unsigned char* certificate, const unsigned long& length);
    // Whether the key usage names digitalSignature; true without a certificate, without the
    // extension and on decoding errors.
    bool IsDigitalSignature(unsigned char* certificate, const unsigned long& length);
    // Whether the new certificate may replace the old one: its validity starts and ends no
    // earlier. A new certificate that does not decode or has no readable dates never does; an
    // old one of that kind always may be replaced.
    bool checkCertificate(unsigned char* oldCertificate, unsigned int oldLength,
                          unsigned char* newCertificate, unsigned int newLength);

    // ---- Software key pairs ------------------------------------------------------------------
    //
    // The virtual generateKeyPair with the public key as Base64 text (released with freeMemory).
    int generateKeyPair(char** keyId, char** base64PublicKey, InputPINHandler* handler,
                        TokenGenerateKeyPairParameters* parameters);
    // Registers the current key pair of the item id's signing certificate (exported through the
    // virtual exportCertificateAndKey) as a local pair: its id and public key (the certificate's
    // subjectPublicKey) are handed out. 0; 1302 and 1022 of the export; 1320 the certificate does
    // not decode; 1332 no key or certificate, or the public key cannot be read; 1315 memory.
    int getOldKeyPair(char** keyId, unsigned char** publicKey, unsigned long* publicKeyLength,
                      const char* itemId, InputPINHandler* handler);

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

// The user data of the key callbacks, on the caller's stack: the callbacks keep the last token
// code they got in result (0 at start), so a caller can tell a cancelled password (1302) from
// a library failure.
struct TOKEN_EXPORT TokenKeyCallbackContext {
    long result;
    Token* token;
    const char* keyId;  // the item id whose key signs or decrypts
    InputPINHandler* handler;
};

// The key callbacks through which the PKI layer signs and decrypts with a token's key without
// holding it. Each returns the token's code, or 1307 for a request the tokens cannot honour.
extern "C" {
// The token's getKeySize for the key id.
TOKEN_EXPORT int P1GetKeySizeCallback(unsigned int* size, void* context);
// The token's generateSignatureRAW over the input (a PKCS #1 block or DigestInfo, or a KCDSA
// message). *length: in, the room of out; out, the signature's length. A signature longer than
// the room gives 1312 and nothing is copied. PSS, KCDSA with another hash than SHA-256 and any
// other scheme give 1307.
TOKEN_EXPORT int P1SignCallback(unsigned char* out, unsigned int* length,
                                const unsigned char* input, unsigned int inputLength,
                                unsigned int algorithm, void* context);
// The token's decrypt (PKCS #1 v1.5) of the input into out, which holds as many bytes as the
// input; *length receives the plaintext's length. Any padding word but PKCS #1 v1.5 gives 1307.
TOKEN_EXPORT int DecryptCallback(unsigned char* out, unsigned int* length,
                                 const unsigned char* input, unsigned int inputLength,
                                 unsigned int padding, void* context);
}

#endif
