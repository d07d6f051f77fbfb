// The CMP client's transport (one framed TCP connection per operation) and the protection of
// its messages: the password-based MAC and signatures, made and checked.
#include <poll.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <string>

#include "Platform.h"
#include "SGCMAC.h"
#include "SGCMPInternal.h"
#include "SGCertificateStorage.h"
#include "SGCertificateValidator.h"
#include "SGDSKey.h"
#include "SGDigest.h"
#include "SGIPC.h"
#include "SGPKCSError.h"
#include "SGBaseError.h"
#include "SGMemory.h"
#include "SGRandom.h"
#include "SGServiceInternal.h"
#include "SGSocket.h"
#include "SGX509Certificate.h"

static_assert(sizeof(SGCMPCommunication) == 64);
static_assert(offsetof(SGCMPCommunication, port) == 8);
static_assert(offsetof(SGCMPCommunication, connectTimeout) == 12);
static_assert(offsetof(SGCMPCommunication, receiveTimeout) == 16);
static_assert(offsetof(SGCMPCommunication, socket) == 20);
static_assert(offsetof(SGCMPCommunication, lastFlag) == 24);

namespace brindlow::service::cmp {

namespace {

constexpr int kDefaultTimeout = 5;
constexpr uint32_t kReadPiece = 64u * 1024u;

int timeoutOf(int seconds) {
    return seconds < 1 ? kDefaultTimeout : seconds;
}

// Exactly n bytes, waiting at most the time-out for each piece: 0, or the base layer's code
// (2104 closed, 2107 time-out, -1 error).
int readExactly(int socket, unsigned char* buffer, uint32_t n, int timeout) {
    uint32_t got = 0;
    while (got < n) {
        pollfd p{socket, POLLIN, 0};
        const int ready = ::poll(&p, 1, timeout * 1000);
        if (ready == 0) return SG_SOCKET_ERR_TIMEOUT;
        if (ready < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        const int chunk = static_cast<int>(std::min<uint32_t>(n - got, INT_MAX));
        const int r = SG_GBW(SGSocket_Recv)(socket, buffer + got, chunk, 0);
        if (r == 0) return SG_SOCKET_ERR_CLOSED;
        if (r < 0) return -1;
        got += static_cast<uint32_t>(r);
    }
    return 0;
}

int receiveFailure(int code, const char* step) {
    std::printf("when recv. error(%d:%s)\n", code, step);
    const int last = code == SG_SOCKET_ERR_CLOSED || code == SG_SOCKET_ERR_TIMEOUT
                         ? code
                         : SG_GBW(SGIPC_GetLastErrorReason)(0, nullptr);
    if (last == SG_SOCKET_ERR_CLOSED) {
        std::printf("when recv. get socket is closed.\n");
        return SG_CMP_ERR_CLOSED;
    }
    if (last == SG_SOCKET_ERR_TIMEOUT) {
        std::printf("when recv. get socket timeout.\n");
        return SG_CMP_ERR_TIMEOUT;
    }
    std::printf("when recv. error(%d)\n", code);
    return code;
}

}  // namespace

void wipe(Bytes& bytes) {
    if (!bytes.empty()) SG_GBW(SGMemory_cleanse)(bytes.data(), bytes.size());
    bytes.clear();
}

void wipe(std::string& text) {
    if (!text.empty()) SG_GBW(SGMemory_cleanse)(text.data(), text.size());
    text.clear();
}

int SGCMPCommunication_Open(SGCMPCommunication* connection) {
    if (!connection || !connection->host) return SG_PKI_ERR_ARGUMENT;
    if (connection->port > 65535 || connection->port < 0) return SG_PKI_ERR_OUT_OF_RANGE;
    char port[16];
    std::snprintf(port, sizeof port, "%d", connection->port);
    const int socket =
        SG_GBW(SGSocket_ClientNB)(connection->host, port, timeoutOf(connection->connectTimeout));
    if (socket < 0) return SG_CMP_ERR_CONNECT;
    connection->socket = socket;
    return 0;
}

int SGCMPCommunication_Close(SGCMPCommunication* connection) {
    if (!connection) return SG_PKI_ERR_ARGUMENT;
    if (connection->socket >= 0) SG_GBW(SGSocket_Close)(connection->socket);
    connection->socket = -1;
    return 0;
}

int SGCMPCommunication_SendRequest(const Bytes& der, SGCMPCommunication* connection) {
    if (!connection || connection->socket < 0 || der.empty() || der.size() >= UINT32_MAX - 5)
        return SG_PKI_ERR_ARGUMENT;
    Bytes frame(5 + der.size());
    const uint32_t length = static_cast<uint32_t>(der.size()) + 1;
    frame[0] = static_cast<unsigned char>(length >> 24);
    frame[1] = static_cast<unsigned char>(length >> 16);
    frame[2] = static_cast<unsigned char>(length >> 8);
    frame[3] = static_cast<unsigned char>(length);
    frame[4] = 0;
    std::memcpy(frame.data() + 5, der.data(), der.size());
    return SG_GBW(SGSocket_SendAll)(connection->socket, frame.data(),
                                    static_cast<int>(frame.size()),
                                    timeoutOf(connection->receiveTimeout));
}

int SGCMPCommunication_RecvResponse(Bytes& der, SGCMPCommunication* connection) {
    der.clear();
    if (!connection || connection->socket < 0) return SG_PKI_ERR_ARGUMENT;
    const int timeout = timeoutOf(connection->receiveTimeout);
    unsigned char head[4];
    if (int r = readExactly(connection->socket, head, 4, timeout))
        return receiveFailure(r, "recv length");
    unsigned char flag = 0;
    if (int r = readExactly(connection->socket, &flag, 1, timeout))
        return receiveFailure(r, "recv flag");
    if (flag > kFlagMax) return SG_CMP_ERR_FRAME;
    const uint32_t length = uint32_t{head[0]} << 24 | uint32_t{head[1]} << 16 |
                            uint32_t{head[2]} << 8 | uint32_t{head[3]};
    // The length counts the flag byte: 0 cannot be, and a reply is never near a mebibyte.
    if (length == 0 || length - 1 > kMaxReply) return SG_CMP_ERR_FRAME;
    // The buffer grows with what arrives, so a length alone reserves nothing.
    uint32_t left = length - 1;
    while (left > 0) {
        const uint32_t piece = std::min(left, kReadPiece);
        const size_t at = der.size();
        der.resize(at + piece);
        if (int r = readExactly(connection->socket, der.data() + at, piece, timeout)) {
            der.clear();
            return receiveFailure(r, "recv data");
        }
        left -= piece;
    }
    connection->lastFlag = flag == kFlagFinal || flag == kFlagError ? flag : 0;
    return 0;
}

int SGCMPProtection_CalculatePBMAC(Bytes& mac, const char* prefix, const Bytes& code,
                                   int iterations, int digestId, int cipherId,
                                   const Bytes& protectedPart) {
    mac.clear();
    if (!prefix || iterations < 1 || protectedPart.empty()) return SG_PKI_ERR_ARGUMENT;
    Secret base;
    base.bytes.assign(prefix, prefix + std::strlen(prefix));
    base.bytes.insert(base.bytes.end(), code.begin(), code.end());
    const int size = SG_GCW(SGDigest_GetDigestSize)(digestId);
    if (size < 8) return SG_PKI_ERR_UNKNOWN_ALGORITHM;
    for (int i = 0; i < iterations; ++i) {
        Secret digest;
        digest.bytes.resize(static_cast<size_t>(size));
        const unsigned char empty = 0;
        if (int r = SG_GCW(SGDigest)(digest.bytes.data(), digestId,
                                     base.bytes.empty() ? &empty : base.bytes.data(),
                                     static_cast<uint32_t>(base.bytes.size())))
            return r;
        std::swap(base.bytes, digest.bytes);
    }
    unsigned char out[SG_CMAC_SIZE];
    uint32_t outLength = sizeof out;
    if (int r =
            SG_GCW(SGCMAC)(out, &outLength, cipherId, SG_CMAC_TYPE_CBC_MAC, protectedPart.data(),
                           static_cast<uint32_t>(protectedPart.size()), base.bytes.data(), 8))
        return r;
    mac.assign(out, out + outLength);
    return 0;
}

int SGCMPProtection_GenerateSignature(Bytes& signature, const Bytes& protectedPart, int keyIndex,
                                      int sha256Flag, const SGCMPKeyCallbacks& callbacks) {
    signature.clear();
    if (!callbacks.sign) return SG_CMP_ERR_NO_CALLBACK;
    SGBinary data{const_cast<unsigned char*>(protectedPart.data()),
                  static_cast<uint32_t>(protectedPart.size())};
    SGBinary query{};
    if (callbacks.sign(&query, &data, keyIndex, 0, sha256Flag, callbacks.userData) !=
            SG_CMP_ERR_SIZE_QUERY ||
        query.length == 0 || query.length > 4096)
        return SG_CMP_ERR_SIGN;
    signature.resize(query.length);
    SGBinary out{signature.data(), query.length};
    if (callbacks.sign(&out, &data, keyIndex, 0, sha256Flag, callbacks.userData) != 0 ||
        out.data != signature.data() || out.length == 0 || out.length > query.length) {
        signature.clear();
        return SG_CMP_ERR_SIGN;
    }
    signature.resize(out.length);
    return 0;
}

int SGCMPProtection_VerifySignature(const Bytes& signature, const Bytes& protectedPart,
                                    const Bytes& certificate, int digestId) {
    if (certificate.empty() || signature.empty() || protectedPart.empty())
        return SG_CMP_ERR_SIGNATURE;
    SGX509Certificate handle{};
    SGBinary der{const_cast<unsigned char*>(certificate.data()),
                 static_cast<uint32_t>(certificate.size())};
    if (int r = SGX509Certificate_FromBinary(&handle, &der)) return r;
    int kind = 0;
    SGBinary bits{};
    int result = SGX509Certificate_GetPublicKeyInfo(&kind, nullptr, &bits, nullptr, &handle);
    auto* key = static_cast<SGDSKey*>(SG_GBW(SGMemory_calloc)(1, sizeof(SGDSKey)));
    if (!key) result = SG_PKI_ERR_MEMORY;
    if (result == 0 && (kind != SG_X509_KEY_RSA || !bits.data ||
                        SG_GCW(SGDSKey_Decode)(key, bits.data, static_cast<int>(bits.length),
                                               SG_DSKEY_RSA_PUBLIC) != 0))
        result = 10014;
    if (result == 0) {
        SGDSParameter parameter;
        std::memset(&parameter, 0, sizeof parameter);
        parameter.kind = SG_DS_RSASSA_PKCS1_V15;
        parameter.key = key;
        parameter.v15HashId = digestId;
        if (SG_GCW(SGDS_Verify)(signature.data(), static_cast<int>(signature.size()),
                                protectedPart.data(), static_cast<int>(protectedPart.size()),
                                &parameter) != 0)
            result = SG_CMP_ERR_SIGNATURE;
        SG_GCW(SGDSKey_Clear)(key);
    }
    if (key) SG_GBW(SGMemory_free)(key);
    SGX509Certificate_Clear(&handle);
    return result;
}

namespace {

// The user's NPKI storage, read when an authority certificate is to be checked.
struct NpkiStorage {
    SGCertificateStorage storage;
    int read;
    NpkiStorage() {
        std::memset(&storage, 0, sizeof storage);
        const std::string folder = platform::homeDirectory() + "/Library/Preferences/NPKI";
        SGBinary path{reinterpret_cast<unsigned char*>(const_cast<char*>(folder.c_str())),
                      static_cast<uint32_t>(folder.size())};
        read = SGCertificateStorage_CreateByPath(&storage, &path, SG_CERTIFICATE_STORAGE_NPKI);
    }
    ~NpkiStorage() { SGCertificateStorage_Clear(&storage); }
};

}  // namespace

Bytes SGCMP_IssuerInStorage(const Bytes& certificate) {
    NpkiStorage npki;
    if (npki.read != 0 || certificate.empty()) return Bytes{};
    SGBinary der{const_cast<unsigned char*>(certificate.data()),
                 static_cast<uint32_t>(certificate.size())};
    SGBinary out{};
    Bytes issuer;
    if (SGCertificateValidator_FindIssuer(&out, &npki.storage, &der) == 0 && out.data)
        issuer.assign(out.data, out.data + out.length);
    SG_GBW(SGBinary_Reset)(&out);
    return issuer;
}

bool SGCMP_IsTrustedAuthority(const Bytes& certificate) {
    if (certificate.empty()) return false;
    NpkiStorage npki;
    SGCertificateStorage& storage = npki.storage;
    bool trusted = false;
    if (npki.read == 0) {
        // The authority's own certificates are checked for their path, signatures, validity
        // and constraints; their revocation would need the directory in the middle of the
        // exchange and is left to the regular certificate checks.
        SGCertificateValidatorOptions options{&storage, SG_VALIDATOR_IGNORE_CRL};
        SGBinary der{const_cast<unsigned char*>(certificate.data()),
                     static_cast<uint32_t>(certificate.size())};
        int reason = 0;
        const int rv = SGCertificateValidator_ValidateFullPath(&reason, &der, &options);
        trusted = rv == 0;
    }
    return trusted;
}

}  // namespace brindlow::service::cmp
