#include "SGASN1C.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "Certificate.h"
#include "SGASNObjectID.h"
#include "SGCodec.h"
#include "SGMemory.h"
#include "SGOS.h"
#include "SGPKCSError.h"
#include "SGServiceInternal.h"
#include "constr_CHOICE.h"
#include "constr_SEQUENCE.h"
#include "constr_SEQUENCE_OF.h"
#include "constr_SET.h"
#include "constr_SET_OF.h"

// Every type the modules define, null-terminated (generated).
extern "C" asn_TYPE_descriptor_t* asn_pdu_collection[];

namespace {

const unsigned char kDerNull[2] = {0x05, 0x00};

// Decoding recursion is bounded so that hostile nesting fails instead of exhausting the stack
// of a worker thread.
constexpr size_t kMaxDecodeStack = 128 * 1024;

constexpr int kLocalArcs = 10;
constexpr int kMaxTextArcs = 50;
constexpr int kMaxNamedBit = 0xFFFF;

// The runtime bounds its recursion by the distance between the context's address and its own
// frames, so the context must live on the real stack. AddressSanitizer's use-after-return mode
// would move it to a fake stack; this frame is left uninstrumented for that reason.
__attribute__((noinline, no_sanitize_address)) asn_dec_rval_t berDecodeBounded(
    asn_TYPE_descriptor_t* type, void** structure, const void* data, size_t size) {
    asn_codec_ctx_t ctx;
    std::memset(&ctx, 0, sizeof ctx);
    ctx.max_stack_size = kMaxDecodeStack;
    return ber_decode(&ctx, type, structure, data, size);
}

// Sizes of constructed values, remembered while one value is DER-encoded. The runtime writes
// a constructed value's length before its contents, so each constructed encoder first measures
// its members by encoding them without output; every value was measured again at each level
// above it (a certificate's name attributes some six times). The structure does not change
// while it is encoded, so within one encoding each value is measured once.
class SizeMemo {
  public:
    // Starts an encoding: what earlier ones remembered no longer counts.
    void begin() {
        if (++generation_ == 0) {
            std::memset(slots_, 0, sizeof slots_);
            generation_ = 1;
        }
        used_ = 0;
    }

    bool find(const asn_TYPE_descriptor_t* td, const void* sptr, int tagMode, ber_tlv_tag_t tag,
              ssize_t& size) const {
        for (size_t i = start(td, sptr), n = 0; n < kSlots; i = (i + 1) % kSlots, ++n) {
            const Slot& s = slots_[i];
            if (s.generation != generation_) return false;
            if (s.td == td && s.sptr == sptr && s.tagMode == tagMode && s.tag == tag) {
                size = s.size;
                return true;
            }
        }
        return false;
    }

    // Past half full the table stops remembering; the encoder then measures as it would.
    void remember(const asn_TYPE_descriptor_t* td, const void* sptr, int tagMode, ber_tlv_tag_t tag,
                  ssize_t size) {
        if (used_ >= kSlots / 2) return;
        for (size_t i = start(td, sptr), n = 0; n < kSlots; i = (i + 1) % kSlots, ++n) {
            if (slots_[i].generation == generation_) continue;
            slots_[i] = Slot{td, sptr, tag, size, tagMode, generation_};
            ++used_;
            return;
        }
    }

  private:
    struct Slot {
        const asn_TYPE_descriptor_t* td;
        const void* sptr;
        ber_tlv_tag_t tag;
        ssize_t size;
        int tagMode;
        unsigned generation;  // valid in the encoding of this generation only
    };
    static constexpr size_t kSlots = 512;

    static size_t start(const asn_TYPE_descriptor_t* td, const void* sptr) {
        const uint64_t h =
            (reinterpret_cast<uintptr_t>(sptr) ^ (reinterpret_cast<uintptr_t>(td) << 16)) *
            0x9E3779B97F4A7C15ull;
        return static_cast<size_t>(h >> 55) % kSlots;
    }

    Slot slots_[kSlots] = {};
    unsigned generation_ = 0;
    size_t used_ = 0;
};

// The memo of the encoding running on this thread; null outside SGASN1CObject_Encode, where the
// encoders measure as the runtime does.
thread_local SizeMemo* tEncoding = nullptr;

template <der_type_encoder_f* Encoder>
asn_enc_rval_t measureOnce(asn_TYPE_descriptor_t* td, void* sptr, int tagMode, ber_tlv_tag_t tag,
                           asn_app_consume_bytes_f* cb, void* key) {
    SizeMemo* memo = tEncoding;
    if (cb || !memo) return Encoder(td, sptr, tagMode, tag, cb, key);
    asn_enc_rval_t rv{};
    if (memo->find(td, sptr, tagMode, tag, rv.encoded)) return rv;
    rv = Encoder(td, sptr, tagMode, tag, cb, key);
    if (rv.encoded >= 0) memo->remember(td, sptr, tagMode, tag, rv.encoded);
    return rv;
}

// Every descriptor reachable from the modules' types, anonymous member types included.
template <typename Visit>
void forEachDescriptor(Visit visit) {
    std::vector<asn_TYPE_descriptor_t*> pending, seen;
    for (asn_TYPE_descriptor_t** td = asn_pdu_collection; *td; ++td) pending.push_back(*td);
    while (!pending.empty()) {
        asn_TYPE_descriptor_t* td = pending.back();
        pending.pop_back();
        if (std::find(seen.begin(), seen.end(), td) != seen.end()) continue;
        seen.push_back(td);
        visit(td);
        for (int i = 0; i < td->elements_count; ++i)
            if (td->elements && td->elements[i].type) pending.push_back(td->elements[i].type);
    }
}

// The runtime's derived types fill their descriptors from the underlying type on first use,
// writing into the shared descriptor. Doing that for all of them once, before any thread can
// decode, leaves the descriptors read-only afterwards. The constructed types' DER encoders are
// then routed through the size memo.
void prepareDescriptors() {
    static std::once_flag once;
    std::call_once(once, [] {
        for (asn_TYPE_descriptor_t** td = asn_pdu_collection; *td; ++td)
            (*td)->free_struct(*td, nullptr, 0);
        forEachDescriptor([](asn_TYPE_descriptor_t* td) {
            der_type_encoder_f* e = td->der_encoder;
            if (e == SEQUENCE_encode_der)
                td->der_encoder = measureOnce<SEQUENCE_encode_der>;
            else if (e == SET_encode_der)
                td->der_encoder = measureOnce<SET_encode_der>;
            else if (e == CHOICE_encode_der)
                td->der_encoder = measureOnce<CHOICE_encode_der>;
            else if (e == SEQUENCE_OF_encode_der)
                td->der_encoder = measureOnce<SEQUENCE_OF_encode_der>;
            else if (e == SET_OF_encode_der)
                td->der_encoder = measureOnce<SET_OF_encode_der>;
        });
    });
}

// Size of the structure a descriptor describes, from its (resolved) free routine; 0 when it
// cannot be told.
size_t structSize(const asn_TYPE_descriptor_t* td) {
    const asn_struct_free_f* free = td->free_struct;
    if (free == SEQUENCE_free)
        return static_cast<const asn_SEQUENCE_specifics_t*>(td->specifics)->struct_size;
    if (free == SET_free)
        return static_cast<const asn_SET_specifics_t*>(td->specifics)->struct_size;
    if (free == CHOICE_free)
        return static_cast<const asn_CHOICE_specifics_t*>(td->specifics)->struct_size;
    if (free == SET_OF_free)
        return static_cast<const asn_SET_OF_specifics_t*>(td->specifics)->struct_size;
    if (free == OCTET_STRING_free)
        return td->specifics
                   ? static_cast<const asn_OCTET_STRING_specifics_t*>(td->specifics)->struct_size
                   : sizeof(OCTET_STRING_t);
    if (free == ASN__PRIMITIVE_TYPE_free) return sizeof(ASN__PRIMITIVE_TYPE_t);
    if (free == BOOLEAN_free) return sizeof(BOOLEAN_t);
    return 0;
}

void clearStructure(void* structure, asn_TYPE_descriptor_t* td) {
    td->free_struct(td, structure, 1);
    if (size_t size = structSize(td)) std::memset(structure, 0, size);
}

SGBinary view(const uint8_t* buf, int size) {
    return SGBinary{const_cast<unsigned char*>(buf), size > 0 ? static_cast<uint32_t>(size) : 0};
}

bool sameBytes(const uint8_t* a, int aSize, const uint8_t* b, int bSize) {
    SGBinary x = view(a, aSize), y = view(b, bSize);
    return SG_GBW(SGBinary_Cmp)(&x, &y) == 0;
}

// A copy of length bytes in memory the runtime frees, with one spare zero byte behind it.
uint8_t* runtimeCopy(const void* bytes, size_t length) {
    auto* p = static_cast<uint8_t*>(SGASN1C_calloc(1, length + 1));
    if (p && length) std::memcpy(p, bytes, length);
    return p;
}

// Decodes an ANY as the given type into a new structure; null when it does not decode.
template <typename T>
T* decodeAny(const ANY_t* any, asn_TYPE_descriptor_t* td) {
    void* out = nullptr;
    SGBinary in = view(any->buf, any->size);
    if (SGASN1CObject_Decode(&out, td, &in) != 0) return nullptr;
    return static_cast<T*>(out);
}

template <typename T>
struct Decoded {
    T* value;
    asn_TYPE_descriptor_t* td;
    ~Decoded() {
        if (value) ASN_STRUCT_FREE(*td, value);
    }
};

int oidIdOf(const OBJECT_IDENTIFIER_t* oid) {
    SGBinary v = view(oid->buf, oid->size);
    return SGASNObjectID_Search(&v);
}

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

// Leading and then trailing spaces and tabs removed, in place.
void trim(std::string& s) {
    size_t begin = 0;
    while (begin < s.size() && isBlank(s[begin])) ++begin;
    s.erase(0, begin);
    while (!s.empty() && isBlank(s.back())) s.pop_back();
}

// Every run of two or more blanks becomes one space; a single blank stays as it is.
void collapseBlankRuns(std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size();) {
        if (!isBlank(s[i])) {
            out += s[i++];
            continue;
        }
        size_t j = i;
        while (j < s.size() && isBlank(s[j])) ++j;
        out += j - i >= 2 ? ' ' : s[i];
        i = j;
    }
    s.swap(out);
}

int addAnyValue(void* values, const SGBinary* encoded) {
    auto* value = static_cast<ANY_t*>(SGASN1C_calloc(1, sizeof(ANY_t)));
    if (!value) return SG_ASN_ERR_FIELD_MEMORY;
    value->buf = runtimeCopy(encoded->data, encoded->length);
    if (!value->buf) {
        SGASN1C_free(value);
        return SG_ASN_ERR_FIELD_MEMORY;
    }
    value->size = static_cast<int>(encoded->length);
    if (asn_set_add(values, value) != 0) {
        ASN_STRUCT_FREE(asn_DEF_ANY, value);
        return SG_ASN_ERR_RUNTIME;
    }
    return 0;
}

int appendCopy(SGBinaryList* list, const void* bytes, size_t length) {
    SGBinary value{const_cast<unsigned char*>(static_cast<const unsigned char*>(bytes)),
                   static_cast<uint32_t>(length)};
    if (length == 0) value.data = nullptr;
    return SG_GBW(SGBinaryList_Add)(list, &value) == 0 ? 0 : SG_PKI_ERR_MEMORY;
}

// The friendlyName value: a BMPString, turned from UTF-16 big-endian into UTF-8.
int appendFriendlyName(SGBinaryList* list, const ANY_t* any) {
    Decoded<BMPString_t> bmp{decodeAny<BMPString_t>(any, &asn_DEF_BMPString), &asn_DEF_BMPString};
    if (!bmp.value) return SG_ASN_ERR_RUNTIME;
    if (bmp.value->size % 2 != 0) return SG_ASN_ERR_RUNTIME;
    // The converter reads up to a zero unit.
    std::string utf16(reinterpret_cast<const char*>(bmp.value->buf), bmp.value->size);
    utf16.append(2, '\0');
    char* utf8 = nullptr;
    int error =
        SG_GBW(SGCodecConvertCodeSet)("ko_KR.UTF-16-BE", "ko_KR.UTF-8", utf16.data(), &utf8);
    if (error) return error;
    int result = appendCopy(list, utf8, std::strlen(utf8));
    SG_GBW(SGMemory_free)(utf8);
    return result;
}

int appendOctetString(SGBinaryList* list, const ANY_t* any) {
    Decoded<OCTET_STRING_t> os{decodeAny<OCTET_STRING_t>(any, &asn_DEF_OCTET_STRING),
                               &asn_DEF_OCTET_STRING};
    if (!os.value) return SG_ASN_ERR_RUNTIME;
    return appendCopy(list, os.value->buf, os.value->size);
}

// A copy of the field's bytes into an empty record.
int copyOut(SGBinary* out, const uint8_t* buf, int size) {
    if (!out) return SG_PKI_ERR_ARGUMENT;
    out->data = nullptr;
    out->length = 0;
    if (!buf || size <= 0) return 0;
    return SG_GBW(SGBinary_Set)(out, buf, static_cast<uint32_t>(size)) == 0 ? 0 : SG_PKI_ERR_MEMORY;
}

int timeFromTm(GeneralizedTime_t* out, time_t t, bool utc) {
    if (!out) return SG_PKI_ERR_ARGUMENT;
    if (t == 0) t = SG_GBW(SGOS_time)(nullptr);
    struct tm local {};
    if (!localtime_r(&t, &local)) return SG_ASN_ERR_RUNTIME;
    // Broken down as local time, written in UTC with "Z".
    void* written = utc ? static_cast<void*>(asn_time2UT(out, &local, 1))
                        : static_cast<void*>(asn_time2GT(out, &local, 1));
    return written ? 0 : SG_PKI_ERR_MEMORY;
}

}  // namespace

extern "C" {

const SGBinary nullParam = {const_cast<unsigned char*>(kDerNull), sizeof kDerNull};

// ---------------------------------------------------------------------------------------------
// Allocation hooks of the runtime.

void* SGASN1C_malloc(size_t size) {
    auto fn = SG_GBW(SGMemory_malloc);
    return fn ? fn(size) : nullptr;
}

void* SGASN1C_calloc(size_t count, size_t size) {
    auto fn = SG_GBW(SGMemory_calloc);
    return fn ? fn(count, size) : nullptr;
}

void* SGASN1C_realloc(void* pointer, size_t size) {
    auto fn = SG_GBW(SGMemory_realloc);
    return fn ? fn(pointer, size) : nullptr;
}

void SGASN1C_free(void* pointer) {
    auto fn = SG_GBW(SGMemory_free);
    if (fn) fn(pointer);
}

void SGASN1C_Prepare(void) {
    prepareDescriptors();
}

// ---------------------------------------------------------------------------------------------
// Generic structures.

namespace {

// The encoder's output: the runtime writes a value in many small pieces (every tag, length and
// primitive apart), so the buffer grows by doubling rather than once per piece. What was written
// may be secret (private keys), so a buffer that is outgrown is wiped before it is freed.
struct EncodeSink {
    unsigned char* data = nullptr;
    size_t length = 0;
    size_t capacity = 0;
    bool failed = false;

    ~EncodeSink() { release(); }

    void release() {
        if (!data) return;
        SG_GBW(SGMemory_cleanse)(data, length);
        SG_GBW(SGMemory_free)(data);
        data = nullptr;
        length = capacity = 0;
    }

    static int append(const void* bytes, size_t size, void* key) {
        auto* s = static_cast<EncodeSink*>(key);
        if (size == 0) return 0;
        if (size > UINT32_MAX - s->length) return s->fail();
        if (s->length + size > s->capacity && !s->grow(s->length + size)) return s->fail();
        std::memcpy(s->data + s->length, bytes, size);
        s->length += size;
        return 0;
    }

    int fail() {
        failed = true;
        return -1;
    }

    bool grow(size_t needed) {
        size_t next = capacity ? capacity : 2048;
        while (next < needed) next *= 2;
        if (next > UINT32_MAX) next = UINT32_MAX;
        auto* grown = static_cast<unsigned char*>(SG_GBW(SGMemory_malloc)(next));
        if (!grown) return false;
        if (length) std::memcpy(grown, data, length);
        const size_t kept = length;
        release();
        data = grown;
        length = kept;
        capacity = next;
        return true;
    }

    // The output takes the buffer as it is (its spare room is freed with it).
    void handOver(SGBinary* out) {
        out->data = data;
        out->length = static_cast<uint32_t>(length);
        data = nullptr;
        length = capacity = 0;
    }
};

}  // namespace

int SGASN_CopyToBinary(const void* buffer, size_t size, void* key) {
    if (size == 0) return 0;
    if (size > UINT32_MAX) return -1;
    return SG_GBW(SGBinary_Add)(static_cast<SGBinary*>(key), buffer, static_cast<uint32_t>(size)) ==
                   0
               ? 0
               : -1;
}

int SGASN1CObject_Encode(SGBinary* out, asn_TYPE_descriptor_t* type, const void* structure) {
    if (!out || !type || !structure) return SG_PKI_ERR_ARGUMENT;
    prepareDescriptors();
    SG_GBW(SGBinary_Reset)(out);
    EncodeSink sink;
    static thread_local std::unique_ptr<SizeMemo> memo;
    if (!memo) memo.reset(new (std::nothrow) SizeMemo);
    if (memo) memo->begin();
    tEncoding = memo.get();
    asn_enc_rval_t rv = der_encode(type, const_cast<void*>(structure), EncodeSink::append, &sink);
    tEncoding = nullptr;
    if (rv.encoded < 0 || sink.failed) return SG_ASN_ERR_RUNTIME;
    sink.handOver(out);
    return 0;
}

int SGASN1CObject_Decode(void** structure, asn_TYPE_descriptor_t* type, const SGBinary* in) {
    if (!structure || !type || !in || (!in->data && in->length)) return SG_PKI_ERR_ARGUMENT;
    prepareDescriptors();
    const bool fresh = *structure == nullptr;
    asn_dec_rval_t rv = berDecodeBounded(type, structure, in->data, in->length);
    if (rv.code != RC_OK) {
        if (fresh) {
            ASN_STRUCT_FREE(*type, *structure);
            *structure = nullptr;
        } else if (*structure) {
            clearStructure(*structure, type);
        }
        return SG_ASN_ERR_RUNTIME;
    }
    return 0;
}

int SGASN1CObject_Copy(void* target, const void* source, asn_TYPE_descriptor_t* type) {
    if (!target || !source || !type) return SG_PKI_ERR_ARGUMENT;
    SGBinary der{};
    int result = SGASN1CObject_Encode(&der, type, source);
    if (result == 0) result = SGASN1CObject_Decode(&target, type, &der);
    SG_GBW(SGBinary_Reset)(&der);
    return result == 0 ? 0 : SG_ASN_ERR_RUNTIME;
}

int SGASN1CObject_Clear(void* structure, asn_TYPE_descriptor_t* type) {
    if (!structure || !type) return SG_PKI_ERR_ARGUMENT;
    prepareDescriptors();
    clearStructure(structure, type);
    return 0;
}

int SGASN1CObject_Free(void* structure, asn_TYPE_descriptor_t* type) {
    if (!structure || !type) return SG_PKI_ERR_ARGUMENT;
    prepareDescriptors();
    ASN_STRUCT_FREE(*type, structure);
    return 0;
}

// ---------------------------------------------------------------------------------------------
// Byte-string fields.

int SGASN1COctetString_Get(SGBinary* out, const OCTET_STRING_t* in) {
    if (!out || !in) return SG_PKI_ERR_ARGUMENT;
    *out = view(in->buf, in->size);
    return 0;
}

int SGASN1COctetString_Set(OCTET_STRING_t* out, const SGBinary* in) {
    if (!out || !in) return SG_PKI_ERR_ARGUMENT;
    out->buf = in->data;
    out->size = static_cast<int>(in->length);
    return 0;
}

int SGASN1CPrimitiveType_Get(SGBinary* out, const ASN__PRIMITIVE_TYPE_t* in) {
    if (!out || !in) return SG_PKI_ERR_ARGUMENT;
    *out = view(in->buf, in->size);
    return 0;
}

int SGASN1CPrimitiveType_Set(ASN__PRIMITIVE_TYPE_t* out, const SGBinary* in) {
    if (!out || !in) return SG_PKI_ERR_ARGUMENT;
    out->buf = in->data;
    out->size = static_cast<int>(in->length);
    return 0;
}

int SGASN1CAny_Get(SGBinary* out, const ANY_t* in) {
    if (!out || !in) return SG_PKI_ERR_ARGUMENT;
    *out = view(in->buf, in->size);
    return 0;
}

int SGASN1CAny_Set(ANY_t* out, const SGBinary* in) {
    if (!out || !in) return SG_PKI_ERR_ARGUMENT;
    out->buf = in->data;
    out->size = static_cast<int>(in->length);
    return 0;
}

int SGASN1COctetString_GetCopiedData(SGBinary* out, const OCTET_STRING_t* in) {
    if (!in) return SG_PKI_ERR_ARGUMENT;
    return copyOut(out, in->buf, in->size);
}

int SGASN1CAny_GetCopiedData(SGBinary* out, const ANY_t* in) {
    if (!in) return SG_PKI_ERR_ARGUMENT;
    return copyOut(out, in->buf, in->size);
}

int SGASN1CBitString_Get(SGBinary* out, const BIT_STRING_t* in) {
    if (!in) return SG_PKI_ERR_ARGUMENT;
    return copyOut(out, in->buf, in->size);
}

int SGASN1COctetString_SetCopiedData(OCTET_STRING_t* out, const SGBinary* in) {
    if (!out || !in || !in->data) return SG_PKI_ERR_ARGUMENT;
    if (in->length > INT_MAX) return SG_PKI_ERR_OUT_OF_RANGE;
    return OCTET_STRING_fromBuf(out, reinterpret_cast<const char*>(in->data),
                                static_cast<int>(in->length)) == 0
               ? 0
               : SG_ASN_ERR_RUNTIME;
}

int SGASN1COctetString_SetFromBuf(OCTET_STRING_t* out, const void* bytes, int length) {
    if (!out || !bytes || length < 0) return SG_PKI_ERR_ARGUMENT;
    return OCTET_STRING_fromBuf(out, static_cast<const char*>(bytes), length) == 0
               ? 0
               : SG_ASN_ERR_RUNTIME;
}

int SGASN1CAny_GetValueAsOctetString(SGBinary* out, const ANY_t* in) {
    if (!out || !in) return SG_PKI_ERR_ARGUMENT;
    Decoded<OCTET_STRING_t> os{decodeAny<OCTET_STRING_t>(in, &asn_DEF_OCTET_STRING),
                               &asn_DEF_OCTET_STRING};
    if (!os.value) return SG_ASN_ERR_RUNTIME;
    return copyOut(out, os.value->buf, os.value->size);
}

int SGASN1CAny_SetCopied(ANY_t* out, const SGBinary* in) {
    if (!out || !in || (!in->data && in->length)) return SG_PKI_ERR_ARGUMENT;
    if (in->length > INT_MAX) return SG_PKI_ERR_OUT_OF_RANGE;
    SGBinary copy{};
    if (SG_GBW(SGBinary_Copy)(&copy, in) != 0) return SG_PKI_ERR_MEMORY;
    SGASN1C_free(out->buf);
    out->buf = copy.data;
    out->size = static_cast<int>(copy.length);
    return 0;
}

int SGASN1CAny_SetFromASN1CType(ANY_t* out, const void* structure, asn_TYPE_descriptor_t* type) {
    if (!out || !structure || !type) return SG_PKI_ERR_ARGUMENT;
    prepareDescriptors();
    return ANY_fromType(out, type, const_cast<void*>(structure)) == 0 ? 0 : SG_ASN_ERR_RUNTIME;
}

int SGASN1CBitString_Set(BIT_STRING_t* out, const SGBinary* in) {
    if (!out || !in) return SG_PKI_ERR_ARGUMENT;
    if (in->length > INT_MAX) return SG_PKI_ERR_OUT_OF_RANGE;
    uint8_t* copy = nullptr;
    if (in->data && in->length) {
        copy = runtimeCopy(in->data, in->length);
        if (!copy) return SG_PKI_ERR_MEMORY;
    }
    SGASN1C_free(out->buf);
    out->buf = copy;
    out->size = copy ? static_cast<int>(in->length) : 0;
    out->bits_unused = 0;
    return 0;
}

int SGASN1CBitString_SetCopied(BIT_STRING_t* out, const SGBinary* in) {
    return SGASN1CBitString_Set(out, in);
}

int SGASN1CBitString_SetBit(BIT_STRING_t* out, int bit) {
    if (!out || bit < 0) return SG_PKI_ERR_ARGUMENT;
    if (bit > kMaxNamedBit) return SG_PKI_ERR_OUT_OF_RANGE;
    // 2^bit big-endian in the fewest bytes, reversed bit by bit: named bit n is the bit
    // 0x80 >> (n % 8) of byte n / 8.
    const int bytes = bit / 8 + 1;
    auto* buf = static_cast<uint8_t*>(SGASN1C_calloc(1, bytes + 1));
    if (!buf) return SG_PKI_ERR_MEMORY;
    buf[bit / 8] = static_cast<uint8_t>(0x80u >> (bit % 8));
    SGASN1C_free(out->buf);
    out->buf = buf;
    out->size = bytes;
    out->bits_unused = (8 - (bit + 1) % 8) % 8;
    return 0;
}

int SGASN1CIA5String_SetCopied(IA5String_t* out, const char* text, const SGBinary* in) {
    if (!out) return SG_PKI_ERR_ARGUMENT;
    int rc;
    if (text) {
        rc = OCTET_STRING_fromBuf(out, text, static_cast<int>(SG_GBW(SGOS_strlen)(text)));
    } else if (in && (in->data || in->length == 0) && in->length <= INT_MAX) {
        rc = OCTET_STRING_fromBuf(out, in->data ? reinterpret_cast<const char*>(in->data) : "",
                                  static_cast<int>(in->length));
    } else {
        return SG_PKI_ERR_ARGUMENT;
    }
    return rc == 0 ? 0 : SG_PKI_ERR_MEMORY;
}

int SGASN1CInteger_Set(INTEGER_t* out, long value) {
    if (!out) return SG_PKI_ERR_ARGUMENT;
    return asn_long2INTEGER(out, value);
}

int SGASN1CInteger_Get(long* out, const INTEGER_t* in) {
    if (!out || !in) return SG_PKI_ERR_ARGUMENT;
    return asn_INTEGER2long(in, out);
}

// ---------------------------------------------------------------------------------------------
// Identifiers and algorithms.

int SGASN1CObjectIdentifier_Set(OBJECT_IDENTIFIER_t* out, int oidId) {
    if (!out || oidId < 0) return SG_PKI_ERR_ARGUMENT;
    SGBinary* copy = SGASNObjectID_Get(oidId);
    if (!copy) return SG_ASN_ERR_UNKNOWN_OID;
    // The value takes over the copy's bytes; only the record is released.
    SGASN1C_free(out->buf);
    out->buf = copy->data;
    out->size = static_cast<int>(copy->length);
    copy->data = nullptr;
    copy->length = 0;
    SG_GBW(SGBinary_Free)(copy);
    return 0;
}

int SGASN1CObjectIdentifier_Get(int* oidId, const OBJECT_IDENTIFIER_t* in) {
    if (!oidId || !in) return SG_PKI_ERR_ARGUMENT;
    int id = oidIdOf(in);
    if (id == 0) return SG_ASN_ERR_UNKNOWN_OID;
    *oidId = id;
    return 0;
}

int SGASN1CObjectIdentifier_ToString(char* buffer, int size, const OBJECT_IDENTIFIER_t* in) {
    if (!buffer || !in || size <= 0) return SG_PKI_ERR_ARGUMENT;
    buffer[0] = '\0';
    unsigned long local[kLocalArcs];
    unsigned long* arcs = local;
    int count = OBJECT_IDENTIFIER_get_arcs(in, local, sizeof local[0], kLocalArcs);
    if (count < 2) return SG_ASN_ERR_RUNTIME;
    if (count > kLocalArcs) {
        arcs = static_cast<unsigned long*>(SG_GBW(SGMemory_calloc)(count, sizeof arcs[0]));
        if (!arcs) return SG_PKI_ERR_MEMORY;
        OBJECT_IDENTIFIER_get_arcs(in, arcs, sizeof arcs[0], count);
    }
    // Arcs are printed unsigned in full: identifiers outside the OID table (policies,
    // UUID-based arcs) reach beyond 32 bits.
    int result = 0;
    size_t used = 0;
    for (int i = 0; i < count && result == 0; ++i) {
        int n = std::snprintf(buffer + used, size - used, i ? ".%lu" : "%lu", arcs[i]);
        if (n < 0 || used + n >= static_cast<size_t>(size))
            result = SG_PKI_ERR_OUT_OF_RANGE;
        else
            used += n;
    }
    if (arcs != local) SG_GBW(SGMemory_free)(arcs);
    return result;
}

int SGASN1CObjectIdentifier_FromString(const char* dottedText, OBJECT_IDENTIFIER_t* out) {
    if (!dottedText || !out) return SG_PKI_ERR_ARGUMENT;
    long arcs[kMaxTextArcs];
    const char* end = nullptr;
    int count = OBJECT_IDENTIFIER_parse_arcs(dottedText, -1, arcs, kMaxTextArcs, &end);
    if (count > kMaxTextArcs) return SG_PKI_ERR_MEMORY;
    if (count < 2 || *end != '\0') return SG_ASN_ERR_RUNTIME;
    errno = 0;
    if (OBJECT_IDENTIFIER_set_arcs(out, arcs, sizeof arcs[0], count) != 0)
        return errno == ENOMEM ? SG_PKI_ERR_MEMORY : SG_ASN_ERR_RUNTIME;
    return 0;
}

int SGASN1CAlgorithmIdentifier_Set(AlgorithmIdentifier_t* out, int oidId, SGBinary* parameters) {
    if (!out || oidId < 0) return SG_PKI_ERR_ARGUMENT;
    if (int error = SGASN1CObjectIdentifier_Set(&out->algorithm, oidId)) return error;
    if (out->parameters) {
        ASN_STRUCT_FREE(asn_DEF_ANY, out->parameters);
        out->parameters = nullptr;
    }
    if (!parameters) return 0;
    const bool fresh = parameters == SG_ASN1C_NULL_PARAMETERS;
    if (!fresh && (!parameters->data || parameters->length == 0)) return 0;
    if (!fresh && parameters->length > INT_MAX) return SG_PKI_ERR_OUT_OF_RANGE;
    auto* any = static_cast<ANY_t*>(SGASN1C_calloc(1, sizeof(ANY_t)));
    if (!any) return SG_ASN_ERR_FIELD_MEMORY;
    if (fresh) {
        any->buf = runtimeCopy(kDerNull, sizeof kDerNull);
        if (!any->buf) {
            SGASN1C_free(any);
            return SG_ASN_ERR_FIELD_MEMORY;
        }
        any->size = sizeof kDerNull;
    } else {
        // Taken over: the structure frees these bytes with itself.
        any->buf = parameters->data;
        any->size = static_cast<int>(parameters->length);
        parameters->data = nullptr;
        parameters->length = 0;
    }
    out->parameters = any;
    return 0;
}

int SGASN1CAlgorithmIdentifier_FromCrypto(AlgorithmIdentifier_t* out, int kind, int cipherId,
                                          void* unused, int digestId) {
    (void)unused;
    int oidId = 0;
    switch (kind) {
        case SG_ASN1C_CRYPTO_CIPHER:
            switch (cipherId) {
                case 0:
                    oidId = SG_OID_AES128_CBC;
                    break;
                case 1:
                    oidId = SG_OID_AES192_CBC;
                    break;
                case 2:
                    oidId = SG_OID_AES256_CBC;
                    break;
                case 3:
                    oidId = SG_OID_SEED_CBC;
                    break;
                case 4:
                    oidId = SG_OID_ARIA128_CBC;
                    break;
                case 11:
                    oidId = SG_OID_LEA128_CBC;
                    break;
                default:
                    return SG_PKI_ERR_NOT_IMPLEMENTED;
            }
            break;
        case SG_ASN1C_CRYPTO_DIGEST:
            switch (digestId) {
                case 3:
                    oidId = SG_OID_SHA1;
                    break;
                case 5:
                    oidId = SG_OID_SHA256;
                    break;
                case 6:
                    oidId = SG_OID_SHA384;
                    break;
                case 7:
                    oidId = SG_OID_SHA512;
                    break;
                default:
                    return SG_PKI_ERR_NOT_IMPLEMENTED;
            }
            break;
        case SG_ASN1C_CRYPTO_KEY:
            return 0;
        default:
            return -22221;
    }
    // A missing structure or an id the table cannot give is an error, never a silent 0.
    if (!out) return SG_PKI_ERR_ARGUMENT;
    return SGASN1CAlgorithmIdentifier_Set(out, oidId, SG_ASN1C_NULL_PARAMETERS);
}

int SGASN1CAlgorithmIdentifier_ToCrypto(int* cipherId, int* keyKind, int* digestId, int* mode,
                                        const AlgorithmIdentifier_t* in) {
    if (!in) return SG_PKI_ERR_ARGUMENT;
    int oidId = 0;
    if (int error = SGASN1CObjectIdentifier_Get(&oidId, &in->algorithm)) return error;
    int cipher = -1, key = -1, digest = -1;
    switch (oidId) {
        case SG_OID_RSA_ENCRYPTION:
            key = SG_ASN1C_KEY_RSA;
            break;
        case SG_OID_MD2_WITH_RSA:
            key = SG_ASN1C_KEY_RSA, digest = 1;
            break;
        case SG_OID_MD5_WITH_RSA:
            key = SG_ASN1C_KEY_RSA, digest = 2;
            break;
        case SG_OID_SHA1_WITH_RSA:
            key = SG_ASN1C_KEY_RSA, digest = 3;
            break;
        case SG_OID_SHA224_WITH_RSA:
            key = SG_ASN1C_KEY_RSA, digest = 4;
            break;
        case SG_OID_SHA256_WITH_RSA:
            key = SG_ASN1C_KEY_RSA, digest = 5;
            break;
        case SG_OID_SHA384_WITH_RSA:
            key = SG_ASN1C_KEY_RSA, digest = 6;
            break;
        case SG_OID_SHA512_WITH_RSA:
            key = SG_ASN1C_KEY_RSA, digest = 7;
            break;
        case SG_OID_HAS160_WITH_RSA:
            key = SG_ASN1C_KEY_RSA, digest = 8;
            break;
        case SG_OID_RSA_DIGEST9:
            key = SG_ASN1C_KEY_RSA, digest = 9;
            break;
        case SG_OID_SHA1:
            digest = 3;
            break;
        case SG_OID_SHA256:
            digest = 5;
            break;
        case SG_OID_SHA384:
            digest = 6;
            break;
        case SG_OID_SHA512:
            digest = 7;
            break;
        case SG_OID_KCDSA:
        case SG_OID_KCDSA2:
            key = SG_ASN1C_KEY_KCDSA;
            break;
        case SG_OID_AES128_CBC:
            cipher = 0;
            break;
        case SG_OID_AES192_CBC:
            cipher = 1;
            break;
        case SG_OID_AES256_CBC:
            cipher = 2;
            break;
        case SG_OID_SEED_CBC:
            cipher = 3;
            break;
        case SG_OID_ARIA128_CBC:
            cipher = 4;
            break;
        case SG_OID_DES_CBC:
            cipher = 7;
            break;
        case SG_OID_DES_EDE3_CBC:
            cipher = 8;
            break;
        case SG_OID_RC2_CBC:
            cipher = 10;
            break;
        case SG_OID_LEA128_CBC:
            cipher = 11;
            break;
        default:
            return SG_ASN_ERR_UNKNOWN_OID;
    }
    if (key >= 0 && keyKind) *keyKind = key;
    if (digest >= 0 && digestId) *digestId = digest;
    if (cipher >= 0) {
        if (cipherId) *cipherId = cipher;
        if (mode) *mode = SG_ASN1C_MODE_CBC;
    }
    return 0;
}

int SGASN1CDS_ToOID(int* oidId, int keyKind, int digestId) {
    static constexpr int kRsaByDigest[] = {SG_OID_MD2_WITH_RSA,    SG_OID_MD5_WITH_RSA,
                                           SG_OID_SHA1_WITH_RSA,   SG_OID_SHA224_WITH_RSA,
                                           SG_OID_SHA256_WITH_RSA, SG_OID_SHA384_WITH_RSA,
                                           SG_OID_SHA512_WITH_RSA, SG_OID_HAS160_WITH_RSA};
    if (!oidId || keyKind != SG_ASN1C_KEY_RSA || digestId < 1 || digestId > 8)
        return SG_PKI_ERR_ARGUMENT;
    *oidId = kRsaByDigest[digestId - 1];
    return 0;
}

int SGASN1CIssuerAndSerialNumber_FromCertificate(IssuerAndSerialNumber_t* out,
                                                 const SGBinary* certificate) {
    if (!out || !certificate) return SG_PKI_ERR_ARGUMENT;
    void* decoded = nullptr;
    if (SGASN1CObject_Decode(&decoded, &asn_DEF_Certificate, certificate) != 0)
        return SG_ASN_ERR_RUNTIME;
    Decoded<Certificate_t> cert{static_cast<Certificate_t*>(decoded), &asn_DEF_Certificate};
    SGASN1CObject_Clear(&out->issuer, &asn_DEF_Name);
    SGASN1CObject_Clear(&out->serialNumber, &asn_DEF_CertificateSerialNumber);
    int result =
        SGASN1CObject_Copy(&out->issuer, &cert.value->tbsCertificate.issuer, &asn_DEF_Name);
    if (result == 0)
        result = SGASN1CObject_Copy(&out->serialNumber, &cert.value->tbsCertificate.serialNumber,
                                    &asn_DEF_CertificateSerialNumber);
    return result;
}

// ---------------------------------------------------------------------------------------------
// Sets, attributes, names.

int SGASN1CSet_Add(void* set, void* element) {
    if (!set || !element) return SG_PKI_ERR_ARGUMENT;
    return asn_set_add(set, element) == 0 ? 0 : SG_ASN_ERR_RUNTIME;
}

int SGASN1CSequence_Add(void* sequence, void* element) {
    if (!sequence || !element) return SG_PKI_ERR_ARGUMENT;
    return asn_sequence_add(sequence, element) == 0 ? 0 : SG_ASN_ERR_RUNTIME;
}

int SGASN1CAttribute_Set(Attribute_t* out, int oidId, const SGBinary* encodedValue) {
    if (!out || oidId < 0 || !encodedValue || !encodedValue->data || !encodedValue->length)
        return SG_PKI_ERR_ARGUMENT;
    if (encodedValue->length > INT_MAX) return SG_PKI_ERR_OUT_OF_RANGE;
    if (int error = SGASN1CObjectIdentifier_Set(&out->type, oidId)) return error;
    return addAnyValue(&out->values, encodedValue);
}

int SGASN1CAttribute_SetAll(Attribute_t* out, const char* dottedType,
                            const SGBinaryList* encodedValues) {
    if (!out || !dottedType) return SG_PKI_ERR_ARGUMENT;
    if (int error = SGASN1CObjectIdentifier_FromString(dottedType, &out->type)) return error;
    if (!encodedValues || !encodedValues->tail) return 0;  // an empty list
    for (const SGBinaryList* node = encodedValues; node; node = node->next) {
        if (!node->value.data || !node->value.length || node->value.length > INT_MAX)
            return SG_PKI_ERR_ARGUMENT;
        if (int error = addAnyValue(&out->values, &node->value)) return error;
    }
    return 0;
}

int SGASN1CAttribute_Decode(SGBinaryList* values, int* oidId, const Attribute_t* in) {
    if (!values || !oidId || !in) return SG_PKI_ERR_ARGUMENT;
    int id = oidIdOf(&in->type);
    if (id == 0) return SG_ASN_ERR_UNKNOWN_ATTRIBUTE;
    *oidId = id;
    for (int i = 0; i < in->values.list.count; ++i) {
        const ANY_t* value = in->values.list.array[i];
        int error;
        if (id == SG_OID_FRIENDLY_NAME)
            error = appendFriendlyName(values, value);
        else if (id == SG_OID_LOCAL_KEY_ID)
            error = appendOctetString(values, value);
        else
            error = SG_ASN_ERR_ATTRIBUTE_TYPE;
        if (error) return error;
    }
    return 0;
}

int SGASN1CAttributeTypeAndValue_Set(AttributeTypeAndValue_t* out, int oidId,
                                     const SGBinary* encodedValue) {
    if (!out || oidId < 0 || !encodedValue || !encodedValue->data || !encodedValue->length)
        return SG_PKI_ERR_ARGUMENT;
    if (encodedValue->length > INT_MAX) return SG_PKI_ERR_OUT_OF_RANGE;
    if (int error = SGASN1CObjectIdentifier_Set(&out->type, oidId)) return error;
    uint8_t* copy = runtimeCopy(encodedValue->data, encodedValue->length);
    if (!copy) return SG_ASN_ERR_FIELD_MEMORY;
    SGASN1C_free(out->value.buf);
    out->value.buf = copy;
    out->value.size = static_cast<int>(encodedValue->length);
    return 0;
}

int SGASN1CGeneralName_SetCopied(GeneralName_t* out, const char* text, const SGBinary* in,
                                 int kind) {
    if (!out) return SG_PKI_ERR_ARGUMENT;
    SGASN1CObject_Clear(out, &asn_DEF_GeneralName);
    int result;
    switch (kind) {
        case 1:
            out->present = GeneralName_PR_rfc822Name;
            result = SGASN1CIA5String_SetCopied(&out->choice.rfc822Name, text, in);
            break;
        case 2:
            out->present = GeneralName_PR_dNSName;
            result = SGASN1CIA5String_SetCopied(&out->choice.dNSName, text, in);
            break;
        case 7:
            out->present = GeneralName_PR_iPAddress;
            result = in && in->data ? SGASN1COctetString_SetCopiedData(&out->choice.iPAddress, in)
                                    : SG_PKI_ERR_ARGUMENT;
            break;
        default:
            return SG_PKI_ERR_NOT_IMPLEMENTED;
    }
    if (result) SGASN1CObject_Clear(out, &asn_DEF_GeneralName);
    return result;
}

int SGASN1CExtension_SetCopied(Extension_t* out, void* unused, int oidId,
                               const SGBinary* encodedValue) {
    (void)unused;
    if (!out || !encodedValue || !encodedValue->data) return SG_PKI_ERR_ARGUMENT;
    std::memset(out, 0, sizeof *out);
    // An extension without identifier cannot be encoded: an unknown id is reported.
    if (int error = SGASN1CObjectIdentifier_Set(&out->extnID, oidId)) return error;
    if (int error = SGASN1COctetString_SetCopiedData(&out->extnValue, encodedValue)) {
        SGASN1CObject_Clear(out, &asn_DEF_Extension);
        return error == SG_ASN_ERR_RUNTIME ? SG_PKI_ERR_MEMORY : error;
    }
    return 0;
}

int SGASN1CRDNSequence_FromString(RDNSequence_t* out, const char* text) {
    (void)out;
    (void)text;
    return 0;
}

// ---------------------------------------------------------------------------------------------
// Comparisons.

int SGASN1CAttributeTypeAndValue_IsEqual(const AttributeTypeAndValue_t* a,
                                         const AttributeTypeAndValue_t* b) {
    if (!a || !b) return -1;
    return sameBytes(a->type.buf, a->type.size, b->type.buf, b->type.size) &&
                   sameBytes(a->value.buf, a->value.size, b->value.buf, b->value.size)
               ? 0
               : -1;
}

int SGASN1CRDNSequence_Compare(const RDNSequence_t* a, const RDNSequence_t* b) {
    if (!a || !b) return SG_PKI_ERR_ARGUMENT;
    if (a->list.count != b->list.count) return SG_ASN_ERR_COUNT;
    for (int i = 0; i < a->list.count; ++i) {
        const RelativeDistinguishedName_t* x = a->list.array[i];
        const RelativeDistinguishedName_t* y = b->list.array[i];
        if (x->list.count != y->list.count) return SG_ASN_ERR_COUNT;
        for (int j = 0; j < x->list.count; ++j)
            if (SGASN1CAttributeTypeAndValue_IsEqual(x->list.array[j], y->list.array[j]) != 0)
                return SG_ASN_ERR_VALUES_DIFFER;
    }
    return 0;
}

int SGASN1CName_Compare(const Name_t* a, const Name_t* b) {
    if (!a || !b) return SG_PKI_ERR_ARGUMENT;
    if (a->present != Name_PR_rdnSequence || b->present != Name_PR_rdnSequence) return -1;
    return SGASN1CRDNSequence_Compare(&a->choice.rdnSequence, &b->choice.rdnSequence);
}

int SGASN1CPrintableString_Compare(const char* a, const char* b) {
    if (!a || !b) return SG_PKI_ERR_ARGUMENT;
    constexpr size_t kMax = 512;
    const size_t aLength = SG_GBW(SGOS_strlen)(a), bLength = SG_GBW(SGOS_strlen)(b);
    if (aLength > kMax || bLength > kMax) return -2;
    std::string x(a, aLength), y(b, bLength);
    for (std::string* s : {&x, &y}) {
        trim(*s);
        collapseBlankRuns(*s);
    }
    if (x.size() != y.size()) return 1;
    return SG_GBW(SGOS_strncasecmp)(x.c_str(), y.c_str(), static_cast<uint32_t>(x.size())) == 0 ? 0
                                                                                                : 1;
}

int SGASN1CRelativeDistinguishedName_Compare(const RelativeDistinguishedName_t* a,
                                             const RelativeDistinguishedName_t* b) {
    if (!a || !b) return SG_PKI_ERR_ARGUMENT;
    if (a->list.count != b->list.count) return -442131;
    for (int i = 0; i < a->list.count; ++i) {
        const AttributeTypeAndValue_t* x = a->list.array[i];
        const AttributeTypeAndValue_t* y = b->list.array[i];
        const int xId = oidIdOf(&x->type), yId = oidIdOf(&y->type);
        // Two types outside the OID table are told apart by their bytes.
        if (xId != yId ||
            (xId == 0 && !sameBytes(x->type.buf, x->type.size, y->type.buf, y->type.size)))
            return -120398123;
        Decoded<DirectoryString_t> u{
            decodeAny<DirectoryString_t>(&x->value, &asn_DEF_DirectoryString),
            &asn_DEF_DirectoryString};
        Decoded<DirectoryString_t> v{
            decodeAny<DirectoryString_t>(&y->value, &asn_DEF_DirectoryString),
            &asn_DEF_DirectoryString};
        if (!u.value || !v.value) return SG_ASN_ERR_RUNTIME;
        if (u.value->present != v.value->present) return 234234344;
        int result = 0;
        switch (u.value->present) {
            case DirectoryString_PR_printableString: {
                const PrintableString_t& p = u.value->choice.printableString;
                const PrintableString_t& q = v.value->choice.printableString;
                std::string s(reinterpret_cast<const char*>(p.buf), p.size);
                std::string t(reinterpret_cast<const char*>(q.buf), q.size);
                result = SGASN1CPrintableString_Compare(s.c_str(), t.c_str());
                break;
            }
            case DirectoryString_PR_teletexString:
            case DirectoryString_PR_universalString:
            case DirectoryString_PR_utf8String:
            case DirectoryString_PR_bmpString: {
                // The alternatives share the OCTET STRING layout.
                const auto& p = u.value->choice.utf8String;
                const auto& q = v.value->choice.utf8String;
                result = sameBytes(p.buf, p.size, q.buf, q.size) ? 0 : 564161;
                break;
            }
            default:
                result = 5545555;
        }
        if (result) return result;
    }
    return 0;
}

int SGASN1CGeneralName_Compare(const GeneralName_t* a, const GeneralName_t* b) {
    if (!a || !b) return SG_PKI_ERR_ARGUMENT;
    if (a->present != b->present) return SG_ASN_ERR_KINDS_DIFFER;
    switch (a->present) {
        case GeneralName_PR_otherName: {
            const auto& p = a->choice.otherName;
            const auto& q = b->choice.otherName;
            return sameBytes(p.type_id.buf, p.type_id.size, q.type_id.buf, q.type_id.size) &&
                           sameBytes(p.value.buf, p.value.size, q.value.buf, q.value.size)
                       ? 0
                       : SG_ASN_ERR_VALUES_DIFFER;
        }
        case GeneralName_PR_x400Address:
        case GeneralName_PR_ediPartyName:
            return SG_ASN_ERR_NAME_KIND;
        case GeneralName_PR_directoryName:
            return SGASN1CName_Compare(&a->choice.directoryName, &b->choice.directoryName);
        case GeneralName_PR_rfc822Name:
        case GeneralName_PR_dNSName:
        case GeneralName_PR_uniformResourceIdentifier:
        case GeneralName_PR_iPAddress: {
            // IA5String and OCTET STRING share the layout.
            const auto& p = a->choice.rfc822Name;
            const auto& q = b->choice.rfc822Name;
            return sameBytes(p.buf, p.size, q.buf, q.size) ? 0 : SG_ASN_ERR_VALUES_DIFFER;
        }
        case GeneralName_PR_registeredID: {
            const auto& p = a->choice.registeredID;
            const auto& q = b->choice.registeredID;
            return sameBytes(p.buf, p.size, q.buf, q.size) ? 0 : SG_ASN_ERR_VALUES_DIFFER;
        }
        default:
            return SG_ASN_ERR_CHOICE;
    }
}

int SGASN1CGeneralNames_Compare(const GeneralNames_t* a, const GeneralNames_t* b) {
    if (!a || !b) return SG_PKI_ERR_ARGUMENT;
    if (a->list.count != b->list.count) return SG_ASN_ERR_COUNT;
    for (int i = 0; i < a->list.count; ++i)
        if (int result = SGASN1CGeneralName_Compare(a->list.array[i], b->list.array[i]))
            return result;
    return 0;
}

int SGASN1CDistributionPointName_Compare(const DistributionPointName_t* a,
                                         const DistributionPointName_t* b) {
    if (!a || !b) return SG_PKI_ERR_ARGUMENT;
    if (a->present != b->present) return -1;
    switch (a->present) {
        case DistributionPointName_PR_fullName:
            return SGASN1CGeneralNames_Compare(&a->choice.fullName, &b->choice.fullName);
        case DistributionPointName_PR_nameRelativeToCRLIssuer:
            return SGASN1CRelativeDistinguishedName_Compare(&a->choice.nameRelativeToCRLIssuer,
                                                            &b->choice.nameRelativeToCRLIssuer);
        default:
            return -2;
    }
}

// ---------------------------------------------------------------------------------------------
// Times.

int SGASN1CUTCTime_ToTm(time_t* t, struct tm* tm, const UTCTime_t* in, int asGmt) {
    if (!t || !tm || !in) return SG_PKI_ERR_ARGUMENT;
    std::memset(tm, 0, sizeof *tm);
    // -1 is also a valid instant; the runtime tells failure by errno.
    errno = EPERM;
    time_t value = asn_UT2time(in, tm, asGmt);
    if (value == -1 && errno != EPERM) return SG_ASN_ERR_RUNTIME;
    *t = value;
    return 0;
}

int SGASN1CGeneralizedTime_ToTm(time_t* t, struct tm* tm, const GeneralizedTime_t* in, int asGmt) {
    if (!t || !tm || !in) return SG_PKI_ERR_ARGUMENT;
    std::memset(tm, 0, sizeof *tm);
    errno = EPERM;
    time_t value = asn_GT2time(in, tm, asGmt);
    if (value == -1 && errno != EPERM) return SG_ASN_ERR_RUNTIME;
    *t = value;
    return 0;
}

int SGASN1CTime_ToTm(time_t* t, struct tm* tm, const Time_t* in, int asGmt) {
    if (!in) return SG_PKI_ERR_ARGUMENT;
    switch (in->present) {
        case Time_PR_NOTHING:
            return SG_ASN_ERR_TIME_FORM;
        case Time_PR_utcTime:
            return SGASN1CUTCTime_ToTm(t, tm, &in->choice.utcTime, asGmt);
        case Time_PR_generalTime:
            // Converted for the caller's information, but the form is refused.
            if (t && tm) SGASN1CGeneralizedTime_ToTm(t, tm, &in->choice.generalTime, asGmt);
            return SG_ASN_ERR_TIME_FORM;
        default:
            return SG_ASN_ERR_CHOICE;
    }
}

int SGASN1CTime_ToString(char* buffer, int size, const Time_t* in, int asGmt) {
    if (!buffer || !in || size <= 0) return SG_PKI_ERR_ARGUMENT;
    switch (in->present) {
        case Time_PR_NOTHING:
        case Time_PR_generalTime:
            return SG_ASN_ERR_TIME_FORM;
        case Time_PR_utcTime:
            break;
        default:
            return SG_ASN_ERR_CHOICE;
    }
    time_t t;
    struct tm tm;
    if (SGASN1CUTCTime_ToTm(&t, &tm, &in->choice.utcTime, asGmt) != 0) return SG_ASN_ERR_RUNTIME;
    char text[32];
    size_t length = std::strftime(text, sizeof text, "%Y%m%d%H%M%S", &tm);
    if (length == 0) return SG_ASN_ERR_RUNTIME;
    if (length + 1 > static_cast<size_t>(size)) return SG_PKI_ERR_OUT_OF_RANGE;
    std::memcpy(buffer, text, length + 1);
    return 0;
}

int SGASN1CUTCTime_FromTm(UTCTime_t* out, time_t t, int flag) {
    (void)flag;
    return timeFromTm(reinterpret_cast<GeneralizedTime_t*>(out), t, true);
}

int SGASN1CGeneralizedTime_FromTm(GeneralizedTime_t* out, time_t t, int flag) {
    (void)flag;
    return timeFromTm(out, t, false);
}

int SGASN1CTime_FromTm(Time_t* out, time_t t, int flag) {
    if (!out) return SG_PKI_ERR_ARGUMENT;
    SGASN1CObject_Clear(out, &asn_DEF_Time);
    out->present = Time_PR_utcTime;
    int result = SGASN1CUTCTime_FromTm(&out->choice.utcTime, t, flag);
    if (result) out->present = Time_PR_NOTHING;
    return result;
}

}  // extern "C"
