// A program that links the token manager the ordinary way (not whole) and reports what the
// binder left in the tables. With BINDER_PROBE_FAIL_SELFTEST set, the entropy source fails from
// a constructor that runs before the binder, so the crypto self-test fails at load; the program
// then uses the token manager and must keep running.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "Entropy.h"
#include "SGBaseTable.h"
#include "SGCryptoTable.h"
#include "SGServiceTable.h"
#include "SGWrapper.h"
#include "TokenCodec.h"
#include "Util.h"

namespace {

bool failingSource(void*, size_t) {
    return false;
}

brindlow::platform::EntropySource* gSaved = nullptr;

__attribute__((constructor(SG_WRAPPER_LOAD_PRIORITY - 50))) void beforeBinder() {
    if (!std::getenv("BINDER_PROBE_FAIL_SELFTEST")) return;
    gSaved = new brindlow::platform::EntropySource(
        brindlow::platform::setEntropySource({&failingSource, "/nonexistent/random"}));
}

int version(void** table) {
    int32_t v;
    std::memcpy(&v, &table[0], sizeof v);
    return v;
}

int filled(void** table, int slots) {
    int n = 0;
    for (int i = 1; i < slots; ++i) n += table[i] != nullptr;
    return n;
}

void report(const char* stage) {
    std::printf("%s base %d %d\n", stage, version(Base), filled(Base, SG_BASE_TABLE_SLOTS));
    std::printf("%s crypto %d %d\n", stage, version(Crypto), filled(Crypto, SG_CRYPTO_TABLE_SLOTS));
    std::printf("%s service %d %d\n", stage, version(Service),
                filled(Service, SG_SERVICE_TABLE_SLOTS));
}

}  // namespace

int main() {
    report("load");

    // Calls that need the crypto library answer with an error instead of calling an empty slot.
    unsigned char* digest = nullptr;
    long length = 0;
    std::printf("digest %d\n", Digest::digest("abc", 3, &digest, &length));
    Digest::free(digest);
    char* hash = nullptr;
    unsigned char der[] = {0x30, 0x00};
    std::printf("hash %d\n", Util::getRootCertHash(&hash, der, sizeof der));
    std::free(hash);
    unsigned char* file = nullptr;
    std::printf("file %d\n", Digest::digestFile(L"/proc/self/exe", 5, &file, &length));
    Digest::free(file);

    // And those that need the PKI library.
    std::printf("compare %d\n", Util::compareCertificate(der, sizeof der, der, sizeof der));
    char text[64] = {};
    std::printf("entry %d\n", Util::X509Certificate_GetEntry_Remove_SpecialChar(
                                  reinterpret_cast<void*>(text), text, sizeof text, 7, 0));

    if (gSaved) {
        brindlow::platform::setEntropySource(*gSaved);
        delete gSaved;
        SGWrapper_Initialize();
        report("again");
    }
    return 0;
}
