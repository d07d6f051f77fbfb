/* Base64 of RFC 4648 (standard alphabet, "=" padding, no line breaks). */
#ifndef SG_BASE64_H
#define SG_BASE64_H

#include "SGBaseDefs.h"

SG_EXTERN_C_BEGIN

enum {
    SG_BASE64_ERR_ARGUMENT = 8001, /* missing output or input */
    SG_BASE64_ERR_INPUT = 8002,    /* length not a multiple of 4, or a character outside */
    SG_BASE64_ERR_MEMORY = 8003
};

/* Allocates and writes the NUL-terminated encoding; *outLength (when given) gets its number of
 * characters. Release with SGBase64_Free. */
int SGBase64_Encode(char** out, uint32_t* outLength, const void* bytes, uint32_t length);

/* Decodes length characters of text into a new buffer with a NUL after the decoded bytes;
 * *outLength (when given) gets the number of bytes. A group holding "=" ends the decoding. */
int SGBase64_Decode(char** out, uint32_t* outLength, const char* text, uint32_t length);

/* Frees an output of the two functions above; null is accepted. Returns 0. */
int SGBase64_Free(void* p);

SG_EXTERN_C_END

#endif
