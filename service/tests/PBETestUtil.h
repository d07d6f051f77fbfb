// Helpers of the password-based encryption tests: records, asn1parse lines, the Service table's
// allocation slots replaced for a while.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "MemoryHooks.h"
#include "PKCS8Material.h"
#include "SGBaseTable.h"
#include "SGPKCS5.h"
#include "SGPKCS8.h"
#include "SGServiceInternal.h"

namespace pbetest {

inline SGBinary view(const Bytes& b) {
    return SGBinary{const_cast<unsigned char*>(b.data()), static_cast<uint32_t>(b.size())};
}
inline Bytes bytesOf(const SGBinary& b) {
    return b.data ? Bytes(b.data, b.data + b.length) : Bytes();
}
inline Bytes bytesOf(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

// An EncryptedPrivateKeyInfo record that releases itself.
struct Epki {
    SGPKCS8EncryptedPrivateKeyInfo record{};
    ~Epki() { SGPKCS8EncryptedPrivateKeyInfo_Cleanse(&record); }
    Bytes encode() const {
        SGBinary out{};
        EXPECT_EQ(SGPKCS8EncryptedPrivateKeyInfo_Encode(&out, &record), 0);
        Bytes b = bytesOf(out);
        SGBinary_Reset(&out);
        return b;
    }
    Bytes parameters() const { return record.parameters ? bytesOf(*record.parameters) : Bytes(); }
};

// Our encryption of data under the type, iteration count and cipher: the result code.
inline int encrypt(Epki& out, const Bytes& data, const std::string& password, int type,
                   int iterations = 2048, int cipherId = 0) {
    SGPKCS5PBESParam p{};
    p.pbeType = type;
    p.iterations = iterations;
    p.cipherId = cipherId;
    return SGPKCS5Encrypt(&out.record, data.data(), static_cast<int>(data.size()),
                          reinterpret_cast<const unsigned char*>(password.data()),
                          static_cast<int>(password.size()), &p);
}

// Our decryption: the result code, the plaintext in *plain.
inline int decrypt(Bytes* plain, const SGPKCS8EncryptedPrivateKeyInfo& in,
                   const std::string& password) {
    Bytes out(in.encryptedData.length + 1, 0xA5);
    int length = -7;
    const int r = SGPKCS5Decrypt(out.data(), &length, &in,
                                 reinterpret_cast<const unsigned char*>(password.data()),
                                 static_cast<int>(password.size()));
    if (r == 0 && length >= 0) out.resize(static_cast<size_t>(length));
    if (plain) *plain = r == 0 ? out : Bytes();
    return r;
}

// Decodes an EncryptedPrivateKeyInfo file and decrypts it: the result code (decoding errors
// included), the plaintext in *plain.
inline int openKeyFile(Bytes* plain, const Bytes& file, const std::string& password) {
    Epki in;
    const SGBinary der = view(file);
    if (int r = SGPKCS8EncryptedPrivateKeyInfo_Decode(&in.record, &der)) return r;
    return decrypt(plain, in.record, password);
}

// One line of openssl asn1parse -i: depth, type and the value after its colon.
struct Asn1Line {
    int depth;
    std::string type, value;
};
inline std::vector<Asn1Line> asn1Lines(const Bytes& der) {
    std::vector<Asn1Line> lines;
    std::istringstream in(asn1parse(der));
    for (std::string line; std::getline(in, line);) {
        const size_t d = line.find("d="), kind = line.find("prim:") != std::string::npos
                                                     ? line.find("prim:")
                                                     : line.find("cons:");
        if (d == std::string::npos || kind == std::string::npos) continue;
        Asn1Line l{std::stoi(line.substr(d + 2)), "", ""};
        std::string rest = line.substr(kind + 5);
        rest.erase(0, rest.find_first_not_of(' '));
        const size_t colon = rest.rfind(':');
        std::string type = colon == std::string::npos ? rest : rest.substr(0, colon);
        if (colon != std::string::npos) l.value = rest.substr(colon + 1);
        if (const size_t dump = type.find("[HEX DUMP]"); dump != std::string::npos)
            type = type.substr(0, dump);
        type.erase(type.find_last_not_of(' ') + 1);
        l.type = type;
        lines.push_back(l);
    }
    return lines;
}

using memhooks::AllocationHook;

}  // namespace pbetest
