// A whole password change of an NPKI signing and key-management pair on disk (RSA-2048 keys under
// PBES2, PBKDF2-HMAC-SHA-1 with 2048 iterations, SEED-CBC): our disk token's setCertificatePIN,
// beside the same work done with OpenSSL's PKCS #8 functions in the same run. Each iteration
// changes the password back and forth, so both sides always start from the same kind of file.
//
// The OpenSSL side does what a careful change must: read both files, open both keys with the old
// password (d2i_X509_SIG, PKCS8_decrypt), encrypt them under the new one (PKCS5_pbe2_set_iv,
// PKCS8_set0_pbe), open both new encodings again and compare them with the plain keys, write
// each beside its file, fsync, rename into place and fsync the folder. Ours also reads the files
// once more against the listing and keeps a copy of the old signing key for the undo.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <openssl/evp.h>
#include <openssl/pkcs12.h>
#include <openssl/provider.h>
#include <openssl/x509.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "FileToken.h"
#include "PkiCache.h"

namespace {

namespace fs = std::filesystem;
using testkit::Bytes;

const std::string kPasswords[2] = {"q1w2e3r4!@", "Brand#new2024pw"};
const char kHolder[] = "cn=bench,o=yessign,c=kr";

bool providersLoaded() {
    // SEED is in the legacy provider; the providers stay loaded for the run.
    static OSSL_PROVIDER* legacy = OSSL_PROVIDER_load(nullptr, "legacy");
    static OSSL_PROVIDER* base = OSSL_PROVIDER_load(nullptr, "default");
    return legacy && base;
}

// A scratch NPKI medium holding the chain recipe's pair under the first password; the home
// folder (the token's logs) inside it.
struct Medium {
    testkit::Scratch scratch{"key-change-bench"};
    fs::path base, holder;
    bool ready = false;

    Medium() {
        std::string output;
        const fs::path chain = testkit::cachedPki("chain", {}, &output);
        if (chain.empty()) {
            std::fprintf(stderr, "chain: %s\n", output.c_str());
            return;
        }
        base = scratch.path() / "Preferences";
        holder = base / "NPKI" / "yessign" / "USER" / kHolder;
        fs::create_directories(holder);
        fs::create_directories(scratch.path() / "home");
        ::setenv("HOME", (scratch.path() / "home").c_str(), 1);
        for (const auto& [from, to] :
             {std::pair{"sign.der", "signCert.der"}, std::pair{"signPri.key", "signPri.key"},
              std::pair{"km.der", "kmCert.der"}, std::pair{"kmPri.key", "kmPri.key"}})
            testkit::writeBytes(holder / to, testkit::readBytes(chain / from));
        ready = providersLoaded();
    }

    // Puts the original pair back (both keys under the first password).
    void reset() {
        const fs::path chain = testkit::cachedPki("chain");
        testkit::writeBytes(holder / "signPri.key", testkit::readBytes(chain / "signPri.key"));
        testkit::writeBytes(holder / "kmPri.key", testkit::readBytes(chain / "kmPri.key"));
    }
};

Medium& medium() {
    static Medium* m = new Medium();
    return *m;
}

// --- Ours ---------------------------------------------------------------------------------------

struct OurSide {
    std::unique_ptr<FileToken> token;
    std::string id;

    OurSide() {
        medium().reset();
        token = std::make_unique<FileToken>("/", "home");
        token->setPKIDir(medium().base.string());
        token->setSystemDrive(true);
        ShortCertificate* rows = nullptr;
        unsigned int count = 0;
        if (token->getCertificateList(&rows, &count, 0x111, nullptr, nullptr) == 0 && count > 0)
            id = rows[0].signCertID;
        Token::freeMemory(rows, 0);
    }

    int change(const std::string& from, const std::string& to) {
        std::string old = from, fresh = to;
        return token->setCertificatePIN(id.c_str(), reinterpret_cast<unsigned char*>(old.data()),
                                        old.size(), reinterpret_cast<unsigned char*>(fresh.data()),
                                        fresh.size());
    }
};

void BM_ChangeKeyPairPassword_Ours(benchmark::State& state) {
    if (!medium().ready) {
        state.SkipWithError("material");
        return;
    }
    OurSide ours;
    if (ours.id.empty()) {
        state.SkipWithError("listing");
        return;
    }
    int turn = 0;
    for (auto _ : state) {
        if (ours.change(kPasswords[turn], kPasswords[1 - turn]) != 0) {
            state.SkipWithError("change");
            break;
        }
        turn = 1 - turn;
    }
}
BENCHMARK(BM_ChangeKeyPairPassword_Ours)->Unit(benchmark::kMillisecond);

// --- OpenSSL ------------------------------------------------------------------------------------

Bytes readFile(const fs::path& path) {
    return testkit::readBytes(path);
}

// The PrivateKeyInfo a key file holds under the password, DER; empty when it does not open.
Bytes openKey(const Bytes& file, const std::string& password) {
    const unsigned char* p = file.data();
    X509_SIG* sig = d2i_X509_SIG(nullptr, &p, static_cast<long>(file.size()));
    PKCS8_PRIV_KEY_INFO* info =
        sig ? PKCS8_decrypt(sig, password.data(), static_cast<int>(password.size())) : nullptr;
    unsigned char* der = nullptr;
    const int n = info ? i2d_PKCS8_PRIV_KEY_INFO(info, &der) : 0;
    Bytes out;
    if (n > 0) out.assign(der, der + n);
    OPENSSL_clear_free(der, n > 0 ? n : 0);
    PKCS8_PRIV_KEY_INFO_free(info);
    X509_SIG_free(sig);
    return out;
}

// The PrivateKeyInfo encrypted under the password in the key-file profile.
Bytes sealKey(const Bytes& plain, const std::string& password) {
    const unsigned char* p = plain.data();
    PKCS8_PRIV_KEY_INFO* info =
        d2i_PKCS8_PRIV_KEY_INFO(nullptr, &p, static_cast<long>(plain.size()));
    X509_ALGOR* pbe =
        PKCS5_pbe2_set_iv(EVP_seed_cbc(), 2048, nullptr, 8, nullptr, NID_hmacWithSHA1);
    X509_SIG* sig =
        info && pbe ? PKCS8_set0_pbe(password.data(), static_cast<int>(password.size()), info, pbe)
                    : nullptr;
    unsigned char* der = nullptr;
    const int n = sig ? i2d_X509_SIG(sig, &der) : 0;
    Bytes out;
    if (n > 0) out.assign(der, der + n);
    OPENSSL_free(der);
    X509_SIG_free(sig);
    if (!sig) X509_ALGOR_free(pbe);
    PKCS8_PRIV_KEY_INFO_free(info);
    return out;
}

// Writes the bytes to a new file beside the path and fsyncs it: the temporary file's path.
std::string writeBeside(const fs::path& path, const Bytes& bytes) {
    const std::string temporary = path.string() + ".new";
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return {};
    const bool ok = ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size()) &&
                    ::fsync(fd) == 0;
    ::close(fd);
    return ok ? temporary : std::string();
}

bool changeWithOpenSSL(const fs::path& holder, const std::string& from, const std::string& to) {
    const fs::path files[2] = {holder / "signPri.key", holder / "kmPri.key"};
    Bytes plain[2], sealed[2];
    std::string temporary[2];
    for (int i = 0; i < 2; ++i) {
        plain[i] = openKey(readFile(files[i]), from);
        if (plain[i].empty()) return false;
    }
    for (int i = 0; i < 2; ++i) {
        sealed[i] = sealKey(plain[i], to);
        if (sealed[i].empty() || openKey(sealed[i], to) != plain[i]) return false;
        temporary[i] = writeBeside(files[i], sealed[i]);
        if (temporary[i].empty()) return false;
    }
    for (int i = 0; i < 2; ++i)
        if (::rename(temporary[i].c_str(), files[i].c_str()) != 0) return false;
    const int folder = ::open(holder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const bool synced = folder >= 0 && ::fsync(folder) == 0;
    if (folder >= 0) ::close(folder);
    OPENSSL_cleanse(plain[0].data(), plain[0].size());
    OPENSSL_cleanse(plain[1].data(), plain[1].size());
    return synced;
}

void BM_ChangeKeyPairPassword_OpenSSL(benchmark::State& state) {
    if (!medium().ready) {
        state.SkipWithError("material");
        return;
    }
    medium().reset();
    int turn = 0;
    for (auto _ : state) {
        if (!changeWithOpenSSL(medium().holder, kPasswords[turn], kPasswords[1 - turn])) {
            state.SkipWithError("change");
            break;
        }
        turn = 1 - turn;
    }
}
BENCHMARK(BM_ChangeKeyPairPassword_OpenSSL)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
