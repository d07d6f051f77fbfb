/* HMAC (RFC 2104) over any digest of the library. */
#ifndef SG_HMAC_H
#define SG_HMAC_H

#include "SGDigest.h"

SG_CRYPTO_EXTERN_C_BEGIN

enum {
    SG_HMAC_ERR_ARGUMENT = 251, /* null argument (or null MAC output in Final) */
    SG_HMAC_ERR_ALGORITHM = 252 /* unknown digest id */
};

/* 12608 bytes, caller-owned. */
typedef struct SGHMACContext {
    int blockSize;
    int digestSize;
    unsigned char innerPad[128]; /* prepared key ^ 0x36 over the block, 0x36 beyond */
    unsigned char outerPad[128]; /* prepared key ^ 0x5C over the block, 0x5C beyond */
    SGDigestContext inner;
    SGDigestContext outer;
    SGCryptoStructureMarker marker;
} SGHMACContext;

/* A key length of 0 with a non-null key is accepted. */
int SGHMAC_Init(SGHMACContext* context, int digestId, const unsigned char* key, uint32_t keyLength);
int SGHMAC_Update(SGHMACContext* context, const unsigned char* data, uint32_t length);
/* Writes the digest size to macLength, then the MAC when mac is non-null (251 otherwise). One MAC
 * per Init. */
int SGHMAC_Final(SGHMACContext* context, unsigned char* mac, uint32_t* macLength);
/* Wipes the key pads and releases and wipes both digest states; a null context is ignored. */
int SGHMACContext_Clear(SGHMACContext* context);
int SGHMAC(unsigned char* mac, uint32_t* macLength, int digestId, const unsigned char* data,
           uint32_t dataLength, const unsigned char* key, uint32_t keyLength);

SG_CRYPTO_EXTERN_C_END

#endif
