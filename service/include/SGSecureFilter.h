/* The secure channel: a filter of the message channel's filter chain (SGSnowChannel.h) that
 * protects every message between a client and a server. Service slots 3 and 4.
 *
 * The handshake runs directly on the channel's transport, outside its length framing, inside the
 * client's first write and the server's first read (so the client writes first and the server
 * reads first). Four messages, each a type byte, a 4-byte big-endian body length and the body:
 *   0xE0 client -> server  DER PXConnectionRequest
 *   0xE1 server -> client  DER certificate of the server
 *   0xE2 client -> server  DER PXConnectionResponse
 *   0xE3 server -> client  the server secret, encrypted
 * A body must be 1 to SG_SECURE_FILTER_MAX_BODY bytes and is read as its bytes arrive; a wrong
 * type, an empty or longer body, a failed step or a failed transport ends the handshake at once.
 * After it every channel message is one record, framed by the final filter (PaskKey.h for the
 * record, the key agreement and the limits of the wire format).
 *
 * What the channel does not check: the client takes the server certificate's RSA key after
 * checking its size (at least 2048 bits), validity period and key usage, but does not check that
 * the certificate chains to a trusted root (the roots of the deployed servers are not known
 * here): anyone who can stand between the peers with a certificate of their own can read and
 * write the channel. The caller who needs more must check the certificate itself.
 *
 * Results: a read answers the plaintext length and a write the result of the chain's write (0
 * over a socket) only on success. A failure answers -1, leaves the read's output empty, sends
 * nothing more, wipes the keys and keeps its code as the chain's error, after which the chain
 * refuses every read and write:
 *   10720 the request, 10721 the certificate or response stage (also a first message that is not
 *   0xE0 at the server), 10722 the secret stage (also a key handle that does not match the
 *   certificate), 10725 a record's MAC or sequence, 10726 sealing a record, or a server writing
 *   before its handshake, 10727 decrypting a record, or a client reading before its handshake,
 *   222 a record version, 20902 a record that is not a PXCipher, -1 a failed transport read or
 *   write of a record.
 *
 * A filter belongs to one channel and one thread at a time; nothing is locked. */
#ifndef SG_SECURE_FILTER_H
#define SG_SECURE_FILTER_H

#include "SGBaseDefs.h"
#include "SGBinary.h"
#include "SGSnowChannel.h"

SG_EXTERN_C_BEGIN

/* The largest handshake body taken from the peer. */
#define SG_SECURE_FILTER_MAX_BODY (64u * 1024u)

/* Handshake message types. */
enum {
    SG_SECURE_FILTER_REQUEST = 0xE0,
    SG_SECURE_FILTER_CERTIFICATE = 0xE1,
    SG_SECURE_FILTER_RESPONSE = 0xE2,
    SG_SECURE_FILTER_SECRET = 0xE3
};

/* Sides of handShake. */
enum { SG_SECURE_FILTER_CLIENT = 0, SG_SECURE_FILTER_SERVER = 1 };

/* Fills the filter record for the client side (ARIA-128-CBC, SHA-256). 0; 10001 null filter;
 * 10002 memory (the record is then left as it was). */
int SGSecureFilter_GetClient(SGSnowChannelFilter* filter);
/* Fills the filter record for the server side, with the server certificate (DER, copied) and the
 * private-key handle: an SGCryptoHandlerKey in its decryption form, type 1 (callback) or 3 (RSA
 * key in memory), given as 24 bytes (data and length 24), which must stay valid until the filter
 * is closed. 0; 10001 null filter or empty certificate; 10002 memory; 10013 a key handle that is
 * not 24 bytes or of another type (the record is then left as it was). */
int SGSecureFilter_GetServer(SGSnowChannelFilter* filter, const SGBinary* serverCertificate,
                             const SGBinary* keyHandle);

/* The filter's functions, as the constructors put them into the record. */
int filter_read(SGBinary* message, SGSimpleFilterChain* chain);
int filter_write(SGBinary* message, SGSimpleFilterChain* chain);
/* Wipes and frees the key exchange and the holder and clears the node's context; 0. */
int closeFilter(SGSnowChannelNode* node);
/* Runs the pending handshake of the node being called on its transport, as the client (side 0)
 * or the server (side 1): 0 when no step is pending or all succeeded, else the code. */
int handShake(SGSimpleFilterChain* chain, int side);

SG_EXTERN_C_END

#endif
