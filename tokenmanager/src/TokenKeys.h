// Records of the key operations, released (and wiped where they held a key) on every path, and
// the meaning of the library's answers when a key file is opened. Shared by the token base and
// the tokens that hold key files.
#pragma once

#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "SGCipher.h"
#include "SGDSKey.h"
#include "SGKCDSA.h"
#include "SGMemory.h"
#include "SGOS.h"
#include "SGPKCS1.h"
#include "SGPKCS5.h"
#include "SGPKCS8.h"
#include "SGPKCSError.h"
#include "SGRSA.h"
#include "Token.h"
#include "TokenTables.h"

namespace brindlow::token::keys {

// ---- Library readiness ---------------------------------------------------------------------

inline bool pkcs8Ready() {
    return TM_SERVICE_READY(SGPKCS8EncryptedPrivateKeyInfo_Decode) &&
           TM_SERVICE_READY(SGPKCS8EncryptedPrivateKeyInfo_Cleanse) &&
           TM_SERVICE_READY(SGPKCS8PrivateKeyInfo_Decode) &&
           TM_SERVICE_READY(SGPKCS8PrivateKeyInfo_Cleanse) && TM_SERVICE_READY(SGPKCS5Decrypt);
}

inline bool rsaReady() {
    return TM_CRYPTO_READY(SGRSAPrivateKey_Decode) && TM_CRYPTO_READY(SGRSAPrivateKey_Free) &&
           TM_CRYPTO_READY(SGRSAPrivateKey_Encode) && TM_CRYPTO_READY(SGRSAPrivateKey_GetKeySize) &&
           TM_CRYPTO_READY(SGRSAPublicKey_Decode) && TM_CRYPTO_READY(SGRSAPublicKey_Free) &&
           TM_CRYPTO_READY(SGRSAPublicKey_Encode) && TM_CRYPTO_READY(SGRSAPublicKey_GetKeySize) &&
           TM_CRYPTO_READY(SGRSA_GenerateKeyPair) && TM_CRYPTO_READY(SGPKCS1_Sign) &&
           TM_CRYPTO_READY(SGPKCS1_Decrypt);
}

inline bool dsReady() {
    return TM_CRYPTO_READY(SGDSKey_Decode) && TM_CRYPTO_READY(SGDSKey_Clear) &&
           TM_CRYPTO_READY(SGDS_Sign);
}

// ---- Records released on every path --------------------------------------------------------

// Bytes that held a key or a plaintext: wiped before they are released.
class SecretBytes {
  public:
    explicit SecretBytes(size_t size)
        : size_(size ? size : 1),
          data_(size_ <= UINT32_MAX ? static_cast<unsigned char*>(
                                          TM_BASE(SGOS_calloc)(static_cast<uint32_t>(size_), 1))
                                    : nullptr) {}
    SecretBytes(const SecretBytes&) = delete;
    SecretBytes& operator=(const SecretBytes&) = delete;
    ~SecretBytes() {
        if (!data_) return;
        TM_BASE(SGMemory_cleanse)(data_, size_);
        TM_BASE(SGOS_free)(data_);
    }
    unsigned char* data() { return data_; }

  private:
    size_t size_;
    unsigned char* data_;
};

// An SGBinary whose buffer the library allocated, wiped and released when it goes.
struct SecretBinary {
    SGBinary bin{};
    SecretBinary() = default;
    SecretBinary(const SecretBinary&) = delete;
    SecretBinary& operator=(const SecretBinary&) = delete;
    ~SecretBinary() { TM_BASE(SGBinary_Cleanse)(&bin); }
};

// The room of the buffer a handler writes one password into.
constexpr unsigned int kPinBufferSize = 128;

// A password buffer on the stack, wiped when it goes.
struct PinArray {
    char data[kPinBufferSize] = {};
    PinArray() = default;
    PinArray(const PinArray&) = delete;
    PinArray& operator=(const PinArray&) = delete;
    ~PinArray() { TM_BASE(SGMemory_cleanse)(data, sizeof data); }
    bool terminated() const { return std::memchr(data, 0, sizeof data) != nullptr; }
    unsigned char* bytes() { return reinterpret_cast<unsigned char*>(data); }
    unsigned long length() const { return ::strnlen(data, sizeof data); }
};

// A password buffer of zeroed bytes from the token's allocator, wiped when it goes, whatever
// path the operation takes.
class PinBuffer {
  public:
    PinBuffer() : data_(reinterpret_cast<char*>(Token::allocMemory(kPinBufferSize))) {}
    ~PinBuffer() { Token::freeMemory(data_, kPinBufferSize); }
    PinBuffer(const PinBuffer&) = delete;
    PinBuffer& operator=(const PinBuffer&) = delete;
    bool allocated() const { return data_ != nullptr; }
    char* out() { return data_; }
    // A handler that filled the whole buffer wrote no end: its text is refused, never read on.
    bool terminated() const { return data_ && std::memchr(data_, 0, kPinBufferSize) != nullptr; }
    size_t length() const { return ::strnlen(data_, kPinBufferSize); }
    unsigned char* bytes() { return reinterpret_cast<unsigned char*>(data_); }

  private:
    char* data_;
};

struct EncryptedKeyInfo {
    SGPKCS8EncryptedPrivateKeyInfo record{};
    ~EncryptedKeyInfo() { TM_SERVICE(SGPKCS8EncryptedPrivateKeyInfo_Cleanse)(&record); }
};

struct PlainKeyInfo {
    SGPKCS8PrivateKeyInfo record{};
    ~PlainKeyInfo() { TM_SERVICE(SGPKCS8PrivateKeyInfo_Cleanse)(&record); }
};

struct RsaPrivateKey {
    SGRSAPrivateKey key{};
    ~RsaPrivateKey() { TM_CRYPTO(SGRSAPrivateKey_Free)(&key); }
};

struct RsaPublicKey {
    SGRSAPublicKey key{};
    ~RsaPublicKey() { TM_CRYPTO(SGRSAPublicKey_Free)(&key); }
};

struct DsKey {
    SGDSKey key{};
    ~DsKey() {
        if (key.kind) TM_CRYPTO(SGDSKey_Clear)(&key);
    }
};

// KCDSA domain parameter DER that is there: neither absent nor NULL.
inline bool hasKcdsaDomain(const unsigned char* der, size_t length) {
    return der && length > 0 && length <= INT_MAX && !(length == 2 && der[0] == 0x05);
}

// Decoded KCDSA domain parameters, released with the object.
struct KcdsaDomain {
    SGKCDSAParameter value{};
    ~KcdsaDomain() { TM_CRYPTO(SGKCDSAParameter_Clear)(&value); }
    // The DER of hasKcdsaDomain.
    bool decode(const unsigned char* der, size_t length) {
        return TM_CRYPTO(SGKCDSAParameter_Decode)(&value, der, static_cast<int>(length)) == 0;
    }
};

// A buffer handed out by a token, released with freeMemory (wiped over length).
struct TokenBuffer {
    unsigned char* data = nullptr;
    unsigned long length = 0;
    bool secret = false;
    ~TokenBuffer() { Token::freeMemory(data, secret ? length : 0); }
};

// A decoder's answer for a well-formed structure that names an algorithm, or an attribute type,
// the library does not know.
inline bool libraryLacks(int libraryCode) {
    return libraryCode == SG_PKI_ERR_UNKNOWN_ALGORITHM || libraryCode == SG_ASN_ERR_UNKNOWN_OID;
}

// What a failed decryption of a key file means for the caller: only the password can be wrong
// when the file names an encryption the library has and parameters that make sense.
inline int decryptFailure(int libraryCode) {
    switch (libraryCode) {
        case SG_PKI_ERR_UNKNOWN_ALGORITHM:  // a key derivation or PRF the library lacks
        case SG_PKI_ERR_NOT_SUPPORTED:      // a cipher scheme the library lacks
        case SG_CIPHER_ERR_KEY_TOO_SHORT:   // the 40-bit RC4 type
            return TOKEN_ERR_NOT_SUPPORTED;
        case SG_ASN_ERR_RUNTIME:    // undecodable parameters
        case SG_ASN_ERR_MALFORMED:  // parameters out of range (iteration count, IV, key length)
            return TOKEN_ERR_INVALID_DATA;
        case SG_PKI_ERR_MEMORY:
            return TOKEN_ERR_MEMORY;
        default:
            return TOKEN_ERR_KEY_DECRYPT;
    }
}

}  // namespace brindlow::token::keys
