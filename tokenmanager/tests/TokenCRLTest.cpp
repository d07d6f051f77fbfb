// CRL files from a real slapd serving lists made by openssl ca -gencrl (and, for KCDSA, signed
// again by the kit's own KCDSA signer): the certificate's list and its CA's authority list kept
// below the NPKI folder, the folders made first (owner-only), and lists of another issuer or
// with a forged signature refused. Runs in a fresh process: the NPKI storage lives as long
// as the process.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <string>

#include "CertStorage.h"
#include "PkiCache.h"
#include "Slapd.h"
#include "Token.h"
#include "TokenTestSupport.h"

namespace {

namespace fs = std::filesystem;
using tokentest::Checks;

class ListToken final : public Token {
  public:
    ListToken() : Token("lists", "TEST TOKEN", InputPINHandler::TOKEN_TYPE_DISK) {}
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
        return 1307;
    }
    int getCertificate(const char*, unsigned char**, unsigned long*) override { return 1309; }
    int getPrivateKey(const char*, unsigned char**, unsigned long*, InputPINHandler*) override {
        return 1307;
    }
    int getPath(const char*, unsigned char**, unsigned long*) override { return 1307; }
    int deleteCertificate(const char*, InputPINHandler*) override { return 1307; }
    int changeCertificatePIN(const char*, InputPINHandler*) override { return 1307; }
    int importEncryptedPrivateKeyInfo(unsigned char*, unsigned long, unsigned char*, unsigned long,
                                      unsigned char*, unsigned long, unsigned char*, unsigned long,
                                      InputPINHandler*) override {
        return 1307;
    }
    int importInit(unsigned char*, unsigned long, InputPINHandler*,
                   InputPINHandler::InputPINPurpose) override {
        return 1307;
    }
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

int searches(const testkit::Slapd& slapd) {
    const std::string log = slapd.log();
    int n = 0;
    for (size_t at = log.find("SRCH base"); at != std::string::npos;
         at = log.find("SRCH base", at + 1))
        ++n;
    return n;
}

mode_t modeOf(const fs::path& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 ? (status.st_mode & 07777) : 0;
}

fs::path npkiFolder() {
    return fs::path(std::getenv("HOME")) / "Library/Preferences/NPKI";
}

// Starts the slapd, makes a hierarchy recipe's material for it (with the cached RSA keys), loads
// its entries and puts its root where the NPKI storage finds roots; the material's folder.
fs::path serveHierarchy(testkit::Slapd& slapd, const std::string& recipe, Checks& c) {
    std::string error;
    c.expect(slapd.start(&error), "slapd: " + error);
    const fs::path keys = testkit::cachedPki("rsa-keys", {"root", "ca", "sign", "k", "s"});
    const fs::path m = fs::path(tokentest::freshFolder(recipe)) / "material";
    c.expect(testkit::pki(recipe, m, {slapd.url(), keys.string()}, &error), error);
    c.expect(slapd.add(testkit::readText(m / "base.ldif"), &error), error);
    c.expect(slapd.add(testkit::readText(m / "entries.ldif"), &error), error);
    testkit::writeBytes(npkiFolder() / "KISA" / "root.der", testkit::readBytes(m / "root.der"));
    return m;
}

TEST(TokenCRL, WritesTheListsOfTheChainFromTheDirectory) {
    EXPECT_IN_FRESH_PROCESS([] {
        Checks c;
        testkit::SlapdOptions options;
        options.debugLevel = "256";
        testkit::Slapd slapd(options);
        const fs::path m = serveHierarchy(slapd, "ldap-crl-points", c);
        const fs::path npki = npkiFolder();

        ListToken token;
        testkit::Bytes sign = testkit::readBytes(m / "sign.der");
        // A file where the folder must go: refused before the directory is asked anything.
        testkit::writeText(npki / "Lindsign", "not a folder");
        const int before = searches(slapd);
        c.expect(token.writeCRL(sign.data(), sign.size()) == 1336, "1336 for a blocked folder");
        c.expect(searches(slapd) == before, "no search before the folder exists");
        fs::remove(npki / "Lindsign");

        c.expect(token.writeCRL(sign.data(), sign.size()) == 0, "both lists written");
        const fs::path top = npki / "Lindsign" / "CRL";
        const fs::path crl = top / "ou=dp1,cn=Brindlow CRL CA,o=Brindlow CRL,c=KR" / "cert.crl";
        const fs::path arl = top / "cn=arl1,cn=Brindlow CRL Root,o=Brindlow CRL,c=KR" / "cert.crl";
        c.expect(testkit::readBytes(crl) == testkit::readBytes(m / "ca.crl"), "the CA's CRL");
        c.expect(testkit::readBytes(arl) == testkit::readBytes(m / "root.arl"), "the root's ARL");
        c.expect(modeOf(npki / "Lindsign") == 0700 && modeOf(top) == 0700, "owner-only folders");

        // A point that serves another issuer's list: nothing is kept for it.
        testkit::Bytes wrong = testkit::readBytes(m / "wrong.der");
        c.expect(token.writeCRL(wrong.data(), wrong.size()) == 1312, "1312 for another issuer");
        c.expect(!fs::exists(top / "ou=dp9,cn=Brindlow CRL CA,o=Brindlow CRL,c=KR"),
                 "no folder for the refused list");
        testkit::Bytes notACertificate = {0x30, 0x00};
        c.expect(token.writeCRL(notACertificate.data(), notACertificate.size()) == 1312,
                 "1312 for bytes that are no certificate");
        return c.failures;
    });
}

TEST(TokenCRL, KeepsKcdsaSignedListsAndRefusesForgedOnes) {
    EXPECT_IN_FRESH_PROCESS([] {
        Checks c;
        testkit::Slapd slapd;
        const fs::path m = serveHierarchy(slapd, "kcdsa-crl", c);
        const fs::path npki = npkiFolder();

        // The CA's CRL and the root's authority list, both signed with KCDSA.
        ListToken token;
        testkit::Bytes user = testkit::readBytes(m / "user-valid.der");
        const int written = token.writeCRL(user.data(), user.size());
        c.expect(written == 0, "both KCDSA lists written (" + std::to_string(written) + ")");
        const fs::path top = npki / "Lindsign" / "CRL";
        const fs::path crl = top / "ou=valid,cn=KCDSA CRL CA,o=Brindlow KCDSA,c=KR" / "cert.crl";
        const fs::path arl = top / "cn=arl1,cn=KCDSA CRL Root,o=Brindlow KCDSA,c=KR" / "cert.crl";
        c.expect(testkit::readBytes(crl) == testkit::readBytes(m / "ca.crl"), "the CA's CRL");
        c.expect(testkit::readBytes(arl) == testkit::readBytes(m / "root.arl"), "the root's ARL");

        // Forged lists under the CA's name: nothing below the NPKI folder changes.
        const auto before = tokentest::snapshot(npki);
        for (const char* forged : {"sig", "tbs", "other"}) {
            testkit::Bytes named = testkit::readBytes(m / ("user-" + std::string(forged) + ".der"));
            c.expect(token.writeCRL(named.data(), named.size()) == 1312,
                     std::string("1312 for the list of case ") + forged);
            c.expect(tokentest::snapshot(npki) == before,
                     std::string("nothing written for case ") + forged);
        }
        return c.failures;
    });
}

}  // namespace
