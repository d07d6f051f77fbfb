// A module as a loaded bundle sees the application: it finds the exported tables by name and
// builds on the token classes that the program exports, without linking any of them itself.
#include <dlfcn.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "SGBaseDefs.h"
#include "SGCryptoTable.h"
#include "SGDigest.h"
#include "Token.h"
#include "Util.h"

namespace {

class ProbeToken final : public Token {
  public:
    ProbeToken() : Token("probe", "PROBE TOKEN", InputPINHandler::TOKEN_TYPE_DISK) {}
    int initToken(unsigned char*, unsigned long, unsigned char*) override { return 1306; }
    int setPIN(unsigned char*, unsigned long, unsigned char*, unsigned long) override {
        return 1308;
    }
    int setCertificatePIN(const char*, unsigned char*, unsigned long, unsigned char*,
                          unsigned long) override {
        return 1307;
    }
    int verifyPin(const char*, unsigned char*, unsigned long) override { return 1307; }
    int finalizeToken() override { return 0; }
    int getTokenGrade() override { return 0; }
    int getTokenStatus() override { return 0; }
    int getCertificateList(ShortCertificate**, unsigned int*, int, InputPINHandler*,
                           const char*) override {
        return 0;
    }
    int getCertificate(const char*, unsigned char**, unsigned long*) override { return 1309; }
    int getPrivateKey(const char*, unsigned char**, unsigned long*, InputPINHandler*) override {
        return 1309;
    }
    int getPath(const char*, unsigned char**, unsigned long*) override { return 1309; }
    int deleteCertificate(const char*, InputPINHandler*) override { return 1307; }
    int changeCertificatePIN(const char*, InputPINHandler*) override { return 1307; }
    int importEncryptedPrivateKeyInfo(unsigned char*, unsigned long, unsigned char*, unsigned long,
                                      unsigned char*, unsigned long, unsigned char*, unsigned long,
                                      InputPINHandler*) override {
        return 1307;
    }
    int importInit(unsigned char*, unsigned long, InputPINHandler*,
                   InputPINHandler::InputPINPurpose) override {
        return 0;
    }
    using Token::import;
    int import(unsigned char*, unsigned long, unsigned char*, unsigned long, unsigned char*,
               unsigned long, unsigned char*, unsigned long, unsigned int, const bool&) override {
        return 1307;
    }
    int importCAPubs(unsigned char*, unsigned long) override { return 1307; }
    int setTokenOptions(void*) override { return 1307; }
    int getVIDRandom(unsigned char**, unsigned long*, InputPINHandler*, const char*) override {
        return 1307;
    }
    int getKMID(char**, char**, const char*) override { return 1307; }
    int certificateSynchronize(const char*, unsigned char*, unsigned long, unsigned char*,
                               unsigned long) override {
        return 1307;
    }
    int generateSignatureRAW(unsigned char*, unsigned long*, InputPINHandler*, unsigned char*,
                             unsigned long, const char*, const char*,
                             TokenGenerateSignatureParameters*) override {
        return 1307;
    }
};

int versionOf(void** table) {
    int32_t v;
    std::memcpy(&v, &table[0], sizeof v);
    return v;
}

}  // namespace

// The tables by name: their versions, how many slots are empty, and a digest through Crypto.
extern "C" SG_EXPORT int probe_Tables(const char* const* names, int count, int* versions,
                                      int* emptySlots, unsigned char* sha256OfAbc) {
    const int slots[] = {348, 152, 87};
    for (int i = 0; i < count; ++i) {
        auto** table = static_cast<void**>(dlsym(RTLD_DEFAULT, names[i]));
        if (!table) return -1 - i;
        versions[i] = versionOf(table);
        const int size = std::strcmp(names[i], "Base") == 0     ? slots[0]
                         : std::strcmp(names[i], "Crypto") == 0 ? slots[1]
                                                                : slots[2];
        emptySlots[i] = 0;
        for (int s = 1; s < size; ++s) emptySlots[i] += table[s] == nullptr;
    }
    auto** crypto = static_cast<void**>(dlsym(RTLD_DEFAULT, "Crypto"));
    if (!crypto) return -10;
    auto digest = reinterpret_cast<decltype(&SGDigest)>(crypto[SGCryptoSlot_SGDigest]);
    return digest(sha256OfAbc, SG_DIGEST_SHA256, reinterpret_cast<const unsigned char*>("abc"), 3);
}

// A token of the module's own kind, built on the program's Token.
extern "C" SG_EXPORT int probe_Token(int* checkPin, int* basePath, int* importFinal, char* kind,
                                     char* fingerprint) {
    Token* token = new ProbeToken;
    *checkPin = token->checkPIN(reinterpret_cast<unsigned char*>(const_cast<char*>("aaaa1111")), 8);
    std::wstring path;
    const unsigned long length = 0;
    *basePath = token->getPhysicalBasePath(path, nullptr, length);
    *importFinal = token->Token::importFinal();
    std::strcpy(kind, token->kind);
    delete token;

    unsigned char der[] = {0x30, 0x03, 0x02, 0x01, 0x01};
    char* hash = nullptr;
    const int rc = Util::getRootCertHash(&hash, der, sizeof der);
    if (rc != 0) return rc;
    std::strcpy(fingerprint, hash);
    Token::freeMemory(hash, 0);
    return 0;
}
