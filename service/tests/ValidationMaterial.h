// Material of the CRL and path-validation tests: the NIST PKITS files of Debian's
// python3-cryptography-vectors, the validation instant fixed through the platform clock, PEM
// files written for openssl, and openssl verify's verdict beside ours.
#pragma once

#include <gtest/gtest.h>

#include <ctime>
#include <future>
#include <string>
#include <vector>

#include "Clock.h"
#include "PkiMaterial.h"
#include "SGCertificateStorage.h"
#include "TestKit.h"

namespace validationtest {

namespace fs = std::filesystem;
using testkit::Bytes;

inline const fs::path& pkits() {
    static const fs::path folder =
        "/usr/lib/python3/dist-packages/cryptography_vectors/x509/PKITS_data";
    return folder;
}

// The instant every check of the scope runs at.
class FixedClock {
  public:
    explicit FixedClock(time_t instant) {
        at() = instant;
        previous_ = brindlow::platform::setClockSource(&now);
    }
    ~FixedClock() { brindlow::platform::setClockSource(previous_); }
    FixedClock(const FixedClock&) = delete;
    FixedClock& operator=(const FixedClock&) = delete;

  private:
    static time_t& at() {
        static time_t instant = 0;
        return instant;
    }
    static timespec now() { return timespec{at(), 0}; }
    brindlow::platform::ClockSource previous_ = nullptr;
};

// DER as PEM text, without running openssl.
inline std::string pem(const std::string& label, const Bytes& der) {
    static const char* digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string body;
    for (size_t i = 0; i < der.size(); i += 3) {
        const uint32_t n = der[i] << 16 | (i + 1 < der.size() ? der[i + 1] << 8 : 0) |
                           (i + 2 < der.size() ? der[i + 2] : 0);
        body += digits[n >> 18 & 63];
        body += digits[n >> 12 & 63];
        body += i + 1 < der.size() ? digits[n >> 6 & 63] : '=';
        body += i + 2 < der.size() ? digits[n & 63] : '=';
    }
    std::string out = "-----BEGIN " + label + "-----\n";
    for (size_t i = 0; i < body.size(); i += 64) out += body.substr(i, 64) + "\n";
    return out + "-----END " + label + "-----\n";
}

// The DER of the first PEM block of a file.
inline Bytes derOfPem(const fs::path& file) {
    const std::string text = testkit::readText(file);
    const size_t begin = text.find("-----BEGIN ");
    const size_t body = begin == std::string::npos ? begin : text.find('\n', begin);
    const size_t end = body == std::string::npos ? body : text.find("-----END ", body);
    Bytes out;
    if (end == std::string::npos) return out;
    uint32_t bits = 0;
    int count = 0;
    for (size_t i = body; i < end; ++i) {
        const char c = text[i];
        int v;
        if (c >= 'A' && c <= 'Z')
            v = c - 'A';
        else if (c >= 'a' && c <= 'z')
            v = c - 'a' + 26;
        else if (c >= '0' && c <= '9')
            v = c - '0' + 52;
        else if (c == '+')
            v = 62;
        else if (c == '/')
            v = 63;
        else
            continue;
        bits = bits << 6 | static_cast<uint32_t>(v);
        if (++count == 4) {
            out.push_back(static_cast<unsigned char>(bits >> 16));
            out.push_back(static_cast<unsigned char>(bits >> 8));
            out.push_back(static_cast<unsigned char>(bits));
            bits = 0;
            count = 0;
        }
    }
    if (count == 3) {
        out.push_back(static_cast<unsigned char>(bits >> 10));
        out.push_back(static_cast<unsigned char>(bits >> 2));
    } else if (count == 2) {
        out.push_back(static_cast<unsigned char>(bits >> 4));
    }
    return out;
}

// What openssl verify says: "OK", or the first error line without the certificate's name
// ("error 23 at 0 depth lookup: certificate revoked").
struct Verdict {
    bool ok = false;
    std::string text;
};

inline Verdict opensslVerify(const std::string& arguments) {
    int status = -1;
    const std::string out = testkit::run("openssl verify " + arguments + " 2>&1", &status);
    Verdict verdict;
    verdict.ok = status == 0;
    size_t at = out.find("\nerror ");
    if (out.rfind("error ", 0) == 0)
        at = 0;
    else if (at != std::string::npos)
        ++at;
    if (verdict.ok) {
        verdict.text = "OK";
    } else if (at != std::string::npos) {
        verdict.text = out.substr(at, out.find('\n', at) - at);
    } else {
        verdict.text = out.substr(0, out.find('\n'));
    }
    return verdict;
}

// Runs the jobs side by side, a few at a time (each openssl verify loads its files anew).
template <typename F>
auto inParallel(size_t count, F job) -> std::vector<decltype(job(size_t{}))> {
    constexpr size_t kAtOnce = 4;
    std::vector<decltype(job(size_t{}))> out;
    for (size_t first = 0; first < count; first += kAtOnce) {
        std::vector<std::future<decltype(job(size_t{}))>> running;
        for (size_t i = first; i < count && i < first + kAtOnce; ++i)
            running.push_back(std::async(std::launch::async, job, i));
        for (auto& f : running) out.push_back(f.get());
    }
    return out;
}

// A storage built from certificate files, the first one trusted.
struct FileStorage {
    pkitest::Storage storage;
    void add(const Bytes& der, bool trusted) {
        pkitest::Set set;
        SGBinary view = pkitest::viewOf(der);
        ASSERT_EQ(SGCertificateSet_Add(&set.head, SG_CERTSET_CA, &view, nullptr, nullptr,
                                       trusted ? "FROM=FILE TRUST=ON" : "FROM=FILE"),
                  0);
        ASSERT_EQ(SGCertificateStorage_AddCertificate(&storage.record, &set.head), 0);
    }
};

}  // namespace validationtest
