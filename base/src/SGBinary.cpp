#include "SGBinary.h"

#include <cstring>

#include "SGMemory.h"

namespace {

// Zero-fill and release a buffer (not a secret: secrets go through SGBinary_Cleanse).
void releaseData(SGBinary* bin) {
    if (bin->data) {
        std::memset(bin->data, 0, bin->length);
        SGMemory_free(bin->data);
    }
    bin->data = nullptr;
    bin->length = 0;
}

// A fresh copy of length bytes, or null. Length 0 gives null too; callers test length first.
unsigned char* copyBytes(const void* bytes, uint32_t length) {
    auto* p = static_cast<unsigned char*>(SGMemory_malloc(length));
    if (p) std::memcpy(p, bytes, length);
    return p;
}

unsigned char mirror(unsigned char b) {
    b = static_cast<unsigned char>((b & 0xF0) >> 4 | (b & 0x0F) << 4);
    b = static_cast<unsigned char>((b & 0xCC) >> 2 | (b & 0x33) << 2);
    b = static_cast<unsigned char>((b & 0xAA) >> 1 | (b & 0x55) << 1);
    return b;
}

template <typename Node>
void releaseChain(Node* node);

void releaseNodeValues(SGBinaryList* n) { releaseData(&n->value); }
void releaseNodeValues(SGBinaryTupleList* n) {
    releaseData(&n->key);
    releaseData(&n->value);
}

// Iterative, so a long list cannot exhaust the stack.
template <typename Node>
void releaseChain(Node* node) {
    while (node) {
        Node* next = node->next;
        releaseNodeValues(node);
        SGMemory_free(node);
        node = next;
    }
}

template <typename Node>
void resetList(Node* head) {
    if (!head) return;
    releaseChain(head->next);
    releaseNodeValues(head);
    std::memset(static_cast<void*>(head), 0, sizeof(*head));
}

// Picks the node a new value goes into: the head while the list is empty, else a new node
// linked behind the tail. *fresh tells whether the caller must free it on failure.
template <typename Node>
Node* targetNode(Node* head, bool* fresh) {
    *fresh = false;
    if (!head->tail) return head;
    auto* node = static_cast<Node*>(SGMemory_calloc(1, sizeof(Node)));
    if (node) *fresh = true;
    return node;
}

template <typename Node>
void commitNode(Node* head, Node* target, bool fresh) {
    if (fresh) head->tail->next = target;
    head->tail = target;
}

// Copy of src into an empty dst record; false on exhausted memory.
bool copyInto(SGBinary* dst, const SGBinary* src) {
    dst->data = nullptr;
    dst->length = 0;
    if (!src->data || src->length == 0) return true;
    dst->data = copyBytes(src->data, src->length);
    if (!dst->data) return false;
    dst->length = src->length;
    return true;
}

}  // namespace

extern "C" {

SGBinary* SGBinary_New(uint32_t size) {
    auto* bin = static_cast<SGBinary*>(SGMemory_calloc(1, sizeof(SGBinary)));
    if (!bin) return nullptr;
    if (size > 0) {
        bin->data = static_cast<unsigned char*>(SGMemory_calloc(1, size));
        if (!bin->data) {
            SGMemory_free(bin);
            return nullptr;
        }
        bin->length = size;
    }
    return bin;
}

int SGBinary_Init(SGBinary* bin, uint32_t size) {
    if (!bin) return -1;
    bin->data = nullptr;
    bin->length = 0;
    if (size == 0) return 0;
    bin->data = static_cast<unsigned char*>(SGMemory_calloc(1, size));
    if (!bin->data) return -2;
    bin->length = size;
    return 0;
}

int SGBinary_Reset(SGBinary* bin) {
    if (bin) releaseData(bin);
    return 0;
}

int SGBinary_Cleanse(SGBinary* bin) {
    if (!bin) return 0;
    if (bin->data) {
        SGMemory_cleanse(bin->data, bin->length);
        SGMemory_free(bin->data);
    }
    SGMemory_cleanse(bin, sizeof(*bin));
    return 0;
}

int SGBinary_Free(SGBinary* bin) {
    if (!bin) return 0;
    releaseData(bin);
    SGMemory_free(bin);
    return 0;
}

SGBinary* SGBinary_Duplicate(const SGBinary* src) {
    SGBinary* bin = SGBinary_New(0);
    if (!bin || !src) return bin;
    copyInto(bin, src);  // left empty when the copy cannot be allocated
    return bin;
}

int SGBinary_Copy(SGBinary* dst, const SGBinary* src) {
    if (!dst || !src) return 1;
    return copyInto(dst, src) ? 0 : 2;
}

int SGBinary_Set(SGBinary* bin, const void* bytes, uint32_t length) {
    if (!bin || !bytes) return 1;
    bin->data = nullptr;
    bin->length = 0;
    if (length == 0) return 0;
    bin->data = copyBytes(bytes, length);
    if (!bin->data) return 2;
    bin->length = length;
    return 0;
}

int SGBinary_SetString(SGBinary* bin, const char* text) {
    if (!bin || !text) return 1;
    size_t len = std::strlen(text);
    if (len >= UINT32_MAX) return 2;
    unsigned char* p = copyBytes(text, static_cast<uint32_t>(len + 1));
    if (!p) return 2;
    bin->data = p;
    bin->length = static_cast<uint32_t>(len);
    return 0;
}

int SGBinary_ToString(char** out, const SGBinary* bin) {
    if (!out || !bin) return 1;
    if (bin->length == UINT32_MAX) return 2;
    auto* s = static_cast<char*>(SGMemory_calloc(1, size_t{bin->length} + 1));
    if (!s) return 2;
    if (bin->data && bin->length) std::memcpy(s, bin->data, bin->length);
    *out = s;
    return 0;
}

int SGBinary_Add(SGBinary* bin, const void* bytes, uint32_t length) {
    if (!bin || !bytes) return 1;
    if (length == 0) return 0;
    uint64_t total = uint64_t{bin->length} + length;
    if (total > UINT32_MAX) return 2;
    auto* grown = static_cast<unsigned char*>(SGMemory_realloc(bin->data, total));
    if (!grown) return 2;  // the record keeps its old buffer and length, still valid
    std::memcpy(grown + bin->length, bytes, length);
    bin->data = grown;
    bin->length = static_cast<uint32_t>(total);
    return 0;
}

int SGBinary_AddString(SGBinary* bin, const char* text) {
    if (!bin || !text) return 1;
    size_t len = std::strlen(text);
    if (len > UINT32_MAX) return 2;
    return SGBinary_Add(bin, text, static_cast<uint32_t>(len));
}

int SGBinary_Cmp(const SGBinary* a, const SGBinary* b) {
    if (!a || !b) return 1;
    if (a->length != b->length) return 1;
    if (a->length == 0) return 0;
    if (!a->data || !b->data) return 1;
    return std::memcmp(a->data, b->data, a->length) == 0 ? 0 : 1;
}

int SGBinary_Reverse(SGBinary* dst, const SGBinary* src) {
    if (!dst || !src || dst == src) return 1;
    dst->data = nullptr;
    dst->length = 0;
    if (src->length == 0 || !src->data) return 0;
    auto* p = static_cast<unsigned char*>(SGMemory_malloc(src->length));
    if (!p) return 2;
    for (uint32_t i = 0; i < src->length; ++i) p[i] = mirror(src->data[src->length - 1 - i]);
    dst->data = p;
    dst->length = src->length;
    return 0;
}

SGBinaryList* SGBinaryList_New(void) {
    return static_cast<SGBinaryList*>(SGMemory_calloc(1, sizeof(SGBinaryList)));
}

int SGBinaryList_Reset(SGBinaryList* list) {
    resetList(list);
    return 0;
}

int SGBinaryList_Free(SGBinaryList* list) {
    if (!list) return 0;
    resetList(list);
    SGMemory_free(list);
    return 0;
}

int SGBinaryList_Add(SGBinaryList* list, const SGBinary* value) {
    if (!list || !value) return 1;
    bool fresh;
    SGBinaryList* target = targetNode(list, &fresh);
    if (!target) return 2;
    if (!copyInto(&target->value, value)) {
        if (fresh) SGMemory_free(target);
        return 2;
    }
    commitNode(list, target, fresh);
    return 0;
}

int SGBinaryList_Copy(SGBinaryList* dst, const SGBinaryList* src) {
    if (!dst || !src) return 1;
    std::memset(static_cast<void*>(dst), 0, sizeof(*dst));
    if (!src->tail) return 0;  // empty source
    for (const SGBinaryList* n = src; n; n = n->next) {
        if (SGBinaryList_Add(dst, &n->value) != 0) {
            resetList(dst);
            return 2;
        }
    }
    return 0;
}

SGBinaryTupleList* SGBinaryTupleList_New(void) {
    return static_cast<SGBinaryTupleList*>(SGMemory_calloc(1, sizeof(SGBinaryTupleList)));
}

int SGBinaryTupleList_Reset(SGBinaryTupleList* list) {
    resetList(list);
    return 0;
}

int SGBinaryTupleList_Free(SGBinaryTupleList* list) {
    if (!list) return 0;
    resetList(list);
    SGMemory_free(list);
    return 0;
}

int SGBinaryTupleList_Add(SGBinaryTupleList* list, const SGBinary* key, const SGBinary* value) {
    if (!list || !key || !value) return 1;
    bool fresh;
    SGBinaryTupleList* target = targetNode(list, &fresh);
    if (!target) return 2;
    if (!copyInto(&target->key, key)) {
        if (fresh) SGMemory_free(target);
        return 2;
    }
    if (!copyInto(&target->value, value)) {
        releaseData(&target->key);
        if (fresh) SGMemory_free(target);
        return 2;
    }
    commitNode(list, target, fresh);
    return 0;
}

int SGBinaryTupleList_Find(SGBinary* out, const SGBinaryTupleList* list, const SGBinary* key) {
    if (!out || !list || !key) return -1;
    if (key->length && !key->data) return -1;
    for (const SGBinaryTupleList* n = list; n; n = n->next) {
        if (n->key.length != key->length) continue;
        if (key->length == 0 || std::memcmp(n->key.data, key->data, key->length) == 0) {
            *out = n->value;
            return 0;
        }
    }
    return -1;
}

int SGBinaryTupleList_FindAsString(SGBinary* out, const SGBinaryTupleList* list, const char* key) {
    if (!key) return -1;
    size_t len = std::strlen(key);
    if (len > UINT32_MAX) return -1;
    SGBinary k{reinterpret_cast<unsigned char*>(const_cast<char*>(key)),
               static_cast<uint32_t>(len)};
    return SGBinaryTupleList_Find(out, list, &k);
}

}  // extern "C"
