// The PKCS #12 file token: a listing opens the held file with the user's password and keeps each
// certificate with its key, the key re-encrypted under the certificate's identifier; the reading
// operations are answered from there and every writing one is refused.
#include "PFXFileToken.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "ItemId.h"
#include "Logger.h"
#include "SGPKCS12.h"
#include "SGX509Certificate.h"
#include "TokenCertificate.h"
#include "TokenKeys.h"
#include "TokenLocalKeyStorage.h"
#include "TokenLog.h"
#include "TokenSuite.h"
#include "TokenTables.h"
#include "Util.h"

using brindlow::token::DecodedCertificate;
using brindlow::token::entryText;
using brindlow::token::identifierPart;
using brindlow::token::kLibraryUnavailable;
using brindlow::token::lastCharacter;
using brindlow::token::suites::clearOutputs;
using brindlow::token::suites::handOut;
using brindlow::token::suites::hasBytes;
using brindlow::token::suites::missingSuite;
using brindlow::token::suites::selectPair;
using namespace brindlow::token::keys;

namespace {

constexpr const char* kKind = "PKCS#12 TOKEN";
constexpr size_t kLongestPassword = kPinBufferSize - 1;
// The profile of the keys kept inside the token.
constexpr int kStoredKeyIterations = 2048;
constexpr const char* kReencryption = "changePrivateKeyPassword";

// The length of a password up to its NUL, never read beyond the given length.
size_t pinLength(const unsigned char* pin, unsigned long length) {
    if (!pin) return 0;
    return ::strnlen(reinterpret_cast<const char*>(pin), std::min<unsigned long>(length, INT_MAX));
}

// Compares without stopping at the first difference.
bool samePassword(const char* a, size_t aLength, const char* b, size_t bLength) {
    unsigned char diff = aLength == bLength ? 0 : 1;
    const size_t n = std::min(aLength, bLength);
    for (size_t i = 0; i < n; ++i) diff |= static_cast<unsigned char>(a[i] ^ b[i]);
    return diff == 0;
}

struct DecodedPFX {
    SGPKCS12PFX pfx{};
    ~DecodedPFX() { TM_SERVICE(SGPKCS12PFX_Clear)(&pfx); }
};

// Every part of a file's suite is wiped: the certificates came with the keys.
void releasePart(SGBinary*& bin) {
    brindlow::token::suites::releasePart(bin, true);
}

void releaseSuite(PFXCertificateSuite* suite) {
    if (!suite) return;
    if (suite->path) TM_BASE(SGOS_free)(suite->path);
    releasePart(suite->signCert);
    releasePart(suite->signKey);
    releasePart(suite->kmCert);
    releasePart(suite->kmKey);
    releasePart(suite->caPubs);
    TM_BASE(SGMemory_cleanse)(suite->password, sizeof suite->password);
    TM_BASE(SGOS_free)(suite);
}

// A heap SGBinary holding a copy of the bytes, or null without memory.
SGBinary* newPart(const unsigned char* data, uint32_t length) {
    SGBinary* part = TM_BASE(SGBinary_New)(0);
    if (!part) return nullptr;
    if (length && TM_BASE(SGBinary_Set)(part, data, length) != 0) {
        TM_BASE(SGBinary_Free)(part);
        return nullptr;
    }
    return part;
}

void setItemId(char (&out)[128], const std::string& identifier, char digit) {
    std::memset(out, 0, sizeof out);
    const size_t n = std::min<size_t>(identifier.size(), sizeof out - 2);
    std::memcpy(out, identifier.data(), n);
    out[n] = digit;
}

// What the PKCS #12 layer's answer to a listing means for the caller.
int listingCode(int libraryCode) {
    switch (libraryCode) {
        case SG_PKCS12_ERR_MAC:
            return TOKEN_ERR_PFX_INTEGRITY;
        case SG_ASN_ERR_DECODE:  // not a PFX
            return TOKEN_ERR_PFX_MALFORMED;
        case SG_PKI_ERR_MEMORY:
            return TOKEN_ERR_MEMORY;
        default:
            return TOKEN_ERR_PFX_REJECTED;
    }
}

int libraryResult(int rc) {
    return rc == SG_PKI_ERR_MEMORY ? TOKEN_ERR_MEMORY : TOKEN_ERR_INVALID_DATA;
}

}  // namespace

// ---- Construction and suites --------------------------------------------------------------------

PFXFileToken::PFXFileToken(const char* name)
    : Token(name, kKind, InputPINHandler::TOKEN_TYPE_PKCS12), pfx(nullptr), pfxLength(0) {
    std::memset(importPIN, 0, sizeof importPIN);
}

PFXFileToken::~PFXFileToken() {
    clearCertificateAndKey();
    clearOptions();
    TM_BASE(SGMemory_cleanse)(importPIN, sizeof importPIN);
}

std::string PFXFileToken::identifierOf(const std::string& subject) {
    return brindlow::token::suites::sha1Identifier(subject.data(), subject.size());
}

void PFXFileToken::clearCertificateAndKey() {
    TOKEN_DEBUG(logger, "%s map size (%d)", "clearCertificateAndKey",
                static_cast<int>(suites.size()));
    for (auto& [identifier, suite] : suites) releaseSuite(suite);
    suites.clear();
    TOKEN_DEBUG(logger, "%s map clear end", "clearCertificateAndKey");
}

int PFXFileToken::sizeCertificateAndKey() {
    return static_cast<int>(suites.size());
}

bool PFXFileToken::addCertificateAndKey(const char* identifier, void* suite) {
    if (!identifier || !*identifier || !suite) return false;
    const bool added = suites.emplace(identifier, static_cast<PFXCertificateSuite*>(suite)).second;
    TOKEN_DEBUG(logger, "%s - end", "addCertificateAndKey");
    return added;
}

bool PFXFileToken::addCertificateAndKey(void* suite, int number) {
    const std::string identifier = identifierOf(std::to_string(number));
    TOKEN_DEBUG(logger, "%s - identifier: %s", "addCertificateAndKey", identifier.c_str());
    return !identifier.empty() && addCertificateAndKey(identifier.c_str(), suite);
}

void PFXFileToken::eraseCertificateAndKey(const char* itemId) {
    const std::string identifier = identifierPart(itemId);
    if (!identifier.empty()) suites.erase(identifier);
}

PFXCertificateSuite* PFXFileToken::findCert(const char* itemId) {
    const std::string identifier = identifierPart(itemId);
    TOKEN_DEBUG(logger, "find cert (%s)", identifier.c_str());
    if (identifier.empty()) return nullptr;
    const auto it = suites.find(identifier);
    return it == suites.end() ? nullptr : it->second;
}

int PFXFileToken::getCertificateSuite(void*, void*, int) {
    TOKEN_DEBUG(logger, "getCertificateSuite - end");
    return 0;
}

void PFXFileToken::clearOptions() {
    // The file may hold plain key bags: its bytes are wiped like a key.
    if (pfx) {
        TM_BASE(SGMemory_cleanse)(pfx, pfxLength);
        freeMemory(pfx, 0);
    }
    pfx = nullptr;
    pfxLength = 0;
}

int PFXFileToken::setTokenOptions(void* options) {
    clearOptions();
    clearCertificateAndKey();
    const auto* file = static_cast<const SGBinary*>(options);
    if (!file || !file->data || !file->length) return 0;
    pfx = duplicateMemory(file->data, file->length);
    if (!pfx) {
        TOKEN_FATAL(logger, "%s - memory allocation failed...(%d)", "setTokenOptions",
                    TOKEN_ERR_MEMORY);
        return TOKEN_ERR_MEMORY;
    }
    pfxLength = file->length;
    return 0;
}

// ---- Listing ------------------------------------------------------------------------------------

int PFXFileToken::getCertificateList(ShortCertificate** list, unsigned int* count, int,
                                     InputPINHandler* handler, const char*) {
    static constexpr const char* kName = "getCertificateList";
    TOKEN_DEBUG(logger, "getCertificateList - start");
    if (list) *list = nullptr;
    if (count) *count = 0;
    clearCertificateAndKey();
    if (!list || !count) return TOKEN_ERR_INVALID_DATA;
    // No file handed over yet: nothing to list and nothing to ask.
    if (!pfx || !pfxLength) return 0;
    if (!handler) {
        TOKEN_FATAL(logger, "%s - do not input pin...(%d)", kName, TOKEN_ERR_NO_PIN);
        return TOKEN_ERR_NO_PIN;
    }
    if (!TM_SERVICE_READY(SGPKCS12PFX_Decode) ||
        !TM_SERVICE_READY(SGPKCS12PFX_GetCertificateAndKey) ||
        !TM_SERVICE_READY(SGPKCS12PFX_Clear) || !TM_SERVICE_READY(SGPKCS5Encrypt) ||
        !TM_SERVICE_READY(SGPKCS8EncryptedPrivateKeyInfo_Encode) || !pkcs8Ready() ||
        !brindlow::token::certificatesReady())
        return kLibraryUnavailable;
    PinBuffer pin;
    if (!pin.allocated()) return TOKEN_ERR_MEMORY;
    if (handler->inputPIN(pin.out(), tokenType, InputPINHandler::PURPOSE_PRIVATE_KEY) != 0)
        return TOKEN_ERR_PIN_CANCELLED;
    if (!pin.terminated()) return TOKEN_ERR_INVALID_DATA;
    const size_t passwordLength = pin.length();

    DecodedPFX decoded;
    const SGBinary file{pfx, pfxLength};
    const SGBinary password{pin.bytes(), static_cast<uint32_t>(passwordLength)};
    int rc = TM_SERVICE(SGPKCS12PFX_Decode)(&decoded.pfx, &file, &password);
    if (rc != 0) {
        const int code = listingCode(rc);
        TOKEN_FATAL(logger, "%s - PKCS12 decode failed...(%d)(%d)", kName, rc, code);
        return code;
    }

    // Any failure below leaves the token without suites: a listing is whole or nothing.
    auto fail = [&](int code) {
        clearCertificateAndKey();
        return code;
    };
    // There are never more end-entity certificates than bags, so the loop is bounded even if
    // the layer did not end it.
    size_t bags = 0;
    for (int s = 0; s < decoded.pfx.count; ++s)
        for (const SGPKCS12SafeBag* bag = &decoded.pfx.safes[s]; bag; bag = bag->next) ++bags;
    for (int index = 0; static_cast<size_t>(index) <= bags; ++index) {
        SecretBinary key;
        SecretBinary certificate;
        rc = TM_SERVICE(SGPKCS12PFX_GetCertificateAndKey)(&key.bin, &certificate.bin, nullptr,
                                                          &decoded.pfx, index);
        if (rc == SG_PKI_ERR_OUT_OF_RANGE) break;
        if (rc != 0) {
            TOKEN_FATAL(logger, "%s - get certificate and key failed...(%d)(%d)", kName, rc,
                        TOKEN_ERR_PFX_REJECTED);
            return fail(rc == SG_PKI_ERR_MEMORY ? TOKEN_ERR_MEMORY : TOKEN_ERR_PFX_REJECTED);
        }
        if (!hasBytes(&key.bin) || !hasBytes(&certificate.bin)) continue;

        DecodedCertificate parsed;
        std::string subject;
        rc = parsed.decode(certificate.bin.data, certificate.bin.length);
        if (rc == 0) rc = entryText(parsed.handle(), SG_X509_ENTRY_SUBJECT, 0, 1024, subject);
        if (rc != 0) {
            TOKEN_FATAL(logger, "%s - certificate does not decode...(%d)(%d)", kName, rc,
                        TOKEN_ERR_INVALID_DATA);
            return fail(libraryResult(rc));
        }
        // The whole subject names the suite, so two holders whose names share a long prefix
        // never meet in one.
        const std::string identifier = identifierOf(subject);
        if (identifier.size() != TOKEN_IDENTIFIER_LENGTH) return fail(TOKEN_ERR_MEMORY);
        const bool signing = IsDigitalSignature(certificate.bin.data, certificate.bin.length);

        EncryptedKeyInfo encrypted;
        SGPKCS5PBESParam profile{};
        profile.pbeType = SG_PBE_KISA_SHA1_SEED_CBC;
        profile.iterations = kStoredKeyIterations;
        rc = TM_SERVICE(SGPKCS5Encrypt)(&encrypted.record, key.bin.data,
                                        static_cast<int>(key.bin.length),
                                        reinterpret_cast<const unsigned char*>(identifier.data()),
                                        static_cast<int>(identifier.size()), &profile);
        SGBinary* storedKey = nullptr;
        if (rc == 0) {
            SGBinary der{};
            rc = TM_SERVICE(SGPKCS8EncryptedPrivateKeyInfo_Encode)(&der, &encrypted.record);
            if (rc == 0) {
                storedKey = newPart(der.data, der.length);
                if (!storedKey) rc = SG_PKI_ERR_MEMORY;
            }
            TM_BASE(SGBinary_Cleanse)(&der);
        }
        if (rc != 0) {
            TOKEN_FATAL(logger, "%s - key not kept...(%d)(%d)", kName, rc, libraryResult(rc));
            return fail(libraryResult(rc));
        }
        SGBinary* storedCert = newPart(certificate.bin.data, certificate.bin.length);
        if (!storedCert) {
            releasePart(storedKey);
            return fail(TOKEN_ERR_MEMORY);
        }

        PFXCertificateSuite* suite = nullptr;
        if (auto it = suites.find(identifier); it != suites.end()) {
            suite = it->second;
        } else {
            suite = static_cast<PFXCertificateSuite*>(
                TM_BASE(SGOS_calloc)(1, sizeof(PFXCertificateSuite)));
            if (!suite || !addCertificateAndKey(identifier.c_str(), suite)) {
                if (suite) TM_BASE(SGOS_free)(suite);
                releasePart(storedKey);
                releasePart(storedCert);
                return fail(TOKEN_ERR_MEMORY);
            }
        }
        SGBinary*& certSlot = signing ? suite->signCert : suite->kmCert;
        SGBinary*& keySlot = signing ? suite->signKey : suite->kmKey;
        releasePart(certSlot);
        releasePart(keySlot);
        certSlot = storedCert;
        keySlot = storedKey;
        std::memset(suite->password, 0, sizeof suite->password);
        std::memcpy(suite->password, pin.out(), std::min(passwordLength, kLongestPassword));
    }

    const auto rows = static_cast<unsigned int>(suites.size());
    TOKEN_DEBUG(logger, "getCertificateList - count(%d)", static_cast<int>(rows));
    if (rows == 0) return 0;
    auto* out = reinterpret_cast<ShortCertificate*>(allocMemory(rows * sizeof(ShortCertificate)));
    if (!out) {
        TOKEN_FATAL(logger, "%s - memory allocation failed...(%d)", kName, TOKEN_ERR_MEMORY);
        return fail(TOKEN_ERR_MEMORY);
    }
    unsigned int i = 0;
    for (const auto& [identifier, suite] : suites) {
        ShortCertificate& row = out[i++];
        row.pkiType = PKI_TYPE_NPKI;
        setItemId(row.signCertID, identifier, TOKEN_ITEM_SIGN_CERT);
        setItemId(row.signKeyID, identifier, TOKEN_ITEM_SIGN_KEY);
        if (suite->kmCert)
            setItemId(row.kmCertID, identifier, TOKEN_ITEM_KM_CERT);
        else
            std::memcpy(row.kmCertID, row.signCertID, sizeof row.kmCertID);
        if (suite->kmKey)
            setItemId(row.kmKeyID, identifier, TOKEN_ITEM_KM_KEY);
        else
            std::memcpy(row.kmKeyID, row.signKeyID, sizeof row.kmKeyID);
        const SGBinary* shown = hasBytes(suite->signCert) ? suite->signCert : suite->kmCert;
        if (hasBytes(shown))
            generateShortCertificateFromBinary(&row, shown->data, shown->length, nullptr, 0);
        else
            TOKEN_DEBUG(logger, "generateShortCertificateFromBinary signCert is NULL");
    }
    *list = out;
    *count = rows;
    TOKEN_DEBUG(logger, "getCertificateList - end(%d)", 0);
    return 0;
}

int PFXFileToken::getCertificate(const char* itemId, unsigned char** der, unsigned long* length) {
    if (der) *der = nullptr;
    if (length) *length = 0;
    const PFXCertificateSuite* suite = findCert(itemId);
    if (!suite) {
        TOKEN_FATAL(logger, "%s - find cert failed...(%d)()", "getCertificate",
                    TOKEN_ERR_NO_CERTIFICATE);
        return TOKEN_ERR_NO_CERTIFICATE;
    }
    if (!der || !length) return TOKEN_ERR_INVALID_DATA;
    const char digit = lastCharacter(itemId);
    const SGBinary* certificate = digit == TOKEN_ITEM_SIGN_CERT ? suite->signCert
                                  : digit == TOKEN_ITEM_KM_CERT ? suite->kmCert
                                                                : nullptr;
    if (!hasBytes(certificate)) return 0;
    *der = duplicateMemory(certificate->data, certificate->length);
    if (!*der) return TOKEN_ERR_MEMORY;
    *length = certificate->length;
    return 0;
}

int PFXFileToken::getPath(const char*, unsigned char** path, unsigned long* length) {
    if (path) *path = nullptr;
    if (length) *length = 0;
    return 0;
}

// ---- Passwords and keys -------------------------------------------------------------------------

int PFXFileToken::askFilePassword(const char* operation, const PFXCertificateSuite& suite,
                                  InputPINHandler* handler, int purpose, bool passOther) {
    if (!handler) {
        TOKEN_FATAL(logger, "%s - do not input pin...(%d)(%d)", operation, TOKEN_ERR_NO_PIN, 0);
        return TOKEN_ERR_NO_PIN;
    }
    PinBuffer pin;
    if (!pin.allocated()) return TOKEN_ERR_MEMORY;
    const int answer = handler->inputPIN(pin.out(), tokenType,
                                         static_cast<InputPINHandler::InputPINPurpose>(purpose));
    if (answer != 0) {
        TOKEN_FATAL(logger, "%s - input pin canceled...(%d)(%d)", operation,
                    TOKEN_ERR_PIN_CANCELLED, answer);
        return passOther && answer != 1 ? answer : TOKEN_ERR_PIN_CANCELLED;
    }
    const size_t stored = ::strnlen(suite.password, sizeof suite.password);
    if (!pin.terminated() || !samePassword(pin.out(), pin.length(), suite.password, stored)) {
        TOKEN_FATAL(logger, "%s - invalid password...(%d)", operation, TOKEN_ERR_WRONG_PIN);
        return TOKEN_ERR_WRONG_PIN;
    }
    return 0;
}

int PFXFileToken::verifyPin(const char* itemId, unsigned char* pin, unsigned long pinLength) {
    static constexpr const char* kName = "verifyPin";
    const PFXCertificateSuite* suite = findCert(itemId);
    if (!suite || !hasBytes(suite->signCert)) {
        TOKEN_FATAL(logger, "%s - find cert failed...(%d)()", kName, TOKEN_ERR_NO_CERTIFICATE);
        return TOKEN_ERR_NO_CERTIFICATE;
    }
    if (!hasBytes(suite->signKey)) {
        TOKEN_FATAL(logger, "%s - find privateKey failed...(%d)()", kName,
                    TOKEN_ERR_NO_PRIVATE_KEY);
        return TOKEN_ERR_NO_PRIVATE_KEY;
    }
    // The keys inside are under the identifier; what the user knows is the file's password.
    const size_t length = ::pinLength(pin, pinLength);
    const char* entered = pin ? reinterpret_cast<const char*>(pin) : "";
    const size_t stored = ::strnlen(suite->password, sizeof suite->password);
    if (!samePassword(entered, length, suite->password, stored)) {
        TOKEN_FATAL(logger, "%s - decrypt private key from PKCS8 failed...(%d)(%d)", kName,
                    TOKEN_ERR_WRONG_PIN, TOKEN_ERR_WRONG_PIN);
        return TOKEN_ERR_WRONG_PIN;
    }
    return 0;
}

int PFXFileToken::changePrivateKeyPassword(unsigned char** out, unsigned long* outLength,
                                           unsigned char* key, unsigned int keyLength,
                                           unsigned char* oldPassword, unsigned long oldLength,
                                           unsigned char* newPassword, unsigned long newLength) {
    if (out) *out = nullptr;
    if (outLength) *outLength = 0;
    if (!out || !outLength) return TOKEN_ERR_INVALID_DATA;
    if (!pkcs8Ready() || !rsaReady() || !TM_SERVICE_READY(SGPKCS5Encrypt) ||
        !TM_SERVICE_READY(SGPKCS8PrivateKeyInfo_Encode) ||
        !TM_SERVICE_READY(SGPKCS8EncryptedPrivateKeyInfo_Encode))
        return kLibraryUnavailable;
    EncryptedKeyInfo encrypted;
    const SGBinary der{key, keyLength};
    int rc = key && keyLength
                 ? TM_SERVICE(SGPKCS8EncryptedPrivateKeyInfo_Decode)(&encrypted.record, &der)
                 : SG_PKI_ERR_ARGUMENT;
    if (rc != 0) {
        TOKEN_FATAL(logger, "%s - PKCS8 encrypted private key info decode failed...(%d)(%d)",
                    kReencryption, rc, TOKEN_ERR_INVALID_DATA);
        return TOKEN_ERR_INVALID_DATA;
    }
    SecretBytes plain(encrypted.record.encryptedData.length);
    if (!plain.data()) {
        TOKEN_FATAL(logger, "%s - memory allocation failed...(%d)", kReencryption,
                    TOKEN_ERR_MEMORY);
        return TOKEN_ERR_MEMORY;
    }
    int plainLength = 0;
    static const unsigned char kEmpty[1] = {0};
    rc = TM_SERVICE(SGPKCS5Decrypt)(plain.data(), &plainLength, &encrypted.record,
                                    oldPassword ? oldPassword : kEmpty,
                                    static_cast<int>(pinLength(oldPassword, oldLength)));
    if (rc != 0) {
        const int code = decryptFailure(rc);
        TOKEN_FATAL(logger, "%s - PKCS5 decrypt failed...(%d)(%d)", kReencryption, rc, code);
        return code;
    }
    PlainKeyInfo info;
    const SGBinary plainDer{plain.data(), static_cast<uint32_t>(plainLength)};
    rc = TM_SERVICE(SGPKCS8PrivateKeyInfo_Decode)(&info.record, &plainDer);
    if (rc != 0) {
        TOKEN_FATAL(logger, "%s - PKCS8 private key info decode failed...(%d)(%d)", kReencryption,
                    rc, TOKEN_ERR_INVALID_DATA);
        return libraryResult(rc);
    }
    if (info.record.algorithm == SG_PKCS8_ALGORITHM_RSA) {
        RsaPrivateKey rsa;
        rc = TM_CRYPTO(SGRSAPrivateKey_Decode)(&rsa.key, info.record.privateKey.data,
                                               static_cast<int>(info.record.privateKey.length));
        if (rc != 0) {
            TOKEN_FATAL(logger, "%s - RSA private key decode failed...(%d)(%d)", kReencryption, rc,
                        TOKEN_ERR_INVALID_DATA);
            return TOKEN_ERR_INVALID_DATA;
        }
    }
    // The whole record is encoded again: a KCDSA key keeps its domain parameters.
    SecretBinary reencoded;
    rc = TM_SERVICE(SGPKCS8PrivateKeyInfo_Encode)(&reencoded.bin, &info.record);
    if (rc != 0) {
        TOKEN_FATAL(logger, "%s - PKCS8 private key info encode failed...(%d)(%d)", kReencryption,
                    rc, TOKEN_ERR_INVALID_DATA);
        return libraryResult(rc);
    }
    EncryptedKeyInfo sealed;
    SGPKCS5PBESParam profile{};
    profile.pbeType = encrypted.record.algorithm;
    profile.iterations = kStoredKeyIterations;
    profile.cipherId = SG_CIPHER_SEED;
    rc = TM_SERVICE(SGPKCS5Encrypt)(&sealed.record, reencoded.bin.data,
                                    static_cast<int>(reencoded.bin.length),
                                    newPassword ? newPassword : kEmpty,
                                    static_cast<int>(pinLength(newPassword, newLength)), &profile);
    if (rc != 0) {
        TOKEN_FATAL(logger, "%s - PKCS5 encrypt failed...(%d)(%d)", kReencryption, rc,
                    TOKEN_ERR_INVALID_DATA);
        return libraryResult(rc);
    }
    SecretBinary sealedDer;
    rc = TM_SERVICE(SGPKCS8EncryptedPrivateKeyInfo_Encode)(&sealedDer.bin, &sealed.record);
    if (rc != 0) {
        TOKEN_FATAL(logger, "%s - PKCS8 encrypted private key info encode failed...(%d)(%d)",
                    kReencryption, rc, TOKEN_ERR_INVALID_DATA);
        return libraryResult(rc);
    }
    *out = duplicateMemory(sealedDer.bin.data, sealedDer.bin.length);
    if (!*out) return TOKEN_ERR_MEMORY;
    *outLength = sealedDer.bin.length;
    return 0;
}

int PFXFileToken::getPrivateKey(const char* itemId, unsigned char** key, unsigned long* length,
                                InputPINHandler* handler) {
    static constexpr const char* kName = "getPrivateKey";
    TOKEN_DEBUG(logger, "getPrivateKey - start");
    if (key) *key = nullptr;
    if (length) *length = 0;
    const PFXCertificateSuite* suite = findCert(itemId);
    if (!suite) return missingSuite(logger, kName);
    if (!key || !length) return TOKEN_ERR_INVALID_DATA;
    if (!handler) {
        TOKEN_FATAL(logger, "%s - do not input pin...(%d)(%d)", kName, TOKEN_ERR_NO_PIN, 0);
        return TOKEN_ERR_NO_PIN;
    }
    PinBuffer pin;
    if (!pin.allocated()) return TOKEN_ERR_MEMORY;
    if (handler->inputPIN(pin.out(), tokenType, InputPINHandler::PURPOSE_PRIVATE_KEY) != 0) {
        TOKEN_FATAL(logger, "%s - input pin canceled...(%d)", kName, TOKEN_ERR_PIN_CANCELLED);
        return TOKEN_ERR_PIN_CANCELLED;
    }
    const size_t stored = ::strnlen(suite->password, sizeof suite->password);
    if (!pin.terminated() || !samePassword(pin.out(), pin.length(), suite->password, stored)) {
        TOKEN_FATAL(logger, "%s - invalid password...(%d)", kName, TOKEN_ERR_WRONG_PIN);
        return TOKEN_ERR_WRONG_PIN;
    }
    const char digit = lastCharacter(itemId);
    const SGBinary* part =
        digit == TOKEN_ITEM_SIGN_CERT || digit == TOKEN_ITEM_SIGN_KEY ? suite->signKey
        : digit == TOKEN_ITEM_KM_CERT || digit == TOKEN_ITEM_KM_KEY   ? suite->kmKey
                                                                      : nullptr;
    if (!hasBytes(part)) return 0;
    std::string identifier = identifierPart(itemId);
    const int rc = changePrivateKeyPassword(key, length, part->data, part->length,
                                            reinterpret_cast<unsigned char*>(identifier.data()),
                                            identifier.size(), pin.bytes(), pin.length());
    if (rc != 0) TOKEN_FATAL(logger, "%s - verifyPin failed...(%d)", kName, rc);
    TOKEN_DEBUG(logger, "getPrivateKey - end (%d)", rc);
    return rc;
}

int PFXFileToken::openStoredKey(const SGBinary* stored, const std::string& identifier, void* rsa,
                                void* ds, PKIType* kind,
                                TokenGenerateSignatureParameters* parameters) {
    auto* password = reinterpret_cast<unsigned char*>(const_cast<char*>(identifier.data()));
    *kind = PKI_TYPE_NPKI;
    int rc =
        decryptPrivateKeyFromPKCS8(rsa, nullptr, nullptr, nullptr, stored->data, stored->length,
                                   password, identifier.size(), TOKEN_KEY_RECORD, PKI_TYPE_NPKI);
    // A file may carry a KCDSA key: it signs as the disk token signs with one.
    if (rc == TOKEN_ERR_NOT_SUPPORTED && ds && parameters) {
        *kind = PKI_TYPE_GPKI;
        rc = decryptPrivateKeyFromPKCS8(
            ds, nullptr, &parameters->dsParameters, &parameters->dsParametersLength, stored->data,
            stored->length, password, identifier.size(), TOKEN_KEY_RECORD, PKI_TYPE_GPKI);
    }
    return rc;
}

int PFXFileToken::exportCertificateAndKey(unsigned char** key, unsigned long* keyLength,
                                          unsigned char** certificate,
                                          unsigned long* certificateLength,
                                          InputPINHandler* handler, const char* suiteItemId,
                                          const char* pairItemId) {
    static constexpr const char* kName = "exportCertificateAndKey";
    clearOutputs(key, keyLength, certificate, certificateLength);
    const PFXCertificateSuite* suite = findCert(suiteItemId);
    const SGBinary *cert = nullptr, *stored = nullptr;
    int rc = selectPair(logger, kName, suite, pairItemId, true, &cert, &stored);
    if (rc != 0) return rc;
    if (!key || !keyLength || !certificate || !certificateLength) return TOKEN_ERR_INVALID_DATA;
    rc = askFilePassword(kName, *suite, handler, InputPINHandler::PURPOSE_EXPORT_KEY, true);
    if (rc != 0) return rc;

    // Callers import what they get as a plain PrivateKeyInfo, as the disk token hands it out.
    std::string identifier = identifierPart(suiteItemId);
    PlainKeyInfo info;
    rc = decryptPrivateKeyFromPKCS8(
        &info.record, nullptr, nullptr, nullptr, stored->data, stored->length,
        reinterpret_cast<unsigned char*>(identifier.data()), identifier.size(), TOKEN_KEY_INFO);
    if (rc != 0) {
        TOKEN_FATAL(logger, "%s - decrypt private key from PKCS8 failed...(%d)", kName, rc);
        return rc;
    }
    SecretBinary der;
    rc = TM_SERVICE(SGPKCS8PrivateKeyInfo_Encode)(&der.bin, &info.record);
    if (rc != 0) {
        TOKEN_FATAL(logger, "%s - PKCS8 private key info encode failed...(%d)", kName, rc);
        return libraryResult(rc);
    }
    return handOut(der.bin, *cert, key, keyLength, certificate, certificateLength);
}

int PFXFileToken::getVIDRandom(unsigned char** random, unsigned long* length, InputPINHandler*,
                               const char* itemId) {
    static constexpr const char* kName = "getVIDRandom";
    if (random) *random = nullptr;
    if (length) *length = 0;
    const PFXCertificateSuite* suite = findCert(itemId);
    if (!suite) return missingSuite(logger, kName);
    if (!random || !length) return TOKEN_ERR_INVALID_DATA;
    if (!hasBytes(suite->signKey)) {
        TOKEN_FATAL(logger, "%s - find privateKey failed...(%d)()", kName,
                    TOKEN_ERR_NO_PRIVATE_KEY);
        return TOKEN_ERR_NO_PRIVATE_KEY;
    }
    std::string identifier = identifierPart(itemId);
    SGBinary vid{};
    // Mode 0 without a key record reads only the random, whatever the key's kind.
    const int rc = decryptPrivateKeyFromPKCS8(
        nullptr, &vid, nullptr, nullptr, suite->signKey->data, suite->signKey->length,
        reinterpret_cast<unsigned char*>(identifier.data()), identifier.size(), TOKEN_KEY_RECORD);
    if (rc != 0) {
        TOKEN_FATAL(logger, "%s - decrypt private key from PKCS8 failed...(%d)(%d)", kName,
                    TOKEN_ERR_PUBLIC_KEY, rc);
        return TOKEN_ERR_PUBLIC_KEY;
    }
    return brindlow::token::suites::handOutRandom(vid, random, length);
}

int PFXFileToken::getKMID(char** kmKeyId, char** kmCertId, const char* itemId) {
    return brindlow::token::suites::suiteKmIds(logger, findCert(itemId), itemId, kmKeyId, kmCertId);
}

// ---- Using the keys -----------------------------------------------------------------------------

int PFXFileToken::decrypt(unsigned char** out, unsigned long* outLength, unsigned char* in,
                          unsigned long inLength, InputPINHandler* handler, const char* keyId,
                          TokenDecryptParameters* parameters) {
    static constexpr const char* kName = "decrypt";
    if (out) *out = nullptr;
    if (outLength) *outLength = 0;
    if (!keyId) return TOKEN_ERR_NO_LOCAL_KEY;
    int rc = Token::decrypt(out, outLength, in, inLength, handler, keyId, parameters);
    if (rc != TOKEN_ERR_NO_LOCAL_KEY) return rc;
    const PFXCertificateSuite* suite = findCert(keyId);
    if (!suite) return missingSuite(logger, kName);
    const char digit = lastCharacter(keyId);
    const SGBinary* key = digit == TOKEN_ITEM_SIGN_KEY ? suite->signKey
                          : digit == TOKEN_ITEM_KM_KEY ? suite->kmKey
                                                       : nullptr;
    if (!hasBytes(key)) {
        TOKEN_FATAL(logger, "%s - find privateKey failed...(%d)()", kName,
                    TOKEN_ERR_NO_PRIVATE_KEY);
        return TOKEN_ERR_NO_PRIVATE_KEY;
    }
    if (!out || !outLength || !in || inLength == 0 || inLength > UINT32_MAX)
        return TOKEN_ERR_INVALID_DATA;
    if (!rsaReady()) return kLibraryUnavailable;
    std::string identifier = identifierPart(keyId);
    // PKCS #1 decryption needs an RSA key: another kind gives 1307.
    RsaPrivateKey rsa;
    rc = decryptPrivateKeyFromPKCS8(&rsa.key, nullptr, nullptr, nullptr, key->data, key->length,
                                    reinterpret_cast<unsigned char*>(identifier.data()),
                                    identifier.size(), TOKEN_KEY_RECORD, PKI_TYPE_NPKI);
    if (rc != 0) return rc;
    return brindlow::token::suites::pkcs1Decrypt(logger, &rsa.key, in, inLength, out, outLength);
}

int PFXFileToken::generateSignatureRAW(unsigned char* out, unsigned long* outLength,
                                       InputPINHandler* handler, unsigned char* in,
                                       unsigned long inLength, const char* keyId,
                                       const char* itemId,
                                       TokenGenerateSignatureParameters* parameters) {
    static constexpr const char* kName = "generateSignatureRAW";
    TokenGenerateSignatureParameters none{};
    if (!parameters) parameters = &none;
    const PFXCertificateSuite* suite = findCert(itemId);
    if (!suite)
        return generateSignatureLocal(out, outLength, in, inLength, nullptr, keyId, itemId,
                                      parameters, PKI_TYPE_NPKI);
    int rc = askFilePassword(kName, *suite, handler, InputPINHandler::PURPOSE_PRIVATE_KEY, false);
    if (rc != 0) return rc;
    if (!hasBytes(suite->signKey)) {
        TOKEN_FATAL(logger, "%s - find privateKey failed...(%d)()", kName,
                    TOKEN_ERR_NO_PRIVATE_KEY);
        return TOKEN_ERR_NO_PRIVATE_KEY;
    }
    RsaPrivateKey rsa;
    DsKey ds;
    PKIType kind = PKI_TYPE_NPKI;
    rc =
        openStoredKey(suite->signKey, identifierPart(itemId), &rsa.key, &ds.key, &kind, parameters);
    if (rc == 0)
        rc = generateSignatureLocal(
            out, outLength, in, inLength,
            kind == PKI_TYPE_GPKI ? static_cast<void*>(&ds.key) : static_cast<void*>(&rsa.key),
            keyId, itemId, parameters, kind);
    brindlow::token::suites::releaseDomainParameters(parameters);
    return rc;
}

int PFXFileToken::getKeySize(unsigned long* size, InputPINHandler* handler, const char* keyId) {
    if (localKeyStorage && keyId && localKeyStorage->get(keyId) &&
        Token::getKeySize(size, handler, keyId) == 0)
        return 0;
    if (size) *size = 0;
    return brindlow::token::suites::suiteKeySize(logger, findCert(keyId), size);
}

int PFXFileToken::getKeyLength(const char* itemId, int* length) {
    return brindlow::token::suites::suiteKeyLength(logger, findCert(itemId), length);
}

// ---- Import (kept password only) and refused operations ----------------------------------------

int PFXFileToken::importInit(unsigned char* pin, unsigned long pinLength, InputPINHandler* handler,
                             InputPINHandler::InputPINPurpose) {
    static constexpr const char* kName = "importInit";
    TM_BASE(SGMemory_cleanse)(importPIN, sizeof importPIN);
    if (pin && pinLength) {
        const size_t length = ::pinLength(pin, pinLength);
        // Never cut: a password longer than the buffer is refused.
        if (length > kLongestPassword) {
            TOKEN_FATAL(logger, "%s - password too long...(%d)", kName, TOKEN_ERR_INVALID_DATA);
            return TOKEN_ERR_INVALID_DATA;
        }
        std::memcpy(importPIN, pin, length);
        return 0;
    }
    if (!handler) {
        TOKEN_FATAL(logger, "%s - do not input pin...(%d)(%d)", kName, TOKEN_ERR_NO_PIN, 0);
        return TOKEN_ERR_NO_PIN;
    }
    PinBuffer entered;
    if (!entered.allocated()) return TOKEN_ERR_MEMORY;
    const int answer =
        handler->inputDoublePin(entered.out(), tokenType, InputPINHandler::PURPOSE_IMPORT);
    if (answer == 1) {
        TOKEN_FATAL(logger, "%s - input pin canceled...(%d)(%d)", kName, TOKEN_ERR_PIN_CANCELLED,
                    answer);
        return TOKEN_ERR_PIN_CANCELLED;
    }
    if (answer != 0) return answer;
    if (!entered.terminated()) return TOKEN_ERR_INVALID_DATA;
    std::memcpy(importPIN, entered.out(), entered.length());
    return 0;
}

int PFXFileToken::importFinal() {
    TM_BASE(SGMemory_cleanse)(importPIN, sizeof importPIN);
    return notSupported("importFinal");
}

int PFXFileToken::notSupported(const char* operation) {
    TOKEN_FATAL(logger, "%s - not supported...(%d)", operation, TOKEN_ERR_NOT_SUPPORTED);
    return TOKEN_ERR_NOT_SUPPORTED;
}

int PFXFileToken::deleteCertificate(const char* itemId, InputPINHandler*) {
    if (!findCert(itemId)) {
        TOKEN_FATAL(logger, "%s - find cert failed...(%d)()", "deleteCertificate",
                    TOKEN_ERR_NO_CERTIFICATE);
        return TOKEN_ERR_NO_CERTIFICATE;
    }
    // The file is never written back, so nothing can be deleted from it.
    return notSupported("deleteCertificate");
}

int PFXFileToken::import(unsigned char*, unsigned long, unsigned char*, unsigned long,
                         unsigned char*, unsigned long, unsigned char*, unsigned long,
                         unsigned char*, unsigned long) {
    return notSupported("import");
}

int PFXFileToken::import(unsigned char*, unsigned long, unsigned char*, unsigned long,
                         unsigned char*, unsigned long, unsigned char*, unsigned long, unsigned int,
                         const bool&) {
    return notSupported("import");
}

int PFXFileToken::initToken(unsigned char*, unsigned long, unsigned char*) {
    return TOKEN_ERR_INIT_NOT_SUPPORTED;
}

int PFXFileToken::setPIN(unsigned char*, unsigned long, unsigned char*, unsigned long) {
    return TOKEN_ERR_SETPIN_NOT_SUPPORTED;
}

int PFXFileToken::setCertificatePIN(const char*, unsigned char*, unsigned long, unsigned char*,
                                    unsigned long) {
    return notSupported("setCertificatePIN");
}

int PFXFileToken::finalizeToken() {
    return 0;
}

int PFXFileToken::getTokenGrade() {
    return 0;
}

int PFXFileToken::getTokenStatus() {
    return 0;
}

int PFXFileToken::pushCertificate(InputPINHandler*, const char*, const unsigned char*,
                                  unsigned long, const unsigned char*, unsigned long) {
    return notSupported("pushCertificate");
}

int PFXFileToken::changeCertificatePIN(const char*, InputPINHandler*) {
    return notSupported("changeCertificatePIN");
}

int PFXFileToken::importEncryptedPrivateKeyInfo(unsigned char*, unsigned long, unsigned char*,
                                                unsigned long, unsigned char*, unsigned long,
                                                unsigned char*, unsigned long, InputPINHandler*) {
    return notSupported("importEncryptedPrivateKeyInfo");
}

int PFXFileToken::importCAPubs(unsigned char*, unsigned long) {
    return notSupported("importCAPubs");
}

int PFXFileToken::certificateSynchronize(const char*, unsigned char*, unsigned long, unsigned char*,
                                         unsigned long) {
    return notSupported("certificateSynchronize");
}
