/* Message digests by numeric id, in one call or through a digest context. */
#ifndef SG_DIGEST_H
#define SG_DIGEST_H

#include "SGCrypto.h"

SG_CRYPTO_EXTERN_C_BEGIN

/* Digest ids, shared across the system. */
enum {
    SG_DIGEST_MD5 = 2,
    SG_DIGEST_SHA1 = 3,
    SG_DIGEST_SHA224 = 4,
    SG_DIGEST_SHA256 = 5,
    SG_DIGEST_SHA384 = 6,
    SG_DIGEST_SHA512 = 7,
    SG_DIGEST_HAS160 = 8
};

/* Algorithm families stored in a context. */
enum { SG_DIGEST_FAMILY_SHA = 1, SG_DIGEST_FAMILY_HAS160 = 2, SG_DIGEST_FAMILY_MD5 = 3 };

/* Results: 0; 11 missing context or out-pointer; 13 memory; 201 missing output (or context for
 * Update); 202 unknown id or uninitialised context; the SHA family's 1 null data, 2 message too
 * long, 3 input after the result, 4 bad selector. */
enum {
    SG_DIGEST_ERR_ARGUMENT = 201,
    SG_DIGEST_ERR_ALGORITHM = 202,
    SG_DIGEST_SHA_NULL = 1,
    SG_DIGEST_SHA_INPUT_TOO_LONG = 2,
    SG_DIGEST_SHA_STATE_ERROR = 3,
    SG_DIGEST_SHA_BAD_PARAM = 4
};

/* 4120 bytes; callers outside the library allocate and zero this size. */
typedef struct SGDigestContext {
    int digestId;
    int family;  /* 1, 2, 3, or 202 after an initialisation with an unknown id */
    void* state; /* zero-filled heap block owned by the context */
    SGCryptoStructureMarker marker;
} SGDigestContext;

int SGDigestContext_New(SGDigestContext** context, int digestId);
int SGDigestContext_Init(SGDigestContext* context, int digestId);
int SGDigestContext_Duplicate(SGDigestContext* destination, const SGDigestContext* source);
int SGDigestContext_Clear(SGDigestContext* context);
int SGDigestContext_Free(SGDigestContext* context);
/* The sizes in bytes for ids 2 to 8; 202 for any other id. */
int SGDigest_GetBlockSize(int digestId);
int SGDigest_GetDigestSize(int digestId);
int SGDigest(unsigned char* output, int digestId, const unsigned char* data, uint32_t length);
int SGDigest_Init(SGDigestContext* context);
int SGDigest_Update(SGDigestContext* context, const unsigned char* data, uint32_t length);
int SGDigest_Final(SGDigestContext* context, unsigned char* output);

/* The same without the validated-module hand-over, for the library's own use. */
int _SGDigestContext_Init(SGDigestContext* context, int digestId);
int _SGDigestContext_Clear(SGDigestContext* context);
int _SGDigest_Init(SGDigestContext* context);
int _SGDigest_Update(SGDigestContext* context, const unsigned char* data, uint32_t length);
int _SGDigest_Final(SGDigestContext* context, unsigned char* output);
int _SGDigest(unsigned char* output, int digestId, const unsigned char* data, uint32_t length);

/* HAS-160 in one call. */
int SGHAS160(unsigned char* output, const unsigned char* data, uint32_t length);

SG_CRYPTO_EXTERN_C_END

#endif
