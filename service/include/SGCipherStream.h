/* Cipher streams: a stage in a chain of SGStreams that encrypts (input stage) or decrypts (output
 * stage) the bytes passing through it with a block cipher in CBC mode and PKCS #7 padding, a
 * chunk at a time, so that contents of any size pass without being held in memory. The streaming
 * PKCS #7 enveloping reads its content through an input stage; the streaming opening writes the
 * encrypted content into an output stage. Not in the Service table.
 *
 * The input stage's read delivers exactly what is asked (bytes produced beyond it wait for the
 * next read) and its available count is the padded length still to come, for any block size.
 * The output stage takes writes of any size; the last block waits for the flush, which checks
 * the padding (410) and writes the plaintext without it. */
#ifndef SG_CIPHER_STREAM_H
#define SG_CIPHER_STREAM_H

#include <stdint.h>

#include "SGBaseDefs.h"
#include "SGBinary.h"
#include "SGCipher.h"
#include "SGStream.h"

SG_EXTERN_C_BEGIN

enum { SG_CIPHER_STREAM_CHUNK = 0x8000 };

/* The stage state, the stream's user data (allocated zeroed by the generating operation). */
typedef struct SGCipherStream {
    int direction;   /* 1 encrypt (input stages), 0 decrypt (output stages) */
    int blockLength; /* the cipher's block length */
    SGCipherContext context;
    SGCipherParameter parameter; /* CBC, the IV as given, PKCS #7 */
    SGBinary chunk;              /* the work buffer: chunk size plus two blocks */
    SGBinary pending;            /* produced, not yet delivered (input) or held back (output) */
    SGStream* stream;            /* the stream that carries this stage */
    uint64_t sourceAvailable;    /* the source's available count at set-up (input stages) */
    uint64_t chunkSize;          /* 0x8000 unless given */
    int finished;                /* input: the source is exhausted and the padding produced */
    int reserved;
} SGCipherStream;

/* An encrypting stage reading from source; encrypt must be 1 (a decrypting input stage is
 * refused with 10001). cipherId: the crypto layer's. The key and IV are copied.
 * 0; 10001 missing stream, source, key or IV, encrypt not 1, an IV longer than 32 bytes, a
 * chunk size above 16 MiB; 10002 memory; the cipher layer's set-up codes (403 key length, 412
 * IV length, ...), reported here rather than at the first read. */
int SGCipherStream_GenerateForInput(SGStream* stream, SGStream* source, int encrypt,
                                    uint64_t chunkSize, int cipherId, const SGBinary* key,
                                    const SGBinary* iv);
/* A decrypting stage writing to destination; encrypt must be 0. As above. */
int SGCipherStream_GenerateForOutput(SGStream* stream, SGStream* destination, int encrypt,
                                     uint64_t chunkSize, int cipherId, const SGBinary* key,
                                     const SGBinary* iv);
/* Releases the state of a stream made above (wiping keys and buffers) and detaches it from the
 * stream; 0, also for a null stream or one without state. */
int SGCipherStream_Reset(SGStream* stream);

SG_EXTERN_C_END

#endif
