/* The SP 800-90A Hash_DRBG over SHA-1, SHA-224, SHA-256, SHA-384 or SHA-512. */
#ifndef SG_DRBG_H
#define SG_DRBG_H

#include "SGCryptoDefs.h"

SG_CRYPTO_EXTERN_C_BEGIN

enum {
    SG_DRBG_ERR_ARGUMENT = 301,      /* null context, parameter or output */
    SG_DRBG_ERR_DIGEST = 302,        /* digest id outside 3 to 7 */
    SG_DRBG_ERR_STATE = 303,         /* not produced by the library */
    SG_DRBG_ERR_STRENGTH = 304,      /* instantiation strength above the digest's highest */
    SG_DRBG_ERR_PREDICTION = 305,    /* prediction resistance from an instance without it */
    SG_DRBG_ERR_GEN_STRENGTH = 306,  /* generation strength above the instance strength */
    SG_DRBG_ERR_TOO_MANY_BITS = 307, /* more than 65,536 bits in one call */
    SG_DRBG_ERR_NO_ENTROPY = 308     /* every operating-system entropy source failed */
};

enum {
    SG_DRBG_STRENGTH_HIGHEST = 0xFFFF,
    SG_DRBG_PREDICTION_RESISTANCE = 1,    /* generation: requested */
    SG_DRBG_NO_PREDICTION_RESISTANCE = 2, /* instantiation: none */
    SG_DRBG_MAX_BYTES = 8192,
    SG_DRBG_RESEED_INTERVAL = 65536
};

/* 2084 bytes, allocated by SGDRBGContext_New. */
typedef struct SGDRBGContext {
    int reserved0;
    int digestId;
    unsigned char reserved1[8];
    int stateWord; /* never set by the library */
    unsigned char V[1024];
    unsigned char C[1024];
    int reseedCounter;
    int securityStrength;
    int seedLength; /* bits */
    int predictionResistance;
} SGDRBGContext;

/* 104 bytes, caller-owned and zeroed by the caller. */
typedef struct SGDRBGParameter {
    const unsigned char* entropy; /* null: collected from the system */
    uint32_t entropyLength;
    int digestId;
    int strength;             /* for instantiation; 0xFFFF = the digest's highest */
    int predictionResistance; /* for instantiation; 2 = none */
    const unsigned char* nonce;
    uint32_t nonceLength;
    const unsigned char* personalization;
    uint32_t personalizationLength;
    int generateStrength;             /* 0xFFFF = the digest's highest */
    int generatePredictionResistance; /* 1 = requested */
    const unsigned char* additionalInput;
    uint32_t additionalInputLength;
    const unsigned char* reseedAdditionalInput;
    uint32_t reseedAdditionalInputLength;
    unsigned char reserved[8];
} SGDRBGParameter;

int SGDRBGContext_New(SGDRBGContext** context);
int SGDRBGContext_Free(SGDRBGContext* context);
int SGDRBG_Instantiation(SGDRBGContext* context, const SGDRBGParameter* parameter);
int SGDRBG_GenerateRandom(unsigned char* output, SGDRBGContext* context, uint32_t byteCount,
                          const SGDRBGParameter* parameter);
int SGDRBG_Reseed(SGDRBGContext* context, const SGDRBGParameter* parameter);

/* The highest security strength and seedlen (bits) of a digest; 302 for another id. */
int SGDRBGHash_GetStrengthAndSeedLength(int digestId, int* strength, int* seedLength);

SG_CRYPTO_EXTERN_C_END

#endif
