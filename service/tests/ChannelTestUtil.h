// Material and helpers of the secure-channel tests: the golden transcript (data/secure_channel,
// made by make_golden.sh with the openssl command line), the server certificates of the kit
// recipe channel_server (made once per build folder), key handles, contexts with chosen secrets
// and the openssl command line over bytes.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "DerBuilder.h"
#include "KitCache.h"
#include "PaskKey.h"
#include "SGBinary.h"
#include "SGCipher.h"
#include "SGCryptoHandler.h"
#include "TestKit.h"

namespace channeltest {

namespace fs = std::filesystem;
using testkit::Bytes;
using testkit::hex;
using testkit::quote;
using testkit::unhex;

inline fs::path goldenDir() {
    return fs::path(BRINDLOW_TEST_DATA) / "secure_channel";
}
inline Bytes golden(const std::string& name) {
    return testkit::readBytes(goldenDir() / name);
}

// The golden server key as DER RSAPrivateKey, the form of a key handle.
inline Bytes serverRsaDer() {
    return golden("server.rsa.der");
}

// K, IV and D0 to D5 of keys.txt, by name.
inline std::map<std::string, Bytes> goldenKeys() {
    std::map<std::string, Bytes> keys;
    std::istringstream in(testkit::readText(goldenDir() / "keys.txt"));
    for (std::string name, eq, value; in >> name >> eq >> value;) keys[name] = unhex(value);
    return keys;
}

inline const Bytes kGoldenR = unhex("000102030405060708090A0B0C0D0E0F");
inline const Bytes kGoldenS = unhex("F0F1F2F3F4F5F6F7F8F9FAFBFCFDFEFF");
// The plaintext lengths of the golden records with sequences 0 to 5.
inline const size_t kGoldenSizes[] = {0, 1, 15, 16, 17, 4096};

// The certificates of the kit recipe channel_server.
inline fs::path kitDir() {
    static const fs::path dir = testkit::madeOnce(
        "channel_server", testkit::recipeKey({"channel_server"}),
        [](const fs::path& work) { return testkit::pki("channel_server", work); });
    return dir;
}
inline Bytes kit(const std::string& name) {
    EXPECT_FALSE(kitDir().empty()) << "the channel_server recipe failed";
    return testkit::readBytes(kitDir() / name);
}

inline SGBinary view(const Bytes& b) {
    return SGBinary{const_cast<unsigned char*>(b.data()), static_cast<uint32_t>(b.size())};
}
inline Bytes bytesOf(const SGBinary& b) {
    return b.data ? Bytes(b.data, b.data + b.length) : Bytes();
}

// A decryption key handle over an RSAPrivateKey DER (type 3), handed over as 24 bytes.
struct KeyHandle {
    Bytes der;
    SGCryptoHandlerKey key{};
    SGBinary binary{};
    explicit KeyHandle(Bytes rsaDer, int type = SG_CRYPTO_HANDLER_RSA_KEY)
        : der(std::move(rsaDer)) {
        key.type = type;
        key.form.key.der = der.data();
        key.form.key.length = static_cast<uint32_t>(der.size());
        binary = SGBinary{reinterpret_cast<unsigned char*>(&key), PASKKEY_KEY_HANDLE_SIZE};
    }
    KeyHandle(const KeyHandle&) = delete;
    KeyHandle& operator=(const KeyHandle&) = delete;
};

// A context finished with the object.
struct Context {
    PaskKeyContext c{};
    explicit Context(int isServer, int cipherId = PASKKEY_DEFAULT_CIPHER,
                     int digestId = PASKKEY_DEFAULT_DIGEST) {
        PaskKey_Init(&c, isServer, cipherId, digestId);
    }
    ~Context() { PaskKeyContext_Final(&c); }
    Context(const Context&) = delete;
    Context& operator=(const Context&) = delete;

    // The step's result; its first output in *out.
    int step(const Bytes& input, Bytes* out = nullptr) {
        SGBinaryList outputs{};
        PaskKeyInput in{};
        in.value = view(input);
        const int r = PaskKey_NextOperation(&c, &outputs, &in);
        if (out) *out = bytesOf(outputs.value);
        SGBinaryList_Reset(&outputs);
        return r;
    }
    int stepWith(const SGBinary& input) {
        SGBinaryList outputs{};
        PaskKeyInput in{};
        in.value = input;
        const int r = PaskKey_NextOperation(&c, &outputs, &in);
        SGBinaryList_Reset(&outputs);
        return r;
    }
    int seal(const Bytes& plain, Bytes* record) {
        SGBinary out{};
        const SGBinary in = view(plain);
        const int r = PaskKey_Encrypt(&c, &out, &in);
        *record = bytesOf(out);
        SGBinary_Reset(&out);
        return r;
    }
    int open(const Bytes& record, Bytes* plain) {
        SGBinary out{};
        const SGBinary in = view(record);
        const int r = PaskKey_Decrypt(&c, &out, &in);
        *plain = bytesOf(out);
        SGBinary_Reset(&out);
        return r;
    }
};

// A context of the role with the keys that R and S give, as the handshake leaves it.
inline void keyed(Context& ctx, const Bytes& r, const Bytes& s, int cipherId = 4,
                  int digestId = 5) {
    PaskKeyContext& c = ctx.c;
    c.cipherId = cipherId;
    c.digestId = digestId;
    c.mode = SG_CIPHER_MODE_CBC;
    ASSERT_EQ(SGCipher_GetInfo(&c.info, cipherId), 0);
    ASSERT_EQ(SGBinary_Set(&c.r, r.data(), static_cast<uint32_t>(r.size())), 0);
    ASSERT_EQ(SGBinary_Set(&c.s, s.data(), static_cast<uint32_t>(s.size())), 0);
    ASSERT_EQ(PaskKey_KDF(&c), 0);
    c.step = c.role == PASKKEY_ROLE_SERVER ? PASKKEY_SERVER_STEPS : PASKKEY_CLIENT_STEPS;
}

// A scratch folder where shell commands (the openssl command line) run over files.
class Shell {
  public:
    void put(const std::string& name, const Bytes& bytes) {
        testkit::writeBytes(dir_ / name, bytes);
    }
    Bytes get(const std::string& name) const { return testkit::readBytes(dir_ / name); }
    const fs::path& path() const { return dir_.path(); }
    // Runs the command in the folder: false, with a test failure showing its output, when it
    // fails.
    bool run(const std::string& command) const {
        std::string output;
        const bool ok = testkit::succeeds("cd " + quote(dir_.str()) + " && " + command, &output);
        EXPECT_TRUE(ok) << command << "\n" << output;
        return ok;
    }

  private:
    testkit::Scratch dir_{"brindlow-channel"};
};

// The command with the bytes as the file "in"; its file "out" (empty when it failed).
inline Bytes openssl(const std::string& command, const Bytes& input = {}) {
    Shell shell;
    shell.put("in", input);
    return shell.run(command) ? shell.get("out") : Bytes();
}

// openssl enc -d of the cipher name (aria-128-cbc, seed-cbc, aes-128-cbc) under key and iv.
inline Bytes opensslDecrypt(const std::string& cipher, const Bytes& key, const Bytes& iv,
                            const Bytes& data) {
    const std::string legacy = cipher == "seed-cbc" ? " -provider legacy -provider default" : "";
    return openssl("openssl enc -d -" + cipher + " -K " + hex(key) + " -iv " + hex(iv) +
                       " -in in -out out" + legacy,
                   data);
}

// openssl dgst -<digest> (-mac HMAC with the key when one is given), binary.
inline Bytes opensslDigest(const std::string& digest, const Bytes& data, const Bytes& hmacKey = {},
                           bool hmac = false) {
    const std::string mac = hmac ? " -mac HMAC -macopt hexkey:" + hex(hmacKey) : "";
    return openssl("openssl dgst -" + digest + mac + " -binary -out out in", data);
}

// One element of openssl asn1parse: offset, header length, length, type and value.
struct Element {
    size_t offset = 0, header = 0, length = 0;
    int depth = 0;
    std::string type, value;
};
inline std::vector<Element> asn1parse(const Bytes& der) {
    testkit::Scratch dir("brindlow-channel");
    testkit::writeBytes(dir / "in", der);
    std::istringstream in(
        testkit::run("openssl asn1parse -inform DER -in " + quote((dir / "in").string())));
    std::vector<Element> out;
    for (std::string line; std::getline(in, line);) {
        Element e;
        if (std::sscanf(line.c_str(), "%zu:d=%d hl=%zu l=%zu", &e.offset, &e.depth, &e.header,
                        &e.length) != 4)
            continue;
        const size_t kind = line.find(": ", line.find("l="));
        std::string rest = kind == std::string::npos ? "" : line.substr(kind + 2);
        const size_t colon = rest.find(':');
        e.type = rest.substr(0, colon);
        e.type.erase(e.type.find_last_not_of(' ') + 1);
        e.type.erase(0, e.type.find_first_not_of(' '));
        if (colon != std::string::npos) e.value = rest.substr(colon + 1);
        out.push_back(e);
    }
    return out;
}
// The contents of an element (after its header; a BIT STRING without its unused-bits byte).
inline Bytes contents(const Bytes& der, const Element& e) {
    const size_t skip = e.type == "BIT STRING" ? 1 : 0;
    return Bytes(der.begin() + static_cast<long>(e.offset + e.header + skip),
                 der.begin() + static_cast<long>(e.offset + e.header + e.length));
}

// The fields of a record, to be changed by hand and encoded again.
struct RecordFields {
    Bytes major{0x01}, minor{0x00}, sequence{0x00}, cipher, mac;
    unsigned cipherUnused = 0, macUnused = 0;
    Bytes encode() const {
        return der::seq({der::integerBytes(major), der::integerBytes(minor),
                         der::integerBytes(sequence), der::bits(cipher, cipherUnused),
                         der::bits(mac, macUnused)});
    }
};
// As openssl asn1parse reads the record.
inline RecordFields fieldsOf(const Bytes& record) {
    const auto e = asn1parse(record);
    RecordFields f;
    EXPECT_EQ(e.size(), 6u);
    if (e.size() != 6) return f;
    f.major = contents(record, e[1]);
    f.minor = contents(record, e[2]);
    f.sequence = contents(record, e[3]);
    f.cipher = contents(record, e[4]);
    f.mac = contents(record, e[5]);
    return f;
}

}  // namespace channeltest
