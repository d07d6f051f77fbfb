#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <mutex>
#include <set>
#include <string>

#include "AuthorityKeyIdentifier.h"
#include "BasicConstraints.h"
#include "Certificate.h"
#include "KeyUsage.h"
#include "PKIMessage.h"
#include "SGASN1C.h"
#include "SGASNObjectID.h"
#include "SGCRL.h"
#include "SGMemory.h"
#include "SGPKCS12.h"
#include "SGPKCS5.h"
#include "SGPKCS8.h"
#include "SGPKCSError.h"
#include "SGServiceInternal.h"
#include "SGServiceTable.h"
#include "SGX509Certificate.h"
#include "ServiceTestUtil.h"

namespace {

using namespace servicetest;

// A self-signed P-256 CA certificate (v3, basicConstraints, keyUsage, subjectKeyIdentifier)
// with the subject C=KR, O=Acme, CN=RootCA; see data/make_certificates.sh.
Bytes certificateBytes() {
    return readFile(BRINDLOW_TEST_DATA "/certificate/root.der");
}

// Owns a decoded structure.
template <typename T>
struct Owned {
    T* value = nullptr;
    asn_TYPE_descriptor_t* td;
    explicit Owned(asn_TYPE_descriptor_t* type) : td(type) {}
    ~Owned() {
        if (value) SGASN1CObject_Free(value, td);
    }
    void** slot() { return reinterpret_cast<void**>(&value); }
};

Bytes encode(const void* structure, asn_TYPE_descriptor_t* td) {
    SGBinary out{};
    EXPECT_EQ(SGASN1CObject_Encode(&out, td, structure), 0);
    Bytes b = bytesOf(out);
    SGBinary_Reset(&out);
    return b;
}

// ------------------------------------------------------------------------------------------
// Generic structures

TEST(SGASN1CObject, DecodeEncodeCopyClearFree) {
    Bytes der = certificateBytes();
    SGBinary in = viewOf(der);
    Owned<Certificate_t> cert(&asn_DEF_Certificate);
    ASSERT_EQ(SGASN1CObject_Decode(cert.slot(), &asn_DEF_Certificate, &in), 0);
    ASSERT_NE(cert.value->tbsCertificate.version, nullptr);
    EXPECT_EQ(hex(encode(cert.value, &asn_DEF_Certificate)), hex(der));

    // A deep copy encodes the same and shares nothing.
    Certificate_t copy{};
    ASSERT_EQ(SGASN1CObject_Copy(&copy, cert.value, &asn_DEF_Certificate), 0);
    EXPECT_NE(copy.signature.buf, cert.value->signature.buf);
    EXPECT_EQ(hex(encode(&copy, &asn_DEF_Certificate)), hex(der));
    ASSERT_EQ(SGASN1CObject_Clear(&copy, &asn_DEF_Certificate), 0);
    Certificate_t zero{};
    EXPECT_EQ(std::memcmp(&copy, &zero, sizeof copy), 0);  // cleared means zeroed, reusable
    ASSERT_EQ(SGASN1CObject_Copy(&copy, cert.value, &asn_DEF_Certificate), 0);
    SGASN1CObject_Clear(&copy, &asn_DEF_Certificate);
}

TEST(SGASN1CObject, EncodeReplacesWhatTheBufferHeld) {
    Bytes der = certificateBytes();
    SGBinary in = viewOf(der);
    Owned<Certificate_t> cert(&asn_DEF_Certificate);
    ASSERT_EQ(SGASN1CObject_Decode(cert.slot(), &asn_DEF_Certificate, &in), 0);
    SGBinary out{};
    SGBinary_SetString(&out, "old content");
    ASSERT_EQ(SGASN1CObject_Encode(&out, &asn_DEF_Certificate, cert.value), 0);
    EXPECT_EQ(hex(out), hex(der));
    SGBinary_Reset(&out);
}

TEST(SGASN1CObject, EachEncodingMeasuresTheStructureAsItIsThen) {
    // Encoding remembers the sizes of constructed values while it runs; a change between two
    // encodings (here deep inside the subject) must change every enclosing length.
    Bytes der = certificateBytes();
    SGBinary in = viewOf(der);
    Owned<Certificate_t> cert(&asn_DEF_Certificate);
    ASSERT_EQ(SGASN1CObject_Decode(cert.slot(), &asn_DEF_Certificate, &in), 0);
    ASSERT_EQ(hex(encode(cert.value, &asn_DEF_Certificate)), hex(der));
    RDNSequence_t& rdns = cert.value->tbsCertificate.subject.choice.rdnSequence;
    ASSERT_GT(rdns.list.count, 0);
    ANY_t& cn = rdns.list.array[rdns.list.count - 1]->list.array[0]->value;
    Bytes longer = {0x0C, 0x0A, 'L', 'o', 'n', 'g', 'e', 'r', 'N', 'a', 'm', 'e'};
    const ANY_t original = cn;  // shared below, put back before the structure is freed
    cn.buf = longer.data();
    cn.size = static_cast<int>(longer.size());
    const Bytes changed = encode(cert.value, &asn_DEF_Certificate);
    cn = original;
    EXPECT_EQ(changed.size(), der.size() + longer.size() - static_cast<size_t>(original.size));
    Owned<Certificate_t> again(&asn_DEF_Certificate);
    SGBinary changedIn = viewOf(changed);
    ASSERT_EQ(SGASN1CObject_Decode(again.slot(), &asn_DEF_Certificate, &changedIn), 0);
    EXPECT_EQ(hex(encode(again.value, &asn_DEF_Certificate)), hex(changed));
    const RDNSequence_t& decoded = again.value->tbsCertificate.subject.choice.rdnSequence;
    const ANY_t& value = decoded.list.array[decoded.list.count - 1]->list.array[0]->value;
    EXPECT_EQ(Bytes(value.buf, value.buf + value.size), longer);
}

TEST(SGASN1CObject, DecodeFailuresLeaveNothingBehind) {
    Bytes der = certificateBytes();
    // Every truncation fails, whether decoding into a new structure or in place.
    for (size_t n : {size_t{0}, size_t{1}, size_t{2}, size_t{50}, der.size() - 1}) {
        SGBinary in{der.data(), static_cast<uint32_t>(n)};
        void* fresh = nullptr;
        EXPECT_EQ(SGASN1CObject_Decode(&fresh, &asn_DEF_Certificate, &in), 20902) << n;
        EXPECT_EQ(fresh, nullptr);
        Certificate_t inPlace{};
        void* p = &inPlace;
        EXPECT_EQ(SGASN1CObject_Decode(&p, &asn_DEF_Certificate, &in), 20902) << n;
        Certificate_t zero{};
        EXPECT_EQ(std::memcmp(&inPlace, &zero, sizeof zero), 0) << n;
    }
    // Bytes after a complete value are not examined.
    Bytes longer = der;
    longer.insert(longer.end(), {0xFF, 0xFF, 0xFF});
    SGBinary in = viewOf(longer);
    Owned<Certificate_t> cert(&asn_DEF_Certificate);
    EXPECT_EQ(SGASN1CObject_Decode(cert.slot(), &asn_DEF_Certificate, &in), 0);
}

TEST(SGASN1CObject, DeepIndefiniteNestingFailsInsteadOfRecursingWithoutEnd) {
    // An AlgorithmIdentifier whose parameters are a million nested indefinite-length sets.
    Bytes der = {0x30, 0x80, 0x06, 0x03, 0x2A, 0x03, 0x04};
    for (int i = 0; i < 200000; ++i) der.insert(der.end(), {0x31, 0x80});
    SGBinary in = viewOf(der);
    void* out = nullptr;
    EXPECT_EQ(SGASN1CObject_Decode(&out, &asn_DEF_AlgorithmIdentifier, &in), 20902);
    EXPECT_EQ(out, nullptr);
}

// A PKIMessage whose body is a nested message, depth times over, ending in a conf body.
Bytes nestedPkiMessage(int depth) {
    const Bytes header = {0x30, 0x0B, 0x02, 0x01, 0x01, 0xA4, 0x02,
                          0x30, 0x00, 0xA4, 0x02, 0x30, 0x00};
    auto lengthSize = [](size_t n) -> size_t {
        return n < 0x80 ? 1 : n < 0x100 ? 2 : n < 0x10000 ? 3 : 4;
    };
    auto tlvSize = [&](size_t n) { return 1 + lengthSize(n) + n; };
    std::vector<size_t> message(depth + 1);  // encoded size of the message at each level
    message[0] = tlvSize(header.size() + 4);
    for (int i = 1; i <= depth; ++i) message[i] = tlvSize(header.size() + tlvSize(message[i - 1]));
    Bytes out;
    auto putTag = [&](unsigned char tag, size_t n) {
        out.push_back(tag);
        if (n < 0x80) {
            out.push_back(static_cast<unsigned char>(n));
            return;
        }
        const size_t bytes = lengthSize(n) - 1;
        out.push_back(static_cast<unsigned char>(0x80 | bytes));
        for (size_t b = bytes; b-- > 0;) out.push_back(static_cast<unsigned char>(n >> (8 * b)));
    };
    for (int i = depth; i >= 1; --i) {
        putTag(0x30, header.size() + tlvSize(message[i - 1]));
        out.insert(out.end(), header.begin(), header.end());
        putTag(0xB4, message[i - 1]);  // nested [20]
    }
    putTag(0x30, header.size() + 4);
    out.insert(out.end(), header.begin(), header.end());
    out.insert(out.end(), {0xB3, 0x02, 0x05, 0x00});  // conf [19] NULL
    return out;
}

TEST(SGASN1CObject, RecursionIsBoundedForNestedMessages) {
    for (int depth : {0, 3}) {
        Bytes der = nestedPkiMessage(depth);
        SGBinary in = viewOf(der);
        Owned<PKIMessage_t> message(&asn_DEF_PKIMessage);
        ASSERT_EQ(SGASN1CObject_Decode(message.slot(), &asn_DEF_PKIMessage, &in), 0) << depth;
        EXPECT_EQ(hex(encode(message.value, &asn_DEF_PKIMessage)), hex(der));
    }
    // Deep enough to exhaust a thread's stack if the decoder followed it.
    Bytes der = nestedPkiMessage(100000);
    SGBinary in = viewOf(der);
    void* message = nullptr;
    EXPECT_EQ(SGASN1CObject_Decode(&message, &asn_DEF_PKIMessage, &in), 20902);
    EXPECT_EQ(message, nullptr);
}

TEST(SGASN1CObject, MissingArguments) {
    SGBinary bin{};
    void* p = nullptr;
    Certificate_t cert{};
    EXPECT_EQ(SGASN1CObject_Encode(nullptr, &asn_DEF_Certificate, &cert), 10001);
    EXPECT_EQ(SGASN1CObject_Encode(&bin, nullptr, &cert), 10001);
    EXPECT_EQ(SGASN1CObject_Encode(&bin, &asn_DEF_Certificate, nullptr), 10001);
    EXPECT_EQ(SGASN1CObject_Decode(nullptr, &asn_DEF_Certificate, &bin), 10001);
    EXPECT_EQ(SGASN1CObject_Decode(&p, &asn_DEF_Certificate, nullptr), 10001);
    EXPECT_EQ(SGASN1CObject_Copy(nullptr, &cert, &asn_DEF_Certificate), 10001);
    EXPECT_EQ(SGASN1CObject_Clear(nullptr, &asn_DEF_Certificate), 10001);
    EXPECT_EQ(SGASN1CObject_Free(nullptr, &asn_DEF_Certificate), 10001);
    // An empty structure does not encode.
    EXPECT_EQ(SGASN1CObject_Encode(&bin, &asn_DEF_Certificate, &cert), 20902);
    EXPECT_EQ(bin.data, nullptr);
}

// ------------------------------------------------------------------------------------------
// The runtime allocates through the layer's copy of the Base table.

struct AllocationLog {
    std::mutex mutex;
    std::set<void*> live;
    int allocations = 0, frees = 0, unknownFrees = 0;
    void* saved[5];
} gLog;

void* countingMalloc(size_t n) {
    void* p = SGMemory_malloc(n);
    std::lock_guard lock(gLog.mutex);
    if (p) gLog.live.insert(p), ++gLog.allocations;
    return p;
}
void* countingCalloc(size_t c, size_t n) {
    void* p = SGMemory_calloc(c, n);
    std::lock_guard lock(gLog.mutex);
    if (p) gLog.live.insert(p), ++gLog.allocations;
    return p;
}
void* countingRealloc(void* old, size_t n) {
    void* p = SGMemory_realloc(old, n);
    std::lock_guard lock(gLog.mutex);
    if (p) {
        if (old && !gLog.live.erase(old)) ++gLog.unknownFrees;
        gLog.live.insert(p);
        ++gLog.allocations;
    }
    return p;
}
void countingFree(void* p) {
    {
        std::lock_guard lock(gLog.mutex);
        if (p) {
            ++gLog.frees;
            if (!gLog.live.erase(p)) ++gLog.unknownFrees;
        }
    }
    SGMemory_free(p);
}

TEST(SGASN1CMemory, DecodingAndFreeingACertificateGoesThroughSlots39To43) {
    Bytes der = certificateBytes();
    SGBinary in = viewOf(der);
    const int slots[] = {SGBaseSlot_SGMemory_malloc, SGBaseSlot_SGMemory_calloc,
                         SGBaseSlot_SGMemory_realloc, SGBaseSlot_SGMemory_cleanse,
                         SGBaseSlot_SGMemory_free};
    for (int i = 0; i < 5; ++i) gLog.saved[i] = _gbw[slots[i]];
    _gbw[SGBaseSlot_SGMemory_malloc] = reinterpret_cast<void*>(&countingMalloc);
    _gbw[SGBaseSlot_SGMemory_calloc] = reinterpret_cast<void*>(&countingCalloc);
    _gbw[SGBaseSlot_SGMemory_realloc] = reinterpret_cast<void*>(&countingRealloc);
    _gbw[SGBaseSlot_SGMemory_free] = reinterpret_cast<void*>(&countingFree);

    void* cert = nullptr;
    int decoded = SGASN1CObject_Decode(&cert, &asn_DEF_Certificate, &in);
    int allocatedWhileDecoding = gLog.allocations;
    int freed = cert ? SGASN1CObject_Free(cert, &asn_DEF_Certificate) : -1;

    for (int i = 0; i < 5; ++i) _gbw[slots[i]] = gLog.saved[i];
    ASSERT_EQ(decoded, 0);
    ASSERT_EQ(freed, 0);
    EXPECT_GT(allocatedWhileDecoding, 10);  // the structure and every field
    EXPECT_GT(gLog.frees, 10);
    EXPECT_EQ(gLog.unknownFrees, 0);  // nothing freed here was allocated elsewhere
    EXPECT_TRUE(gLog.live.empty()) << gLog.live.size() << " blocks left";
}

// ------------------------------------------------------------------------------------------
// Byte-string fields

TEST(SGASN1CFields, SharedAndCopiedBytes) {
    Bytes data = {1, 2, 3, 4};
    SGBinary in = viewOf(data);
    OCTET_STRING_t os{};
    ASSERT_EQ(SGASN1COctetString_Set(&os, &in), 0);
    EXPECT_EQ(os.buf, data.data());  // shared
    SGBinary view{};
    ASSERT_EQ(SGASN1COctetString_Get(&view, &os), 0);
    EXPECT_EQ(view.data, data.data());
    SGBinary copy{};
    ASSERT_EQ(SGASN1COctetString_GetCopiedData(&copy, &os), 0);
    EXPECT_NE(copy.data, data.data());
    EXPECT_EQ(hex(copy), "01020304");
    SGBinary_Reset(&copy);

    OCTET_STRING_t owned{};
    ASSERT_EQ(SGASN1COctetString_SetCopiedData(&owned, &in), 0);
    EXPECT_NE(owned.buf, data.data());
    ASSERT_EQ(SGASN1COctetString_SetFromBuf(&owned, "xyz", 3), 0);  // replaces
    EXPECT_EQ(std::string(reinterpret_cast<char*>(owned.buf), owned.size), "xyz");
    SGASN1CObject_Clear(&owned, &asn_DEF_OCTET_STRING);

    SGBinary empty{};
    EXPECT_EQ(SGASN1COctetString_SetCopiedData(&owned, &empty), 10001);
    EXPECT_EQ(SGASN1COctetString_SetFromBuf(&owned, nullptr, 3), 10001);
    EXPECT_EQ(SGASN1COctetString_Get(nullptr, &os), 10001);
    EXPECT_EQ(SGASN1CAny_Get(&view, nullptr), 10001);
}

TEST(SGASN1CFields, AnyValues) {
    ANY_t any{};
    Bytes der = {0x04, 0x03, 0xAA, 0xBB, 0xCC};
    SGBinary in = viewOf(der);
    ASSERT_EQ(SGASN1CAny_SetCopied(&any, &in), 0);
    SGBinary inner{};
    ASSERT_EQ(SGASN1CAny_GetValueAsOctetString(&inner, &any), 0);
    EXPECT_EQ(hex(inner), "AABBCC");
    SGBinary_Reset(&inner);
    SGBinary whole{};
    ASSERT_EQ(SGASN1CAny_GetCopiedData(&whole, &any), 0);
    EXPECT_EQ(hex(whole), "0403AABBCC");
    SGBinary_Reset(&whole);

    // A structure encoded into the ANY.
    BasicConstraints_t bc{};
    BOOLEAN_t yes = 1;
    bc.cA = &yes;
    ASSERT_EQ(SGASN1CAny_SetFromASN1CType(&any, &bc, &asn_DEF_BasicConstraints), 0);
    EXPECT_EQ(hex(any.buf, any.size), "30030101FF");
    EXPECT_EQ(SGASN1CAny_GetValueAsOctetString(&inner, &any), 20902);  // not an OCTET STRING
    SGASN1CObject_Clear(&any, &asn_DEF_ANY);
}

TEST(SGASN1CFields, BitStrings) {
    BIT_STRING_t bits{};
    Bytes data = {0xDE, 0xAD};
    SGBinary in = viewOf(data);
    ASSERT_EQ(SGASN1CBitString_Set(&bits, &in), 0);
    EXPECT_EQ(bits.bits_unused, 0);
    EXPECT_EQ(bits.buf[2], 0);  // the spare zero byte
    SGBinary out{};
    ASSERT_EQ(SGASN1CBitString_Get(&out, &bits), 0);
    EXPECT_EQ(hex(out), "DEAD");
    SGBinary_Reset(&out);
    SGBinary empty{};
    ASSERT_EQ(SGASN1CBitString_SetCopied(&bits, &empty), 0);  // clears it
    EXPECT_EQ(bits.buf, nullptr);
    EXPECT_EQ(bits.size, 0);

    struct Case {
        int bit;
        const char* bytes;
        int unused;
    } cases[] = {{0, "80", 7},   {1, "40", 6},   {5, "04", 2},    {7, "01", 0},
                 {8, "0080", 7}, {9, "0040", 6}, {15, "0001", 0}, {16, "000080", 7}};
    for (const Case& c : cases) {
        ASSERT_EQ(SGASN1CBitString_SetBit(&bits, c.bit), 0);
        EXPECT_EQ(hex(bits.buf, bits.size), c.bytes) << c.bit;
        EXPECT_EQ(bits.bits_unused, c.unused) << c.bit;
    }
    // The named bit 8 of a KeyUsage is decipherOnly: DER 03 03 07 00 80.
    ASSERT_EQ(SGASN1CBitString_SetBit(&bits, 8), 0);
    EXPECT_EQ(hex(encode(&bits, &asn_DEF_KeyUsage)), "0303070080");
    EXPECT_EQ(SGASN1CBitString_SetBit(&bits, -1), 10001);
    SGASN1CObject_Clear(&bits, &asn_DEF_BIT_STRING);
}

TEST(SGASN1CFields, UnusedBitCountsAreCheckedWhenDecoding) {
    struct Case {
        const char* der;
        int result;
    } cases[] = {
        {"03020780", 0},      // one bit set, 7 unused
        {"0303000102", 0},    //
        {"03020880", 20902},  // 8 unused bits: not a BIT STRING
        {"0302FF80", 20902},  //
        {"030101", 20902},    // an empty string with unused bits
        {"030100", 0},        // an empty string
    };
    for (const Case& c : cases) {
        Bytes der = unhex(c.der);
        SGBinary in = viewOf(der);
        void* out = nullptr;
        EXPECT_EQ(SGASN1CObject_Decode(&out, &asn_DEF_BIT_STRING, &in), c.result) << c.der;
        if (out) {
            EXPECT_EQ(hex(encode(out, &asn_DEF_BIT_STRING)), c.der);
            SGASN1CObject_Free(out, &asn_DEF_BIT_STRING);
        }
    }
}

TEST(SGASN1CFields, IA5StringsAndIntegers) {
    IA5String_t s{};
    ASSERT_EQ(SGASN1CIA5String_SetCopied(&s, "mail@example.kr", nullptr), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(s.buf), s.size), "mail@example.kr");
    Bytes b = {'a', 'b'};
    SGBinary in = viewOf(b);
    ASSERT_EQ(SGASN1CIA5String_SetCopied(&s, nullptr, &in), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(s.buf), s.size), "ab");
    EXPECT_EQ(SGASN1CIA5String_SetCopied(&s, nullptr, nullptr), 10001);
    SGASN1CObject_Clear(&s, &asn_DEF_IA5String);

    INTEGER_t i{};
    long value = 0;
    for (long v : {0L, 1L, 127L, 128L, -1L, -129L, 65537L, 0x7FFFFFFFFFFFFFFFL}) {
        ASSERT_EQ(SGASN1CInteger_Set(&i, v), 0);
        ASSERT_EQ(SGASN1CInteger_Get(&value, &i), 0);
        EXPECT_EQ(value, v);
    }
    ASSERT_EQ(SGASN1CInteger_Set(&i, 128), 0);
    EXPECT_EQ(hex(encode(&i, &asn_DEF_INTEGER)), "02020080");
    // A value wider than a long is reported by the runtime.
    Bytes wide(20, 0x7F);
    SGASN1CObject_Clear(&i, &asn_DEF_INTEGER);
    ASSERT_EQ(OCTET_STRING_fromBuf(reinterpret_cast<OCTET_STRING_t*>(&i),
                                   reinterpret_cast<const char*>(wide.data()), wide.size()),
              0);
    EXPECT_EQ(SGASN1CInteger_Get(&value, &i), -1);
    SGASN1CObject_Clear(&i, &asn_DEF_INTEGER);
}

// ------------------------------------------------------------------------------------------
// Identifiers and algorithms

TEST(SGASN1CIdentifiers, FromIdsAndText) {
    OBJECT_IDENTIFIER_t oid{};
    ASSERT_EQ(SGASN1CObjectIdentifier_Set(&oid, 145), 0);
    EXPECT_EQ(hex(oid.buf, oid.size), "551D13");
    int id = 0;
    ASSERT_EQ(SGASN1CObjectIdentifier_Get(&id, &oid), 0);
    EXPECT_EQ(id, 145);
    char text[64];
    ASSERT_EQ(SGASN1CObjectIdentifier_ToString(text, sizeof text, &oid), 0);
    EXPECT_STREQ(text, "2.5.29.19");
    EXPECT_EQ(SGASN1CObjectIdentifier_Set(&oid, 171), 20903);
    EXPECT_EQ(SGASN1CObjectIdentifier_Set(&oid, -3), 10001);

    // Identifiers outside the table: more than 10 arcs, and arcs beyond 32 bits printed whole.
    ASSERT_EQ(SGASN1CObjectIdentifier_FromString("2.25.4294967296.1.2.3.4.5.6.7.8.9", &oid), 0);
    ASSERT_EQ(SGASN1CObjectIdentifier_ToString(text, sizeof text, &oid), 0);
    EXPECT_STREQ(text, "2.25.4294967296.1.2.3.4.5.6.7.8.9");
    id = 7;
    EXPECT_EQ(SGASN1CObjectIdentifier_Get(&id, &oid), 20903);
    EXPECT_EQ(id, 7);  // left as it was
    EXPECT_EQ(SGASN1CObjectIdentifier_ToString(text, 10, &oid), 10009);
    EXPECT_EQ(SGASN1CObjectIdentifier_ToString(text, -1, &oid), 10001);

    std::string many = "1.2";
    for (int i = 0; i < 49; ++i) many += ".1";
    EXPECT_EQ(SGASN1CObjectIdentifier_FromString(many.c_str(), &oid), 10002);  // 51 arcs
    EXPECT_EQ(SGASN1CObjectIdentifier_FromString("1.2.x", &oid), 20902);
    EXPECT_EQ(SGASN1CObjectIdentifier_FromString("7.1", &oid), 20902);
    EXPECT_EQ(SGASN1CObjectIdentifier_FromString(nullptr, &oid), 10001);
    SGASN1CObject_Clear(&oid, &asn_DEF_OBJECT_IDENTIFIER);
}

TEST(SGASN1CIdentifiers, AlgorithmIdentifierParameters) {
    AlgorithmIdentifier_t alg{};
    ASSERT_EQ(SGASN1CAlgorithmIdentifier_Set(&alg, 3, SG_ASN1C_NULL_PARAMETERS), 0);
    EXPECT_EQ(hex(encode(&alg, &asn_DEF_AlgorithmIdentifier)), "300D06092A864886F70D0101010500");
    ASSERT_EQ(SGASN1CAlgorithmIdentifier_Set(&alg, 166, nullptr), 0);
    EXPECT_EQ(hex(encode(&alg, &asn_DEF_AlgorithmIdentifier)), "300B0609608648016503040201");

    // Parameters given as a buffer are taken over, not copied.
    SGBinary params{};
    SGBinary_Set(&params, "\x04\x02\xAB\xCD", 4);
    unsigned char* taken = params.data;
    ASSERT_EQ(SGASN1CAlgorithmIdentifier_Set(&alg, 55, &params), 0);
    EXPECT_EQ(alg.parameters->buf, taken);
    EXPECT_EQ(params.data, nullptr);
    EXPECT_EQ(hex(encode(&alg, &asn_DEF_AlgorithmIdentifier)), "300E06082A831A8C9A4401040402ABCD");
    SGBinary none{};
    ASSERT_EQ(SGASN1CAlgorithmIdentifier_Set(&alg, 55, &none), 0);  // empty: field absent
    EXPECT_EQ(alg.parameters, nullptr);
    EXPECT_EQ(SGASN1CAlgorithmIdentifier_Set(&alg, 999, nullptr), 20903);
    EXPECT_EQ(SGASN1CAlgorithmIdentifier_Set(nullptr, 3, nullptr), 10001);
    SGASN1CObject_Clear(&alg, &asn_DEF_AlgorithmIdentifier);
    EXPECT_EQ(hex(nullParam), "0500");
}

TEST(SGASN1CAlgorithms, FromCryptoIds) {
    struct Case {
        int kind, cipher, digest, result;
        const char* oid;  // written identifier, or null when nothing is written
    } cases[] = {
        {0, 0, 0, 0, "2.16.840.1.101.3.4.1.2"},
        {0, 1, 0, 0, "2.16.840.1.101.3.4.1.22"},
        {0, 2, 0, 0, "2.16.840.1.101.3.4.1.42"},
        {0, 3, 0, 0, "1.2.410.200004.1.4"},
        {0, 4, 0, 0, "1.2.410.100001.1.20"},
        {0, 11, 0, 0, "1.2.410.100001.1.30"},
        {0, 5, 0, 10010, nullptr},
        {0, 7, 0, 10010, nullptr},
        {0, 10, 0, 10010, nullptr},
        {0, 12, 0, 10010, nullptr},
        {0, -1, 0, 10010, nullptr},
        {2, 0, 3, 0, "1.3.14.3.2.26"},
        {2, 0, 5, 0, "2.16.840.1.101.3.4.2.1"},
        {2, 0, 6, 0, "2.16.840.1.101.3.4.2.2"},
        {2, 0, 7, 0, "2.16.840.1.101.3.4.2.3"},
        {2, 0, 4, 10010, nullptr},
        {2, 0, 2, 10010, nullptr},
        {2, 0, 8, 10010, nullptr},
        {1, 0, 0, 0, nullptr},
        {3, 0, 0, -22221, nullptr},
        {-1, 0, 0, -22221, nullptr},
    };
    for (const Case& c : cases) {
        AlgorithmIdentifier_t alg{};
        EXPECT_EQ(SGASN1CAlgorithmIdentifier_FromCrypto(&alg, c.kind, c.cipher, nullptr, c.digest),
                  c.result)
            << c.kind << "/" << c.cipher << "/" << c.digest;
        if (c.oid) {
            char text[64];
            ASSERT_EQ(SGASN1CObjectIdentifier_ToString(text, sizeof text, &alg.algorithm), 0);
            EXPECT_STREQ(text, c.oid);
            ASSERT_NE(alg.parameters, nullptr);
            EXPECT_EQ(hex(alg.parameters->buf, alg.parameters->size), "0500");
        } else {
            EXPECT_EQ(alg.algorithm.buf, nullptr);
        }
        SGASN1CObject_Clear(&alg, &asn_DEF_AlgorithmIdentifier);
    }
    // A missing structure is an error, not a silent success.
    EXPECT_EQ(SGASN1CAlgorithmIdentifier_FromCrypto(nullptr, 0, 3, nullptr, 0), 10001);
    EXPECT_EQ(SGASN1CAlgorithmIdentifier_FromCrypto(nullptr, 2, 0, nullptr, 5), 10001);
}

TEST(SGASN1CAlgorithms, AnIdMissingFromTheTableIsAnError) {
    // Slot 105 holds id 104 (AES-128-CBC); put another row there so the id is gone.
    ASSERT_EQ(SGASNObjectID_SlotId(105), 104);
    ASSERT_EQ(SGASNObjectID_Add(999, "1.2.3.4.5", 105), 0);
    AlgorithmIdentifier_t alg{};
    EXPECT_EQ(SGASN1CAlgorithmIdentifier_FromCrypto(&alg, 0, 0, nullptr, 0), 20903);
    EXPECT_EQ(alg.algorithm.buf, nullptr);
    SGASNObjectID_Free();  // the next lookup loads the full table again
    EXPECT_EQ(SGASN1CAlgorithmIdentifier_FromCrypto(&alg, 0, 0, nullptr, 0), 0);
    SGASN1CObject_Clear(&alg, &asn_DEF_AlgorithmIdentifier);
}

TEST(SGASN1CAlgorithms, ToCryptoIds) {
    struct Case {
        int oidId, result, cipher, key, digest, mode;  // -9: output untouched
    } cases[] = {
        {3, 0, -9, 1, -9, -9},        {4, 0, -9, 1, 1, -9},         {5, 0, -9, 1, 2, -9},
        {6, 0, -9, 1, 3, -9},         {11, 0, -9, 1, 4, -9},        {12, 0, -9, 1, 5, -9},
        {13, 0, -9, 1, 6, -9},        {14, 0, -9, 1, 7, -9},        {69, 0, -9, 1, 8, -9},
        {85, 0, -9, 1, 9, -9},        {108, 0, -9, -9, 3, -9},      {166, 0, -9, -9, 5, -9},
        {167, 0, -9, -9, 6, -9},      {168, 0, -9, -9, 7, -9},      {52, 0, -9, 4, -9, -9},
        {70, 0, -9, 4, -9, -9},       {104, 0, 0, -9, -9, 2},       {105, 0, 1, -9, -9, 2},
        {106, 0, 2, -9, -9, 2},       {55, 0, 3, -9, -9, 2},        {51, 0, 4, -9, -9, 2},
        {107, 0, 7, -9, -9, 2},       {102, 0, 8, -9, -9, 2},       {101, 0, 10, -9, -9, 2},
        {170, 0, 11, -9, -9, 2},      {7, 20903, -9, -9, -9, -9},   {53, 20903, -9, -9, -9, -9},
        {145, 20903, -9, -9, -9, -9}, {169, 20903, -9, -9, -9, -9},
    };
    for (const Case& c : cases) {
        AlgorithmIdentifier_t alg{};
        ASSERT_EQ(SGASN1CAlgorithmIdentifier_Set(&alg, c.oidId, nullptr), 0);
        int cipher = -9, key = -9, digest = -9, mode = -9;
        EXPECT_EQ(SGASN1CAlgorithmIdentifier_ToCrypto(&cipher, &key, &digest, &mode, &alg),
                  c.result)
            << c.oidId;
        EXPECT_EQ(cipher, c.cipher) << c.oidId;
        EXPECT_EQ(key, c.key) << c.oidId;
        EXPECT_EQ(digest, c.digest) << c.oidId;
        EXPECT_EQ(mode, c.mode) << c.oidId;
        // Every output may be left out.
        EXPECT_EQ(SGASN1CAlgorithmIdentifier_ToCrypto(nullptr, nullptr, nullptr, nullptr, &alg),
                  c.result);
        SGASN1CObject_Clear(&alg, &asn_DEF_AlgorithmIdentifier);
    }
    AlgorithmIdentifier_t unknown{};
    ASSERT_EQ(SGASN1CObjectIdentifier_FromString("1.2.3.4", &unknown.algorithm), 0);
    EXPECT_EQ(SGASN1CAlgorithmIdentifier_ToCrypto(nullptr, nullptr, nullptr, nullptr, &unknown),
              20903);
    SGASN1CObject_Clear(&unknown, &asn_DEF_AlgorithmIdentifier);
    EXPECT_EQ(SGASN1CAlgorithmIdentifier_ToCrypto(nullptr, nullptr, nullptr, nullptr, nullptr),
              10001);
}

TEST(SGASN1CAlgorithms, RsaSignatureByDigest) {
    const int expected[] = {4, 5, 6, 11, 12, 13, 14, 69};
    for (int digest = 1; digest <= 8; ++digest) {
        int oid = 0;
        ASSERT_EQ(SGASN1CDS_ToOID(&oid, 1, digest), 0);
        EXPECT_EQ(oid, expected[digest - 1]);
    }
    int oid = -5;
    for (int digest : {0, 9, -1}) EXPECT_EQ(SGASN1CDS_ToOID(&oid, 1, digest), 10001);
    for (int kind : {0, 2, 4, 5}) EXPECT_EQ(SGASN1CDS_ToOID(&oid, kind, 5), 10001);
    EXPECT_EQ(oid, -5);
    EXPECT_EQ(SGASN1CDS_ToOID(nullptr, 1, 5), 10001);
}

TEST(SGASN1CIdentifiers, IssuerAndSerialNumberFromACertificate) {
    Bytes der = certificateBytes();
    SGBinary in = viewOf(der);
    IssuerAndSerialNumber_t ias{};
    ASSERT_EQ(SGASN1CIssuerAndSerialNumber_FromCertificate(&ias, &in), 0);
    EXPECT_EQ(hex(ias.serialNumber.buf, ias.serialNumber.size),
              "6B0A7D6C1A4B0F3F3C0C59B3D2E8F8C2A3A6E9B1");
    EXPECT_EQ(hex(encode(&ias.issuer, &asn_DEF_Name)),
              "302D310B3009060355040613024B52310D300B060355040A0C0441636D65310F300D06035504030C06"
              "526F6F744341");
    SGASN1CObject_Clear(&ias, &asn_DEF_IssuerAndSerialNumber);
    Bytes bad = {0x30, 0x03, 0x02, 0x01, 0x01};
    SGBinary badIn = viewOf(bad);
    EXPECT_EQ(SGASN1CIssuerAndSerialNumber_FromCertificate(&ias, &badIn), 20902);
}

// ------------------------------------------------------------------------------------------
// Sets, attributes, names

TEST(SGASN1CAttributes, SetAndSetAllEncodeInOrder) {
    Attribute_t attr{};
    Bytes v1 = {0x04, 0x01, 0x01}, v2 = {0x04, 0x01, 0x02};
    SGBinary b1 = viewOf(v1), b2 = viewOf(v2);
    ASSERT_EQ(SGASN1CAttribute_Set(&attr, 49, &b1), 0);
    ASSERT_EQ(SGASN1CAttribute_Set(&attr, 49, &b2), 0);  // one more value
    EXPECT_EQ(attr.values.list.count, 2);
    EXPECT_EQ(hex(encode(&attr, &asn_DEF_Attribute)), "301306092A864886F70D0109153106040101040102");
    EXPECT_EQ(SGASN1CAttribute_Set(&attr, 999, &b1), 20903);
    EXPECT_EQ(SGASN1CAttribute_Set(&attr, -1, &b1), 10001);
    SGASN1CObject_Clear(&attr, &asn_DEF_Attribute);

    SGBinaryList* list = SGBinaryList_New();
    SGBinaryList_Add(list, &b2);
    SGBinaryList_Add(list, &b1);
    ASSERT_EQ(SGASN1CAttribute_SetAll(&attr, "1.2.410.200004.10.1.1.3", list), 0);
    ASSERT_EQ(attr.values.list.count, 2);
    EXPECT_EQ(hex(attr.values.list.array[0]->buf, attr.values.list.array[0]->size), "040102");
    char text[64];
    ASSERT_EQ(SGASN1CObjectIdentifier_ToString(text, sizeof text, &attr.type), 0);
    EXPECT_STREQ(text, "1.2.410.200004.10.1.1.3");
    SGASN1CObject_Clear(&attr, &asn_DEF_Attribute);
    EXPECT_EQ(SGASN1CAttribute_SetAll(&attr, nullptr, list), 10001);
    EXPECT_EQ(SGASN1CAttribute_SetAll(&attr, "bad", list), 20902);
    SGASN1CObject_Clear(&attr, &asn_DEF_Attribute);
    SGBinaryList_Free(list);
}

TEST(SGASN1CAttributes, DecodeFriendlyNameAndLocalKeyId) {
    Attribute_t name{};
    // BMPString "이 key" (U+C774, space, k, e, y).
    Bytes bmp = {0x1E, 0x0A, 0xC7, 0x74, 0x00, 0x20, 0x00, 0x6B, 0x00, 0x65, 0x00, 0x79};
    SGBinary b = viewOf(bmp);
    ASSERT_EQ(SGASN1CAttribute_Set(&name, 50, &b), 0);
    SGBinaryList* values = SGBinaryList_New();
    int id = 0;
    ASSERT_EQ(SGASN1CAttribute_Decode(values, &id, &name), 0);
    EXPECT_EQ(id, 50);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(values->value.data), values->value.length),
              "\xEC\x9D\xB4 key");
    SGBinaryList_Reset(values);
    SGASN1CObject_Clear(&name, &asn_DEF_Attribute);

    Attribute_t keyId{};
    Bytes os1 = {0x04, 0x02, 0x12, 0x34}, os2 = {0x04, 0x00};
    SGBinary o1 = viewOf(os1), o2 = viewOf(os2);
    ASSERT_EQ(SGASN1CAttribute_Set(&keyId, 49, &o1), 0);
    ASSERT_EQ(SGASN1CAttribute_Set(&keyId, 49, &o2), 0);
    ASSERT_EQ(SGASN1CAttribute_Decode(values, &id, &keyId), 0);
    EXPECT_EQ(id, 49);
    EXPECT_EQ(hex(values->value), "1234");
    ASSERT_NE(values->next, nullptr);
    EXPECT_EQ(values->next->value.length, 0u);
    SGBinaryList_Reset(values);
    SGASN1CObject_Clear(&keyId, &asn_DEF_Attribute);

    // Other known types are refused, unknown ones too; a value that does not decode fails.
    Attribute_t other{};
    ASSERT_EQ(SGASN1CAttribute_Set(&other, 32, &o1), 0);
    EXPECT_EQ(SGASN1CAttribute_Decode(values, &id, &other), 20907);
    SGASN1CObject_Clear(&other, &asn_DEF_Attribute);
    ASSERT_EQ(SGASN1CAttribute_Set(&other, 50, &o1), 0);  // an OCTET STRING, not a BMPString
    EXPECT_EQ(SGASN1CAttribute_Decode(values, &id, &other), 20902);
    SGASN1CObject_Clear(&other, &asn_DEF_Attribute);
    ASSERT_EQ(SGASN1CObjectIdentifier_FromString("1.2.3.4", &other.type), 0);
    EXPECT_EQ(SGASN1CAttribute_Decode(values, &id, &other), 20906);
    SGASN1CObject_Clear(&other, &asn_DEF_Attribute);
    // Without values: 0 and an empty list.
    ASSERT_EQ(SGASN1CObjectIdentifier_Set(&other.type, 32), 0);
    EXPECT_EQ(SGASN1CAttribute_Decode(values, &id, &other), 0);
    EXPECT_EQ(values->tail, nullptr);
    SGASN1CObject_Clear(&other, &asn_DEF_Attribute);
    SGBinaryList_Free(values);
}

TEST(SGASN1CNames, GeneralNamesAndExtensions) {
    GeneralName_t name{};
    ASSERT_EQ(SGASN1CGeneralName_SetCopied(&name, "kim@example.kr", nullptr, 1), 0);
    EXPECT_EQ(hex(encode(&name, &asn_DEF_GeneralName)), "810E6B696D406578616D706C652E6B72");
    Bytes dns = {'a', '.', 'k', 'r'};
    SGBinary d = viewOf(dns);
    ASSERT_EQ(SGASN1CGeneralName_SetCopied(&name, nullptr, &d, 2), 0);
    EXPECT_EQ(hex(encode(&name, &asn_DEF_GeneralName)), "8204612E6B72");
    Bytes ip = {127, 0, 0, 1};
    SGBinary i = viewOf(ip);
    ASSERT_EQ(SGASN1CGeneralName_SetCopied(&name, nullptr, &i, 7), 0);
    EXPECT_EQ(hex(encode(&name, &asn_DEF_GeneralName)), "87047F000001");
    EXPECT_EQ(SGASN1CGeneralName_SetCopied(&name, "x", nullptr, 6), 10010);
    EXPECT_EQ(SGASN1CGeneralName_SetCopied(&name, nullptr, nullptr, 1), 10001);
    EXPECT_EQ(name.present, GeneralName_PR_NOTHING);
    SGASN1CObject_Clear(&name, &asn_DEF_GeneralName);

    Extension_t ext;
    std::memset(&ext, 0x5A, sizeof ext);  // whatever it held is overwritten
    Bytes bc = {0x30, 0x03, 0x01, 0x01, 0xFF};
    SGBinary v = viewOf(bc);
    ASSERT_EQ(SGASN1CExtension_SetCopied(&ext, nullptr, 145, &v), 0);
    EXPECT_EQ(ext.critical, nullptr);
    EXPECT_EQ(hex(encode(&ext, &asn_DEF_Extension)),
              "300C0603551D130405"
              "30030101FF");
    SGASN1CObject_Clear(&ext, &asn_DEF_Extension);
    EXPECT_EQ(SGASN1CExtension_SetCopied(&ext, nullptr, 999, &v), 20903);
    EXPECT_EQ(SGASN1CExtension_SetCopied(&ext, nullptr, 145, nullptr), 10001);
    SGASN1CObject_Clear(&ext, &asn_DEF_Extension);
    EXPECT_EQ(SGASN1CRDNSequence_FromString(nullptr, "CN=x"), 0);
}

TEST(SGASN1CSets, AppendToSetAndSequence) {
    RDNSequence_t seq{};
    auto* rdn = static_cast<RelativeDistinguishedName_t*>(
        SGMemory_calloc(1, sizeof(RelativeDistinguishedName_t)));
    auto* ava =
        static_cast<AttributeTypeAndValue_t*>(SGMemory_calloc(1, sizeof(AttributeTypeAndValue_t)));
    Bytes value = {0x0C, 0x01, 'A'};
    SGBinary v = viewOf(value);
    ASSERT_EQ(SGASN1CAttributeTypeAndValue_Set(ava, 109, &v), 0);
    ASSERT_EQ(SGASN1CSet_Add(rdn, ava), 0);
    ASSERT_EQ(SGASN1CSequence_Add(&seq, rdn), 0);
    EXPECT_EQ(hex(encode(&seq, &asn_DEF_RDNSequence)),
              "300C310A30080603550403"
              "0C0141");
    EXPECT_EQ(SGASN1CSet_Add(nullptr, ava), 10001);
    EXPECT_EQ(SGASN1CSequence_Add(&seq, nullptr), 10001);
    SGASN1CObject_Clear(&seq, &asn_DEF_RDNSequence);
}

// ------------------------------------------------------------------------------------------
// The runtime on hostile values: what no signed arithmetic may overflow on

// A length of eight octets or more reaches past a signed 64-bit length: refused, whatever its
// top bits, as a length that does not fit.
TEST(SGASN1CRuntime, LengthsPastASignedLengthAreRefused) {
    struct Case {
        const char* der;
        int result;
    } cases[] = {
        {"0488800000000000000000", 20902},  // 2^63
        {"0488FFFFFFFFFFFFFFFF00", 20902},
        {"04887FFFFFFFFFFFFFFF00", 20902},  // fits a length, not the input
        {"0489008000000000000000", 20902},  // nine octets
        {"0488000000000000000100", 0},      // one content byte in eight length octets
        {"0484000000020102", 0},            //
    };
    for (const Case& c : cases) {
        Bytes der = unhex(c.der);
        SGBinary in = viewOf(der);
        void* out = nullptr;
        EXPECT_EQ(SGASN1CObject_Decode(&out, &asn_DEF_OCTET_STRING, &in), c.result) << c.der;
        if (out) SGASN1CObject_Free(out, &asn_DEF_OCTET_STRING);
    }
}

// Negative INTEGERs convert to the same two's-complement long at every width.
TEST(SGASN1CRuntime, NegativeIntegersConvertExactly) {
    struct Case {
        const char* content;
        int result;
        long value;
    } cases[] = {
        {"FF", 0, -1},
        {"80", 0, -128},
        {"F800", 0, -2048},
        {"FF7F", 0, -129},
        {"8000000000000000", 0, LONG_MIN},
        {"FFFFFFFFFFFFFFFFFF", 0, -1},      // redundant sign octets are skipped
        {"FF7FFFFFFFFFFFFFFF", -1, 0},      // below LONG_MIN
        {"7FFFFFFFFFFFFFFF", 0, LONG_MAX},  //
        {"00FFFFFFFFFFFFFFFF", -1, 0},      // above LONG_MAX
    };
    for (const Case& c : cases) {
        Bytes content = unhex(c.content);
        INTEGER_t i{};
        i.buf = content.data();
        i.size = static_cast<int>(content.size());
        long value = 0;
        EXPECT_EQ(SGASN1CInteger_Get(&value, &i), c.result) << c.content;
        EXPECT_EQ(value, c.value) << c.content;
    }
}

// The seeds that carry these values to the entry points: an eleven-byte value with an eight-octet
// length; key files and a PKCS #12 MAC whose iteration count is -2048. Each is refused with the
// code of its kind and leaves the outputs as they were.
TEST(SGASN1CRuntime, HostileSeedsAreRefusedAtTheEntryPoints) {
    ASSERT_EQ(SGServiceWrapper_GetList(Service), 0);
    const std::string data = BRINDLOW_TEST_DATA;
    const Bytes length8 = readFile(data + "/fuzz_pkcs8/length_8_octets.der");
    ASSERT_EQ(hex(length8), "3088800000000000000000");
    SGBinary in = viewOf(length8);

    SGCRLStatus status{5, 1};
    const Bytes serialBytes{0x01};
    SGBinary serial = viewOf(serialBytes);
    EXPECT_EQ(SGCRL_Check(&status, &in, &serial), SG_ASN_ERR_RUNTIME);
    EXPECT_EQ(status.reason, SG_CRL_NOT_REVOKED);
    SGX509Certificate certificate{};
    EXPECT_EQ(SGX509Certificate_FromBinary(&certificate, &in), SG_ASN_ERR_RUNTIME);
    EXPECT_EQ(certificate.certificate, nullptr);
    SGPKCS8EncryptedPrivateKeyInfo info{};
    EXPECT_EQ(SGPKCS8EncryptedPrivateKeyInfo_Decode(&info, &in), SG_ASN_ERR_RUNTIME);
    SGPKCS8EncryptedPrivateKeyInfo_Cleanse(&info);
    const Bytes password{'p', 'w'};
    SGBinary pw = viewOf(password);
    SGPKCS12PFX pfx{};
    EXPECT_EQ(SGPKCS12PFX_Decode(&pfx, &in, &pw), SG_ASN_ERR_DECODE);
    EXPECT_EQ(pfx.count, 0);
    SGPKCS12PFX_Clear(&pfx);

    for (const char* name : {"pbes2_iterations_negative.der", "pkcs12_iterations_negative.der"}) {
        SCOPED_TRACE(name);
        const Bytes der = readFile(data + "/fuzz_pkcs8/" + name);
        SGBinary file = viewOf(der);
        SGPKCS8EncryptedPrivateKeyInfo key{};
        ASSERT_EQ(SGPKCS8EncryptedPrivateKeyInfo_Decode(&key, &file), 0);
        unsigned char out[64];
        std::memset(out, 0xA5, sizeof out);
        int length = -1;
        EXPECT_EQ(SGPKCS5Decrypt(out, &length, &key, password.data(), 2), SG_ASN_ERR_MALFORMED);
        EXPECT_EQ(length, -1);
        EXPECT_EQ(out[0], 0xA5);
        SGPKCS8EncryptedPrivateKeyInfo_Cleanse(&key);
    }

    const Bytes p12 = readFile(data + "/fuzz_pkcs12/x_mac_negative.p12");
    ASSERT_EQ(hex(Bytes(p12.end() - 4, p12.end())), "0202F800");
    SGBinary file = viewOf(p12);
    EXPECT_EQ(SGPKCS12PFX_Decode(&pfx, &file, &pw), SG_PKI_ERR_OUT_OF_RANGE);
    EXPECT_EQ(pfx.count, 0);
    SGPKCS12PFX_Clear(&pfx);
}

}  // namespace
