// The in-memory NPKI token: suites handed over by a caller, listed and signed with; nothing is
// ever written.
#include "PFXNPKIToken.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <mutex>
#include <new>
#include <string>

#include "ItemId.h"
#include "Logger.h"
#include "SGDigest.h"
#include "SGHex.h"
#include "SGMemory.h"
#include "SGOS.h"
#include "TokenCertificate.h"
#include "TokenKeys.h"
#include "TokenLog.h"
#include "TokenTables.h"

using brindlow::token::DecodedCertificate;
using brindlow::token::identifierPart;
using brindlow::token::lastCharacter;
using namespace brindlow::token::keys;

namespace {

constexpr const char* kKind = "PFX NPKI";
constexpr const char* kInstanceName = "pfx npki";
constexpr unsigned int kPinBufferSize = 128;

bool hasBytes(const SGBinary* part) {
    return part && part->data && part->length;
}

// A copy of a buffer on the heap (an empty one for an empty buffer), or null without memory.
SGBinary* copyOf(const SGBinary* source) {
    SGBinary* copy = TM_BASE(SGBinary_New)(0);
    if (!copy || !hasBytes(source)) return copy;
    if (TM_BASE(SGBinary_Set)(copy, source->data, source->length) != 0) {
        TM_BASE(SGBinary_Free)(copy);
        return nullptr;
    }
    return copy;
}

void releasePart(SGBinary*& part, bool secret) {
    if (!part) return;
    if (secret) {
        TM_BASE(SGBinary_Cleanse)(part);
        TM_BASE(SGMemory_free)(part);
    } else {
        TM_BASE(SGBinary_Free)(part);
    }
    part = nullptr;
}

// The identifier of a path: 40 upper-case hex digits of the SHA-1 of its bytes; empty when the
// digest cannot be made.
std::string identifierOf(const char* path) {
    const size_t length = std::strlen(path);
    if (!TM_CRYPTO_READY(SGDigest) || length > UINT32_MAX) return {};
    unsigned char digest[20];
    if (TM_CRYPTO(SGDigest)(digest, SG_DIGEST_SHA1, reinterpret_cast<const unsigned char*>(path),
                            static_cast<uint32_t>(length)) != 0)
        return {};
    char hex[2 * sizeof digest + 2] = {};
    if (TM_BASE(SGHex_Encode)(hex, sizeof hex, digest, sizeof digest) != 0) return {};
    return hex;
}

void setItemId(char (&out)[128], const std::string& identifier, char digit) {
    std::memset(out, 0, sizeof out);
    const size_t n = std::min<size_t>(identifier.size(), sizeof out - 1);
    std::memcpy(out, identifier.data(), n);
    if (n + 1 < sizeof out) out[n] = digit;
}

// A 128-byte password buffer that a handler writes into, wiped when it goes.
struct PinBuffer {
    char data[kPinBufferSize] = {};
    PinBuffer() = default;
    PinBuffer(const PinBuffer&) = delete;
    PinBuffer& operator=(const PinBuffer&) = delete;
    ~PinBuffer() { TM_BASE(SGMemory_cleanse)(data, sizeof data); }
    bool terminated() const { return std::memchr(data, 0, sizeof data) != nullptr; }
    unsigned char* bytes() { return reinterpret_cast<unsigned char*>(data); }
    unsigned long length() const { return ::strnlen(data, sizeof data); }
};

std::once_flag instanceOnce;
PFXNPKIToken* instance = nullptr;

}  // namespace

// ---- Instances and suites --------------------------------------------------------------------

PFXNPKIToken* PFXNPKIToken::getInstance() {
    // Worker threads of the daemon reach the registry too: made once, under the flag.
    std::call_once(instanceOnce, [] { instance = new PFXNPKIToken(kInstanceName); });
    return instance;
}

PFXNPKIToken::PFXNPKIToken(const char* name)
    : Token(name, kKind, InputPINHandler::TOKEN_TYPE_PFX_NPKI), suites(new SuiteMap) {
    TOKEN_DEBUG(logger, "(%s) start ...", "PFXNPKIToken");
}

PFXNPKIToken::~PFXNPKIToken() {
    TOKEN_DEBUG(logger, "(%s) ~PFXNPKIToken ...", "~PFXNPKIToken");
    // The suites hold key files: they go with the token.
    clearMap();
    delete suites;
}

void PFXNPKIToken::releaseSuite(CertificateSuite* suite) {
    if (!suite) return;
    if (suite->path) TM_BASE(SGOS_free)(suite->path);
    releasePart(suite->signCert, false);
    releasePart(suite->signKey, true);
    releasePart(suite->kmCert, false);
    releasePart(suite->kmKey, true);
    releasePart(suite->caPubs, false);
    TM_BASE(SGOS_free)(suite);
}

int PFXNPKIToken::addCertificateAndKey(void* signCert, void* signKey, void* kmCert, void* kmKey,
                                       char* path) {
    static constexpr const char* kName = "addCertificateAndKey";
    TOKEN_DEBUG(logger, "%s addCertificateAndKey{%s}", kName, path ? path : "");
    TOKEN_DEBUG(logger, "%s - start", kName);
    const auto* sign = static_cast<const SGBinary*>(signCert);
    const auto* signPri = static_cast<const SGBinary*>(signKey);
    const auto* km = static_cast<const SGBinary*>(kmCert);
    const auto* kmPri = static_cast<const SGBinary*>(kmKey);
    if (!hasBytes(sign) || !hasBytes(signPri) || !km || !kmPri || !path || !*path) {
        TOKEN_FATAL(logger, "%s - missing argument...(%d)", kName, TOKEN_ERR_INVALID_DATA);
        return TOKEN_ERR_INVALID_DATA;
    }
    const std::string identifier = identifierOf(path);
    if (identifier.empty()) return TOKEN_ERR_MEMORY;
    if (suites->count(identifier)) {
        // The first suite of a path stays; nothing of this one is kept.
        TOKEN_DEBUG(logger, "%s - identifier: %s", kName, identifier.c_str());
        TOKEN_DEBUG(logger, "%s - end", kName);
        return 0;
    }

    auto* suite = static_cast<CertificateSuite*>(TM_BASE(SGOS_calloc)(sizeof(CertificateSuite), 1));
    if (!suite) return TOKEN_ERR_MEMORY;
    const size_t pathLength = std::strlen(path);
    suite->path =
        static_cast<char*>(TM_BASE(SGOS_calloc)(static_cast<uint32_t>(pathLength + 1), 1));
    if (suite->path) std::memcpy(suite->path, path, pathLength);
    suite->signCert = copyOf(sign);
    suite->signKey = copyOf(signPri);
    const bool withKm = hasBytes(km) && hasBytes(kmPri);
    if (withKm) {
        suite->kmCert = copyOf(km);
        suite->kmKey = copyOf(kmPri);
    }
    suite->pkiType = PKI_TYPE_NPKI;
    if (!suite->path || !suite->signCert || !suite->signKey ||
        (withKm && (!suite->kmCert || !suite->kmKey))) {
        releaseSuite(suite);
        return TOKEN_ERR_MEMORY;
    }
    TOKEN_DEBUG(logger, "%s - suite address: %p", kName, static_cast<void*>(suite));
    TOKEN_DEBUG(logger, "%s - identifier: %s", kName, identifier.c_str());
    try {
        suites->emplace(identifier, suite);
    } catch (...) {
        releaseSuite(suite);
        return TOKEN_ERR_MEMORY;
    }
    TOKEN_DEBUG(logger, "%s - end", kName);
    return 0;
}

bool PFXNPKIToken::addCertificateAndKey(const char* identifier, void* suite) {
    if (!identifier || !*identifier || !suite) return false;
    try {
        return suites->emplace(identifier, static_cast<CertificateSuite*>(suite)).second;
    } catch (...) {
        return false;
    }
}

CertificateSuite* PFXNPKIToken::findCert(const char* itemId) {
    TOKEN_DEBUG(logger, "find cert (%s)", itemId ? itemId : "");
    const std::string identifier = identifierPart(itemId);
    if (identifier.empty()) return nullptr;
    const auto it = suites->find(identifier);
    return it == suites->end() ? nullptr : it->second;
}

void PFXNPKIToken::clearMap() {
    static constexpr const char* kName = "clearMap";
    TOKEN_DEBUG(logger, "%s map size (%d)", kName, static_cast<int>(suites->size()));
    for (auto& [identifier, suite] : *suites) releaseSuite(suite);
    suites->clear();
    TOKEN_DEBUG(logger, "%s map clear end", kName);
    TOKEN_DEBUG(logger, "%s clearCertificateAndKey", kName);
}

void PFXNPKIToken::clearCertificateAndKey() {}

void PFXNPKIToken::eraseCertificateAndKey(const char*) {}

int PFXNPKIToken::sizeCertificateAndKey() {
    return TOKEN_ERR_NOT_SUPPORTED;
}

int PFXNPKIToken::changePrivateKeyPassword(std::wstring const&, unsigned char*, unsigned long,
                                           unsigned char*, unsigned long, unsigned char*,
                                           unsigned long) {
    return TOKEN_ERR_NOT_SUPPORTED;
}

int PFXNPKIToken::getKeyLength(const char*, int*) {
    return TOKEN_ERR_NOT_SUPPORTED;
}

int PFXNPKIToken::import(unsigned char*, unsigned long, unsigned char*, unsigned long,
                         unsigned char*, unsigned long, unsigned char*, unsigned long,
                         unsigned char*, unsigned long) {
    return TOKEN_ERR_NOT_SUPPORTED;
}

// ---- Listing and reading ---------------------------------------------------------------------

int PFXNPKIToken::getCertificateList(ShortCertificate** list, unsigned int* count, int,
                                     InputPINHandler*, const char*) {
    static constexpr const char* kName = "getCertificateList";
    TOKEN_DEBUG(logger, "%s - start", kName);
    if (list) *list = nullptr;
    if (count) *count = 0;
    if (!list || !count) return TOKEN_ERR_INVALID_DATA;
    TOKEN_DEBUG(logger, "%s - count(%d)", kName, static_cast<int>(suites->size()));
    if (suites->empty()) return 0;
    if (suites->size() > UINT_MAX / sizeof(ShortCertificate)) return TOKEN_ERR_MEMORY;
    auto* rows = reinterpret_cast<ShortCertificate*>(
        allocMemory(static_cast<unsigned int>(suites->size() * sizeof(ShortCertificate))));
    if (!rows) {
        TOKEN_FATAL(logger, "%s - memory allocation failed...(%d)", kName, TOKEN_ERR_MEMORY);
        return TOKEN_ERR_MEMORY;
    }
    unsigned int n = 0;
    for (const auto& [identifier, suite] : *suites) {
        ShortCertificate& row = rows[n++];
        setItemId(row.signCertID, identifier, TOKEN_ITEM_SIGN_CERT);
        setItemId(row.signKeyID, identifier, TOKEN_ITEM_SIGN_KEY);
        if (hasBytes(suite->kmCert))
            setItemId(row.kmCertID, identifier, TOKEN_ITEM_KM_CERT);
        else
            std::memcpy(row.kmCertID, row.signCertID, sizeof row.kmCertID);
        if (hasBytes(suite->kmKey))
            setItemId(row.kmKeyID, identifier, TOKEN_ITEM_KM_KEY);
        else
            std::memcpy(row.kmKeyID, row.signKeyID, sizeof row.kmKeyID);
        if (hasBytes(suite->signCert))
            generateShortCertificateFromBinary(&row, suite->signCert->data, suite->signCert->length,
                                               nullptr, 0);
    }
    *list = rows;
    *count = n;
    TOKEN_DEBUG(logger, "%s - end(%d)", kName, static_cast<int>(n));
    return 0;
}

int PFXNPKIToken::getCertificate(const char* itemId, unsigned char** der, unsigned long* length) {
    static constexpr const char* kName = "getCertificate";
    if (der) *der = nullptr;
    if (length) *length = 0;
    const CertificateSuite* suite = findCert(itemId);
    if (!suite) {
        TOKEN_FATAL(logger, "%s - find cert failed...(%d)()", kName, TOKEN_ERR_NO_CERTIFICATE);
        return TOKEN_ERR_NO_CERTIFICATE;
    }
    const char digit = lastCharacter(itemId);
    const SGBinary* part =
        digit == TOKEN_ITEM_SIGN_CERT || digit == TOKEN_ITEM_SIGN_KEY ? suite->signCert
        : digit == TOKEN_ITEM_KM_CERT || digit == TOKEN_ITEM_KM_KEY   ? suite->kmCert
                                                                      : nullptr;
    if (!hasBytes(part)) return 0;
    if (!der || !length) return TOKEN_ERR_INVALID_DATA;
    unsigned char* copy = duplicateMemory(part->data, part->length);
    if (!copy) return TOKEN_ERR_MEMORY;
    *der = copy;
    *length = part->length;
    return 0;
}

int PFXNPKIToken::getPath(const char* itemId, unsigned char** path, unsigned long* length) {
    static constexpr const char* kName = "getPath";
    if (path) *path = nullptr;
    if (length) *length = 0;
    const CertificateSuite* suite = findCert(itemId);
    if (!suite) {
        TOKEN_FATAL(logger, "%s - find cert failed...(%d)()", kName, TOKEN_ERR_NO_CERTIFICATE);
        return TOKEN_ERR_NO_CERTIFICATE;
    }
    if (suite->pkiType != PKI_TYPE_NPKI) return TOKEN_ERR_NOT_SUPPORTED;
    if (!path || !length || !suite->path) return TOKEN_ERR_INVALID_DATA;
    const size_t n = std::strlen(suite->path);
    if (n == 0 || n > UINT_MAX) return TOKEN_ERR_INVALID_DATA;
    unsigned char* copy =
        duplicateMemory(reinterpret_cast<unsigned char*>(suite->path), static_cast<unsigned>(n));
    if (!copy) return TOKEN_ERR_MEMORY;
    *path = copy;
    *length = n;
    return 0;
}

// ---- Keys ------------------------------------------------------------------------------------

int PFXNPKIToken::verifyPin(const char* itemId, unsigned char* pin, unsigned long pinLength) {
    static constexpr const char* kName = "verifyPin";
    const CertificateSuite* suite = findCert(itemId);
    if (!suite) {
        TOKEN_FATAL(logger, "%s - find cert failed...(%d)()", kName, TOKEN_ERR_NO_CERTIFICATE);
        return TOKEN_ERR_NO_CERTIFICATE;
    }
    if (!hasBytes(suite->signKey)) return TOKEN_ERR_NO_PRIVATE_KEY;
    static unsigned char kEmpty[1] = {0};
    const unsigned long length = pin ? ::strnlen(reinterpret_cast<const char*>(pin),
                                                 std::min<unsigned long>(pinLength, INT_MAX))
                                     : 0;
    PlainKeyInfo info;
    const int rc = decryptPrivateKeyFromPKCS8(&info.record, nullptr, nullptr, nullptr,
                                              suite->signKey->data, suite->signKey->length,
                                              pin ? pin : kEmpty, length, TOKEN_KEY_INFO);
    if (rc == TOKEN_ERR_KEY_DECRYPT) {
        TOKEN_FATAL(logger, "%s - password does not open the key...(%d)", kName,
                    TOKEN_ERR_WRONG_PIN);
        return TOKEN_ERR_WRONG_PIN;
    }
    return rc;
}

int PFXNPKIToken::getKeySize(unsigned long* size, InputPINHandler* handler, const char* keyId) {
    static constexpr const char* kName = "getKeySize";
    if (keyId && Token::getKeySize(size, handler, keyId) == 0) return 0;
    if (size) *size = 0;
    const CertificateSuite* suite = findCert(keyId);
    if (!suite) {
        TOKEN_FATAL(logger, "%s - find cert failed...(%d)()", kName, TOKEN_ERR_NO_CERTIFICATE);
        return TOKEN_ERR_NO_CERTIFICATE;
    }
    if (!size || !hasBytes(suite->signCert) ||
        !TM_SERVICE_READY(SGX509Certificate_GetPublicKeyInfo))
        return TOKEN_ERR_PUBLIC_KEY;
    DecodedCertificate certificate;
    int bytes = 0;
    if (certificate.decode(suite->signCert->data, suite->signCert->length) != 0 ||
        TM_SERVICE(SGX509Certificate_GetPublicKeyInfo)(nullptr, &bytes, nullptr, nullptr,
                                                       certificate.handle()) != 0 ||
        bytes <= 0)
        return TOKEN_ERR_PUBLIC_KEY;
    *size = static_cast<unsigned long>(bytes);
    return 0;
}

int PFXNPKIToken::generateSignatureRAW(unsigned char* out, unsigned long* outLength,
                                       InputPINHandler* handler, unsigned char* in,
                                       unsigned long inLength, const char* keyId,
                                       const char* itemId,
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
    if (handler->inputPIN(pin.data, tokenType, InputPINHandler::PURPOSE_PRIVATE_KEY) != 0)
        return TOKEN_ERR_PIN_CANCELLED;
    if (!pin.terminated()) return TOKEN_ERR_INVALID_DATA;
    const PKIType type = suite->pkiType == PKI_TYPE_GPKI ? PKI_TYPE_GPKI : PKI_TYPE_NPKI;
    RsaPrivateKey rsa;
    DsKey ds;
    void* key = type == PKI_TYPE_GPKI ? static_cast<void*>(&ds.key) : static_cast<void*>(&rsa.key);
    // The key's domain parameters (GPKI) travel in the parameter record for the signing, and
    // are released afterwards.
    int rc = decryptPrivateKeyFromPKCS8(key, nullptr, &parameters->dsParameters,
                                        &parameters->dsParametersLength, suite->signKey->data,
                                        suite->signKey->length, pin.bytes(), pin.length(),
                                        TOKEN_KEY_RECORD, type);
    if (rc == 0)
        rc = generateSignatureLocal(out, outLength, in, inLength, key, keyId, itemId, parameters,
                                    type);
    freeMemory(parameters->dsParameters, 0);
    parameters->dsParameters = nullptr;
    parameters->dsParametersLength = 0;
    return rc;
}

// ---- What this token does not do -------------------------------------------------------------

int PFXNPKIToken::initToken(unsigned char*, unsigned long, unsigned char*) {
    return TOKEN_ERR_INIT_NOT_SUPPORTED;
}

int PFXNPKIToken::setPIN(unsigned char*, unsigned long, unsigned char*, unsigned long) {
    return TOKEN_ERR_SETPIN_NOT_SUPPORTED;
}

int PFXNPKIToken::setCertificatePIN(const char*, unsigned char*, unsigned long, unsigned char*,
                                    unsigned long) {
    return TOKEN_ERR_NOT_SUPPORTED;
}

int PFXNPKIToken::finalizeToken() {
    return TOKEN_ERR_NOT_SUPPORTED;
}

int PFXNPKIToken::getTokenGrade() {
    return TOKEN_ERR_NOT_SUPPORTED;
}

int PFXNPKIToken::getTokenStatus() {
    return 0;
}

int PFXNPKIToken::getPrivateKey(const char*, unsigned char** key, unsigned long* length,
                                InputPINHandler*) {
    if (key) *key = nullptr;
    if (length) *length = 0;
    return TOKEN_ERR_NOT_SUPPORTED;
}

int PFXNPKIToken::decrypt(unsigned char** out, unsigned long* outLength, unsigned char*,
                          unsigned long, InputPINHandler*, const char*, TokenDecryptParameters*) {
    if (out) *out = nullptr;
    if (outLength) *outLength = 0;
    return TOKEN_ERR_NOT_SUPPORTED;
}

int PFXNPKIToken::pushCertificate(InputPINHandler*, const char*, const unsigned char*,
                                  unsigned long, const unsigned char*, unsigned long) {
    return TOKEN_ERR_NOT_SUPPORTED;
}

int PFXNPKIToken::deleteCertificate(const char*, InputPINHandler*) {
    return TOKEN_ERR_NOT_SUPPORTED;
}

int PFXNPKIToken::changeCertificatePIN(const char*, InputPINHandler*) {
    return TOKEN_ERR_NOT_SUPPORTED;
}

int PFXNPKIToken::exportCertificateAndEncryptPrivateKey(
    unsigned char** key, unsigned long* keyLength, unsigned char** certificate,
    unsigned long* certificateLength, const char*, const char*, InputPINHandler*) {
    if (key) *key = nullptr;
    if (keyLength) *keyLength = 0;
    if (certificate) *certificate = nullptr;
    if (certificateLength) *certificateLength = 0;
    return TOKEN_ERR_NOT_SUPPORTED;
}

int PFXNPKIToken::importEncryptedPrivateKeyInfo(unsigned char*, unsigned long, unsigned char*,
                                                unsigned long, unsigned char*, unsigned long,
                                                unsigned char*, unsigned long, InputPINHandler*) {
    return TOKEN_ERR_NOT_SUPPORTED;
}

int PFXNPKIToken::importInit(unsigned char*, unsigned long, InputPINHandler*,
                             InputPINHandler::InputPINPurpose) {
    return TOKEN_ERR_NOT_SUPPORTED;
}

int PFXNPKIToken::getPhysicalBasePath(std::wstring& out, unsigned char*, const unsigned long&) {
    out.clear();
    return TOKEN_ERR_NOT_SUPPORTED;
}

int PFXNPKIToken::import(unsigned char*, unsigned long, unsigned char*, unsigned long,
                         unsigned char*, unsigned long, unsigned char*, unsigned long, unsigned int,
                         const bool&) {
    return TOKEN_ERR_NOT_SUPPORTED;
}

int PFXNPKIToken::importCAPubs(unsigned char*, unsigned long) {
    return TOKEN_ERR_NOT_SUPPORTED;
}

int PFXNPKIToken::importFinal() {
    return TOKEN_ERR_NOT_SUPPORTED;
}

int PFXNPKIToken::setTokenOptions(void*) {
    return TOKEN_ERR_NOT_SUPPORTED;
}

int PFXNPKIToken::exportCertificateAndKey(unsigned char** key, unsigned long* keyLength,
                                          unsigned char** certificate,
                                          unsigned long* certificateLength, InputPINHandler*,
                                          const char*, const char*) {
    if (key) *key = nullptr;
    if (keyLength) *keyLength = 0;
    if (certificate) *certificate = nullptr;
    if (certificateLength) *certificateLength = 0;
    return TOKEN_ERR_NOT_SUPPORTED;
}

int PFXNPKIToken::getVIDRandom(unsigned char** random, unsigned long* length, InputPINHandler*,
                               const char*) {
    if (random) *random = nullptr;
    if (length) *length = 0;
    return TOKEN_ERR_NOT_SUPPORTED;
}

int PFXNPKIToken::getKMID(char** kmKeyId, char** kmCertId, const char*) {
    if (kmKeyId) *kmKeyId = nullptr;
    if (kmCertId) *kmCertId = nullptr;
    return TOKEN_ERR_NOT_SUPPORTED;
}

int PFXNPKIToken::certificateSynchronize(const char*, unsigned char*, unsigned long, unsigned char*,
                                         unsigned long) {
    return TOKEN_ERR_NOT_SUPPORTED;
}
