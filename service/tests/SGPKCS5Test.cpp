// Password-based encryption: the three key derivations against RFC 6070 and openssl kdf (PBKDF1
// against python's hashlib), every PBE type both ways against openssl (pkcs8, or enc with the
// key derived by hashlib), the token's profile as openssl asn1parse reads it, and what bad
// parameters, caller records, long inputs and missing memory get.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "DerBuilder.h"
#include "PBETestUtil.h"
#include "SGCipher.h"
#include "SGDigest.h"
#include "SGMemory.h"
#include "SGPKCS5.h"
#include "SGPKCS8.h"
#include "SGServiceTable.h"

namespace {

using namespace pbetest;
using testkit::hex;
using testkit::quote;
using testkit::unhex;

class PBE : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { ASSERT_EQ(SGServiceWrapper_GetList(Service), 0); }
};

const unsigned char* bytes(const std::string& s) {
    return reinterpret_cast<const unsigned char*>(s.data());
}
const unsigned char* bytes(const char* literal) {
    return reinterpret_cast<const unsigned char*>(literal);
}
int length(const std::string& s) {
    return static_cast<int>(s.size());
}

std::string shell(const std::string& command) {
    std::string out;
    EXPECT_TRUE(testkit::succeeds(command, &out)) << command << "\n" << out;
    out.erase(out.find_last_not_of("\n ") + 1);
    return out;
}

// openssl kdf's output as hex.
std::string opensslKdf(const std::string& options, int keyLength, const std::string& kdf) {
    std::string out =
        shell("openssl kdf -keylen " + std::to_string(keyLength) + " " + options + " " + kdf);
    std::string digits;
    for (char c : out)
        if (c != ':') digits += c;
    return digits;
}

// 00 b for each byte, then 00 00: the PKCS #12 form of a password.
Bytes widened(const std::string& password) {
    Bytes out;
    for (char c : password) {
        out.push_back(0);
        out.push_back(static_cast<unsigned char>(c));
    }
    out.push_back(0);
    out.push_back(0);
    return out;
}

// ---------------------------------------------------------------------------------------------
// Key derivations

// The published PBKDF2-HMAC-SHA1 vectors (the one with 16,777,216 iterations is left out: it
// runs for minutes under the sanitizers).
TEST_F(PBE, Pbkdf2MatchesRfc6070) {
    std::ifstream in(kVectors + "/KDF/rfc-6070-PBKDF2-SHA1.txt");
    ASSERT_TRUE(in.good());
    std::map<std::string, std::string> record;
    int checked = 0;
    auto unescape = [](std::string s) {
        for (size_t at; (at = s.find("\\0")) != std::string::npos;) s.replace(at, 2, 1, '\0');
        return s;
    };
    auto check = [&] {
        if (!record.count("DERIVED_KEY")) return;
        const int iterations = std::stoi(record["ITERATIONS"]);
        if (iterations <= 4096) {
            const std::string password = unescape(record["PASSWORD"]);
            const std::string salt = unescape(record["SALT"]);
            const Bytes expected = unhex(record["DERIVED_KEY"]);
            Bytes out(expected.size());
            ASSERT_EQ(
                SGPBKDF2(out.data(), bytes(password), length(password), bytes(salt), length(salt),
                         iterations, static_cast<int>(out.size()), SG_DIGEST_SHA1),
                0);
            EXPECT_EQ(hex(out), hex(expected)) << record["COUNT"];
            ++checked;
        }
        record.clear();
    };
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#') {
            check();
            continue;
        }
        const size_t eq = line.find(" = ");
        if (eq != std::string::npos) record[line.substr(0, eq)] = line.substr(eq + 3);
    }
    check();
    EXPECT_EQ(checked, 5);
}

TEST_F(PBE, Pbkdf2MatchesOpensslKdf) {
    struct Case {
        const char* digest;
        int id;
        std::string password, saltHex;
        int iterations, dkLen;
    } cases[] = {
        {"SHA1", SG_DIGEST_SHA1, "password", "73616C74", 1, 16},
        {"SHA1", SG_DIGEST_SHA1, "password", "73616C74", 1, 20},
        {"SHA1", SG_DIGEST_SHA1, "password", "73616C74", 2, 32},  // a block and 12 bytes
        {"SHA1", SG_DIGEST_SHA1, "q1w2e3r4!@", "0102030405060708", 2048, 16},
        {"SHA224", SG_DIGEST_SHA224, "q1w2e3r4!@", "0102030405060708", 1000, 20},
        {"SHA256", SG_DIGEST_SHA256, "q1w2e3r4!@", "0102030405060708", 2048, 32},
        {"SHA256", SG_DIGEST_SHA256, "", "", 3, 70},
        {"SHA384", SG_DIGEST_SHA384, std::string(200, 'p'), std::string(400, 'A'), 5, 48},
        {"SHA512", SG_DIGEST_SHA512, "pass", "00FF", 1000, 100},
    };
    for (const Case& c : cases) {
        const std::string expected = opensslKdf(
            "-kdfopt digest:" + std::string(c.digest) + " -kdfopt " + quote("pass:" + c.password) +
                (c.saltHex.empty() ? std::string(" -kdfopt salt:")
                                   : " -kdfopt hexsalt:" + c.saltHex) +
                " -kdfopt iter:" + std::to_string(c.iterations),
            c.dkLen, "PBKDF2");
        const Bytes salt = unhex(c.saltHex);
        Bytes out(static_cast<size_t>(c.dkLen), 0xEE);
        ASSERT_EQ(SGPBKDF2(out.data(), bytes(c.password), length(c.password), salt.data(),
                           static_cast<int>(salt.size()), c.iterations, c.dkLen, c.id),
                  0);
        EXPECT_EQ(hex(out), expected) << c.digest << " " << c.iterations << " " << c.dkLen;
    }
}

// PBKDF1 with SHA-1 (or another hashlib name), one line per request "name password-hex
// salt-hex iterations": T1 = H(P || S), Ti = H(Ti-1); the full digests in hex, one per line. One
// python process for all (it takes a while to start).
std::vector<std::string> hashlibPbkdf1(const std::vector<std::string>& requests) {
    std::string input;
    for (const std::string& r : requests) input += r + "\n";
    testkit::Scratch dir("pbe");
    testkit::writeText(dir / "in", input);
    const std::string out = shell("python3 -c " +
                                  quote("import hashlib,sys\n"
                                        "for line in open(sys.argv[1]):\n"
                                        "  n,p,s,i=line.split()\n"
                                        "  h=lambda b: hashlib.new(n, b).digest()\n"
                                        "  t=h(bytes.fromhex(p[1:])+bytes.fromhex(s[1:]))\n"
                                        "  for _ in range(int(i)-1): t=h(t)\n"
                                        "  print(t.hex().upper())") +
                                  " " + quote((dir / "in").string()));
    std::vector<std::string> lines;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}
// A request line of hashlibPbkdf1 (hex fields carry a leading "x" so that empty ones stay).
std::string pbkdf1Request(const std::string& name, const std::string& password,
                          const std::string& saltHex, int iterations) {
    return name + " x" + hex(Bytes(password.begin(), password.end())) + " x" + saltHex + " " +
           std::to_string(iterations);
}

TEST_F(PBE, Pbkdf1MatchesHashlib) {
    struct Case {
        const char* name;
        int id;
        std::string password, saltHex;
        int iterations;
    } cases[] = {
        {"sha1", SG_DIGEST_SHA1, "q1w2e3r4!@", "0102030405060708", 1},
        {"sha1", SG_DIGEST_SHA1, "q1w2e3r4!@", "0102030405060708", 2},
        {"sha1", SG_DIGEST_SHA1, "q1w2e3r4!@", "A1A2A3A4A5A6A7A8", 2048},
        {"sha1", SG_DIGEST_SHA1, "", "", 1024},
        {"md5", SG_DIGEST_MD5, "password", "73616C74", 1000},
        {"sha256", SG_DIGEST_SHA256, std::string(300, 'x'), std::string(300, 'B'), 7},
    };
    std::vector<std::string> requests;
    for (const Case& c : cases)
        requests.push_back(pbkdf1Request(c.name, c.password, c.saltHex, c.iterations));
    const std::vector<std::string> expected = hashlibPbkdf1(requests);
    ASSERT_EQ(expected.size(), std::size(cases));
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        const Bytes salt = unhex(c.saltHex);
        const int size = SGDigest_GetDigestSize(c.id);
        Bytes out(static_cast<size_t>(size));
        ASSERT_EQ(SGPBKDF1(out.data(), bytes(c.password), length(c.password), salt.data(),
                           static_cast<int>(salt.size()), c.iterations, size, c.id),
                  0);
        EXPECT_EQ(hex(out), expected[i]) << c.name << " " << c.iterations;
    }
}

// The PKCS #12 derivation against openssl's, which takes the password already widened: so the
// widening (00 b1 00 b2 00 b3 00 00) is checked too. Salts and passwords beyond one digest
// block and beyond the sizes of fixed work areas.
TEST_F(PBE, Pkcs12DerivationMatchesOpensslKdf) {
    struct Case {
        int id, n;
        std::string password, saltHex;
        int iterations;
        const char* digest;
        int digestId;
    } cases[] = {
        {SG_PKCS12_ID_KEY, 24, "abc", "0102030405060708", 2048, "SHA1", SG_DIGEST_SHA1},
        {SG_PKCS12_ID_IV, 8, "abc", "0102030405060708", 2048, "SHA1", SG_DIGEST_SHA1},
        {SG_PKCS12_ID_MAC, 20, "abc", "0102030405060708", 2048, "SHA1", SG_DIGEST_SHA1},
        {SG_PKCS12_ID_KEY, 16, "", "0102030405060708", 1, "SHA1", SG_DIGEST_SHA1},
        {SG_PKCS12_ID_KEY, 5, "q1w2e3r4!@", "FEDCBA9876543210", 1024, "SHA1", SG_DIGEST_SHA1},
        {SG_PKCS12_ID_KEY, 45, std::string(100, 'k'), std::string(400, '7'), 3, "SHA1",
         SG_DIGEST_SHA1},
        {SG_PKCS12_ID_KEY, 32, "q1w2e3r4!@", "0102030405060708", 2048, "SHA256", SG_DIGEST_SHA256},
        {SG_PKCS12_ID_IV, 16, "q1w2e3r4!@", "0102030405060708", 10, "SHA512", SG_DIGEST_SHA512},
    };
    for (const Case& c : cases) {
        const std::string expected = opensslKdf(
            "-kdfopt digest:" + std::string(c.digest) +
                " -kdfopt hexpass:" + hex(widened(c.password)) + " -kdfopt hexsalt:" + c.saltHex +
                " -kdfopt iter:" + std::to_string(c.iterations) +
                " -kdfopt id:" + std::to_string(c.id),
            c.n, "PKCS12KDF");
        const Bytes saltBytes = unhex(c.saltHex);
        const SGBinary salt = view(saltBytes);
        const SGBinary password{const_cast<unsigned char*>(bytes(c.password)),
                                static_cast<uint32_t>(c.password.size())};
        SGBinary out{};
        ASSERT_EQ(SGPKCS5_PBE_PKCS12(&out, c.id, &salt, c.iterations, &password, c.n, c.digestId),
                  0);
        EXPECT_EQ(hex(bytesOf(out)), expected) << c.id << " " << c.password.size();
        SGBinary_Cleanse(&out);
    }
}

// Called directly, an iteration count of 0 is one iteration, as 1 is.
TEST_F(PBE, DerivationsTakeZeroIterationsAsOne) {
    const std::string pw = "pw";
    const Bytes salt = unhex("0102030405060708");
    const SGBinary s = view(salt), p{const_cast<unsigned char*>(bytes(pw)), 2};
    Bytes a(20), b(20);
    ASSERT_EQ(SGPBKDF1(a.data(), bytes(pw), 2, salt.data(), 8, 0, 20, SG_DIGEST_SHA1), 0);
    ASSERT_EQ(SGPBKDF1(b.data(), bytes(pw), 2, salt.data(), 8, 1, 20, SG_DIGEST_SHA1), 0);
    EXPECT_EQ(a, b);
    ASSERT_EQ(SGPBKDF2(a.data(), bytes(pw), 2, salt.data(), 8, 0, 20, SG_DIGEST_SHA1), 0);
    ASSERT_EQ(SGPBKDF2(b.data(), bytes(pw), 2, salt.data(), 8, 1, 20, SG_DIGEST_SHA1), 0);
    EXPECT_EQ(a, b);
    SGBinary x{}, y{};
    ASSERT_EQ(SGPKCS5_PBE_PKCS12(&x, 1, &s, 0, &p, 20, SG_DIGEST_SHA1), 0);
    ASSERT_EQ(SGPKCS5_PBE_PKCS12(&y, 1, &s, 1, &p, 20, SG_DIGEST_SHA1), 0);
    EXPECT_EQ(bytesOf(x), bytesOf(y));
    SGBinary_Cleanse(&x);
    SGBinary_Cleanse(&y);
}

TEST_F(PBE, DerivationArgumentsAreChecked) {
    const std::string pw = "pw";
    const Bytes salt = unhex("0102");
    const SGBinary s = view(salt), p{const_cast<unsigned char*>(bytes(pw)), 2};
    const SGBinary nullPassword{nullptr, 3};
    Bytes out(64, 0x5A);
    struct Case {
        const char* name;
        int result, expected;
    } cases[] = {
        {"PBKDF1 dkLen 0", SGPBKDF1(out.data(), bytes(pw), 2, salt.data(), 2, 1, 0, 3), 10009},
        {"PBKDF1 dkLen 21 for SHA-1", SGPBKDF1(out.data(), bytes(pw), 2, salt.data(), 2, 1, 21, 3),
         10009},
        {"PBKDF1 digest 99", SGPBKDF1(out.data(), bytes(pw), 2, salt.data(), 2, 1, 20, 99), 202},
        {"PBKDF1 null output", SGPBKDF1(nullptr, bytes(pw), 2, salt.data(), 2, 1, 20, 3), 10001},
        {"PBKDF2 negative dkLen", SGPBKDF2(out.data(), bytes(pw), 2, salt.data(), 2, 1, -1, 3),
         10001},
        {"PBKDF2 missing password", SGPBKDF2(out.data(), nullptr, 3, salt.data(), 2, 1, 8, 3),
         10001},
        {"PBKDF2 negative salt length",
         SGPBKDF2(out.data(), bytes(pw), 2, salt.data(), -2, 1, 8, 3), 10001},
        {"PBKDF2 digest 99", SGPBKDF2(out.data(), bytes(pw), 2, salt.data(), 2, 1, 8, 99), 202},
        {"PBKDF2 dkLen 0 writes nothing",
         SGPBKDF2(out.data(), bytes(pw), 2, salt.data(), 2, 1, 0, 3), 0},
    };
    for (const Case& c : cases) EXPECT_EQ(c.result, c.expected) << c.name;
    EXPECT_EQ(out, Bytes(64, 0x5A));  // nothing written by any of them
    SGBinary o{};
    for (int id : {0, 4}) EXPECT_EQ(SGPKCS5_PBE_PKCS12(&o, id, &s, 1, &p, 8, 3), 10001) << id;
    EXPECT_EQ(SGPKCS5_PBE_PKCS12(&o, 1, &s, 1, &p, -1, 3), 10001);
    EXPECT_EQ(SGPKCS5_PBE_PKCS12(&o, 1, &s, 1, nullptr, 8, 3), 10001);
    EXPECT_EQ(SGPKCS5_PBE_PKCS12(&o, 1, &s, 1, &nullPassword, 8, 3), 10001);
    EXPECT_EQ(SGPKCS5_PBE_PKCS12(&o, 1, &s, 1, &p, 8, 99), 202);
    EXPECT_EQ(o.data, nullptr);
}

using memhooks::failingCalloc;
using memhooks::failingMalloc;
using memhooks::failingRealloc;
using memhooks::gAllocationsLeft;

TEST_F(PBE, Pkcs12DerivationWithoutMemoryReturns10002) {
    const Bytes salt = unhex("0102030405060708");
    const SGBinary s = view(salt), p{const_cast<unsigned char*>(bytes("pw")), 2};
    SGBinary out{};
    {
        gAllocationsLeft = 0;
        AllocationHook hook(reinterpret_cast<void*>(&failingMalloc),
                            reinterpret_cast<void*>(&failingCalloc),
                            reinterpret_cast<void*>(&failingRealloc), nullptr);
        EXPECT_EQ(SGPKCS5_PBE_PKCS12(&out, 1, &s, 2048, &p, 24, SG_DIGEST_SHA1), 10002);
        gAllocationsLeft = 1;  // the result, but not the work area
        EXPECT_EQ(SGPKCS5_PBE_PKCS12(&out, 1, &s, 2048, &p, 24, SG_DIGEST_SHA1), 10002);
    }
    EXPECT_EQ(out.data, nullptr);
    EXPECT_EQ(out.length, 0u);
}

// Every allocation the operations make, failed in turn: a failure code (never 0 with nothing
// produced), and the sanitizers see no leak.
TEST_F(PBE, EveryAllocationFailureIsReported) {
    const Bytes plain = materialFile("seed-cbc/plain.der");
    ASSERT_FALSE(plain.empty());
    Epki prepared;
    ASSERT_EQ(encrypt(prepared, plain, kPassword, SG_PBE_PBES2, 10, SG_CIPHER_SEED), 0);
    struct Operation {
        const char* name;
        std::function<int()> run;
    } operations[] = {
        {"encrypt PBES2",
         [&] {
             Epki out;
             return encrypt(out, plain, kPassword, SG_PBE_PBES2, 10, SG_CIPHER_ARIA128);
         }},
        {"encrypt PKCS #12 type",
         [&] {
             Epki out;
             return encrypt(out, plain, kPassword, SG_PBE_SHA_3DES, 10);
         }},
        {"decrypt PBES2",
         [&] {
             Bytes out(plain.size() + 16, 0x11);
             int n = -1;
             const int r = SGPKCS5Decrypt(out.data(), &n, &prepared.record, bytes(kPassword),
                                          length(kPassword));
             if (r != 0) {
                 EXPECT_EQ(n, -1);
             }
             return r;
         }},
    };
    for (const Operation& op : operations) {
        int failures = 0;
        for (int allowed = 0;; ++allowed) {
            int r;
            {
                gAllocationsLeft = allowed;
                AllocationHook hook(reinterpret_cast<void*>(&failingMalloc),
                                    reinterpret_cast<void*>(&failingCalloc),
                                    reinterpret_cast<void*>(&failingRealloc), nullptr);
                r = op.run();
            }
            if (gAllocationsLeft >= 0) {  // nothing was refused
                EXPECT_EQ(r, 0) << op.name;
                break;
            }
            EXPECT_NE(r, 0) << op.name << " with " << allowed << " allocations";
            ++failures;
            ASSERT_LT(allowed, 500) << op.name;
        }
        EXPECT_GT(failures, 2) << op.name;
    }
}

// ---------------------------------------------------------------------------------------------
// The PBE types

// The salt and iteration count of a PBEParameter, as openssl reads it.
struct PbeParameter {
    std::string saltHex;
    int iterations = 0;
};
PbeParameter pbeParameterOf(const Bytes& der) {
    PbeParameter p;
    for (const Asn1Line& l : asn1Lines(der)) {
        if (l.type == "OCTET STRING") p.saltHex = l.value;
        if (l.type == "INTEGER") p.iterations = std::stoi(l.value, nullptr, 16);
    }
    return p;
}

// Key and IV of the KISA types from the PBKDF1-SHA-1 output (20 bytes) hashlib derived: key =
// DK[0, 16); IV = the profile's digits (type 1) or SHA-1(DK[16, 20)) cut to 16 (type 2).
std::pair<std::string, std::string> kisaKeyAndIv(int type, const std::string& dkHex) {
    const Bytes dk = unhex(dkHex);
    std::string iv = hex(bytesOf(std::string("0123456789012345")));
    if (type == SG_PBE_KISA_SHA1_SEED_CBC) {
        Bytes h(20);
        EXPECT_EQ(SGDigest(h.data(), SG_DIGEST_SHA1, dk.data() + 16, 4), 0);
        iv = hex(Bytes(h.begin(), h.begin() + 16));
    }
    return {dkHex.substr(0, 32), iv};
}

// openssl enc with an explicit key and IV, either way.
Bytes opensslEnc(bool decrypt, const std::string& cipher, const std::string& keyIv,
                 const Bytes& in) {
    testkit::Scratch dir("pbe");
    testkit::writeBytes(dir / "in", in);
    if (!testkit::succeeds("cd " + quote(dir.str()) + " && openssl enc " + (decrypt ? "-d " : "") +
                           "-" + cipher + " " + keyIv +
                           " -in in -out out -provider legacy -provider default"))
        return {};
    return testkit::readBytes(dir / "out");
}

// Our EncryptedPrivateKeyInfo with the PBES2 scheme identifier replaced (the parameters are
// re-encoded around it), for openssl, which knows ARIA-128-CBC by another identifier.
Bytes withScheme(const Bytes& epki, const std::string& dotted) {
    Epki in;
    const SGBinary der = view(epki);
    EXPECT_EQ(SGPKCS8EncryptedPrivateKeyInfo_Decode(&in.record, &der), 0);
    Bytes p = in.parameters();
    const Bytes ours = der::oid("1.2.410.100001.1.20");
    const auto at = std::search(p.begin(), p.end(), ours.begin(), ours.end());
    EXPECT_NE(at, p.end());
    // PBES2-params { kdf, SEQUENCE { oid, OCTET STRING iv } }: rebuild the last SEQUENCE.
    const Bytes iv(at + static_cast<long>(ours.size()), p.end());
    const Bytes kdf(p.begin() + 2, at - 2);
    const Bytes params = der::seq({kdf, der::seq({der::oid(dotted), iv})});
    SGBinary replaced = view(params);
    SGBinary* saved = in.record.parameters;
    in.record.parameters = &replaced;
    const Bytes out = in.encode();
    in.record.parameters = saved;
    return out;
}

// Every type both ways. Types openssl knows: our files opened by openssl pkcs8, openssl's by
// us. The KISA types, which it does not: ours decrypted by openssl enc under the key and IV that
// hashlib's PBKDF1 gives for our salt, and openssl enc's ciphertext under a salt of ours opened.
TEST_F(PBE, EveryTypeBothWays) {
    const Bytes plain = materialFile("seed-cbc/plain.der");
    ASSERT_FALSE(plain.empty());
    struct Case {
        const char* name;
        int type, cipherId;
        const char* opensslFile;  // made by openssl under the same scheme; null: a KISA type
        int expected;             // of both directions
    } cases[] = {
        {"KISA SEED-CBC", SG_PBE_KISA_SEED_CBC, 0, nullptr, 0},
        {"KISA SHA-1 SEED-CBC", SG_PBE_KISA_SHA1_SEED_CBC, 0, nullptr, 0},
        {"PBES2 SEED-CBC", SG_PBE_PBES2, SG_CIPHER_SEED, "seed-cbc/key.der", 0},
        {"PBES2 ARIA-128-CBC", SG_PBE_PBES2, SG_CIPHER_ARIA128, "gpki/key.der", 0},
        {"PBES2 AES, cipher 0", SG_PBE_PBES2, SG_CIPHER_AES128, "aes-128-cbc/key.der", 0},
        {"PBES2 AES, cipher 2 (AES-128)", SG_PBE_PBES2, SG_CIPHER_AES256, "aes-256-cbc/key.der", 0},
        {"SHA-1 RC4-128", SG_PBE_SHA_RC4_128, 0, "sha1-rc4-128/key.der", 0},
        {"SHA-1 RC4-40", SG_PBE_SHA_RC4_40, 0, "sha1-rc4-40/key.der", SG_CIPHER_ERR_KEY_TOO_SHORT},
        {"SHA-1 3DES", SG_PBE_SHA_3DES, 0, "sha1-3des/key.der", 0},
        {"SHA-1 2DES", SG_PBE_SHA_2DES, 0, "sha1-2des/key.der", 0},
        {"SHA-1 RC2-128", SG_PBE_SHA_RC2_128, 0, "sha1-rc2-128/key.der", 0},
        {"SHA-1 RC2-40", SG_PBE_SHA_RC2_40, 0, "sha1-rc2-40/key.der", 0},
    };
    // The KISA rows' files, checked after one hashlib run for all of them.
    const std::string theirSalt = "0011223344556677";
    struct Kisa {
        int type;
        Bytes ours;
    };
    std::vector<Kisa> kisa;
    std::vector<std::string> requests;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Epki ours;
        ASSERT_EQ(encrypt(ours, plain, kPassword, c.type, 2048, c.cipherId), c.expected);
        if (c.expected == 0) {
            EXPECT_EQ(ours.record.algorithm, c.type);
            Bytes back;
            ASSERT_EQ(decrypt(&back, ours.record, kPassword), 0);
            EXPECT_EQ(back, plain);
        }
        if (!c.opensslFile) {
            const PbeParameter p = pbeParameterOf(ours.parameters());
            EXPECT_EQ(p.iterations, 2048);
            requests.push_back(pbkdf1Request("sha1", kPassword, p.saltHex, p.iterations));
            requests.push_back(pbkdf1Request("sha1", kPassword, theirSalt, 1000));
            kisa.push_back({c.type, bytesOf(ours.record.encryptedData)});
            continue;
        }
        if (c.expected == 0) {
            Bytes file = ours.encode();
            if (c.cipherId == SG_CIPHER_ARIA128) file = withScheme(file, "1.2.410.200046.1.1.2");
            EXPECT_EQ(opensslDecrypt(file, kPassword), plain);
        }
        Bytes opened;
        EXPECT_EQ(openKeyFile(&opened, materialFile(c.opensslFile), kPassword), c.expected);
        if (c.expected == 0) {
            EXPECT_EQ(opened, plain);
        }
    }
    const std::vector<std::string> dk = hashlibPbkdf1(requests);
    ASSERT_EQ(dk.size(), 2 * kisa.size());
    for (size_t i = 0; i < kisa.size(); ++i) {
        SCOPED_TRACE(kisa[i].type);
        const auto [key, iv] = kisaKeyAndIv(kisa[i].type, dk[2 * i]);
        EXPECT_EQ(opensslEnc(true, "seed-cbc", "-K " + key + " -iv " + iv, kisa[i].ours), plain);
        const auto [theirKey, theirIv] = kisaKeyAndIv(kisa[i].type, dk[2 * i + 1]);
        const Bytes encrypted =
            opensslEnc(false, "seed-cbc", "-K " + theirKey + " -iv " + theirIv, plain);
        ASSERT_FALSE(encrypted.empty());
        Bytes params(64);
        unsigned n = static_cast<unsigned>(params.size());
        const Bytes salt = unhex(theirSalt);
        const SGBinary s = view(salt);
        ASSERT_EQ(SGPKCS5_SetPBES1PARAM(params.data(), &n, &s, 1000), 0);
        params.resize(n);
        SGBinary parameters = view(params);
        const SGPKCS8EncryptedPrivateKeyInfo in{kisa[i].type, &parameters, view(encrypted)};
        Bytes opened;
        ASSERT_EQ(decrypt(&opened, in, kPassword), 0);
        EXPECT_EQ(opened, plain);
    }
}

// Key files openssl writes under the PBES2 schemes and PRFs: opened, or refused with the code.
TEST_F(PBE, OpensslPbes2FilesOpenUnderThePrfTheyName) {
    const Bytes plain = materialFile("seed-cbc/plain.der");
    struct Case {
        const char* file;
        int expected;
    } cases[] = {
        {"aes-128-sha1/key.der", 0}, {"aes-128-sha224/key.der", 0},   {"aes-128-cbc/key.der", 0},
        {"aes-192-cbc/key.der", 0},  {"aes-256-sha384/key.der", 0},   {"aes-256-sha512/key.der", 0},
        {"des3/key.der", 10011},     {"aria-openssl/key.der", 10011},
    };
    for (const Case& c : cases) {
        Bytes opened;
        EXPECT_EQ(openKeyFile(&opened, materialFile(c.file), kPassword), c.expected) << c.file;
        if (c.expected == 0) {
            EXPECT_EQ(opened, plain) << c.file;
        }
    }
    // The published files: PBES2 with AES-128 and HMAC-SHA-256, and PKCS #12 triple DES.
    const std::string vectors = kVectors + "/asymmetric/PKCS8/";
    for (auto [name, password] : {std::pair{"enc2-rsa-pkcs8.pem", "baz"},
                                  std::pair{"pkcs12_s2k_pem-X_9607.pem", "123456"}}) {
        const Bytes der = pemFile(vectors + name);
        Bytes opened;
        ASSERT_EQ(openKeyFile(&opened, der, password), 0) << name;
        EXPECT_EQ(opened, opensslDecrypt(der, password)) << name;
        EXPECT_EQ(openKeyFile(&opened, der, "a"), 410) << name;
    }
}

// The token's key-file profile, field by field as openssl asn1parse reads it, and the default.
TEST_F(PBE, TokenProfileAsOpensslReadsIt) {
    const Bytes data = bytesOf(std::string("a PrivateKeyInfo stands here"));
    for (int cipher : {SG_CIPHER_SEED, SG_CIPHER_ARIA128}) {
        SCOPED_TRACE(cipher);
        Epki out;
        ASSERT_EQ(encrypt(out, data, "new password", SG_PBE_PBES2, 2048, cipher), 0);
        EXPECT_EQ(out.record.algorithm, SG_PBE_PBES2);
        const std::vector<Asn1Line> lines = asn1Lines(out.parameters());
        std::vector<std::string> shape;
        for (const Asn1Line& l : lines) {
            std::string item = std::to_string(l.depth) + " " + l.type;
            if (l.type == "OBJECT" || l.type == "INTEGER") item += " " + l.value;
            if (l.type == "OCTET STRING") item += " " + std::to_string(l.value.size() / 2);
            shape.push_back(item);
        }
        std::vector<std::string> expected = {"0 SEQUENCE", "1 SEQUENCE",       "2 OBJECT PBKDF2",
                                             "2 SEQUENCE", "3 OCTET STRING 8", "3 INTEGER 0800"};
        if (cipher == SG_CIPHER_ARIA128) expected.push_back("3 INTEGER 10");  // keyLength 16
        expected.push_back("1 SEQUENCE");
        expected.push_back(cipher == SG_CIPHER_SEED ? "2 OBJECT seed-cbc"
                                                    : "2 OBJECT 1.2.410.100001.1.20");
        expected.push_back("2 OCTET STRING 16");
        EXPECT_EQ(shape, expected);  // no PRF written
        Bytes back;
        ASSERT_EQ(decrypt(&back, out.record, "new password"), 0);
        EXPECT_EQ(back, data);
    }
    // Without a parameter record: KISA SEED-CBC, 1024 iterations, an 8-byte salt.
    Epki out;
    ASSERT_EQ(SGPKCS5Encrypt(&out.record, data.data(), static_cast<int>(data.size()), bytes("pw"),
                             2, nullptr),
              0);
    EXPECT_EQ(out.record.algorithm, SG_PBE_KISA_SEED_CBC);
    const PbeParameter p = pbeParameterOf(out.parameters());
    EXPECT_EQ(p.iterations, 1024);
    EXPECT_EQ(p.saltHex.size(), 16u);
    EXPECT_EQ(asn1Lines(out.parameters()).size(), 3u);  // SEQUENCE { OCTET STRING, INTEGER }
}

// A key file of fixed bytes: the parameters of the type over a fixed salt (and IV), the data
// encrypted under the key and IV those parameters give with the password.
Bytes fixedParameters(int type, int cipherId) {
    const Bytes salt = unhex("0807060504030201"), iv = unhex("000102030405060708090A0B0C0D0E0F");
    const SGBinary s = view(salt), v = view(iv);
    Bytes out(256);
    unsigned n = static_cast<unsigned>(out.size());
    const int r = type == SG_PBE_PBES2
                      ? SGPKCS5_SetPBES2PARAM(out.data(), &n, 16, &s, &v, 2048, cipherId)
                      : SGPKCS5_SetPBES1PARAM(out.data(), &n, &s, 2048);
    EXPECT_EQ(r, 0);
    out.resize(n);
    return out;
}

Bytes fixedCiphertext(int type, const Bytes& parameters, const std::string& password,
                      const Bytes& data) {
    SGPKCS5PBESParam p{};
    const SGBinary params = view(parameters);
    const int r =
        type == SG_PBE_PBES2 ? SGPKCS5_GetPBES2Param(&p, bytes(password), length(password), &params)
        : type <= SG_PBE_KISA_SHA1_SEED_CBC
            ? SGPKCS5_GetPBES1Param(&p, bytes(password), length(password), &params, type)
            : SGPKCS5_GetPKCS12PBEParam(&p, bytes(password), length(password), &params, type);
    EXPECT_EQ(r, 0);
    SGCipherParameter cp{};
    cp.mode = SG_CIPHER_MODE_CBC;
    cp.padding = SG_CIPHER_PADDING_PKCS7;
    cp.ivLength = static_cast<int>(p.iv.length);
    std::memcpy(cp.iv, p.iv.data, p.iv.length);
    cp.rc2EffectiveBits = static_cast<int>(p.key.length * 8);
    Bytes out(data.size() + 16);
    uint32_t n = 0;
    EXPECT_EQ(SGCipher_Encrypt(out.data(), &n, data.data(), static_cast<uint32_t>(data.size()),
                               p.key.data, p.key.length, p.cipherId, &cp),
              0);
    out.resize(n);
    SGPKCS5PBESParam_Clear(&p);
    return out;
}

TEST_F(PBE, WrongPasswordGives410AndLeavesTheOutputAlone) {
    const Bytes data = bytesOf(std::string("secret key material, 37 bytes long."));
    struct Case {
        int type, cipherId;
    } cases[] = {{SG_PBE_KISA_SEED_CBC, 0},
                 {SG_PBE_KISA_SHA1_SEED_CBC, 0},
                 {SG_PBE_PBES2, SG_CIPHER_SEED},
                 {SG_PBE_PBES2, SG_CIPHER_ARIA128},
                 {SG_PBE_PBES2, SG_CIPHER_AES128},
                 {SG_PBE_SHA_3DES, 0},
                 {SG_PBE_SHA_2DES, 0},
                 {SG_PBE_SHA_RC2_128, 0},
                 {SG_PBE_SHA_RC2_40, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.type * 100 + c.cipherId);
        const Bytes params = fixedParameters(c.type, c.cipherId);
        const Bytes encrypted = fixedCiphertext(c.type, params, "right password", data);
        SGBinary parameters = view(params);
        const SGPKCS8EncryptedPrivateKeyInfo in{c.type, &parameters, view(encrypted)};
        Bytes out(encrypted.size(), 0xA5);
        int n = -7;
        EXPECT_EQ(SGPKCS5Decrypt(out.data(), &n, &in, bytes("wrong password"), 14), 410);
        EXPECT_EQ(out, Bytes(encrypted.size(), 0xA5));
        EXPECT_EQ(n, -7);
        ASSERT_EQ(SGPKCS5Decrypt(out.data(), &n, &in, bytes("right password"), 14), 0);
        EXPECT_EQ(Bytes(out.begin(), out.begin() + n), data);
    }
}

// Parameters a file may carry, and what they get: the PRF named, never a wrong key reported as
// success.
TEST_F(PBE, ParameterFaultsAreRefused) {
    using namespace der;
    const Bytes salt = octets(unhex("0102030405060708"));
    const Bytes iv16 = octets(unhex("000102030405060708090A0B0C0D0E0F"));
    const std::string pbkdf2 = "1.2.840.113549.1.5.12", aes128 = "2.16.840.1.101.3.4.1.2";
    auto pbes2 = [&](const Bytes& kdfParams, const std::string& scheme, const Bytes& iv) {
        return seq({algorithm(pbkdf2, kdfParams), algorithm(scheme, iv)});
    };
    auto kdf = [&](std::initializer_list<Bytes> rest) {
        Bytes content = salt;
        for (const Bytes& b : rest) content.insert(content.end(), b.begin(), b.end());
        return tlv(0x30, content);
    };
    const Bytes it = integer(2048);
    struct Case {
        const char* name;
        Bytes der;
        int expected, keyLength;
    } cases[] = {
        {"plain", pbes2(kdf({it}), aes128, iv16), 0, 16},
        {"AES-256 scheme", pbes2(kdf({it}), "2.16.840.1.101.3.4.1.42", iv16), 0, 32},
        {"keyLength equal to the scheme's", pbes2(kdf({it, integer(16)}), aes128, iv16), 0, 16},
        {"ARIA with keyLength 16", pbes2(kdf({it, integer(16)}), "1.2.410.100001.1.20", iv16), 0,
         16},
        {"PRF HMAC-SHA-512",
         pbes2(kdf({it, algorithm("1.2.840.113549.2.11", null())}), aes128, iv16), 0, 16},
        {"PRF HMAC-MD5", pbes2(kdf({it, algorithm("1.2.840.113549.2.6", null())}), aes128, iv16),
         10003, 0},
        {"PRF SHA-256 (no HMAC)",
         pbes2(kdf({it, algorithm("2.16.840.1.101.3.4.2.1")}), aes128, iv16), 10003, 0},
        {"keyLength 32 under AES-128", pbes2(kdf({it, integer(32)}), aes128, iv16), 20904, 0},
        {"keyLength 0", pbes2(kdf({it, integer(0)}), aes128, iv16), 20904, 0},
        {"keyLength 2^32 + 16", pbes2(kdf({it, integer(0x100000010LL)}), aes128, iv16), 20904, 0},
        {"otherSource salt", pbes2(seq({algorithm("1.2.3.4"), it}), aes128, iv16), 10011, 0},
        {"iterations 0", pbes2(kdf({integer(0)}), aes128, iv16), 20904, 0},
        {"iterations -1", pbes2(kdf({integer(-1)}), aes128, iv16), 20904, 0},
        {"iterations 2^31", pbes2(kdf({integer(0x80000000LL)}), aes128, iv16), 20904, 0},
        {"iterations 2^32 + 2048", pbes2(kdf({integer(0x100000800LL)}), aes128, iv16), 20904, 0},
        {"iterations of 9 bytes",
         pbes2(kdf({integerBytes(unhex("010000000000000800"))}), aes128, iv16), 20904, 0},
        // A ceiling far above real files, so a hostile file cannot hold the caller for minutes.
        {"iterations 1,000,000", pbes2(kdf({integer(1000000)}), aes128, iv16), 0, 16},
        {"iterations 1,000,001", pbes2(kdf({integer(1000001)}), aes128, iv16), 20904, 0},
        {"key derivation PBES2",
         seq({algorithm("1.2.840.113549.1.5.13", kdf({it})), algorithm(aes128, iv16)}), 10003, 0},
        {"key derivation without parameters", seq({algorithm(pbkdf2), algorithm(aes128, iv16)}),
         20904, 0},
        {"scheme 1.2.410.200004.1.15", pbes2(kdf({it}), "1.2.410.200004.1.15", iv16), 10011, 0},
        {"scheme DES-EDE3-CBC", pbes2(kdf({it}), "1.2.840.113549.3.7", octets(Bytes(8))), 10011, 0},
        {"IV of 8 bytes", pbes2(kdf({it}), aes128, octets(Bytes(8))), 20904, 0},
        {"IV of 17 bytes", pbes2(kdf({it}), aes128, octets(Bytes(17))), 20904, 0},
        {"IV absent", pbes2(kdf({it}), aes128, {}), 20904, 0},
        {"IV not an OCTET STRING", pbes2(kdf({it}), aes128, integer(5)), 20902, 0},
        {"not DER", Bytes{0x30, 0x80, 0x01}, 20902, 0},
    };
    for (const Case& c : cases) {
        SGPKCS5PBESParam out{};
        const SGBinary der = view(c.der);
        EXPECT_EQ(SGPKCS5_GetPBES2Param(&out, bytes("pw"), 2, &der), c.expected) << c.name;
        EXPECT_EQ(static_cast<int>(out.key.length), c.keyLength) << c.name;
        if (c.expected == 0) {
            EXPECT_EQ(out.iv.length, 16u) << c.name;
        }
        SGPKCS5PBESParam_Clear(&out);
    }
    // The PRF decides the key: HMAC-SHA-512 as openssl kdf derives it.
    SGPKCS5PBESParam out{};
    const Bytes sha512 = pbes2(kdf({it, algorithm("1.2.840.113549.2.11", null())}), aes128, iv16);
    const SGBinary der = view(sha512);
    ASSERT_EQ(SGPKCS5_GetPBES2Param(&out, bytes("pw"), 2, &der), 0);
    EXPECT_EQ(hex(bytesOf(out.key)),
              opensslKdf("-kdfopt digest:SHA512 -kdfopt pass:pw -kdfopt hexsalt:0102030405060708 "
                         "-kdfopt iter:2048",
                         16, "PBKDF2"));
    EXPECT_EQ(out.digestId, SG_DIGEST_SHA512);
    SGPKCS5PBESParam_Clear(&out);

    // PBEParameter of the other types.
    const struct {
        const char* name;
        Bytes der;
        int expected;
    } pbe[] = {
        {"iterations 0", seq({salt, integer(0)}), 20904},
        {"iterations 2^32 + 5", seq({salt, integer(0x100000005LL)}), 20904},
        {"iterations 1,000,001", seq({salt, integer(1000001)}), 20904},
        {"no salt", seq({integer(5)}), 20902},
        {"empty", {}, 10001},
    };
    for (const auto& c : pbe) {
        const SGBinary d = view(c.der);
        const SGBinary* p = c.der.empty() ? nullptr : &d;
        SGPKCS5PBESParam o{};
        EXPECT_EQ(SGPKCS5_GetPBES1Param(&o, bytes("pw"), 2, p, 2), c.expected) << c.name;
        EXPECT_EQ(SGPKCS5_GetPKCS12PBEParam(&o, bytes("pw"), 2, p, 6), c.expected) << c.name;
        EXPECT_EQ(o.key.data, nullptr) << c.name;
    }
    // Types that are not theirs, and a file without parameters.
    SGPKCS5PBESParam o{};
    const Bytes good = seq({salt, integer(1)});
    const SGBinary g = view(good);
    EXPECT_EQ(SGPKCS5_GetPBES1Param(&o, bytes("pw"), 2, &g, 3), 10003);
    EXPECT_EQ(SGPKCS5_GetPKCS12PBEParam(&o, bytes("pw"), 2, &g, 3), 10003);
    const SGPKCS8EncryptedPrivateKeyInfo noParameters{SG_PBE_SHA_3DES, nullptr, view(good)};
    Bytes plain;
    EXPECT_EQ(decrypt(&plain, noParameters, "pw"), 20904);
    const SGPKCS8EncryptedPrivateKeyInfo unknown{10, nullptr, view(good)};
    EXPECT_EQ(decrypt(&plain, unknown, "pw"), 10003);
    // Files over the iteration ceiling are refused before any derivation.
    const Bytes overPbe = seq({salt, integer(1000001)});
    SGBinary overPbeDer = view(overPbe);
    const Bytes overPbes2 = pbes2(kdf({integer(1000001)}), aes128, iv16);
    SGBinary overPbes2Der = view(overPbes2);
    for (const auto& over :
         {SGPKCS8EncryptedPrivateKeyInfo{SG_PBE_SHA_3DES, &overPbeDer, view(good)},
          SGPKCS8EncryptedPrivateKeyInfo{SG_PBE_PBES2, &overPbes2Der, view(iv16)}})
        EXPECT_EQ(decrypt(&plain, over, "pw"), 20904) << over.algorithm;
}

// The caller's record is read: never changed, none of its buffers released or taken over (they
// are on the stack here, which the sanitizer would report), and its IV is used by PBES2.
TEST_F(PBE, CallerRecordIsReadNotChangedOrReleased) {
    unsigned char key[16] = {1}, salt[8] = {2}, iv[16];
    for (int i = 0; i < 16; ++i) iv[i] = static_cast<unsigned char>(0xC0 + i);
    const Bytes data = bytesOf(std::string("data"));
    for (int type :
         {SG_PBE_KISA_SEED_CBC, SG_PBE_KISA_SHA1_SEED_CBC, SG_PBE_PBES2, SG_PBE_SHA_3DES}) {
        SCOPED_TRACE(type);
        SGPKCS5PBESParam p{};
        p.key = {key, sizeof key};
        p.salt = {salt, sizeof salt};
        p.iv = {iv, sizeof iv};
        p.pbeType = type;
        p.iterations = -5;  // the default count
        p.cipherId = SG_CIPHER_SEED;
        const SGPKCS5PBESParam before = p;
        Epki out;
        ASSERT_EQ(SGPKCS5Encrypt(&out.record, data.data(), 4, bytes("pw"), 2, &p), 0);
        EXPECT_EQ(std::memcmp(&p, &before, sizeof p), 0);
        EXPECT_EQ(iv[0], 0xC0);
        SGPKCS5PBESParam opened{};
        const int r =
            type == SG_PBE_PBES2
                ? SGPKCS5_GetPBES2Param(&opened, bytes("pw"), 2, out.record.parameters)
            : type == SG_PBE_SHA_3DES
                ? SGPKCS5_GetPKCS12PBEParam(&opened, bytes("pw"), 2, out.record.parameters, type)
                : SGPKCS5_GetPBES1Param(&opened, bytes("pw"), 2, out.record.parameters, type);
        ASSERT_EQ(r, 0);
        EXPECT_EQ(opened.iterations, 1024);
        if (type == SG_PBE_PBES2)
            EXPECT_EQ(bytesOf(opened.iv), Bytes(iv, iv + 16));
        else
            EXPECT_NE(bytesOf(opened.iv), Bytes(iv, iv + opened.iv.length));
        SGPKCS5PBESParam_Clear(&opened);
    }
}

// No fixed work areas: data of 10,000 bytes, a 300-byte password; openssl reads them too.
TEST_F(PBE, LongDataAndPasswords) {
    Bytes data(10000);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<unsigned char>(i * 7 + 3);
    std::string password;
    for (int i = 0; i < 300; ++i) password += static_cast<char>('a' + i % 26);
    for (int type :
         {SG_PBE_KISA_SHA1_SEED_CBC, SG_PBE_PBES2, SG_PBE_SHA_3DES, SG_PBE_SHA_RC4_128}) {
        SCOPED_TRACE(type);
        Epki out;
        ASSERT_EQ(encrypt(out, data, password, type, 100, SG_CIPHER_SEED), 0);
        Bytes back;
        ASSERT_EQ(decrypt(&back, out.record, password), 0);
        EXPECT_EQ(back, data);
    }
    const Bytes plain = materialFile("seed-cbc/plain.der");
    for (int type : {SG_PBE_SHA_3DES, SG_PBE_SHA_RC4_128}) {
        Epki out;
        ASSERT_EQ(encrypt(out, plain, password, type, 100), 0);
        EXPECT_EQ(opensslDecrypt(out.encode(), password), plain) << type;
        // RC4 runs as a stream: the ciphertext is as long as the data.
        if (type == SG_PBE_SHA_RC4_128) {
            EXPECT_EQ(out.record.encryptedData.length, plain.size());
        }
    }
}

TEST_F(PBE, ParameterWritersRefuseSmallBuffers) {
    const Bytes salt = unhex("0102030405060708"), iv = Bytes(16, 0x11);
    const SGBinary s = view(salt), v = view(iv), shortIv{const_cast<unsigned char*>(iv.data()), 8};
    const Bytes pbe = der::seq({der::octets(salt), der::integer(2048)});
    const Bytes pbes2 = der::seq(
        {der::algorithm("1.2.840.113549.1.5.12",
                        der::seq({der::octets(salt), der::integer(2048), der::integer(16)})),
         der::algorithm("1.2.410.100001.1.20", der::octets(iv))});
    struct Case {
        const char* name;
        std::function<int(unsigned char*, unsigned*)> write;
        Bytes expected;
    } cases[] = {
        {"PBEParameter",
         [&](unsigned char* o, unsigned* n) { return SGPKCS5_SetPBES1PARAM(o, n, &s, 2048); }, pbe},
        {"PKCS #12 PBEParameter",
         [&](unsigned char* o, unsigned* n) {
             return SGPKCS5_SetPKCS12PBESParam(o, n, &s, &v, 2048);
         },
         pbe},
        {"PBES2-params for ARIA",
         [&](unsigned char* o, unsigned* n) {
             return SGPKCS5_SetPBES2PARAM(o, n, 16, &s, &v, 2048, SG_CIPHER_ARIA128);
         },
         pbes2},
    };
    for (const Case& c : cases) {
        unsigned n = 0;
        ASSERT_EQ(c.write(nullptr, &n), 0) << c.name;
        EXPECT_EQ(n, c.expected.size()) << c.name;
        Bytes out(c.expected.size() + 4, 0x77);
        n = static_cast<unsigned>(c.expected.size() - 1);
        EXPECT_EQ(c.write(out.data(), &n), 10009) << c.name;
        EXPECT_EQ(out, Bytes(c.expected.size() + 4, 0x77)) << c.name;
        EXPECT_EQ(n, c.expected.size() - 1) << c.name;
        n = static_cast<unsigned>(out.size());
        ASSERT_EQ(c.write(out.data(), &n), 0) << c.name;
        EXPECT_EQ(Bytes(out.begin(), out.begin() + n), c.expected) << c.name;
    }
    unsigned n = 100;
    Bytes out(100);
    EXPECT_EQ(SGPKCS5_SetPBES2PARAM(out.data(), &n, 16, &s, &v, 2048, SG_CIPHER_DES), 10003);
    EXPECT_EQ(SGPKCS5_SetPBES2PARAM(out.data(), &n, 16, &s, &shortIv, 2048, SG_CIPHER_SEED), 10009);
    EXPECT_EQ(SGPKCS5_SetPBES2PARAM(out.data(), &n, 16, &s, &v, 0, SG_CIPHER_SEED), 10009);
    EXPECT_EQ(SGPKCS5_SetPBES1PARAM(out.data(), &n, &s, -1), 10009);
}

TEST_F(PBE, InitParamAppliesTheDefaults) {
    const SGBinary pw{const_cast<unsigned char*>(bytes("pw")), 2};
    SGPKCS5PBESParam p{};
    ASSERT_EQ(SGPKCS5_InitParam(&p, &pw), 0);
    EXPECT_EQ(p.pbeType, SG_PBE_KISA_SEED_CBC);
    EXPECT_EQ(p.iterations, 1024);
    EXPECT_EQ(p.digestId, SG_DIGEST_SHA1);
    EXPECT_EQ(p.cipherId, SG_CIPHER_SEED);
    EXPECT_EQ(p.mode, SG_CIPHER_MODE_CBC);
    EXPECT_EQ(p.padding, SG_CIPHER_PADDING_PKCS7);
    EXPECT_EQ(p.salt.length, 8u);
    EXPECT_EQ(p.key.length, 16u);
    EXPECT_EQ(std::string(p.iv.data, p.iv.data + p.iv.length), "0123456789012345");
    SGPKCS5PBESParam_Clear(&p);
    struct Case {
        int type, cipherId, expected;
        unsigned keyLength;
    } cases[] = {{SG_PBE_PBES2, SG_CIPHER_ARIA128, 0, 16},
                 {SG_PBE_PBES2, SG_CIPHER_RC2, 10003, 0},
                 {SG_PBE_SHA_3DES, 0, 0, 24},
                 {SG_PBE_SHA_RC2_40, 0, 0, 5},
                 {10, 0, 10003, 0}};
    for (const Case& c : cases) {
        SGPKCS5PBESParam q{};
        q.pbeType = c.type;
        q.cipherId = c.cipherId;
        EXPECT_EQ(SGPKCS5_InitParam(&q, &pw), c.expected) << c.type;
        EXPECT_EQ(q.key.length, c.keyLength) << c.type;
        SGPKCS5PBESParam_Clear(&q);
    }
    SGPKCS5PBESParam q{};
    q.pbeType = SG_PBE_PBES2;
    q.cipherId = SG_CIPHER_SEED;
    EXPECT_EQ(SGPKCS5_InitParam_PBES2(&q, &pw), 10009);  // no default count here
    EXPECT_EQ(SGPKCS5_InitParam_PKCS12(&q, &pw), 10003);
}

}  // namespace
