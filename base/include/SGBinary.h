/* The byte buffer passed between all layers, and lists of buffers and of key/value pairs.
 * Status: 0 ok, 1 missing argument, 2 exhausted memory (SGBinary_Init: -1, -2;
 * list searches: -1 when nothing matches). */
#ifndef SG_BINARY_H
#define SG_BINARY_H

#include "SGBaseDefs.h"

SG_EXTERN_C_BEGIN

typedef struct SGBinary {
    unsigned char* data; /* owned heap buffer, null when empty */
    uint32_t length;
} SGBinary;

typedef struct SGBinaryList {
    struct SGBinaryList* next;
    struct SGBinaryList* tail; /* head only: last node, null while the list is empty */
    SGBinary value;
} SGBinaryList;

typedef struct SGBinaryTupleList {
    struct SGBinaryTupleList* next;
    struct SGBinaryTupleList* tail; /* head only */
    SGBinary key;
    SGBinary value;
} SGBinaryTupleList;

SGBinary* SGBinary_New(uint32_t size);
int SGBinary_Init(SGBinary* bin, uint32_t size);
int SGBinary_Reset(SGBinary* bin);
int SGBinary_Cleanse(SGBinary* bin);
int SGBinary_Free(SGBinary* bin);
SGBinary* SGBinary_Duplicate(const SGBinary* src);
int SGBinary_Copy(SGBinary* dst, const SGBinary* src);
int SGBinary_Set(SGBinary* bin, const void* bytes, uint32_t length);
int SGBinary_SetString(SGBinary* bin, const char* text);
int SGBinary_ToString(char** out, const SGBinary* bin);
int SGBinary_Add(SGBinary* bin, const void* bytes, uint32_t length);
int SGBinary_AddString(SGBinary* bin, const char* text);
int SGBinary_Cmp(const SGBinary* a, const SGBinary* b);
int SGBinary_Reverse(SGBinary* dst, const SGBinary* src);

SGBinaryList* SGBinaryList_New(void);
int SGBinaryList_Reset(SGBinaryList* list);
int SGBinaryList_Free(SGBinaryList* list);
int SGBinaryList_Copy(SGBinaryList* dst, const SGBinaryList* src);
int SGBinaryList_Add(SGBinaryList* list, const SGBinary* value);

SGBinaryTupleList* SGBinaryTupleList_New(void);
int SGBinaryTupleList_Reset(SGBinaryTupleList* list);
int SGBinaryTupleList_Free(SGBinaryTupleList* list);
int SGBinaryTupleList_Find(SGBinary* out, const SGBinaryTupleList* list, const SGBinary* key);
int SGBinaryTupleList_FindAsString(SGBinary* out, const SGBinaryTupleList* list, const char* key);
int SGBinaryTupleList_Add(SGBinaryTupleList* list, const SGBinary* key, const SGBinary* value);

SG_EXTERN_C_END

#endif
