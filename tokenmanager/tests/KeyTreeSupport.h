// Certificate media of the disk-token key tests, built from the key material (TokenKeySupport.h)
// in a scratch folder: NPKI holder folders and GPKI files, a home token over them, and the checks
// an outsider makes of a key file with the openssl command line alone.
#pragma once

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "FileToken.h"
#include "TestKit.h"
#include "TokenKeySupport.h"

namespace keytree {

namespace fs = std::filesystem;
using keytest::kPassword;
using keytest::material;
using keytest::materialFile;
using testkit::Bytes;

// The files of one certificate, by role; an empty part is not written.
struct Parts {
    Bytes signCert, signKey, kmCert, kmKey;
};

// The NPKI signing and key-management pair of the chain recipe, both keys under kPassword.
inline Parts npkiPair() {
    return {materialFile("chain/sign.der"), materialFile("chain/signPri.key"),
            materialFile("chain/km.der"), materialFile("chain/kmPri.key")};
}

// The NPKI signing pair alone.
inline Parts signOnlyParts() {
    Parts parts;
    parts.signCert = materialFile("chain/sign.der");
    parts.signKey = materialFile("chain/signPri.key");
    return parts;
}

// A GPKI pair: KCDSA keys (the standard's example key under both algorithm identifiers) under
// ARIA, as the government media keep them.
inline Parts gpkiPair() {
    return {materialFile("gpki/sig.cer"), materialFile("kcdsa1/key.der"),
            materialFile("gpki/env.cer"), materialFile("kcdsa2/key.der")};
}

// A scratch medium with a home token over it.
class Medium {
  public:
    Medium() : scratch_("key-tree") {}

    fs::path base() const { return scratch_.path() / "Preferences"; }

    // An NPKI holder folder below yessign: its path.
    std::string npki(const std::string& holder, const Parts& parts, mode_t mode = 0600) {
        const fs::path folder = base() / "NPKI" / "yessign" / "USER" / holder;
        put(folder / "signCert.der", parts.signCert, 0644);
        put(folder / "signPri.key", parts.signKey, mode);
        put(folder / "kmCert.der", parts.kmCert, 0644);
        put(folder / "kmPri.key", parts.kmKey, mode);
        return folder.string();
    }

    // A GPKI certificate in class2: its base path (the folder and the stem).
    std::string gpki(const std::string& stem, const Parts& parts, mode_t mode = 0600) {
        const fs::path stemPath = base() / "GPKI" / "Certificate" / "class2" / stem;
        put(stemPath.string() + "_sig.cer", parts.signCert, 0644);
        put(stemPath.string() + "_sig.key", parts.signKey, mode);
        put(stemPath.string() + "_env.cer", parts.kmCert, 0644);
        put(stemPath.string() + "_env.key", parts.kmKey, mode);
        return stemPath.string();
    }

    // The home token over the medium, listed (NPKI and GPKI) once more.
    FileToken& token() {
        if (!token_) {
            token_ = std::make_unique<FileToken>("/", "home");
            token_->setPKIDir(base().string());
            token_->setSystemDrive(true);
        }
        return *token_;
    }
    unsigned int list() {
        ShortCertificate* rows = nullptr;
        unsigned int count = 0;
        EXPECT_EQ(token().getCertificateList(&rows, &count, 0x111, nullptr, nullptr), 0);
        Token::freeMemory(rows, 0);
        return count;
    }
    // A token of its own over the same medium, listed: what a restarted application sees.
    std::unique_ptr<FileToken> freshToken() const {
        auto fresh = std::make_unique<FileToken>("/", "home");
        fresh->setPKIDir(base().string());
        fresh->setSystemDrive(true);
        ShortCertificate* rows = nullptr;
        unsigned int count = 0;
        fresh->getCertificateList(&rows, &count, 0x111, nullptr, nullptr);
        Token::freeMemory(rows, 0);
        return fresh;
    }

  private:
    static void put(const fs::path& path, const Bytes& bytes, mode_t mode) {
        if (bytes.empty()) return;
        testkit::writeBytes(path, bytes);
        ::chmod(path.c_str(), mode);
    }

    testkit::Scratch scratch_;
    std::unique_ptr<FileToken> token_;
};

// The item id of a suite path (an NPKI holder folder or a GPKI base) and a part digit.
inline std::string itemId(const std::string& path, char digit) {
    return FileToken::identifierOf(path) + digit;
}

// The key files of a suite path.
inline std::vector<std::string> keyFiles(const std::string& path) {
    if (fs::exists(path + "_sig.key") || fs::exists(path + "_sig.cer"))
        return {path + "_sig.key", path + "_env.key"};
    return {path + "/signPri.key", path + "/kmPri.key"};
}

// The SHA-256 of each file (sha256sum), "-" for a missing one.
inline std::vector<std::string> digests(const std::vector<std::string>& files) {
    std::vector<std::string> out;
    std::string command;
    for (const auto& f : files) command += " " + testkit::quote(f);
    std::istringstream in(testkit::run("sha256sum" + command + " 2>/dev/null"));
    std::map<std::string, std::string> byFile;
    for (std::string line; std::getline(in, line);)
        if (line.size() > 66) byFile[line.substr(66)] = line.substr(0, 64);
    for (const auto& f : files) out.push_back(byFile.count(f) ? byFile[f] : "-");
    return out;
}

// The names in a folder that no certificate or key file has: temporary files left behind.
inline std::vector<std::string> strayFiles(const fs::path& folder) {
    std::vector<std::string> out;
    for (const auto& entry : fs::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind(".sgtmp.", 0) == 0) out.push_back(name);
    }
    return out;
}

// ---- What an outsider sees of a key file ------------------------------------------------------

// The fields of an EncryptedPrivateKeyInfo under PBES2 as openssl asn1parse reports them.
struct KeyFileFields {
    bool pbes2 = false, pbkdf2 = false, prf = false;
    std::string salt, iterations, scheme, iv, keyLength;
    Bytes encrypted;
};

inline KeyFileFields keyFileFields(const std::string& path) {
    KeyFileFields f;
    std::istringstream in(
        testkit::run("openssl asn1parse -inform DER -in " + testkit::quote(path) + " 2>&1"));
    std::vector<std::string> values;  // the value of each primitive line, in order
    for (std::string line; std::getline(in, line);) {
        const size_t colon = line.rfind(':');
        if (line.find("prim:") == std::string::npos || colon == std::string::npos) continue;
        const std::string value = line.substr(colon + 1);
        if (line.find("OBJECT") != std::string::npos) {
            if (value == "PBES2") f.pbes2 = true;
            if (value == "PBKDF2") f.pbkdf2 = true;
            if (value.find("hmacWith") != std::string::npos) f.prf = true;
        }
        values.push_back((line.find("OBJECT") != std::string::npos ? "oid:" : "") + value);
    }
    // PBES2, PBKDF2, salt, iterations, [keyLength], [prf], scheme, iv, data.
    size_t i = 0;
    while (i < values.size() && values[i] != "oid:PBKDF2") ++i;
    if (i + 1 < values.size()) f.salt = values[++i];
    if (i + 1 < values.size()) f.iterations = values[++i];
    if (i + 1 < values.size() && values[i + 1].rfind("oid:", 0) != 0) f.keyLength = values[++i];
    while (i + 1 < values.size() && values[i + 1].rfind("oid:hmacWith", 0) == 0) ++i;
    if (i + 1 < values.size()) f.scheme = values[++i].substr(4);
    if (i + 1 < values.size()) f.iv = values[++i];
    if (i + 1 < values.size()) f.encrypted = testkit::unhex(values[++i]);
    return f;
}

// The plaintext of a key file of the key-file profile, by openssl alone: the key by openssl kdf
// (PBKDF2, HMAC-SHA-1), the plaintext by openssl enc; empty when it does not decrypt.
inline Bytes opensslPlaintext(const std::string& path, const std::string& password) {
    const KeyFileFields f = keyFileFields(path);
    const std::string cipher = f.scheme == "seed-cbc" || f.scheme == "1.2.410.200004.1.4"
                                   ? "seed-cbc"
                               : f.scheme == "1.2.410.100001.1.20" ? "aria-128-cbc"
                                                                   : "";
    if (cipher.empty() || f.salt.empty() || f.iv.empty()) return {};
    testkit::Scratch dir("plain");
    int status = -1;
    std::string key = testkit::run(
        "openssl kdf -keylen 16 -kdfopt digest:SHA1 -kdfopt pass:" + testkit::quote(password) +
            " -kdfopt hexsalt:" + f.salt +
            " -kdfopt iter:" + std::to_string(std::stoi(f.iterations, nullptr, 16)) + " PBKDF2",
        &status);
    key.erase(std::remove_if(key.begin(), key.end(), [](char c) { return c == ':' || c == '\n'; }),
              key.end());
    if (status != 0) return {};
    testkit::writeBytes(dir.path() / "in", f.encrypted);
    if (!testkit::succeeds("openssl enc -d -" + cipher + " -K " + key + " -iv " + f.iv + " -in " +
                           testkit::quote((dir.path() / "in").string()) + " -out " +
                           testkit::quote((dir.path() / "out").string()) +
                           " -provider legacy -provider default"))
        return {};
    return testkit::readBytes(dir.path() / "out");
}

// Whether openssl pkcs8 opens the key file with the password.
inline bool opensslOpens(const std::string& path, const std::string& password,
                         const std::string& outPem = "/dev/null") {
    return testkit::succeeds("openssl pkcs8 -inform DER -in " + testkit::quote(path) +
                             " -passin pass:" + testkit::quote(password) + " -out " +
                             testkit::quote(outPem) + " -provider legacy -provider default");
}

}  // namespace keytree
