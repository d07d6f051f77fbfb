#include "Token.h"

#include <cstddef>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <type_traits>

#include "Logger.h"
#include "SGMemory.h"
#include "SGOS.h"
#include "SGX520Name.h"
#include "TokenCertificate.h"
#include "TokenCodec.h"
#include "TokenLocalKeyStorage.h"
#include "TokenLog.h"
#include "TokenTables.h"
#include "Util.h"

// The records cross the exported interface: their sizes and offsets are fixed.
static_assert(sizeof(ShortCertificate) == 1680);
static_assert(offsetof(ShortCertificate, issuer) == 256);
static_assert(offsetof(ShortCertificate, serialNumber) == 512);
static_assert(offsetof(ShortCertificate, validFrom) == 612);
static_assert(offsetof(ShortCertificate, validTo) == 632);
static_assert(offsetof(ShortCertificate, policyID) == 652);
static_assert(offsetof(ShortCertificate, policyUserNotice) == 908);
static_assert(offsetof(ShortCertificate, signCertID) == 1164);
static_assert(offsetof(ShortCertificate, signKeyID) == 1292);
static_assert(offsetof(ShortCertificate, kmCertID) == 1420);
static_assert(offsetof(ShortCertificate, kmKeyID) == 1548);
static_assert(offsetof(ShortCertificate, pkiType) == 1676);
static_assert(sizeof(CertificateSuite) == 56 && offsetof(CertificateSuite, pkiType) == 48);
static_assert(sizeof(PFXCertificateSuite) == 176 && offsetof(PFXCertificateSuite, password) == 48);
static_assert(sizeof(LocalKeySet) == 32 && offsetof(LocalKeySet, privateKey) == 16);
static_assert(sizeof(TokenGenerateSignatureParameters) == 48);
static_assert(offsetof(TokenGenerateSignatureParameters, pkcs1Raw) == 8);
static_assert(offsetof(TokenGenerateSignatureParameters, cmsSignerBySubject) == 9);
static_assert(offsetof(TokenGenerateSignatureParameters, cmsBareSignedData) == 10);
static_assert(offsetof(TokenGenerateSignatureParameters, cmsDetached) == 11);
static_assert(offsetof(TokenGenerateSignatureParameters, cmsSignedAttributes) == 12);
static_assert(offsetof(TokenGenerateSignatureParameters, signInputType) == 16);
static_assert(offsetof(TokenGenerateSignatureParameters, inputLimitMiB) == 20);
static_assert(offsetof(TokenGenerateSignatureParameters, dsParameters) == 24);
static_assert(offsetof(TokenGenerateSignatureParameters, dsParametersLength) == 32);
static_assert(offsetof(TokenGenerateSignatureParameters, verifyAfterSigning) == 40);
static_assert(offsetof(TokenGenerateKeyPairParameters, keySize) == 8);
static_assert(sizeof(InputPINHandler::TokenType) == 4 && sizeof(PKIType) == 4);
static_assert(std::has_virtual_destructor_v<Token> && std::is_abstract_v<Token>);
static_assert(std::is_polymorphic_v<InputPINHandler> &&
              !std::has_virtual_destructor_v<InputPINHandler>);

// Token's fields follow the table pointer in declaration order.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winvalid-offsetof"
struct TokenLayout {
    static_assert(offsetof(Token, logger) == 8);
    static_assert(offsetof(Token, errorCode) == 16);
    static_assert(offsetof(Token, errorMessage) == 20);
    static_assert(offsetof(Token, name) == 1044);
    static_assert(offsetof(Token, kind) == 1300);
    static_assert(offsetof(Token, requirePINWhenInitToken) == 1556);
    static_assert(offsetof(Token, importing) == 1557);
    static_assert(offsetof(Token, tokenType) == 1560);
    static_assert(offsetof(Token, localKeyStorage) == 1568);
    static_assert(offsetof(Token, lastErrorMessage) == 1576);
    static_assert(sizeof(Token) == 1584);
};
#pragma GCC diagnostic pop

namespace {

void copyText(char* out, size_t size, const char* text) {
    std::memset(out, 0, size);
    if (text) std::strncpy(out, text, size - 1);
}

char* heapText(const char* bytes, size_t length) {
    auto* text = static_cast<char*>(TM_BASE(SGOS_calloc)(static_cast<uint32_t>(length + 1), 1));
    if (text && length) std::memcpy(text, bytes, length);
    return text;
}

template <typename T>
void clearOutput(T** out) {
    if (out) *out = nullptr;
}

void clearLength(unsigned long* length) {
    if (length) *length = 0;
}

}  // namespace

// ---- Construction --------------------------------------------------------------------------

Token::Token(const char* name, const char* kind, InputPINHandler::TokenType type)
    : logger(Logger::getInstance(LOGGER_TYPE_TOKEN)),
      errorCode(0),
      errorMessage{},
      name{},
      kind{},
      requirePINWhenInitToken(false),
      importing(false),
      tokenType(type),
      localKeyStorage(new (std::nothrow) TokenLocalKeyStorage),
      lastErrorMessage(nullptr) {
    copyText(this->name, sizeof this->name, name);
    copyText(this->kind, sizeof this->kind, kind);
    TOKEN_DEBUG(logger, "Token is created(%s-%s)", this->name, this->kind);
}

Token::~Token() {
    delete localKeyStorage;
    if (lastErrorMessage) TM_BASE(SGOS_free)(lastErrorMessage);
    TOKEN_DEBUG(logger, "Token is going down(%s-%s)", name, kind);
}

// ---- Virtual operations with a body in Token -----------------------------------------------

int Token::pushCertificate(InputPINHandler*, const char*, const unsigned char*, unsigned long,
                           const unsigned char*, unsigned long) {
    TOKEN_FATAL(logger, "%s - not supported...(%d)", "pushCertificate", TOKEN_ERR_NOT_SUPPORTED);
    return TOKEN_ERR_NOT_SUPPORTED;
}

int Token::exportCertificateAndEncryptPrivateKey(unsigned char** key, unsigned long* keyLength,
                                                 unsigned char** certificate,
                                                 unsigned long* certificateLength, const char*,
                                                 const char*, InputPINHandler*) {
    clearOutput(key);
    clearLength(keyLength);
    clearOutput(certificate);
    clearLength(certificateLength);
    TOKEN_FATAL(logger, "%s - not supported...(%d)", "exportCertificateAndEncryptPrivateKey",
                TOKEN_ERR_NOT_SUPPORTED);
    return TOKEN_ERR_NOT_SUPPORTED;
}

int Token::importInit(unsigned char* pin, unsigned long pinLength, InputPINHandler* handler,
                      InputPINHandler::InputPINPurpose purpose) {
    if (importing) {
        TOKEN_FATAL(logger, "%s - import already open...(%d)", "importInit", TOKEN_ERR_IMPORT_OPEN);
        return TOKEN_ERR_IMPORT_OPEN;
    }
    importing = true;
    const int rc = importInit(pin, pinLength, handler, purpose);  // the kind's own
    // An import that did not start is not open: otherwise no later import could begin.
    if (rc != 0) importing = false;
    return rc;
}

int Token::getPhysicalBasePath(std::wstring&, unsigned char*, const unsigned long&) {
    TOKEN_DEBUG(logger, "%s - getPhysicalBasePath is not supported.", "getPhysicalBasePath");
    return -1;
}

bool Token::checkNPKI(const char*) {
    return true;
}

int Token::importFinal() {
    if (!importing) {
        TOKEN_FATAL(logger, "%s - no import open...(%d)", "importFinal", TOKEN_ERR_IMPORT_NOT_OPEN);
        return TOKEN_ERR_IMPORT_NOT_OPEN;
    }
    // Cleared before the dispatch: a kind without its own importFinal comes back here and ends
    // with 1330 instead of recursing.
    importing = false;
    return importFinal();
}

int Token::exportCertificateAndKey(unsigned char** key, unsigned long* keyLength,
                                   unsigned char** certificate, unsigned long* certificateLength,
                                   InputPINHandler*, const char*, const char*) {
    clearOutput(key);
    clearLength(keyLength);
    clearOutput(certificate);
    clearLength(certificateLength);
    TOKEN_FATAL(logger, "%s - not supported...(%d)", "exportCertificateAndKey",
                TOKEN_ERR_NOT_SUPPORTED);
    return TOKEN_ERR_NOT_SUPPORTED;
}

char* Token::getNPKIRoot() {
    return nullptr;
}

int Token::enableToken(const char*) {
    return 0;
}

int Token::accessCert(const char*) {
    return 0;
}

// ---- Memory --------------------------------------------------------------------------------

unsigned char* Token::allocMemory(unsigned int length) {
    return static_cast<unsigned char*>(TM_BASE(SGOS_calloc)(length, 1));
}

void Token::freeMemory(void* pointer, unsigned long length) {
    if (!pointer) return;
    if (length) TM_BASE(SGMemory_cleanse)(pointer, length);
    TM_BASE(SGOS_free)(pointer);
}

unsigned char* Token::duplicateMemory(unsigned char* pointer, unsigned int length) {
    if (!pointer && length) return nullptr;
    auto* copy = static_cast<unsigned char*>(TM_BASE(SGOS_calloc)(length ? length : 1, 1));
    if (copy && length) std::memcpy(copy, pointer, length);
    return copy;
}

// ---- Error slot and flags ------------------------------------------------------------------

void Token::getError(int* code, const char** message) {
    if (code) *code = errorCode;
    if (message) *message = errorMessage;
}

void Token::setError(int code, const char* message) {
    errorCode = code;
    copyText(errorMessage, sizeof errorMessage, message);
}

void Token::clearError() {
    errorCode = 0;
    std::memset(errorMessage, 0, sizeof errorMessage);
}

void Token::setRequirePINWhenInitToken() {
    requirePINWhenInitToken = true;
}

void Token::setLastTokenErrorMessage(char* text) {
    if (lastErrorMessage) TM_BASE(SGOS_free)(lastErrorMessage);
    lastErrorMessage = text ? heapText(text, std::strlen(text)) : nullptr;
}

void Token::getLastTokenErrorMessage(char** out) {
    if (!out) return;
    *out = nullptr;
    if (!lastErrorMessage) return;
    const size_t length = std::strlen(lastErrorMessage);
    *out = heapText(lastErrorMessage, length);
    // Handed out once: the stored text stays allocated but reads empty from now on.
    std::memset(lastErrorMessage, 0, length);
}

// ---- Text forms ----------------------------------------------------------------------------

namespace {

// Base64 of bytes a token handed out, as a NUL-terminated heap text; the bytes are released
// (wiped first when secret).
int toBase64Text(const unsigned char* bytes, unsigned long length, char** out, bool secret) {
    char* text = nullptr;
    unsigned int textLength = 0;
    int rc = Base64::encode(&text, &textLength, bytes, length);
    if (rc == TOKEN_CODEC_ERR_MEMORY) rc = TOKEN_ERR_MEMORY;
    if (rc == 0) {
        *out = heapText(text, textLength);
        if (!*out) rc = TOKEN_ERR_MEMORY;
    }
    if (text) {
        if (secret) TM_BASE(SGMemory_cleanse)(text, textLength);
        Base64::free(text);
    }
    return rc;
}

}  // namespace

int Token::getCertificate(const char* itemId, char** base64) {
    if (!base64) return TOKEN_ERR_INVALID_DATA;
    *base64 = nullptr;
    unsigned char* der = nullptr;
    unsigned long length = 0;
    int rc = getCertificate(itemId, &der, &length);
    if (rc == 0 && der && length) rc = toBase64Text(der, length, base64, false);
    freeMemory(der, 0);
    return rc;
}

int Token::getPrivateKey(const char* itemId, char** base64, InputPINHandler* handler) {
    if (!base64) return TOKEN_ERR_INVALID_DATA;
    *base64 = nullptr;
    unsigned char* key = nullptr;
    unsigned long length = 0;
    int rc = getPrivateKey(itemId, &key, &length, handler);
    if (rc == 0 && key && length) rc = toBase64Text(key, length, base64, true);
    freeMemory(key, length);
    return rc;
}

int Token::generateKeyPair(char** keyId, char** base64PublicKey, InputPINHandler* handler,
                           TokenGenerateKeyPairParameters* parameters) {
    if (!base64PublicKey) return TOKEN_ERR_INVALID_DATA;
    *base64PublicKey = nullptr;
    unsigned char* publicKey = nullptr;
    unsigned long length = 0;
    int rc = generateKeyPair(keyId, &publicKey, &length, handler, parameters);
    if (rc == 0 && publicKey && length)
        rc = toBase64Text(publicKey, length, base64PublicKey, false);
    freeMemory(publicKey, 0);
    // A pair whose public key cannot be handed out is of no use to the caller.
    if (rc != 0 && keyId && *keyId) {
        if (localKeyStorage) localKeyStorage->del(*keyId);
        freeMemory(*keyId, 0);
        *keyId = nullptr;
    }
    return rc;
}

int Token::getPath(const char* itemId, char** text) {
    if (!text) return TOKEN_ERR_INVALID_DATA;
    *text = nullptr;
    unsigned char* path = nullptr;
    unsigned long length = 0;
    int rc = getPath(itemId, &path, &length);
    if (rc == 0 && path) {
        *text = heapText(reinterpret_cast<const char*>(path), length);
        if (!*text) rc = TOKEN_ERR_MEMORY;
    }
    freeMemory(path, 0);
    return rc;
}

// ---- Password quality ----------------------------------------------------------------------

int Token::checkPIN(unsigned char* pin, unsigned long length) {
    if (!pin) length = 0;
    unsigned long digits = 0, letters = 0, blanks = 0;
    int letterCount[26] = {};
    int digitCount[10] = {};
    for (unsigned long i = 0; i < length; ++i) {
        const int c = pin[i];
        if (TM_BASE(SGOS_isdigit)(c)) ++digits;
        if (TM_BASE(SGOS_isalpha)(c)) ++letters;
        if (TM_BASE(SGOS_isspace)(c)) ++blanks;
        if (c >= '0' && c <= '9') ++digitCount[c - '0'];
        if (c >= 'a' && c <= 'z') ++letterCount[c - 'a'];
        if (c >= 'A' && c <= 'Z') ++letterCount[c - 'A'];
    }
    // Digit 0, letter a, digit 1, letter b, ..., digit 9, letter j, then letters k to z.
    auto tooMany = [this](int code) {
        TOKEN_FATAL(logger, "%s - too many same char(%d)", "checkPIN", code);
        return code;
    };
    for (int i = 0; i < 26; ++i) {
        if (i < 10 && digitCount[i] >= 4) return tooMany(TOKEN_ERR_PIN_SAME_DIGIT);
        if (letterCount[i] >= 4) return tooMany(TOKEN_ERR_PIN_SAME_LETTER);
    }
    if (blanks >= 3) {
        TOKEN_FATAL(logger, "%s - too many blank(%d)", "checkPIN", TOKEN_ERR_PIN_BLANKS);
        return TOKEN_ERR_PIN_BLANKS;
    }
    const unsigned long significant = length - blanks;
    if (letters == significant) {
        TOKEN_FATAL(logger, "%s - only char(%d)", "checkPIN", TOKEN_ERR_PIN_ONLY_LETTERS);
        return TOKEN_ERR_PIN_ONLY_LETTERS;
    }
    if (digits == significant) {
        TOKEN_FATAL(logger, "%s - only number(%d)", "checkPIN", TOKEN_ERR_PIN_ONLY_DIGITS);
        return TOKEN_ERR_PIN_ONLY_DIGITS;
    }
    return 0;
}

// ---- Listed certificates -------------------------------------------------------------------

namespace {

// A name of the certificate (subject, issuer) as the user sees it: rendered whole however long
// it is, its control characters replaced, and cut at a whole character with an ellipsis when it
// does not fit the field, rather than left empty.
int fillShownText(void* certificate, char* field, unsigned int size, int entry, int option) {
    std::string text;
    const int rc = brindlow::token::entryText(static_cast<SGX509Certificate*>(certificate), entry,
                                              option, size, text);
    if (rc != 0) return rc;
    Util::displayText(std::string_view(text), field, size);
    return 0;
}

}  // namespace

int Token::generateShortCertificate(ShortCertificate* out, void* certificate, void*) {
    if (!out || !certificate) return TOKEN_ERR_INVALID_DATA;
    TOKEN_DEBUG(logger, "generateShortCertificate - start");
    // A field that cannot be read keeps what it held (zeros in a new listing).
    const struct {
        char* field;
        unsigned int size;
        int entry;
        int option;
        bool shown;  // a name that the certificate's maker wrote: made fit to show
    } fields[] = {
        {out->subject, sizeof out->subject, SG_X509_ENTRY_SUBJECT, 0, true},
        {out->issuer, sizeof out->issuer, SG_X509_ENTRY_ISSUER, 0, true},
        {out->serialNumber, sizeof out->serialNumber, SG_X509_ENTRY_SERIAL_NUMBER, 0, false},
        {out->validFrom, sizeof out->validFrom, SG_X509_ENTRY_NOT_BEFORE, 0, false},
        {out->validTo, sizeof out->validTo, SG_X509_ENTRY_NOT_AFTER, 0, false},
        {out->policyID, sizeof out->policyID, SG_X509_ENTRY_CERTIFICATE_POLICIES, 1, false},
        // The library ends each policy's notice with a line feed of its own: kept as rendered.
        {out->policyUserNotice, sizeof out->policyUserNotice, SG_X509_ENTRY_CERTIFICATE_POLICIES, 4,
         false},
    };
    int rc = 0;
    for (const auto& f : fields)
        rc = f.shown ? fillShownText(certificate, f.field, f.size, f.entry, f.option)
                     : Util::X509Certificate_GetEntry_Remove_SpecialChar(certificate, f.field,
                                                                         f.size, f.entry, f.option);
    TOKEN_DEBUG(logger, "generateShortCertificate - end");
    return rc;
}

int Token::generateShortCertificateFromBinary(ShortCertificate* out, unsigned char* signCert,
                                              unsigned long signCertLength, unsigned char* kmCert,
                                              unsigned long kmCertLength) {
    TOKEN_DEBUG(logger, "generateShortCertificateFromBinary start...");
    brindlow::token::DecodedCertificate sign;
    int rc = sign.decode(signCert, signCertLength);
    if (rc != 0 || !out) {
        TOKEN_FATAL(logger, "%s - invalid cert(%d)(%d)", "generateShortCertificateFromBinary", rc,
                    TOKEN_ERR_INVALID_DATA);
        return TOKEN_ERR_INVALID_DATA;
    }
    // A key-management certificate that does not decode is only logged.
    brindlow::token::DecodedCertificate km;
    if (kmCert && kmCertLength) {
        if (int kmRc = km.decode(kmCert, kmCertLength))
            TOKEN_FATAL(logger, "%s - invalid km cert(%d)(%d)",
                        "generateShortCertificateFromBinary", kmRc, TOKEN_ERR_INVALID_DATA);
    }
    rc = generateShortCertificate(out, sign.handle(), km.empty() ? nullptr : km.handle());
    TOKEN_DEBUG(logger, "generateShortCertificateFromBinary end...");
    return rc;
}
