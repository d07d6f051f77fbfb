// The token of one PKCS #12 file held in memory: its caller hands over the file's bytes, a
// listing opens them with the password the user gives, and every certificate with its key is
// then served from memory, one PFXCertificateSuite per subject. Nothing is ever written back.
//
// Inside the token each key is kept re-encrypted under its certificate's identifier (the
// upper-case hex SHA-1 of the subject text), so using a key needs no further input; the file's
// password is kept beside it and compared whenever an operation asks the user for it.
#ifndef PFX_FILE_TOKEN_H
#define PFX_FILE_TOKEN_H

#include <map>
#include <string>

#include "Token.h"

class TOKEN_EXPORT PFXFileToken : public Token {
  public:
    using SuiteMap = std::map<std::string, PFXCertificateSuite*>;

    explicit PFXFileToken(const char* name);
    ~PFXFileToken() override;

    // Releases every suite (keys and password wiped) and empties the map.
    void clearCertificateAndKey();
    int sizeCertificateAndKey();
    // Stores the suite under the identifier. An identifier already present keeps its suite:
    // false, and the caller still owns the one it passed.
    bool addCertificateAndKey(const char* identifier, void* suite);
    // The same under the identifier of the decimal text of number.
    bool addCertificateAndKey(void* suite, int number);
    // Removes the entry of the item id without releasing its suite.
    void eraseCertificateAndKey(const char* itemId);
    // The suite of an item id (its last character dropped), or null.
    PFXCertificateSuite* findCert(const char* itemId);
    int getCertificateSuite(void*, void*, int);
    // A stored key (EncryptedPrivateKeyInfo) re-encrypted from the old password to the new one,
    // as a buffer from allocMemory: 0; 1312 not a key or not re-encodable; 1328 the old password
    // does not open it; 1307 an encryption the library lacks; 1315.
    int changePrivateKeyPassword(unsigned char** out, unsigned long* outLength, unsigned char* key,
                                 unsigned int keyLength, unsigned char* oldPassword,
                                 unsigned long oldLength, unsigned char* newPassword,
                                 unsigned long newLength);
    // The length in bytes of the signing certificate's RSA modulus, or of the prime p of its
    // KCDSA key's domain: 0, 1309, 1301.
    int getKeyLength(const char* itemId, int* length);
    // Drops the file's bytes; the suites stay.
    void clearOptions();
    // The five-buffer import of the disk token: 1307.
    int import(unsigned char* signKey, unsigned long signKeyLength, unsigned char* signCert,
               unsigned long signCertLength, unsigned char* kmKey, unsigned long kmKeyLength,
               unsigned char* kmCert, unsigned long kmCertLength, unsigned char* caPubs,
               unsigned long caPubsLength);

    // The identifier of a subject text: 40 upper-case hex digits of its SHA-1; empty when the
    // digest cannot be made.
    static std::string identifierOf(const std::string& subject);

    // ---- Token operations ----------------------------------------------------------------------
    int initToken(unsigned char* pin, unsigned long pinLength, unsigned char* label) override;
    int setPIN(unsigned char* oldPin, unsigned long oldPinLength, unsigned char* newPin,
               unsigned long newPinLength) override;
    int setCertificatePIN(const char* itemId, unsigned char* oldPin, unsigned long oldPinLength,
                          unsigned char* newPin, unsigned long newPinLength) override;
    // Whether the password (up to its NUL, within pinLength) is the file's: 0; 1309 unknown id
    // or no signing certificate; 1310 no signing key; 1022.
    int verifyPin(const char* itemId, unsigned char* pin, unsigned long pinLength) override;
    int finalizeToken() override;
    int getTokenGrade() override;
    int getTokenStatus() override;
    // Opens the file with the password asked (purpose 6) and lists one row per subject, in the
    // order of the identifiers. Without file bytes: 0 and no rows, nothing asked. Outputs set on
    // entry (null, 0); every failure leaves the token without suites. 0; 1305 no handler; 1302
    // cancelled; 1031 wrong password; 1032 not DER; 1030 rejected otherwise; 1312; 1315.
    int getCertificateList(ShortCertificate** list, unsigned int* count, int filter,
                           InputPINHandler* handler, const char* argument) override;
    using Token::getCertificate;
    // The signing ("1") or key-management ("3") certificate; other digits: 0, nothing written.
    int getCertificate(const char* itemId, unsigned char** der, unsigned long* length) override;
    using Token::getPrivateKey;
    // The signing ("1", "2") or key-management ("3", "4") key as an EncryptedPrivateKeyInfo
    // under the password asked (purpose 6), which must be the file's: 0; 1309; 1305; 1302;
    // 1022; changePrivateKeyPassword's codes.
    int getPrivateKey(const char* itemId, unsigned char** key, unsigned long* length,
                      InputPINHandler* handler) override;
    using Token::getPath;
    int getPath(const char* itemId, unsigned char** path, unsigned long* length) override;
    // PKCS #1 v1.5 decryption with the local key pair of the id, else with the suite's signing
    // ("2") or key-management ("4") key; no password asked. 1300 no id; 1309; 1310 no such key;
    // 1307 a key that is not RSA.
    int decrypt(unsigned char** out, unsigned long* outLength, unsigned char* in,
                unsigned long inLength, InputPINHandler* handler, const char* keyId,
                TokenDecryptParameters* parameters) override;
    using Token::pushCertificate;
    int pushCertificate(InputPINHandler* handler, const char* itemId, const unsigned char* data,
                        unsigned long length, const unsigned char* data2,
                        unsigned long length2) override;
    // Nothing is written back to the file: 1309 for an unknown id, 1307 otherwise.
    int deleteCertificate(const char* itemId, InputPINHandler* handler) override;
    int changeCertificatePIN(const char* itemId, InputPINHandler* handler) override;
    using Token::importEncryptedPrivateKeyInfo;
    int importEncryptedPrivateKeyInfo(unsigned char* signKey, unsigned long signKeyLength,
                                      unsigned char* signCert, unsigned long signCertLength,
                                      unsigned char* kmKey, unsigned long kmKeyLength,
                                      unsigned char* kmCert, unsigned long kmCertLength,
                                      InputPINHandler* handler) override;
    // Keeps the password (at most 127 bytes; a longer one is refused with 1312, never cut) or
    // asks one (inputDoublePin, purpose 13). Every import that follows answers 1307.
    int importInit(unsigned char* pin, unsigned long pinLength, InputPINHandler* handler,
                   InputPINHandler::InputPINPurpose purpose) override;
    using Token::import;
    int import(unsigned char* privateKey, unsigned long privateKeyLength,
               unsigned char* certificate, unsigned long certificateLength,
               unsigned char* vidRandom, unsigned long vidRandomLength, unsigned char* dsParameters,
               unsigned long dsParametersLength, unsigned int keepNewer,
               const bool& replaceKM) override;
    int importCAPubs(unsigned char* data, unsigned long length) override;
    // Wipes the kept import password; 1307 (nothing was imported).
    int importFinal() override;
    // options: an SGBinary* with the file's DER (null: no file). Drops the suites. 0; 1315.
    int setTokenOptions(void* options) override;
    // The key of the pair ("1" signing, "3" key-management) as a plain PrivateKeyInfo, and its
    // certificate, after the password asked (purpose 15) matched the file's. Outputs empty on
    // every failure. 0; 1309; 1310; 1316; 1305; 1302; 1022; 1315; the handler's other values.
    int exportCertificateAndKey(unsigned char** key, unsigned long* keyLength,
                                unsigned char** certificate, unsigned long* certificateLength,
                                InputPINHandler* handler, const char* suiteItemId,
                                const char* pairItemId) override;
    // The identity-check random of the signing key (length 0 without one): 0; 1309; 1310; 1301.
    int getVIDRandom(unsigned char** random, unsigned long* length, InputPINHandler* handler,
                     const char* itemId) override;
    int getKMID(char** kmKeyId, char** kmCertId, const char* itemId) override;
    int certificateSynchronize(const char* itemId, unsigned char* signPin,
                               unsigned long signPinLength, unsigned char* kmPin,
                               unsigned long kmPinLength) override;
    int getKeySize(unsigned long* size, InputPINHandler* handler, const char* keyId) override;
    // Signs with the suite's signing key after the password asked (purpose 6) matched the
    // file's, or with the local key pair of keyId when no suite has the item id.
    int generateSignatureRAW(unsigned char* out, unsigned long* outLength, InputPINHandler* handler,
                             unsigned char* in, unsigned long inLength, const char* keyId,
                             const char* itemId,
                             TokenGenerateSignatureParameters* parameters) override;

  private:
    int notSupported(const char* operation);
    // The stored key of a suite opened with its identifier into a record of the key's kind.
    int openStoredKey(const SGBinary* stored, const std::string& identifier, void* rsa, void* ds,
                      PKIType* kind, TokenGenerateSignatureParameters* parameters);
    // Asks the file's password with the purpose and compares it with the suite's: 0; 1305;
    // 1302 (or with passOther, the handler's other values); 1022.
    int askFilePassword(const char* operation, const PFXCertificateSuite& suite,
                        InputPINHandler* handler, int purpose, bool passOther);

    SuiteMap suites;     // identifier -> suite, all owned
    unsigned char* pfx;  // the file's bytes, owned
    unsigned int pfxLength;
    char importPIN[128];  // what importInit was given; nothing reads it
};

#endif
