/* Arbitrary-precision integers: the dependency's big-number record and its temporaries pool,
 * with the library's own result conventions, Miller-Rabin round choice and random numbers. */
#ifndef SG_BIG_INTEGER_H
#define SG_BIG_INTEGER_H

#include "SGCryptoDefs.h"

SG_CRYPTO_EXTERN_C_BEGIN

/* The dependency's record itself, so callers need none of its headers. */
typedef struct bignum_st SGBigInteger;
/* A pool of temporaries; values taken from it belong to it and go with it. */
typedef struct bignum_ctx SGBigIntegerContext;

/* 0; 11 null out-pointer; 13 out of memory. */
int SGBigIntegerContext_New(SGBigIntegerContext** pool);
/* 0; null accepted. */
int SGBigIntegerContext_Free(SGBigIntegerContext* pool);
/* 0 with *number from the pool (null when the pool is exhausted); 11 null arguments. */
int SGBigIntegerContext_get(SGBigInteger** number, SGBigIntegerContext* pool);
/* The pool's frame marks: values taken after Start go back to the pool at End. */
int SGBigIntegerContext_Start(SGBigIntegerContext* pool);
int SGBigIntegerContext_End(SGBigIntegerContext* pool);

/* 0 with a new zero; 11 null out-pointer; 13 out of memory. */
int SGBigInteger_New(SGBigInteger** number);
/* 1 when a is zero, else 0. */
int SGBigInteger_isZero(const SGBigInteger* a);
int SGBigInteger_Zero(SGBigInteger* a);
/* Overwrites the value, then frees it; null accepted. */
int SGBigInteger_Free(SGBigInteger* a);
/* a = b: 0; 11 null arguments; 13 memory. */
int SGBigInteger_copy(SGBigInteger* a, const SGBigInteger* b);
/* *number = a new value from big-endian bytes: 0; 11 bad arguments; 13 memory (*number null). */
int SGBigInteger_NewAsBinary(SGBigInteger** number, const unsigned char* bytes, int length);
/* Minimal big-endian bytes of |a| (none for zero) into buffer when given, and their count into
 * *length when given. The caller sizes the buffer (SGBigInteger_GetNumberOfBytes). */
int SGBigInteger_ToBinary(unsigned char* buffer, unsigned int* length, const SGBigInteger* a);
/* |a| big-endian, left-padded with zeros to n bytes; longer values are written whole, so the
 * buffer holds max(n, byte length) bytes. Nothing is written for a null buffer. */
int SGBigInteger_ToNBinary(unsigned char* buffer, int n, const SGBigInteger* a);
/* a as a 32-bit word (meaningful below 2^31; a negative value as its two's complement). */
int SGBigInteger_ToWord(unsigned int* word, const SGBigInteger* a);
/* a = big-endian bytes: 0; -22 null a (or null bytes with a length); -1 memory. */
int SGBigInteger_FromBinary(SGBigInteger* a, const unsigned char* bytes, unsigned int length);
/* Decimal text and its NUL into buffer; *length: in, the buffer size; out, the text length.
 * 0; -1 when the buffer cannot hold text and NUL; 11 null length. A null buffer asks the size. */
int SGBigInteger_ToASCII(char* buffer, unsigned int* length, const SGBigInteger* a);
/* Decimal, or hexadecimal after "0x"/"0X", with an optional leading "-": 1 ok, 0 error. */
int SGBigInteger_FromASCII(SGBigInteger* a, const char* text);
/* As FromASCII, creating *a when it is null (and releasing what it created on error). */
int SGBigInteger_NewAsASCII(SGBigInteger** a, const char* text);
int SGBigInteger_dup(SGBigInteger** copy, const SGBigInteger* a);
/* "(%s)\n" with the decimal value, to standard output. */
int SGBigInteger_Print(const SGBigInteger* a);
/* The upper-case hexadecimal text and a newline, to standard output. */
int SGBigInteger_PrintAsHex(const SGBigInteger* a);
/* Lower-case hex: "-" when negative, "0" for zero, else two digits per byte from the most
 * significant non-zero byte; NUL-terminated. The buffer holds 2 * bytes + 2 characters. */
int SGBigInteger_ToHex(char* buffer, const SGBigInteger* a);

int SGBigInteger_isBitSet(const SGBigInteger* a, unsigned int n);
/* 0; 13 memory. */
int SGBigInteger_setBit(SGBigInteger* a, unsigned int n);
int SGBigInteger_clearBit(SGBigInteger* a, unsigned int n);
/* r = a * 2^n: 1 ok, 0 error. */
int SGBigInteger_leftshift(SGBigInteger* r, const SGBigInteger* a, int n);
/* r = |a| / 2^n with the sign of a: 0 ok, -1 error. */
int SGBigInteger_rightshift(SGBigInteger* r, const SGBigInteger* a, int n);
int SGBigInteger_isOne(const SGBigInteger* a);
/* The constant one, reset to 1 at every call. It belongs to the calling thread: callers neither
 * free it nor keep it. */
SGBigInteger* SGBigInteger_One(void);
/* 0; -1 memory. */
int SGBigInteger_set_word(SGBigInteger* a, unsigned int w);
/* Negative only when flag is non-zero and a is non-zero. */
void SGBigInteger_set_negative(SGBigInteger* a, int flag);
/* Magnitudes: the difference of the 32-bit word counts when they differ, else 1, -1 or 0. */
int SGBigInteger_ucmp(const SGBigInteger* a, const SGBigInteger* b);
/* Signed -1, 0, 1; a null operand counts as greater than a non-null one. */
int SGBigInteger_cmp(const SGBigInteger* a, const SGBigInteger* b);

/* ceil(bits/8) bytes from the LFSR, shaped by top (0: bit bits%8 of the first byte; -1:
 * nothing; else the two top bits) and bottom (odd): 0; 13 memory. */
int SGBigInteger_random(SGBigInteger* r, unsigned int bits, int top, int bottom);
/* Uniform in [0, range) from the process generator: 1 ok, 0 error. */
int SGBigInteger_randomInRange(SGBigInteger* r, const SGBigInteger* range);
int SGBigInteger_pseudoRandomInRange(SGBigInteger* r, const SGBigInteger* range);

/* A null pool uses the calling thread's own: 0 ok, 1 error. */
int SGBigInteger_gcd(SGBigInteger* r, const SGBigInteger* a, const SGBigInteger* b,
                     SGBigIntegerContext* pool);
/* The pool-taking operations accept a null pool (a temporary one is used). 1 ok, 0 error. */
int SGBigInteger_mul(SGBigInteger* r, const SGBigInteger* a, const SGBigInteger* b,
                     SGBigIntegerContext* pool);
int SGBigInteger_div(SGBigInteger* quotient, SGBigInteger* remainder, const SGBigInteger* a,
                     const SGBigInteger* d, SGBigIntegerContext* pool);
/* The remainder of the division, with the sign of a. */
int SGBigInteger_mod(SGBigInteger* r, const SGBigInteger* a, const SGBigInteger* m,
                     SGBigIntegerContext* pool);
/* 1 when the inverse exists, -1 otherwise. */
int SGBigInteger_mod_inverse(SGBigInteger* r, const SGBigInteger* a, const SGBigInteger* m,
                             SGBigIntegerContext* pool);
int SGBigInteger_exp(SGBigInteger* r, const SGBigInteger* a, const SGBigInteger* p,
                     SGBigIntegerContext* pool);
int SGBigInteger_mod_add(SGBigInteger* r, const SGBigInteger* a, const SGBigInteger* b,
                         const SGBigInteger* m, SGBigIntegerContext* pool);
int SGBigInteger_mod_sub(SGBigInteger* r, const SGBigInteger* a, const SGBigInteger* b,
                         const SGBigInteger* m, SGBigIntegerContext* pool);
int SGBigInteger_mod_exp(SGBigInteger* r, const SGBigInteger* a, const SGBigInteger* p,
                         const SGBigInteger* m, SGBigIntegerContext* pool);
int SGBigInteger_mod_mul(SGBigInteger* r, const SGBigInteger* a, const SGBigInteger* b,
                         const SGBigInteger* m, SGBigIntegerContext* pool);
int SGBigInteger_sqr(SGBigInteger* r, const SGBigInteger* a, SGBigIntegerContext* pool);
/* r = a + b: 1 when the signs of a and b agree, -1 when they differ, 0 on failure. */
int SGBigInteger_add(SGBigInteger* r, const SGBigInteger* a, const SGBigInteger* b);
/* r = |a| - |b|: 1 ok; 0 when |a| < |b| or memory is short. */
int SGBigInteger_usub(SGBigInteger* r, const SGBigInteger* a, const SGBigInteger* b);
/* r = a - b: 1 ok, 0 error. */
int SGBigInteger_sub(SGBigInteger* r, const SGBigInteger* a, const SGBigInteger* b);
/* a = a * w: 0; -1 memory. */
int SGBigInteger_mul_word(SGBigInteger* a, unsigned int w);
/* a = a + w: 0; 1 when w is 0 (a unchanged); -1 memory. */
int SGBigInteger_add_word(SGBigInteger* a, unsigned int w);
/* a = a - w: 0; -1 memory. */
int SGBigInteger_sub_word(SGBigInteger* a, unsigned int w);
/* |a| mod w; 0xFFFFFFFF when w is 0. */
unsigned int SGBigInteger_mod_word(const SGBigInteger* a, unsigned int w);
/* a = a / w with the remainder as the result; 0xFFFFFFFF when w is 0. */
unsigned int SGBigInteger_div_word(SGBigInteger* a, unsigned int w);

/* Miller-Rabin with random witnesses, rounds by bit length (2048 bits and more: 2; 1024-2047:
 * 4; 512-1023: 7; below: 20): 1 probably prime, 0 composite, -1 error. */
int SGBigInteger_isPrime(const SGBigInteger* a);
/* A random prime of exactly bits bits, its two top bits set: 1 ok, 0 error. */
int SGBigInteger_GeneratePrime(SGBigInteger* r, int bits);
/* -1 when one of the small table primes below a divides it, else 0. */
int SGBigInteger_TrivialDivide(const SGBigInteger* a);
/* Bit and byte length of |a| (0 for zero). */
int SGBigInteger_GetNumberOfBits(const SGBigInteger* a);
int SGBigInteger_GetNumberOfBytes(const SGBigInteger* a);

SG_CRYPTO_EXTERN_C_END

#endif
