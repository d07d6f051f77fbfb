/* Upper-case hexadecimal text, and two console debug helpers that print beside it. */
#ifndef SG_HEX_H
#define SG_HEX_H

#include "SGBaseDefs.h"

SG_EXTERN_C_BEGIN

/* Text that is not pairs of hex digits (an odd digit count or another character). */
#define SG_HEX_ERR_BAD_TEXT 1004

/* Writes 2 x count upper-case digits and a NUL into out. 1003 when capacity is below
 * 2 x count + 1 (out then holds an empty string), 1001 for a missing argument. */
int SGHex_Encode(char* out, uint32_t capacity, const void* bytes, uint32_t count);

/* Decodes pairs of hex digits (either case; spaces between pairs are skipped) into out, which
 * has room for half the text's length, and sets *count to the bytes written. 1001 for a missing
 * argument, SG_HEX_ERR_BAD_TEXT for malformed text (count 0, out untouched). */
int SGHex_Decode(unsigned char* out, int* count, const char* text);

/* Prints "[file:line]" and the bytes in hex as one line to standard output; 1002 when its
 * buffer cannot be allocated. Not in the table. */
int SGBase_DebugHex(const char* file, uint32_t line, const void* bytes, uint32_t count);

/* Prints "[file:line]" and the formatted message (cut at 10240 bytes) as one line to standard
 * output. Not in the table. */
int SGBase_Debug(const char* file, uint32_t line, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

SG_EXTERN_C_END

#endif
