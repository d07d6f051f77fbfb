#include "SGPKCS12.h"

#include <climits>
#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "AuthenticatedSafe.h"
#include "CertBag.h"
#include "ContentInfo.h"
#include "DigestInfo.h"
#include "EncryptedData.h"
#include "MacData.h"
#include "PFX.h"
#include "SGASN1C.h"
#include "SGASNObjectID.h"
#include "SGCertificateSet.h"
#include "SGCertificateStorage.h"
#include "SGCodec.h"
#include "SGDigest.h"
#include "SGHMAC.h"
#include "SGMemory.h"
#include "SGPKCS12Internal.h"
#include "SGPKCS5.h"
#include "SGPKCS7.h"
#include "SGPKCS7EnvelopedData.h"
#include "SGPKCS8.h"
#include "SGPKCSError.h"
#include "SGRandom.h"
#include "SGServiceInternal.h"
#include "SGX509Certificate.h"
#include "SafeBag.h"
#include "SafeContents.h"

static_assert(sizeof(SGPKCS12Attribute) == 32);
static_assert(offsetof(SGPKCS12Attribute, friendlyName) == 8);
static_assert(offsetof(SGPKCS12Attribute, values) == 16);
static_assert(offsetof(SGPKCS12Attribute, next) == 24);
static_assert(sizeof(SGPKCS12SafeBag) == 40);
static_assert(offsetof(SGPKCS12SafeBag, bagType) == 4);
static_assert(offsetof(SGPKCS12SafeBag, value) == 8);
static_assert(offsetof(SGPKCS12SafeBag, decoded) == 16);
static_assert(offsetof(SGPKCS12SafeBag, attributes) == 24);
static_assert(offsetof(SGPKCS12SafeBag, next) == 32);
static_assert(sizeof(SGPKCS12PFX) == 16);
static_assert(offsetof(SGPKCS12PFX, count) == 8);

namespace {

constexpr int kMacLength = 20;  // HMAC-SHA-1

// Safes written and read as PKCS #7 EncryptedData (password-based, the PKCS #12 schemes).
int encryptSafe(SGBinary* out, const SGBinary& safeContents, const SGBinary& password);
int decryptSafe(SGBinary* out, const SGBinary& encryptedData, const SGBinary& password,
                bool unicode);

// ------------------------------------------------------------------------------------------------
// Buffers and records.

void wipe(void* p, size_t n) {
    if (p && n) SG_GBW(SGMemory_cleanse)(p, n);
}

SGBinary view(const uint8_t* buf, int size) {
    return SGBinary{const_cast<uint8_t*>(buf), size > 0 ? static_cast<uint32_t>(size) : 0};
}

bool badBinary(const SGBinary* b) {
    return !b || (!b->data && b->length);
}

// A new record holding a copy of the bytes; null without memory.
SGBinary* newCopy(const unsigned char* bytes, uint32_t length) {
    auto* record = static_cast<SGBinary*>(SG_GBW(SGMemory_calloc)(1, sizeof(SGBinary)));
    if (!record) return nullptr;
    if (bytes && length && SG_GBW(SGBinary_Set)(record, bytes, length) != 0) {
        SG_GBW(SGMemory_free)(record);
        return nullptr;
    }
    return record;
}
SGBinary* newCopy(const SGBinary& b) {
    return newCopy(b.data, b.length);
}

void releaseRecord(SGBinary*& record) {
    if (!record) return;
    SG_GBW(SGBinary_Cleanse)(record);
    SG_GBW(SGMemory_free)(record);
    record = nullptr;
}

void releaseKey(void*& decoded) {
    if (!decoded) return;
    auto* info = static_cast<SGPKCS8PrivateKeyInfo*>(decoded);
    SGPKCS8PrivateKeyInfo_Cleanse(info);
    SG_GBW(SGMemory_free)(info);
    decoded = nullptr;
}

// A working buffer that is wiped when it goes.
struct Buffer {
    SGBinary b{};
    Buffer() = default;
    Buffer(const Buffer&) = delete;
    Buffer& operator=(const Buffer&) = delete;
    ~Buffer() { SG_GBW(SGBinary_Cleanse)(&b); }
};

// A decoded structure freed (and its key material wiped by the caller) when it goes.
template <typename T>
struct Decoded {
    T* value = nullptr;
    asn_TYPE_descriptor_t* type;
    explicit Decoded(asn_TYPE_descriptor_t* t) : type(t) {}
    Decoded(const Decoded&) = delete;
    Decoded& operator=(const Decoded&) = delete;
    ~Decoded() {
        if (value) SGASN1CObject_Free(value, type);
    }
    int decode(const SGBinary& der) {
        void* out = nullptr;
        if (SGASN1CObject_Decode(&out, type, &der) != 0) return SG_ASN_ERR_RUNTIME;
        value = static_cast<T*>(out);
        return 0;
    }
};

// A structure on the stack, cleared when it goes.
template <typename T>
struct Built {
    T value{};
    asn_TYPE_descriptor_t* type;
    explicit Built(asn_TYPE_descriptor_t* t) : type(t) {}
    Built(const Built&) = delete;
    Built& operator=(const Built&) = delete;
    ~Built() { SGASN1CObject_Clear(&value, type); }
};

int oidIdOf(const OBJECT_IDENTIFIER_t& oid) {
    SGBinary contents = view(oid.buf, oid.size);
    return contents.length ? SGASNObjectID_Search(&contents) : 0;
}

// The octets of an OCTET STRING held as the TLV of an ANY (BER, constructed forms included).
int octetsOfAny(Buffer& out, const ANY_t& any) {
    Decoded<OCTET_STRING_t> os(&asn_DEF_OCTET_STRING);
    if (os.decode(view(any.buf, any.size)) != 0) return SG_ASN_ERR_RUNTIME;
    int r = 0;
    if (os.value->size > 0 &&
        SG_GBW(SGBinary_Set)(&out.b, os.value->buf, static_cast<uint32_t>(os.value->size)) != 0)
        r = SG_PKI_ERR_MEMORY;
    wipe(os.value->buf, os.value->size > 0 ? static_cast<size_t>(os.value->size) : 0);
    return r;
}

// The ANY holding the DER OCTET STRING of the bytes.
int anyOfOctets(ANY_t* any, const SGBinary& bytes) {
    if (bytes.length > INT_MAX) return SG_PKI_ERR_OUT_OF_RANGE;
    Built<OCTET_STRING_t> os(&asn_DEF_OCTET_STRING);
    if (OCTET_STRING_fromBuf(&os.value, reinterpret_cast<const char*>(bytes.data),
                             static_cast<int>(bytes.length)) != 0)
        return SG_PKI_ERR_MEMORY;
    const int r = SGASN1CAny_SetFromASN1CType(any, &os.value, &asn_DEF_OCTET_STRING);
    wipe(os.value.buf, os.value.size > 0 ? static_cast<size_t>(os.value.size) : 0);
    return r;
}

// ------------------------------------------------------------------------------------------------
// The model.

SGPKCS12Attribute* newAttribute(const SGBinary* localKeyId, const SGBinary* friendlyName) {
    auto* a =
        static_cast<SGPKCS12Attribute*>(SG_GBW(SGMemory_calloc)(1, sizeof(SGPKCS12Attribute)));
    if (!a) return nullptr;
    bool ok = true;
    if (localKeyId && !(a->localKeyId = newCopy(*localKeyId))) ok = false;
    if (ok && friendlyName && !(a->friendlyName = newCopy(*friendlyName))) ok = false;
    if (!ok) {
        SGPKCS12Attribute_Clear(a);
        return nullptr;
    }
    return a;
}

bool isEmptySafe(const SGPKCS12SafeBag& head) {
    return head.bagType == 0 && !head.value && !head.decoded && !head.attributes && !head.next &&
           head.flags == 0;
}

// Grows the array to hold the index; new entries are empty.
int growTo(SGPKCS12PFX* pfx, int index) {
    if (index < pfx->count) return 0;
    const size_t n = static_cast<size_t>(index) + 1;
    auto* safes =
        static_cast<SGPKCS12SafeBag*>(SG_GBW(SGMemory_calloc)(n, sizeof(SGPKCS12SafeBag)));
    if (!safes) return SG_PKI_ERR_MEMORY;
    if (pfx->safes && pfx->count > 0)
        std::memcpy(safes, pfx->safes, static_cast<size_t>(pfx->count) * sizeof(SGPKCS12SafeBag));
    SG_GBW(SGMemory_free)(pfx->safes);
    pfx->safes = safes;
    pfx->count = index + 1;
    return 0;
}

// Moves a heap node into the safe: an empty head takes its fields, otherwise it is appended.
int placeNode(SGPKCS12PFX* pfx, int index, SGPKCS12SafeBag* node) {
    if (int r = growTo(pfx, index)) return r;
    SGPKCS12SafeBag& head = pfx->safes[index];
    if (isEmptySafe(head)) {
        head = *node;
        head.next = nullptr;
        SG_GBW(SGMemory_free)(node);
        return 0;
    }
    SGPKCS12SafeBag* last = &head;
    while (last->next) last = last->next;
    last->next = node;
    return 0;
}

// The last localKeyId or friendlyName of an attribute list; null when there is none.
const SGBinary* attributeValue(const SGPKCS12Attribute* list, int kind) {
    const SGBinary* found = nullptr;
    for (const SGPKCS12Attribute* a = list; a; a = a->next) {
        const SGBinary* v = kind == 1 ? a->localKeyId : a->friendlyName;
        if (v) found = v;
    }
    return found;
}

// The certificate DER of a certificate bag.
const SGBinary* certificateOf(const SGPKCS12SafeBag& bag) {
    if (bag.decoded) return static_cast<const SGBinary*>(bag.decoded);
    return bag.value;
}

// Every bag in array and list order.
template <typename F>
void forEachBag(const SGPKCS12PFX* pfx, F&& f) {
    for (int i = 0; i < pfx->count; ++i)
        for (const SGPKCS12SafeBag* b = &pfx->safes[i]; b; b = b->next)
            if (!f(*b)) return;
}

template <typename F>
int guarded(F&& f) {
    try {
        return f();
    } catch (...) {
        return SG_PKI_ERR_INTERNAL;
    }
}

// ------------------------------------------------------------------------------------------------
// Passwords and the MAC.

// The standard PKCS #12 form of a UTF-8 password: UTF-16 big-endian without the terminator
// (the derivation appends it). False when the text does not convert.
bool bmpFormOf(Buffer& out, const SGBinary& password) {
    std::string text(reinterpret_cast<const char*>(password.data), password.length);
    if (text.find('\0') != std::string::npos) return false;
    char* utf16 = nullptr;
    const int r =
        SG_GBW(SGCodecConvertCodeSet)("ko_KR.UTF-8", "ko_KR.UTF-16-BE", text.c_str(), &utf16);
    wipe(text.data(), text.size());
    if (r != 0 || !utf16) return false;
    size_t n = 0;
    while (utf16[n] || utf16[n + 1]) n += 2;
    const bool ok = SG_GBW(SGBinary_Set)(&out.b, utf16, static_cast<uint32_t>(n)) == 0;
    wipe(utf16, n);
    SG_GBW(SGMemory_free)(utf16);
    return ok;
}

bool hasNonAscii(const SGBinary& password) {
    for (uint32_t i = 0; i < password.length; ++i)
        if (password.data[i] & 0x80) return true;
    return false;
}

// HMAC-SHA-1 over the data under the PKCS #12 MAC key of the password (widened bytes, or the
// BMPString form when unicode).
int computeMac(unsigned char mac[kMacLength], const SGBinary& data, const SGBinary& salt,
               int iterations, const SGBinary& password, bool unicode) {
    Buffer key;
    int r = unicode ? SGPKCS5_PBE_PKCS12Unicode(&key.b, SG_PKCS12_ID_MAC, &salt, iterations,
                                                &password, kMacLength, SG_DIGEST_SHA1)
                    : SGPKCS5_PBE_PKCS12(&key.b, SG_PKCS12_ID_MAC, &salt, iterations, &password,
                                         kMacLength, SG_DIGEST_SHA1);
    if (r != 0) return r;
    static const unsigned char kNothing[1] = {0};
    unsigned char value[64];
    uint32_t length = sizeof value;
    r = SG_GCW(SGHMAC)(value, &length, SG_DIGEST_SHA1, data.data ? data.data : kNothing,
                       data.length, key.b.data, key.b.length);
    if (r == 0 && length != kMacLength) r = SG_PKI_ERR_INTERNAL;
    if (r == 0) std::memcpy(mac, value, kMacLength);
    wipe(value, sizeof value);
    return r;
}

bool sameBytes(const unsigned char* a, const unsigned char* b, size_t n) {
    unsigned char diff = 0;
    for (size_t i = 0; i < n; ++i) diff |= static_cast<unsigned char>(a[i] ^ b[i]);
    return diff == 0;
}

// ------------------------------------------------------------------------------------------------
// Encoding.

int attributeOf(Attribute_t* out, int oidId, asn_TYPE_descriptor_t* type, const SGBinary& bytes) {
    if (bytes.length > INT_MAX) return SG_PKI_ERR_OUT_OF_RANGE;
    Built<OCTET_STRING_t> value(type);
    if (OCTET_STRING_fromBuf(&value.value, reinterpret_cast<const char*>(bytes.data),
                             static_cast<int>(bytes.length)) != 0)
        return SG_PKI_ERR_MEMORY;
    Buffer der;
    if (int r = SGASN1CObject_Encode(&der.b, type, &value.value)) return r;
    return SGASN1CAttribute_Set(out, oidId, &der.b);
}

// friendlyName: the UTF-8 text as a BMPString (UTF-16 big-endian, no terminator).
int friendlyNameAttribute(Attribute_t* out, const SGBinary& utf8) {
    Buffer bmp;
    if (utf8.length && !bmpFormOf(bmp, utf8)) return SG_ASN_ERR_ENCODE;
    return attributeOf(out, SG_OID_FRIENDLY_NAME, &asn_DEF_BMPString, bmp.b);
}

int addAttribute(SafeBag_t* bag, int oidId, const SGBinary& value) {
    auto* a = static_cast<Attribute_t*>(SGASN1C_calloc(1, sizeof(Attribute_t)));
    if (!a) return SG_PKI_ERR_MEMORY;
    int r = oidId == SG_OID_LOCAL_KEY_ID ? attributeOf(a, oidId, &asn_DEF_OCTET_STRING, value)
                                         : friendlyNameAttribute(a, value);
    if (r == 0 && !bag->bagAttributes) {
        bag->bagAttributes = static_cast<SafeBag_t::SafeBag__bagAttributes*>(
            SGASN1C_calloc(1, sizeof(*bag->bagAttributes)));
        if (!bag->bagAttributes) r = SG_PKI_ERR_MEMORY;
    }
    if (r == 0) r = SGASN1CSet_Add(bag->bagAttributes, a);
    if (r != 0) SGASN1CObject_Free(a, &asn_DEF_Attribute);
    return r;
}

// The PrivateKeyInfo DER of a key node: its plain value, or the decoded key encoded again.
int plainKeyOf(Buffer& out, const SGPKCS12SafeBag& node) {
    if (node.decoded)
        return SGPKCS8PrivateKeyInfo_Encode(
            &out.b, static_cast<const SGPKCS8PrivateKeyInfo*>(node.decoded));
    if (!node.value) return SG_PKI_ERR_ARGUMENT;
    return SG_GBW(SGBinary_Set)(&out.b, node.value->data, node.value->length) == 0
               ? 0
               : SG_PKI_ERR_MEMORY;
}

// Shrouds a key node under the password: its value becomes the EncryptedPrivateKeyInfo DER.
int shroud(SGPKCS12SafeBag& node, const SGBinary& password) {
    Buffer plain;
    if (int r = plainKeyOf(plain, node)) return r;
    if (plain.b.length > INT_MAX || password.length > INT_MAX) return SG_PKI_ERR_OUT_OF_RANGE;
    SGPKCS5PBESParam param{};
    param.pbeType = SG_PBE_SHA_3DES;
    param.iterations = SG_PKCS12_KEY_ITERATIONS;
    SGPKCS8EncryptedPrivateKeyInfo encrypted{};
    static const unsigned char kNothing[1] = {0};
    int r = SGPKCS5Encrypt(
        &encrypted, plain.b.data ? plain.b.data : kNothing, static_cast<int>(plain.b.length),
        password.data ? password.data : kNothing, static_cast<int>(password.length), &param);
    SGBinary der{};
    if (r == 0) r = SGPKCS8EncryptedPrivateKeyInfo_Encode(&der, &encrypted);
    SGPKCS8EncryptedPrivateKeyInfo_Cleanse(&encrypted);
    if (r != 0) return r;
    SGBinary* record = static_cast<SGBinary*>(SG_GBW(SGMemory_calloc)(1, sizeof(SGBinary)));
    if (!record) {
        SG_GBW(SGBinary_Reset)(&der);
        return SG_PKI_ERR_MEMORY;
    }
    *record = der;
    releaseRecord(node.value);
    node.value = record;
    node.flags &= ~SG_PKCS12_FLAG_SHROUD;
    return 0;
}

// One SafeBag of a node.
int encodeBag(SafeBag_t* bag, SGPKCS12SafeBag& node, const SGBinary& password) {
    int r = 0;
    switch (node.bagType) {
        case SG_PKCS12_BAG_CERTIFICATE: {
            const SGBinary* certificate = certificateOf(node);
            if (!certificate) return SG_PKI_ERR_ARGUMENT;
            Built<CertBag_t> certBag(&asn_DEF_CertBag);
            r = SGASN1CObjectIdentifier_Set(&certBag.value.certId, SG_OID_X509_CERTIFICATE);
            if (r == 0) r = anyOfOctets(&certBag.value.certValue, *certificate);
            if (r == 0) r = SGASN1CObjectIdentifier_Set(&bag->bagId, SG_OID_CERT_BAG);
            if (r == 0)
                r = SGASN1CAny_SetFromASN1CType(&bag->bagValue, &certBag.value, &asn_DEF_CertBag);
            break;
        }
        case SG_PKCS12_BAG_SHROUDED_KEY:
            if ((node.flags & SG_PKCS12_FLAG_SHROUD) || !node.value) r = shroud(node, password);
            if (r == 0) r = SGASN1CObjectIdentifier_Set(&bag->bagId, SG_OID_PKCS8_SHROUDED_KEY_BAG);
            if (r == 0) r = SGASN1CAny_SetCopied(&bag->bagValue, node.value);
            break;
        case SG_PKCS12_BAG_KEY: {
            Buffer plain;
            r = plainKeyOf(plain, node);
            if (r == 0) r = SGASN1CObjectIdentifier_Set(&bag->bagId, SG_OID_KEY_BAG);
            if (r == 0) r = SGASN1CAny_SetCopied(&bag->bagValue, &plain.b);
            break;
        }
        default:
            return SG_PKI_ERR_UNKNOWN_ALGORITHM;
    }
    if (r != 0) return r;
    for (const SGPKCS12Attribute* a = node.attributes; a && r == 0; a = a->next) {
        if (a->localKeyId) r = addAttribute(bag, SG_OID_LOCAL_KEY_ID, *a->localKeyId);
        if (r == 0 && a->friendlyName)
            r = addAttribute(bag, SG_OID_FRIENDLY_NAME, *a->friendlyName);
    }
    return r;
}

// The wipe of a bag value that may hold a plain key, before the runtime frees it.
void wipeSafeContents(SafeContents_t* contents) {
    for (int i = 0; i < contents->list.count; ++i) {
        SafeBag_t* bag = contents->list.array[i];
        if (bag && bag->bagValue.buf && bag->bagValue.size > 0)
            wipe(bag->bagValue.buf, static_cast<size_t>(bag->bagValue.size));
    }
}

// The DER SafeContents of one safe.
int encodeSafe(Buffer& out, SGPKCS12SafeBag& head, const SGBinary& password) {
    Built<SafeContents_t> contents(&asn_DEF_SafeContents);
    int r = 0;
    for (SGPKCS12SafeBag* node = &head; node && r == 0; node = node->next) {
        auto* bag = static_cast<SafeBag_t*>(SGASN1C_calloc(1, sizeof(SafeBag_t)));
        if (!bag) {
            r = SG_PKI_ERR_MEMORY;
            break;
        }
        r = encodeBag(bag, *node, password);
        if (r == 0) r = SGASN1CSequence_Add(&contents.value, bag);
        if (r != 0) {
            if (bag->bagValue.buf && bag->bagValue.size > 0)
                wipe(bag->bagValue.buf, static_cast<size_t>(bag->bagValue.size));
            SGASN1CObject_Free(bag, &asn_DEF_SafeBag);
        }
    }
    if (r == 0 && SGASN1CObject_Encode(&out.b, &asn_DEF_SafeContents, &contents.value) != 0)
        r = SG_ASN_ERR_ENCODE;
    wipeSafeContents(&contents.value);
    return r;
}

// A ContentInfo of the safe: data, or EncryptedData under the password.
int safeContentInfo(ContentInfo_t* out, const SGBinary& safeContents, bool encrypt,
                    const SGBinary& password) {
    if (encrypt) {
        Buffer encrypted;
        if (int r = encryptSafe(&encrypted.b, safeContents, password)) return r;
        if (int r = SGASN1CObjectIdentifier_Set(&out->contentType, SG_OID_ENCRYPTED_DATA)) return r;
        return SGASN1CAny_SetCopied(&out->content, &encrypted.b);
    }
    if (int r = SGASN1CObjectIdentifier_Set(&out->contentType, SG_OID_DATA)) return r;
    return anyOfOctets(&out->content, safeContents);
}

int encodePfx(SGBinary* out, SGPKCS12PFX* pfx, const SGBinary& password, void* option) {
    Built<AuthenticatedSafe_t> authSafe(&asn_DEF_AuthenticatedSafe);
    for (int i = 0; i < pfx->count; ++i) {
        SGPKCS12SafeBag& head = pfx->safes[i];
        const bool encrypt = (head.flags & SG_PKCS12_FLAG_ENCRYPT_SAFE) != 0;
        if (encrypt && password.length == 0)
            return option ? SG_PKCS7_ERR_OPTION : SG_PKI_ERR_NOT_IMPLEMENTED;
        Buffer safeContents;
        if (int r = encodeSafe(safeContents, head, password))
            return r == SG_ASN_ERR_RUNTIME ? SG_ASN_ERR_ENCODE : r;
        auto* info = static_cast<ContentInfo_t*>(SGASN1C_calloc(1, sizeof(ContentInfo_t)));
        if (!info) return SG_PKI_ERR_MEMORY;
        int r = safeContentInfo(info, safeContents.b, encrypt, password);
        if (r == 0) r = SGASN1CSequence_Add(&authSafe.value, info);
        if (r != 0) {
            if (info->content.buf && info->content.size > 0)
                wipe(info->content.buf, static_cast<size_t>(info->content.size));
            SGASN1CObject_Free(info, &asn_DEF_ContentInfo);
            return r;
        }
    }
    Buffer authSafeDer;
    int r = SGASN1CObject_Encode(&authSafeDer.b, &asn_DEF_AuthenticatedSafe, &authSafe.value);
    for (int i = 0; i < authSafe.value.list.count; ++i) {
        ContentInfo_t* info = authSafe.value.list.array[i];
        if (info && info->content.buf && info->content.size > 0)
            wipe(info->content.buf, static_cast<size_t>(info->content.size));
    }
    if (r != 0) return SG_ASN_ERR_ENCODE;

    unsigned char salt[SG_PKCS12_MAC_SALT_LENGTH];
    if (int e = SG_GCW(SGRandom_bytes)(salt, sizeof salt)) return e;
    const SGBinary saltBinary{salt, sizeof salt};
    unsigned char mac[kMacLength];
    if (int e =
            computeMac(mac, authSafeDer.b, saltBinary, SG_PKCS12_MAC_ITERATIONS, password, false))
        return e;

    Built<PFX_t> file(&asn_DEF_PFX);
    r = SGASN1CInteger_Set(&file.value.version, 3);
    if (r == 0) r = SGASN1CObjectIdentifier_Set(&file.value.authSafe.contentType, SG_OID_DATA);
    if (r == 0) r = anyOfOctets(&file.value.authSafe.content, authSafeDer.b);
    if (r == 0) {
        file.value.macData = static_cast<MacData_t*>(SGASN1C_calloc(1, sizeof(MacData_t)));
        if (!file.value.macData) r = SG_PKI_ERR_MEMORY;
    }
    if (r == 0) {
        MacData_t& macData = *file.value.macData;
        r = SGASN1CAlgorithmIdentifier_Set(&macData.mac.digestAlgorithm, SG_OID_SHA1,
                                           SG_ASN1C_NULL_PARAMETERS);
        if (r == 0) r = SGASN1COctetString_SetFromBuf(&macData.mac.digest, mac, kMacLength);
        if (r == 0) r = SGASN1COctetString_SetFromBuf(&macData.macSalt, salt, sizeof salt);
        if (r == 0) {
            macData.iterations = static_cast<INTEGER_t*>(SGASN1C_calloc(1, sizeof(INTEGER_t)));
            if (!macData.iterations) r = SG_PKI_ERR_MEMORY;
        }
        if (r == 0) r = SGASN1CInteger_Set(macData.iterations, SG_PKCS12_MAC_ITERATIONS);
    }
    if (r == 0) r = SGASN1CObject_Encode(out, &asn_DEF_PFX, &file.value);
    if (file.value.authSafe.content.buf && file.value.authSafe.content.size > 0)
        wipe(file.value.authSafe.content.buf,
             static_cast<size_t>(file.value.authSafe.content.size));
    return r == SG_ASN_ERR_RUNTIME ? SG_ASN_ERR_ENCODE : r;
}

// ------------------------------------------------------------------------------------------------
// Decoding.

// Checks the MacData over the authSafe contents; *unicode tells which password form verified.
int checkMac(const MacData_t& macData, const SGBinary& authSafe, const SGBinary& password,
             bool* unicode) {
    if (oidIdOf(macData.mac.digestAlgorithm.algorithm) != SG_OID_SHA1)
        return SG_PKI_ERR_UNKNOWN_ALGORITHM;
    long iterations = 1;
    if (macData.iterations && asn_INTEGER2long(macData.iterations, &iterations) != 0)
        return SG_PKI_ERR_OUT_OF_RANGE;
    if (iterations < 1 || iterations > SG_PKCS12_MAX_ITERATIONS) return SG_PKI_ERR_OUT_OF_RANGE;
    // Exactly one HMAC-SHA-1 value: a shorter one would match on a prefix.
    if (macData.mac.digest.size != kMacLength || !macData.mac.digest.buf) return SG_PKCS12_ERR_MAC;
    const SGBinary salt = view(macData.macSalt.buf, macData.macSalt.size);
    unsigned char mac[kMacLength];
    int r = computeMac(mac, authSafe, salt, static_cast<int>(iterations), password, false);
    if (r != 0) return r;
    if (sameBytes(mac, macData.mac.digest.buf, kMacLength)) {
        *unicode = false;
        return 0;
    }
    if (!hasNonAscii(password)) return SG_PKCS12_ERR_MAC;
    Buffer bmp;
    if (!bmpFormOf(bmp, password)) return SG_PKCS12_ERR_MAC;
    r = computeMac(mac, authSafe, salt, static_cast<int>(iterations), bmp.b, true);
    if (r != 0) return r;
    if (!sameBytes(mac, macData.mac.digest.buf, kMacLength)) return SG_PKCS12_ERR_MAC;
    *unicode = true;
    return 0;
}

// A node of a SafeBag read from a file; null with *result set on failure.
SGPKCS12SafeBag* nodeOfBag(const SafeBag_t& bag, int* result) {
    auto* node = static_cast<SGPKCS12SafeBag*>(SG_GBW(SGMemory_calloc)(1, sizeof(SGPKCS12SafeBag)));
    if (!node) {
        *result = SG_PKI_ERR_MEMORY;
        return nullptr;
    }
    int r = 0;
    const SGBinary value = view(bag.bagValue.buf, bag.bagValue.size);
    switch (oidIdOf(bag.bagId)) {
        case SG_OID_CERT_BAG: {
            Decoded<CertBag_t> certBag(&asn_DEF_CertBag);
            if (certBag.decode(value) != 0) {
                r = SG_ASN_ERR_RUNTIME;
                break;
            }
            if (oidIdOf(certBag.value->certId) != SG_OID_X509_CERTIFICATE) break;
            Buffer certificate;
            r = octetsOfAny(certificate, certBag.value->certValue);
            if (r != 0) break;
            node->bagType = SG_PKCS12_BAG_CERTIFICATE;
            node->value = newCopy(certificate.b);
            node->decoded = newCopy(certificate.b);
            if (!node->value || !node->decoded) r = SG_PKI_ERR_MEMORY;
            break;
        }
        case SG_OID_PKCS8_SHROUDED_KEY_BAG:
            node->bagType = SG_PKCS12_BAG_SHROUDED_KEY;
            node->value = newCopy(value);
            if (!node->value) r = SG_PKI_ERR_MEMORY;
            break;
        case SG_OID_KEY_BAG: {
            node->bagType = SG_PKCS12_BAG_KEY;
            node->value = newCopy(value);
            auto* info = static_cast<SGPKCS8PrivateKeyInfo*>(
                SG_GBW(SGMemory_calloc)(1, sizeof(SGPKCS8PrivateKeyInfo)));
            node->decoded = info;
            if (!node->value || !info) {
                r = SG_PKI_ERR_MEMORY;
                break;
            }
            r = SGPKCS8PrivateKeyInfo_Decode(info, node->value);
            break;
        }
        default:
            break;  // type 0, refused once all bags are read
    }
    // The first localKeyId and the first friendlyName of the bag, in one attribute node.
    if (r == 0 && bag.bagAttributes) {
        node->attributes = newAttribute(nullptr, nullptr);
        if (!node->attributes) r = SG_PKI_ERR_MEMORY;
        for (int i = 0; r == 0 && i < bag.bagAttributes->list.count; ++i) {
            const Attribute_t* attribute = bag.bagAttributes->list.array[i];
            if (!attribute) continue;
            SGBinaryList values{};
            int oidId = 0;
            r = SGASN1CAttribute_Decode(&values, &oidId, attribute);
            SGBinary** slot = oidId == SG_OID_LOCAL_KEY_ID ? &node->attributes->localKeyId
                                                           : &node->attributes->friendlyName;
            if (r == 0 && !*slot && values.tail) {
                *slot = newCopy(values.value);
                if (!*slot) r = SG_PKI_ERR_MEMORY;
            }
            SG_GBW(SGBinaryList_Reset)(&values);
        }
    }
    if (r != 0) {
        SGPKCS12SafeBag_Clear(node);
        SG_GBW(SGMemory_free)(node);
        *result = r;
        return nullptr;
    }
    return node;
}

// Reads the SafeContents DER: each bag becomes a safe of its own.
int readSafeContents(SGPKCS12PFX* pfx, const SGBinary& der) {
    Decoded<SafeContents_t> contents(&asn_DEF_SafeContents);
    if (contents.decode(der) != 0) return SG_PKCS12_ERR_CONTENT_INFO;
    int r = 0;
    for (int i = 0; r == 0 && i < contents.value->list.count; ++i) {
        const SafeBag_t* bag = contents.value->list.array[i];
        if (!bag) continue;
        SGPKCS12SafeBag* node = nodeOfBag(*bag, &r);
        if (node) r = SGPKCS12PFXSafeBag_Add(pfx, node);
    }
    wipeSafeContents(contents.value);
    return r;
}

// Decrypts the shrouded keys into PrivateKeyInfo records; their encrypted values are released.
int decryptKeys(SGPKCS12PFX* pfx, const SGBinary& password, const SGBinary* bmp) {
    for (int i = 0; i < pfx->count; ++i) {
        for (SGPKCS12SafeBag* node = &pfx->safes[i]; node; node = node->next) {
            if (node->bagType != SG_PKCS12_BAG_SHROUDED_KEY || !node->value) continue;
            SGPKCS8EncryptedPrivateKeyInfo encrypted{};
            int r = SGPKCS8EncryptedPrivateKeyInfo_Decode(&encrypted, node->value);
            Buffer plain;
            int plainLength = 0;
            if (r == 0 && SG_GBW(SGBinary_Init)(&plain.b, encrypted.encryptedData.length + 1) != 0)
                r = SG_PKI_ERR_MEMORY;
            if (r == 0 && password.length > INT_MAX) r = SG_PKI_ERR_OUT_OF_RANGE;
            static const unsigned char kNothing[1] = {0};
            if (r == 0)
                r = bmp ? SGPKCS5DecryptUnicode(plain.b.data, &plainLength, &encrypted,
                                                password.data ? password.data : kNothing,
                                                static_cast<int>(password.length), bmp)
                        : SGPKCS5Decrypt(plain.b.data, &plainLength, &encrypted,
                                         password.data ? password.data : kNothing,
                                         static_cast<int>(password.length));
            SGPKCS8EncryptedPrivateKeyInfo_Cleanse(&encrypted);
            if (r != 0) return r;
            auto* info = static_cast<SGPKCS8PrivateKeyInfo*>(
                SG_GBW(SGMemory_calloc)(1, sizeof(SGPKCS8PrivateKeyInfo)));
            if (!info) return SG_PKI_ERR_MEMORY;
            node->decoded = info;
            const SGBinary plainKey{plain.b.data, static_cast<uint32_t>(plainLength)};
            if (int e = SGPKCS8PrivateKeyInfo_Decode(info, &plainKey)) return e;
            releaseRecord(node->value);
        }
    }
    return 0;
}

int decodePfx(SGPKCS12PFX* pfx, const SGBinary& der, const SGBinary& password) {
    Decoded<PFX_t> file(&asn_DEF_PFX);
    if (file.decode(der) != 0) return SG_ASN_ERR_DECODE;
    if (oidIdOf(file.value->authSafe.contentType) == 0) return SG_ASN_ERR_UNKNOWN_OID;
    Buffer authSafe;
    if (octetsOfAny(authSafe, file.value->authSafe.content) != 0) return SG_PKCS12_ERR_CONTENT_INFO;
    bool unicode = false;
    if (file.value->macData) {
        if (int r = checkMac(*file.value->macData, authSafe.b, password, &unicode)) return r;
    }
    Buffer bmp;
    if (unicode && !bmpFormOf(bmp, password)) return SG_PKCS12_ERR_MAC;

    Decoded<AuthenticatedSafe_t> safes(&asn_DEF_AuthenticatedSafe);
    if (safes.decode(authSafe.b) != 0) return SG_PKCS12_ERR_CONTENT_INFO;
    for (int i = 0; i < safes.value->list.count; ++i) {
        const ContentInfo_t* info = safes.value->list.array[i];
        if (!info) continue;
        Buffer contents;
        switch (oidIdOf(info->contentType)) {
            case SG_OID_DATA:
                if (octetsOfAny(contents, info->content) != 0) return SG_PKCS12_ERR_CONTENT_INFO;
                break;
            case SG_OID_ENCRYPTED_DATA: {
                const SGBinary encrypted = view(info->content.buf, info->content.size);
                if (int r =
                        decryptSafe(&contents.b, encrypted, unicode ? bmp.b : password, unicode))
                    return r;
                break;
            }
            default:
                return SG_PKI_ERR_UNKNOWN_ALGORITHM;
        }
        if (int r = readSafeContents(pfx, contents.b)) return r;
    }
    for (int i = 0; i < pfx->count; ++i)
        for (const SGPKCS12SafeBag* node = &pfx->safes[i]; node; node = node->next)
            if (node->bagType == SG_PKCS12_BAG_OTHER) return SG_PKCS12_ERR_BAG_TYPE;
    return decryptKeys(pfx, password, unicode ? &bmp.b : nullptr);
}

// Safes under EncryptedData: the three-key triple-DES PKCS #12 scheme when writing; any of the
// PKCS #12 schemes when reading.
int encryptSafe(SGBinary* out, const SGBinary& safeContents, const SGBinary& password) {
    SGPKCS7EncryptedDataParameters parameters{};
    parameters.cipherId = SG_PKCS7_PBE_SHA_3DES;
    return SGPKCS7EncryptedData_Encrypt(out, &safeContents, &password, nullptr, &parameters);
}

// unicode: the password is the BMPString form, which the PKCS #12 schemes take as it is.
int decryptWithBmpPassword(SGBinary* out, const EncryptedData_t& encryptedData,
                           const SGBinary& bmp) {
    SGPKCS7EncryptedContentInfo record{};
    int r = SGPKCS7ASN1C_GetEncryptedContentInfo(&record, &encryptedData.encryptedContentInfo);
    int pbeType = 0;
    if (r == 0) r = SGPKCS7Common_CreateCipherParameters(&pbeType, record.cipherId);
    if (r == 0 && (!record.parameters || !record.parameters->length))
        r = SG_PKCS7_ERR_NO_PBE_PARAMETERS;
    Buffer plain;
    int produced = 0;
    if (r == 0) {
        SGPKCS8EncryptedPrivateKeyInfo in{};
        in.algorithm = pbeType;
        in.parameters = record.parameters;
        if (record.encryptedContent) in.encryptedData = *record.encryptedContent;
        if (SG_GBW(SGBinary_Init)(&plain.b, in.encryptedData.length + 1) != 0)
            r = SG_PKI_ERR_MEMORY;
        if (r == 0 && bmp.length > INT_MAX) r = SG_PKI_ERR_OUT_OF_RANGE;
        if (r == 0)
            r = SGPKCS5DecryptUnicode(plain.b.data, &produced, &in, bmp.data,
                                      static_cast<int>(bmp.length), &bmp);
    }
    SGPKCS7EncryptedContentInfo_Clear(&record);
    if (r == 0 && produced > 0 &&
        SG_GBW(SGBinary_Set)(out, plain.b.data, static_cast<uint32_t>(produced)) != 0)
        r = SG_PKI_ERR_MEMORY;
    return r;
}

int decryptSafe(SGBinary* out, const SGBinary& encryptedData, const SGBinary& password,
                bool unicode) {
    void* structure = nullptr;
    if (SGPKCS7Content_Decode(&structure, &encryptedData, SG_PKCS7_ENCRYPTED_DATA) != 0)
        return SG_PKCS12_ERR_CONTENT_INFO;
    const auto* decoded = static_cast<const EncryptedData_t*>(structure);
    const int r = unicode ? decryptWithBmpPassword(out, *decoded, password)
                          : SGPKCS7EncryptedData_Decrypt(out, decoded, &password, nullptr);
    SGPKCS7Content_Reset(&structure, SG_PKCS7_ENCRYPTED_DATA);
    return r;
}

// ------------------------------------------------------------------------------------------------
// Selection.

struct Storage {
    SGCertificateStorage s{};
    Storage() = default;
    Storage(const Storage&) = delete;
    Storage& operator=(const Storage&) = delete;
    ~Storage() { SGCertificateStorage_Clear(&s); }
};

// Appends the chain of the certificate over the file's CA certificates, root first.
int appendChain(SGBinaryList* chain, Storage& storage, const SGBinary& certificate) {
    SGX509Certificate handle{};
    if (SGX509Certificate_FromBinary(&handle, &certificate) != 0) return 0;
    SGCertificateSet found{};
    // Its result only says whether the chain reached a trusted root; whatever was found is given.
    SGCertificateStorage_GenerateCertificateChain(&found, &storage.s, &handle,
                                                  SG_CERTSTORE_CHAIN_LDAP, nullptr);
    std::vector<const SGBinary*> nearestFirst;
    if (found.type != 0)
        for (const SGCertificateSet* n = &found; n; n = n->next)
            nearestFirst.push_back(&n->certificate);
    int r = 0;
    for (auto it = nearestFirst.rbegin(); r == 0 && it != nearestFirst.rend(); ++it)
        if (SG_GBW(SGBinaryList_Add)(chain, *it) != 0) r = SG_PKI_ERR_MEMORY;
    SGCertificateSet_Clear(&found);
    SGX509Certificate_Clear(&handle);
    return r;
}

int selectPair(SGBinary* key, SGBinary* certificate, SGBinaryList* chain, const SGPKCS12PFX* pfx,
               int index) {
    Storage storage;
    const SGPKCS12SafeBag* selected = nullptr;
    int number = 0;
    int r = 0;
    forEachBag(pfx, [&](const SGPKCS12SafeBag& bag) {
        if (bag.bagType != SG_PKCS12_BAG_CERTIFICATE) return true;
        const SGBinary* der = certificateOf(bag);
        if (!der || !der->length) return true;
        if (SGX509Certificate_IsCA(nullptr, der) == 1) {
            SGCertificateSet set{};
            if (SGCertificateSet_Add(&set, SG_CERTSET_CA, der, nullptr, "ca", nullptr) == 0 &&
                SGCertificateStorage_AddCertificate(&storage.s, &set) != 0)
                r = SG_PKI_ERR_MEMORY;
            SGCertificateSet_Clear(&set);
            return r == 0;
        }
        if (number++ == index) selected = &bag;
        return true;
    });
    if (r != 0) return r;
    if (!selected) return SG_PKI_ERR_OUT_OF_RANGE;

    const SGBinary* keyId = attributeValue(selected->attributes, 1);
    const SGPKCS12SafeBag* taken = nullptr;
    forEachBag(pfx, [&](const SGPKCS12SafeBag& bag) {
        if (&bag == selected) return true;
        const SGBinary* id = attributeValue(bag.attributes, 1);
        if (!keyId || (id && SG_GBW(SGBinary_Cmp)(id, keyId) == 0)) {
            taken = &bag;
            return false;
        }
        return true;
    });
    if (taken) {
        if (taken->bagType != SG_PKCS12_BAG_KEY && taken->bagType != SG_PKCS12_BAG_SHROUDED_KEY)
            return SG_PKCS12_ERR_BAG_TYPE;
        if (taken->decoded) {
            r = SGPKCS8PrivateKeyInfo_Encode(
                key, static_cast<const SGPKCS8PrivateKeyInfo*>(taken->decoded));
        } else if (taken->value && (taken->bagType == SG_PKCS12_BAG_KEY ||
                                    (taken->flags & SG_PKCS12_FLAG_SHROUD))) {
            r = SG_GBW(SGBinary_Set)(key, taken->value->data, taken->value->length) == 0
                    ? 0
                    : SG_PKI_ERR_MEMORY;
        } else {
            r = SG_PKCS12_ERR_NOT_PRIVATE_KEY;  // still encrypted: never decoded
        }
        if (r != 0) return r;
    }
    const SGBinary* der = certificateOf(*selected);
    if (der && SG_GBW(SGBinary_Set)(certificate, der->data, der->length) != 0)
        return SG_PKI_ERR_MEMORY;
    if (chain && der) r = appendChain(chain, storage, *der);
    return r;
}

// The default friendlyName: the subject text, cut at a character boundary.
int defaultFriendlyName(Buffer& out, const SGBinary& certificate) {
    SGX509Certificate handle{};
    if (int r = SGX509Certificate_FromBinary(&handle, &certificate)) return r;
    std::vector<char> text(16384);
    int r = SGX509Certificate_GetEntry(&handle, text.data(), static_cast<unsigned>(text.size()),
                                       SG_X509_ENTRY_SUBJECT, 0);
    SGX509Certificate_Clear(&handle);
    if (r != 0) return 0;  // no text: no friendlyName
    size_t n = std::strlen(text.data());
    if (n > SG_PKCS12_FRIENDLY_NAME_MAX) {
        n = SG_PKCS12_FRIENDLY_NAME_MAX;
        // Back up over continuation bytes so that no character is split.
        while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
    }
    if (n && SG_GBW(SGBinary_Set)(&out.b, text.data(), static_cast<uint32_t>(n)) != 0)
        return SG_PKI_ERR_MEMORY;
    return 0;
}

void dropSafesFrom(SGPKCS12PFX* pfx, int count) {
    for (int i = count; i < pfx->count; ++i) {
        SGPKCS12SafeBag& head = pfx->safes[i];
        while (head.next) {
            SGPKCS12SafeBag* next = head.next;
            head.next = next->next;
            SGPKCS12SafeBag_Clear(next);
            SG_GBW(SGMemory_free)(next);
        }
        SGPKCS12SafeBag_Clear(&head);
    }
    if (count == 0) {
        SG_GBW(SGMemory_free)(pfx->safes);
        pfx->safes = nullptr;
    }
    pfx->count = count;
}

}  // namespace

extern "C" {

// ------------------------------------------------------------------------------------------------
// Nodes.

int SGPKCS12Attribute_Clear(SGPKCS12Attribute* attribute) {
    while (attribute) {
        SGPKCS12Attribute* next = attribute->next;
        releaseRecord(attribute->localKeyId);
        releaseRecord(attribute->friendlyName);
        if (attribute->values) SG_GBW(SGBinaryList_Free)(attribute->values);
        SG_GBW(SGMemory_cleanse)(attribute, sizeof *attribute);
        SG_GBW(SGMemory_free)(attribute);
        attribute = next;
    }
    return 0;
}

int SGPKCS12SafeBag_Clear(SGPKCS12SafeBag* bag) {
    if (!bag) return 0;
    releaseRecord(bag->value);
    if (bag->bagType == SG_PKCS12_BAG_CERTIFICATE) {
        auto* certificate = static_cast<SGBinary*>(bag->decoded);
        releaseRecord(certificate);
        bag->decoded = nullptr;
    } else {
        releaseKey(bag->decoded);
    }
    SGPKCS12Attribute_Clear(bag->attributes);
    SG_GBW(SGMemory_cleanse)(bag, sizeof *bag);
    return 0;
}

int SGPKCS12Attribute_GetValue(SGBinary* out, const SGPKCS12Attribute* list, int type) {
    if (!out || (type != 1 && type != 2)) return SG_PKI_ERR_ARGUMENT;
    const SGBinary* v = attributeValue(list, type);
    if (!v) return 1;
    return SG_GBW(SGBinary_Set)(out, v->data, v->length) == 0 ? 0 : SG_PKI_ERR_MEMORY;
}

int SGPKCS12PFXSafeBag_Add(SGPKCS12PFX* pfx, SGPKCS12SafeBag* node) {
    if (!pfx || !node) return SG_PKI_ERR_ARGUMENT;
    if (pfx->count >= SG_PKCS12_MAX_SAFES) {
        SGPKCS12SafeBag_Clear(node);
        SG_GBW(SGMemory_free)(node);
        return SG_PKI_ERR_OUT_OF_RANGE;
    }
    const int index = pfx->count;
    if (int r = growTo(pfx, index)) {
        SGPKCS12SafeBag_Clear(node);
        SG_GBW(SGMemory_free)(node);
        return r;
    }
    pfx->safes[index] = *node;
    pfx->safes[index].next = nullptr;
    SG_GBW(SGMemory_free)(node);
    return 0;
}

// ------------------------------------------------------------------------------------------------
// Building.

int SGPKCS12PFX_AddSafeBag(SGPKCS12PFX* pfx, int safeIndex, int bagType, const SGBinary* value,
                           const SGBinary* const* attributes, int flags) {
    if (!pfx || badBinary(value)) return SG_PKI_ERR_ARGUMENT;
    if (safeIndex < 0 || safeIndex >= SG_PKCS12_MAX_SAFES) return SG_PKI_ERR_OUT_OF_RANGE;
    const SGBinary* localKeyId = attributes ? attributes[0] : nullptr;
    const SGBinary* friendlyName = attributes ? attributes[1] : nullptr;
    if ((localKeyId && badBinary(localKeyId)) || (friendlyName && badBinary(friendlyName)))
        return SG_PKI_ERR_ARGUMENT;
    return guarded([&]() -> int {
        auto* node =
            static_cast<SGPKCS12SafeBag*>(SG_GBW(SGMemory_calloc)(1, sizeof(SGPKCS12SafeBag)));
        if (!node) return SG_PKI_ERR_MEMORY;
        int r = 0;
        node->flags = flags;
        if (bagType == SG_PKCS12_BAG_CERTIFICATE || bagType == SG_PKCS12_BAG_KEY ||
            bagType == SG_PKCS12_BAG_SHROUDED_KEY) {
            node->bagType = bagType;
            node->value = newCopy(*value);
            if (!node->value) r = SG_PKI_ERR_MEMORY;
        }
        if (r == 0 && (localKeyId || friendlyName)) {
            node->attributes = newAttribute(localKeyId, friendlyName);
            if (!node->attributes) r = SG_PKI_ERR_MEMORY;
        }
        if (r == 0) r = placeNode(pfx, safeIndex, node);
        if (r != 0) {
            SGPKCS12SafeBag_Clear(node);
            SG_GBW(SGMemory_free)(node);
        }
        return r;
    });
}

int SGPKCS12PFX_AddCertificate(SGPKCS12PFX* pfx, int safeIndex, int flags,
                               const SGBinary* certificate, const SGBinary* localKeyId,
                               const SGBinary* friendlyName) {
    const SGBinary* attributes[2] = {localKeyId, friendlyName};
    return SGPKCS12PFX_AddSafeBag(pfx, safeIndex, SG_PKCS12_BAG_CERTIFICATE, certificate,
                                  attributes, flags);
}

int SGPKCS12PFX_AddKey(SGPKCS12PFX* pfx, int safeIndex, int flags, const SGBinary* privateKeyInfo,
                       const SGBinary* localKeyId, const SGBinary* friendlyName) {
    const SGBinary* attributes[2] = {localKeyId, friendlyName};
    return SGPKCS12PFX_AddSafeBag(pfx, safeIndex, SG_PKCS12_BAG_KEY, privateKeyInfo, attributes,
                                  flags);
}

int SGPKCS12PFX_AddPKCS8ShroudedKey(SGPKCS12PFX* pfx, int safeIndex, int flags, const SGBinary* key,
                                    const SGBinary* localKeyId, const SGBinary* friendlyName) {
    if (!pfx || badBinary(key)) return SG_PKI_ERR_ARGUMENT;
    return guarded([&]() -> int {
        if (flags & SG_PKCS12_FLAG_SHROUD) {
            SGPKCS8PrivateKeyInfo info{};
            const int r = SGPKCS8PrivateKeyInfo_Decode(&info, key);
            SGPKCS8PrivateKeyInfo_Cleanse(&info);
            if (r != 0) return SG_PKCS12_ERR_NOT_PRIVATE_KEY;
        } else {
            SGPKCS8EncryptedPrivateKeyInfo info{};
            const int r = SGPKCS8EncryptedPrivateKeyInfo_Decode(&info, key);
            SGPKCS8EncryptedPrivateKeyInfo_Cleanse(&info);
            if (r != 0) return SG_PKCS12_ERR_NOT_ENCRYPTED_KEY;
        }
        const SGBinary* attributes[2] = {localKeyId, friendlyName};
        return SGPKCS12PFX_AddSafeBag(pfx, safeIndex, SG_PKCS12_BAG_SHROUDED_KEY, key, attributes,
                                      flags);
    });
}

int SGPKCS12PFX_AddCertificateAndKey(SGPKCS12PFX* pfx, int flags, const SGBinary* privateKeyInfo,
                                     const SGBinary* certificate, int option,
                                     const SGBinaryList* caCertificates, const SGBinary* localKeyId,
                                     const SGBinary* friendlyName) {
    if (!pfx || badBinary(privateKeyInfo) || badBinary(certificate) || !privateKeyInfo->length ||
        !certificate->length)
        return SG_PKI_ERR_ARGUMENT;
    if (option != 0) return SG_PKCS12_ERR_OPTION;
    if (pfx->count >= SG_PKCS12_MAX_SAFES - 1) return SG_PKI_ERR_OUT_OF_RANGE;
    return guarded([&]() -> int {
        Buffer id, name;
        if (!localKeyId) {
            if (SG_GBW(SGBinary_Init)(&id.b, SG_PKCS12_LOCAL_KEY_ID_LENGTH) != 0)
                return SG_PKI_ERR_MEMORY;
            if (int r = SG_GCW(SGRandom_bytes)(id.b.data, SG_PKCS12_LOCAL_KEY_ID_LENGTH)) return r;
            localKeyId = &id.b;
        }
        if (!friendlyName) {
            if (int r = defaultFriendlyName(name, *certificate)) return r;
            if (name.b.length) friendlyName = &name.b;
        }
        const int before = pfx->count;
        int r = SGPKCS12PFX_AddPKCS8ShroudedKey(pfx, before, flags | SG_PKCS12_FLAG_SHROUD,
                                                privateKeyInfo, localKeyId, friendlyName);
        if (caCertificates && caCertificates->tail) {
            for (const SGBinaryList* ca = caCertificates; r == 0 && ca; ca = ca->next)
                r = SGPKCS12PFX_AddCertificate(pfx, before + 1, flags, &ca->value, nullptr,
                                               nullptr);
        }
        if (r == 0)
            r = SGPKCS12PFX_AddCertificate(pfx, before + 1, flags, certificate, localKeyId,
                                           friendlyName);
        if (r != 0) dropSafesFrom(pfx, before);
        return r;
    });
}

// ------------------------------------------------------------------------------------------------
// Encoding, decoding, selection.

int SGPKCS12PFX_Encode(SGBinary* out, SGPKCS12PFX* pfx, const SGBinary* password, void* option) {
    if (!out) return SG_PKI_ERR_ARGUMENT;
    SG_GBW(SGBinary_Reset)(out);
    if (!pfx || (!pfx->safes && pfx->count) || pfx->count < 0) return SG_PKI_ERR_ARGUMENT;
    if (!password) {
        for (int i = 0; i < pfx->count; ++i)
            if (pfx->safes[i].flags & SG_PKCS12_FLAG_ENCRYPT_SAFE)
                return option ? SG_PKCS7_ERR_OPTION : SG_PKI_ERR_ARGUMENT;
        return SG_PKI_ERR_ARGUMENT;
    }
    if (badBinary(password)) return SG_PKI_ERR_ARGUMENT;
    const int r = guarded([&] { return encodePfx(out, pfx, *password, option); });
    if (r != 0) SG_GBW(SGBinary_Reset)(out);
    return r;
}

int SGPKCS12PFX_Decode(SGPKCS12PFX* pfx, const SGBinary* der, const SGBinary* password) {
    if (!pfx) return SG_PKI_ERR_ARGUMENT;
    std::memset(pfx, 0, sizeof *pfx);
    if (!der || !der->data || !der->length || badBinary(password)) return SG_PKI_ERR_ARGUMENT;
    const int r = guarded([&] { return decodePfx(pfx, *der, *password); });
    if (r != 0) SGPKCS12PFX_Clear(pfx);
    return r;
}

int SGPKCS12PFX_GetCertificateAndKey(SGBinary* key, SGBinary* certificate, SGBinaryList* chain,
                                     const SGPKCS12PFX* pfx, int index) {
    if (!key || !certificate || !pfx) return SG_PKI_ERR_ARGUMENT;
    SG_GBW(SGBinary_Cleanse)(key);
    SG_GBW(SGBinary_Reset)(certificate);
    if (pfx->count <= 0 || !pfx->safes || index < 0) return SG_PKI_ERR_OUT_OF_RANGE;
    const int r = guarded([&] { return selectPair(key, certificate, chain, pfx, index); });
    if (r != 0) {
        SG_GBW(SGBinary_Cleanse)(key);
        SG_GBW(SGBinary_Reset)(certificate);
    }
    return r;
}

int SGPKCS12PFX_Clear(SGPKCS12PFX* pfx) {
    if (!pfx) return 0;
    if (pfx->safes) dropSafesFrom(pfx, 0);
    std::memset(pfx, 0, sizeof *pfx);
    return 0;
}

}  // extern "C"
