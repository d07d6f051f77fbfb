// CRL checking and path validation beside OpenSSL:
// - a serial number looked up in a list of 100,000 entries made by openssl ca (ours:
//   SGCRL_Check; OpenSSL: d2i_X509_CRL + X509_CRL_get0_by_serial), for a serial near the start,
//   the last one and one that is not on the list;
// - a three-level path among 1,000 CA certificates whose lists come from a real slapd on every
//   run (ours: SGCertificateValidator_ValidateFullPath, which fetches the two lists itself;
//   OpenSSL: the same two lists fetched with libldap, then X509_verify_cert with CRL checks over
//   a store holding the same certificates).
#include <benchmark/benchmark.h>
#include <ldap.h>
#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "BenchCertificates.h"
#include "PkiCache.h"
#include "SGCRL.h"
#include "SGCertificateSet.h"
#include "SGCertificateStorage.h"
#include "SGCertificateValidator.h"
#include "SGServiceTable.h"
#include "Slapd.h"
#include "TestKit.h"

namespace {

namespace fs = std::filesystem;
using benchpki::derOf;
using benchpki::makeCertificate;
using testkit::Bytes;

constexpr int kListEntries = 100000;
constexpr int kCaCertificates = 1000;

SGBinary viewOf(const Bytes& bytes) {
    return SGBinary{const_cast<unsigned char*>(bytes.data()), static_cast<uint32_t>(bytes.size())};
}

// --- A list of 100,000 entries ----------------------------------------------------------------

struct LargeList {
    Bytes der;
    std::string first, last, absent;  // serials in hexadecimal
    LargeList() {
        std::string output;
        const fs::path folder =
            testkit::cachedPki("crl-large", {std::to_string(kListEntries)}, &output);
        if (folder.empty()) {
            std::fprintf(stderr, "crl-large: %s\n", output.c_str());
            return;
        }
        der = testkit::readBytes(folder / "large.crl");
        auto line = [&](const char* name) {
            std::string text = testkit::readText(folder / name);
            while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
            return text;
        };
        first = line("first.txt");
        last = line("last.txt");
        absent = line("absent.txt");
    }
};

const LargeList& largeList() {
    static const LargeList list;
    return list;
}

// The INTEGER content octets of a non-negative serial given in hexadecimal.
Bytes serialOctets(const std::string& hexText) {
    Bytes bytes = testkit::unhex((hexText.size() % 2 ? "0" : "") + hexText);
    if (!bytes.empty() && (bytes[0] & 0x80)) bytes.insert(bytes.begin(), 0);
    return bytes;
}

const std::string& serialOf(int which) {
    const LargeList& list = largeList();
    return which == 0 ? list.first : which == 1 ? list.last : list.absent;
}

void BM_CRLCheck_Ours(benchmark::State& state) {
    SGServiceWrapper_GetList(Service);
    const LargeList& list = largeList();
    if (list.der.empty()) return state.SkipWithError("no list");
    const Bytes serial = serialOctets(serialOf(static_cast<int>(state.range(0))));
    SGBinary der = viewOf(list.der);
    SGBinary key = viewOf(serial);
    int result = -1;
    SGCRLStatus status{};
    for (auto _ : state) {
        result = SGCRL_Check(&status, &der, &key);
        benchmark::DoNotOptimize(status);
    }
    const bool revoked = state.range(0) != 2;
    if (result != 0 || (status.reason != SG_CRL_NOT_REVOKED) != revoked)
        state.SkipWithError("wrong answer");
}
BENCHMARK(BM_CRLCheck_Ours)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

void BM_CRLCheck_OpenSSL(benchmark::State& state) {
    const LargeList& list = largeList();
    if (list.der.empty()) return state.SkipWithError("no list");
    BIGNUM* bn = nullptr;
    BN_hex2bn(&bn, serialOf(static_cast<int>(state.range(0))).c_str());
    ASN1_INTEGER* serial = BN_to_ASN1_INTEGER(bn, nullptr);
    BN_free(bn);
    int found = 0;
    for (auto _ : state) {
        const unsigned char* p = list.der.data();
        X509_CRL* crl = d2i_X509_CRL(nullptr, &p, static_cast<long>(list.der.size()));
        X509_REVOKED* entry = nullptr;
        found = X509_CRL_get0_by_serial(crl, &entry, serial);
        benchmark::DoNotOptimize(entry);
        X509_CRL_free(crl);
    }
    ASN1_INTEGER_free(serial);
    const bool revoked = state.range(0) != 2;
    if ((found == 1) != revoked) state.SkipWithError("wrong answer");
}
BENCHMARK(BM_CRLCheck_OpenSSL)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

// --- A path among 1,000 CA certificates -------------------------------------------------------

const char* const kOrganization = "o=Brindlow Bench,c=KR";
const char* const kOrganizationName = "Brindlow Bench";

// An empty list of the issuer, current now, with its authority key identifier.
X509_CRL* makeList(X509* issuer, EVP_PKEY* key) {
    X509_CRL* crl = X509_CRL_new();
    X509_CRL_set_version(crl, 1);
    X509_CRL_set_issuer_name(crl, X509_get_subject_name(issuer));
    ASN1_TIME* time = X509_gmtime_adj(nullptr, -3600);
    X509_CRL_set1_lastUpdate(crl, time);
    X509_gmtime_adj(time, 30L * 86400);
    X509_CRL_set1_nextUpdate(crl, time);
    ASN1_TIME_free(time);
    X509V3_CTX ctx;
    X509V3_set_ctx(&ctx, issuer, nullptr, nullptr, crl, 0);
    X509_EXTENSION* ext =
        X509V3_EXT_conf_nid(nullptr, &ctx, NID_authority_key_identifier, "keyid:always");
    X509_CRL_add_ext(crl, ext, -1);
    X509_EXTENSION_free(ext);
    X509_CRL_sign(crl, key, EVP_sha256());
    return crl;
}

std::string base64(const Bytes& bytes) {
    std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()), bytes.data(),
                                  static_cast<int>(bytes.size()));
    out.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return out;
}

// The directory entry of a CA with its certificate and list.
std::string caEntry(const std::string& cn, const Bytes& certificate, const Bytes& list) {
    return "dn: cn=" + cn + "," + kOrganization +
           "\nobjectClass: applicationProcess\nobjectClass: certificationAuthority\ncn: " + cn +
           "\ncACertificate;binary:: " + base64(certificate) +
           "\ncertificateRevocationList;binary:: " + base64(list) +
           "\nauthorityRevocationList;binary:: " + base64(list) + "\n\n";
}

// The root and a CA among 998 other CA certificates, the leaf the CA issued, and the two lists
// in a slapd. The others come from an issuer outside the set with a P-256 key, so that making
// them is quick; their identifiers differ from the chain's.
struct Path {
    std::unique_ptr<testkit::Slapd> slapd;
    std::string error;
    std::vector<Bytes> cas;  // root first
    Bytes leaf;
    X509_STORE* store = nullptr;
    X509* leafX509 = nullptr;

    Path() {
        testkit::SlapdOptions options;
        options.baseLdif = std::string("dn: ") + kOrganization +
                           "\nobjectClass: organization\no: Brindlow Bench\n";
        slapd = std::make_unique<testkit::Slapd>(options);
        if (!slapd->start(&error)) return;
        const std::string url = slapd->url() + "/";
        EVP_PKEY* rootKey = EVP_RSA_gen(2048);
        EVP_PKEY* caKey = EVP_RSA_gen(2048);
        EVP_PKEY* leafKey = EVP_RSA_gen(2048);
        X509* root = makeCertificate("Bench Root", 1, rootKey, nullptr, rootKey, true, "hash", "",
                                     kOrganizationName);
        X509* ca = makeCertificate("Bench CA", 2, caKey, root, rootKey, true, "hash",
                                   url + "cn=Bench Root," + kOrganization, kOrganizationName);
        leafX509 = makeCertificate("Bench Leaf", 3, leafKey, ca, caKey, false, "hash",
                                   url + "cn=Bench CA," + kOrganization, kOrganizationName);
        leaf = derOf(leafX509);
        X509_CRL* rootList = makeList(root, rootKey);
        X509_CRL* caList = makeList(ca, caKey);
        const std::string ldif = caEntry("Bench Root", derOf(root), derOf(rootList)) +
                                 caEntry("Bench CA", derOf(ca), derOf(caList));
        X509_CRL_free(rootList);
        X509_CRL_free(caList);
        if (!slapd->add(ldif, &error)) return;

        store = X509_STORE_new();
        auto add = [&](X509* x) {
            cas.push_back(derOf(x));
            X509_STORE_add_cert(store, x);
        };
        add(root);
        // The chain's CA sits in the middle of the set.
        benchpki::otherCertificates(kCaCertificates, caKey, add, [&] { add(ca); });
        X509_free(root);
        X509_free(ca);
        EVP_PKEY_free(rootKey);
        EVP_PKEY_free(caKey);
        EVP_PKEY_free(leafKey);
    }
    ~Path() {
        X509_free(leafX509);
        X509_STORE_free(store);
    }
    bool ready() const { return store && !leaf.empty(); }
};

Path& path() {
    static Path p;
    return p;
}

void BM_ValidatePath_Ours(benchmark::State& state) {
    SGServiceWrapper_GetList(Service);
    Path& p = path();
    if (!p.ready()) return state.SkipWithError(("no path: " + p.error).c_str());
    SGCertificateStorage storage{};
    for (size_t i = 0; i < p.cas.size(); ++i) {
        SGCertificateSet set{};
        SGBinary der = viewOf(p.cas[i]);
        SGCertificateSet_Add(&set, SG_CERTSET_CA, &der, nullptr, nullptr,
                             i == 0 ? "FROM=FILE,TRUST=ON" : "FROM=FILE");
        SGCertificateStorage_AddCertificate(&storage, &set);
        SGCertificateSet_Clear(&set);
    }
    SGCertificateValidatorOptions options{&storage, 0};
    SGBinary leaf = viewOf(p.leaf);
    int result = -1, reason = -1;
    for (auto _ : state) result = SGCertificateValidator_ValidateFullPath(&reason, &leaf, &options);
    SGCertificateStorage_Clear(&storage);
    if (result != 0)
        state.SkipWithError(
            ("not validated: " + std::to_string(result) + "/" + std::to_string(reason)).c_str());
}
BENCHMARK(BM_ValidatePath_Ours)->Unit(benchmark::kMillisecond);

// A list read from the directory as a client does: connect, bind, search, decode.
X509_CRL* fetchList(const std::string& server, const std::string& entry) {
    LDAP* ld = nullptr;
    if (ldap_initialize(&ld, server.c_str()) != LDAP_SUCCESS) return nullptr;
    const int version = LDAP_VERSION3;
    ldap_set_option(ld, LDAP_OPT_PROTOCOL_VERSION, &version);
    berval credential{0, nullptr};
    X509_CRL* crl = nullptr;
    LDAPMessage* result = nullptr;
    char attribute[] = "certificateRevocationList;binary";
    char* attributes[] = {attribute, nullptr};
    if (ldap_sasl_bind_s(ld, nullptr, LDAP_SASL_SIMPLE, &credential, nullptr, nullptr, nullptr) ==
            LDAP_SUCCESS &&
        ldap_search_ext_s(ld, entry.c_str(), LDAP_SCOPE_BASE, "(objectClass=*)", attributes, 0,
                          nullptr, nullptr, nullptr, 0, &result) == LDAP_SUCCESS) {
        if (LDAPMessage* first = ldap_first_entry(ld, result)) {
            if (berval** values = ldap_get_values_len(ld, first, attribute)) {
                if (values[0]) {
                    const unsigned char* bytes =
                        reinterpret_cast<const unsigned char*>(values[0]->bv_val);
                    crl = d2i_X509_CRL(nullptr, &bytes, static_cast<long>(values[0]->bv_len));
                }
                ldap_value_free_len(values);
            }
        }
    }
    if (result) ldap_msgfree(result);
    ldap_unbind_ext_s(ld, nullptr, nullptr);
    return crl;
}

void BM_ValidatePath_OpenSSL(benchmark::State& state) {
    Path& p = path();
    if (!p.ready()) return state.SkipWithError(("no path: " + p.error).c_str());
    const std::string server = p.slapd->url();
    int result = 0;
    for (auto _ : state) {
        STACK_OF(X509_CRL)* lists = sk_X509_CRL_new_null();
        for (const char* cn : {"Bench Root", "Bench CA"})
            if (X509_CRL* crl = fetchList(server, std::string("cn=") + cn + "," + kOrganization))
                sk_X509_CRL_push(lists, crl);
        X509_STORE_CTX* ctx = X509_STORE_CTX_new();
        X509_STORE_CTX_init(ctx, p.store, p.leafX509, nullptr);
        X509_STORE_CTX_set0_crls(ctx, lists);
        X509_STORE_CTX_set_flags(ctx, X509_V_FLAG_CRL_CHECK | X509_V_FLAG_CRL_CHECK_ALL);
        result = X509_verify_cert(ctx);
        X509_STORE_CTX_free(ctx);
        sk_X509_CRL_pop_free(lists, X509_CRL_free);
    }
    if (result != 1) state.SkipWithError("not verified");
}
BENCHMARK(BM_ValidatePath_OpenSSL)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
