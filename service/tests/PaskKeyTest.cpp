// The key agreement and the records against the golden transcript that make_golden.sh made with
// the openssl command line alone (R = 00..0F, S = F0..FF, ARIA-128-CBC, SHA-256): the request,
// the KDF and every record byte for byte, the server recovering R from openssl's response, the
// client recovering S from openssl's 0xE3 body. Then every accepted cipher and digest checked by
// openssl, the refusals of each step, the record faults, and the secrets wiped.
#include <gtest/gtest.h>

#include <algorithm>

#include "ChannelTestUtil.h"
#include "DerBuilder.h"
#include "MemoryHooks.h"
#include "SGDigest.h"
#include "SGServiceTable.h"

namespace {

using namespace channeltest;

class PaskKey : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { ASSERT_EQ(SGServiceWrapper_GetList(Service), 0); }
};

std::string recordName(const char* side, int sequence) {
    return std::string(side) + "-" + std::to_string(sequence) + ".der";
}
Bytes plainOf(int sequence) {
    return golden("plain-" + std::to_string(sequence == 128 ? 16 : kGoldenSizes[sequence]) +
                  ".bin");
}
const int kGoldenSequences[] = {0, 1, 2, 3, 4, 5, 128};

// A server context that has taken the golden certificate, key and request.
void goldenServer(Context& server, KeyHandle& handle) {
    ASSERT_EQ(server.step(golden("server.der")), 0);
    ASSERT_EQ(server.stepWith(handle.binary), 0);
    Bytes certificate;
    ASSERT_EQ(server.step(golden("request.der"), &certificate), 0);
    EXPECT_EQ(certificate, golden("server.der"));
}

TEST_F(PaskKey, TheClientRequestIsTheGoldenOne) {
    Context client(0);
    Bytes request;
    ASSERT_EQ(client.step({}, &request), 0);
    EXPECT_EQ(hex(request), hex(golden("request.der")));
    EXPECT_EQ(client.c.info.blockSize, 16);
}

TEST_F(PaskKey, TheKdfGivesTheGoldenKeys) {
    const auto keys = goldenKeys();
    Context c(0);
    keyed(c, kGoldenR, kGoldenS);
    const SGBinary* d[] = {&c.c.d0, &c.c.d1, &c.c.d2, &c.c.d3, &c.c.d4, &c.c.d5};
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(hex(bytesOf(*d[i])), hex(keys.at("D" + std::to_string(i)))) << "D" << i;
    Bytes rs = kGoldenR;
    rs.insert(rs.end(), kGoldenS.begin(), kGoldenS.end());
    EXPECT_EQ(bytesOf(c.c.rs), rs);
}

// Sealing reproduces openssl's records byte for byte, in both directions; opening takes them.
TEST_F(PaskKey, SealingAndOpeningReproduceTheGoldenRecords) {
    for (int role : {0, 1}) {
        const char* side = role == 0 ? "client" : "server";
        for (int sequence : kGoldenSequences) {
            Context sender(role);
            keyed(sender, kGoldenR, kGoldenS);
            sender.c.counter = static_cast<uint64_t>(sequence);
            Bytes record;
            ASSERT_EQ(sender.seal(plainOf(sequence), &record), 0);
            EXPECT_EQ(hex(record), hex(golden(recordName(side, sequence)))) << side << sequence;
            EXPECT_EQ(sender.c.counter, static_cast<uint64_t>(sequence) + 1);
        }
        // The peer opens the six in order, and the one of sequence 128 when it expects it.
        Context receiver(1 - role);
        keyed(receiver, kGoldenR, kGoldenS);
        for (int sequence = 0; sequence < 6; ++sequence) {
            Bytes plain{0xEE};
            ASSERT_EQ(receiver.open(golden(recordName(side, sequence)), &plain), 0) << side;
            EXPECT_EQ(plain, plainOf(sequence));
        }
        receiver.c.received = 128;
        Bytes plain;
        ASSERT_EQ(receiver.open(golden(recordName(side, 128)), &plain), 0);
        EXPECT_EQ(plain, plainOf(128));
    }
}

TEST_F(PaskKey, TheServerRecoversRFromOpensslsResponse) {
    KeyHandle handle(serverRsaDer());
    Context server(1);
    goldenServer(server, handle);
    Bytes e3;
    ASSERT_EQ(server.step(golden("response.der"), &e3), 0);
    EXPECT_EQ(bytesOf(server.c.r), kGoldenR);
    EXPECT_FALSE(PaskKey_HasMoreOperation(&server.c));
    // openssl opens the 0xE3 body with the golden K and IV and finds the server's S.
    const auto keys = goldenKeys();
    ASSERT_EQ(e3.size(), 32u);
    EXPECT_EQ(opensslDecrypt("aria-128-cbc", keys.at("K"), keys.at("IV"), e3), bytesOf(server.c.s));
    // Its keys open records that the golden client keys... only with its own S: derive them.
    Context check(0);
    keyed(check, kGoldenR, bytesOf(server.c.s));
    EXPECT_EQ(bytesOf(server.c.d0), bytesOf(check.c.d0));
    EXPECT_EQ(bytesOf(server.c.d5), bytesOf(check.c.d5));
}

TEST_F(PaskKey, TheClientRecoversSFromOpensslsSecret) {
    Context client(0);
    ASSERT_EQ(client.step({}), 0);
    ASSERT_EQ(client.step(golden("server.der")), 0);
    // In place of its own random R, the golden one.
    SGBinary_Cleanse(&client.c.r);
    ASSERT_EQ(SGBinary_Set(&client.c.r, kGoldenR.data(), 16), 0);
    ASSERT_EQ(client.step(golden("e3.bin")), 0);
    EXPECT_EQ(bytesOf(client.c.s), kGoldenS);
    EXPECT_EQ(hex(bytesOf(client.c.d3)), hex(goldenKeys().at("D3")));
    // And seals what the golden transcript holds.
    Bytes record;
    ASSERT_EQ(client.seal(plainOf(0), &record), 0);
    EXPECT_EQ(record, golden("client-0.der"));
}

// The response the client makes: openssl decrypts R with the server key, and hashedKey is its
// SHA-256.
TEST_F(PaskKey, OpensslReadsTheClientsResponse) {
    Context client(0);
    Bytes response;
    ASSERT_EQ(client.step({}), 0);
    ASSERT_EQ(client.step(golden("server.der"), &response), 0);
    const auto elements = asn1parse(response);
    ASSERT_EQ(elements.size(), 3u);
    EXPECT_EQ(elements[1].type, "BIT STRING");
    EXPECT_EQ(elements[1].length, 257u);  // the unused-bits byte and 256 bytes
    EXPECT_EQ(response[elements[1].offset + elements[1].header], 0);
    const Bytes r =
        openssl("openssl pkeyutl -decrypt -inkey " + quote((goldenDir() / "server.key").string()) +
                    " -pkeyopt rsa_padding_mode:pkcs1 -in in -out out",
                contents(response, elements[1]));
    EXPECT_EQ(r, bytesOf(client.c.r));
    EXPECT_EQ(r.size(), 16u);
    EXPECT_EQ(contents(response, elements[2]), opensslDigest("sha256", r));
}

struct Suite {
    int cipherId;
    const char* opensslCipher;  // empty: openssl has no such cipher
    int digestId;
    const char* opensslDigest;
};

// Every cipher and digest the server accepts, a whole handshake in process; openssl checks the
// KDF and opens one record each way.
TEST_F(PaskKey, EveryAcceptedCipherAndDigestAgrees) {
    const Suite suites[] = {
        {4, "aria-128-cbc", 3, "sha1"},  {4, "aria-128-cbc", 6, "sha384"},
        {3, "seed-cbc", 5, "sha256"},    {3, "seed-cbc", 7, "sha512"},
        {0, "aes-128-cbc", 5, "sha256"}, {0, "aes-128-cbc", 3, "sha1"},
        {11, "", 5, "sha256"},           {11, "", 7, "sha512"},
    };
    KeyHandle handle(serverRsaDer());
    for (const Suite& s : suites) {
        SCOPED_TRACE(std::to_string(s.cipherId) + "/" + s.opensslDigest);
        Context client(0, s.cipherId, s.digestId), server(1);
        Bytes request, certificate, response, secret;
        ASSERT_EQ(client.step({}, &request), 0);
        ASSERT_EQ(server.step(golden("server.der")), 0);
        ASSERT_EQ(server.stepWith(handle.binary), 0);
        ASSERT_EQ(server.step(request, &certificate), 0);
        EXPECT_EQ(server.c.cipherId, s.cipherId);
        EXPECT_EQ(server.c.digestId, s.digestId);
        ASSERT_EQ(client.step(certificate, &response), 0);
        ASSERT_EQ(server.step(response, &secret), 0);
        ASSERT_EQ(client.step(secret), 0);
        EXPECT_EQ(bytesOf(client.c.d5), bytesOf(server.c.d5));

        // One record each way, opened by us; openssl then checks them all in one run.
        Shell shell;
        Bytes rs = bytesOf(client.c.r), s2 = bytesOf(client.c.s);
        rs.insert(rs.end(), s2.begin(), s2.end());
        shell.put("rs", rs);
        const Bytes message(100, 0x42);
        shell.put("message", message);
        std::string script =
            "openssl dgst -" + std::string(s.opensslDigest) + " -binary -out d0 rs";
        for (Context* sender : {&client, &server}) {
            Context* receiver = sender == &client ? &server : &client;
            Bytes record, plain;
            ASSERT_EQ(sender->seal(message, &record), 0);
            ASSERT_EQ(receiver->open(record, &plain), 0);
            EXPECT_EQ(plain, message);
            const auto e = asn1parse(record);
            ASSERT_EQ(e.size(), 6u);
            const bool fromClient = sender == &client;
            const std::string side = fromClient ? "client" : "server";
            shell.put(side + ".cipher", contents(record, e[4]));
            shell.put(side + ".mac", contents(record, e[5]));
            const SGBinary& key = fromClient ? client.c.d1 : client.c.d4;
            const SGBinary& iv = fromClient ? client.c.d2 : client.c.d5;
            const SGBinary& macKey = fromClient ? client.c.d0 : client.c.d3;
            script += " && openssl dgst -" + std::string(s.opensslDigest) +
                      " -mac HMAC -macopt hexkey:" + hex(bytesOf(macKey)) + " -binary -out " +
                      side + ".hmac message";
            if (*s.opensslCipher)
                script += std::string(" && openssl enc -d -") + s.opensslCipher + " -K " +
                          hex(bytesOf(key)) + " -iv " + hex(bytesOf(iv)) + " -in " + side +
                          ".cipher -out " + side + ".plain" +
                          (s.cipherId == 3 ? " -provider legacy -provider default" : "");
        }
        ASSERT_TRUE(shell.run(script));
        const Bytes d0 = shell.get("d0");
        EXPECT_EQ(bytesOf(client.c.d0), Bytes(d0.begin(), d0.begin() + 16));
        for (const std::string side : {"client", "server"}) {
            EXPECT_EQ(shell.get(side + ".hmac"), shell.get(side + ".mac")) << side;
            if (*s.opensslCipher) EXPECT_EQ(shell.get(side + ".plain"), message) << side;
        }
    }
}

// A request of two AlgorithmIdentifiers with NULL parameters.
Bytes request(const std::string& cipherOid, const std::string& digestOid) {
    return der::seq(
        {der::algorithm(cipherOid, der::null()), der::algorithm(digestOid, der::null())});
}

TEST_F(PaskKey, TheServerRefusesRequestsOutsideTheAcceptedSuites) {
    const std::string aria = "1.2.410.100001.1.20", sha256 = "2.16.840.1.101.3.4.2.1";
    const struct {
        const char* what;
        Bytes request;
    } cases[] = {
        {"AES-192", request("2.16.840.1.101.3.4.1.22", sha256)},
        {"AES-256", request("2.16.840.1.101.3.4.1.42", sha256)},
        {"DES", request("1.3.14.3.2.7", sha256)},
        {"triple DES", request("1.2.840.113549.3.7", sha256)},
        {"RC2", request("1.2.840.113549.3.2", sha256)},
        {"a digest as cipher", request(sha256, sha256)},
        {"a cipher as digest", request(aria, aria)},
        {"a signature algorithm as digest", request(aria, "1.2.840.113549.1.1.11")},
        {"MD5", request(aria, "1.2.840.113549.2.5")},
        {"unknown cipher", request("1.2.3.4", sha256)},
        {"trailing byte",
         [&] {
             Bytes r = request(aria, sha256);
             r.push_back(0);
             return r;
         }()},
        {"cut",
         [] {
             Bytes r = golden("request.der");
             r.pop_back();
             return r;
         }()},
        {"empty", Bytes()},
    };
    KeyHandle handle(serverRsaDer());
    for (const auto& c : cases) {
        Context server(1);
        ASSERT_EQ(server.step(golden("server.der")), 0);
        ASSERT_EQ(server.stepWith(handle.binary), 0);
        Bytes out{1};
        EXPECT_EQ(server.step(c.request, &out), 10721) << c.what;
        EXPECT_TRUE(out.empty()) << c.what;
        EXPECT_EQ(server.c.step, PASKKEY_STEP_FAILED) << c.what;
        EXPECT_EQ(server.step(golden("response.der")), 10001) << c.what;
    }
    // The same rule binds the client's own choice.
    for (int cipher : {1, 7, 8, 9}) {
        Context client(0, cipher, 5);
        EXPECT_EQ(client.step({}), 10720) << cipher;
    }
    Context md5(0, 4, SG_DIGEST_MD5);
    EXPECT_EQ(md5.step({}), 10720);
}

// A response made by openssl (PKCS #1 v1.5 under the certificate of encryptedKey's key).
Bytes response(const Bytes& encryptedRandom, const Bytes& hashedKey, unsigned unusedBits = 0) {
    return der::seq({der::bits(encryptedRandom, unusedBits), der::octets(hashedKey)});
}
Bytes encryptUnder(const std::string& certificateFile, const Bytes& r) {
    return openssl("openssl x509 -inform DER -in " + quote(certificateFile) +
                       " -out cert.pem && openssl pkeyutl -encrypt -certin -inkey cert.pem"
                       " -pkeyopt rsa_padding_mode:pkcs1 -in in -out out",
                   r);
}

TEST_F(PaskKey, TheServerRefusesBadResponsesWith10722) {
    const std::string certificate = (goldenDir() / "server.der").string();
    const Bytes encR = encryptUnder(certificate, kGoldenR);
    const Bytes hashR = opensslDigest("sha256", kGoldenR);
    Bytes otherHash = hashR;
    otherHash[31] ^= 1;
    const Bytes r15(kGoldenR.begin(), kGoldenR.end() - 1);
    const Bytes r17 = [] {
        Bytes r = kGoldenR;
        r.push_back(0x10);
        return r;
    }();
    const struct {
        const char* what;
        Bytes response;
    } cases[] = {
        {"hashedKey differs from H(R)", response(encR, otherHash)},
        {"hashedKey cut to 16 bytes", response(encR, Bytes(hashR.begin(), hashR.begin() + 16))},
        {"hashedKey of 33 bytes", response(encR,
                                           [&] {
                                               Bytes h = hashR;
                                               h.push_back(0);
                                               return h;
                                           }())},
        {"R of 15 bytes", response(encryptUnder(certificate, r15), opensslDigest("sha256", r15))},
        {"R of 17 bytes", response(encryptUnder(certificate, r17), opensslDigest("sha256", r17))},
        {"R under another key",
         response(encryptUnder((kitDir() / "small.der").string(), kGoldenR), hashR)},
        {"unused bits in encryptedRandom", response(encR, hashR, 1)},
        {"encryptedRandom cut", response(Bytes(encR.begin(), encR.end() - 1), hashR)},
        {"not a response", der::seq({der::integer(1)})},
        {"trailing byte",
         [&] {
             Bytes r = response(encR, hashR);
             r.push_back(0);
             return r;
         }()},
    };
    KeyHandle handle(serverRsaDer());
    for (const auto& c : cases) {
        Context server(1);
        goldenServer(server, handle);
        Bytes out{1};
        EXPECT_EQ(server.step(c.response, &out), 10722) << c.what;
        EXPECT_TRUE(out.empty()) << c.what;
        EXPECT_EQ(server.c.r.data, nullptr) << c.what;
        EXPECT_EQ(server.c.s.data, nullptr) << c.what;
        EXPECT_EQ(server.c.d0.data, nullptr) << c.what;
    }
    // The right response with a key handle of another key.
    KeyHandle other(kit("other.rsa.der"));
    Context server(1);
    goldenServer(server, other);
    EXPECT_EQ(server.step(golden("response.der")), 10722);
}

// A callback handle: the token's decryption, here the RSA key of the golden server.
int tokenDecrypt(unsigned char* out, unsigned* length, const unsigned char* in, unsigned n,
                 unsigned padding, void* user) {
    const auto* key = static_cast<const KeyHandle*>(user);
    SGBinary plain{}, cipher{const_cast<unsigned char*>(in), n};
    const int r = SGCryptoHandler_Decrypt(&plain, &cipher, padding, &key->key, nullptr);
    if (r == 0) {
        std::memcpy(out, plain.data, plain.length);
        *length = plain.length;
    }
    SGBinary_Cleanse(&plain);
    return r;
}

TEST_F(PaskKey, KeyHandlesOfTheServer) {
    KeyHandle inMemory(serverRsaDer());
    SGCryptoHandlerKey callback{};
    callback.type = SG_CRYPTO_HANDLER_CALLBACK;
    callback.form.decrypter.decrypt = tokenDecrypt;
    callback.form.decrypter.userData = &inMemory;
    Context server(1);
    ASSERT_EQ(server.step(golden("server.der")), 0);
    ASSERT_EQ(server.stepWith(SGBinary{reinterpret_cast<unsigned char*>(&callback), 24}), 0);
    ASSERT_EQ(server.step(golden("request.der")), 0);
    ASSERT_EQ(server.step(golden("response.der")), 0);
    EXPECT_EQ(bytesOf(server.c.r), kGoldenR);

    // Handles the server refuses at once: no key (type 0), types without decryption, sizes.
    KeyHandle none(Bytes{}, SG_CRYPTO_HANDLER_NO_KEY), two(Bytes{1}, 2);
    const SGBinary refused[] = {none.binary, two.binary, SGBinary{inMemory.binary.data, 23},
                                SGBinary{inMemory.binary.data, 48}, SGBinary{nullptr, 24}};
    for (const SGBinary& h : refused) {
        Context s(1);
        ASSERT_EQ(s.step(golden("server.der")), 0);
        EXPECT_EQ(s.stepWith(h), 10013) << h.length;
    }
    Context noCertificate(1);
    EXPECT_EQ(noCertificate.step(Bytes{}), 10001);
}

// The client refuses every certificate unfit for key transport before it draws or sends R.
TEST_F(PaskKey, TheClientChecksTheServerCertificate) {
    const struct {
        const char* file;
        int expected;
    } cases[] = {
        {"server.der", 0},     {"noku.der", 0},           {"expired.der", 10721},
        {"future.der", 10721}, {"signonly.der", 10721},   {"small.der", 10721},
        {"ec.der", 10721},     {"server.rsa.der", 10721},
    };
    for (const auto& c : cases) {
        Context client(0);
        ASSERT_EQ(client.step({}), 0);
        Bytes out{1};
        EXPECT_EQ(client.step(kit(c.file), &out), c.expected) << c.file;
        EXPECT_EQ(out.empty(), c.expected != 0) << c.file;
        if (c.expected) EXPECT_EQ(client.c.r.data, nullptr) << c.file;
    }
    Context empty(0);
    ASSERT_EQ(empty.step({}), 0);
    EXPECT_EQ(empty.step(Bytes{}), 10721);
}

TEST_F(PaskKey, TheClientRefusesASecretOfAnotherLength) {
    const auto keys = goldenKeys();
    const Bytes sixteen(16, 0x11), thirtyTwo(32, 0x22);
    const struct {
        const char* what;
        Bytes body;
    } cases[] = {
        // S of 15 and 17 bytes, openssl-encrypted under the golden K and IV.
        {"S of 15 bytes", openssl("openssl enc -aria-128-cbc -K " + hex(keys.at("K")) + " -iv " +
                                      hex(keys.at("IV")) + " -in in -out out",
                                  Bytes(kGoldenS.begin(), kGoldenS.end() - 1))},
        {"S of 17 bytes", openssl("openssl enc -aria-128-cbc -K " + hex(keys.at("K")) + " -iv " +
                                      hex(keys.at("IV")) + " -in in -out out",
                                  Bytes(17, 0xF0))},
        {"one block", sixteen},
        {"wrong padding", thirtyTwo},
        {"cut",
         [] {
             Bytes e3 = golden("e3.bin");
             e3.pop_back();
             return e3;
         }()},
        {"empty", Bytes()},
    };
    for (const auto& c : cases) {
        Context client(0);
        ASSERT_EQ(client.step({}), 0);
        ASSERT_EQ(client.step(golden("server.der")), 0);
        SGBinary_Cleanse(&client.c.r);
        ASSERT_EQ(SGBinary_Set(&client.c.r, kGoldenR.data(), 16), 0);
        EXPECT_EQ(client.step(c.body), 10722) << c.what;
        EXPECT_EQ(client.c.r.data, nullptr) << c.what;
        EXPECT_EQ(client.c.s.data, nullptr) << c.what;
    }
}

TEST_F(PaskKey, RecordFaultsFailWithoutReleasingPlaintext) {
    // The golden client record of sequence 5 (4096 bytes, 257 blocks), one field changed.
    const Bytes good = golden("client-5.der");
    const RecordFields base = fieldsOf(good);
    ASSERT_EQ(base.encode(), good);  // the hand encoding is openssl's
    auto with = [&](auto change) {
        RecordFields f = base;
        change(f);
        return f.encode();
    };
    auto nineBytes = [](unsigned char first, unsigned char last) {
        Bytes b(9, 0x00);
        b.front() = first;
        b.back() = last;
        return b;
    };
    const struct {
        const char* what;
        Bytes record;
        int expected;
    } cases[] = {
        {"majorVersion 2", with([](RecordFields& f) { f.major = {0x02}; }), 222},
        {"majorVersion 0", with([](RecordFields& f) { f.major = {0x00}; }), 222},
        {"majorVersion 1 in two bytes", with([](RecordFields& f) {
             f.major = {0x00, 0x01};
         }),
         222},
        {"minorVersion 7 is not checked", with([](RecordFields& f) { f.minor = {0x07}; }), 0},
        {"sequence 4 again", with([](RecordFields& f) { f.sequence = {0x04}; }), 10725},
        {"sequence 6", with([](RecordFields& f) { f.sequence = {0x06}; }), 10725},
        {"sequence -1", with([](RecordFields& f) { f.sequence = {0xFF}; }), 10725},
        {"sequence -251 (FF 05)", with([](RecordFields& f) {
             f.sequence = {0xFF, 0x05};
         }),
         10725},
        {"sequence 5 in nine bytes",
         with([&](RecordFields& f) { f.sequence = nineBytes(0x00, 0x05); }), 10725},
        {"sequence 2^64 + 5", with([&](RecordFields& f) { f.sequence = nineBytes(0x01, 0x05); }),
         10725},
        {"sequence without bytes", with([](RecordFields& f) { f.sequence = {}; }), 10725},
        {"flipped byte in the first block", with([](RecordFields& f) { f.cipher[3] ^= 0x01; }),
         10725},
        {"flipped byte in the padding block",
         with([](RecordFields& f) { f.cipher.back() ^= 0x80; }), 10727},
        {"flipped mac byte", with([](RecordFields& f) { f.mac[31] ^= 0x01; }), 10725},
        {"mac cut to 31 bytes", with([](RecordFields& f) { f.mac.pop_back(); }), 10725},
        {"mac of 33 bytes", with([](RecordFields& f) { f.mac.push_back(0); }), 10725},
        {"mac with an unused bit", with([](RecordFields& f) { f.macUnused = 1; }), 10725},
        {"cipher not whole blocks", with([](RecordFields& f) { f.cipher.pop_back(); }), 10727},
        {"cipher empty", with([](RecordFields& f) { f.cipher.clear(); }), 10727},
        {"trailing byte",
         [&] {
             Bytes r = good;
             r.push_back(0);
             return r;
         }(),
         20902},
        {"cut", Bytes(good.begin(), good.end() - 1), 20902},
        {"indefinite length", Bytes{0x30, 0x80, 0x00, 0x00}, 20902},
        {"empty", Bytes(), 20902},
    };
    for (const auto& c : cases) {
        Context server(1);
        keyed(server, kGoldenR, kGoldenS);
        server.c.received = 5;
        SGBinary out{reinterpret_cast<unsigned char*>(0x1), 77};  // never touched on failure
        const SGBinary in = view(c.record);
        const int r = PaskKey_Decrypt(&server.c, &out, &in);
        EXPECT_EQ(r, c.expected) << c.what;
        if (r != 0) {
            EXPECT_EQ(out.data, reinterpret_cast<unsigned char*>(0x1)) << c.what;
            EXPECT_EQ(out.length, 77u) << c.what;
            // The keys are gone: not even the right record opens now.
            EXPECT_EQ(server.c.d0.data, nullptr) << c.what;
            Bytes plain;
            EXPECT_EQ(server.open(good, &plain), 10727) << c.what;
        } else {
            EXPECT_EQ(bytesOf(out), plainOf(5)) << c.what;
            SGBinary_Reset(&out);
        }
    }
}

TEST_F(PaskKey, EqualPlaintextsGiveEqualCipherAndMacUnderNewSequences) {
    Context client(0);
    keyed(client, kGoldenR, kGoldenS);
    Bytes first, second;
    ASSERT_EQ(client.seal(plainOf(2), &first), 0);
    ASSERT_EQ(client.seal(plainOf(2), &second), 0);
    EXPECT_NE(first, second);
    const auto a = asn1parse(first), b = asn1parse(second);
    EXPECT_EQ(a[3].value, "00");
    EXPECT_EQ(b[3].value, "01");
    EXPECT_EQ(contents(first, a[4]), contents(second, b[4]));
    EXPECT_EQ(contents(first, a[5]), contents(second, b[5]));
}

TEST_F(PaskKey, RecordsNeedTheKeys) {
    Context client(0), server(1);
    Bytes record, plain;
    EXPECT_EQ(client.seal(plainOf(1), &record), 10726);
    EXPECT_TRUE(record.empty());
    EXPECT_EQ(server.open(golden("client-0.der"), &plain), 10727);
    EXPECT_EQ(PaskKey_Encrypt(nullptr, nullptr, nullptr), 10001);
    EXPECT_EQ(PaskKey_Decrypt(nullptr, nullptr, nullptr), 10001);
    EXPECT_EQ(PaskKey_NextOperation(nullptr, nullptr, nullptr), 10001);
    EXPECT_EQ(PaskKey_KDF(nullptr), 10001);
    // A finished handshake takes no more steps.
    Context done(0);
    keyed(done, kGoldenR, kGoldenS);
    EXPECT_FALSE(PaskKey_HasMoreOperation(&done.c));
    EXPECT_EQ(done.step(Bytes{1}), 10001);
    EXPECT_NE(done.c.d0.data, nullptr);  // and keeps its keys
}

// Every allocation of a handshake and of the records failed in turn: a code, never a crash, a
// leak or a half-set context.
TEST_F(PaskKey, ExhaustedMemoryAtEveryAllocation) {
    KeyHandle handle(serverRsaDer());
    bool finished = false;
    // n = -1 runs without failures first: tables the layer builds on first use (the OID table
    // keeps a row it could not add empty) are built before any allocation fails.
    for (int n = -1; !finished && n < 400; ++n) {
        Context client(0), server(1);
        Bytes request, certificate, response, secret, record, plain;
        int r;
        {
            memhooks::FailingAllocations fail(n < 0 ? 1 << 30 : n);
            r = client.step({}, &request);
            if (r == 0) r = server.step(golden("server.der"));
            if (r == 0) r = server.stepWith(handle.binary);
            if (r == 0) r = server.step(request, &certificate);
            if (r == 0) r = client.step(certificate, &response);
            if (r == 0) r = server.step(response, &secret);
            if (r == 0) r = client.step(secret);
            if (r == 0) r = client.seal(plainOf(5), &record);
            if (r == 0) r = server.open(record, &plain);
        }
        if (r == 0) {
            finished = n >= 0;
            EXPECT_EQ(plain, plainOf(5));
        } else {
            EXPECT_TRUE(client.c.step == PASKKEY_STEP_FAILED ||
                        server.c.step == PASKKEY_STEP_FAILED)
                << n << ": " << r;
        }
    }
    EXPECT_TRUE(finished);
}

// No block that the layer releases still holds R, S, K, IV or a derived key, whether the
// handshake and the records succeed or fail, and the context is zero after Final.
TEST_F(PaskKey, ReleasedMemoryHoldsNoSecret) {
    KeyHandle handle(serverRsaDer());
    const auto keys = goldenKeys();
    // K and IV are left out: the response carries H(R), whose first bytes are K, in the clear.
    std::vector<Bytes> secrets{kGoldenR, kGoldenS};
    for (const auto& [name, value] : keys)
        if (name != "K" && name != "IV") secrets.push_back(value);
    {
        memhooks::TrackedReleases tracked(secrets);
        // The golden server run: R is the golden one; its own S and keys join the secrets.
        Context server(1);
        goldenServer(server, handle);
        ASSERT_EQ(server.step(golden("response.der")), 0);
        for (const SGBinary* b : {&server.c.s, &server.c.d0, &server.c.d1, &server.c.d2,
                                  &server.c.d3, &server.c.d4, &server.c.d5})
            memhooks::gReleased.secrets.push_back(bytesOf(*b));
        Bytes record, plain;
        ASSERT_EQ(server.seal(plainOf(4), &record), 0);
        // The golden receiver: opens, then fails on a replay.
        Context client(0);
        keyed(client, kGoldenR, kGoldenS);
        ASSERT_EQ(client.open(golden("server-0.der"), &plain), 0);
        EXPECT_EQ(client.open(golden("server-0.der"), &plain), 10725);
        Context clientSide(0);
        ASSERT_EQ(clientSide.step({}), 0);
        ASSERT_EQ(clientSide.step(golden("server.der")), 0);
        SGBinary_Cleanse(&clientSide.c.r);
        ASSERT_EQ(SGBinary_Set(&clientSide.c.r, kGoldenR.data(), 16), 0);
        ASSERT_EQ(clientSide.step(golden("e3.bin")), 0);
        PaskKeyContext_Final(&server.c);
        PaskKeyContext_Final(&clientSide.c);
        const PaskKeyContext zero{};
        EXPECT_EQ(std::memcmp(&server.c, &zero, sizeof zero), 0);
    }
    EXPECT_GT(memhooks::gReleased.checked, 20);
    EXPECT_EQ(memhooks::gReleased.hits, 0);
}

}  // namespace
