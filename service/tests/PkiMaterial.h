// Material of the certificate-set, storage and LDAP tests: openssl-made hierarchies of the shared
// test kit, made once per build (each test runs in a process of its own), and small helpers to
// lay them out as NPKI and GPKI trees and to hand them to the library.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "PkiCache.h"
#include "SGBinary.h"
#include "SGCertificateSet.h"
#include "SGCertificateStorage.h"
#include "SGServiceTable.h"
#include "SGX509Certificate.h"
#include "TestKit.h"

namespace pkitest {

namespace fs = std::filesystem;
using testkit::Bytes;

inline fs::path cached(const std::string& recipe, const std::vector<std::string>& arguments = {}) {
    std::string output;
    fs::path folder = testkit::cachedPki(recipe, arguments, &output);
    EXPECT_FALSE(folder.empty()) << recipe << ": " << output;
    return folder;
}

// Keys shared by the recipes that take a key folder.
inline const fs::path& keys() {
    static const fs::path folder = cached("rsa-keys", {"root", "ca", "sign", "k", "s"});
    return folder;
}
// The kit's three-level chain: root (no authority key identifier), CA, sign and km.
inline const fs::path& chain() {
    static const fs::path folder = cached("chain");
    return folder;
}
inline const fs::path& shapes() {
    static const fs::path folder = cached("chain-shapes", {keys().string()});
    return folder;
}
inline const fs::path& subjects() {
    static const fs::path folder = cached("write-subjects", {keys().string()});
    return folder;
}

inline SGBinary viewOf(const Bytes& bytes) {
    return SGBinary{const_cast<unsigned char*>(bytes.data()), static_cast<uint32_t>(bytes.size())};
}
inline SGBinary viewOf(const std::string& text) {
    return SGBinary{reinterpret_cast<unsigned char*>(const_cast<char*>(text.data())),
                    static_cast<uint32_t>(text.size())};
}
inline Bytes bytesOf(const SGBinary& binary) {
    return Bytes(binary.data, binary.data + binary.length);
}

// A parsed certificate, cleared with the object.
struct ParsedCertificate {
    SGX509Certificate handle{};
    Bytes der;
    explicit ParsedCertificate(const fs::path& file) : der(testkit::readBytes(file)) {
        SGBinary view = viewOf(der);
        EXPECT_EQ(SGX509Certificate_FromBinary(&handle, &view), 0) << file;
    }
    ~ParsedCertificate() {
        if (handle.certificate) SGX509Certificate_Clear(&handle);
    }
    ParsedCertificate(const ParsedCertificate&) = delete;
    ParsedCertificate& operator=(const ParsedCertificate&) = delete;
};

// A set cleared with the object.
struct Set {
    SGCertificateSet head{};
    ~Set() { SGCertificateSet_Clear(&head); }
    std::vector<const SGCertificateSet*> nodes() const {
        std::vector<const SGCertificateSet*> out;
        for (const SGCertificateSet* node = &head; node && node->type; node = node->next)
            out.push_back(node);
        return out;
    }
};

// A storage cleared with the object.
struct Storage {
    SGCertificateStorage record{};
    ~Storage() { SGCertificateStorage_Clear(&record); }
    int read(const fs::path& folder, SGCertificateStorageType layout) {
        SGCertificateStorage_Clear(&record);
        const std::string text = folder.string();
        SGBinary path = viewOf(text);
        return SGCertificateStorage_CreateByPath(&record, &path, layout);
    }
    std::vector<const SGCertificateSetList*> elements() const {
        std::vector<const SGCertificateSetList*> out;
        for (const SGCertificateSetList* e = record.first; e; e = e->next) out.push_back(e);
        return out;
    }
};

inline bool sameDer(const SGCertificateSet* node, const Bytes& der) {
    return node && bytesOf(node->certificate) == der;
}

// The subject text of a certificate as the library renders it (entry 7, flags 1).
inline std::string subjectFolder(const ParsedCertificate& certificate) {
    char text[1024] = "";
    EXPECT_EQ(SGX509Certificate_GetEntry(&certificate.handle, text, sizeof text, 7, 1), 0);
    return text;
}

inline int modeOf(const fs::path& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return -1;
    return static_cast<int>(st.st_mode & 07777);
}

// What openssl says about a certificate: "-ext subjectKeyIdentifier" as upper-case hexadecimal
// without colons, "-serial" as hexadecimal.
inline std::string opensslSki(const fs::path& pem) {
    const std::string out = testkit::run("openssl x509 -noout -ext subjectKeyIdentifier -in " +
                                         testkit::quote(pem.string()));
    const size_t line = out.find('\n');
    return testkit::hex(testkit::unhex(line == std::string::npos ? "" : out.substr(line + 1)));
}
inline std::string opensslSerialHex(const fs::path& pem) {
    std::string out =
        testkit::run("openssl x509 -noout -serial -in " + testkit::quote(pem.string()));
    out = out.substr(out.find('=') + 1);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    return out;
}

// The library's tables are filled once per process.
class PkiTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { ASSERT_EQ(SGServiceWrapper_GetList(Service), 0); }
};

}  // namespace pkitest
