#include "SGSimpleASN.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "SGMemory.h"
#include "SGPKCSError.h"
#include "SGServiceInternal.h"

static_assert(sizeof(SGSimpleASN) == 96);
static_assert(offsetof(SGSimpleASN, value) == 32);
static_assert(offsetof(SGSimpleASN, next) == 88);

namespace {

constexpr int kDecode = SG_ASN_ERR_DECODE;
constexpr int kEncode = SG_ASN_ERR_ENCODE;
constexpr uint32_t kDefaultChunk = 0x8000;
constexpr int kUtf8String = 0x0C;

bool isConstructed(const SGSimpleASN* n) {
    return n->constructed || n->tagNumber == 16;
}

uint64_t positionOf(SGStream* s) {
    uint64_t p = 0;
    SG_GBW(SGStream_GetPosition)(&p, s);
    return p;
}

int readByte(uint8_t* b, SGStream* source, uint64_t limit) {
    if (positionOf(source) >= limit) return kDecode;
    return SG_GBW(SGStream_Read)(b, 1, source) == 0 ? 0 : kDecode;
}

// Parses one TLV ending no later than limit (a source position).
int parse(SGSimpleASN* node, SGStream* source, uint64_t limit, int depth) {
    if (depth > SG_SIMPLE_ASN_MAX_DEPTH) return kDecode;
    uint8_t id = 0, first = 0;
    if (readByte(&id, source, limit) || readByte(&first, source, limit)) return kDecode;
    if ((id & 0x1F) == 0x1F) return kDecode;  // multi-octet tags
    uint64_t length = 0;
    if (first & 0x80) {
        const int k = first & 0x7F;
        if (k == 0 || k > 8) return kDecode;  // indefinite, or more than 8 octets
        for (int i = 0; i < k; ++i) {
            uint8_t b = 0;
            if (readByte(&b, source, limit)) return kDecode;
            length = length << 8 | b;
        }
    } else {
        length = first;
    }
    const uint64_t at = positionOf(source);
    if (at > limit || length > limit - at) return kDecode;  // past the enclosing value
    node->identifier = id;
    node->tagClass = id >> 6;
    node->constructed = (id >> 5) & 1;
    node->tagNumber = id & 0x1F;
    node->length = length;
    node->position = at;
    const uint64_t end = at + length;
    if (isConstructed(node)) {
        SGSimpleASN* last = nullptr;
        while (positionOf(source) < end) {
            auto* child =
                static_cast<SGSimpleASN*>(SG_GBW(SGMemory_calloc)(1, sizeof(SGSimpleASN)));
            if (!child) return SG_PKI_ERR_MEMORY;
            child->parent = node;
            child->previous = last;
            if (last)
                last->next = child;
            else
                node->firstChild = child;
            last = child;
            ++node->childCount;
            if (int r = parse(child, source, end, depth + 1)) return r;
        }
        return positionOf(source) == end ? 0 : kDecode;
    }
    auto* value = static_cast<SGStream*>(SG_GBW(SGMemory_calloc)(1, sizeof(SGStream)));
    if (!value) return SG_PKI_ERR_MEMORY;
    node->value = value;
    if (length > SG_SIMPLE_ASN_WINDOW) {
        // Large values stay in the source: a window, and the source moves past them.
        if (SG_GBW(SGStream_InitWithStream)(value, source, at, length) != 0)
            return SG_PKI_ERR_MEMORY;
        if (SG_GBW(SGStream_MoveTo)(source, static_cast<int64_t>(length)) != 0 ||
            positionOf(source) != end)
            return kDecode;
        return 0;
    }
    const size_t room = static_cast<size_t>(length) + (id == kUtf8String ? 1 : 0);
    if (room > 0) {
        node->buffer.data = static_cast<uint8_t*>(SG_GBW(SGMemory_calloc)(1, room));
        if (!node->buffer.data) return SG_PKI_ERR_MEMORY;
    }
    node->buffer.length = static_cast<uint32_t>(length);
    if (length > 0 &&
        SG_GBW(SGStream_Read)(node->buffer.data, static_cast<uint32_t>(length), source) != 0)
        return kDecode;
    return SG_GBW(SGStream_InitWithBinary)(value, &node->buffer) == 0 ? 0 : SG_PKI_ERR_MEMORY;
}

int lengthOctets(uint64_t length) {
    int n = 0;
    for (uint64_t l = length; l; l >>= 8) ++n;
    return n;
}

uint64_t encodedSize(const SGSimpleASN* n) {
    return 1 + (n->length < 128 ? 1 : 1 + lengthOctets(n->length)) + n->length;
}

// What a primitive's value stream holds; a node without one holds nothing.
uint64_t heldBy(SGSimpleASN* node) {
    uint64_t available = 0;
    if (node->value && SG_GBW(SGStream_ReadAvailable)(&available, node->value) != 0) available = 0;
    return available;
}

enum class Primitives { Take, Check };

// Sets every constructed length of the subtree to what its children encode to, with the
// shortest length octets, as written. A primitive's length is taken from its value stream, or
// checked against it.
int sizeTree(SGSimpleASN* node, Primitives primitives, int depth) {
    if (depth > SG_SIMPLE_ASN_MAX_DEPTH) return kEncode;
    if (!isConstructed(node)) {
        const uint64_t held = heldBy(node);
        if (primitives == Primitives::Take) node->length = held;
        return node->length == held ? 0 : kEncode;
    }
    uint64_t sum = 0;
    for (SGSimpleASN* c = node->firstChild; c; c = c->next) {
        if (int r = sizeTree(c, primitives, depth + 1)) return r;
        if (c->length > UINT64_MAX - 16) return kEncode;
        const uint64_t size = encodedSize(c);
        if (size > UINT64_MAX - sum) return kEncode;
        sum += size;
    }
    node->length = sum;
    return 0;
}

// The subtree, sized by sizeTree. From here on only the output's write and a value stream's
// read can fail.
int write(SGStream* output, SGSimpleASN* node, uint32_t chunk, uint8_t* buffer) {
    uint8_t header[10];
    size_t h = 0;
    header[h++] = static_cast<uint8_t>(node->identifier);
    if (node->length < 128) {
        header[h++] = static_cast<uint8_t>(node->length);
    } else {
        const int n = lengthOctets(node->length);
        header[h++] = static_cast<uint8_t>(0x80 | n);
        for (int i = n - 1; i >= 0; --i)
            header[h++] = static_cast<uint8_t>(node->length >> (8 * i));
    }
    if (int r = SG_GBW(SGStream_Write)(header, static_cast<uint32_t>(h), output)) return r;
    if (isConstructed(node)) {
        for (SGSimpleASN* c = node->firstChild; c; c = c->next)
            if (int r = write(output, c, chunk, buffer)) return r;
        return 0;
    }
    for (uint64_t remaining = node->length; remaining > 0;) {
        const auto k = static_cast<uint32_t>(std::min<uint64_t>(chunk, remaining));
        if (SG_GBW(SGStream_Read)(buffer, k, node->value) != 0) return kEncode;
        if (int r = SG_GBW(SGStream_Write)(buffer, k, output)) return r;
        remaining -= k;
    }
    return 0;
}

void resetTree(SGSimpleASN* node) {
    // Children first, iteratively along the sibling list; the depth is bounded by the parser.
    SGSimpleASN* c = node->firstChild;
    while (c) {
        SGSimpleASN* next = c->next;
        resetTree(c);
        SG_GBW(SGMemory_free)(c);
        c = next;
    }
    if (node->value) {
        SG_GBW(SGStream_Reset)(node->value);
        SG_GBW(SGMemory_free)(node->value);
    }
    if (node->buffer.data) SG_GBW(SGMemory_free)(node->buffer.data);
    std::memset(node, 0, sizeof *node);
}

}  // namespace

extern "C" {

int SGSimpleASN_Parse(SGSimpleASN* node, SGStream* source) {
    if (!node || !source) return SG_STREAM_ERR_ARGUMENT;
    try {
        uint64_t available = 0;
        if (SG_GBW(SGStream_ReadAvailable)(&available, source) != 0) return kDecode;
        const uint64_t at = positionOf(source);
        return parse(node, source, at + available, 0);
    } catch (...) {
        return SG_PKI_ERR_INTERNAL;
    }
}

int SGSimpleASN_Encode(SGStream* output, SGSimpleASN* node, uint32_t chunkSize) {
    if (!output || !node) return SG_STREAM_ERR_ARGUMENT;
    if (chunkSize == 0) chunkSize = kDefaultChunk;
    auto* buffer = static_cast<uint8_t*>(SG_GBW(SGMemory_malloc)(chunkSize));
    if (!buffer) return SG_PKI_ERR_MEMORY;
    int r;
    try {
        // Nothing is written unless the whole tree can be.
        r = sizeTree(node, Primitives::Check, 0);
        if (r == 0) r = write(output, node, chunkSize, buffer);
    } catch (...) {
        r = SG_PKI_ERR_INTERNAL;
    }
    SG_GBW(SGMemory_cleanse)(buffer, chunkSize);
    SG_GBW(SGMemory_free)(buffer);
    return r;
}

int SGSimpleASN_Update(SGSimpleASN* node) {
    if (!node) return SG_STREAM_ERR_ARGUMENT;
    return sizeTree(node, Primitives::Take, 0);
}

int SGSimpleASN_Reset(SGSimpleASN* node) {
    if (node) resetTree(node);
    return 0;
}

}  // extern "C"
