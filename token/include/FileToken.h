// The token of one disk (the home folder or a mounted volume): the NPKI and GPKI certificates in
// its folder trees, each kept with its key files in memory as a CertificateSuite.
//
// Layout below a base folder (the home folder's Library/Preferences, or a volume's root):
//   NPKI/<CA>/USER/<subject>/{signCert.der, signPri.key, kmCert.der, kmPri.key, CaPubs}
//   GPKI/Certificate/class1|class2/<name>{_sig.cer, _sig.key, _env.cer, _env.key}
// A suite's identifier is the upper-case hex SHA-1 of its path; its item ids append "1" (signing
// certificate), "2" (signing key), "3" (key-management certificate) or "4" (key-management key).
#ifndef FILE_TOKEN_H
#define FILE_TOKEN_H

#include <map>
#include <string>
#include <vector>

#include "Token.h"

class TOKEN_EXPORT FileToken : public Token {
  public:
    using SuiteMap = std::map<std::string, CertificateSuite*>;

    // root: "/" for the home token, the volume's name otherwise; name: the display name.
    FileToken(const char* root, const char* name);
    ~FileToken() override;

    // Adds <base>/NPKI and <base>/GPKI/Certificate, whether or not they exist.
    void setPKIDir(std::string base);
    void setSystemDrive(bool value);
    void setNPKIDir(std::vector<char*> folders);
    void setGPKIDir(std::vector<char*> folders);

    // The suite of an item id (its last character dropped), or null.
    CertificateSuite* findCert(const char* itemId);
    // Stores the suite under the identifier of the path (or under the given identifier). An
    // identifier already present keeps its first suite: false, and the caller still owns the one
    // it passed.
    bool addCertificateAndKey(CertificateSuite* suite, const char* path);
    bool addCertificateAndKey(const char* identifier, CertificateSuite* suite);
    // Removes the entry of the item id without releasing its suite.
    void eraseCertificateAndKey(const char* itemId);
    void clearCertificateAndKey();
    int sizeCertificateAndKey();

    // The identifier of a suite path: 40 upper-case hex digits of its SHA-1; empty when the
    // digest cannot be made.
    static std::string identifierOf(const std::string& path);
    // Releases a suite made by a scan (path text, byte buffers, the record).
    static void releaseSuite(CertificateSuite* suite);

    // ---- Token operations ----------------------------------------------------------------------
    int initToken(unsigned char* pin, unsigned long pinLength, unsigned char* label) override;
    int setPIN(unsigned char* oldPin, unsigned long oldPinLength, unsigned char* newPin,
               unsigned long newPinLength) override;
    // Rewrites the signing key file and, when the suite has one, the key-management key file
    // under the new password (PBES2, PBKDF2-HMAC-SHA-1 with 2048 iterations, SEED-CBC for NPKI,
    // ARIA-128-CBC for GPKI). Both keys are opened with the old password, both new files are
    // written, flushed and opened again with the new one before the first is renamed into place,
    // and a failed rename or flush puts back what was renamed: a refusal leaves both files as
    // they were. A key that opens only with the new password is left as it is when the other
    // opens with the old one (a change a crash cut short is completed by repeating it). Key
    // files whose bytes differ from the listing's are not touched. Afterwards (also after a
    // refusal) the suite holds the bytes on disk, so the new password opens it without a new
    // listing. Passwords are taken up to their NUL within the given length.
    // 0; 1309 unknown id; 1310 no signing key; 1312 empty new password, a key file changed since
    // the listing or not a key file; 1328 the old password does not open the signing key; 1043
    // nor the key-management key; 1307 an encryption or key the library lacks; 1340 a key file
    // or its folder cannot be read; 1341 a file cannot be written (nothing changed); 1315.
    int setCertificatePIN(const char* itemId, unsigned char* oldPin, unsigned long oldPinLength,
                          unsigned char* newPin, unsigned long newPinLength) override;
    // Whether the password (up to its NUL, within pinLength) opens the signing key and the
    // key-management key: 0; 1309; 1310; 1022 the signing key does not open; 1043 the
    // key-management key does not; 1307, 1312, 1315, 1017 as the key decoding answers.
    int verifyPin(const char* itemId, unsigned char* pin, unsigned long pinLength) override;
    int finalizeToken() override;
    int getTokenGrade() override;
    int getTokenStatus() override;
    // Rescans the disk. Filter 0 or 1: NPKI only; otherwise bit 0 NPKI, bit 4 GPKI class2, bit 8
    // GPKI class1. *list and *count are set on entry (null, 0).
    int getCertificateList(ShortCertificate** list, unsigned int* count, int filter,
                           InputPINHandler* handler, const char* argument) override;
    // A copy of the signing ("1", "2") or key-management ("3", "4") certificate; the outputs are
    // set on entry (null, 0). 1309 for an unknown id.
    int getCertificate(const char* itemId, unsigned char** der, unsigned long* length) override;
    // The still encrypted bytes of the signing ("1", "2") or key-management ("3", "4") key after
    // the password asked (purpose 6) opened both keys; outputs set on entry (null, 0).
    int getPrivateKey(const char* itemId, unsigned char** key, unsigned long* length,
                      InputPINHandler* handler) override;
    // The suite's folder as bytes without terminator (GPKI: the class2 folder).
    int getPath(const char* itemId, unsigned char** path, unsigned long* length) override;
    // PKCS #1 v1.5 decryption with the local key pair of the id, else with the suite's signing
    // ("2") or key-management ("4") key, opened with the password asked (purpose 6).
    int decrypt(unsigned char** out, unsigned long* outLength, unsigned char* in,
                unsigned long inLength, InputPINHandler* handler, const char* keyId,
                TokenDecryptParameters* parameters) override;
    using Token::pushCertificate;
    int pushCertificate(InputPINHandler* handler, const char* itemId, const unsigned char* data,
                        unsigned long length, const unsigned char* data2,
                        unsigned long length2) override;
    // Deletes the suite's files (NPKI: its whole holder folder) through folders opened without
    // following links, then forgets the suite. A suite reached through a link, or whose
    // certificate on disk differs from the listed one, is refused with nothing deleted. 0 only
    // when every file of the suite is gone; 1309; 1339.
    int deleteCertificate(const char* itemId, InputPINHandler* handler) override;
    // setCertificatePIN with the old and new password asked together (purpose 10): any handler
    // result but 0 gives 1304; a wrong old password gives 1022.
    int changeCertificatePIN(const char* itemId, InputPINHandler* handler) override;
    // Writes already encrypted key files as they are, with their certificates (the five-buffer
    // import without a CA file); the handler is not used.
    using Token::importEncryptedPrivateKeyInfo;
    int importEncryptedPrivateKeyInfo(unsigned char* signKey, unsigned long signKeyLength,
                                      unsigned char* signCert, unsigned long signCertLength,
                                      unsigned char* kmKey, unsigned long kmKeyLength,
                                      unsigned char* kmCert, unsigned long kmCertLength,
                                      InputPINHandler* handler) override;
    // Opens an import: the password (up to its NUL, at most 127 bytes; a longer one is refused
    // with 1312, never cut) or, without one, the handler's (inputDoublePin). 0; 1302 cancelled;
    // 1305 no password (an empty one included); 1312; another handler result unchanged.
    int importInit(unsigned char* pin, unsigned long pinLength, InputPINHandler* handler,
                   InputPINHandler::InputPINPurpose purpose) override;
    // Closes the import: what it wrote stays, the password is wiped. 0.
    int importFinal() override;
    // The folder a certificate is written to: <npki>/<CA>/USER/<subject> for NPKI, the GPKI
    // class2 folder otherwise. 0; 1312 undecodable; 1331 when the subject cannot name a folder
    // inside the tree (out stays empty).
    int getPhysicalBasePath(std::wstring& out, unsigned char* certificate,
                            const unsigned long& certificateLength) override;
    bool checkNPKI(const char* itemId) override;
    // One certificate and its key, encrypted under the import's password in the key-file
    // profile, written together: both go to temporary files beside their targets and are renamed
    // into place key first. Within one import a second certificate for the same holder is the
    // key-management pair of the first; otherwise the key usage names the role. A signing pair
    // that replaces another certificate takes the earlier certificate's key-management pair away
    // in the same step. Any failure puts back every file the open import changed, byte for byte,
    // and removes the folders it made. keepNewer: a stored certificate of the role that is newer
    // stays (1700, nothing written). 0; 1305 no password from importInit; 1331 a subject that
    // names no folder or file; 1336; 1337; 1338; 1700.
    using Token::import;
    int import(unsigned char* privateKey, unsigned long privateKeyLength,
               unsigned char* certificate, unsigned long certificateLength,
               unsigned char* vidRandom, unsigned long vidRandomLength, unsigned char* dsParameters,
               unsigned long dsParametersLength, unsigned int keepNewer,
               const bool& replaceKM) override;
    // Writes "CaPubs" into the folder of the open import's last certificate: 0; 1336 (also
    // without one).
    int importCAPubs(unsigned char* data, unsigned long length) override;
    // The key-management pair's files of the open import's folder removed (put back when the
    // import fails later): whether neither is left.
    bool RemoveKmFiles();
    // Writes the given bytes as they are: the signing certificate and key, the key-management
    // pair and "CaPubs" when given, GPKI certificates under their GPKI names; all or nothing.
    // 0; 1312 no signing pair or an undecodable certificate; 1331; 1336.
    int import(unsigned char* signKey, unsigned long signKeyLength, unsigned char* signCert,
               unsigned long signCertLength, unsigned char* kmKey, unsigned long kmKeyLength,
               unsigned char* kmCert, unsigned long kmCertLength, unsigned char* caPubs,
               unsigned long caPubsLength);
    // The key of the pair (pair id digit "1"/"2" signing, "3"/"4" key-management) as a plain
    // PrivateKeyInfo, after the password asked (purpose 15) opened it, and the certificate.
    // Outputs are empty on every failure. 0; 1309; 1310; 1316; 1302; 1022; 1315; the handler's.
    int exportCertificateAndKey(unsigned char** key, unsigned long* keyLength,
                                unsigned char** certificate, unsigned long* certificateLength,
                                InputPINHandler* handler, const char* suiteItemId,
                                const char* pairItemId) override;
    // The stored (encrypted) key bytes and the certificate of the pair ("1" signing, "3"
    // key-management); no password asked. 0; 1309; 1310; 1316; 1315.
    int exportCertificateAndEncryptPrivateKey(unsigned char** key, unsigned long* keyLength,
                                              unsigned char** certificate,
                                              unsigned long* certificateLength,
                                              const char* suiteItemId, const char* pairItemId,
                                              InputPINHandler* handler) override;
    int setTokenOptions(void* options) override;
    // The identity-check random in the signing key (length 0 without one), after the password
    // asked (purpose 9; any handler result but 0 gives 1302) opened it.
    int getVIDRandom(unsigned char** random, unsigned long* length, InputPINHandler* handler,
                     const char* itemId) override;
    // The key-management key and certificate ids of the suite: 0, 1309, 1311 without the pair.
    int getKMID(char** kmKeyId, char** kmCertId, const char* itemId) override;
    char* getNPKIRoot() override;
    // Rewrites the key-management key file under the signing key's password, once each key
    // opened with its own (as setCertificatePIN writes): 0; 1309; 1310; 1311; 1022; 1043; and
    // setCertificatePIN's codes of the rewrite.
    int certificateSynchronize(const char* itemId, unsigned char* signPin,
                               unsigned long signPinLength, unsigned char* kmPin,
                               unsigned long kmPinLength) override;
    // Prepares <npki>/<caName>/USER for writing: 0 ready, 1 failure (also for a name that is not
    // one folder name).
    int enableToken(const char* caName) override;
    // Whether the four key and certificate files of the id's folder can be rewritten: 0 when
    // they can, 1 when one cannot, or getPath's code.
    int accessCert(const char* itemId) override;
    // The size in bytes of the local key pair of the id, else of the signing certificate's
    // public key: 0, 1309, 1301.
    int getKeySize(unsigned long* size, InputPINHandler* handler, const char* keyId) override;
    // Signs with the signing key of the item id's suite, opened with the password asked (purpose
    // 6), or with the local key pair of keyId when no suite has the item id. A null parameter
    // record counts as a zeroed one.
    int generateSignatureRAW(unsigned char* out, unsigned long* outLength, InputPINHandler* handler,
                             unsigned char* in, unsigned long inLength, const char* keyId,
                             const char* itemId,
                             TokenGenerateSignatureParameters* parameters) override;

    // The re-encryption of one key file: the bytes of the key file at path (below one of the
    // token's folders) opened with the old password, rewritten under the new one in the
    // key-file profile of the PKI type, as setCertificatePIN writes. 0; 1312 the file's bytes
    // differ from key, or key is no key file, or an empty new password; 1328; 1307; 1340; 1341;
    // 1315.
    int changePrivateKeyPassword(std::wstring path, unsigned char* key, unsigned long keyLength,
                                 unsigned char* oldPin, unsigned long oldPinLength,
                                 unsigned char* newPin, unsigned long newPinLength,
                                 PKIType pkiType);
    // The length in bytes of the modulus of the signing certificate's RSA key, or of the prime p
    // of its KCDSA key's domain: 0, 1309, 1301.
    int getKeyLength(const char* itemId, int* length);

    // The folder of a suite's key files, opened below the medium's top without following links,
    // and the names of its two key files as the folder spells them.
    struct KeyFolder {
        KeyFolder() = default;
        KeyFolder(const KeyFolder&) = delete;
        KeyFolder& operator=(const KeyFolder&) = delete;
        ~KeyFolder();
        int fd = -1;
        std::string path;
        std::string signName, kmName;
    };
    // The changes of an open import (FileTokenImport.cpp).
    struct ImportJournal;

  private:
    // Scans: user-folder paths of the NPKI folders in CA order, and GPKI base names.
    std::vector<std::string> getNPKICertificatePaths();
    std::vector<std::string> getGPKICertificatePaths(bool class1);
    // The suites of a scanned path, its folder opened through the listing's open parents.
    class ParentFolder;
    CertificateSuite* getNPKICertificateSuite(const std::string& folder, ParentFolder& parents);
    CertificateSuite* getGPKICertificateSuite(const std::string& base, ParentFolder& parents);
    // One certificate or key file of an open folder (names: the folder's entries, for their
    // spelling), bounded and without following a link; null when absent or refused.
    SGBinary* readPart(int folder, const std::string& folderPath,
                       const std::vector<std::string>& names, const std::string& name);
    void logSkipped(const char* operation, const std::string& path, int result, bool fileExpected);
    // Where following links ends for a scanned NPKI or GPKI folder: the folder itself for the
    // home token, the medium's root for a removable one.
    std::string scanTop(const std::string& folder) const;
    int notSupported(const char* operation);

    // 0, or a negative MediaResult.
    int openKeyFolder(const CertificateSuite& suite, KeyFolder& folder);
    // The folder of a key file path below one of the token's NPKI or GPKI folders.
    int openFolderOf(const std::string& file, KeyFolder& folder);
    // The password change of a suite's keys (setCertificatePIN and the like); see there.
    int changeSuitePasswords(const char* operation, CertificateSuite& suite, bool sign, bool km,
                             const unsigned char* oldPin, int oldPinLength,
                             const unsigned char* newPin, int newPinLength, int wrongSignCode);
    // Opens a suite key with the password into a key record of the suite's kind, only to check
    // it: decryptPrivateKeyFromPKCS8's codes.
    int checkKey(const CertificateSuite& suite, const SGBinary* key, const unsigned char* pin,
                 int pinLength);

    // The changes of the open import, undone when a step fails.
    ImportJournal* journal;
    // The NPKI holder folder or GPKI class folder of a certificate, opened (and made where
    // missing, the made levels noted in the journal) without following links below the
    // medium's top: a descriptor or a negative MediaResult.
    int openImportFolder(const std::string& folder, bool gpki, ImportJournal& journal);
    // One pair of a role written into the import folder (see import).
    int writeImportPair(ImportJournal& journal, int folder, const std::string& folderPath,
                        const std::string& certName, const unsigned char* cert,
                        unsigned long certLength, const std::string& keyName,
                        const unsigned char* key, unsigned long keyLength,
                        const std::string* kmNames, unsigned int keepNewer);
    void endImport(bool keep);

  public:
    char* rootName;                        // own copy of the root given to the constructor
    std::vector<std::string> gpkiFolders;  // <base>/GPKI/Certificate
    std::vector<std::string> npkiFolders;  // <base>/NPKI; the first is the token's NPKI root
    SuiteMap* suites;                      // identifier -> suite, all owned
    bool systemDrive;                      // true only for the home token
    char importPIN[128];                   // the password an import writes key files under
    std::wstring importFolder;             // the folder of the current import
};

#endif
