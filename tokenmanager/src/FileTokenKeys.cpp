// The disk token's key operations: checking and changing the password of a certificate's keys,
// handing out a key or the identity-check random inside it, and decrypting and signing with it.
//
// A password change must never lose or damage a key. Every key of the change is opened with the
// current password and re-encrypted under the new one, and what is to be written is opened again
// with the new password, before anything on disk changes. The new files are then written beside
// the old ones and flushed, the old ones kept under a second name, and only then renamed into
// place one after the other; a failed rename or flush puts back what was already renamed. A crash
// at any moment leaves each key file whole under the old or the new password; one between the
// two renames leaves them under different ones, and repeating the change completes it.
#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "FileToken.h"
#include "ItemId.h"
#include "Logger.h"
#include "SGCipher.h"
#include "SGX509Certificate.h"
#include "TokenCertificate.h"
#include "TokenKeys.h"
#include "TokenLocalKeyStorage.h"
#include "TokenLog.h"
#include "TokenSuite.h"
#include "TokenTables.h"
#include "Util.h"

using brindlow::token::identifierPart;
using brindlow::token::kLibraryUnavailable;
using brindlow::token::lastCharacter;
using brindlow::token::suites::hasBytes;
using brindlow::token::suites::missingSuite;
using namespace brindlow::token::keys;

namespace {

// The key-file profile.
constexpr int kKeyFileIterations = 2048;
// The log lines of the re-encryption steps carry the name of the step shared by the operations.
constexpr const char* kReencryption = "changePrivateKeyPassword";

// A password as the operations take it: the bytes up to its first NUL, never read beyond the
// given length.
struct Pin {
    const unsigned char* data = reinterpret_cast<const unsigned char*>("");
    int length = 0;
};

Pin pinOf(const unsigned char* pin, unsigned long length) {
    Pin p;
    if (!pin || length == 0) return p;
    const size_t limit = std::min<unsigned long>(length, INT_MAX);
    p.data = pin;
    p.length = static_cast<int>(::strnlen(reinterpret_cast<const char*>(pin), limit));
    return p;
}

// The whole of a file as read from its folder, wiped and released when it goes.
struct FileBytes {
    unsigned char* data = nullptr;
    unsigned int length = 0;
    FileBytes() = default;
    FileBytes(const FileBytes&) = delete;
    FileBytes& operator=(const FileBytes&) = delete;
    ~FileBytes() {
        if (!data) return;
        TM_BASE(SGMemory_cleanse)(data, length);
        TM_BASE(SGOS_free)(data);
    }
};

bool sameBytes(const unsigned char* a, uint32_t aLength, const unsigned char* b, uint32_t bLength) {
    return aLength == bLength && (aLength == 0 || std::memcmp(a, b, aLength) == 0);
}

// Replaces a suite's part by a copy of the bytes: false (the part unchanged) without memory.
bool replacePart(SGBinary*& part, const unsigned char* data, uint32_t length) {
    SGBinary* copy = TM_BASE(SGBinary_New)(0);
    if (!copy) return false;
    if (length && TM_BASE(SGBinary_Set)(copy, data, length) != 0) {
        TM_BASE(SGBinary_Free)(copy);
        return false;
    }
    if (part) {
        TM_BASE(SGBinary_Cleanse)(part);
        TM_BASE(SGMemory_free)(part);
    }
    part = copy;
    return true;
}

int tokenCode(int rc, int wrongPasswordCode) {
    return rc == TOKEN_ERR_KEY_DECRYPT ? wrongPasswordCode : rc;
}

// ---- Re-encryption --------------------------------------------------------------------------

// The plaintext of a key file under the password, in its own wiped buffer.
struct KeyPlaintext {
    std::unique_ptr<SecretBytes> buffer;
    int length = 0;
};

// Decrypts a key file: 0; 1312 no EncryptedPrivateKeyInfo or damaged parameters; 1328 the
// password does not open it; 1307 an encryption the library lacks; 1315 memory.
int decryptKeyFile(Logger* logger, const unsigned char* file, uint32_t length, Pin pin,
                   KeyPlaintext& out) {
    if (!pkcs8Ready() || !TM_SERVICE_READY(SGPKCS5Encrypt) ||
        !TM_SERVICE_READY(SGPKCS8PrivateKeyInfo_Encode) ||
        !TM_SERVICE_READY(SGPKCS8EncryptedPrivateKeyInfo_Encode))
        return kLibraryUnavailable;
    const SGBinary der{const_cast<unsigned char*>(file), length};
    EncryptedKeyInfo encrypted;
    int rc = file && length
                 ? TM_SERVICE(SGPKCS8EncryptedPrivateKeyInfo_Decode)(&encrypted.record, &der)
                 : SG_PKI_ERR_ARGUMENT;
    if (rc != 0) {
        TOKEN_FATAL(logger, "%s - PKCS8 encrypted private key info decode failed...(%d)(%d)",
                    kReencryption, rc, TOKEN_ERR_INVALID_DATA);
        return TOKEN_ERR_INVALID_DATA;
    }
    out.buffer = std::make_unique<SecretBytes>(encrypted.record.encryptedData.length);
    if (!out.buffer->data()) {
        TOKEN_FATAL(logger, "%s - memory allocation failed...(%d)", kReencryption,
                    TOKEN_ERR_MEMORY);
        return TOKEN_ERR_MEMORY;
    }
    rc = TM_SERVICE(SGPKCS5Decrypt)(out.buffer->data(), &out.length, &encrypted.record, pin.data,
                                    pin.length);
    if (rc != 0) {
        const int code = decryptFailure(rc);
        TOKEN_FATAL(logger, "%s - PKCS5 decrypt failed...(%d)(%d)", kReencryption, rc, code);
        return code;
    }
    return 0;
}

// Opens a key file with the password into the DER of its PrivateKeyInfo, encoded anew from the
// decoded fields (version, algorithm, parameters, key octets and the VID random). The codes of
// decryptKeyFile; a plaintext that is no PrivateKeyInfo is a wrong password (1328), one that
// names what the library lacks 1307.
int openKey(Logger* logger, const unsigned char* file, uint32_t length, Pin pin,
            SecretBinary& plainDer) {
    KeyPlaintext plain;
    int rc = decryptKeyFile(logger, file, length, pin, plain);
    if (rc != 0) return rc;
    const SGBinary plainBytes{plain.buffer->data(), static_cast<uint32_t>(plain.length)};
    PlainKeyInfo info;
    rc = TM_SERVICE(SGPKCS8PrivateKeyInfo_Decode)(&info.record, &plainBytes);
    if (rc != 0) {
        const int code = libraryLacks(rc)          ? TOKEN_ERR_NOT_SUPPORTED
                         : rc == SG_PKI_ERR_MEMORY ? TOKEN_ERR_MEMORY
                                                   : TOKEN_ERR_KEY_DECRYPT;
        TOKEN_FATAL(logger, "%s - PKCS8 private key info decode failed...(%d)(%d)", kReencryption,
                    rc, code);
        return code;
    }
    rc = TM_SERVICE(SGPKCS8PrivateKeyInfo_Encode)(&plainDer.bin, &info.record);
    if (rc != 0) {
        TOKEN_FATAL(logger, "%s - PKCS8 private key info encode failed...(%d)(%d)", kReencryption,
                    rc, TOKEN_ERR_INVALID_DATA);
        return rc == SG_PKI_ERR_MEMORY ? TOKEN_ERR_MEMORY : TOKEN_ERR_INVALID_DATA;
    }
    return 0;
}

// The key file of a PrivateKeyInfo under the password in the key-file profile of the PKI type,
// opened again with the password and compared with the key before anyone writes it: 0, 1312,
// 1315.
int sealKey(Logger* logger, const SGBinary& plainDer, Pin pin, PKIType pkiType,
            SecretBinary& sealed) {
    SGPKCS5PBESParam profile{};
    profile.pbeType = SG_PBE_PBES2;
    profile.iterations = kKeyFileIterations;
    profile.cipherId = pkiType == PKI_TYPE_GPKI ? SG_CIPHER_ARIA128 : SG_CIPHER_SEED;
    EncryptedKeyInfo encrypted;
    int rc = TM_SERVICE(SGPKCS5Encrypt)(&encrypted.record, plainDer.data,
                                        static_cast<int>(plainDer.length), pin.data, pin.length,
                                        &profile);
    if (rc != 0) {
        TOKEN_FATAL(logger, "%s - PKCS5 encrypt failed...(%d)(%d)", kReencryption, rc,
                    TOKEN_ERR_INVALID_DATA);
        return rc == SG_PKI_ERR_MEMORY ? TOKEN_ERR_MEMORY : TOKEN_ERR_INVALID_DATA;
    }
    rc = TM_SERVICE(SGPKCS8EncryptedPrivateKeyInfo_Encode)(&sealed.bin, &encrypted.record);
    if (rc != 0) {
        TOKEN_FATAL(logger, "%s - PKCS8 encrypted private key info encode failed...(%d)(%d)",
                    kReencryption, rc, TOKEN_ERR_INVALID_DATA);
        return rc == SG_PKI_ERR_MEMORY ? TOKEN_ERR_MEMORY : TOKEN_ERR_INVALID_DATA;
    }
    KeyPlaintext again;
    rc = decryptKeyFile(logger, sealed.bin.data, sealed.bin.length, pin, again);
    if (rc != 0 || !sameBytes(again.buffer->data(), static_cast<uint32_t>(again.length),
                              plainDer.data, plainDer.length)) {
        TOKEN_FATAL(logger, "%s - the new key file does not open into the key...(%d)(%d)",
                    kReencryption, rc, TOKEN_ERR_INVALID_DATA);
        return rc == TOKEN_ERR_MEMORY ? rc : TOKEN_ERR_INVALID_DATA;
    }
    return 0;
}

// ---- Rewriting key files --------------------------------------------------------------------

// One key file of a change.
struct KeyFile {
    const char* role = "";
    std::string name;                         // its entry, as the folder spells it
    const unsigned char* expected = nullptr;  // the bytes the caller holds of it
    uint32_t expectedLength = 0;
    FileBytes disk;       // what the file holds now
    SecretBinary plain;   // its PrivateKeyInfo
    SecretBinary sealed;  // the same under the new password
    bool change = false;  // false: left as it is, it opens with the new password already
};

// Puts the new files in place: every new file and a keeper of every old one are written before
// the first rename; a rename or flush that fails puts back what was renamed. 0, or 1341 with
// every file as it was and no temporary file left.
int writeKeys(Logger* logger, const char* operation, const FileToken::KeyFolder& folder,
              const std::vector<KeyFile*>& keys) {
    struct Step {
        Util::PreparedFile next, kept;
        bool committed = false;
    };
    std::vector<Step> steps(keys.size());
    auto report = [&](const KeyFile& key, int error) {
        TOKEN_FATAL(logger, "%s - file write error: %s (%s)", operation,
                    (folder.path + "/" + key.name).c_str(), std::strerror(error));
    };
    auto rollBack = [&] {
        bool restored = false;
        for (size_t i = steps.size(); i-- > 0;) {
            if (!steps[i].committed) continue;
            if (Util::commitFile(&steps[i].kept) != 0) {
                // The kept file is the only copy of the old key now: it stays under its name.
                TOKEN_FATAL(logger, "%s - key file not restored: %s, kept as %s (%s)", operation,
                            (folder.path + "/" + keys[i]->name).c_str(),
                            steps[i].kept.temporary.c_str(), std::strerror(steps[i].kept.error));
                steps[i].kept.temporary.clear();
            }
            restored = true;
        }
        if (restored) Util::syncFolder(folder.fd);
        for (Step& s : steps) {
            Util::discardFile(&s.next);
            Util::discardFile(&s.kept);
        }
        return TOKEN_ERR_WRITE_FILE;
    };
    // Whatever takes room or may be refused happens before anything is renamed.
    for (size_t i = 0; i < keys.size(); ++i) {
        const KeyFile& key = *keys[i];
        if (Util::prepareFileAt(folder.fd, key.name, key.sealed.bin.data, key.sealed.bin.length,
                                &steps[i].next) != 0) {
            report(key, steps[i].next.error);
            return rollBack();
        }
    }
    for (size_t i = 0; i < keys.size(); ++i) {
        const KeyFile& key = *keys[i];
        if (Util::keepFileAt(folder.fd, key.name, key.disk.data, key.disk.length, &steps[i].kept) !=
            0) {
            report(key, steps[i].kept.error);
            return rollBack();
        }
    }
    // One rename after the other, each on disk before the next: a crash between them leaves
    // the first key new and the second old, never the reverse.
    for (size_t i = 0; i < keys.size(); ++i) {
        if (Util::commitFile(&steps[i].next) != 0) {
            report(*keys[i], steps[i].next.error);
            return rollBack();
        }
        steps[i].committed = true;
        if (const int error = Util::syncFolder(folder.fd)) {
            report(*keys[i], error);
            return rollBack();
        }
    }
    for (Step& s : steps) Util::discardFile(&s.kept);
    return 0;
}

// Rewrites the key files of one open folder under the new password (see setCertificatePIN):
// every file is read again and must hold the bytes expected; a key that does not open with the
// old password is left as it is when it opens with the new one and another key of the change
// opens with the old one. wrongCodes: what a wrong password gives for each key.
int rewriteKeyFiles(Logger* logger, const char* operation, const FileToken::KeyFolder& folder,
                    KeyFile* keys, size_t count, Pin oldPin, Pin newPin, PKIType pkiType,
                    const int* wrongCodes) {
    if (newPin.length == 0) {
        TOKEN_FATAL(logger, "%s - empty new password...(%d)", operation, TOKEN_ERR_INVALID_DATA);
        return TOKEN_ERR_INVALID_DATA;
    }
    for (size_t i = 0; i < count; ++i) {
        KeyFile& key = keys[i];
        const int rc = Util::readFileAt(folder.fd, key.name, Util::kMaxCertificateFileSize,
                                        &key.disk.data, &key.disk.length);
        if (rc != 0) {
            TOKEN_FATAL(logger, "%s - %s key file not read: %s (%s)", operation, key.role,
                        (folder.path + "/" + key.name).c_str(), Util::mediaResultText(rc));
            return TOKEN_ERR_READ_FILE;
        }
        // A key renewed on disk since the listing is never overwritten with the stale one.
        if (!sameBytes(key.disk.data, key.disk.length, key.expected, key.expectedLength)) {
            TOKEN_FATAL(logger, "%s - %s key file changed since it was read: %s...(%d)", operation,
                        key.role, (folder.path + "/" + key.name).c_str(), TOKEN_ERR_INVALID_DATA);
            return TOKEN_ERR_INVALID_DATA;
        }
    }
    bool anyOld = false;
    for (size_t i = 0; i < count; ++i) {
        KeyFile& key = keys[i];
        int rc = openKey(logger, key.disk.data, key.disk.length, oldPin, key.plain);
        if (rc == 0) {
            key.change = anyOld = true;
            continue;
        }
        SecretBinary already;
        if (rc != TOKEN_ERR_KEY_DECRYPT || count < 2 ||
            openKey(logger, key.disk.data, key.disk.length, newPin, already) != 0)
            return tokenCode(rc, wrongCodes[i]);
        TOKEN_INFO(logger, "%s - %s key opens with the new password already; it is left as it is",
                   operation, key.role);
    }
    // Keys that open only with the new password are the rest of an earlier change; with none
    // under the old one, the old password is simply wrong.
    if (!anyOld) return wrongCodes[0];
    std::vector<KeyFile*> changed;
    for (size_t i = 0; i < count; ++i) {
        KeyFile& key = keys[i];
        if (!key.change) continue;
        const int rc = sealKey(logger, key.plain.bin, newPin, pkiType, key.sealed);
        if (rc != 0) return rc;
        changed.push_back(&key);
    }
    return writeKeys(logger, operation, folder, changed);
}

}  // namespace

// ---- Password checks and changes -------------------------------------------------------------

int FileToken::checkKey(const CertificateSuite& suite, const SGBinary* key,
                        const unsigned char* pin, int pinLength) {
    if (!hasBytes(key)) return TOKEN_ERR_NO_PRIVATE_KEY;
    const PKIType type = suite.pkiType == PKI_TYPE_GPKI ? PKI_TYPE_GPKI : PKI_TYPE_NPKI;
    RsaPrivateKey rsa;
    DsKey ds;
    void* record =
        type == PKI_TYPE_GPKI ? static_cast<void*>(&ds.key) : static_cast<void*>(&rsa.key);
    return decryptPrivateKeyFromPKCS8(
        record, nullptr, nullptr, nullptr, key->data, key->length, const_cast<unsigned char*>(pin),
        static_cast<unsigned long>(pinLength), TOKEN_KEY_RECORD, type);
}

int FileToken::verifyPin(const char* itemId, unsigned char* pin, unsigned long pinLength) {
    static constexpr const char* kName = "verifyPin";
    const CertificateSuite* suite = findCert(itemId);
    if (!suite || !hasBytes(suite->signCert)) {
        TOKEN_FATAL(logger, "%s - find cert failed...(%d)()", kName, TOKEN_ERR_NO_CERTIFICATE);
        return TOKEN_ERR_NO_CERTIFICATE;
    }
    if (!hasBytes(suite->signKey)) {
        TOKEN_FATAL(logger, "%s - find privateKey failed...(%d)()", kName,
                    TOKEN_ERR_NO_PRIVATE_KEY);
        return TOKEN_ERR_NO_PRIVATE_KEY;
    }
    const Pin p = pinOf(pin, pinLength);
    int rc = checkKey(*suite, suite->signKey, p.data, p.length);
    if (rc != 0) {
        TOKEN_FATAL(logger, "%s - decrypt private key from PKCS8 failed...(%d)(%d)", kName,
                    TOKEN_ERR_WRONG_PIN, rc);
        // Only a key the password does not open is a wrong password; a damaged or unsupported
        // one is reported as what it is.
        return tokenCode(rc, TOKEN_ERR_WRONG_PIN);
    }
    if (hasBytes(suite->kmKey)) {
        rc = checkKey(*suite, suite->kmKey, p.data, p.length);
        if (rc != 0) {
            TOKEN_FATAL(logger, "%s - decrypt km key from PKCS8 failed...(%d)(%d)", kName,
                        TOKEN_ERR_KM_WRONG_PIN, rc);
            return tokenCode(rc, TOKEN_ERR_KM_WRONG_PIN);
        }
    }
    return 0;
}

int FileToken::changeSuitePasswords(const char* operation, CertificateSuite& suite, bool sign,
                                    bool km, const unsigned char* oldPin, int oldPinLength,
                                    const unsigned char* newPin, int newPinLength,
                                    int wrongSignCode) {
    KeyFolder folder;
    int rc = openKeyFolder(suite, folder);
    if (rc != 0) {
        TOKEN_FATAL(logger, "%s - key folder not opened: %s (%s)", operation, suite.path,
                    Util::mediaResultText(rc));
        return TOKEN_ERR_READ_FILE;
    }
    KeyFile keys[2];
    SGBinary** parts[2] = {};
    int wrongCodes[2] = {};
    size_t count = 0;
    auto add = [&](const char* role, SGBinary*& part, const std::string& name, int wrongCode) {
        keys[count].role = role;
        keys[count].name = name;
        keys[count].expected = part->data;
        keys[count].expectedLength = part->length;
        parts[count] = &part;
        wrongCodes[count++] = wrongCode;
    };
    if (sign) add("sign", suite.signKey, folder.signName, wrongSignCode);
    if (km) add("km", suite.kmKey, folder.kmName, TOKEN_ERR_KM_WRONG_PIN);
    const PKIType type = suite.pkiType == PKI_TYPE_GPKI ? PKI_TYPE_GPKI : PKI_TYPE_NPKI;
    rc = rewriteKeyFiles(logger, operation, folder, keys, count, Pin{oldPin, oldPinLength},
                         Pin{newPin, newPinLength}, type, wrongCodes);

    // Whatever the outcome, the suite holds what the files hold now, so the password that opens
    // them is the one that opens the suite.
    for (size_t i = 0; i < count; ++i) {
        KeyFile& key = keys[i];
        if (rc == 0 && key.change) {
            replacePart(*parts[i], key.sealed.bin.data, key.sealed.bin.length);
            continue;
        }
        FileBytes now;
        if (Util::readFileAt(folder.fd, key.name, Util::kMaxCertificateFileSize, &now.data,
                             &now.length) == 0 &&
            now.length && !sameBytes(now.data, now.length, (*parts[i])->data, (*parts[i])->length))
            replacePart(*parts[i], now.data, now.length);
    }
    return rc;
}

int FileToken::setCertificatePIN(const char* itemId, unsigned char* oldPin,
                                 unsigned long oldPinLength, unsigned char* newPin,
                                 unsigned long newPinLength) {
    static constexpr const char* kName = "setCertificatePIN";
    CertificateSuite* suite = findCert(itemId);
    if (!suite) {
        TOKEN_FATAL(logger, "%s - find cert failed...(%d)", kName, TOKEN_ERR_NO_CERTIFICATE);
        return TOKEN_ERR_NO_CERTIFICATE;
    }
    if (!hasBytes(suite->signKey)) {
        TOKEN_FATAL(logger, "%s - find privateKey failed...(%d)()", kName,
                    TOKEN_ERR_NO_PRIVATE_KEY);
        return TOKEN_ERR_NO_PRIVATE_KEY;
    }
    const Pin old = pinOf(oldPin, oldPinLength);
    const Pin fresh = pinOf(newPin, newPinLength);
    return changeSuitePasswords(kName, *suite, true, hasBytes(suite->kmKey), old.data, old.length,
                                fresh.data, fresh.length, TOKEN_ERR_KEY_DECRYPT);
}

int FileToken::changeCertificatePIN(const char* itemId, InputPINHandler* handler) {
    static constexpr const char* kName = "changeCertificatePIN";
    CertificateSuite* suite = findCert(itemId);
    if (!suite) {
        TOKEN_FATAL(logger, "%s - find cert failed...(%d)", kName, TOKEN_ERR_NO_CERTIFICATE);
        return TOKEN_ERR_NO_CERTIFICATE;
    }
    if (!handler) {
        TOKEN_FATAL(logger, "%s - no password handler...(%d)", kName, TOKEN_ERR_NO_PIN);
        return TOKEN_ERR_NO_PIN;
    }
    PinBuffer old, fresh;
    if (!old.allocated() || !fresh.allocated()) {
        TOKEN_FATAL(logger, "%s - memory allocation failed...(%d)", kName, TOKEN_ERR_MEMORY);
        return TOKEN_ERR_MEMORY;
    }
    // Only an answer of 0 supplied the passwords; any other leaves the buffers meaningless.
    const int answer = handler->inputTriplePin(old.out(), fresh.out(), tokenType,
                                               InputPINHandler::PURPOSE_CHANGE_PIN);
    if (answer != 0) {
        TOKEN_FATAL(logger, "%s - change pin canceled...(%d)", kName, TOKEN_ERR_CHANGE_CANCELLED);
        return TOKEN_ERR_CHANGE_CANCELLED;
    }
    if (!old.terminated() || !fresh.terminated()) {
        TOKEN_FATAL(logger, "%s - password without an end...(%d)", kName, TOKEN_ERR_INVALID_DATA);
        return TOKEN_ERR_INVALID_DATA;
    }
    if (!hasBytes(suite->signKey)) {
        TOKEN_FATAL(logger, "%s - find privateKey failed...(%d)()", kName,
                    TOKEN_ERR_NO_PRIVATE_KEY);
        return TOKEN_ERR_NO_PRIVATE_KEY;
    }
    const Pin o = pinOf(old.bytes(), kPinBufferSize), n = pinOf(fresh.bytes(), kPinBufferSize);
    const int rc = changeSuitePasswords(kName, *suite, true, hasBytes(suite->kmKey), o.data,
                                        o.length, n.data, n.length, TOKEN_ERR_WRONG_PIN);
    if (rc == TOKEN_ERR_WRONG_PIN || rc == TOKEN_ERR_KM_WRONG_PIN)
        TOKEN_FATAL(logger, "%s - verify pin...(%d)", kName, rc);
    else if (rc != 0)
        TOKEN_FATAL(logger, "%s - changePrivateKeyPassword failed...(%d)", kName, rc);
    return rc;
}

int FileToken::certificateSynchronize(const char* itemId, unsigned char* signPin,
                                      unsigned long signPinLength, unsigned char* kmPin,
                                      unsigned long kmPinLength) {
    static constexpr const char* kName = "certificateSynchronize";
    CertificateSuite* suite = findCert(itemId);
    if (!suite || !hasBytes(suite->signCert)) {
        TOKEN_FATAL(logger, "%s - find cert failed...(%d)()", kName, TOKEN_ERR_NO_CERTIFICATE);
        return TOKEN_ERR_NO_CERTIFICATE;
    }
    if (!hasBytes(suite->signKey)) {
        TOKEN_FATAL(logger, "%s - fined privateKey failed...(%d)()", kName,
                    TOKEN_ERR_NO_PRIVATE_KEY);
        return TOKEN_ERR_NO_PRIVATE_KEY;
    }
    const Pin sign = pinOf(signPin, signPinLength);
    const Pin km = pinOf(kmPin, kmPinLength);
    int rc = checkKey(*suite, suite->signKey, sign.data, sign.length);
    if (rc != 0) {
        TOKEN_FATAL(logger, "%s - decrypt private key (sign) from PKCS8 failed...(%d)(%d)", kName,
                    TOKEN_ERR_WRONG_PIN, rc);
        return tokenCode(rc, TOKEN_ERR_WRONG_PIN);
    }
    if (!hasBytes(suite->kmKey)) {
        TOKEN_FATAL(logger, "%s - fined km certificate failed...(%d)(%d)", kName,
                    TOKEN_ERR_NO_KM_PAIR, 0);
        return TOKEN_ERR_NO_KM_PAIR;
    }
    rc = checkKey(*suite, suite->kmKey, km.data, km.length);
    if (rc != 0) {
        TOKEN_FATAL(logger, "%s - decrypt private key (km) from PKCS8 failed...(%d)(%d)", kName,
                    TOKEN_ERR_KM_WRONG_PIN, rc);
        return tokenCode(rc, TOKEN_ERR_KM_WRONG_PIN);
    }
    rc = changeSuitePasswords(kName, *suite, false, true, km.data, km.length, sign.data,
                              sign.length, TOKEN_ERR_KM_WRONG_PIN);
    if (rc != 0)
        TOKEN_FATAL(logger, "%s - km key changePrivateKeyPassword failed...(%d)", kName, rc);
    return rc;
}

int FileToken::changePrivateKeyPassword(std::wstring path, unsigned char* key,
                                        unsigned long keyLength, unsigned char* oldPin,
                                        unsigned long oldPinLength, unsigned char* newPin,
                                        unsigned long newPinLength, PKIType pkiType) {
    static constexpr const char* kName = "changePrivateKeyPassword";
    const std::string file = Util::wstringToUtf8(path);
    if (!key || keyLength == 0 || keyLength > UINT32_MAX) {
        TOKEN_FATAL(logger, "%s - PKCS8 encrypted private key info decode failed...(%d)(%d)", kName,
                    SG_PKI_ERR_ARGUMENT, TOKEN_ERR_INVALID_DATA);
        return TOKEN_ERR_INVALID_DATA;
    }
    // Only a key file below the token's own folders is ever written.
    KeyFolder folder;
    const int rc = openFolderOf(file, folder);
    if (rc != 0) {
        TOKEN_FATAL(logger, "%s - file write error: %s (%s)", kName, file.c_str(),
                    Util::mediaResultText(rc));
        return TOKEN_ERR_WRITE_FILE;
    }
    KeyFile target;
    target.role = "key";
    target.name = file.substr(file.rfind('/') + 1);
    target.expected = key;
    target.expectedLength = static_cast<uint32_t>(keyLength);
    const int wrongCode = TOKEN_ERR_KEY_DECRYPT;
    return rewriteKeyFiles(logger, kName, folder, &target, 1, pinOf(oldPin, oldPinLength),
                           pinOf(newPin, newPinLength),
                           pkiType == PKI_TYPE_GPKI ? PKI_TYPE_GPKI : PKI_TYPE_NPKI, &wrongCode);
}

// ---- Handing out keys and values inside them -------------------------------------------------

int FileToken::getPrivateKey(const char* itemId, unsigned char** key, unsigned long* length,
                             InputPINHandler* handler) {
    static constexpr const char* kName = "getPrivateKey";
    if (key) *key = nullptr;
    if (length) *length = 0;
    const CertificateSuite* suite = findCert(itemId);
    if (!suite) return missingSuite(logger, kName);
    if (!key || !length) return TOKEN_ERR_INVALID_DATA;
    if (!handler) return TOKEN_ERR_NO_PIN;
    PinBuffer pin;
    if (!pin.allocated()) return TOKEN_ERR_MEMORY;
    if (handler->inputPIN(pin.out(), tokenType, InputPINHandler::PURPOSE_PRIVATE_KEY) != 0) {
        TOKEN_FATAL(logger, "%s - input pin canceled...(%d)", kName, TOKEN_ERR_PIN_CANCELLED);
        return TOKEN_ERR_PIN_CANCELLED;
    }
    if (!pin.terminated()) return TOKEN_ERR_INVALID_DATA;
    const int rc = verifyPin(itemId, pin.bytes(), kPinBufferSize);
    if (rc != 0) {
        TOKEN_FATAL(logger, "%s - verifyPin failed...(%d)", kName, rc);
        return rc;
    }
    const SGBinary* part = nullptr;
    switch (lastCharacter(itemId)) {
        case TOKEN_ITEM_SIGN_CERT:
        case TOKEN_ITEM_SIGN_KEY:
            part = suite->signKey;
            break;
        case TOKEN_ITEM_KM_CERT:
        case TOKEN_ITEM_KM_KEY:
            part = suite->kmKey;
            break;
        default:
            break;
    }
    if (!hasBytes(part)) return 0;
    *key = duplicateMemory(part->data, part->length);
    if (!*key) return TOKEN_ERR_MEMORY;
    *length = part->length;
    return 0;
}

int FileToken::getVIDRandom(unsigned char** random, unsigned long* length, InputPINHandler* handler,
                            const char* itemId) {
    static constexpr const char* kName = "getVIDRandom";
    if (random) *random = nullptr;
    if (length) *length = 0;
    const CertificateSuite* suite = findCert(itemId);
    if (!suite) return missingSuite(logger, kName);
    if (!random || !length) return TOKEN_ERR_INVALID_DATA;
    if (!hasBytes(suite->signKey)) return TOKEN_ERR_NO_PRIVATE_KEY;
    if (!handler) return TOKEN_ERR_NO_PIN;
    PinBuffer pin;
    if (!pin.allocated()) return TOKEN_ERR_MEMORY;
    const int answer = handler->inputPIN(pin.out(), tokenType, InputPINHandler::PURPOSE_VID_RANDOM);
    if (answer != 0) {
        TOKEN_FATAL(logger, "%s - input pin canceled...(%d)(%d)", kName, TOKEN_ERR_PIN_CANCELLED,
                    answer);
        return TOKEN_ERR_PIN_CANCELLED;
    }
    if (!pin.terminated()) return TOKEN_ERR_INVALID_DATA;
    const Pin p = pinOf(pin.bytes(), kPinBufferSize);
    SGBinary vid{};
    const int rc = decryptPrivateKeyFromPKCS8(
        nullptr, &vid, nullptr, nullptr, suite->signKey->data, suite->signKey->length,
        const_cast<unsigned char*>(p.data), static_cast<unsigned long>(p.length), TOKEN_KEY_RECORD,
        suite->pkiType == PKI_TYPE_GPKI ? PKI_TYPE_GPKI : PKI_TYPE_NPKI);
    if (rc != 0) {
        TOKEN_FATAL(logger, "%s - decrypt private key from PKCS8 failed...(%d)(%d)", kName,
                    TOKEN_ERR_WRONG_PIN, rc);
        return tokenCode(rc, TOKEN_ERR_WRONG_PIN);
    }
    return brindlow::token::suites::handOutRandom(vid, random, length);
}

int FileToken::getKMID(char** kmKeyId, char** kmCertId, const char* itemId) {
    return brindlow::token::suites::suiteKmIds(logger, findCert(itemId), itemId, kmKeyId, kmCertId);
}

// ---- Using the keys --------------------------------------------------------------------------

int FileToken::decrypt(unsigned char** out, unsigned long* outLength, unsigned char* in,
                       unsigned long inLength, InputPINHandler* handler, const char* keyId,
                       TokenDecryptParameters* parameters) {
    static constexpr const char* kName = "decrypt";
    if (out) *out = nullptr;
    if (outLength) *outLength = 0;
    if (!keyId || !*keyId) return TOKEN_ERR_NO_LOCAL_KEY;
    if (localKeyStorage && localKeyStorage->get(keyId))
        return Token::decrypt(out, outLength, in, inLength, handler, keyId, parameters);
    const CertificateSuite* suite = findCert(keyId);
    if (!suite) return missingSuite(logger, kName);
    const char digit = lastCharacter(keyId);
    const SGBinary* key = digit == TOKEN_ITEM_SIGN_KEY ? suite->signKey
                          : digit == TOKEN_ITEM_KM_KEY ? suite->kmKey
                                                       : nullptr;
    if (!hasBytes(key)) {
        TOKEN_FATAL(logger, "%s - PKCS8 encrypted private key info decode failed...(%d)(%d)", kName,
                    SG_PKI_ERR_ARGUMENT, TOKEN_ERR_INVALID_DATA);
        return TOKEN_ERR_INVALID_DATA;
    }
    if (!out || !outLength || (!in && inLength) || inLength == 0 || inLength > UINT32_MAX)
        return TOKEN_ERR_INVALID_DATA;
    if (!rsaReady()) return kLibraryUnavailable;
    if (!handler) return TOKEN_ERR_NO_PIN;
    PinBuffer pin;
    if (!pin.allocated()) return TOKEN_ERR_MEMORY;
    if (handler->inputPIN(pin.out(), tokenType, InputPINHandler::PURPOSE_PRIVATE_KEY) != 0)
        return TOKEN_ERR_PIN_CANCELLED;
    if (!pin.terminated()) return TOKEN_ERR_INVALID_DATA;
    const Pin p = pinOf(pin.bytes(), kPinBufferSize);
    // The disk token decrypts with RSA keys only: a key of another kind gives 1307.
    RsaPrivateKey rsa;
    int rc = decryptPrivateKeyFromPKCS8(&rsa.key, nullptr, nullptr, nullptr, key->data, key->length,
                                        const_cast<unsigned char*>(p.data),
                                        static_cast<unsigned long>(p.length), TOKEN_KEY_RECORD,
                                        PKI_TYPE_NPKI);
    if (rc != 0) return rc == TOKEN_ERR_NOT_PKCS8 ? TOKEN_ERR_INVALID_DATA : rc;
    return brindlow::token::suites::pkcs1Decrypt(logger, &rsa.key, in, inLength, out, outLength);
}

int FileToken::generateSignatureRAW(unsigned char* out, unsigned long* outLength,
                                    InputPINHandler* handler, unsigned char* in,
                                    unsigned long inLength, const char* keyId, const char* itemId,
                                    TokenGenerateSignatureParameters* parameters) {
    TokenGenerateSignatureParameters none{};
    if (!parameters) parameters = &none;
    const CertificateSuite* suite = findCert(itemId);
    if (!suite)
        return generateSignatureLocal(out, outLength, in, inLength, nullptr, keyId, itemId,
                                      parameters, PKI_TYPE_NPKI);
    if (!hasBytes(suite->signKey)) return TOKEN_ERR_NO_PRIVATE_KEY;
    if (!handler) return TOKEN_ERR_NO_PIN;
    PinBuffer pin;
    if (!pin.allocated()) return TOKEN_ERR_MEMORY;
    if (handler->inputPIN(pin.out(), tokenType, InputPINHandler::PURPOSE_PRIVATE_KEY) != 0)
        return TOKEN_ERR_PIN_CANCELLED;
    if (!pin.terminated()) return TOKEN_ERR_INVALID_DATA;
    const Pin p = pinOf(pin.bytes(), kPinBufferSize);
    return brindlow::token::suites::signWithKeyFile(
        *this, *suite, const_cast<unsigned char*>(p.data), static_cast<unsigned long>(p.length),
        out, outLength, in, inLength, keyId, itemId, parameters);
}

// ---- Key sizes -------------------------------------------------------------------------------

int FileToken::getKeySize(unsigned long* size, InputPINHandler* handler, const char* keyId) {
    if (localKeyStorage && keyId && localKeyStorage->get(keyId) &&
        Token::getKeySize(size, handler, keyId) == 0)
        return 0;
    if (size) *size = 0;
    return brindlow::token::suites::suiteKeySize(logger, findCert(keyId), size);
}

int FileToken::getKeyLength(const char* itemId, int* length) {
    return brindlow::token::suites::suiteKeyLength(logger, findCert(itemId), length);
}
