/* The key agreement and record protection of the secure channel (SGSecureFilter.h), driven step
 * by step through SGKeyExchange.h.
 *
 * Handshake: the client sends PXConnectionRequest {cipher, digest}; the server answers with its
 * certificate; the client sends PXConnectionResponse {RSA PKCS #1 v1.5 encryption of a random R
 * under the certificate's key, H(R)}; the server answers with a random S encrypted in CBC mode
 * (PKCS #7 padding) under K = H(R) and IV = H(H(R)). L, the cipher's block size, is the length
 * of R, S and of every key and IV; every digest is cut to its first L bytes.
 *
 * Keys: D0 = H(R || S), D(i) = H(the full digest D(i-1)) for i = 1 to 5. The client sends with
 * MAC key D0, cipher key D1 and IV D2; the server with D3, D4 and D5.
 *
 * Record: DER PXCipher {majorVersion 1, minorVersion 0, sequence, cipher, mac}: cipher = the
 * plaintext in CBC mode with PKCS #7 padding under the sender's key and IV, mac = HMAC with the
 * agreed digest and the sender's MAC key over the plaintext, sequence = the sender's record count
 * from 0. The receiver takes records with sequences 0, 1, 2, ... only, and releases a plaintext
 * only after its MAC matched.
 *
 * Limits of the wire format, kept because peers rely on it:
 *   - every record of a direction is encrypted under the same IV and the MAC is over the
 *     plaintext alone, in the clear: equal plaintexts give equal cipher and mac fields, so an
 *     observer sees when a message repeats;
 *   - the MAC does not cover the sequence number or the versions: order and replay are caught
 *     only by the receiver's count of the sequence fields, and a dropped record makes every
 *     later one fail;
 *   - S travels under K = H(R), and the response carries H(R) in the clear: S gives each
 *     session fresh keys but no secrecy of its own; the keys are as secret as R alone;
 *   - the handshake itself is not authenticated beyond the server's RSA key: nothing binds the
 *     request (cipher and digest) to the keys, so the peers do not detect a request changed on
 *     the way to another cipher and digest that the server also accepts.
 *
 * Accepted parameters: ciphers whose block and key are both 16 bytes (ARIA-128, SEED, AES-128,
 * LEA-128) in CBC mode, and digests of 16 bytes or more (SHA-1, SHA-256, SHA-384, SHA-512).
 * The client refuses a server certificate whose key is not RSA of at least 2048 bits, that is
 * outside its validity period, or whose key usage omits keyEncipherment. */
#ifndef PASK_KEY_H
#define PASK_KEY_H

#include "SGBaseDefs.h"
#include "SGBinary.h"
#include "SGCipher.h"

SG_EXTERN_C_BEGIN

struct SGCryptoHandlerKey;

/* Result codes. */
enum {
    PASKKEY_ERR_ARGUMENT = 10001,    /* null context or argument */
    PASKKEY_ERR_MEMORY = 10002,      /* memory */
    PASKKEY_ERR_KEY_HANDLE = 10013,  /* key handle not 24 bytes, or of a type without a key */
    PASKKEY_ERR_REQUEST = 10720,     /* request stage */
    PASKKEY_ERR_CERTIFICATE = 10721, /* certificate or response stage */
    PASKKEY_ERR_SECRET = 10722,      /* secret stage */
    PASKKEY_ERR_MAC = 10725,         /* record MAC or sequence mismatch */
    PASKKEY_ERR_ENCRYPT = 10726,     /* record sealing, or no keys yet */
    PASKKEY_ERR_DECRYPT = 10727,     /* record decryption, or no keys yet */
    PASKKEY_ERR_VERSION = 222        /* record majorVersion other than 1 */
};

enum { PASKKEY_ROLE_CLIENT = 0, PASKKEY_ROLE_SERVER = 1 };

/* Steps: the client runs 0 to 2, the server 0 to 3; step then equals the count (3 or 4) once
 * the keys are set, and PASKKEY_STEP_FAILED after any failure, which refuses every later call. */
#define PASKKEY_CLIENT_STEPS 3
#define PASKKEY_SERVER_STEPS 4
#define PASKKEY_STEP_FAILED (-1)

/* The client's defaults: ARIA-128 (cipher id 4), SHA-256 (digest id 5), CBC. */
#define PASKKEY_DEFAULT_CIPHER 4
#define PASKKEY_DEFAULT_DIGEST 5

/* The size of a server key handle (the decryption form of SGCryptoHandlerKey). */
#define PASKKEY_KEY_HANDLE_SIZE 24

typedef struct PaskKeyContext {
    int role; /* 1 server, 0 client */
    int step;
    int digestId;
    int cipherId;
    int mode;
    SGCipherInfo info; /* its block size is L */
    uint64_t counter;  /* sequence number of the next record sent */
    SGBinary rs;       /* R || S */
    SGBinary r;
    SGBinary d5, d4, d3; /* server IV, key, MAC key */
    SGBinary s;
    SGBinary d2, d1, d0;                        /* client IV, key, MAC key */
    SGBinary certificate;                       /* server: its certificate DER */
    const struct SGCryptoHandlerKey* keyHandle; /* server: the key handle, kept by reference */
    uint64_t received; /* sequence number expected of the next record read */
} PaskKeyContext;

/* The input record of a step: value is the step's input. */
typedef struct PaskKeyInput {
    SGBinary unused;
    SGBinary value;
} PaskKeyInput;

/* Zeroes the context and sets the role: a client with the cipher and digest ids (mode CBC), a
 * server with nothing else (the client's request chooses). 0 or 10001. */
int PaskKey_Init(PaskKeyContext* context, int isServer, int cipherId, int digestId);
/* Non-zero while a handshake step is pending (not after a failure). */
int PaskKey_HasMoreOperation(const PaskKeyContext* context);
/* Runs the next step. outputs: an empty list head; a step that answers the peer leaves the body
 * to send as its first element. input->value is the step's input:
 *   client 0: none -> the request (10720)
 *   client 1: the server certificate -> the response (10721)
 *   client 2: the encrypted S -> nothing; keys set (10722)
 *   server 0: the server certificate DER, copied (10001 when empty)
 *   server 1: the key handle, 24 bytes, type 1 or 3, kept by reference (10013)
 *   server 2: the request -> the certificate (10721)
 *   server 3: the response -> the encrypted S; keys set (10722)
 * Any failure wipes every secret of the context and ends the handshake; a step after a failure
 * or past the last one answers 10001. */
int PaskKey_NextOperation(PaskKeyContext* context, SGBinaryList* outputs,
                          const PaskKeyInput* input);
/* Seals plaintext into record (an empty record on entry) with the sender's keys and the next
 * sequence number. 0; 10001; 10726 before the keys are set, or when sealing fails (nothing
 * written; the keys are wiped). */
int PaskKey_Encrypt(PaskKeyContext* context, SGBinary* record, const SGBinary* plaintext);
/* Opens a record with the peer's keys: plaintext receives a new buffer of exactly the plaintext's
 * length (none for an empty plaintext); it is left as it was on failure. 0; 10001; 20902 not a
 * PXCipher; 222 majorVersion other than 1; 10725 a sequence other than the one expected (any
 * other value, encoding or length), a mac that is not the HMAC length or does not match; 10727
 * decryption failure, or before the keys are set. A failure wipes the keys: the context takes
 * no further records. */
int PaskKey_Decrypt(PaskKeyContext* context, SGBinary* plaintext, const SGBinary* record);
/* Derives D0 to D5 from R and S (both L bytes) held in the context. 0, 10001, 10002, or the
 * digest's code. */
int PaskKey_KDF(PaskKeyContext* context);
/* Wipes and releases every buffer and zeroes the whole context. */
int PaskKeyContext_Final(PaskKeyContext* context);

SG_EXTERN_C_END

#endif
