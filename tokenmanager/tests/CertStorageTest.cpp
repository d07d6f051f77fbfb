// The process-wide certificate storages over the temporary home folder: made and read once,
// read again on request, chains built through them (from files and from a real slapd), and what
// destroying other storage objects leaves alone. Each scenario runs in a fresh process, as the
// storages live as long as the process.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "CertStorage.h"
#include "PkiCache.h"
#include "SGCertificateSet.h"
#include "SGX509Certificate.h"
#include "Slapd.h"
#include "TokenTestSupport.h"
#include "Util.h"

namespace {

namespace fs = std::filesystem;
using tokentest::Checks;

fs::path chainMaterial() {
    return testkit::cachedPki("chain");
}

std::string npkiFolder() {
    return std::string(std::getenv("HOME")) + "/Library/Preferences/NPKI";
}

size_t elementsOf(const CertStorage* storage) {
    size_t n = 0;
    for (const SGCertificateSetList* e = storage ? storage->storage.first : nullptr; e; e = e->next)
        ++n;
    return n;
}

struct Parsed {
    SGX509Certificate handle{};
    testkit::Bytes der;
    explicit Parsed(const fs::path& file) : der(testkit::readBytes(file)) {
        SGBinary view{der.data(), static_cast<uint32_t>(der.size())};
        SGX509Certificate_FromBinary(&handle, &view);
    }
    ~Parsed() {
        if (handle.certificate) SGX509Certificate_Clear(&handle);
    }
};

// The certificates of a chain, nearest issuer first.
std::vector<testkit::Bytes> chainOf(const SGCertificateSet& head) {
    std::vector<testkit::Bytes> out;
    for (const SGCertificateSet* node = &head; node && node->type; node = node->next)
        out.emplace_back(node->certificate.data, node->certificate.data + node->certificate.length);
    return out;
}

TEST(CertStorage, InstancesAreMadeOnceAndReadOnRequest) {
    EXPECT_IN_FRESH_PROCESS([] {
        Checks c;
        const fs::path m = chainMaterial();
        c.expect(!m.empty(), "chain material");
        const fs::path npki = npkiFolder();
        testkit::writeBytes(npki / "KISA" / "root.der", testkit::readBytes(m / "root.der"));

        c.expect(CertStorage::getInstance(static_cast<SGCertificateStorageType>(2)) == nullptr,
                 "type 2 has no storage");
        c.expect(!CertStorage::certStorageNPKI && !CertStorage::certStorageGPKI,
                 "and none was made");
        CertStorage* first = CertStorage::getInstance(SG_CERTIFICATE_STORAGE_NPKI);
        c.expect(first && first->path == Util::stringToWstring(npki.string()), "NPKI folder");
        c.expect(elementsOf(first) == 1, "the root read");

        testkit::writeBytes(npki / "KICA" / "ca.der", testkit::readBytes(m / "ca.der"));
        c.expect(CertStorage::getInstance(SG_CERTIFICATE_STORAGE_NPKI) == first, "the same object");
        c.expect(elementsOf(first) == 1, "not read again");
        c.expect(first->setCertStorage(SG_CERTIFICATE_STORAGE_NPKI) == 0, "read on request");
        c.expect(elementsOf(first) == 2, "the new CA file seen, nothing twice");

        CertStorage* gpki = CertStorage::getInstance(SG_CERTIFICATE_STORAGE_GPKI);
        c.expect(gpki && gpki != first, "a GPKI storage of its own");
        c.expect(gpki && gpki->path == Util::stringToWstring(std::string(std::getenv("HOME")) +
                                                             "/Library/Preferences/GPKI"),
                 "GPKI folder");
        c.expect(elementsOf(gpki) == 0, "a missing GPKI folder is an empty storage");

        // Other storage objects go without taking the process-wide ones along.
        {
            CertStorage home;
            CertStorage elsewhere(L"/nowhere");
            c.expect(elsewhere.path == L"/nowhere", "a given folder");
            c.expect(home.path == first->path, "the default folder is the NPKI one");
        }
        c.expect(CertStorage::getInstance(SG_CERTIFICATE_STORAGE_NPKI) == first &&
                     elementsOf(first) == 2,
                 "the storage outlives other objects");

        Parsed sign(m / "sign.der");
        SGCertificateSet chain{};
        c.expect(first->getCertificateChain(&chain, &sign.handle) == 0, "chain to the root");
        c.expect(chainOf(chain) == std::vector<testkit::Bytes>{testkit::readBytes(m / "ca.der"),
                                                               testkit::readBytes(m / "root.der")},
                 "CA, then root");
        SGCertificateSet_Clear(&chain);

        Parsed ca(m / "ca.der");
        SGBinary issuer{}, serial{};
        SGX509Certificate_GetEncodedEntry(&issuer, &ca.handle, SG_X509_ENTRY_ISSUER);
        SGX509Certificate_GetEncodedEntry(&serial, &ca.handle, SG_X509_ENTRY_SERIAL_NUMBER);
        SGCertificateSet* found = nullptr;
        c.expect(first->findCertificateByIssuerAndSerial(&found, &issuer, &serial) == 0 && found &&
                     testkit::Bytes(found->certificate.data,
                                    found->certificate.data + found->certificate.length) == ca.der,
                 "found by issuer and serial number");
        SGBinary_Reset(&issuer);
        SGBinary_Reset(&serial);
        return c.failures;
    });
}

TEST(CertStorage, AHomeFolderLongerThanThePathBufferIsRefused) {
    const std::string saved = std::getenv("HOME");
    ::setenv("HOME", ("/" + std::string(2030, 'h')).c_str(), 1);
    CertStorage npki;
    CertStorage gpki(SG_CERTIFICATE_STORAGE_GPKI);
    CertStorage other(static_cast<SGCertificateStorageType>(7));
    ::setenv("HOME", saved.c_str(), 1);
    EXPECT_TRUE(npki.path.empty());
    EXPECT_TRUE(gpki.path.empty());
    EXPECT_TRUE(other.path.empty());
    CertStorage fits;
    EXPECT_EQ(fits.path, Util::stringToWstring(saved + "/Library/Preferences/NPKI"));
}

TEST(CertStorage, ChainFetchesTheMissingCaFromTheDirectory) {
    EXPECT_IN_FRESH_PROCESS([] {
        Checks c;
        testkit::Slapd slapd;
        std::string error;
        c.expect(slapd.start(&error), "slapd: " + error);
        const fs::path keys = testkit::cachedPki("rsa-keys", {"root", "ca", "sign", "k", "s"});
        const fs::path m = fs::path(tokentest::freshFolder("ldap")) / "material";
        c.expect(testkit::pki("ldap-chain", m, {slapd.url(), keys.string()}, &error), error);
        c.expect(slapd.add(testkit::readText(m / "base.ldif"), &error), error);
        c.expect(slapd.add(testkit::readText(m / "entries.ldif"), &error), error);
        testkit::writeBytes(fs::path(npkiFolder()) / "KISA" / "root.der",
                            testkit::readBytes(m / "root.der"));

        CertStorage* npki = CertStorage::getInstance(SG_CERTIFICATE_STORAGE_NPKI);
        Parsed sign(m / "sign.der");
        SGCertificateSet chain{};
        c.expect(npki && npki->getCertificateChain(&chain, &sign.handle) == 0,
                 "chain through the directory");
        c.expect(chainOf(chain) == std::vector<testkit::Bytes>{testkit::readBytes(m / "ca.der"),
                                                               testkit::readBytes(m / "root.der")},
                 "the fetched CA, then the root of the files");
        c.expect(chain.origin == SG_CERTSET_FROM_LDAP, "the CA came from the directory");
        SGCertificateSet_Clear(&chain);
        // Fetched CA certificates are kept in memory, never written to the folder.
        c.expect(elementsOf(npki) == 2, "the storage holds the fetched CA");
        size_t files = 0;
        for (const auto& e : fs::recursive_directory_iterator(npkiFolder()))
            files += e.is_regular_file() ? 1 : 0;
        c.expect(files == 1, "nothing written");
        return c.failures;
    });
}

}  // namespace
