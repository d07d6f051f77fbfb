// Key material of the password-based encryption, PKCS #8 and key-callback tests, made with the
// openssl command line once per build folder (testkit/KitCache.h): one RSA-2048 key as
// PrivateKeyInfo and as EncryptedPrivateKeyInfo under every scheme openssl writes (recipe pkcs8,
// one folder per scheme), and the NPKI and GPKI key files assembled by hand (recipe kisa_key).
// Also the openssl calls the tests check our output with.
#pragma once

#include <string>

#include "KitCache.h"
#include "TestKit.h"

namespace pbetest {

namespace fs = std::filesystem;
using testkit::Bytes;

inline const std::string kPassword = "q1w2e3r4!@";
// The randomNum of the NPKI key file "npki-random".
inline const std::string kRandomHex = "1F2E3D4C5B6A79880011223344556677A1B2C3D4";

// Folders of the pkcs8 recipe: folder name and scheme.
struct OpensslScheme {
    const char* folder;
    const char* scheme;
};
inline const OpensslScheme kOpensslSchemes[] = {
    {"seed-cbc", "seed-cbc"},
    {"aes-128-cbc", "aes-128-cbc"},
    {"aes-192-cbc", "aes-192-cbc"},
    {"aes-256-cbc", "aes-256-cbc"},
    {"aes-128-sha1", "aes-128-cbc:hmacWithSHA1"},
    {"aes-128-sha224", "aes-128-cbc:hmacWithSHA224"},
    {"aes-256-sha384", "aes-256-cbc:hmacWithSHA384@1000"},
    {"aes-256-sha512", "aes-256-cbc:hmacWithSHA512"},
    {"aria-openssl", "aria-128-cbc"},
    {"des3", "des3"},
    {"sha1-3des", "PBE-SHA1-3DES"},
    {"sha1-2des", "PBE-SHA1-2DES"},
    {"sha1-rc2-128", "PBE-SHA1-RC2-128"},
    {"sha1-rc2-40", "PBE-SHA1-RC2-40"},
    {"sha1-rc4-128", "PBE-SHA1-RC4-128"},
    {"sha1-rc4-40", "PBE-SHA1-RC4-40"},
};

inline bool makeMaterial(const fs::path& work) {
    // The key first; every other file reuses it, all at once.
    if (!testkit::pki("pkcs8", work / "seed-cbc", {"seed-cbc", kPassword})) return false;
    const std::string pki = "bash " + testkit::quote(std::string(BRINDLOW_TESTKIT_DIR) + "/pki.sh");
    const std::string key = testkit::quote((work / "seed-cbc" / "key.pem").string());
    const std::string pw = testkit::quote(kPassword);
    std::string command = "pids=''; ";
    auto add = [&](const std::string& call) { command += call + " & pids=\"$pids $!\"; "; };
    for (const OpensslScheme& s : kOpensslSchemes) {
        if (std::string(s.folder) == "seed-cbc") continue;
        add(pki + " pkcs8 " + testkit::quote((work / s.folder).string()) + " " +
            testkit::quote(s.scheme) + " " + pw + " " + key);
    }
    add(pki + " kisa_key " + testkit::quote((work / "npki-random").string()) + " npki " + pw + " " +
        key + " " + kRandomHex);
    add(pki + " kisa_key " + testkit::quote((work / "gpki").string()) + " gpki " + pw + " " + key);
    command += "s=0; for p in $pids; do wait $p || s=1; done; exit $s";
    std::string output;
    if (!testkit::succeeds(command, &output)) {
        ADD_FAILURE() << "making the PKCS #8 material failed:\n" << output;
        return false;
    }
    // The key as RSAPrivateKey and its public half, for the signing and decryption tests.
    return testkit::succeeds("openssl rsa -in " + key + " -traditional -outform DER -out " +
                             testkit::quote((work / "rsa.der").string()) + " && openssl rsa -in " +
                             key + " -pubout -out " +
                             testkit::quote((work / "public.pem").string()));
}

// The material folder of this build.
inline const fs::path& material() {
    static const fs::path dir = testkit::madeOnce(
        "pkcs8", testkit::recipeKey({"pkcs8", "kisa_encrypt", "kisa_key"}) + kRandomHex,
        makeMaterial);
    return dir;
}

inline Bytes materialFile(const std::string& relative) {
    return testkit::readBytes(material() / relative);
}

// What openssl pkcs8 decrypts an EncryptedPrivateKeyInfo to, as PrivateKeyInfo DER (openssl
// drops attributes on the way). Empty when openssl refuses it.
inline Bytes opensslDecrypt(const Bytes& epki, const std::string& password) {
    testkit::Scratch dir("pbe");
    testkit::writeBytes(dir / "in.der", epki);
    const std::string command =
        "cd " + testkit::quote(dir.str()) + " && openssl pkcs8 -inform DER -in in.der -passin " +
        testkit::quote("pass:" + password) +
        " -provider legacy -provider default | openssl asn1parse -noout -out out.der";
    if (!testkit::succeeds(command)) return {};
    return testkit::readBytes(dir / "out.der");
}

// python3-cryptography-vectors, installed by scripts/setup.sh.
inline const std::string kVectors = "/usr/lib/python3/dist-packages/cryptography_vectors";

// The DER inside a PEM file (of any label).
inline Bytes pemFile(const std::string& path) {
    testkit::Scratch dir("pbe");
    if (!testkit::succeeds("openssl asn1parse -noout -in " + testkit::quote(path) + " -out " +
                           testkit::quote((dir / "out.der").string())))
        return {};
    return testkit::readBytes(dir / "out.der");
}

// openssl asn1parse's lines for DER.
inline std::string asn1parse(const Bytes& der) {
    testkit::Scratch dir("pbe");
    testkit::writeBytes(dir / "in.der", der);
    return testkit::run("openssl asn1parse -inform DER -i -in " +
                        testkit::quote((dir / "in.der").string()));
}

}  // namespace pbetest
