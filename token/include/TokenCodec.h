// Base64, hexadecimal and digest helpers of the token manager over the base and crypto
// libraries, with allocated outputs. Codes: 0; 100 no memory (Base64, Digest); 101 file not
// opened, 102 file not read, 200 digest size not positive (Digest); -2 no memory (Hex); any other
// value is the library's code passed on. Every output is set (null, 0) on entry.
#ifndef TOKEN_CODEC_H
#define TOKEN_CODEC_H

#include <string>

#include "TokenDefs.h"

enum {
    TOKEN_CODEC_ERR_MEMORY = 100,
    TOKEN_CODEC_ERR_OPEN = 101,
    TOKEN_CODEC_ERR_READ = 102,
    TOKEN_CODEC_ERR_DIGEST_SIZE = 200,
    TOKEN_HEX_ERR_MEMORY = -2
};

class TOKEN_EXPORT Base64 {
  public:
    // NUL-terminated text without line breaks; released with Base64::free.
    static int encode(char** out, unsigned int* outLength, const unsigned char* data,
                      unsigned long length);
    // Trailing white space of the text is ignored; released with Base64::free.
    static int decode(unsigned char** out, unsigned int* outLength, const char* text);
    static void free(void* pointer);
};

class TOKEN_EXPORT Hex {
  public:
    // Into the caller's buffer of at least 2 x length + 1 bytes; lower-case digits on request.
    static int encode(char* out, const unsigned char* data, unsigned long length, bool lowerCase);
    // Upper-case digits in a new buffer released with Hex::free (the flag is not used).
    static int encode(char** out, const unsigned char* data, unsigned long length, bool lowerCase);
    // Upper-case text; empty when memory is short (the flag is not used).
    static std::string encode(const unsigned char* data, unsigned long length, bool lowerCase);
    // Into a new buffer released with Hex::free.
    static int decode(unsigned char** out, unsigned long* outLength, const char* text);
    // Into the caller's buffer of at least half the text's length.
    static int decode(unsigned char* out, unsigned long* outLength, const char* text);
    static void free(void* pointer);
};

class TOKEN_EXPORT Digest {
  public:
    // SHA-256 in a new 32-byte buffer released with Digest::free.
    static int digest(const char* data, long length, unsigned char** out, long* outLength);
    // SHA-256, then count times SHA-256 of the previous digest.
    static int digestEndless(const char* data, long length, unsigned char** out, long* outLength,
                             int count);
    // MD5 (2), SHA-1 (3) or SHA-256 (5); any other id gives the digest library's 202.
    static int digestData(const char* data, long length, int algorithm, unsigned char** out,
                          long* outLength);
    static int digestFile(const std::wstring& path, int algorithm, unsigned char** out,
                          long* outLength);
    static void free(void* pointer);
};

#endif
