// The in-memory NPKI token: certificates and key files that a caller hands over with the folder
// they belong to, listed and used for signing like the disk token's, and never written anywhere.
// One process-wide instance (getInstance) joins every token list the registry builds and
// survives its rebuilds. Every writing or exporting operation answers 1307.
#ifndef PFX_NPKI_TOKEN_H
#define PFX_NPKI_TOKEN_H

#include <map>
#include <string>

#include "Token.h"

class TOKEN_EXPORT PFXNPKIToken : public Token {
  public:
    using SuiteMap = std::map<std::string, CertificateSuite*>;

    // The process-wide instance, made once (thread-safe) and never destroyed.
    static PFXNPKIToken* getInstance();

    // An independent instance ("PFX NPKI", type 9); the system uses only getInstance. The
    // destructor releases the suites it holds.
    explicit PFXNPKIToken(const char* name);
    ~PFXNPKIToken() override;

    // Stores copies of the buffers (SGBinary*: the signing certificate and key file must hold
    // bytes, the key-management pair is kept only when both hold bytes) under the identifier of
    // the path (upper-case hex SHA-1 of its bytes). A path already present keeps its first
    // suite. 0; 1312 a missing argument or empty signing part; 1315 memory.
    int addCertificateAndKey(void* signCert, void* signKey, void* kmCert, void* kmKey, char* path);
    // Takes the suite under the identifier: true; false for a missing argument or an identifier
    // already present, and the caller still owns the suite.
    bool addCertificateAndKey(const char* identifier, void* suite);
    // The suite of an item id (its last character dropped), or null.
    CertificateSuite* findCert(const char* itemId);
    // Releases every suite and empties the map.
    void clearMap();
    void clearCertificateAndKey();
    void eraseCertificateAndKey(const char* itemId);
    int sizeCertificateAndKey();  // 1307, not a count
    int changePrivateKeyPassword(std::wstring const& path, unsigned char* key,
                                 unsigned long keyLength, unsigned char* oldPin,
                                 unsigned long oldPinLength, unsigned char* newPin,
                                 unsigned long newPinLength);  // 1307
    int getKeyLength(const char* itemId, int* length);         // 1307
    int import(unsigned char* signKey, unsigned long signKeyLength, unsigned char* signCert,
               unsigned long signCertLength, unsigned char* kmKey, unsigned long kmKeyLength,
               unsigned char* kmCert, unsigned long kmCertLength, unsigned char* caPubs,
               unsigned long caPubsLength);  // 1307

    // ---- Token operations ----------------------------------------------------------------------
    int initToken(unsigned char* pin, unsigned long pinLength, unsigned char* label) override;
    int setPIN(unsigned char* oldPin, unsigned long oldPinLength, unsigned char* newPin,
               unsigned long newPinLength) override;
    int setCertificatePIN(const char* itemId, unsigned char* oldPin, unsigned long oldPinLength,
                          unsigned char* newPin, unsigned long newPinLength) override;
    // Whether the password (up to its NUL, within pinLength) opens the signing key of the item
    // id's suite: 0; 1309 unknown id; 1310 no key; 1022 it does not open; the key decoding's
    // other codes (1017, 1307, 1312, 1315).
    int verifyPin(const char* itemId, unsigned char* pin, unsigned long pinLength) override;
    int finalizeToken() override;
    int getTokenGrade() override;
    int getTokenStatus() override;
    // One row per suite in identifier order; no password asked.
    int getCertificateList(ShortCertificate** list, unsigned int* count, int filter,
                           InputPINHandler* handler, const char* argument) override;
    // "1"/"2" the signing certificate, "3"/"4" the key-management certificate; any other digit
    // or an empty part: 0 with nothing handed out. 1309 unknown id.
    int getCertificate(const char* itemId, unsigned char** der, unsigned long* length) override;
    int getPrivateKey(const char* itemId, unsigned char** key, unsigned long* length,
                      InputPINHandler* handler) override;
    // The suite's path text as bytes without terminator: 0; 1309; 1307 for a GPKI suite.
    int getPath(const char* itemId, unsigned char** path, unsigned long* length) override;
    // 1307: nothing is decrypted here, not even with a local key pair.
    int decrypt(unsigned char** out, unsigned long* outLength, unsigned char* in,
                unsigned long inLength, InputPINHandler* handler, const char* keyId,
                TokenDecryptParameters* parameters) override;
    using Token::pushCertificate;
    int pushCertificate(InputPINHandler* handler, const char* itemId, const unsigned char* data,
                        unsigned long length, const unsigned char* data2,
                        unsigned long length2) override;
    int deleteCertificate(const char* itemId, InputPINHandler* handler) override;
    int changeCertificatePIN(const char* itemId, InputPINHandler* handler) override;
    int exportCertificateAndEncryptPrivateKey(unsigned char** key, unsigned long* keyLength,
                                              unsigned char** certificate,
                                              unsigned long* certificateLength,
                                              const char* suiteItemId, const char* pairItemId,
                                              InputPINHandler* handler) override;
    using Token::importEncryptedPrivateKeyInfo;
    int importEncryptedPrivateKeyInfo(unsigned char* signKey, unsigned long signKeyLength,
                                      unsigned char* signCert, unsigned long signCertLength,
                                      unsigned char* kmKey, unsigned long kmKeyLength,
                                      unsigned char* kmCert, unsigned long kmCertLength,
                                      InputPINHandler* handler) override;
    int importInit(unsigned char* pin, unsigned long pinLength, InputPINHandler* handler,
                   InputPINHandler::InputPINPurpose purpose) override;
    int getPhysicalBasePath(std::wstring& out, unsigned char* certificate,
                            const unsigned long& certificateLength) override;
    using Token::import;
    int import(unsigned char* privateKey, unsigned long privateKeyLength,
               unsigned char* certificate, unsigned long certificateLength,
               unsigned char* vidRandom, unsigned long vidRandomLength, unsigned char* dsParameters,
               unsigned long dsParametersLength, unsigned int keepNewer,
               const bool& replaceKM) override;
    int importCAPubs(unsigned char* data, unsigned long length) override;
    int importFinal() override;
    int setTokenOptions(void* options) override;
    int exportCertificateAndKey(unsigned char** key, unsigned long* keyLength,
                                unsigned char** certificate, unsigned long* certificateLength,
                                InputPINHandler* handler, const char* suiteItemId,
                                const char* pairItemId) override;
    int getVIDRandom(unsigned char** random, unsigned long* length, InputPINHandler* handler,
                     const char* itemId) override;
    int getKMID(char** kmKeyId, char** kmCertId, const char* itemId) override;
    int certificateSynchronize(const char* itemId, unsigned char* signPin,
                               unsigned long signPinLength, unsigned char* kmPin,
                               unsigned long kmPinLength) override;
    // The local key pair of keyId first, then the public-key size of the signing certificate:
    // 0; 1309; 1301.
    int getKeySize(unsigned long* size, InputPINHandler* handler, const char* keyId) override;
    // Signs with the suite's signing key opened with the password asked (purpose 6; any handler
    // result but 0 gives 1302), or with the local key pair of keyId when no suite has the item
    // id. A wrong password fails where the key is opened. A null parameter record counts as a
    // zeroed one.
    int generateSignatureRAW(unsigned char* out, unsigned long* outLength, InputPINHandler* handler,
                             unsigned char* in, unsigned long inLength, const char* keyId,
                             const char* itemId,
                             TokenGenerateSignatureParameters* parameters) override;

    // Releases a suite made by addCertificateAndKey (path text, byte buffers, the record).
    static void releaseSuite(CertificateSuite* suite);

    SuiteMap* suites;  // identifier -> suite, all owned
};

#endif
