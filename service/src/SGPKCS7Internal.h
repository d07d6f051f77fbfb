// Internal to the PKCS #7 components: generated structures and buffers that free themselves,
// and the OID id of an identifier.
#pragma once

#include <climits>
#include <cstddef>
#include <cstdint>

#include "SGASN1C.h"
#include "SGASNObjectID.h"
#include "SGDigest.h"
#include "SGMemory.h"
#include "SGPKCS1.h"
#include "SGPKCS7.h"
#include "SGPKCSError.h"
#include "SGServiceInternal.h"

namespace brindlow::service::pkcs7 {

// A generated structure freed with the object.
template <typename T>
struct Owned {
    T* value;
    asn_TYPE_descriptor_t* type;
    Owned(T* v, asn_TYPE_descriptor_t* t) : value(v), type(t) {}
    ~Owned() {
        if (value) SGASN1CObject_Free(value, type);
    }
    T* release() {
        T* v = value;
        value = nullptr;
        return v;
    }
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;
};

// A zeroed structure from the runtime's allocator (null without memory).
template <typename T>
T* newStructure() {
    return static_cast<T*>(SGASN1C_calloc(1, sizeof(T)));
}

// BER-decodes the bytes into out (whose value is null): 0 or 20901.
template <typename T>
int decodeAs(Owned<T>* out, asn_TYPE_descriptor_t* type, const uint8_t* data, size_t size) {
    if (size > UINT32_MAX) return SG_ASN_ERR_DECODE;
    SGBinary in{const_cast<uint8_t*>(data), static_cast<uint32_t>(size)};
    void* decoded = nullptr;
    if (SGASN1CObject_Decode(&decoded, type, &in) != 0) return SG_ASN_ERR_DECODE;
    out->value = static_cast<T*>(decoded);
    return 0;
}

// A new SGBinary record with a copy of the bytes (an empty record for none); null without
// memory.
inline SGBinary* newRecord(const uint8_t* bytes, size_t size) {
    auto* record = static_cast<SGBinary*>(SG_GBW(SGMemory_calloc)(1, sizeof(SGBinary)));
    if (!record) return nullptr;
    if (bytes && size > 0 &&
        SG_GBW(SGBinary_Set)(record, bytes, static_cast<uint32_t>(size)) != 0) {
        SG_GBW(SGMemory_free)(record);
        return nullptr;
    }
    return record;
}

// Releases a record made by newRecord (its bytes and itself) and nulls the pointer.
inline void freeRecord(SGBinary*& record) {
    if (!record) return;
    SG_GBW(SGBinary_Reset)(record);
    SG_GBW(SGMemory_free)(record);
    record = nullptr;
}

// The OID id of an identifier; 0 when it is empty or not in the table.
inline int oidIdOf(const OBJECT_IDENTIFIER_t& oid) {
    if (!oid.buf || oid.size <= 0) return 0;
    SGBinary contents{oid.buf, static_cast<uint32_t>(oid.size)};
    return SGASNObjectID_Search(&contents);
}

// The hash of a DER DigestInfo that names the digest and carries a hash of its length:
// 0, or 10121 for anything else. hash holds 64 bytes.
inline int digestInfoHash(uint8_t* hash, unsigned* length, int digestId, const uint8_t* der,
                          size_t size) {
    int hashId = 0;
    unsigned hashLength = 64;
    uint8_t parameters[256];
    unsigned parametersLength = sizeof parameters;
    const int expected = SG_GCW(SGDigest_GetDigestSize)(digestId);
    if (!der || size == 0 || size > INT_MAX || expected <= 0 ||
        SG_GCW(SGPKCS1_DecodeDigestInfo)(&hashId, hash, &hashLength, parameters, &parametersLength,
                                         der, static_cast<int>(size)) != 0 ||
        hashId != digestId || hashLength != static_cast<unsigned>(expected))
        return SG_PKCS7_ERR_MESSAGE_DIGEST;
    *length = hashLength;
    return 0;
}

inline void wipe(void* p, size_t n) {
    if (p && n) SG_GBW(SGMemory_cleanse)(p, n);
}

// Bytes from the base layer's allocator, overwritten and freed when they go.
class Secret {
  public:
    Secret() = default;
    explicit Secret(size_t n) { allocate(n); }
    Secret(const Secret&) = delete;
    Secret& operator=(const Secret&) = delete;
    ~Secret() { release(); }
    bool allocate(size_t n) {
        release();
        data_ = static_cast<uint8_t*>(SG_GBW(SGMemory_calloc)(1, n ? n : 1));
        size_ = data_ ? n : 0;
        return data_ != nullptr;
    }
    void release() {
        if (data_) {
            wipe(data_, size_);
            SG_GBW(SGMemory_free)(data_);
        }
        data_ = nullptr;
        size_ = 0;
    }
    uint8_t* data() { return data_; }
    const uint8_t* data() const { return data_; }
    size_t size() const { return size_; }
    bool ok() const { return data_ != nullptr; }
    SGBinary view() { return SGBinary{data_, static_cast<uint32_t>(size_)}; }

  private:
    uint8_t* data_ = nullptr;
    size_t size_ = 0;
};

}  // namespace brindlow::service::pkcs7
