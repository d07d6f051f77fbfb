// The import steps every kind of token shares, built on the kinds' virtual import and export:
// a plain or encrypted PrivateKeyInfo with its certificate, and the copy of a certificate with
// its keys from one token to another.
#include <algorithm>
#include <climits>
#include <cstring>
#include <string>

#include "Logger.h"
#include "TokenCodec.h"
#include "TokenKeys.h"
#include "TokenLog.h"
#include "TokenTables.h"

using namespace brindlow::token::keys;

namespace {

// The purposes a copy asks its passwords for: the destination's, and the exported key's.
constexpr int kDestinationPurpose = 11;

// A certificate and its plain key handed out by an export, the key wiped when they go.
struct ExportedPair {
    TokenBuffer key{nullptr, 0, true};
    TokenBuffer certificate;
};

// The item ids of a key-management pair from getKMID.
struct KmIds {
    char* key = nullptr;
    char* certificate = nullptr;
    ~KmIds() {
        Token::freeMemory(key, 0);
        Token::freeMemory(certificate, 0);
    }
};

}  // namespace

int Token::importPrivateKeyInfo(unsigned char* privateKeyInfo, unsigned long length,
                                unsigned char* certificate, unsigned long certificateLength,
                                unsigned int keepNewer) {
    static constexpr const char* kName = "importPrivateKeyInfo";
    if (!pkcs8Ready()) return TOKEN_ERR_NOT_SUPPORTED;
    PlainKeyInfo info;
    int rc = privateKeyInfo && length && length <= UINT32_MAX ? 0 : SG_PKI_ERR_ARGUMENT;
    if (rc == 0) {
        const SGBinary der{privateKeyInfo, static_cast<uint32_t>(length)};
        rc = TM_SERVICE(SGPKCS8PrivateKeyInfo_Decode)(&info.record, &der);
    }
    if (rc != 0) {
        TOKEN_FATAL(logger, "%s - PKCS8 encrypted private key info decode failed...(%d)", kName,
                    rc);
        return TOKEN_ERR_PRIVATE_KEY_INFO;
    }
    const SGBinary* random = info.record.randomNum;
    const SGBinary* parameters = info.record.algorithm == SG_PKCS8_ALGORITHM_KCDSA ||
                                         info.record.algorithm == SG_PKCS8_ALGORITHM_KCDSA2
                                     ? info.record.parameters
                                     : nullptr;
    const bool replaceKM = false;
    return import(info.record.privateKey.data, info.record.privateKey.length, certificate,
                  certificateLength, random ? random->data : nullptr, random ? random->length : 0,
                  parameters ? parameters->data : nullptr, parameters ? parameters->length : 0,
                  keepNewer, replaceKM);
}

int Token::importEncryptedPrivateKeyInfo(unsigned char* password, unsigned long passwordLength,
                                         unsigned char* encryptedPrivateKeyInfo,
                                         unsigned long length, unsigned char* certificate,
                                         unsigned long certificateLength) {
    static constexpr const char* kName = "importEncryptedPrivateKeyInfo";
    if (!pkcs8Ready()) return TOKEN_ERR_NOT_SUPPORTED;
    EncryptedKeyInfo encrypted;
    int rc = encryptedPrivateKeyInfo && length && length <= UINT32_MAX ? 0 : SG_PKI_ERR_ARGUMENT;
    if (rc == 0) {
        const SGBinary der{encryptedPrivateKeyInfo, static_cast<uint32_t>(length)};
        rc = TM_SERVICE(SGPKCS8EncryptedPrivateKeyInfo_Decode)(&encrypted.record, &der);
    }
    if (rc != 0) {
        TOKEN_FATAL(logger, "%s - PKCS8 encrypted private key info decode failed...(%d)", kName,
                    rc);
        return TOKEN_ERR_NOT_PKCS8;
    }
    SecretBytes plain(encrypted.record.encryptedData.length);
    if (!plain.data()) {
        TOKEN_FATAL(logger, "%s - memory allocation failed...(%d)", kName, TOKEN_ERR_MEMORY);
        return TOKEN_ERR_MEMORY;
    }
    // The password up to its NUL, never read beyond its length; it never reaches a log line.
    const int pinLength =
        password ? static_cast<int>(::strnlen(reinterpret_cast<const char*>(password),
                                              std::min<unsigned long>(passwordLength, INT_MAX)))
                 : 0;
    static const unsigned char kEmpty[1] = {0};
    int plainLength = 0;
    rc = TM_SERVICE(SGPKCS5Decrypt)(plain.data(), &plainLength, &encrypted.record,
                                    password ? password : kEmpty, pinLength);
    if (rc != 0) {
        TOKEN_FATAL(logger, "%s - PKCS5 decrypt failed...(%d)", kName, rc);
        return TOKEN_ERR_KEY_DECRYPT;
    }
    rc = importPrivateKeyInfo(plain.data(), static_cast<unsigned long>(plainLength), certificate,
                              certificateLength, 0);
    if (rc != 0) {
        TOKEN_FATAL(logger, "%s - PKCS8 private key info decode failed...(%d)", kName, rc);
        if (rc == TOKEN_ERR_PRIVATE_KEY_INFO) rc = TOKEN_ERR_KEY_DECRYPT;
    }
    return rc;
}

int Token::copyCertificate(const char* itemId, InputPINHandler* handler, Token* destination,
                           unsigned int flags) {
    static constexpr const char* kName = "copyCertificate";
    TOKEN_DEBUG(logger, "%s - copyCertificate start", kName);
    if (!destination) {
        TOKEN_FATAL(logger, "%s - no destination...(%d)", kName, TOKEN_ERR_NO_TOKEN);
        return TOKEN_ERR_NO_TOKEN;
    }
    destination->getTokenStatus();
    int rc = destination->Token::importInit(
        nullptr, 0, handler, static_cast<InputPINHandler::InputPINPurpose>(kDestinationPurpose));
    if (rc != 0) {
        TOKEN_FATAL(logger, "%s - importInit fail(%d)", kName, rc);
        return rc;
    }

    ExportedPair sign, km;
    KmIds kmIds;
    bool hasKm = false;
    rc = exportCertificateAndKey(&sign.key.data, &sign.key.length, &sign.certificate.data,
                                 &sign.certificate.length, handler, itemId, itemId);
    if (rc == 0 && getKMID(&kmIds.key, &kmIds.certificate, itemId) == 0) {
        hasKm = true;
        rc = exportCertificateAndKey(&km.key.data, &km.key.length, &km.certificate.data,
                                     &km.certificate.length, handler, kmIds.key, kmIds.certificate);
    }
    if (rc != 0) {
        TOKEN_FATAL(logger, "%s - exportCertificateAndKey fail(%d)", kName, rc);
    } else {
        // Both pairs go in one import of the destination: a failing key-management pair takes
        // the signing pair back out with it.
        rc = destination->importPrivateKeyInfo(
            sign.key.data, sign.key.length, sign.certificate.data, sign.certificate.length, flags);
        if (rc == 0 && hasKm)
            rc = destination->importPrivateKeyInfo(km.key.data, km.key.length, km.certificate.data,
                                                   km.certificate.length, 0);
        if (rc != 0) TOKEN_FATAL(logger, "%s - importPrivateKeyInfo fail(%d)", kName, rc);
    }
    if (const int closed = destination->Token::importFinal(); closed != 0)
        TOKEN_FATAL(logger, "%s - destinationToken importFinal fail(%d)", kName, closed);
    TOKEN_DEBUG(logger, "%s - copyCertificate end", kName);
    return rc;
}

int Token::pushCertificate(InputPINHandler* handler, const char* itemId, const char* base64Data,
                           const char* base64Data2) {
    unsigned char *data = nullptr, *data2 = nullptr;
    unsigned int length = 0, length2 = 0;
    int rc = base64Data ? Base64::decode(&data, &length, base64Data) : 0;
    if (rc == 0 && base64Data2) rc = Base64::decode(&data2, &length2, base64Data2);
    if (rc == 0) rc = pushCertificate(handler, itemId, data, length, data2, length2);
    Base64::free(data);
    Base64::free(data2);
    return rc;
}

int Token::importPFX(unsigned char*, unsigned long, unsigned char*, unsigned long, unsigned int) {
    return 1307;
}

int Token::exportPFX(unsigned char**, unsigned long*, InputPINHandler*, const char*, const char*,
                     bool) {
    return 1307;
}
