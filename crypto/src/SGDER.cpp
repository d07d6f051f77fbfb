#include "SGDER.h"

#include <cstdlib>
#include <cstring>

#include "SGCrypto.h"

namespace {

constexpr uint32_t kInitialSize = 32;
constexpr uint32_t kGrowth = 512;
// Room for a value's header: a 0x00 byte, the tag and a five-byte length, and one byte more so
// that a finished write never leaves the position at 0, which means "nothing written".
constexpr uint32_t kHeaderRoom = 8;
constexpr uint32_t kMaxValue = 0x7FFFFFFFu - kGrowth - kHeaderRoom;

bool checkedTag(int tag) {
    return tag == SG_DER_INTEGER || tag == SG_DER_BIT_STRING || tag == SG_DER_OCTET_STRING ||
           tag == SG_DER_OBJECT_IDENTIFIER || tag == SG_DER_SEQUENCE;
}

int create(ASN1Context* c, unsigned char* buffer, int size) {
    if (!c || size < 0) return SG_CRYPTO_ERR_ARGUMENT;
    c->value = nullptr;
    c->position = 0;
    if (buffer) {
        c->data = buffer;
        c->size = static_cast<uint32_t>(size);
        c->callerBuffer = 1;
        return 0;
    }
    c->callerBuffer = 0;
    c->data = static_cast<unsigned char*>(SGCrypto_calloc(1, kInitialSize));
    c->size = c->data ? kInitialSize : 0;
    return c->data ? 0 : SG_CRYPTO_ERR_MEMORY;
}

int destroy(ASN1Context* c) {
    if (!c) return SG_CRYPTO_ERR_ARGUMENT;
    if (!c->callerBuffer) SGCrypto_free(c->data);
    c->data = nullptr;
    c->value = nullptr;
    c->size = 0;
    c->position = 0;
    c->callerBuffer = 0;
    return 0;
}

// Makes room for length more bytes and a header in front of the encoding written so far.
int reserve(ASN1Context* c, uint32_t length) {
    if (length > kMaxValue) return SG_CRYPTO_ERR_MEMORY;
    if (c->position == 0) c->position = c->size;
    if (c->position >= length + kHeaderRoom) return 0;
    const uint32_t grow = (length + kHeaderRoom + kGrowth - 1) / kGrowth * kGrowth;
    if (c->size > kMaxValue - grow) return SG_CRYPTO_ERR_MEMORY;
    auto* bigger = static_cast<unsigned char*>(SGCrypto_malloc(c->size + grow));
    if (!bigger) return SG_CRYPTO_ERR_MEMORY;
    std::memset(bigger, 0, grow);
    if (c->size) std::memcpy(bigger + grow, c->data, c->size);
    if (!c->callerBuffer) SGCrypto_free(c->data);
    c->data = bigger;
    c->callerBuffer = 0;
    c->size += grow;
    c->position += grow;
    return 0;
}

void prependHeader(ASN1Context* c, int tag, uint32_t length) {
    if (length < 0x80) {
        c->data[--c->position] = static_cast<unsigned char>(length);
    } else {
        int n = 0;
        for (uint32_t rest = length; rest; rest >>= 8, ++n)
            c->data[--c->position] = static_cast<unsigned char>(rest);
        c->data[--c->position] = static_cast<unsigned char>(0x80 | n);
    }
    c->data[--c->position] = static_cast<unsigned char>(tag);
}

int write(ASN1Context* c, int tag, const unsigned char* value, uint32_t length) {
    if (!c || (!value && length > 0)) return SG_CRYPTO_ERR_ARGUMENT;
    if (int r = reserve(c, length)) return r;
    c->position -= length;
    if (length) std::memcpy(c->data + c->position, value, length);
    if (tag == SG_DER_RAW) return 0;
    uint32_t written = length;
    if (tag == SG_DER_INTEGER && (length == 0 || (c->data[c->position] & 0x80))) {
        c->data[--c->position] = 0;
        ++written;
    } else if (tag == SG_DER_BIT_STRING) {
        c->data[--c->position] = 0;
        ++written;
    }
    if (tag == SG_DER_SEQUENCE) written = c->size - c->position;
    prependHeader(c, tag, written);
    return 0;
}

int readType(ASN1Context* c, int tag) {
    if (!c || !c->data) return SG_CRYPTO_ERR_ARGUMENT;
    if (c->position >= c->size) return SG_DER_ERR_LENGTH;
    // A wrong tag is reported by its code only: the input may come from anyone, and the library
    // writes nothing to the process's standard output. Callers log the code in their own terms.
    if (tag != SG_DER_RAW && c->data[c->position] != tag) return SG_DER_ERR_TAG;
    ++c->position;
    return 0;
}

int readLength(ASN1Context* c, uint32_t* length) {
    if (!c || !c->data || !length) return SG_CRYPTO_ERR_ARGUMENT;
    if (c->position >= c->size) return SG_DER_ERR_LENGTH;
    const unsigned first = c->data[c->position++];
    uint32_t value = first;
    if (first & 0x80) {
        const unsigned n = first & 0x7F;
        if (n > 4 || n > c->size - c->position) return SG_DER_ERR_LENGTH;
        value = 0;
        for (unsigned i = 0; i < n; ++i) value = (value << 8) | c->data[c->position++];
    }
    if (value > c->size - c->position) return SG_DER_ERR_LENGTH;
    *length = value;
    return 0;
}

// Steps 2 to 4 of a read, once the tag is settled.
int readBody(ASN1Context* c, int tag, unsigned int* length) {
    uint32_t n = 0;
    if (int r = readLength(c, &n)) return r;
    if (tag == SG_DER_BIT_STRING) {
        if (n == 0) return SG_DER_ERR_LENGTH;
        if (c->data[c->position] != 0) return SG_DER_ERR_UNUSED_BITS;
        ++c->position;
        --n;
    }
    c->value = c->data + c->position;
    if (tag != SG_DER_SEQUENCE) c->position += n;
    if (length) *length = n;
    return 0;
}

int read(ASN1Context* c, int tag, unsigned int* length) {
    if (!c || !c->data) return SG_CRYPTO_ERR_ARGUMENT;
    if (checkedTag(tag)) {
        if (int r = readType(c, tag)) return r;
    }
    return readBody(c, tag, length);
}

}  // namespace

extern "C" {

int ASN1Context_Create(ASN1Context* context, unsigned char* buffer, int size, int) {
    return create(context, buffer, size);
}

int ASN1Context_Reset(ASN1Context* context) {
    if (!context) return SG_CRYPTO_ERR_ARGUMENT;
    context->size = 0;
    context->position = 0;
    return 0;
}

int ASN1Context_Destroy(ASN1Context* context) {
    return destroy(context);
}

int ASN1Write(ASN1Context* context, int tag, const unsigned char* value, unsigned int length) {
    return write(context, tag, value, length);
}

int ASN1WriteTypeAndLength(ASN1Context* context, int tag, int length) {
    if (!context || length < 0) return SG_CRYPTO_ERR_ARGUMENT;
    if (int r = reserve(context, 0)) return r;
    prependHeader(context, tag, static_cast<uint32_t>(length));
    return 0;
}

int ASN1Read(ASN1Context* context, int tag, unsigned int* length) {
    if (tag == SG_DER_RAW) return SG_DER_ERR_TAG;
    return read(context, tag, length);
}

int ASN1Read_Any(ASN1Context* context, int* tag, unsigned int* length) {
    if (!context || !context->data) return SG_CRYPTO_ERR_ARGUMENT;
    if (context->position >= context->size) return SG_DER_ERR_LENGTH;
    const int found = context->data[context->position];
    if (!checkedTag(found) && found != SG_DER_NULL) return SG_DER_ERR_TAG;
    ++context->position;
    if (tag) *tag = found;
    return readBody(context, found, length);
}

int ASN1ReadType(ASN1Context* context, int tag) {
    return readType(context, tag);
}

int ASN1ReadLength(ASN1Context* context, unsigned int* length) {
    return readLength(context, length);
}

int SGCrypto_ASN1Context_Create(SGCrypto_ASN1Context* context, unsigned char* buffer, int size,
                                int) {
    return create(context, buffer, size);
}

int SGCrypto_ASN1Context_Reset(SGCrypto_ASN1Context* context) {
    return ASN1Context_Reset(context);
}

int SGCrypto_ASN1Context_Destroy(SGCrypto_ASN1Context* context) {
    return destroy(context);
}

int SGCrypto_ASN1Write(SGCrypto_ASN1Context* context, int tag, const unsigned char* value,
                       unsigned int length) {
    return write(context, tag, value, length);
}

int SGCrypto_ASN1Read(SGCrypto_ASN1Context* context, int tag, unsigned int* length) {
    return read(context, tag, length);
}

}  // extern "C"
