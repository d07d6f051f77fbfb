// NPKI and GPKI folder trees for the disk-token tests: certificates made by the openssl command
// line with one shared RSA key, and key files in the NPKI shape (PKCS #8 with PBES2, SEED-CBC,
// PBKDF2 with HMAC-SHA-1 and 2048 iterations).
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "TokenTestSupport.h"

namespace treetest {

namespace fs = std::filesystem;
using tokentest::readBytes;
using tokentest::run;

// Made once per process: the RSA key, and its NPKI key file under the password below.
struct Material {
    std::string folder;
    std::string keyPem;
    std::vector<unsigned char> keyFile;
};

inline const char* kKeyPassword = "q1w2e3r4!@";

inline const Material& material() {
    static const Material m = [] {
        Material made;
        made.folder = tokentest::freshFolder("material");
        made.keyPem = made.folder + "/key.pem";
        int status = -1;
        run("openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out '" + made.keyPem +
                "' 2>/dev/null",
            &status);
        if (status != 0) return made;
        const std::string keyFile = made.folder + "/signPri.key";
        run("openssl pkcs8 -topk8 -v2 seed-cbc -v2prf hmacWithSHA1 -iter 2048 -provider legacy "
            "-provider default -in '" +
                made.keyPem + "' -outform DER -out '" + keyFile + "' -passout pass:'" +
                kKeyPassword + "' 2>/dev/null",
            &status);
        if (status == 0) made.keyFile = readBytes(keyFile);
        return made;
    }();
    return m;
}

// A self-signed certificate of the subject (openssl -subj form, UTF-8) as DER; extra options go
// to openssl req (for example "-addext keyUsage=keyEncipherment"). Cached by its arguments.
inline std::vector<unsigned char> certificate(const std::string& subject,
                                              const std::string& extra = "") {
    static std::map<std::string, std::vector<unsigned char>> made;
    const std::string key = subject + "\n" + extra;
    if (auto it = made.find(key); it != made.end()) return it->second;
    const std::string out = tokentest::freshFolder("cert") + "/cert.der";
    int status = -1;
    run("openssl req -x509 -new -utf8 -key '" + material().keyPem + "' -subj '" + subject +
            "' -days 365 -outform DER -out '" + out + "' " + extra + " 2>/dev/null",
        &status);
    auto der = status == 0 ? readBytes(out) : std::vector<unsigned char>{};
    made.emplace(key, der);
    return der;
}

// The same certificate with every occurrence of the bytes `from` replaced by `to` (same length):
// a name value that openssl cannot write, such as one with a NUL byte. The signature no longer
// matches; nothing here verifies it.
inline std::vector<unsigned char> patched(std::vector<unsigned char> der, const std::string& from,
                                          const std::string& to) {
    if (from.empty() || from.size() != to.size()) return {};
    std::string bytes(der.begin(), der.end());
    size_t found = 0;
    for (size_t at = bytes.find(from); at != std::string::npos; at = bytes.find(from, at)) {
        bytes.replace(at, from.size(), to);
        ++found;
    }
    if (found == 0) return {};
    return {bytes.begin(), bytes.end()};
}

inline void writeBytes(const std::string& path, const std::vector<unsigned char>& bytes) {
    fs::create_directories(fs::path(path).parent_path());
    tokentest::writeText(path, std::string(bytes.begin(), bytes.end()));
}

// One NPKI holder folder: the signing pair, and the key-management pair and CaPubs when given.
inline void npkiHolder(const std::string& folder, const std::vector<unsigned char>& signCert,
                       const std::vector<unsigned char>& kmCert = {}, bool caPubs = false) {
    writeBytes(folder + "/signCert.der", signCert);
    writeBytes(folder + "/signPri.key", material().keyFile);
    if (!kmCert.empty()) {
        writeBytes(folder + "/kmCert.der", kmCert);
        writeBytes(folder + "/kmPri.key", material().keyFile);
    }
    if (caPubs) writeBytes(folder + "/CaPubs", {0x30, 0x00});
}

// One GPKI certificate: <stem>_sig.cer and _sig.key, and the _env pair when given.
inline void gpkiHolder(const std::string& stem, const std::vector<unsigned char>& signCert,
                       const std::vector<unsigned char>& kmCert = {}) {
    writeBytes(stem + "_sig.cer", signCert);
    writeBytes(stem + "_sig.key", material().keyFile);
    if (!kmCert.empty()) {
        writeBytes(stem + "_env.cer", kmCert);
        writeBytes(stem + "_env.key", material().keyFile);
    }
}

// The identifier of a path by the openssl command line: upper-case hex SHA-1 of its bytes.
inline std::string sha1Identifier(const std::string& path) {
    const std::string file = tokentest::freshFolder("sha1") + "/path";
    tokentest::writeText(file, path);
    std::string out = run("openssl dgst -sha1 -r '" + file + "'");
    out = out.substr(0, out.find(' '));
    for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

// The names of a folder in the order the directory gives them.
inline std::vector<std::string> directoryOrder(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    return names;
}

}  // namespace treetest
