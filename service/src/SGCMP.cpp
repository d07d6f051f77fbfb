// The CMP client: the four operations over one connection each, their request/reply loop, the
// built-in key generator and the result records. Service slots 38 to 42.
#include "SGCMP.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "SGCMPInternal.h"
#include "SGDSKey.h"
#include "SGDigest.h"
#include "SGPKCS1.h"
#include "SGPKCS8.h"
#include "SGPKCSError.h"
#include "SGRSA.h"
#include "SGBaseError.h"
#include "SGMemory.h"
#include "SGRandom.h"
#include "SGServiceInternal.h"
#include "SGX509Certificate.h"

static_assert(sizeof(SGCMPKeyCallbacks) == 40);
static_assert(sizeof(SGCMPParameter) == 112);
static_assert(offsetof(SGCMPParameter, callbacks) == 8);
static_assert(offsetof(SGCMPParameter, connection) == 16);
static_assert(offsetof(SGCMPParameter, regInfoMarker) == 80);
static_assert(offsetof(SGCMPParameter, lowerSpec) == 84);
static_assert(offsetof(SGCMPParameter, shortUpdate) == 88);
static_assert(offsetof(SGCMPParameter, oldKey) == 92);
static_assert(offsetof(SGCMPParameter, makeKMCertificate) == 96);
static_assert(offsetof(SGCMPParameter, singleKey) == 100);
static_assert(offsetof(SGCMPParameter, noConfirmation) == 104);
static_assert(sizeof(SGCMPResult) == 136);
static_assert(offsetof(SGCMPResult, caCertificates) == 32);
static_assert(offsetof(SGCMPResult, privateKeys) == 64);
static_assert(offsetof(SGCMPResult, vidRandom) == 72);
static_assert(offsetof(SGCMPResult, status) == 88);
static_assert(offsetof(SGCMPResult, statusTexts) == 96);
static_assert(offsetof(SGCMPResult, next) == 128);

namespace brindlow::service::cmp {

SGCMPContext::~SGCMPContext() {
    SGCMPCommunication_Close(&connection);
    for (Secret* key : oldPrivateKeys) delete key;
}

namespace {

constexpr size_t kMaxReferenceNumber = 100;
constexpr int kNonceSize = 16;
constexpr int kErrKeyDecode = 10014;

Bytes toBytes(const SGBinary& b) {
    return b.data ? Bytes(b.data, b.data + b.length) : Bytes{};
}

// A new buffer of the library's allocator holding the bytes: 0 or 10002.
int give(SGBinary* out, const Bytes& bytes) {
    *out = SGBinary{};
    if (bytes.empty()) return 0;
    return SG_GBW(SGBinary_Set)(out, bytes.data(), static_cast<uint32_t>(bytes.size())) == 0
               ? 0
               : SG_PKI_ERR_MEMORY;
}

// --- The built-in key generator --------------------------------------------------------------

template <typename Key>
Bytes encodeKey(int (*encode)(unsigned char*, unsigned int*, const Key*), const Key* key) {
    unsigned length = 0;
    if (encode(nullptr, &length, key) != 0 || length == 0) return Bytes{};
    Bytes out(length);
    if (encode(out.data(), &length, key) != 0) {
        wipe(out);
        return Bytes{};
    }
    out.resize(length);
    return out;
}

// The pair of a key index, made on first use (indexes 0 and 1), or the old pair (100, and 0
// when the old key is certified again).
const KeyPair* _SGCMP_RetrieveKeyPair(SGCMPContext* c, int keyIndex) {
    if (keyIndex == SG_CMP_KEY_OLD || (keyIndex == 0 && c->oldKey)) {
        if (c->oldCertificates.empty() || c->oldPrivateKeys.empty()) return nullptr;
        if (c->oldPair.empty()) {
            SGX509Certificate handle{};
            SGBinary der{c->oldCertificates[0].data(),
                         static_cast<uint32_t>(c->oldCertificates[0].size())};
            SGBinary bits{};
            int kind = 0;
            if (SGX509Certificate_FromBinary(&handle, &der) != 0 ||
                SGX509Certificate_GetPublicKeyInfo(&kind, nullptr, &bits, nullptr, &handle) != 0) {
                SGX509Certificate_Clear(&handle);
                return nullptr;
            }
            c->oldPair.emplace_back();
            c->oldPair.back().publicKey = toBytes(bits);
            c->oldPair.back().privateKey = c->oldPrivateKeys[0]->bytes;
            SGX509Certificate_Clear(&handle);
        }
        return &c->oldPair[0];
    }
    if (keyIndex != 0 && keyIndex != 1) return nullptr;
    while (c->keys.size() <= static_cast<size_t>(keyIndex)) {
        auto* privateKey =
            static_cast<SGRSAPrivateKey*>(SG_GBW(SGMemory_calloc)(1, sizeof(SGRSAPrivateKey)));
        auto* publicKey =
            static_cast<SGRSAPublicKey*>(SG_GBW(SGMemory_calloc)(1, sizeof(SGRSAPublicKey)));
        bool made = privateKey && publicKey &&
                    SG_GCW(SGRSA_GenerateKeyPair)(privateKey, publicKey,
                                                  static_cast<unsigned>(c->keySize), 65537) == 0;
        if (made) {
            KeyPair pair;
            pair.publicKey = encodeKey(SG_GCW(SGRSAPublicKey_Encode), publicKey);
            pair.privateKey = encodeKey(SG_GCW(SGRSAPrivateKey_Encode), privateKey);
            made = !pair.publicKey.empty() && !pair.privateKey.empty();
            if (made) {
                c->keys.emplace_back();
                c->keys.back().publicKey = pair.publicKey;
                c->keys.back().privateKey = pair.privateKey;
            }
        }
        if (privateKey) {
            SG_GCW(SGRSAPrivateKey_Free)(privateKey);
            SG_GBW(SGMemory_free)(privateKey);
        }
        if (publicKey) {
            SG_GCW(SGRSAPublicKey_Free)(publicKey);
            SG_GBW(SGMemory_free)(publicKey);
        }
        if (!made) return nullptr;
    }
    return &c->keys[static_cast<size_t>(keyIndex)];
}

int _SGCMP_GetPublicKey(SGBinary* publicKey, SGBinary* parameters, int keyIndex, int,
                        void* userData) {
    if (!publicKey || !userData) return SG_PKI_ERR_ARGUMENT;
    if (parameters) *parameters = SGBinary{};
    const KeyPair* pair = _SGCMP_RetrieveKeyPair(static_cast<SGCMPContext*>(userData), keyIndex);
    if (!pair) return SG_CMP_ERR_NO_KEY;
    return give(publicKey, pair->publicKey);
}

// A decoded RSA private key of the pair, released with the record.
struct PrivateKey {
    SGDSKey* key = nullptr;
    int load(const Bytes& der) {
        key = static_cast<SGDSKey*>(SG_GBW(SGMemory_calloc)(1, sizeof(SGDSKey)));
        if (!key) return SG_PKI_ERR_MEMORY;
        if (der.empty() || SG_GCW(SGDSKey_Decode)(key, der.data(), static_cast<int>(der.size()),
                                                  SG_DSKEY_RSA_PRIVATE) != 0)
            return kErrKeyDecode;
        return 0;
    }
    ~PrivateKey() {
        if (!key) return;
        SG_GCW(SGDSKey_Clear)(key);
        SG_GBW(SGMemory_free)(key);
    }
};

int _SGCMP_Sign(SGBinary* signature, SGBinary* data, int keyIndex, int, int sha256Flag,
                void* userData) {
    if (!signature || !data || !userData) return SG_PKI_ERR_ARGUMENT;
    auto* c = static_cast<SGCMPContext*>(userData);
    const KeyPair* pair = _SGCMP_RetrieveKeyPair(c, keyIndex);
    if (!pair) return SG_CMP_ERR_NO_KEY;
    PrivateKey key;
    if (int r = key.load(pair->privateKey)) return r;
    SGDSParameter parameter;
    std::memset(&parameter, 0, sizeof parameter);
    parameter.kind = SG_DS_RSASSA_PKCS1_V15;
    parameter.key = key.key;
    parameter.v15HashId = sha256Flag ? SG_DIGEST_SHA256 : SG_DIGEST_SHA1;
    unsigned length = 0;
    if (!signature->data || signature->length == 0) {
        int size = 0;
        if (SG_GCW(SGDSKey_GetInfo)(key.key, SG_DSKEY_INFO_KEY_SIZE, &size) != 0 || size <= 0)
            return kErrKeyDecode;
        signature->length = static_cast<uint32_t>(size);
        return SG_CMP_ERR_SIZE_QUERY;
    }
    length = signature->length;
    if (int r = SG_GCW(SGDS_Sign)(signature->data, &length, data->data,
                                  static_cast<int>(data->length), &parameter))
        return r;
    signature->length = length;
    return 0;
}

int _SGCMP_Decrypt(SGBinary* out, SGBinary* in, int keyIndex, void* userData) {
    if (!out || !in || !in->data || !userData) return SG_PKI_ERR_ARGUMENT;
    const KeyPair* pair = _SGCMP_RetrieveKeyPair(static_cast<SGCMPContext*>(userData), keyIndex);
    if (!pair) return SG_PKI_ERR_INTERNAL;
    auto* key = static_cast<SGRSAPrivateKey*>(SG_GBW(SGMemory_calloc)(1, sizeof(SGRSAPrivateKey)));
    auto* p = static_cast<SGPKCS1Parameter*>(SG_GBW(SGMemory_calloc)(1, sizeof(SGPKCS1Parameter)));
    int r = key && p ? 0 : SG_PKI_ERR_MEMORY;
    if (r == 0 && SG_GCW(SGRSAPrivateKey_Decode)(key, pair->privateKey.data(),
                                                 static_cast<int>(pair->privateKey.size())) != 0)
        r = SG_PKI_ERR_INTERNAL;
    Secret plain;
    if (r == 0) {
        p->encryptionScheme = SG_PKCS1_V15_ENCRYPTION;
        p->privateKey = key;
        plain.bytes.resize(in->length);
        unsigned length = in->length;
        r = SG_GCW(SGPKCS1_Decrypt)(plain.bytes.data(), &length, in->data, in->length, p);
        if (r == 0) {
            plain.bytes.resize(length);
            r = give(out, plain.bytes);
        }
    }
    if (key) {
        SG_GCW(SGRSAPrivateKey_Free)(key);
        SG_GBW(SGMemory_free)(key);
    }
    if (p) {
        SG_GBW(SGMemory_cleanse)(p, sizeof *p);
        SG_GBW(SGMemory_free)(p);
    }
    return r;
}

int _SGCMP_DumpPrivateKey(SGBinary* out, int keyIndex, void* userData) {
    if (!out || !userData) return SG_PKI_ERR_ARGUMENT;
    auto* c = static_cast<SGCMPContext*>(userData);
    const bool old = keyIndex == 0 && c->oldKey;
    const std::vector<KeyPair>& store = old ? c->oldPair : c->keys;
    const size_t at = old ? 0 : static_cast<size_t>(keyIndex);
    if (keyIndex < 0 || at >= store.size()) return SG_CMP_ERR_NO_KEY;
    const KeyPair& pair = store[at];
    SGPKCS8PrivateKeyInfo info{};
    info.algorithm = SG_PKCS8_ALGORITHM_RSA;
    info.privateKey = SGBinary{const_cast<unsigned char*>(pair.privateKey.data()),
                               static_cast<uint32_t>(pair.privateKey.size())};
    SGBinary random{c->vidRandom.bytes.data(), static_cast<uint32_t>(c->vidRandom.bytes.size())};
    if (keyIndex == 0 && !c->vidRandom.bytes.empty()) info.randomNum = &random;
    *out = SGBinary{};
    return SGPKCS8PrivateKeyInfo_Encode(out, &info);
}

// --- The operations --------------------------------------------------------------------------

// Parameter rules; 0 or 10001.
int SGCMPContext_Initialize(SGCMPContext& c, int operation, const SGCMPParameter& p) {
    if (p.caKind < 1 || p.caKind > 3) return SG_PKI_ERR_ARGUMENT;
    c.caKind = p.caKind;
    c.operation = operation;
    c.state = operation == kRevoke ? kRrToSend : kGenmToSend;
    c.keySize = p.lowerSpec ? 1024 : 2048;
    c.signatureOid = 12;
    c.sha256 = 1;
    const SGCMPKeyCallbacks* given = p.callbacks;
    if (given && (given->getPublicKey || given->sign || given->dumpPrivateKey)) {
        c.callbacks = *given;
    } else {
        c.builtInKeys = true;
        c.callbacks = SGCMPKeyCallbacks{_SGCMP_GetPublicKey, _SGCMP_Sign, _SGCMP_Decrypt,
                                        _SGCMP_DumpPrivateKey, &c};
    }
    c.connection = p.connection;
    c.connection.socket = -1;
    c.connection.lastFlag = 0;
    if (c.connection.connectTimeout < 1) c.connection.connectTimeout = 5;
    if (c.connection.receiveTimeout < 1) c.connection.receiveTimeout = 5;
    c.regInfoMarker = p.regInfoMarker;
    c.lowerSpec = p.lowerSpec;
    c.shortUpdate = p.shortUpdate;
    c.oldKey = p.oldKey;
    c.makeKM = p.makeKMCertificate;
    c.singleKey = p.singleKey;
    c.noConfirmation = p.noConfirmation && *p.noConfirmation == 1;
    if (c.shortUpdate && (c.oldKey || c.caKind != 1 || operation != kUpdate))
        return SG_PKI_ERR_ARGUMENT;
    if (c.oldKey && (c.singleKey || c.caKind != 1 || operation != kUpdate))
        return SG_PKI_ERR_ARGUMENT;
    if (c.makeKM && (c.caKind != 2 || operation != kUpdate || c.singleKey))
        return SG_PKI_ERR_ARGUMENT;
    if (!c.connection.host) return SG_PKI_ERR_ARGUMENT;
    if (c.connection.port > 65535 || c.connection.port < 0) return SG_PKI_ERR_OUT_OF_RANGE;
    if (c.caKind == 1 && (operation == kIssue || operation == kRecover)) c.senderName = "QV_NA_NEW";
    return 0;
}

// Prepares the state's request: identifiers and nonce.
int prepare(SGCMPContext& c) {
    switch (c.state) {
        case kGenmToSend:
            if (c.operation != kUpdate)
                c.senderKID.assign(c.referenceNumber.begin(), c.referenceNumber.end());
            break;
        case kIrToSend:
        case kKurToSend:
        case kRrToSend:
        case kKrrToSend:
            c.senderNonce.assign(kNonceSize, 0);
            if (SG_GCW(SGRandom_bytes)(c.senderNonce.data(), kNonceSize) != 0)
                return SG_PKI_ERR_INTERNAL;
            break;
        case kConfToSend:
            break;
        default:
            std::printf("%s - WHAT MESSAGE(%d)\n", "SGCMPRequest_Generate", c.state);
            return SG_PKI_ERR_NOT_IMPLEMENTED;
    }
    if (c.caKind == 1) {
        const char* kid = c.lowerSpec ? "lowerspec;101029" : "101029";
        c.recipKID.assign(kid, kid + std::strlen(kid));
    }
    return 0;
}

int SGCMP_Process(SGCMPContext& c) {
    while (c.state != kDone && c.state != kErrorReceived) {
        if (int r = prepare(c)) return r;
        Bytes request;
        if (int r = SGCMPASN_BuildRequest(request, c)) return r;
        if (int r = SGCMPCommunication_SendRequest(request, &c.connection)) return r;
        // The conf is out: from here on the exchange is complete.
        if (c.state == kDone) c.confirmed = true;
        Bytes reply;
        const int received = SGCMPCommunication_RecvResponse(reply, &c.connection);
        // After the conf the exchange is complete, however the authority ends it; before it,
        // an end is a failure, whatever its flag says.
        if (received != 0) return c.confirmed ? 0 : received;
        if (c.connection.lastFlag == kFlagFinal) return c.confirmed ? 0 : SG_CMP_ERR_UNEXPECTED;
        if (reply.empty()) return SG_PKI_ERR_ARGUMENT;
        if (int r = SGCMPASN_ReadReply(c, reply, c.connection.lastFlag)) return r;
    }
    return c.state == kErrorReceived ? SG_CMP_ERR_REJECTED : 0;
}

int addList(SGBinaryList* list, const Bytes& bytes) {
    SGBinary value{const_cast<unsigned char*>(bytes.data()), static_cast<uint32_t>(bytes.size())};
    return SG_GBW(SGBinaryList_Add)(list, &value) == 0 ? 0 : SG_PKI_ERR_MEMORY;
}

void cleanseList(SGBinaryList* list) {
    if (!list || !list->tail) return;
    for (SGBinaryList* n = list; n; n = n->next)
        if (n->value.data) SG_GBW(SGMemory_cleanse)(n->value.data, n->value.length);
}

int fillResult(SGCMPResult* result, SGCMPContext& c) {
    int r = 0;
    for (const Bytes& cert : c.issued)
        if (r == 0) r = addList(&result->issuedCertificates, cert);
    for (const Bytes& cert : c.caCertificates)
        if (r == 0) r = addList(&result->caCertificates, cert);
    if (r == 0) r = give(&result->vidRandom, c.vidRandom.bytes);
    if (r == 0 && c.builtInKeys && c.operation != kRevoke) {
        result->privateKeys = SG_GBW(SGBinaryList_New)();
        if (!result->privateKeys) r = SG_PKI_ERR_MEMORY;
        for (int index = 0; r == 0 && index < 2; ++index) {
            if (index == 1 && (c.singleKey || c.keys.size() < 2)) break;
            SGBinary pkcs8{};
            r = _SGCMP_DumpPrivateKey(&pkcs8, index, &c);
            if (r == 0 && SG_GBW(SGBinaryList_Add)(result->privateKeys, &pkcs8) != 0)
                r = SG_PKI_ERR_MEMORY;
            SG_GBW(SGBinary_Cleanse)(&pkcs8);
        }
    }
    return r;
}

void fillRejection(SGCMPResult* result, const SGCMPContext& c) {
    result->status = c.pkiStatus;
    for (const std::string& t : c.statusTexts)
        addList(&result->statusTexts, Bytes(t.begin(), t.end()));
}

int run(SGCMPResult* result, SGCMPContext& c) {
    if (int r = SGCMPCommunication_Open(&c.connection)) return r;
    int r = SGCMP_Process(c);
    SGCMPCommunication_Close(&c.connection);
    if (r == SG_CMP_ERR_REJECTED) {
        fillRejection(result, c);
    } else if (r == 0) {
        r = fillResult(result, c);
        if (r != 0) SGCMPResult_Reset(result);
    }
    return r;
}

int issueOrRecover(SGCMPResult* result, const char* referenceNumber, const char* authorizationCode,
                   SGCMPParameter* parameters, int operation) {
    if (!result || !referenceNumber || !authorizationCode || !parameters)
        return SG_PKI_ERR_ARGUMENT;
    SGCMPContext c;
    if (int r = SGCMPContext_Initialize(c, operation, *parameters)) return r;
    if (std::strlen(referenceNumber) > kMaxReferenceNumber) {
        SG_GBW(SGBaseError_SetLast)(SG_PKI_ERR_OUT_OF_RANGE, "too long referenceNumber", 0);
        return SG_PKI_ERR_OUT_OF_RANGE;
    }
    c.referenceNumber = referenceNumber;
    c.authorizationCode.bytes.assign(authorizationCode,
                                     authorizationCode + std::strlen(authorizationCode));
    return run(result, c);
}

// Copies the old certificates and keys; the first certificate and, for the built-in keys, its
// private key are required.
int takeOld(SGCMPContext& c, const SGBinaryList* certificates, const SGBinaryList* keys) {
    if (!certificates || !certificates->tail || !certificates->value.data)
        return SG_PKI_ERR_ARGUMENT;
    for (const SGBinaryList* n = certificates; n; n = n->next)
        c.oldCertificates.push_back(toBytes(n->value));
    if (keys && keys->tail)
        for (const SGBinaryList* n = keys; n; n = n->next) {
            auto* key = new Secret;
            key->bytes = toBytes(n->value);
            c.oldPrivateKeys.push_back(key);
        }
    if (c.builtInKeys && (c.oldPrivateKeys.empty() || c.oldPrivateKeys[0]->bytes.empty()))
        return SG_PKI_ERR_ARGUMENT;
    return 0;
}

}  // namespace

}  // namespace brindlow::service::cmp

using namespace brindlow::service::cmp;

extern "C" {

int SGCMP_Issue(SGCMPResult* result, const char* referenceNumber, const char* authorizationCode,
                SGCMPParameter* parameters) {
    try {
        return issueOrRecover(result, referenceNumber, authorizationCode, parameters, kIssue);
    } catch (...) {
        return SG_PKI_ERR_MEMORY;
    }
}

int SGCMP_Recover(SGCMPResult* result, const char* referenceNumber, const char* authorizationCode,
                  SGCMPParameter* parameters) {
    try {
        return issueOrRecover(result, referenceNumber, authorizationCode, parameters, kRecover);
    } catch (...) {
        return SG_PKI_ERR_MEMORY;
    }
}

int SGCMP_Update(SGCMPResult* result, SGBinaryList* oldCertificates, SGBinaryList* oldPrivateKeys,
                 SGCMPParameter* parameters) {
    if (!result || !oldCertificates || !parameters) return SG_PKI_ERR_ARGUMENT;
    try {
        SGCMPContext c;
        if (int r = SGCMPContext_Initialize(c, kUpdate, *parameters)) return r;
        if (int r = takeOld(c, oldCertificates, oldPrivateKeys)) return r;
        SGX509Certificate handle{};
        SGBinary der{c.oldCertificates[0].data(),
                     static_cast<uint32_t>(c.oldCertificates[0].size())};
        const int decoded = SGX509Certificate_FromBinary(&handle, &der);
        SGX509Certificate_Clear(&handle);
        if (decoded != 0) return SG_CMP_ERR_OLD_CERTIFICATE;
        return run(result, c);
    } catch (...) {
        return SG_PKI_ERR_MEMORY;
    }
}

int SGCMP_Revoke(SGCMPResult* result, SGBinaryList* certificates, SGBinaryList* privateKeys,
                 SGCMPParameter* parameters, int reason) {
    if (!result || !certificates || !parameters || reason < 0 || reason > 8)
        return SG_PKI_ERR_ARGUMENT;
    try {
        SGCMPContext c;
        if (int r = SGCMPContext_Initialize(c, kRevoke, *parameters)) return r;
        if (int r = takeOld(c, certificates, privateKeys)) return r;
        c.reason = reason;
        // Every listed certificate is asked for, so each must decode before anything is sent;
        // the first one's key decides the signature.
        int keyBytes = 0;
        for (size_t i = 0; i < c.oldCertificates.size(); ++i) {
            SGX509Certificate handle{};
            SGBinary der{c.oldCertificates[i].data(),
                         static_cast<uint32_t>(c.oldCertificates[i].size())};
            int keyKind = 0;
            int decoded = SGX509Certificate_FromBinary(&handle, &der);
            if (decoded == 0 && i == 0)
                decoded = SGX509Certificate_GetPublicKeyInfo(&keyKind, &keyBytes, nullptr, nullptr,
                                                             &handle);
            SGX509Certificate_Clear(&handle);
            if (decoded != 0) return SG_CMP_ERR_REVOKE_CERTIFICATE;
        }
        // A 1024-bit key signs with SHA-1, larger keys with SHA-256.
        if (keyBytes <= 128) {
            c.signatureOid = 6;
            c.sha256 = 0;
        }
        return run(result, c);
    } catch (...) {
        return SG_PKI_ERR_MEMORY;
    }
}

int SGCMPResult_Reset(SGCMPResult* result) {
    if (!result) return SG_PKI_ERR_ARGUMENT;
    SGCMPResult* node = result;
    while (node) {
        SGCMPResult* next = node->next;
        SG_GBW(SGBinaryList_Reset)(&node->issuedCertificates);
        SG_GBW(SGBinaryList_Reset)(&node->caCertificates);
        SG_GBW(SGBinaryList_Reset)(&node->statusTexts);
        if (node->privateKeys) {
            cleanseList(node->privateKeys);
            SG_GBW(SGBinaryList_Free)(node->privateKeys);
        }
        SG_GBW(SGBinary_Cleanse)(&node->vidRandom);
        std::memset(static_cast<void*>(node), 0, sizeof *node);
        if (node != result) SG_GBW(SGMemory_free)(node);
        node = next;
    }
    return 0;
}

}  // extern "C"
